#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
# --windows: also the 32-bit Windows cross toolchain and Wine to run it.
# --packaging: also what the packaging checks use (pkg-config, dpkg-dev,
#   lintian, abigail-tools); may follow --windows.
# --fuzz: also clang and libFuzzer.
set -euo pipefail

pkgs=(cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev binutils
      python3 python3-venv python3-setuptools python3-pytest doxygen)
windows=0
if [ "${1:-}" = "--windows" ]; then
  windows=1
  pkgs+=(g++-mingw-w64-i686-posix binutils-mingw-w64-i686 wine wine32:i386)
fi
case " $* " in
  *" --packaging "*) pkgs+=(pkgconf dpkg-dev file lintian abigail-tools) ;;
esac
# --fuzz: clang with libFuzzer and the sanitizer runtimes (scripts/test-fuzz.sh).
case " $* " in
  *" --fuzz "*) pkgs+=(clang-14 libclang-rt-14-dev) ;;
esac

need=()
for pkg in "${pkgs[@]}"; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done

if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  # wine32 is a package of the i386 architecture.
  if [ "$windows" -eq 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
