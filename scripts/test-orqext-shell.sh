#!/usr/bin/env bash
# orqext's interactive shell on a real terminal, driven through tmux against
# xsr-sim: the password prompt without echo (asked once), completion of
# commands and module names, a command's exit code in the next prompt, the
# history file (mode 0600, passwords masked) and the end with "exit".
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

sim_start "$build/sim/xsr-sim" "$work/sim.log"
mkdir "$work/home"
# No password anywhere: the shell asks for it on the terminal.
tmux -L "$socket" new-session -d -s shell -x 160 -y 50 \
  "env -u ORQEXT_PASSWORD -u ORQEXT_PASSFILE HOME=$work/home $PWD/$build/orqext --port $sim_port; echo shell-ended-\$?; sleep 30"
wait_for "orqext> "
ok "a shell on a terminal"

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

keys "exit" Enter
wait_for "shell-ended-0"
hist=$work/home/.orqext_history
[ -f "$hist" ] || fail "no history file"
[ "$(stat -c %a "$hist")" = 600 ] || fail "history file mode $(stat -c %a "$hist")"
grep -qx "module list" "$hist" || fail "history lacks 'module list'"
grep -qF -- "--password ***" "$hist" || fail "history lacks the masked password"
grep -q "admin$" "$hist" && fail "a password in the history: $(cat "$hist")"
ok "history in ~/.orqext_history, mode 0600, passwords masked; 'exit' ends with 0"
echo "orqext shell: all checks passed"
