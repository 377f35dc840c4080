#!/usr/bin/env bash
# orqext's interactive shell on a real terminal, driven through tmux against
# xsr-sim: bare orqext opens it, the banner says whether line editing is on,
# the password prompt without echo (asked once), completion of commands and
# module names, a command's exit code in the next prompt, Ctrl-C at the
# prompt, at the password prompt and during a call, the history file (mode
# 0600, passwords masked), the end with "exit", with Ctrl-D and with a second
# Ctrl-C within a second.
# Batch mode and the shell's pieces are tested by ctest (shell_test.cpp).
# Skips, saying so, where tmux is missing.
#   scripts/test-orqext-shell.sh [BUILD_DIR]   (default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --shell || true
if ! command -v tmux >/dev/null 2>&1; then
  echo "orqext shell: SKIPPED: tmux is not installed (apt-get install tmux)"
  exit 0
fi
build=${1:-build/release}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j "$(nproc)" --target orqext xsr-sim >/dev/null

work=$(mktemp -d)
socket="orqext-shell-test-$$"
. tests/support/xsr_sim.sh
cleanup() {
  tmux -L "$socket" kill-server 2>/dev/null || true
  sim_stop
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "orqext shell: FAILED: $*" >&2
  echo "---- screen ----" >&2
  tmux -L "$socket" capture-pane -p -t shell 2>/dev/null >&2 || true
  exit 1
}
ok() { echo "  ok: $*"; }
screen() { tmux -L "$socket" capture-pane -p -J -t shell; }
# wait_for TEXT: until the screen shows TEXT (a fixed string), at most 20 s.
wait_for() {
  local i
  for i in $(seq 200); do
    screen | grep -qF -- "$1" && return 0
    sleep 0.1
  done
  fail "the screen never showed: $1"
}
keys() { tmux -L "$socket" send-keys -t shell "$@"; }
# pending: the number of answers the server holds pending, asked by a
# one-shot orqext of its own; wait_pending N: until it is N or more (the
# shell's call is under way), at most 20 s.
pending() {
  ORQEXT_PASSWORD=admin "$build/orqext" --port "$sim_port" send Sim stats 2>/dev/null | sed -n 's/^ *tickets=//p'
}
wait_pending() {
  local i
  for i in $(seq 200); do
    [ "$(pending)" -ge "$1" ] 2>/dev/null && return 0
    sleep 0.1
  done
  fail "no call became pending on the server"
}

# start_shell ARGS...: orqext in a new tmux session "shell" (the one before
# ended), without a password anywhere, with the port from ORQEXT_PORT.
start_shell() {
  tmux -L "$socket" kill-session -t shell 2>/dev/null || true
  tmux -L "$socket" new-session -d -s shell -x 160 -y 80 \
    "env -u ORQEXT_PASSWORD -u ORQEXT_PASSFILE ORQEXT_PORT=$sim_port HOME=$work/home $PWD/$build/orqext $*; echo shell-ended-\$?; sleep 30"
}

sim_start "$build/sim/xsr-sim" "$work/sim.log"
mkdir "$work/home"
# Bare orqext: the shell with the defaults; no password anywhere, so the
# shell asks for it on the terminal.
start_shell
wait_for "orqext> "
if grep -q '^ORQ_EDIT_LIBRARY:.*-NOTFOUND' "$build/CMakeCache.txt" 2>/dev/null; then
  screen | grep -qF "Line editing, history recall and Tab completion are off" || fail "the banner does not say line editing is off"
else
  screen | grep -qF "are off" && fail "the banner says line editing is off in a build with libedit"
fi
ok "bare orqext on a terminal opens the shell; the banner tells whether line editing is on"

keys "send Echo half-typed"
wait_for "orqext> send Echo half-typed"
keys C-c
keys "codes 0" Enter
wait_for "ORQEXT_OK"
screen | grep -qF "answer          half-typed" && fail "Ctrl-C ran the half-typed line"
screen | grep -qF "shell-ended" && fail "Ctrl-C at the prompt ended the shell"
ok "Ctrl-C at the prompt drops the line typed so far and the shell stays"

keys "send Echo first" Enter
wait_for "Password for admin@127.0.0.1:$sim_port: "
keys C-c
wait_for "the password prompt was given up; the command did not run"
wait_for "orqext [130]> "
screen | grep -qF "answer          first" && fail "the command ran after its password prompt was given up"
ok "Ctrl-C at the password prompt gives that prompt up"
# A clean screen and a prompt without an exit code for the checks below.
keys "codes 0" Enter
keys C-l

keys "modu" Tab
wait_for "orqext> module"
keys "li" Tab
wait_for "orqext> module list"
keys Enter
wait_for "Password for admin@127.0.0.1:$sim_port: "
keys "admin" Enter
wait_for "  Echo "
screen | grep -qF "admin@127.0.0.1:$sim_port: admin" && fail "the password was echoed"
ok "completion of 'modu' and 'li' to 'module list'; the password asked without echo"

keys "module info Ec" Tab
wait_for "orqext> module info Echo"
keys Enter
wait_for "Echo"
keys "send Echo 'hi there' --password admin" Enter
wait_for "answer          hi there"
[ "$(screen | grep -c 'Password for')" -eq 1 ] || fail "the password was asked for more than once"
ok "module names completed from the server; the password asked once per shell"

keys "module info NoSuch" Enter
wait_for "orqext [1]> "
keys "codes -1107" Enter
wait_for "ORQEXT_E_ANSWER_TOO_LONG"
wait_for "orqext> "
keys "help" Enter
wait_for "Commands:"
ok "a failing command's exit code (1) in the next prompt; help"

before=$(pending)
keys "send Script delay=20000" Enter
wait_pending $((before + 1))
keys C-c
wait_for "interrupted: the call was abandoned and its connection closed"
wait_for "orqext [130]> "
screen | grep -qF "shell-ended" && fail "Ctrl-C during a call ended the shell"
keys "send Echo after-interrupt" Enter
wait_for "answer          after-interrupt"
screen | grep -qF "opened a new connection to 127.0.0.1:$sim_port" || fail "the new connection was not announced"
ok "Ctrl-C during a call abandons it and closes its connection; the next command opens a new one"

keys "exit" Enter
wait_for "shell-ended-0"
hist=$work/home/.orqext_history
[ -f "$hist" ] || fail "no history file"
[ "$(stat -c %a "$hist")" = 600 ] || fail "history file mode $(stat -c %a "$hist")"
grep -qx "module list" "$hist" || fail "history lacks 'module list'"
grep -qF -- "--password ***" "$hist" || fail "history lacks the masked password"
grep -q "admin$" "$hist" && fail "a password in the history: $(cat "$hist")"
ok "history in ~/.orqext_history, mode 0600, passwords masked; 'exit' ends with 0"

start_shell --password admin
wait_for "orqext> "
keys C-d
wait_for "shell-ended-0"
ok "Ctrl-D at an empty prompt ends the shell"

start_shell --password admin
wait_for "orqext> "
before=$(pending)
keys "send Script delay=20000" Enter
wait_pending $((before + 1))
keys C-c
keys C-c
wait_for "shell-ended-130"
ok "a second Ctrl-C within a second ends the shell (exit code 130)"
echo "orqext shell: all checks passed"
