#!/usr/bin/env bash
# kvsdk watch in a real terminal (tmux) while a host plays effects: the colour the host set shows
# as a true-colour swatch, a trace cut short is read afresh, a resize redraws at the new size,
# and q and Ctrl-C both leave the screen and the terminal's settings as they were.
#   watch-tmux-test.sh <kvsdk executable> <scratch folder>      exit 77: skipped (no tmux)
set -euo pipefail
kvsdk=$1 work=$2
command -v tmux >/dev/null || { echo "SKIPPED: tmux is not installed"; exit 77; }
rm -rf "$work" && mkdir -p "$work" && cd "$work"
echo 'mouse \\?\hid#vid_7a3e&pid_0e59&mi_00#1#{378de44c-56ef-11d1-bc8c-00a0c91405dd}' >sim.txt
export KVSDK_SIM=$PWD/sim.txt KVSDK_SIM_TRACE=$PWD/trace.txt
socket="kvsdk-watch-test-$$"
t() { tmux -L "$socket" "$@"; }
trap 't kill-server 2>/dev/null || true' EXIT
t -f /dev/null new-session -d -x 40 -y 20 -e COLORTERM=truecolor "bash --norc --noprofile"

fail() {
  echo "FAIL: $1; the pane shows:"
  t capture-pane -p
  exit 1
}
# shows <pattern> [capture-pane option]: the pane shows the pattern within ten seconds.
shows() {
  for _ in $(seq 100); do
    t capture-pane -p ${2:-} | grep -qE -- "$1" && return 0
    sleep 0.1
  done
  fail "never showed '$1'"
}

for quit in q C-c; do
  : >trace.txt
  t resize-window -x 40
  t send-keys "clear; echo BEFORE; s=\$(stty -g); $kvsdk watch; echo AFTER=\$? \$([ \"\$s\" = \"\$(stty -g)\" ] && echo settings-kept)" Enter
  shows "kvsdk watch"
  "$kvsdk" set blink --product pell_mouse_0e59 --light 1 --count 3 --off 100 --on 100 >/dev/null &
  "$kvsdk" set color --product pell_mouse_0e59 --light 1 --rgb 255,80,0 >/dev/null
  wait
  shows "light 0x01 +on +#FF5000"
  shows "48;2;255;80;0m" -e
  : >trace.txt
  shows "No device has been called yet"
  t capture-pane -p | grep -q "q quits" && fail "the first line is not cut at 40 columns"
  t resize-window -x 120
  shows "q quits"  # drawn again at the new width
  t send-keys "$quit"
  shows "AFTER=0 settings-kept"
  t capture-pane -p | grep -q BEFORE || fail "the screen before watch did not come back ($quit)"
done
echo "PASSED"
