#!/bin/bash
# The README's scripting recipes that need nothing but bash, run as written
# (with this test's ports) against a headless console and two stand-in
# servers on loopback. The console reads the example qzucon.ini, with the
# test's addresses, ports and passwords put in, so that the example stays a
# file the console takes and its ports stay the ones the recipes use.
# Usage: recipes_test.sh <qzucon> <qzstandin> <example qzucon.ini>
console=$1
standin=$2
example=$3
. "$(dirname "$0")/lib.sh"

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
      -e "s/^password=change-me-too\$/password=pw-beta/" "$example" >"$1/qzucon.ini"
  ! grep -v '^;' "$1/qzucon.ini" | grep -qE '24351|24352|192\.0\.2\.|change-me' 
}

# Starts the console headless in its folder; another set of ports when one
# of them turns out busy.
dir=$scratch/console
mkdir -p "$dir"
cpid=
for try in 1 2 3; do
  my=$(free_port) && tcp=$(free_port) && udp=$(free_port) || break
  configure "$dir" "$my" "$tcp" "$udp" || { fail "the example qzucon.ini has the lines this test fills in"; exit; }
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

# TCP: one client at a time, kept open until the console has read the line.
exec 3<>/dev/tcp/127.0.0.1/$tcp
printf 'qzuconlist\n' >&3
sleep 1
exec 3>&-
check "TCP: qzuconlist lists the first server" \
  wait_for qzucon.log "server address: 127.0.0.1:$a   login: admin"
check "TCP: and the second" wait_for qzucon.log "server address: 127.0.0.1:$b   login: admin"
check "TCP: the closed connection frees the console for the next client" \
  wait_for qzucon.log "TCP Listen Socket closed due to broken connection"

# UDP: a command to one server.
exec 4>/dev/udp/127.0.0.1/$udp
printf 'qzuconactive 127.0.0.1:%s\n' "$a" >&4
printf 'status\n' >&4
sleep 1
exec 4>&-
check "UDP: the chosen server gets the command" \
  wait_for "$scratch/alpha.err" "command console=127.0.0.1:$my login=admin text=status"
check "UDP: its answer lands in its log file" wait_for "$(server_log "$a")" "->echo: status"

# UDP: one command to every configured server.
exec 4>/dev/udp/127.0.0.1/$udp
for server in $(sed -n 's/^server=//p' qzucon.ini); do
  printf 'qzuconactive %s\n' "$server" >&4
  printf '%s\n' 'say hello' >&4
done
sleep 1
exec 4>&-
for s in alpha beta; do
  check "every server: $s gets the command" \
    wait_for "$scratch/$s.err" "command console=127.0.0.1:$my login=admin text=say hello"
done

# UDP: qzuconexit ends the console; every server gets the exit notice.
exec 4>/dev/udp/127.0.0.1/$udp
printf 'qzuconexit\n' >&4
sleep 1
exec 4>&-
if wait_gone "$cpid"; then
  check "qzuconexit: the console ends with status 0" [ "$gone_status" -eq 0 ]
else
  fail "qzuconexit: the console ends"
fi
for s in alpha beta; do
  check "qzuconexit: $s gets the exit notice" \
    wait_for "$scratch/$s.err" "exit console=127.0.0.1:$my login=admin"
done
