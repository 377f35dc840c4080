#!/usr/bin/env bash
# 32-bit Wine for the steps that run 32-bit Windows programs (the Windows
# step, the benchmarks' and the packaging step's runs under Wine), and for a
# developer's run by hand (docs/windows.md):
#
#   scripts/wine32.sh probe            prints the one line of its verdict and
#                                      the verdict as shell assignments
#   scripts/wine32.sh COMMAND [ARG...] runs COMMAND where 32-bit Wine runs;
#                                      ORQ_WINE32_LOADER names the loader
#
# In this order of preference:
#   native    the machine runs 32-bit programs and wine32 is installed: the
#             loader is `wine`, as Debian installs it;
#   emulated  the kernel cannot run them (or wine32 is missing), but a user
#             and mount namespace of our own can have a binfmt_misc instance
#             of its own (Linux 6.7 and later): there i386 programs run with a
#             static qemu-i386, for the processes inside only. Debian's i386
#             Wine is unpacked into build/wine32/root (downloaded with apt
#             under a state of its own, never installed), and qemu-i386 comes
#             from the backports suite of the machine's own mirror
#             (stable's qemu 7.2 ignores MAP_FIXED_NOREPLACE and takes
#             minutes to start each Wine process). Downloaded once, reused;
#   none      one of these is missing: the verdict names which.
#
# Nothing outside build/ changes: no architecture is added to dpkg, no suite
# to the machine's sources, apt's state, cache, status file and lock are
# build/wine32's own, and the binfmt_misc registration lives and dies with the
# namespace.
#
# The probe runs once per test command: scripts/test.sh runs it and exports
# ORQ_WINE32_MODE (and the rest of the verdict); a step run on its own probes
# by itself. ORQ_ASSUME_NO_32BIT=1 makes the verdict "none" without trying.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dir=${ORQ_WINE32_DIR:-$root/build/wine32}
tree=$dir/root
qemu=$dir/qemu-i386
# What the 32-bit loader of Debian's package is called inside its tree.
tree_loader=$tree/usr/lib/wine/wine
probe_limit=60  # seconds for `wine --version`; under emulation it takes about 1

# The settings that keep apt off the machine's own state: its lists, cache,
# status file and locks all live in build/wine32/apt-<name>.
apt_private() {  # NAME ARCH SOURCES_FILE apt-get arguments...
  local name=$1 arch=$2 sources=$3 state
  shift 3
  state=$dir/apt-$name
  mkdir -p "$state/lists/partial" "$state/archives/partial" "$state/sources.list.d" "$state/preferences.d"
  [ -f "$state/status" ] || : >"$state/status"
  apt-get -q -o Dir::State="$state" -o Dir::State::status="$state/status" -o Dir::Cache="$state" \
    -o Dir::Cache::archives="$state/archives" -o Dir::Etc::SourceList="$sources" \
    -o Dir::Etc::SourceParts="$state/sources.list.d" -o Dir::Etc::PreferencesParts="$state/preferences.d" \
    -o APT::Architecture="$arch" -o APT::Architectures::="$arch" -o APT::Get::AllowUnauthenticated=false \
    -o Dpkg::Use-Pty=0 "$@"
}

# The machine's own Debian sources, as apt sees them (whatever the format of
# its files): "URI SUITE" for every suite of the main component.
host_suites() {
  apt-cache policy 2>/dev/null |
    awk '$2 ~ /^(https?|file):/ && $3 ~ /\/main$/ { sub(/\/main$/, "", $3); print $2, $3 }' | sort -u
}

