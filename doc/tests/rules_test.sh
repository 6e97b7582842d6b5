#!/bin/bash
# The shipped alerting rules and scrape configuration pass promtool's checks,
# and the rules fire as their unit tests (qzucon.rules.test.yml) say.
# Usage: rules_test.sh <examples folder>
# Exits 77 (skipped) when promtool is missing.
examples=$1
if ! command -v promtool >/dev/null; then
  echo "skipped: promtool is not installed (tools/check installs it when run as root)"
  exit 77
fi
. "$(dirname "$0")/lib.sh"

check "the rules pass promtool check rules" promtool check rules "$examples/qzucon.rules.yml"
check "the scrape configuration passes promtool check config" \
  promtool check config "$examples/qzucon-prometheus.yml"
check "the rules pass their unit tests" \
  promtool test rules "$(dirname "$0")/qzucon.rules.test.yml"
