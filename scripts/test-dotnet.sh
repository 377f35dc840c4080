#!/usr/bin/env bash
# The .NET binding (dotnet/, docs/dotnet.md). First with Debian's Mono: checks that
# the generated native layer and result table are current with the headers,
# builds the assembly (target dotnet) and the library, the scripted XSRClient
# double and xsr-sim of the release build, compiles the test program with mcs
# and runs it with mono (the tables against the C compiler, every family
# against xsr-sim, and in a child process against the double), then runs the
# C# example against a fresh xsr-sim. The test program's output ends with its
# "N passed, N failed" line.
# Then with the .NET SDK, restoring from local folders only (the machine's
# /opt/nuget/packages with xunit, and build/nuget, which
# `scripts/install-deps.sh --dotnet` fills once with the reference packs the
# library's targets need): the same cases under xunit (`dotnet test`, its own
# summary), the package ORQExtClient (`dotnet pack` with the native libraries
# of this build and of the two Windows builds: `scripts/windows-test.sh --dlls`
# builds only those DLLs, in the folders the windows step uses, so nothing is
# built twice), and a new console project in a scratch folder that adds the
# package from a local folder, built and run against xsr-sim on .NET and, with
# the package's netstandard2.0 assembly and native libraries, on Mono.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/install-deps.sh --dotnet

build=${ORQEXT_BUILD_DIR:-build/release}
# Configured every time: a build configured before Mono was installed finds
# mcs now and gains its dotnet target.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target ORQExtClient XSRClient XSRClientDouble xsr-sim dotnet

