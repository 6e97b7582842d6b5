#!/bin/bash
# Rotation by rename loses no line: while the load tool sends numbered log
# lines to a console, the per-server log file is renamed the way logrotate
# does it. Every line then sits in exactly one of the two files, and the
# console has made the new file itself, with the mode its umask gives.
# Usage: rotate_test.sh <qzload> <qzucon>
load=$1
console=$2
. "$(dirname "$0")/lib.sh"

dir=$scratch/console
mkdir -p "$dir"
count=200
# 20 lines a second for 10 s: the rename falls well inside the run.
(umask 077 && exec "$load" --console "$console" --dir "$dir" --rate 20 --count $count \
  --timeout-ms 2000 --label rotate) >"$scratch/load.out" 2>"$scratch/load.err" &
lpid=$!
pids+=("$lpid")

log=
for ((i = 0; i < 300 && ${#log} == 0; i++)); do
  log=$(find "$dir" -maxdepth 1 -name '127_0_0_1_*.log' -printf '%f\n' 2>/dev/null | head -n 1)
  [ -n "$log" ] || sleep 0.1
done
[ -n "$log" ] || { fail "the console writes a per-server log file"; exit; }
check "50 lines arrive before the rename" wait_for "$dir/$log" "->load " 30 50
mv "$dir/$log" "$dir/$log.1"
ok "renamed $log to $log.1"

if wait_gone "$lpid" 60; then
  ok "the load tool ends"
else
  fail "the load tool ends"
fi
check "the load tool sent every line" grep -q "sent=$count " "$scratch/load.out"
check "lines went on after the rename" grep -qF -- "->load " "$dir/$log"
seqs() { sed -n 's/.*->load \([0-9]*\) .*/\1/p' "$dir/$log.1" "$dir/$log" | sort -n; }
check "no line is lost or doubled across the two files" \
  [ "$(seqs | tr '\n' ' ')" = "$(seq 1 $count | tr '\n' ' ')" ]
check "the new file is the console's own, mode 0600 under umask 077" \
  [ "$(stat -c %a "$dir/$log")" = 600 ]
