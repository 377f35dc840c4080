#!/usr/bin/env bash
# Installs the Debian packages that are missing, quietly and without
# questions. Without flags: what scripts/demo.sh needs (the compiler, CMake,
# Ninja). Flags add what a test step needs, in any order:
#   --tests      Google Test, Google Mock and Google Benchmark (the test
#                suites and the benchmarks)
#   --docs       doxygen (scripts/test-docs.sh)
#   --python     the venv module, setuptools, pytest, wheel building and mypy
#                (scripts/test-python.sh)
#   --dotnet     Mono: mcs and mono (scripts/test-dotnet.sh); where the .NET SDK
#                is on the machine, also the NuGet reference packs that the
#                binding's targets need (NETStandard.Library for netstandard2.0,
#                the net8.0 reference pack), fetched once into build/nuget so
#                that every restore of the tests uses local folders only
#   --shell      libedit (orqext's line editing) and tmux (scripts/test-orqext-shell.sh)
#   --i386       the 32-bit Linux cross compiler, user-mode emulation (qemu-user)
#                and the GoogleTest sources (scripts/test-i386.sh); they need no
#                i386 architecture on the machine
#   --windows    the MinGW-w64 cross toolchains for 32-bit and 64-bit Windows
#                and Wine to run their programs: wine64 for 64-bit programs,
#                and the i386 package wine32 for 32-bit ones where this
#                machine can run 32-bit programs at all (probed first;
#                elsewhere scripts/wine32.sh runs 32-bit Wine on emulation)
#   --packaging  pkg-config, dpkg-dev, file, abigail-tools (lintian is not
#                installed: it would upgrade perl; scripts/lintian.sh runs a
#                copy of it from build/lintian)
#   --fuzz       clang with libFuzzer and the sanitizer runtimes
set -euo pipefail

pkgs=(cmake ninja-build g++)
windows=0 dotnet_packs=0
for flag in "$@"; do
  case "$flag" in
    --tests) pkgs+=(libgtest-dev libgmock-dev libbenchmark-dev) ;;
    --docs) pkgs+=(doxygen) ;;
    --python) pkgs+=(python3 python3-venv python3-setuptools python3-pytest
                     python3-build python3-wheel python3-mypy python3-pip-whl) ;;
    --dotnet) pkgs+=(mono-devel); dotnet_packs=1 ;;
    --shell) pkgs+=(libedit-dev tmux) ;;
    --i386) pkgs+=(g++-i686-linux-gnu qemu-user googletest) ;;
    --windows)
      windows=1
      pkgs+=(g++-mingw-w64-i686-posix binutils-mingw-w64-i686
             g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64) ;;
    --packaging) pkgs+=(pkgconf dpkg-dev file abigail-tools) ;;
    --fuzz) pkgs+=(clang-14 libclang-rt-14-dev) ;;
    *) echo "install-deps: unknown flag '$flag'" >&2; exit 2 ;;
  esac
done

root=$(cd "$(dirname "$0")/.." && pwd)
if [ "$dotnet_packs" -eq 1 ] && command -v dotnet >/dev/null &&
   ! { [ -d "$root/build/nuget/netstandard.library" ] && [ -d "$root/build/nuget/microsoft.netcore.app.ref" ]; }; then
  echo "install-deps: fetching the .NET binding's NuGet reference packs into build/nuget"
  DOTNET_CLI_TELEMETRY_OPTOUT=1 DOTNET_NOLOGO=1 DOTNET_SKIP_FIRST_TIME_EXPERIENCE=1 \
    NUGET_PACKAGES="$root/build/nuget" dotnet restore "$root/dotnet/ORQExtClient.Net.csproj" \
    --artifacts-path "$root/build/dotnet-sdk" >/dev/null
fi

