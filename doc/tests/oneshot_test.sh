#!/bin/bash
# The example script qzucon-oneshot against a stand-in server: a login that
# works prints the server's answer and exits 0, with the password given as an
# argument or on standard input; a wrong password gives status 2, a server
# that never answers status 3, bad arguments (an own port out of range or
# written as arithmetic) status 1; in every case the console is gone
# afterwards (its port is free again) and the scratch folder is removed.
# Usage: oneshot_test.sh <qzucon> <qzstandin> <qzuconctl> <qzucon-oneshot>
console=$1
standin=$2
ctl=$3
oneshot=$4
. "$(dirname "$0")/lib.sh"

start_standin server pw-one || { fail "the stand-in starts"; exit; }
srv=$standin_port
export QZUCON=$console QZUCONCTL=$ctl QZUCON_ONESHOT_WAIT=15
export TMPDIR=$scratch/tmp
mkdir -p "$TMPDIR"

# run <name> <password on stdin> <args...>: runs the script in the scratch
# folder; its status goes to $status, its output to <name>.out and <name>.err.
run() {
  local name=$1 stdin=$2
  shift 2
  bash "$oneshot" "$@" <<<"$stdin" >"$scratch/$name.out" 2>"$scratch/$name.err"
  status=$?
}
# after <name> <console port>: what holds whatever the outcome.
after() {
  check "$1: the console's port is free again" not port_used "$2"
  check "$1: the scratch folder is gone" [ -z "$(ls -A "$TMPDIR")" ]
}

my=$(free_port)
run login "" "127.0.0.1:$my" "127.0.0.1:$srv" admin pw-one status 2
check "login: exit status 0 (was $status)" [ "$status" -eq 0 ]
check "login: prints the server's answer" grep -qF -- "->echo: status" "$scratch/login.out"
check "login: the stand-in saw the proof" grep -qF "proof-ok console=127.0.0.1:$my" "$scratch/server.err"
check "login: the server gets the exit notice" \
  wait_for "$scratch/server.err" "exit console=127.0.0.1:$my login=admin known=yes proven=yes"
after login "$my"

my=$(free_port)
run stdin "pw-one" "127.0.0.1:$my" "127.0.0.1:$srv" admin - "say from stdin" 1
check "password on stdin: exit status 0 (was $status)" [ "$status" -eq 0 ]
check "password on stdin: prints the server's answer" \
  grep -qF -- "->echo: say from stdin" "$scratch/stdin.out"
after "password on stdin" "$my"

my=$(free_port)
run wrong "" "127.0.0.1:$my" "127.0.0.1:$srv" admin not-pw-one status 1
check "wrong password: exit status 2 (was $status)" [ "$status" -eq 2 ]
check "wrong password: says so" grep -qF "password mismatch for 127.0.0.1:$srv" "$scratch/wrong.err"
after "wrong password" "$my"

my=$(free_port)
QZUCON_ONESHOT_WAIT=3 run silent "" "127.0.0.1:$my" "127.0.0.1:$(free_port)" admin pw-one status 1
check "no server: exit status 3 (was $status)" [ "$status" -eq 3 ]
check "no server: says why" grep -qF "no challenge from" "$scratch/silent.err"
after "no server" "$my"

for args in "only-two args" "127.0.0.1:65536 127.0.0.1:$srv admin pw-one status" \
  "127.0.0.1:65535+1 127.0.0.1:$srv admin pw-one status" \
  "127.0.0.1:x[\$(id>&2)] 127.0.0.1:$srv admin pw-one status"; do
  # shellcheck disable=SC2086 # one word per argument
  run usage "" $args
  check "bad arguments '$args': exit status 1 (was $status)" [ "$status" -eq 1 ]
  check "bad arguments '$args': nothing run" not grep -q uid= "$scratch/usage.err"
done

# The kept folder of a run never holds the password.
my=$(free_port)
QZUCON_KEEP=1 run keep "" "127.0.0.1:$my" "127.0.0.1:$srv" admin pw-one status 1
check "kept folder: exit status 0 (was $status)" [ "$status" -eq 0 ]
check "kept folder: says where" grep -qF "logs kept in" "$scratch/keep.err"
check "kept folder: no password in it" not grep -rqF pw-one "$TMPDIR"
rm -rf "${TMPDIR:?}"/*
