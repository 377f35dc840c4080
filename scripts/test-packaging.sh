#!/usr/bin/env bash
# Checks ORQExtClient as its users get it (docs/packaging.md):
#  - cmake --install of build/release into a temporary prefix: file names,
#    SONAME, RUNPATH, no path of this machine in any installed file, every
#    example, the HTML reference (built here when missing) and the recording
#    XSRClient in its own folder;
#  - two consumers built from copies outside the source tree, one with CMake's
#    find_package and one with pkg-config and the compiler alone (with the
#    README's rpath, as the prefix is outside the loader's path), and the
#    documented test with the scripted XSRClient, run against xsr-sim; one
#    consumer run once more through the installed recorder;
#  - the ABI guard (scripts/abi-guard.sh);
#  - the .deb packages (cpack), unpacked with dpkg-deb: contents, metadata,
#    lintian (scripts/lintian.sh);
#  - the .NET assembly as component dotnet and in each Windows zip;
#  - the Windows zip of each Windows build: contents, version resources, a
#    consumer built with MinGW from the zip's files alone and run under Wine
#    against the stand-in XSRClient and xsr-sim (where Wine can run that
#    architecture; what is skipped is said).
#   scripts/test-packaging.sh [WINDOWS_BUILD_DIR...]
# Without arguments the Windows builds are build/windows and, when its
# toolchain file is there, build/windows64. Packages are left in
# <build>/packages.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --tests --windows --packaging --dotnet

