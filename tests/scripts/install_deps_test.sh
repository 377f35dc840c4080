#!/bin/sh
# scripts/install-deps.sh --windows (and --i386) against stand-ins for dpkg and apt-get:
# which packages it asks for, and how it takes apt's outcome. On a kernel
# without 32-bit support the i386 packages unpack but their install scripts
# and triggers fail with "Exec format error"; that must neither stop the
# script nor pass silently, while any other failure of apt must stop it.
#   install_deps_test.sh SCRIPT
script=$1
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"

# dpkg: installed packages are files in $STATE/installed (every package
# when $STATE/all exists).
cat >"$work/bin/dpkg" <<'STUB'
#!/bin/sh
case "$1" in
  -s) [ -e "$STATE/all" ] || [ -e "$STATE/installed/$2" ] ;;
  --print-foreign-architectures) cat "$STATE/archs" 2>/dev/null; exit 0 ;;
  --add-architecture) echo "$2" >>"$STATE/archs" ;;
  *) exit 2 ;;
esac
STUB
# apt-get install: installs every package not named in $STATE/fails, prints
# $STATE/output, exits with $STATE/rc.
cat >"$work/bin/apt-get" <<'STUB'
#!/bin/sh
[ "$1" = update ] && exit 0
echo "$*" >>"$STATE/apt-calls"
for a in "$@"; do
  case "$a" in -*|install) continue ;; esac
  grep -qx "$a" "$STATE/fails" 2>/dev/null || : >"$STATE/installed/$a"
done
cat "$STATE/output"
exit "$(cat "$STATE/rc")"
STUB
printf '#!/bin/sh\necho 0\n' >"$work/bin/id"
chmod +x "$work/bin/"*

fails=0
trigger_error='Setting up libglib2.0-0:i386 ...
/var/lib/dpkg/info/libglib2.0-0:i386.postinst: 42: /usr/lib/i386-linux-gnu/glib-2.0/glib-compile-schemas: Exec format error'
sign='this machine cannot run 32-bit programs'

# case NAME APT_RC APT_OUTPUT NOT_INSTALLED ALL_PRESENT(yes/no) EXPECTED_RC SIGN(yes/no)
case_() {
  name=$1 apt_rc=$2 apt_out=$3 not_installed=$4 all_present=$5 want_rc=$6 want_sign=$7
  STATE="$work/$name"
  export STATE
  mkdir -p "$STATE/installed"
  printf '%s\n' "$apt_out" >"$STATE/output"
  echo "$apt_rc" >"$STATE/rc"
  printf '%s\n' $not_installed >"$STATE/fails"
  [ "$all_present" = no ] || : >"$STATE/all"
  out=$(PATH="$work/bin:$PATH" bash "$script" --windows 2>&1)
  rc=$?
  problem=""
  [ "$rc" -eq "$want_rc" ] || problem="exit code $rc, expected $want_rc"
  if echo "$out" | grep -q "$sign"; then has_sign=yes; else has_sign=no; fi
  [ "$has_sign" = "$want_sign" ] || problem="$problem; line about 32-bit programs: $has_sign, expected $want_sign"
  if [ -n "$problem" ]; then
    echo "FAIL $name: $problem"
    echo "$out" | sed 's/^/    /'
    fails=$((fails + 1))
  else
    echo "ok   $name"
  fi
}

case_ clean_install          0   "done"           ""            no  0   no
case_ trigger_warns          0   "$trigger_error" ""            no  0   yes
case_ trigger_fails          100 "$trigger_error" "wine32:i386" no  0   yes
case_ other_failure          100 "E: Unable to locate package wine64" "wine64" no 100 no
case_ trigger_and_64bit_lost 100 "$trigger_error" "wine32:i386 g++-mingw-w64-x86-64-posix" no 1 no
case_ nothing_missing        0   "unused"         ""            yes 0   no

# What a fresh machine is asked to install: both cross toolchains and both
# Wine loaders, with the i386 architecture added for wine32.
calls="$work/clean_install/apt-calls"
for p in g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 g++-mingw-w64-i686-posix \
         wine wine64 wine32:i386; do
  if ! grep -qw -- "$p" "$calls"; then
    echo "FAIL clean_install: $p not installed"
    fails=$((fails + 1))
  fi
done
grep -qx i386 "$work/clean_install/archs" || { echo "FAIL clean_install: i386 not added"; fails=$((fails + 1)); }
[ ! -e "$work/nothing_missing/apt-calls" ] || { echo "FAIL nothing_missing: apt-get install ran"; fails=$((fails + 1)); }

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
