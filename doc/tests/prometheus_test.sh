#!/bin/bash
# The console's metrics through the real programs a fleet is watched with:
# node_exporter's textfile collector on the console's metrics folder, and
# Prometheus scraping it every second with the example configuration. Its
# HTTP API must show a stand-in's session up, then down once the stand-in is
# stopped, and the stand-in's lines counted exactly; promtool must find the
# file and what "qzuconctl metrics" prints clean, and the file left at exit
# says qzucon_up 0. A second console writes its file into the same folder:
# the two files share no series and node_exporter takes both without an
# error.
# Usage: prometheus_test.sh <qzucon> <qzstandin> <qzuconctl> <examples folder>
# Exits 77 (skipped) when promtool, prometheus, node_exporter or curl is missing.
console=$(realpath "$1")
standin=$(realpath "$2")
ctl=$(realpath "$3")
examples=$(realpath "$4")
for tool in promtool prometheus prometheus-node-exporter curl; do
  if ! command -v "$tool" >/dev/null; then
    echo "skipped: $tool is not installed (tools/check installs it when run as root)"
    exit 77
  fi
done
scratch_name=qzprom
. "$(dirname "$0")/lib.sh"

metrics=$scratch/metrics
mkdir -p "$metrics" "$scratch/tsdb"
exporter_port=$(free_port)
prom_port=$(free_port)
my=$(free_port)

prometheus-node-exporter --web.listen-address="127.0.0.1:$exporter_port" \
  --collector.disable-defaults --collector.textfile \
  --collector.textfile.directory="$metrics" >"$scratch/exporter.out" 2>&1 &
pids+=($!)
# The example configuration, pointed at this exporter and scraping every second.
sed -e "s/scrape_interval: 15s/scrape_interval: 1s/" \
  -e "s/evaluation_interval: 15s/evaluation_interval: 1s/" \
  -e "s|targets: .*|targets: [\"127.0.0.1:$exporter_port\"]|" \
  -e "s|- qzucon.rules.yml|- $examples/qzucon.rules.yml|" \
  "$examples/qzucon-prometheus.yml" >"$scratch/prometheus.yml"
prometheus --config.file="$scratch/prometheus.yml" --storage.tsdb.path="$scratch/tsdb" \
  --web.listen-address="127.0.0.1:$prom_port" >"$scratch/prometheus.out" 2>&1 &
pids+=($!)

# query <promql>: the value of the query's first sample, empty when none.
query() {
  curl -s --max-time 5 "http://127.0.0.1:$prom_port/api/v1/query" --data-urlencode "query=$1" |
    sed -n 's/.*"value":\[[^,]*,"\([^"]*\)"\].*/\1/p'
}
# wait_value <promql> <value> [seconds]: true once the query gives the value.
wait_value() {
  local i
  for ((i = 0; i < ${3:-30} * 10; i++)); do
    [ "$(query "$1")" = "$2" ] && return 0
    sleep 0.1
  done
  echo "last value of $1: '$(query "$1")', wanted '$2'" >&2
  return 1
}

start_standin server pw --rate 10 --count 25 || { fail "the stand-in starts"; exit; }
srv=127.0.0.1:$standin_port
cd "$scratch" || exit
"$console" "myaddr=127.0.0.1:$my" "server=$srv" login=admin password=pw \
  "controlsocket=$scratch/ctl.sock" "metrics=$metrics/qzucon.prom" \
  </dev/null >"$scratch/console.out" 2>&1 &
pids+=($!)

# Named by its own port: no name= and no ini=.
up="qzucon_server_up{console=\"$my\",server=\"$srv\"}"
lines="qzucon_server_lines_received_total{console=\"$my\",server=\"$srv\"}"
check "Prometheus sees the session up" wait_value "$up" 1 || exit
check "the stand-in sent its 25 lines" wait_for "$scratch/server.err" "count-reached"
# What it sent: the greeting with its challenge, and each line.
sent=$(($(count_of "$scratch/server.err" "challenge console=") + \
  $(count_of "$scratch/server.err" "sent-line console=")))
check "Prometheus counts the $sent lines the stand-in sent" wait_value "$lines" "$sent"

"$ctl" -S "$scratch/ctl.sock" metrics >"$scratch/ctl.prom"
check "qzuconctl metrics passes promtool" promtool check metrics <"$scratch/ctl.prom"
check "the file passes promtool" promtool check metrics <"$metrics/qzucon.prom"
check "qzuconctl metrics agrees" grep -qxF "$lines $sent" "$scratch/ctl.prom"
check "the file is readable by its group only" [ "$(stat -c %a "$metrics/qzucon.prom")" = 640 ]

# A second console on the host, named by its configuration file, with its
# file in the same folder.
my2=$(free_port)
printf '%s\n' "myaddr=127.0.0.1:$my2" "server=127.0.0.1:$(free_port)" login=admin \
  "controlsocket=$scratch/second.sock" "metrics=$metrics/qzucon-second.prom" >"$scratch/second.ini"
"$console" "ini=$scratch/second.ini" </dev/null >"$scratch/second.out" 2>&1 &
pids+=($!)
check "Prometheus sees the second console" wait_value 'qzucon_up{console="second"}' 1
# series <file>: each sample's name and labels, without its value.
series() { grep -v '^#' "$1" | sed 's/ [^ ]*$//' | sort; }
check "each file has series" [ "$(series "$metrics/qzucon-second.prom" | wc -l)" -gt 10 ]
check "the two files share no series" \
  [ -z "$(comm -12 <(series "$metrics/qzucon.prom") <(series "$metrics/qzucon-second.prom"))" ]
check "every series names its console" \
  [ -z "$(series "$metrics/qzucon-second.prom" | grep -v '{console="second"[,}]')" ]
curl -s --max-time 5 "http://127.0.0.1:$exporter_port/metrics" >"$scratch/exporter.metrics"
check "node_exporter read both files without an error" \
  grep -qx "node_textfile_scrape_error 0" "$scratch/exporter.metrics"
check "node_exporter serves both consoles" \
  [ "$(grep -c '^qzucon_up{' "$scratch/exporter.metrics")" = 2 ]
check "node_exporter logs no error" [ "$(grep -ci 'level=error' "$scratch/exporter.out")" = 0 ]

stop_pid "$standin_pid"
check "Prometheus sees the server down once it stopped" wait_value "$up" 0 40
check "the count stays" [ "$(query "$lines")" = "$sent" ]

"$ctl" -S "$scratch/ctl.sock" exit >/dev/null
check "the file left at exit says qzucon_up 0" \
  grep -qx "qzucon_up{console=\"$my\"} 0" "$metrics/qzucon.prom"
check "and passes promtool" promtool check metrics <"$metrics/qzucon.prom"
check "Prometheus sees the console stopped" wait_value "qzucon_up{console=\"$my\"}" 0
check "and the second one running" wait_value 'qzucon_up{console="second"}' 1
"$ctl" -S "$scratch/second.sock" exit >/dev/null