root=$PWD
release=build/release
jobs=$(nproc)
version=$(sed -n 's/^project(ORQExtClient VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
major=${version%%.*}
work=$(mktemp -d)
. tests/support/xsr_sim.sh
cleanup() {
  sim_stop
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "packaging: FAILED: $*" >&2
  exit 1
}
ok() { echo "  ok: $*"; }
strict=(-Wall -Wextra -Werror)

# --- helpers ------------------------------------------------------------------
# dyn FILE TAG: the value of one dynamic-section entry ("" when absent).
dyn() { readelf -d "$1" | sed -n "s/.*($2).*\[\(.*\)\]/\1/p" | paste -sd' ' -; }

# check_elf FILE SONAME RUNPATH: SONAME and RUNPATH exactly (empty: none).
check_elf() {
  local f=$1 soname=$2 runpath=$3
  [ "$(dyn "$f" SONAME)" = "$soname" ] || fail "$f: SONAME '$(dyn "$f" SONAME)', expected '$soname'"
  [ "$(dyn "$f" RUNPATH)" = "$runpath" ] || fail "$f: RUNPATH '$(dyn "$f" RUNPATH)', expected '$runpath'"
  [ -z "$(dyn "$f" RPATH)" ] || fail "$f: has an RPATH: $(dyn "$f" RPATH)"
}

# no_build_paths DIR...: no file below mentions the source or build tree.
no_build_paths() {
  local hits
  hits=$(grep -rlF "$root" "$@" || true)
  [ -z "$hits" ] || fail "paths of this machine ($root) in: $hits"
}

# --- Install into a temporary prefix -------------------------------------------
echo "==== packaging: install (${release}) ===="
cmake -S . -B "$release" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORQ_WERROR=ON >/dev/null
# The .NET assembly (target dotnet; Mono's mcs is installed above).
dotnet_target=(dotnet)
cmake --build "$release" -j "$jobs" --target ORQExtClient XSRClient XSRClientDoubleLib XSRClientRecorder orqext xsr-sim \
  "${dotnet_target[@]}"
# The docs component installs the HTML reference that scripts/test-docs.sh
# builds into the release build.
reference=$release/docs/reference
[ -f "$reference/html/index.html" ] || scripts/test-docs.sh "$reference"
prefix=$work/prefix
cmake --install "$release" --prefix "$prefix" >/dev/null

for f in include/orqext.h include/orqext_version.h include/orqext_results.h include/xsrclient_double.h \
  include/orqext.hpp include/orqext/connection.hpp \
  "lib/libORQExtClient.so.$version" lib/libXSRClient.so "lib/libXSRClientDouble.so.$version" \
  lib/cmake/ORQExtClient/ORQExtClientConfig.cmake lib/cmake/ORQExtClient/ORQExtClientConfigVersion.cmake \
  lib/cmake/ORQExtClient/ORQExtClientTargets.cmake lib/pkgconfig/orqextclient.pc \
  lib/pkgconfig/orqextclient-double.pc bin/orqext bin/xsr-sim share/doc/ORQExtClient/README.md \
  share/doc/ORQExtClient/double.md share/doc/ORQExtClient/packaging.md \
  share/doc/ORQExtClient/reference/index.html lib/ORQExtClient/record/libXSRClient.so \
  $(cd examples && ls | sed 's|^|share/doc/ORQExtClient/examples/|'); do
  [ -f "$prefix/$f" ] && [ ! -L "$prefix/$f" ] || fail "not installed: $f"
done
for link in "libORQExtClient.so.$major:libORQExtClient.so.$version" "libORQExtClient.so:libORQExtClient.so.$major" \
  "libXSRClientDouble.so.$major:libXSRClientDouble.so.$version" "libXSRClientDouble.so:libXSRClientDouble.so.$major"; do
  [ "$(readlink "$prefix/lib/${link%%:*}")" = "${link#*:}" ] || fail "lib/${link%%:*} does not point to ${link#*:}"
done
ok "headers, libraries with their links, CMake and pkg-config files, programs, docs, reference, every example"

check_elf "$prefix/lib/libORQExtClient.so.$version" "libORQExtClient.so.$major" '$ORIGIN'
dyn "$prefix/lib/libORQExtClient.so.$version" NEEDED | grep -qw libXSRClient.so || fail "libORQExtClient does not need libXSRClient.so"
check_elf "$prefix/lib/libXSRClient.so" libXSRClient.so ""
check_elf "$prefix/lib/libXSRClientDouble.so.$version" "libXSRClientDouble.so.$major" ""
check_elf "$prefix/bin/orqext" "" '$ORIGIN/../lib'
check_elf "$prefix/bin/xsr-sim" "" ""
check_elf "$prefix/lib/ORQExtClient/record/libXSRClient.so" libXSRClient.so ""
# The recorder stays in its folder: lib/libXSRClient.so is the networked one.
grep -q ORQ_XSR_TRACE "$prefix/lib/ORQExtClient/record/libXSRClient.so" || fail "record/libXSRClient.so: not the recorder"
! grep -q ORQ_XSR_TRACE "$prefix/lib/libXSRClient.so" || fail "lib/libXSRClient.so is the recorder"
ok "SONAME libORQExtClient.so.$major, libXSRClient.so unversioned, RUNPATH \$ORIGIN only"

exports=$(nm -D --defined-only "$prefix/lib/libORQExtClient.so.$version" | awk '$2 == "T" {print $3}' | sort)
listed=$(grep '^ORQExt_' exports/orqext.exports | sort)
[ "$exports" = "$listed" ] || fail "the installed library's exports differ from exports/orqext.exports"
ok "exports: exactly the $(echo "$listed" | wc -l) listed names"

no_build_paths "$prefix/include" "$prefix/lib/cmake" "$prefix/lib/pkgconfig" "$prefix/share"
ok "no path of this machine in the installed headers, CMake, pkg-config and doc files (with the reference)"

[ "$("$prefix/bin/orqext" --version)" = "orqext $version" ] || fail "orqext --version"
[ "$("$prefix/bin/xsr-sim" --version)" = "xsr-sim $version" ] || fail "xsr-sim --version"
ok "orqext and xsr-sim --version: $version"

# A runtime-only install: the library and the stand-in, nothing else.
cmake --install "$release" --prefix "$work/runtime" --component runtime >/dev/null
got=$(cd "$work/runtime" && find . \( -type f -o -type l \) | sort | paste -sd' ' -)
want="./lib/libORQExtClient.so.$major ./lib/libORQExtClient.so.$version ./lib/libXSRClient.so"
[ "$got" = "$want" ] || fail "runtime component holds: $got"
ok "runtime component: $want"
cmake --install "$release" --prefix "$work/dotnet" --component dotnet >/dev/null
got=$(cd "$work/dotnet" && find . \( -type f -o -type l \) | sort | paste -sd' ' -)
want="./lib/ORQExtClient.Net.dll ./lib/ORQExtClient.Net.dll.config ./lib/ORQExtClient.Net.xml"
[ "$got" = "$want" ] || fail "dotnet component holds: $got"
ok "dotnet component: $want"

# --- Consumers, outside the source tree ----------------------------------------
echo "==== packaging: consumers ===="
sim_start "$prefix/bin/xsr-sim" "$work/sim.log"  # sets sim_port
consumer_src=$work/consumer
mkdir -p "$consumer_src"
cp tests/packaging/CMakeLists.txt tests/packaging/consumer.c tests/packaging/consumer_cpp.cpp \
  "$prefix/share/doc/ORQExtClient/examples/double_test.c" \
  "$consumer_src/"
(
  cd "$work"  # nothing below runs from the source tree
  unset LD_LIBRARY_PATH
  # Consumers are built as strictly as the library: a warning from an
  # installed header fails here.
  cmake -S consumer -B consumer-build -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
    "-DCMAKE_C_FLAGS=${strict[*]}" "-DCMAKE_CXX_FLAGS=${strict[*]}" >/dev/null
  cmake --build consumer-build >/dev/null
  ! grep -rlF "$root" consumer-build --include='*.ninja' --include=CMakeCache.txt >/dev/null ||
    fail "the CMake consumer's build refers to the source tree"
  consumer-build/consumer "$sim_port" "$version" || fail "CMake consumer against xsr-sim"
  consumer-build/consumer_cpp "$sim_port" "$version" || fail "CMake C++ consumer (ORQExtClient::cpp) against xsr-sim"
  consumer-build/double_test >/dev/null || fail "the documented double test (CMake)"
  ok "find_package(ORQExtClient 1.0): consumers in C and C++ (ORQExtClient::cpp alone, C++17 from it) against xsr-sim, double test"
  for want in "$((major + 1)).0" 0.9; do
    if cmake -S consumer -B "consumer-$want" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" -DWANT_VERSION="$want" \
      >/dev/null 2>&1; then
      fail "find_package(ORQExtClient $want) accepted version $version"
    fi
  done
  ok "find_package refuses $((major + 1)).0 and 0.9 (same major version only)"

  export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
  [ "$(pkg-config --modversion orqextclient)" = "$version" ] || fail "pkg-config --modversion"
  mkdir pc && cd pc
  # The prefix is outside the loader's path: without an rpath the consumer
  # does not start, with the README's one it does.
  cc -std=c99 ../consumer/consumer.c $(pkg-config --cflags --libs orqextclient) -o no-rpath
  out=$(./no-rpath "$sim_port" "$version" 2>&1) && fail "a consumer without rpath started: is $prefix on the loader's path?"
  echo "$out" | grep -q "libORQExtClient.so.$major: cannot open shared object file" ||
    fail "a consumer without rpath: $out"
  rpath="-Wl,-rpath,$(pkg-config --variable=libdir orqextclient)"
  cc -std=c99 -Wall -Wextra -pedantic -Werror ../consumer/consumer.c $(pkg-config --cflags --libs orqextclient) \
    "$rpath" -o consumer
  ./consumer "$sim_port" "$version" || fail "pkg-config consumer against xsr-sim"
  c++ -std=c++17 -Wall -Wextra -Werror ../consumer/consumer_cpp.cpp $(pkg-config --cflags --libs orqextclient) \
    "$rpath" -o consumer_cpp
  ./consumer_cpp "$sim_port" "$version" || fail "pkg-config C++ consumer (orqext.hpp) against xsr-sim"
  cc -std=c99 "${strict[@]}" ../consumer/double_test.c $(pkg-config --cflags --libs orqextclient-double) \
    "$rpath" -o double_test
  ./double_test >/dev/null || fail "the documented double test (pkg-config)"
  ok "pkg-config orqextclient (-Wl,-rpath,\$(pkg-config --variable=libdir orqextclient), no LD_LIBRARY_PATH):" \
     "consumers in C and C++ against xsr-sim, none without the rpath; orqextclient-double: double test"

  # The installed recorder in front of the installed networked XSRClient.
  LD_LIBRARY_PATH="$prefix/lib/ORQExtClient/record" ORQ_XSR_REAL="$prefix/lib/libXSRClient.so" \
    ORQ_XSR_TRACE="$work/consumer.xt" ./consumer "$sim_port" "$version" >/dev/null ||
    fail "the consumer through the installed recorder"
  stats=$("$prefix/bin/orqext" trace stats "$work/consumer.xt") || fail "orqext trace stats of the recorded run"
  for call in open "module message Echo" close; do
    echo "$stats" | grep -Eq "^  $call +1 +0 " || fail "the recorded trace lacks one '$call' without error: $stats"
  done
  ok "the installed recorder (lib/ORQExtClient/record) records the consumer's run; orqext trace stats reads it"
)

# --- ABI guard ----------------------------------------------------------------
echo "==== packaging: ABI ===="
scripts/abi-guard.sh "$prefix"

# --- Debian packages ----------------------------------------------------------
echo "==== packaging: .deb ===="
rm -rf "$release/packages"
cpack --config "$release/CPackConfig.cmake" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack (deb)"; }
! grep -i -A3 warning "$work/cpack.log" || fail "cpack (deb) warned"
arch=$(dpkg --print-architecture)
runtime_pkg=liborqextclient$major
double_pkg=libxsrclientdouble$major
declare -A files=(
  [$runtime_pkg]="/usr/lib/libORQExtClient.so.$major /usr/lib/libORQExtClient.so.$version /usr/lib/libXSRClient.so"
  [$double_pkg]="/usr/lib/libXSRClientDouble.so.$major /usr/lib/libXSRClientDouble.so.$version"
  [liborqextclient-dev]="/usr/include/orqext.h /usr/include/orqext.hpp /usr/include/orqext/async.hpp /usr/include/orqext_version.h /usr/lib/libORQExtClient.so /usr/lib/libXSRClientDouble.so /usr/lib/pkgconfig/orqextclient.pc /usr/lib/cmake/ORQExtClient/ORQExtClientConfigVersion.cmake /usr/share/doc/ORQExtClient/double.md /usr/share/doc/ORQExtClient/reference/index.html $(cd examples && ls | sed 's|^|/usr/share/doc/ORQExtClient/examples/|' | paste -sd' ' -)"
  [orqextclient-tools]="/usr/bin/orqext /usr/bin/xsr-sim /usr/lib/ORQExtClient/record/libXSRClient.so"
)
declare -A depends=(
  [$runtime_pkg]="libc6|libstdc++6"
  [$double_pkg]="libc6|libstdc++6"
  [liborqextclient-dev]="$runtime_pkg (= $version)|$double_pkg (= $version)"
  [orqextclient-tools]="$runtime_pkg (= $version)|libc6|libstdc++6"
)
debroot=$work/debroot
for pkg in "${!files[@]}"; do
  deb=$release/packages/${pkg}_${version}_${arch}.deb
  [ -f "$deb" ] || fail "no package $deb"
  [ "$(dpkg-deb -f "$deb" Package)" = "$pkg" ] && [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] ||
    fail "$deb: Package/Version"
  deps=$(dpkg-deb -f "$deb" Depends)
  IFS='|' read -r -a wanted <<<"${depends[$pkg]}"
  for d in "${wanted[@]}"; do
    echo ", $deps," | grep -qF "$d" || fail "$pkg: Depends '$deps' lacks '$d'"
  done
  listing=$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\.||')
  for f in ${files[$pkg]} "/usr/share/doc/$pkg/copyright" "/usr/share/doc/$pkg/changelog.gz"; do
    echo "$listing" | grep -qx "$f" || fail "$pkg lacks $f"
  done
  dpkg-deb -x "$deb" "$debroot"
done
shlibs=$(dpkg-deb --ctrl-tarfile "$release/packages/${runtime_pkg}_${version}_${arch}.deb" | tar xO ./shlibs)
[ "$shlibs" = "libORQExtClient $major $runtime_pkg (>= $version)" ] || fail "$runtime_pkg shlibs: $shlibs"
check_elf "$debroot/usr/lib/libORQExtClient.so.$version" "libORQExtClient.so.$major" '$ORIGIN'
check_elf "$debroot/usr/bin/orqext" "" '$ORIGIN/../lib'
no_build_paths "$debroot"
double_shlibs=$(dpkg-deb --ctrl-tarfile "$release/packages/${double_pkg}_${version}_${arch}.deb" | tar xO ./shlibs)
[ "$double_shlibs" = "libXSRClientDouble $major $double_pkg (>= $version)" ] || fail "$double_pkg shlibs: $double_shlibs"
check_elf "$debroot/usr/lib/ORQExtClient/record/libXSRClient.so" libXSRClient.so ""
ok "packages $runtime_pkg, $double_pkg, liborqextclient-dev, orqextclient-tools: files (the reference, every example, the recorder), Depends, shlibs, no paths of this machine"
(
  cd "$work" && mkdir deb-consumer && cd deb-consumer
  unset LD_LIBRARY_PATH
  export PKG_CONFIG_PATH="$debroot/usr/lib/pkgconfig"
  cc -std=c99 "${strict[@]}" ../consumer/consumer.c $(pkg-config --cflags --libs orqextclient) -Wl,-rpath,"$debroot/usr/lib" \
    -o consumer
  ./consumer "$sim_port" "$version" || fail "consumer built against the unpacked packages"
  ok "consumer built against the unpacked packages (pkg-config) runs against xsr-sim"
)

# lintian, offline (scripts/lintian.sh: the installed one, or a copy under
# build/lintian, as installing it would upgrade perl). Tags explained in
# docs/packaging.md are reported; any other one fails.
explained="maintscript-calls-ldconfig no-manual-page pkg-config-unavailable-for-cross-compilation shared-library-lacks-version"
scripts/lintian.sh --tag-display-limit 0 "$release"/packages/*.deb >"$work/lintian" 2>"$work/lintian.err" ||
  { [ -s "$work/lintian" ] || { cat "$work/lintian.err"; fail "lintian did not run"; }; }
unexplained=""
while read -r line; do
  tag=$(echo "$line" | sed -n 's/^[EWIPX]: [^:]*: \([^ ]*\).*/\1/p')
  [ -n "$tag" ] || continue
  case " $explained " in
    *" $tag "*) echo "  lintian (explained in docs/packaging.md): $line" ;;
    *) unexplained+="$line"$'\n' ;;
  esac
