#!/bin/bash
# The shipped Alertmanager configuration passes amtool's check, and routes
# each kind of the shipped rules' alerts to the receivers its comments say.
# Usage: alertmanager_test.sh <examples folder>
# Exits 77 (skipped) when amtool is missing.
examples=$1
if ! command -v amtool >/dev/null; then
  echo "skipped: amtool is not installed (prometheus-alertmanager; tools/check installs it when run as root)"
  exit 77
fi
. "$(dirname "$0")/lib.sh"
config=$examples/alertmanager.yml

check "amtool check-config says SUCCESS" \
  grep -q SUCCESS <(amtool check-config "$config" 2>&1)
# routes <receivers> <labels...>: the alert with these labels reaches exactly
# these receivers, in this order.
routes() {
  local want=$1
  shift
  [ "$(amtool config routes test --config.file="$config" "$@" 2>/dev/null)" = "$want" ]
}
check "a pattern alert goes to the webhook and Discord" \
  routes webhook,discord alertname=QzuconPatternAlert severity=warning console=game1 \
  server=192.0.2.10:28100 alert=oom
check "a critical alert goes to the webhook and by email" \
  routes webhook,email alertname=QzuconServerDown severity=critical console=game1 \
  server=192.0.2.10:28100
check "a warning goes to the webhook only" \
  routes webhook alertname=QzuconServerQuiet severity=warning console=game1 server=192.0.2.10:28100
