#!/bin/sh
# scripts/install-deps.sh --windows (and --i386) against stand-ins for dpkg, apt-get, sudo,
# id and timeout (the last one answers the 32-bit probe as the case says).
# Checked: which packages it asks for, that the i386 architecture is added
# and wine32 asked for only where 32-bit programs run (where they do not,
# it says nothing: scripts/wine32.sh gives the one line about 32-bit Wine;
# it warns of upgrades before installing), that apt runs
# without questions or progress noise also through sudo, and how it takes
# apt's outcome: on a kernel without 32-bit support the i386 packages unpack
# but their install scripts fail with "Exec format error", which must neither
# stop the script nor pass silently, while any other failure of apt must stop
# it. The probe program itself is run under qemu-i386 where that is
# installed: it must be a 32-bit program that ends with exit code 0.
#   install_deps_test.sh SCRIPT
script=$1
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"

# dpkg: installed packages are files in $STATE/installed; with $STATE/all
# every package but those listed in $STATE/absent. Calls go to dpkg-calls.
cat >"$work/bin/dpkg" <<'STUB'
#!/bin/sh
echo "$*" >>"$STATE/dpkg-calls"
case "$1" in
  -s) ! grep -qx "$2" "$STATE/absent" 2>/dev/null &&
        { [ -e "$STATE/all" ] || [ -e "$STATE/installed/$2" ]; } ;;
  --print-foreign-architectures) cat "$STATE/archs" 2>/dev/null; exit 0 ;;
  --add-architecture) echo "$2" >>"$STATE/archs" ;;
  *) exit 2 ;;
esac
STUB
# apt-get: logs each call with the settings it got from its environment;
# install installs every package not named in $STATE/fails, prints a mark and
# $STATE/output, exits with $STATE/rc.
cat >"$work/bin/apt-get" <<'STUB'
#!/bin/sh
echo "DEBIAN_FRONTEND=${DEBIAN_FRONTEND:-} DEBCONF_NOWARNINGS=${DEBCONF_NOWARNINGS:-} $*" >>"$STATE/apt-calls"
case " $* " in *" install "*) ;; *) exit 0 ;; esac
for a in "$@"; do
  case "$a" in -*|install|Dpkg::*) continue ;; esac
  grep -qx "$a" "$STATE/fails" 2>/dev/null || : >"$STATE/installed/$a"
done
echo "apt-get install ran"
cat "$STATE/output"
exit "$(cat "$STATE/rc")"
STUB
# sudo drops the caller's environment, as its env_reset does.
cat >"$work/bin/sudo" <<'STUB'
#!/bin/sh
exec env -u DEBIAN_FRONTEND -u DEBCONF_NOWARNINGS "$@"
STUB
printf '#!/bin/sh\ncat "$STATE/uid"\n' >"$work/bin/id"
# timeout LIMIT PROGRAM: keeps a copy of the probe; runs it as the kernel of
# the case would ($STATE/can32: yes or no).
cat >"$work/bin/timeout" <<'STUB'
#!/bin/sh
cp "$2" "$STATE/probe"
[ "$(cat "$STATE/can32")" = yes ] && exit 0
echo "$2: cannot execute binary file: Exec format error" >&2
exit 126
STUB
chmod +x "$work/bin/"*

fails=0
fail() {
  echo "FAIL $name: $*"
  fails=$((fails + 1))
}
trigger_error='Setting up libglib2.0-0:i386 ...
/var/lib/dpkg/info/libglib2.0-0:i386.postinst: 42: /usr/lib/i386-linux-gnu/glib-2.0/glib-compile-schemas: Exec format error'
sign='this machine cannot run 32-bit programs'
upgrade_note='apt may upgrade installed packages'

# case_ NAME CAN32 UID APT_RC APT_OUTPUT NOT_INSTALLED PRESENT EXPECTED_RC SIGN
#   CAN32 yes/no: whether the probe runs; PRESENT: none, all, or all-but-wine32
#   (installed beforehand); SIGN yes/no: the line about 32-bit programs.
case_() {
  name=$1 can32=$2 uid=$3 apt_rc=$4 apt_out=$5 not_installed=$6 present=$7 want_rc=$8 want_sign=$9
  STATE="$work/$name"
  export STATE
  mkdir -p "$STATE/installed"
  echo "$can32" >"$STATE/can32"
  echo "$uid" >"$STATE/uid"
  printf '%s\n' "$apt_out" >"$STATE/output"
  echo "$apt_rc" >"$STATE/rc"
  printf '%s\n' $not_installed >"$STATE/fails"
  case "$present" in
    all) : >"$STATE/all" ;;
    all-but-wine32) : >"$STATE/all"; echo wine32:i386 >"$STATE/absent" ;;
  esac
  out=$(PATH="$work/bin:$PATH" bash "$script" --windows 2>&1)
  rc=$?
  echo "$out" >"$STATE/out"
  before=$fails
  [ "$rc" -eq "$want_rc" ] || fail "exit code $rc, expected $want_rc"
  if echo "$out" | grep -q "$sign"; then has_sign=yes; else has_sign=no; fi
  [ "$has_sign" = "$want_sign" ] || fail "line about 32-bit programs: $has_sign, expected $want_sign"
  # Every apt-get call quiet and without questions, also through sudo.
  if [ -e "$STATE/apt-calls" ]; then
    grep -v 'DEBIAN_FRONTEND=noninteractive DEBCONF_NOWARNINGS=yes .*-qq -o Dpkg::Use-Pty=0 -o Dpkg::Progress-Fancy=0' \
      "$STATE/apt-calls" | sed 's/^/    /' | grep . && fail "apt-get called without the quiet, non-interactive settings"
  fi
  if [ "$can32" = no ]; then
    grep -q -- --add-architecture "$STATE/dpkg-calls" && fail "dpkg --add-architecture called"
    grep -q wine32 "$STATE/apt-calls" 2>/dev/null && fail "wine32 asked for"
  fi
  [ "$fails" -eq "$before" ] && echo "ok   $name" || echo "$out" | sed 's/^/    /'
}