done <"$work/lintian"
[ -z "$unexplained" ] || fail "lintian: $unexplained"
ok "lintian: nothing beyond the explained tags"

# --- Windows zips ---------------------------------------------------------------
# can_run ARCH: whether Wine runs programs of that architecture here; sets
# `loader` and `wrap`, what a program's run goes through (32-bit: the 32-bit
# Wine of scripts/wine32.sh, natively or on emulation).
can_run() {
  case $1 in
    win32)
      eval "$(scripts/wine32.sh probe)"
      loader=$ORQ_WINE32_LOADER wrap=(scripts/wine32.sh)
      [ "$ORQ_WINE32_MODE" != none ] ;;
    win64)
      loader=/usr/lib/wine/wine64 wrap=()
      [ -x "$loader" ] && "$loader" --version >/dev/null 2>&1 ;;
  esac
}

windows_zip() {
  local dir=$1 toolchain
  echo "==== packaging: Windows zip (${dir}) ===="
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    case $dir in *64*) toolchain=cmake/toolchain-mingw64.cmake ;; *) toolchain=cmake/toolchain-mingw32.cmake ;; esac
    [ -f "$toolchain" ] || fail "$dir is not configured and $toolchain is missing"
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
      -DORQ_WERROR=ON >/dev/null
  fi
  cmake --build "$dir" -j "$jobs" --target ORQExtClient XSRClient XSRClientRecorder "${dotnet_target[@]}"
  rm -rf "$dir/packages"
  cpack --config "$dir/CPackConfig.cmake" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack (zip)"; }
  ! grep -i -A3 warning "$work/cpack.log" || fail "cpack (zip) warned"
  local zips=("$dir"/packages/ORQExtClient-"$version"-win*.zip)
  [ ${#zips[@]} -eq 1 ] && [ -f "${zips[0]}" ] || fail "$dir: expected one ORQExtClient-$version-win*.zip"
  local zip=${zips[0]} name
  name=$(basename "$zip" .zip)
  local winarch=${name##*-}
  local out=$work/$name
  mkdir -p "$out/unpacked"
  (cd "$out/unpacked" && cmake -E tar xf "$root/$zip")
  local z=$out/unpacked/$name
  for f in bin/ORQExtClient.dll bin/XSRClient.dll lib/libORQExtClient.dll.a lib/ORQExtClient.def \
    include/orqext.h include/orqext_version.h include/orqext_results.h docs/windows.md record/XSRClient.dll \
    examples/walkthrough.c examples/async_message.c examples/cluster_failover.c examples/cpp_walkthrough.cpp \
    examples/SegmentClassify.cs docs/dotnet.md; do
    [ -f "$z/$f" ] || fail "$name.zip lacks $f"
  done
  [ "$(grep -c '^    ORQExt_' "$z/lib/ORQExtClient.def")" -eq "$(grep -c '^ORQExt_' exports/orqext.exports)" ] ||
    fail "$name.zip: the .def does not list every export"
  ok "$name.zip: DLLs, import library, .def, headers, examples, docs/windows.md, docs/dotnet.md, the recorder (record/)"
  # The managed assembly (a PE file with a CLI header) beside the native DLL.
  [ -f "$z/bin/ORQExtClient.Net.dll" ] || fail "$name.zip lacks bin/ORQExtClient.Net.dll"
  [ -f "$z/bin/ORQExtClient.Net.xml" ] || fail "$name.zip lacks bin/ORQExtClient.Net.xml (the XML documentation)"
  file -b "$z/bin/ORQExtClient.Net.dll" | grep -q "Mono/.Net assembly" ||
    fail "$name.zip: bin/ORQExtClient.Net.dll is not a .NET assembly"
  ok "$name.zip: the .NET assembly bin/ORQExtClient.Net.dll"

  # The MinGW tools of this build (i686-w64-mingw32-, x86_64-w64-mingw32-).
  local cc tool
  cc=$(sed -n 's/^set(CMAKE_C_COMPILER "\(.*\)")$/\1/p' "$dir"/CMakeFiles/*/CMakeCCompiler.cmake | head -1)
  [ -x "$cc" ] || fail "$dir: no C compiler found ($cc)"
  tool=$(basename "$cc" | sed 's/-gcc.*$//')
  "$tool-objdump" -p "$z/record/XSRClient.dll" | grep -w XSR_OpenConn >/dev/null ||
    fail "$name.zip: record/XSRClient.dll exports no XSR_OpenConn"
  for dll in ORQExtClient XSRClient; do
    local rc_text
    rc_text=$("$tool-windres" -i "$z/bin/$dll.dll" -O rc 2>/dev/null) || fail "$dll.dll: no resources"
    for want in "FILEVERSION ${version//./, }, 0" "PRODUCTVERSION ${version//./, }, 0" \
      "VALUE \"FileVersion\", \"$version\"" "VALUE \"ProductVersion\", \"$version\"" \
      "VALUE \"ProductName\", \"ORQExtClient\"" "VALUE \"OriginalFilename\", \"$dll.dll\"" "VALUE \"FileDescription\""; do
      echo "$rc_text" | grep -qF "$want" || fail "$dll.dll version resource lacks: $want"
    done
  done
  ok "ORQExtClient.dll and XSRClient.dll carry version $version (file, product, description, name)"

  # A consumer from the zip's files alone, in a folder of its own.
  mkdir "$out/app"
  (cd "$out/app" &&
    "$cc" -std=c99 "${strict[@]}" -I"$z/include" "$z/examples/walkthrough.c" "$z/lib/libORQExtClient.dll.a" \
      -o orqext_example.exe && cp "$z/bin/ORQExtClient.dll" "$z/bin/XSRClient.dll" .) ||
    fail "$name: the example does not build from the zip"
  ok "$name: the example builds with $tool from the zip alone"
  local loader wrap
  if ! can_run "$winarch"; then
    echo "  SKIPPED: running the $winarch consumer under Wine (this machine's Wine cannot run $winarch programs)"
    return 0
  fi
  local wineprefix
  wineprefix=$(sed -n 's/^ORQ_WINE_PREFIX:PATH=//p' "$dir/CMakeCache.txt")
  [ -n "$wineprefix" ] || wineprefix=$out/wine
  "${wrap[@]}" sh tests/e2e/run_example.sh "$prefix/bin/xsr-sim" tests/e2e/c_example.expected \
    sh tests/windows/wine-run.sh "$loader" "$wineprefix" "$out/app/orqext_example.exe" >"$out/run.log" 2>&1 || {
    cat "$out/run.log"
    WINEPREFIX="$wineprefix" wineserver -k >/dev/null 2>&1 || true
    fail "$name: the example under Wine against xsr-sim"
  }
  WINEPREFIX="$wineprefix" wineserver -k >/dev/null 2>&1 || true
  WINEPREFIX="$wineprefix" wineserver -w >/dev/null 2>&1 || true
  ok "$name: the example runs under Wine with the zip's DLLs against xsr-sim"
}

windows_dirs=("$@")
if [ ${#windows_dirs[@]} -eq 0 ]; then
  windows_dirs=(build/windows)
  [ -f cmake/toolchain-mingw64.cmake ] && windows_dirs+=(build/windows64)
fi
for d in "${windows_dirs[@]}"; do
  windows_zip "$d"
done
echo "==== packaging: all checks passed ===="
