#!/bin/bash
# Sends each argument as one line to the console's local UDP input
# (UDPlistenport=, 24352 in the example qzucon.ini), one datagram a line.
#   send-udp.sh 'qzuconactive 192.0.2.10:28100' status
#   QZUCON_UDP_PORT=24452 send-udp.sh qzuconexit
port=${QZUCON_UDP_PORT:-24352}
exec 4>"/dev/udp/127.0.0.1/$port" || exit 1
for line in "$@"; do
  printf '%s\n' "$line" >&4
done
# Keep the socket open until the console has read the lines: it checks
# which user sends them, and cannot once the socket is closed.
sleep 1
exec 4>&-