# Downloads and unpacks what emulation needs, once: build/wine32/root (wine32
# and its i386 dependencies) and build/wine32/qemu-i386. Sets `reason` and
# returns 1 when that cannot be done.
fetch() {
  local codename keyring suites opts=() wine_version start=$SECONDS
  wine_version=$(dpkg-query -W -f '${Version}' wine64 2>/dev/null) || { reason="wine64 is not installed"; return 1; }
  # Made for this version of wine64: nothing to do.
  [ "$(cat "$dir/ready" 2>/dev/null)" = "$wine_version" ] && return 0
  command -v apt-get >/dev/null && command -v dpkg-deb >/dev/null || { reason="no apt here"; return 1; }
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  suites=$(host_suites)
  [ -n "$codename" ] && [ -n "$suites" ] || { reason="apt knows no Debian suite of this machine"; return 1; }
  keyring=/usr/share/keyrings/debian-archive-keyring.gpg
  [ -f "$keyring" ] && opts=("signed-by=$keyring")
  mkdir -p "$dir"
  rm -rf "$tree"
  # wine32 at exactly the version of the machine's wine64: the 32-bit loader
  # talks to wine64's wineserver.
  echo "$suites" | awk -v o="${opts[*]:+[${opts[*]}] }" '{ print "deb " o $1, $2, "main" }' >"$dir/sources-i386.list"
  echo "$suites" | awk -v o="${opts[*]:+[${opts[*]}] }" -v c="$codename" \
    '$2 == c { print "deb " o $1, c "-backports", "main"; exit }' >"$dir/sources-backports.list"
  echo "wine32: downloading 32-bit Wine ${wine_version} and qemu-i386 from ${codename}-backports into ${dir#"$root"/} (once)" >&2
  apt_private i386 i386 "$dir/sources-i386.list" update -qq >"$dir/apt.log" 2>&1 &&
    apt_private i386 i386 "$dir/sources-i386.list" install -qq -d -y --no-install-recommends \
      "wine32=${wine_version}" "libz-mingw-w64" >>"$dir/apt.log" 2>&1 &&
    apt_private backports amd64 "$dir/sources-backports.list" update -qq >>"$dir/apt.log" 2>&1 &&
    apt_private backports amd64 "$dir/sources-backports.list" install -qq -d -y --no-install-recommends \
      -t "${codename}-backports" qemu-user >>"$dir/apt.log" 2>&1 || {
    reason="apt could not download 32-bit Wine or qemu-user (${dir#"$root"/}/apt.log: $(grep -m1 '^E:' "$dir/apt.log" || tail -n1 "$dir/apt.log"))"
    return 1
  }
  local deb
  mkdir -p "$tree" "$dir/qemu"
  for deb in "$dir"/apt-i386/archives/*.deb; do
    dpkg-deb -x "$deb" "$tree" || { reason="dpkg-deb could not unpack $deb"; return 1; }
  done
  dpkg-deb -x "$(ls "$dir"/apt-backports/archives/qemu-user_*.deb | head -n1)" "$dir/qemu" &&
    cp "$dir/qemu/usr/bin/qemu-i386" "$qemu" || { reason="no qemu-i386 in the backports' qemu-user"; return 1; }
  rm -rf "$dir/qemu"
  # What the packages' install scripts would have done: libwine's copy of
  # zlib1.dll (from libz-mingw-w64) into Wine's folder, marked as a builtin
  # of Wine's (its signature at offset 64, as libwine's install script writes
  # it), and the loader's cache of the tree's libraries.
  local zlib=$tree/usr/i686-w64-mingw32/lib/zlib1.dll
  mkdir -p "$tree/etc"
  printf '/lib/i386-linux-gnu\n/usr/lib/i386-linux-gnu\n' >"$tree/etc/ld.so.conf"
  { head -c 64 "$zlib" && printf 'Wine builtin DLL' && head -c 16 /dev/zero && tail -c +97 "$zlib"; } \
      >"$tree/usr/lib/i386-linux-gnu/wine/i386-windows/zlib1.dll" &&
    ldconfig -r "$tree" || { reason="the unpacked 32-bit Wine could not be set up"; return 1; }
  du -sm "$dir/apt-i386/archives" "$dir/apt-backports/archives" | awk '{ s += $1 } END { print s }' >"$dir/download-mb"
  # Only the tree and qemu-i386 are kept: not the packages, apt's lists, or
  # the tree's documentation and translations.
  rm -rf "$dir"/apt-i386 "$dir"/apt-backports "$tree/usr/share/doc" "$tree/usr/share/man" "$tree/usr/share/locale"
  echo "$((SECONDS - start))" >"$dir/download-seconds"
  echo "$wine_version" >"$dir/ready"
}

# The i386 ELF header (executables and position-independent ones), as
# binfmt_misc reads it: magic and mask.
i386_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
i386_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

# Runs a command in a user and mount namespace of its own whose binfmt_misc
# hands i386 programs to build/wine32/qemu-i386 (flags: P keeps argv[0], O
# and F open the program and qemu-i386 for it, so the interpreter need not be
# found again inside), with the unpacked tree as the emulated programs' root
# for their libraries, and wine64's wineserver for the 32-bit loader (the
# tree's own wineserver script looks on the machine only).
in_namespace() {
  QEMU_LD_PREFIX=$tree WINESERVER=/usr/lib/wine/wineserver64 \
    unshare --user --map-root-user --mount --fork -- sh -c '
      mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc &&
        printf "%s" "$1" >/proc/sys/fs/binfmt_misc/register || exit 125
      shift
      exec "$@"' sh ":orq-i386:M::${i386_magic}:${i386_mask}:${qemu}:POF" "$@"
}

kernel_has_private_binfmt() {  # Linux 6.7 and later
  local major minor
  IFS=. read -r major minor _ <<<"$(uname -r)"
  [ "${major:-0}" -gt 6 ] || { [ "${major:-0}" -eq 6 ] && [ "${minor%%[!0-9]*}" -ge 7 ]; }
}

# Sets mode (native, emulated or none), loader and reason.
decide() {
  local out rc=0
  mode=none loader="" reason=""
  if [ "${ORQ_ASSUME_NO_32BIT:-0}" != 0 ]; then
    reason="ORQ_ASSUME_NO_32BIT=${ORQ_ASSUME_NO_32BIT} says so"
    return 0
  fi
  if dpkg -s wine32:i386 >/dev/null 2>&1; then
    out=$(WINEDEBUG=-all timeout -k 5 "$probe_limit" wine --version 2>&1) || rc=$?
    if [ "$rc" -eq 0 ]; then
      mode=native loader=wine
      return 0
    fi
  fi
  if ! kernel_has_private_binfmt; then
    reason="no 32-bit Wine installed, and the kernel ($(uname -r)) is older than 6.7, which gives a namespace a binfmt_misc of its own"
  elif ! unshare --user --map-root-user --mount true 2>/dev/null; then
    reason="no 32-bit Wine installed, and no user namespaces here (unshare --user failed) for a private binfmt_misc"
  elif ! command -v apt-get >/dev/null; then
    reason="no 32-bit Wine installed, and no apt to download it"
  elif fetch; then
    rc=0
    out=$(WINEDEBUG=-all in_namespace timeout -k 5 "$probe_limit" "$tree_loader" --version 2>&1) || rc=$?
    if [ "$rc" -eq 0 ]; then
      mode=emulated loader=$tree_loader
      return 0
    fi
    reason="the 32-bit Wine loader did not start under emulation (exit code $rc: $(echo "$out" | head -n1))"
  fi
  [ "$mode" = none ] && [ -n "$reason" ] || reason="no 32-bit Wine"
}

# The verdict: taken from the caller (scripts/test.sh probes once for all of
# its steps) or found here, then printed in one line.
verdict() {
  if [ -n "${ORQ_WINE32_MODE:-}" ]; then
    mode=$ORQ_WINE32_MODE loader=${ORQ_WINE32_LOADER:-} reason=${ORQ_WINE32_REASON:-}
    return 0
  fi
  decide
  case "$mode" in
    native) echo "wine32: 32-bit Windows programs run natively (wine32 is installed)" >&2 ;;
    emulated)
      echo "wine32: 32-bit Windows programs run under 32-bit Wine on user-mode emulation (qemu-i386 in a namespace of its own; ${dir#"$root"/}: $(cat "$dir/download-mb") MB downloaded once in $(cat "$dir/download-seconds") s)" >&2 ;;
    none) echo "wine32: 32-bit Windows programs cannot run here: ${reason}" >&2 ;;
  esac
}

case "${1:-}" in
  probe)
    verdict
    printf 'export ORQ_WINE32_MODE=%q ORQ_WINE32_LOADER=%q ORQ_WINE32_REASON=%q\n' "$mode" "$loader" "$reason" ;;
  "")
    echo "usage: scripts/wine32.sh probe | scripts/wine32.sh COMMAND [ARG...]" >&2
    exit 2 ;;
  *)
    verdict
    export ORQ_WINE32_MODE=$mode ORQ_WINE32_LOADER=$loader ORQ_WINE32_REASON=$reason WINEARCH=win32
    case "$mode" in
      native) exec "$@" ;;
      emulated) in_namespace "$@" ;;
      *) echo "wine32.sh: no 32-bit Wine here: ${reason}" >&2; exit 125 ;;
    esac ;;
esac
