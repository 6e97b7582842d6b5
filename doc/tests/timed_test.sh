#!/bin/bash
# Timed and rolling operations: the example qzucon-rolling-restart against
# stand-in servers (two tagged eu get the warnings, then the restart one
# after the other; the us one gets nothing), with minutes made short; its
# usage errors; then the timer pair qzucon-send@.service and .timer through
# systemd-analyze verify (skipped, with the reason, without it).
# Usage: timed_test.sh <qzucon> <qzstandin> <qzuconctl> <doc/examples> <doc/qzuconctl.1>
console=$(realpath "$1")
standin=$2
ctl=$(realpath "$3")
examples=$4
manpage=$5
. "$(dirname "$0")/lib.sh"

script=$examples/qzucon-rolling-restart
export QZUCONCTL=$ctl
tokens=("myaddr=127.0.0.1:$(free_port)" "controlsocket=$scratch/ctl.sock")
ports=()
for name in eu1 eu2 us; do
  # A "server ready" line every half second: what the restart waits for.
  start_standin "$name" pw --text "server ready" || { fail "stand-in $name starts"; exit; }
  ports+=("$standin_port")
  tokens+=("server=127.0.0.1:$standin_port" login=admin password=pw "tag=${name%[0-9]}")
done
(cd "$scratch" && exec "$console" "${tokens[@]}") </dev/null >"$scratch/console.out" 2>&1 &
pids+=($!)
for port in "${ports[@]}"; do
  wait_for "$scratch/console.out" "->qzstandin 127.0.0.1:$port welcome" ||
    { fail "the console reaches 127.0.0.1:$port"; exit; }
done

# texts <stand-in>: the commands it received, one a line.
texts() { sed -n 's/^qzstandin: command .* text=//p' "$scratch/$1.err"; }

# The default minutes, 10, 5 and 1, a tenth of a second each.
sh "$script" -S "$scratch/ctl.sock" -t eu -r restart -u 'ready$' -g 0 -n 0.1 \
  -m 'say restart in %m min' >"$scratch/restart.out" 2>"$scratch/restart.err"
status=$?
check "the rolling restart: exit status 0 (was $status)" [ "$status" -eq 0 ]
want=$'say restart in 10 min\nsay restart in 5 min\nsay restart in 1 min\nrestart'
for name in eu1 eu2; do
  check "$name: the three warnings, then the restart (got: $(texts $name | tr '\n' '|'))" \
    [ "$(texts $name)" = "$want" ]
done
check "the us server got nothing" [ -z "$(texts us)" ]
check "one result line for each eu server" \
  [ "$(grep -cE '^127\.0\.0\.1:[0-9]+ ok [0-9.]+ s$' "$scratch/restart.out")" -eq 2 ]
check "eu1's turn ended before eu2's" [ "$(grep -n ' ok ' "$scratch/restart.out" |
  sed -n 's/^\([0-9]*\):127\.0\.0\.1:\([0-9]*\) .*/\2/p' | tr '\n' ' ')" = "${ports[0]} ${ports[1]} " ]

# Its own minutes, and a line that never comes: --until's status, 8.
sh "$script" -S "$scratch/ctl.sock" -t us -r restart -u 'never' -T 1 -w '2 1' -n 0.1 \
  >"$scratch/late.out" 2>"$scratch/late.err"
status=$?
check "a server that is not back in time: exit status 10 (was $status)" [ "$status" -eq 10 ]
check "... its warnings as asked (got: $(texts us | tr '\n' '|'))" \
  [ "$(texts us)" = $'say Server restart in 2 minute(s)\nsay Server restart in 1 minute(s)\nrestart' ]

for args in "-t eu -r restart" "-S $scratch/ctl.sock -r restart -u x" \
  "-S $scratch/ctl.sock -t eu -r restart -u x -w soon" "-S $scratch/ctl.sock -t eu -r x -u x y"; do
  # shellcheck disable=SC2086 # the words are the point
  sh "$script" $args >/dev/null 2>"$scratch/usage.err"
  status=$?
  check "usage error '$args': status 1 (was $status)" [ "$status" -eq 1 ]
done

if ! command -v systemd-analyze >/dev/null; then
  echo "skipped: systemd-analyze verify of the timer pair: systemd-analyze is not installed"
  exit
fi
# As for qzucon@.service: the program pinned to the one built here, the
# Documentation= page where man finds it.
mkdir -p "$scratch/man/man1" "$scratch/units"
cp "$manpage" "$scratch/man/man1/"
sed "s|^ExecStart=qzuconctl |ExecStart=$ctl |" "$examples/qzucon-send@.service" \
  >"$scratch/units/qzucon-send@nightly.service"
cp "$examples/qzucon-send@.timer" "$scratch/units/qzucon-send@nightly.timer"
MANPATH=$scratch/man systemd-analyze verify "$scratch/units/qzucon-send@nightly.service" \
  "$scratch/units/qzucon-send@nightly.timer" >"$scratch/verify.out" 2>&1
status=$?
check "systemd-analyze verify: status 0 (was $status)" [ "$status" -eq 0 ]
check "systemd-analyze verify: nothing to say ($(tr '\n' ' ' <"$scratch/verify.out"))" \
  [ ! -s "$scratch/verify.out" ]
