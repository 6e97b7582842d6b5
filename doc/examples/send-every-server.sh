#!/bin/bash
# Sends one command to every server of a configuration file, through the
# console's local UDP input: each server is made the active one in turn.
#   send-every-server.sh 'say hello'
#   QZUCON_UDP_PORT=24452 send-every-server.sh status /etc/qzucon/site.ini
command=$1
ini=${2:-qzucon.ini}
port=${QZUCON_UDP_PORT:-24352}
exec 4>"/dev/udp/127.0.0.1/$port" || exit 1
# server= lines, in any case and with blanks before the value, as the
# console reads them.
sed -n 's/^[[:blank:]]*server=[[:blank:]]*//Ip' "$ini" | tr -d '\r' |
  while IFS= read -r server; do
    printf 'qzuconactive %s\n' "$server" >&4
    printf '%s\n' "$command" >&4
  done
sleep 1
exec 4>&-
