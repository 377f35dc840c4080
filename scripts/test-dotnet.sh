#!/usr/bin/env bash
# The .NET binding (dotnet/, docs/dotnet.md) with Debian's Mono: checks that
# the generated native layer and result table are current with the headers,
# builds the assembly (target dotnet) and the library, the scripted XSRClient
# double and xsr-sim of the release build, compiles the test program with mcs
# and runs it with mono (the tables against the C compiler, every family
# against xsr-sim, and in a child process against the double), then runs the
# C# example against a fresh xsr-sim. The test program's output ends with its
# "N passed, N failed" line.
set -euo pipefail
cd "$(dirname "$0")/.."
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
  -out:"$out/OrqTests.exe" dotnet/tests/OrqTests.cs
mcs -nologo -langversion:7 -warnaserror+ -r:"$out/ORQExtClient.Net.dll" -r:System.Core \
  -out:"$out/SegmentClassify.exe" examples/SegmentClassify.cs

# The library by its SONAME (ORQExtClient.Net.dll.config) from the build tree.
export LD_LIBRARY_PATH="$PWD/$build${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
echo "==== the C# example against xsr-sim ===="
sh tests/e2e/run_example.sh "$build/sim/xsr-sim" tests/e2e/csharp_example.expected mono "$out/SegmentClassify.exe"
echo "==== the .NET binding's tests ===="
mono --debug "$out/OrqTests.exe" "$PWD" "$PWD/$build"