# Whether this machine runs 32-bit x86 programs: a static i386 program of 93
# bytes that only calls exit(0) through int 0x80, run with a time limit. A
# kernel built without 32-bit support (several cloud and container hosts)
# refuses it ("Exec format error"). A shell script beside it shows first that
# programs can run from the temporary folder at all (it may be mounted noexec).
# Returns 0 when the probe ran; 1 when it did not, 2 when programs cannot run
# from the temporary folder.
can_run_32bit() {
  local dir rc=0
  dir=$(mktemp -d)
  printf '#!/bin/sh\nexit 0\n' >"$dir/control"
  echo 'f0VMRgEBAQAAAAAAAAAAAAIAAwABAAAAVIAECDQAAAAAAAAAAAAAADQAIAABAAAAAAAAAAEAAAAAAAAAAIAECACABAhdAAAAXQAAAAUAAAAAEAAAMdu4AQAAAM2A' |
    base64 -d >"$dir/probe"
  chmod 700 "$dir/control" "$dir/probe"
  if ! "$dir/control" >/dev/null 2>&1; then
    rc=2
  elif ! timeout 5 "$dir/probe" >/dev/null 2>&1; then
    rc=1
  fi
  rm -rf "$dir"
  return "$rc"
}

# wine32 is a package of the i386 architecture. Adding that architecture makes
# apt bring the machine's 64-bit packages that also exist for i386 up to the
# same versions (multiarch needs them alike), and on a machine that cannot run
# 32-bit programs the i386 install scripts fail besides: so neither happens
# there.
add_i386=0
if [ "$windows" -eq 1 ] && ! dpkg -s wine32:i386 >/dev/null 2>&1; then
  probe=0
  can_run_32bit || probe=$?
  skip="not adding the i386 architecture, not installing wine32 (scripts/wine32.sh runs 32-bit Wine"
  skip+=" on emulation where it can)"
  case "$probe" in
    0) pkgs+=(wine32:i386)
       dpkg --print-foreign-architectures | grep -qx i386 || add_i386=1 ;;
    # Said once, by scripts/wine32.sh, which runs 32-bit Wine on emulation
    # here where it can.
    1) ;;
    *) echo "install-deps: no program runs from ${TMPDIR:-/tmp} (set TMPDIR to a folder that allows it)," \
            "so whether this machine runs 32-bit programs is unknown: $skip" ;;
  esac
fi

need=()
for pkg in "${pkgs[@]}"; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
[ ${#need[@]} -gt 0 ] || exit 0

echo "install-deps: installing ${need[*]}"
if [ "$add_i386" -eq 1 ]; then
  echo "install-deps: adding the i386 architecture for wine32; apt may upgrade installed packages" \
       "that also exist for i386, to keep both architectures at the same versions"
fi
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
# No questions, no progress bars, no debconf warnings about a missing
# terminal; through sudo the settings go with env, as sudo drops them.
apt=($SUDO env DEBIAN_FRONTEND=noninteractive DEBCONF_NOWARNINGS=yes
     apt-get -qq -o Dpkg::Use-Pty=0 -o Dpkg::Progress-Fancy=0)
[ "$add_i386" -eq 0 ] || $SUDO dpkg --add-architecture i386
"${apt[@]}" update
log=$(mktemp)
trap 'rm -f "$log"' EXIT
rc=0
"${apt[@]}" install -y --no-install-recommends "${need[@]}" 2>&1 | tee "$log" || rc=$?
# Where the probe ran but the i386 packages' install scripts or triggers still
# fail with "Exec format error" (e.g. glib-compile-schemas), the 32-bit
# packages are of no use but every other one must have been installed;
# scripts/wine32.sh finds out again and runs 32-bit Wine on emulation.
if grep -q "Exec format error" "$log"; then
  missing=()
  for pkg in "${need[@]}"; do
    case "$pkg" in *:i386) continue ;; esac
    dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "install-deps: not installed: ${missing[*]}" >&2
    exit 1
  fi
  echo "install-deps: i386 install scripts failed with 'Exec format error': this machine cannot run" \
       "32-bit programs, so scripts/wine32.sh runs 32-bit Wine on emulation where it can"
elif [ "$rc" -ne 0 ]; then
  exit "$rc"
fi
