#!/bin/bash
# The scripting recipes, the files in doc/examples that the guide quotes, run
# as they are (with this test's ports in their environment) against a
# headless console and two stand-in servers on loopback. The console reads
# the example qzucon.ini, with the test's addresses, ports and passwords put
# in, so that the example stays a file the console takes and its ports stay
# the ones the recipes use. Every recipe must appear whole in the guide.
# Usage: recipes_test.sh <qzucon> <qzstandin> <doc/examples> <doc/guide.md>
console=$1
standin=$2
examples=$3
guide=$4
. "$(dirname "$0")/lib.sh"

recipes=(send-tcp.sh send-udp.sh send-every-server.sh)

# quoted <file>: the guide holds the file's text as one fenced bash block.
quoted() {
  want=$(cat "$1") awk '
    /^```/ {
      if (inside && block == ENVIRON["want"]) found = 1
      inside = !inside && /^```bash$/
      block = ""; first = 1
      next
    }
    inside { block = first ? $0 : block "\n" $0; first = 0 }
    END { exit !found }' "$guide"
}
for r in "${recipes[@]}"; do
  check "the guide quotes $r as it is" quoted "$examples/$r"
done

start_standin alpha pw-alpha || { fail "stand-in alpha starts"; exit; }
a=$standin_port
start_standin beta pw-beta || { fail "stand-in beta starts"; exit; }
b=$standin_port

# The example with this test's values; every line that must change, changes.
configure() {  # configure <dir> <myport> <tcp> <udp>
  sed -e "s/^TCPlistenport=24351\$/TCPlistenport=$3/" \
      -e "s/^UDPlistenport=24352\$/UDPlistenport=$4/" \
      -e "s/^myaddr=192\.0\.2\.1:24350\$/myaddr=127.0.0.1:$2/" \
      -e "s/^server=192\.0\.2\.10:28100\$/server=127.0.0.1:$a/" \
      -e "s/^server=192\.0\.2\.11:28100\$/server=127.0.0.1:$b/" \
      -e "s/^password=change-me\$/password=pw-alpha/" \
      -e "s/^password=change-me-too\$/password=pw-beta/" "$examples/qzucon.ini" >"$1/qzucon.ini" &&
    ! grep -v '^;' "$1/qzucon.ini" | grep -qE '24351|24352|192\.0\.2\.|change-me'
}

# Starts the console headless in its folder; another set of ports when one
# of them turns out busy.
dir=$scratch/console
mkdir -p "$dir"
cpid=
for _ in 1 2 3; do
  if ! my=$(free_port) || ! tcp=$(free_port) || ! udp=$(free_port); then break; fi
  configure "$dir" "$my" "$tcp" "$udp" ||
    { fail "the example qzucon.ini has the lines this test fills in"; exit; }
  (cd "$dir" && exec "$console" ini=qzucon.ini) </dev/null >"$dir/console.out" 2>&1 &
  cpid=$!
  pids+=("$cpid")
  wait_for "$dir/qzucon.log" "Listening for localhost UDP plaintext input on port $udp." 10 &&
    grep -qF "Listening for localhost TCP plaintext input on port $tcp." "$dir/qzucon.log" && break
  stop_pid "$cpid"
  rm -f "$dir/qzucon.log"
  cpid=
done
[ -n "$cpid" ] || { fail "the console starts with its local inputs"; exit; }
ok "the console runs from the example configuration, headless"
for port in "$a" "$b"; do
  check "the challenge of 127.0.0.1:$port arrives" \
    wait_for "$dir/qzucon.log" "Received Server Challenge from 127.0.0.1:$port"
done
cd "$dir" || exit 1
export QZUCON_TCP_PORT=$tcp QZUCON_UDP_PORT=$udp

# recipe <name> <args...>: runs a recipe file as it is; true on status 0.
recipe() {
  local name=$1
  shift
  bash "$examples/$name" "$@" 2>>"$scratch/recipes.err"
}

check "send-tcp.sh: exits 0" recipe send-tcp.sh qzuconlist
check "send-tcp.sh: qzuconlist lists the first server" \
  wait_for qzucon.log "server address: 127.0.0.1:$a   login: admin"
check "send-tcp.sh: and the second" wait_for qzucon.log "server address: 127.0.0.1:$b   login: admin"
check "send-tcp.sh: the closed connection frees the console for the next client" \
  wait_for qzucon.log "TCP Listen Socket closed due to broken connection"
check "send-tcp.sh: a port nobody listens on is a failure" \
  not env QZUCON_TCP_PORT="$(free_port)" bash "$examples/send-tcp.sh" qzuconlist

check "send-udp.sh: exits 0" recipe send-udp.sh "qzuconactive 127.0.0.1:$a" status
check "send-udp.sh: the chosen server gets the command" \
  wait_for "$scratch/alpha.err" "command console=127.0.0.1:$my login=admin text=status"
check "send-udp.sh: its answer lands in its log file" wait_for "$(server_log "$a")" "->echo: status"

check "send-every-server.sh: exits 0" recipe send-every-server.sh 'say hello'
for s in alpha beta; do
  check "send-every-server.sh: $s gets the command" \
    wait_for "$scratch/$s.err" "command console=127.0.0.1:$my login=admin text=say hello"
done
# Keywords in any case and blanks before them and their values, as the
# console reads them; comments are no servers.
printf ';server=127.0.0.1:%s\n  SERVER= 127.0.0.1:%s\r\n' "$a" "$b" >other.ini
check "send-every-server.sh: takes server= lines as the console does" \
  recipe send-every-server.sh 'say other' other.ini
check "send-every-server.sh: the server of other.ini gets the command" \
  wait_for "$scratch/beta.err" "command console=127.0.0.1:$my login=admin text=say other"
check "send-every-server.sh: the commented-out one does not" \
  [ "$(count_of "$scratch/alpha.err" "text=say other")" -eq 0 ]

check "send-udp.sh qzuconexit: exits 0" recipe send-udp.sh qzuconexit
if wait_gone "$cpid"; then
  check "qzuconexit: the console ends with status 0" [ "$gone_status" -eq 0 ]
else
  fail "qzuconexit: the console ends"
fi
for s in alpha beta; do
  check "qzuconexit: $s gets the exit notice" \
    wait_for "$scratch/$s.err" "exit console=127.0.0.1:$my login=admin"
done
