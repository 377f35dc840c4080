#!/usr/bin/env bash
# Builds the Python package as a platform wheel that carries the library:
# orqext/lib/ holds libORQExtClient.so.1 and the networked XSRClient
# (libXSRClient.so, found through the library's $ORIGIN run path), so that
# `pip install orqext-*.whl` is all a user needs. The package looks there
# right after ORQEXT_LIBRARY and ORQEXT_PREFIX.
#
#   scripts/python-wheel.sh               Linux wheel from build/release
#   scripts/python-wheel.sh --windows     win32 wheel from build/windows
#   scripts/python-wheel.sh --windows64   win_amd64 wheel from build/windows64
#
# The libraries are release builds with their debug information stripped
# from the copies in the wheel. The Linux tag is manylinux_2_N_x86_64 only
# when the versioned symbols the libraries import (objdump -T) and the
# libraries they need fit that manylinux baseline; otherwise linux_x86_64.
# Windows wheels cannot be run here: their contents, the DLLs' machine type
# and their imports are checked instead. They need the MinGW-w64 cross
# compilers (scripts/install-deps.sh --windows installs them).
#
# Everything is written under build/python-wheel/ (nothing in python/); the
# wheel goes to build/python-wheel/dist/. The last line printed is the
# wheel's path.
set -euo pipefail
cd "$(dirname "$0")/.."

target=linux
case "${1:-}" in
  "") ;;
  --windows) target=win32 ;;
  --windows64) target=win_amd64 ;;
  *) echo "usage: $0 [--windows | --windows64]" >&2; exit 2 ;;
esac
python=/usr/bin/python3
jobs=$(nproc)
work=build/python-wheel/$target
dist=build/python-wheel/dist
rm -rf "$work"
mkdir -p "$work/src/orqext/lib" "$dist"
lib="$work/src/orqext/lib"

# The package as a copy: the build writes nothing into python/.
cp python/pyproject.toml python/setup.py python/README.md python/LICENSE "$work/src/"
(cd python/orqext && find . -name '*.py' -o -name py.typed) | while read -r f; do
  install -D -m 0644 "python/orqext/$f" "$work/src/orqext/$f"
done

