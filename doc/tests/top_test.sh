#!/bin/bash
# qzuconctl top in a real terminal: tmux runs it against a console with
# three stand-in servers tagged eu, eu and us, keys go in with send-keys and
# the screen comes back with capture-pane. The rows, the filter, a command
# to the selected server and to a filtered group (y and n), q, and a console
# that ends under the view.
# Usage: top_test.sh <qzucon> <qzstandin> <qzuconctl>
# Exit status 77: skipped (no tmux).
console=$1
standin=$2
ctl=$3
command -v tmux >/dev/null ||
  { echo "skipped: tmux is not installed (tools/check installs it as root)"; exit 77; }
. "$(dirname "$0")/lib.sh"

names=(eu1 eu2 us1)
tags=(eu eu us)
ports=()
# The us server's lines: UTF-8, and an escape sequence that would set the
# terminal's title if it got through.
export LANG=C.UTF-8
utf8_text=$(printf 'na\303\257ve \346\274\242\345\255\227 \033]2;pwned\007 end')
for n in "${names[@]}"; do
  extra=()
  [ "$n" = us1 ] && extra=(--text "$utf8_text")
  start_standin "$n" "pw-$n" "${extra[@]}" || { fail "stand-in $n starts"; exit; }
  ports+=("$standin_port")
done
sock=$scratch/ctl.sock
start_console() {  # start_console <dir>: the console for the three, headless
  local args=("myaddr=127.0.0.1:$(free_port)" "controlsocket=$sock" name=fleet) i
  for i in 0 1 2; do
    args+=("server=127.0.0.1:${ports[i]}" login=admin "password=pw-${names[i]}"
      "tag=${tags[i]}")
  done
  mkdir -p "$1"
  (cd "$1" && exec "$console" "${args[@]}") </dev/null >"$1/out" 2>&1 &
  cpid=$!
  pids+=("$cpid")
  for i in 0 1 2; do
    wait_for "$1/out" "qzstandin 127.0.0.1:${ports[i]} welcome" || return 1
  done
}
start_console "$scratch/console" || { fail "the console shows the three servers' lines"; exit; }

# A private tmux server; its pid joins the others, so it ends with the test.
tm() { tmux -S "$scratch/tmux.sock" "$@"; }
tm new-session -d -s top -x 100 -y 30 "bash --norc --noprofile" ||
  { fail "tmux starts"; exit; }
pids+=("$(tm display-message -p '#{pid}')")
tm set-option -g remain-on-exit on
screen() { tm capture-pane -p -t top; }
# shows <text> [seconds]: true once the screen holds the text.
shows() {
  local i
  for ((i = 0; i < ${2:-10} * 10; i++)); do
    screen | grep -qF -- "$1" && return 0
    sleep 0.1
  done
  return 1
}
# hides <text> [seconds]: true once the screen no longer holds the text.
hides() {
  local i
  for ((i = 0; i < ${2:-10} * 10; i++)); do
    screen | grep -qF -- "$1" || return 0
    sleep 0.1
  done
  return 1
}
# row <port> <tag> <state>: the screen has that server's row.
row() { screen | grep -qE "^ ?127\.0\.0\.1:$1 +$2 +$3 "; }
rows_within() {  # rows_within <seconds>: each server's row with its tag and state
  local i
  for ((i = 0; i < $1 * 10; i++)); do
    row "${ports[0]}" eu confirmed && row "${ports[1]}" eu confirmed &&
      row "${ports[2]}" us confirmed && return 0
    sleep 0.1
  done
  return 1
}
keys() { tm send-keys -t top "$@"; }
# The view's own command line, its status kept for when it ends.
start_view() {
  keys "clear; TERM=screen-256color $ctl -S $sock top; echo \"top ended: \$?\"" Enter
}

# How soon the rows come is measured, not asserted: a busy machine may be
# slow (the time is printed for the notes).
start_view
started=$(date +%s%N)
check "a row each with its tags and state" rows_within 15
echo "rows shown $((($(date +%s%N) - started) / 1000000)) ms after the view was started"
check "the head names the console and counts its servers up" shows "fleet 127.0.0.1:"
check "the head says 3 of 3 servers are up" shows "up 3/3"
screen >"$scratch/rows.screen"

# j j Enter: the third row by address, the highest port.
last=$(printf '%s\n' "${ports[@]}" | sort -n | tail -n 1)
keys j j Enter
check "j j Enter: the pane shows the third row's lines" shows "lines of 127.0.0.1:$last"
keys Enter
check "Enter again closes it" hides "lines of 127.0.0.1"
keys k k

