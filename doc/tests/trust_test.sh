#!/bin/bash
# What a script can trust of qzuconctl. A wrong password never gives status
# 0: a hundred consoles, each with another wrong password, send a command to
# a stand-in and each must end with status 2 (the share behind it is measured
# over 100,000 keys in protocol/health_test.cc); they run 25 at a time, side
# by side, to keep the test short. Then, with two consoles running, the
# guide's and the README's qzuconctl commands run as written, with this
# test's ports put in: they name their console, and the guide's wait for a
# confirmed session ends.
# Usage: trust_test.sh <qzucon> <qzstandin> <qzuconctl> <doc/guide.md> <README.md>
console=$(realpath "$1")
standin=$2
ctl=$3
guide=$4
readme=$5
. "$(dirname "$0")/lib.sh"

# start_console <folder> <own port> <tokens...>: a headless console in its
# own folder with its control socket there; output in <folder>/out.
start_console() {
  local dir=$1 my=$2
  shift 2
  mkdir -p "$dir"
  (cd "$dir" && exec "$console" "myaddr=127.0.0.1:$my" "$@") </dev/null >"$dir/out" 2>&1 &
  pids+=($!)
}

rounds=4 per_round=25 twos=0 others=
for ((r = 0; r < rounds; r++)); do
  start_standin "standin$r" right --rate 0 || { fail "stand-in $r starts"; exit; }
  first=${#pids[@]}
  for ((i = 0; i < per_round; i++)); do
    n=$((r * per_round + i))
    start_console "$scratch/w$n" "$(free_port)" "server=127.0.0.1:$standin_port" login=admin \
      "password=wrong-$n" "controlsocket=$scratch/w$n/ctl.sock"
  done
  ctls=()
  for ((i = 0; i < per_round; i++)); do
    n=$((r * per_round + i))
    # Its greeting has come: the wait sees what the server sends.
    wait_for "$scratch/w$n/out" "->" || { fail "console $n shows its greeting"; exit; }
    "$ctl" -S "$scratch/w$n/ctl.sock" send -w 3 status >"$scratch/w$n/ctl.out" 2>&1 &
    ctls+=($!)
  done
  for ((i = 0; i < per_round; i++)); do
    n=$((r * per_round + i))
    wait "${ctls[$i]}"
    status=$?
    if [ "$status" = 2 ]; then
      twos=$((twos + 1))
    else
      others+=" wrong-$n:$status"
    fi
  done
  # All at once: each console takes a second over its exit notices.
  kill -TERM "${pids[@]:first-1}" 2>/dev/null
  for pid in "${pids[@]:first-1}"; do stop_pid "$pid"; done
done
echo "wrong passwords: $twos of $((rounds * per_round)) sends ended with status 2${others:+; others:$others}"
check "a wrong password gives status 2, every time" [ "$twos" = $((rounds * per_round)) ]

# A wrong password whose greeting still looks like text: under this key the
# greeting's last byte turns into the NUL (one key in 256 does that to a
# body of its length). The stand-in meets the command's proof with a new
# challenge, and that tells. It challenges a console at most once a second,
# hence the pause before the command.
start_standin lucky right --rate 0 || { fail "stand-in lucky starts"; exit; }
start_console "$scratch/lucky" "$(free_port)" "server=127.0.0.1:$standin_port" login=admin \
  password=wrong-126 "controlsocket=$scratch/lucky/ctl.sock"
wait_for "$scratch/lucky/out" "->" || { fail "console lucky shows its greeting"; exit; }
check "wrong-126: its greeting is not taken for noise" \
  not grep -qF "**Password mismatch" "$scratch/lucky/out"
sleep 1.5
"$ctl" -S "$scratch/lucky/ctl.sock" send -w 5 status >"$scratch/lucky/ctl.out" 2>&1
status=$?
check "wrong-126: send ends with status 2 (was $status)" [ "$status" = 2 ]
check "wrong-126: the console says why" \
  grep -qF "it answered the password proof with a new challenge" "$scratch/lucky/out"

# Two consoles of this user, each with a stand-in of its own.
start_standin alpha pw-alpha || { fail "stand-in alpha starts"; exit; }
a=$standin_port
start_standin beta pw-beta || { fail "stand-in beta starts"; exit; }
b=$standin_port
my=$(free_port) other=$(free_port)
export XDG_RUNTIME_DIR=$scratch/run
mkdir -m 700 "$XDG_RUNTIME_DIR"
start_console "$scratch/one" "$my" "server=127.0.0.1:$a" login=admin password=pw-alpha
start_console "$scratch/two" "$other" "server=127.0.0.1:$b" login=admin password=pw-beta
for c in one two; do
  wait_for "$scratch/$c/out" "->qzstandin" || { fail "console $c hears its stand-in"; exit; }
done
PATH=$(dirname "$ctl"):$PATH
check "without -p, qzuconctl asks which console" not qzuconctl status
check "... and says why" sh -c 'qzuconctl status 2>&1 | grep -qF "consoles are running"'

# The guide's qzuconctl lines that name the console by its port, and the
# README's one-liner, with this test's ports: each ends with status 0.
ran=0
while IFS= read -r line; do
  line=${line#    }
  line=${line//24350/$my}
  line=${line//127.0.0.1:28100/127.0.0.1:$a}
  line=${line//192.0.2.10:28100/127.0.0.1:$a}
  start=$(date +%s%N)
  bash -c "$line"' && [[ ${answer-"->echo: status"} == *"->echo: status"* ]]' >"$scratch/line.out" 2>&1
  status=$?
  ms=$((($(date +%s%N) - start) / 1000000))
  echo "$ms ms: $line"
  check "as written, status 0 (was $status): $line" [ "$status" = 0 ]
  ran=$((ran + 1))
done < <(grep -hE "^    (answer=\\\$\\(|timeout 30 sh -c 'until )?qzuconctl -p 24350 " "$guide" "$readme")
check "the guide's and the README's examples were found ($ran)" [ "$ran" -ge 5 ]