case "$target" in
  linux)
    build=build/release
    if [ ! -f "$build/build.ninja" ]; then
      cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    fi
    cmake --build "$build" -j "$jobs" --target ORQExtClient XSRClient >&2
    # The runtime component as installed: run path $ORIGIN, not the build's.
    cmake --install "$build" --component runtime --prefix "$PWD/$work/prefix" >/dev/null
    cp -L "$work/prefix/lib/libORQExtClient.so.1" "$work/prefix/lib/libXSRClient.so" "$lib/"
    strip --strip-debug "$lib"/*.so*
    runpath=$(objdump -p "$lib/libORQExtClient.so.1" | awk '$1 == "RUNPATH" {print $2}')
    if [ "$runpath" != '$ORIGIN' ]; then
      echo "python-wheel: libORQExtClient.so.1 has run path '$runpath', not \$ORIGIN" >&2
      exit 1
    fi
    platform=$("$python" - "$lib"/*.so* <<'EOF'
import re, subprocess, sys
# manylinux baselines (PEP 600): the newest libstdc++ and C++ ABI symbol
# versions the reference distribution of each baseline ships, and the
# libraries a manylinux wheel may take from the system.
BASELINES = [((2, 17), (3, 4, 19), (1, 3, 7)), ((2, 28), (3, 4, 25), (1, 3, 11)),
             ((2, 34), (3, 4, 29), (1, 3, 13))]
SYSTEM = {"libc.so.6", "libm.so.6", "libdl.so.2", "librt.so.1", "libpthread.so.0",
          "libgcc_s.so.1", "libstdc++.so.6", "ld-linux-x86-64.so.2"}
own = {p.rsplit("/", 1)[-1] for p in sys.argv[1:]}
most = {"GLIBC": (0,), "GLIBCXX": (0,), "CXXABI": (0,)}
needed = set()
for path in sys.argv[1:]:
    dyn = subprocess.run(["objdump", "-T", path], check=True, capture_output=True, text=True).stdout
    for line in dyn.splitlines():
        if " *UND*" not in line:
            continue
        m = re.search(r"\b(GLIBC|GLIBCXX|CXXABI)_([0-9.]+)\b", line)
        if m:
            v = tuple(int(x) for x in m.group(2).split("."))
            most[m.group(1)] = max(most[m.group(1)], v)
    heads = subprocess.run(["objdump", "-p", path], check=True, capture_output=True, text=True).stdout
    needed |= {l.split()[1] for l in heads.splitlines() if l.split()[:1] == ["NEEDED"]}
tag = "linux_x86_64"
if needed - own <= SYSTEM:
    for glibc, glibcxx, cxxabi in BASELINES:
        if most["GLIBC"] <= glibc and most["GLIBCXX"] <= glibcxx and most["CXXABI"] <= cxxabi:
            tag = "manylinux_%d_%d_x86_64" % glibc
            break
print(tag)
print("python-wheel: imports up to GLIBC_%s GLIBCXX_%s CXXABI_%s; needs %s: tag %s"
      % (".".join(map(str, most["GLIBC"])), ".".join(map(str, most["GLIBCXX"])),
         ".".join(map(str, most["CXXABI"])), " ".join(sorted(needed)), tag), file=sys.stderr)
EOF
)
    expect_format="elf64-x86-64"
    ;;
  win32 | win_amd64)
    if [ "$target" = win32 ]; then
      build=build/windows toolchain=cmake/toolchain-mingw32.cmake expect_format=pei-i386
    else
      build=build/windows64 toolchain=cmake/toolchain-mingw64.cmake expect_format=pei-x86-64
    fi
    # The MinGW-w64 cross compilers come with scripts/install-deps.sh
    # --windows (which also brings Wine for the tests; not needed here).
    if [ ! -f "$build/build.ninja" ]; then
      cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        "-DCMAKE_TOOLCHAIN_FILE=$toolchain" >/dev/null
    fi
    cmake --build "$build" -j "$jobs" --target ORQExtClient XSRClient >&2
    cp "$build/ORQExtClient.dll" "$build/XSRClient.dll" "$lib/"
    strip_tool=$(grep -m1 '^CMAKE_STRIP:' "$build/CMakeCache.txt" | cut -d= -f2)
    "${strip_tool:-strip}" --strip-debug "$lib"/*.dll
    # ORQExtClient.dll takes the five XSR_ functions from XSRClient.dll beside it.
    imports=$(objdump -p "$lib/ORQExtClient.dll")
    if ! grep -q "DLL Name: XSRClient.dll" <<<"$imports"; then
      echo "python-wheel: ORQExtClient.dll does not import XSRClient.dll" >&2
      exit 1
    fi
    platform=$target
    ;;
esac

for f in "$lib"/*; do
  format=$(objdump -f "$f" | awk '/file format/ {print $NF}')
  if [ "$format" != "$expect_format" ]; then
    echo "python-wheel: $f is $format, not $expect_format" >&2
    exit 1
  fi
done

rm -f "$dist"/orqext-*-"$platform".whl
export ORQEXT_WHEEL_PLATFORM=$platform ORQEXT_BUILD_BASE="$PWD/$work/out"
if "$python" -c "import build" 2>/dev/null; then
  "$python" -m build --wheel --no-isolation --outdir "$dist" "$work/src" >&2
else
  "$python" -m pip wheel --no-build-isolation --no-index --no-deps -w "$dist" "$work/src" >&2
fi
wheel=$(ls "$dist"/orqext-*-py3-none-"$platform".whl)

# The wheel holds the package, py.typed and both libraries, and says it is
# a platform wheel of that tag.
"$python" - "$wheel" "$platform" "$lib" <<'EOF'
import os, sys, zipfile
wheel, platform, lib = sys.argv[1:]
names = set(zipfile.ZipFile(wheel).namelist())
want = {"orqext/__init__.py", "orqext/aio.py", "orqext/py.typed"}
want |= {"orqext/lib/" + f for f in os.listdir(lib)}
missing = want - names
info = zipfile.ZipFile(wheel).read(next(n for n in names if n.endswith(".dist-info/WHEEL"))).decode()
problems = ["missing: " + " ".join(sorted(missing))] if missing else []
if "Tag: py3-none-%s" % platform not in info.splitlines():
    problems.append("tag is not py3-none-%s:\n%s" % (platform, info))
if "Root-Is-Purelib: false" not in info.splitlines():
    problems.append("marked as a pure wheel")
if problems:
    sys.exit("python-wheel: %s: %s" % (wheel, "; ".join(problems)))
EOF
echo "$wheel"
