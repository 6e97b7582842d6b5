#!/bin/bash
# Sends each argument as one line to the console's local TCP input
# (TCPlistenport=, 24351 in the example qzucon.ini), over one connection.
#   send-tcp.sh qzuconlist
#   QZUCON_TCP_PORT=24451 send-tcp.sh 'qzuconactive 192.0.2.10:28100' status
port=${QZUCON_TCP_PORT:-24351}
exec 3<>"/dev/tcp/127.0.0.1/$port" || exit 1
for line in "$@"; do
  printf '%s\n' "$line" >&3
done
# Keep the connection open until the console has read the lines: it checks
# which user sends them, and cannot once the socket is closed.
sleep 1
exec 3>&-