keys /
keys -l us
check "/us: the us row" shows "filter: us"
check "/us: the us row is there" row "${ports[2]}" us confirmed
check "/us: no eu row" not grep -qE "127\.0\.0\.1:(${ports[0]}|${ports[1]}) " <(screen)
keys Enter
keys Enter
check "Enter: the pane shows the us server's lines" shows "lines of 127.0.0.1:${ports[2]}"
check "Enter: its live lines come" shows "127.0.0.1:${ports[2]} ->"
check "its UTF-8 shows as UTF-8" shows "$(printf 'na\303\257ve \346\274\242\345\255\227')"
check "the escape in its text does not reach the terminal" \
  [ "$(tm display-message -p -t top '#{pane_title}')" != pwned ]
keys :
keys -l topcmd
keys Enter
check ":topcmd: the us server gets it" wait_for "$scratch/us1.err" "text=topcmd"
check ":topcmd: its echo shows in the pane" shows "127.0.0.1:${ports[2]} ->echo: topcmd"
check ":topcmd: the eu servers do not get it" \
  [ "$(count_of "$scratch/eu1.err" text=topcmd)$(count_of "$scratch/eu2.err" text=topcmd)" = 00 ]
screen >"$scratch/pane.screen"
keys Enter
check "Enter again closes the pane" hides "lines of 127.0.0.1"

# @ on the two eu servers: n sends nothing, y sends to both.
keys Escape
keys /
keys -l eu
keys Enter
keys @
keys -l groupcmd
keys Enter
check "@: the question names two servers" shows 'send "groupcmd" to 2 servers? y/n'
keys n
check "n: nothing sent, and it says so" shows "nothing sent"
sleep 1
check "n: no server got the command" \
  not grep -qF text=groupcmd "$scratch/eu1.err" "$scratch/eu2.err" "$scratch/us1.err"
keys @
keys -l groupcmd
keys Enter
check "@ again: the question" shows 'send "groupcmd" to 2 servers? y/n'
keys y
for s in eu1 eu2; do
  check "y: $s gets the command" wait_for "$scratch/$s.err" text=groupcmd
done
check "y: the us server does not" not grep -qF text=groupcmd "$scratch/us1.err"
check "y: the echoes show in the pane" shows "->echo: groupcmd"
screen >"$scratch/group.screen"

# A smaller terminal: the view draws itself anew in it (the filter is eu).
widest() { screen | awk '{ if (length($0) > n) n = length($0) } END { print n + 0 }'; }
redrawn() {  # the eu rows and titles on a screen no wider than 80 columns
  local i
  for ((i = 0; i < 100; i++)); do
    row "${ports[0]}" eu confirmed && row "${ports[1]}" eu confirmed &&
      screen | grep -q ADDRESS && [ "$(widest)" -le 80 ] && return 0
    sleep 0.1
  done
  return 1
}
tm resize-window -t top -x 80 -y 24
check "resized to 80 x 24: titles and rows drawn anew within the new width" redrawn
tm resize-window -t top -x 100 -y 30

keys q
check "q: the view ends with status 0" shows "top ended: 0"
check "q: the terminal is back to the shell's screen" hides "ADDRESS"
keys -l "echo typed-after"
keys Enter
check "q: the shell reads keys as before" shows "typed-after"

# Ctrl-C ends it as q does.
start_view
check "Ctrl-C: the view runs" rows_within 10
keys C-c
check "Ctrl-C: the view ends with status 0" shows "top ended: 0"
check "Ctrl-C: the terminal is back to the shell's screen" hides "ADDRESS"

# The console ends under the view: it says so and ends with status 7.
start_view
check "the view runs again" rows_within 10
stop_pid "$cpid"
check "the console's end: the view ends with status 7" shows "top ended: 7" 15
check "the console's end: it says so" shows "qzuconctl: the console has ended"

# No terminal, or one that cannot place the cursor: a clear error, status 1.
"$ctl" -S "$sock" top </dev/null >"$scratch/noterm.out" 2>&1
check "no terminal: status 1" [ $? = 1 ]
check "no terminal: it says why" grep -qF "top needs a terminal" "$scratch/noterm.out"
keys "clear; TERM=dumb $ctl -S $sock top; echo \"dumb ended: \$?\"" Enter
check "TERM=dumb: status 1" shows "dumb ended: 1"
check "TERM=dumb: it says why" shows "TERM is dumb"