python3 dotnet/generate.py --check
version=$(sed -n 's/^project(ORQExtClient VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
grep -q "<Version>$version</Version>" dotnet/ORQExtClient.Net.csproj ||
  { echo "test-dotnet: dotnet/ORQExtClient.Net.csproj does not carry version $version" >&2; exit 1; }

out=$build/dotnet
# The double's C face (shared with the Python tests), linked to the double.
g++ -std=c++17 -Wall -Wextra -shared -fPIC -I . python/tests/double_control.cpp -o "$out/libdouble_control.so" \
  -L "$build/double" -lXSRClient
mcs -nologo -langversion:7 -unsafe -warnaserror+ -r:"$out/ORQExtClient.Net.dll" -r:System.Core \
  -out:"$out/OrqTests.exe" dotnet/tests/OrqTests.cs dotnet/tests/Cases.cs
mcs -nologo -langversion:7 -warnaserror+ -r:"$out/ORQExtClient.Net.dll" -r:System.Core \
  -out:"$out/SegmentClassify.exe" examples/SegmentClassify.cs

# The library by its SONAME (ORQExtClient.Net.dll.config) from the build tree.
export LD_LIBRARY_PATH="$PWD/$build${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
echo "==== the C# example against xsr-sim ===="
sh tests/e2e/run_example.sh "$build/sim/xsr-sim" tests/e2e/csharp_example.expected mono "$out/SegmentClassify.exe"
echo "==== the .NET binding's tests (Mono) ===="
mono --debug "$out/OrqTests.exe" "$PWD" "$PWD/$build"

if ! command -v dotnet >/dev/null; then
  echo "dotnet: .NET SDK part SKIPPED: no dotnet on this machine (the xunit tests, the package and its consumer did not run)"
  exit 0
fi
if ! [ -d /opt/nuget/packages/xunit ]; then
  echo "dotnet: .NET SDK part SKIPPED: no local NuGet folder with xunit (/opt/nuget/packages) to restore from offline (the xunit tests, the package and its consumer did not run)"
  exit 0
fi
export DOTNET_CLI_TELEMETRY_OPTOUT=1 DOTNET_NOLOGO=1 DOTNET_SKIP_FIRST_TIME_EXPERIENCE=1
export NUGET_PACKAGES=$PWD/build/nuget
sdk=$PWD/build/dotnet-sdk
local_sources=(--source /opt/nuget/packages)

echo "==== the .NET binding's tests (xunit, dotnet test) ===="
dotnet restore dotnet/tests/ORQExtClient.Tests.csproj "${local_sources[@]}" --artifacts-path "$sdk" >/dev/null
ORQ_REPO=$PWD ORQ_BUILD=$PWD/$build LD_LIBRARY_PATH="$PWD/$build:$PWD/$out" \
  dotnet test dotnet/tests/ORQExtClient.Tests.csproj --no-restore --artifacts-path "$sdk" \
  --logger "console;verbosity=normal"

echo "==== the package ORQExtClient ===="
scripts/windows-test.sh --dlls
pkg=$sdk/package
rm -rf "$pkg"
# The native libraries as installed (component runtime, stripped); on Linux
# with RUNPATH $ORIGIN, so that libORQExtClient.so.1 finds libXSRClient.so
# beside it.
rm -rf "$sdk/stage"
cmake --install "$build" --prefix "$sdk/stage/linux-x64" --component runtime --strip >/dev/null
cmake --install build/windows --prefix "$sdk/stage/win-x86" --component runtime --strip >/dev/null
cmake --install build/windows64 --prefix "$sdk/stage/win-x64" --component runtime --strip >/dev/null
dotnet restore dotnet/ORQExtClient.Net.csproj "${local_sources[@]}" --artifacts-path "$sdk" >/dev/null
dotnet pack dotnet/ORQExtClient.Net.csproj -c Release --no-restore --artifacts-path "$sdk" -o "$pkg" \
  -p:OrqNativeLinuxX64="$sdk/stage/linux-x64/lib" -p:OrqNativeWinX86="$sdk/stage/win-x86/bin" \
  -p:OrqNativeWinX64="$sdk/stage/win-x64/bin" | { grep -E "error|warning" || true; }
nupkg=$pkg/ORQExtClient.$version.nupkg
[ -f "$nupkg" ] || { echo "test-dotnet: no $nupkg" >&2; exit 1; }
listing=$(unzip -Z1 "$nupkg" | sort)
for f in README.md lib/netstandard2.0/ORQExtClient.Net.dll lib/netstandard2.0/ORQExtClient.Net.xml \
  lib/netstandard2.0/ORQExtClient.Net.dll.config lib/net8.0/ORQExtClient.Net.dll lib/net8.0/ORQExtClient.Net.xml \
  runtimes/linux-x64/native/libORQExtClient.so.1 runtimes/linux-x64/native/libXSRClient.so \
  runtimes/win-x86/native/ORQExtClient.dll runtimes/win-x86/native/XSRClient.dll \
  runtimes/win-x64/native/ORQExtClient.dll runtimes/win-x64/native/XSRClient.dll; do
  grep -qx "$f" <<<"$listing" || { echo "test-dotnet: the package lacks $f" >&2; exit 1; }
done
! unzip -p "$nupkg" '*.nuspec' | grep -q "$PWD" || { echo "test-dotnet: the nuspec names a path of this machine" >&2; exit 1; }
# The 32-bit DLLs in win-x86, the 64-bit ones in win-x64.
{ unzip -p "$nupkg" runtimes/win-x86/native/ORQExtClient.dll | file - | grep -q "PE32 executable.*80386" &&
  unzip -p "$nupkg" runtimes/win-x64/native/ORQExtClient.dll | file - | grep -q "PE32+ executable.*x86-64"; } ||
  { echo "test-dotnet: the Windows DLLs are not in the folders of their width" >&2; exit 1; }
unzip -l "$nupkg"

echo "==== a new console project with the package from a local folder (.NET and Mono) ===="
scratch=$sdk/consumer
rm -rf "$scratch"
mkdir -p "$scratch/app"
# Only the package's local folder, and a packages folder of the project's own.
cat >"$scratch/nuget.config" <<EOF
<?xml version="1.0" encoding="utf-8"?>
<configuration>
  <packageSources>
    <clear />
    <add key="local" value="$pkg" />
  </packageSources>
</configuration>
EOF
(
  cd "$scratch/app"
  export NUGET_PACKAGES=$scratch/packages
  dotnet new console --framework net10.0 --name app --output . >/dev/null
  cp "$root/dotnet/tests/consumer/Program.cs" Program.cs
  dotnet add package ORQExtClient --version "$version" >/dev/null
  dotnet build -c Release -o bin/net >/dev/null
)
sim_out=$scratch/xsr-sim.out
echo "module KExt_NLPE KExt_NLPE" >"$scratch/xsr-sim.conf"
"$build/sim/xsr-sim" --port 0 --config "$scratch/xsr-sim.conf" >"$sim_out" &
sim_pid=$!
trap 'kill "$sim_pid" 2>/dev/null || true' EXIT
for _ in $(seq 100); do grep -q "port=" "$sim_out" && break; sleep 0.1; done
port=$(grep -o "port=[0-9]*" "$sim_out" | head -n 1 | cut -d= -f2)
[ -n "$port" ] || { echo "test-dotnet: xsr-sim reported no port" >&2; exit 1; }
want="xsr-sim:$port moved|to|Paris"
# No LD_LIBRARY_PATH: the native libraries come from the package alone.
got=$(env -u LD_LIBRARY_PATH dotnet "$scratch/app/bin/net/app.dll" "$port")
[ "$got" = "$want" ] || { echo "test-dotnet: the consumer on .NET printed: $got" >&2; exit 1; }
echo "consumer on .NET: $got"
# Mono: the same program compiled with mcs against the restored package's
# netstandard2.0 assembly, beside the package's linux-x64 native libraries.
restored=$scratch/packages/orqextclient/$version
mono_out=$scratch/mono
mkdir -p "$mono_out"
cp "$restored"/lib/netstandard2.0/* "$restored"/runtimes/linux-x64/native/* "$mono_out/"
mcs -nologo -langversion:7 -warnaserror+ -r:"$mono_out/ORQExtClient.Net.dll" -r:System.Core -r:Facades/netstandard.dll \
  -out:"$mono_out/app.exe" dotnet/tests/consumer/Program.cs
got=$(env -u LD_LIBRARY_PATH mono "$mono_out/app.exe" "$port")
[ "$got" = "$want" ] || { echo "test-dotnet: the consumer on Mono printed: $got" >&2; exit 1; }
echo "consumer on Mono: $got"
