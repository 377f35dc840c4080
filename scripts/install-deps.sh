#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
# --windows: also the MinGW-w64 cross toolchains for 32-bit and 64-bit
# Windows and Wine to run their programs (wine64 for 64-bit programs, the
# i386 package wine32 for 32-bit ones).
# --packaging: also what the packaging checks use (pkg-config, dpkg-dev,
#   lintian, abigail-tools); may follow --windows.
# --fuzz: also clang and libFuzzer.
# --dotnet: also Mono (mcs, mono) for the .NET binding.
# --python: also what the Python step uses (wheel building, mypy).
# --i386: also the 32-bit Linux cross compiler and user-mode emulation
#   (qemu-user), which need no i386 architecture on the machine.
# --shell: also libedit (orqext's shell) and tmux (its test).
set -euo pipefail

pkgs=(cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev binutils
      python3 python3-venv python3-setuptools python3-pytest doxygen)
windows=0
if [ "${1:-}" = "--windows" ]; then
  windows=1
  pkgs+=(g++-mingw-w64-i686-posix binutils-mingw-w64-i686
         g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
         wine wine64 wine32:i386)
fi
case " $* " in
  *" --packaging "*) pkgs+=(pkgconf dpkg-dev file lintian abigail-tools) ;;
esac
case " $* " in
  *" --python "*) pkgs+=(python3-build python3-wheel python3-mypy python3-pip-whl) ;;
esac
# --shell: libedit for orqext's line editing, tmux to drive it (scripts/test-orqext-shell.sh).
case " $* " in
  *" --shell "*) pkgs+=(libedit-dev tmux) ;;
esac
# --fuzz: clang with libFuzzer and the sanitizer runtimes (scripts/test-fuzz.sh).
case " $* " in
  *" --fuzz "*) pkgs+=(clang-14 libclang-rt-14-dev) ;;
esac
# --dotnet: Mono's C# compiler and runtime (scripts/test-dotnet.sh).
case " $* " in
  *" --dotnet "*) pkgs+=(mono-devel) ;;
esac

# --i386: the 32-bit Linux build run under qemu-i386 (scripts/test-i386.sh);
# GoogleTest is compiled from the googletest sources of libgtest-dev.
case " $* " in
  *" --i386 "*) pkgs+=(g++-i686-linux-gnu qemu-user googletest) ;;
esac

need=()
for pkg in "${pkgs[@]}"; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done

if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  # wine32 is a package of the i386 architecture. Adding that architecture
  # makes apt bring the machine's 64-bit packages that also exist for i386 up
  # to the same versions (multiarch needs them alike), so this may upgrade
  # some installed libraries.
  if [ "$windows" -eq 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  $SUDO apt-get update -qq
  log=$(mktemp)
  trap 'rm -f "$log"' EXIT
  rc=0
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
    "${need[@]}" 2>&1 | tee "$log" || rc=$?
  # On a kernel that cannot run 32-bit programs the i386 packages unpack,
  # but their install scripts and triggers (e.g. glib-compile-schemas) fail
  # with "Exec format error". That is no reason to stop, and no success
  # either: it says 32-bit Windows programs cannot run here, which the
  # Windows step finds out again and handles (scripts/windows-test.sh).
  # Every other package must have been installed all the same.
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
         "32-bit programs, so the 32-bit Windows tests under Wine will be skipped (64-bit ones run)"
  elif [ "$rc" -ne 0 ]; then
    exit "$rc"
  fi
fi