#     NAME                   CAN32 UID  APT_RC APT_OUTPUT   NOT_INSTALLED  PRESENT EXPECTED_RC SIGN
case_ clean_install          yes   0    0   "done"           ""             none    0   no
case_ clean_install_as_user  yes   1000 0   "done"           ""             none    0   no
case_ trigger_warns          yes   0    0   "$trigger_error" ""             none    0   yes
case_ trigger_fails          yes   0    100 "$trigger_error" "wine32:i386"  none    0   yes
case_ other_failure          yes   0    100 "E: Unable to locate package wine64" "wine64" none 100 no
case_ trigger_and_64bit_lost yes   0    100 "$trigger_error" "wine32:i386 g++-mingw-w64-x86-64-posix" none 1 no
case_ nothing_missing        yes   0    0   "unused"         ""             all     0   no
case_ no32_clean_install     no    0    0   "done"           ""             none    0   no
case_ no32_as_user           no    1000 0   "done"           ""             none    0   no
case_ no32_only_wine32_lacks no    0    0   "unused"         ""             all-but-wine32 0 no

# What a fresh machine that runs 32-bit programs is asked to install: both
# cross toolchains and both Wine loaders, with the i386 architecture added
# for wine32, after a line that warns of upgrades; without 32-bit programs
# the same but wine32 and the i386 architecture.
for name in clean_install no32_clean_install; do
  calls="$work/$name/apt-calls"
  for p in g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 g++-mingw-w64-i686-posix wine wine64 cmake; do
    grep -qw -- "$p" "$calls" || fail "$p not installed"
  done
done
name=clean_install
grep -qx i386 "$work/$name/archs" || fail "i386 not added"
grep -q 'install.* wine32:i386' "$work/$name/apt-calls" || fail "wine32:i386 not installed"
note=$(grep -n "$upgrade_note" "$work/$name/out" | cut -d: -f1)
mark=$(grep -n 'apt-get install ran' "$work/$name/out" | cut -d: -f1)
[ -n "$note" ] && [ -n "$mark" ] && [ "$note" -lt "$mark" ] || fail "no line about upgrades before installing"
for name in no32_clean_install nothing_missing no32_only_wine32_lacks; do
  grep -q "$upgrade_note" "$work/$name/out" && fail "warns of upgrades without adding i386"
done
for name in nothing_missing no32_only_wine32_lacks; do
  [ ! -e "$work/$name/apt-calls" ] || fail "apt-get ran"
done
name=nothing_missing
[ ! -e "$work/$name/probe" ] || fail "probed with wine32 installed"

# The probe program: a 32-bit x86 program that exits with 0.
name=probe
probe="$work/clean_install/probe"
if [ ! -f "$probe" ]; then
  fail "no probe was run"
elif command -v qemu-i386 >/dev/null 2>&1; then
  qemu-i386 "$probe" || fail "the probe under qemu-i386 exits with $?"
else
  echo "(qemu-i386 not installed: the probe program itself not run)"
fi
[ ! -f "$probe" ] || head -c 5 "$probe" | od -An -tx1 | grep -q '7f 45 4c 46 01' || fail "not a 32-bit ELF file"

# --i386: the cross compiler and the emulator, without the i386
# architecture (nothing of it is needed).
STATE="$work/i386"
export STATE
mkdir -p "$STATE/installed"
echo done >"$STATE/output"
echo 0 >"$STATE/rc"
: >"$STATE/fails"
PATH="$work/bin:$PATH" bash "$script" --i386 >/dev/null 2>&1 || { echo "FAIL i386: exit code $?"; fails=$((fails + 1)); }
for p in g++-i686-linux-gnu qemu-user; do
  grep -qw -- "$p" "$STATE/apt-calls" || { echo "FAIL i386: $p not installed"; fails=$((fails + 1)); }
done
[ ! -s "$STATE/archs" ] || { echo "FAIL i386: architecture added: $(cat "$STATE/archs")"; fails=$((fails + 1)); }

[ "$fails" -eq 0 ]
