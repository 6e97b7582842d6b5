#!/bin/bash
# The guide's fleet across hosts, on one machine: two console hosts (game1,
# game2) and a central one, each in network, mount and host-name namespaces
# of its own, joined by veth links. Every address is in 127.0.0.0/8: console
# host N is 127.1.N.2 and reaches the central host at 127.1.N.1 (the kernel
# routes loopback addresses over a link once route_localnet is set and the
# namespace's own 127.0.0.0/8 is narrowed to 127.0.0.1). Each console host
# runs its own journald, a console with two stand-in servers and an alert=
# rule, node_exporter on the console's metrics folder, and
# systemd-journal-upload to the central host's systemd-journal-remote. The
# central host runs Prometheus with the example configuration, Alertmanager
# with the example configuration whose receivers point at a webhook this
# script runs, and that webhook.
# Checked: every server line of both hosts once in the central journal,
# under its server and host; Prometheus sees both consoles; a line matching
# the alert= rule on game1 reaches the webhook as QzuconPatternAlert, with
# its console and server, within 60 s; qzuconctl -H over each host's sshd
# reaches every server of both, and names a host whose sshd is down.
# Usage: hosts_test.sh <qzucon> <qzstandin> <qzuconctl> <examples folder>
# Exit status 77: skipped (not root, no namespaces, or a program missing).
console=$(realpath "$1")
standin_bin=$(realpath "$2")
ctl=$(realpath "$3")
examples=$(realpath "$4")
remote_dir=/lib/systemd
for tool in prometheus prometheus-node-exporter prometheus-alertmanager curl python3 nsenter ssh ssh-keygen \
  sshd; do
  if ! command -v "$tool" >/dev/null; then
    echo "skipped: $tool is not installed (tools/check installs the fleet's programs when run as root)"
    exit 77
  fi
done
for tool in systemd-journal-remote systemd-journal-upload; do
  if [ ! -x "$remote_dir/$tool" ]; then
    echo "skipped: no $remote_dir/$tool (systemd-journal-remote; tools/check installs it when run as root)"
    exit 77
  fi
done
scratch_name=qzhosts
. "$(dirname "$0")/lib.sh"
# This script goes on as the central host, in namespaces of its own.
journal_namespace "$0" "$@"

# The central host's own programs talk to each other on 127.0.0.1.
central=127.0.0.1
# Run in each host's namespace: 127.0.0.0/8 is no longer all local (only
# 127.0.0.1 and the host's own addresses), so that the loopback addresses of
# other hosts are reached over the links.
narrow_loopback="sysctl -qw net.ipv4.conf.all.route_localnet=1 &&
  ip route del local 127.0.0.0/8 dev lo table local"
if ! { ip link set lo up && eval "$narrow_loopback"; }; then
  fail "the central host's loopback"
  exit
fi

# host_up <n> <name>: console host n, its namespaces held by a sleeping
# program whose pid is in host_pid[n]; its address 127.1.n.2; its own
# journald with a volatile journal and no rate limit.
declare -A host_pid
printf '%s\n' '[Journal]' Storage=volatile RateLimitIntervalSec=0 >"$scratch/journald.conf"
host_up() {
  local n=$1 name=$2 pid i
  unshare --net --mount --uts --propagation private sleep 600 &
  pid=$!
  pids+=("$pid")
  for ((i = 0; i < 50; i++)); do
    [ "$(readlink "/proc/$pid/ns/net")" != "$(readlink /proc/self/ns/net)" ] && break
    sleep 0.1
  done
  host_pid[$n]=$pid
  ip link add "c$n" type veth peer name "h$n" netns "$pid" &&
    sysctl -qw "net.ipv4.conf.c$n.route_localnet=1" &&
    ip addr add "127.1.$n.1/24" dev "c$n" && ip link set "c$n" up &&
    on "$n" sh -c "hostname $name && ip link set lo up && $narrow_loopback &&
      sysctl -qw net.ipv4.conf.h$n.route_localnet=1 net.unix.max_dgram_qlen=512 &&
      ip addr add 127.1.$n.2/24 dev h$n && ip link set h$n up &&
      mount -t tmpfs -o mode=0755 tmpfs /run/systemd && mount -t tmpfs -o mode=0755 tmpfs /run/log &&
      mkdir -p /run/systemd/journal /run/log/journal &&
      mount --bind $scratch/journald.conf /etc/systemd/journald.conf" || return 1
  spawn "$n" "$journald" 2>>"$scratch/$name-journald.err"
  for ((i = 0; i < 100; i++)); do
    [ -S "/proc/$pid/root/run/systemd/journal/socket" ] && return 0
    sleep 0.1
  done
  return 1
}
# on <n> <command...>: the command on console host n.
on() {
  local n=$1
  shift
  nsenter -t "${host_pid[$n]}" -n -m -u -- "$@"
}
# spawn <n> <command...>: the same in the background, its pid in $pids
# (nsenter replaces itself with the command; `on ... &` would leave the pid
# of a subshell).
spawn() {
  local n=$1
  shift
  nsenter -t "${host_pid[$n]}" -n -m -u -- "$@" &
  pids+=($!)
}

# console_host <n> <name>: the host with its console ($name.ini, two
# stand-ins on 127.0.0.1:28n01 and :28n02, alert=oom), node_exporter on
# 127.1.n.2:9100 and the upload of its journal to the central host.
console_host() {
  local n=$1 name=$2 dir=$scratch/$2 s
  host_up "$n" "$name" || return 1
  mkdir -p "$dir/metrics"
  printf '#!/bin/sh\nexec nsenter -t %s -n -m -u -- %s "$@"\n' "${host_pid[$n]}" "$standin_bin" \
    >"$dir/standin"
  chmod +x "$dir/standin"
  {
    echo "myaddr=127.0.0.1:24350"
    echo "controlsocket=$dir/ctl.sock"
    echo "metrics=$dir/metrics/qzucon-$name.prom"
    echo "journal=on"
    echo "alert=oom:out of memory"
  } >"$dir/$name.ini"
  for s in 1 2; do
    standin=$dir/standin start_standin "$name-$s" "pw-$n$s" --port "28${n}0$s" --rate 10 \
      --count 20 || return 1
    printf 'server=127.0.0.1:%s\nlogin=admin\npassword=pw-%s\n' "28${n}0$s" "$n$s" >>"$dir/$name.ini"
  done
  chmod 600 "$dir/$name.ini"
  # Entering a mount namespace leaves the working folder at its root.
  spawn "$n" env -C "$dir" "$console" "ini=$name.ini" </dev/null >"$dir/console.out" 2>&1
  spawn "$n" prometheus-node-exporter --web.listen-address="127.1.$n.2:9100" \
    --collector.disable-defaults --collector.textfile \
    --collector.textfile.directory="$dir/metrics" >"$dir/exporter.out" 2>&1
  spawn "$n" "$remote_dir/systemd-journal-upload" --url="http://127.1.$n.1:19532" \
    --save-state="$dir/upload.state" >"$dir/upload.out" 2>&1
}

# The central host: the journal's receiver, the webhook, Alertmanager and
# Prometheus, each on its usual port. The receiver listens on every address
# of the host (all of them loopback addresses, the hosts' links included).
mkdir -p "$scratch/remote" "$scratch/alertmanager" "$scratch/tsdb"
"$remote_dir/systemd-journal-remote" --listen-http=19532 \
  --output="$scratch/remote/all.journal" --split-mode=none >"$scratch/remote.out" 2>&1 &
pids+=($!)
# The webhook: each POST as one line, its path and its body.
hooks=$scratch/webhook.lines
: >"$hooks"
# shellcheck disable=SC2016 # Python, not shell
python3 -c '
import http.server, sys
out = open(sys.argv[3], "a")
class Hook(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        out.write(self.path + " " + body.decode("utf-8", "replace").replace("\n", " ") + "\n")
        out.flush()
        self.send_response(200)
        self.end_headers()
    def log_message(self, *args):
        pass
http.server.HTTPServer((sys.argv[1], int(sys.argv[2])), Hook).serve_forever()
' "$central" 9095 "$hooks" >"$scratch/webhook.out" 2>&1 &
pids+=($!)
# The example, its receivers pointed at the webhook (Discord's at a path of
# its own, mail at a port where nobody listens), notifying within seconds.
sed -e "s|url: https://hooks.example.net/qzucon|url: http://$central:9095/webhook|" \
  -e "s|webhook_url: https://discord.com/.*|webhook_url: http://$central:9095/discord|" \
  -e "s|smtp_smarthost: .*|smtp_smarthost: $central:2525|" \
  -e "s|group_wait: 30s|group_wait: 1s|" -e "s|group_interval: 5m|group_interval: 2s|" \
  "$examples/alertmanager.yml" >"$scratch/alertmanager.yml"
prometheus-alertmanager --config.file="$scratch/alertmanager.yml" \
  --storage.path="$scratch/alertmanager" --web.listen-address="$central:9093" \
  --cluster.listen-address= >"$scratch/alertmanager.out" 2>&1 &
pids+=($!)
# The example Prometheus configuration, scraping both hosts every second and
# sending its alerts to Alertmanager.
sed -e "s/scrape_interval: 15s/scrape_interval: 1s/" \
  -e "s/evaluation_interval: 15s/evaluation_interval: 1s/" \
  -e "s|targets: .*|targets: [\"127.1.1.2:9100\", \"127.1.2.2:9100\"]|" \
  -e "s|- qzucon.rules.yml|- $examples/qzucon.rules.yml|" \
  "$examples/qzucon-prometheus.yml" >"$scratch/prometheus.yml"
printf '%s\n' 'alerting:' '  alertmanagers:' '    - static_configs:' \
  "        - targets: [\"$central:9093\"]" >>"$scratch/prometheus.yml"
prometheus --config.file="$scratch/prometheus.yml" --storage.tsdb.path="$scratch/tsdb" \
  --web.listen-address="$central:9090" >"$scratch/prometheus.out" 2>&1 &
pids+=($!)

check "console host game1 runs" console_host 1 game1 || exit
check "console host game2 runs" console_host 2 game2 || exit

# Both hosts' lines in the central journal.
central_journal() { journalctl --no-pager -D "$scratch/remote" "$@" 2>/dev/null; }
# within <seconds> <command...>: true once the command is.
within() {
  local i seconds=$1
  shift
  for ((i = 0; i < seconds * 10; i++)); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}
# numbered <matches...>: the numbers of the stand-in's lines among the
# central journal's entries, in order, on one line.
numbered() {
  central_journal -o cat "$@" | sed -n 's/^[0-9.:]* ->qzstandin .* line \([0-9]*\)$/\1/p' | sort -n |
    tr '\n' ' '
}
has_20th() { [[ " $(numbered "$@")" == *" 20 " ]]; }
# entries <count> <matches...>: true when the central journal has at least
# that many entries matching.
entries() {
  local want=$1
  shift
  (($(central_journal -o cat "$@" | wc -l) >= want))
}
# same_lines <n>: host n's own journal and the central one have the same
# server lines of that host.
same_lines() {
  [ "$(on "$1" journalctl --no-pager -o cat QZUCON_KIND=server | sort | md5sum)" = \
    "$(central_journal -o cat _HOSTNAME="game$1" QZUCON_KIND=server | sort | md5sum)" ]
}
for n in 1 2; do
  for s in 1 2; do
    server=127.0.0.1:28${n}0$s
    name=game$n
    check "$name: the stand-in $server sent its 20 lines" \
      wait_for "$scratch/$name-$s.err" count-reached 30 || exit
    # The upload follows the host's journal: wait for the last line.
    check "$name: its 20th line in the central journal" \
      within 30 has_20th _HOSTNAME="$name" QZUCON_SERVER="$server" QZUCON_KIND=server
    check "$name: each of $server's lines once, 1 to 20" [ "$(numbered _HOSTNAME="$name" \
      QZUCON_SERVER="$server" QZUCON_KIND=server)" = "$(seq 1 20 | tr '\n' ' ')" ]
  done
  # What the host's own journal holds arrived once, no more, no less.
  check "game$n: the central journal has each of the host's server lines once" \
    within 10 same_lines "$n"
done
check "one query over two servers shows both hosts' lines" [ "$(numbered \
  QZUCON_SERVER=127.0.0.1:28101 QZUCON_SERVER=127.0.0.1:28201)" = \
  "$(seq 1 20 | sed 'p' | tr '\n' ' ')" ]

# Prometheus: both consoles up.
# query <promql>: the query's samples, one "labels value" line each.
query() {
  curl -s --max-time 5 "http://$central:9090/api/v1/query" --data-urlencode "query=$1" |
    python3 -c '
import json, sys
for r in json.load(sys.stdin)["data"]["result"]:
    print(",".join(k + "=" + v for k, v in sorted(r["metric"].items())), r["value"][1])'
}
# wait_query <promql> <expected output> [seconds]
wait_query() {
  local i
  for ((i = 0; i < ${3:-30} * 10; i++)); do
    [ "$(query "$1" 2>/dev/null)" = "$2" ] && return 0
    sleep 0.1
  done
  echo "last answer to $1: '$(query "$1" 2>&1)', wanted '$2'" >&2
  return 1
}
check "Prometheus sees both consoles up" wait_query 'sum(qzucon_up)' ' 2' 40
check "sum by (console)(qzucon_up): game1 and game2, 1 each" \
  wait_query 'sum by (console)(qzucon_up)' "$(printf 'console=game1 1\nconsole=game2 1')"

# qzuconctl -H over ssh: an sshd on each console host (127.1.N.2:22) that
# takes root with a key made here, sessions finding the qzuconctl built
# here; the console's socket folder mounted at the same path on both hosts.
# The central host's ssh client reads a configuration of its own, mounted
# over the system's in this script's mount namespace: the hosts' names,
# the key, no host keys kept.
sshd_pid=()
# sshd_host <n>: host n's sshd, its pid in sshd_pid[n].
sshd_host() {
  local n=$1 dir=$scratch/game$1
  ssh-keygen -q -t ed25519 -N '' -f "$dir/ssh_host_key" || return 1
  on "$n" sh -c "mkdir -p /run/systemd/qzucon && mount --bind $dir /run/systemd/qzucon" || return 1
  printf '%s\n' "ListenAddress 127.1.$n.2:22" "HostKey $dir/ssh_host_key" "PidFile none" \
    "UsePAM no" "PasswordAuthentication no" "KbdInteractiveAuthentication no" \
    "PermitRootLogin prohibit-password" "AuthorizedKeysFile $scratch/ssh/authorized_keys" \
    "StrictModes no" "SetEnv PATH=$(dirname "$ctl"):/usr/sbin:/usr/bin:/sbin:/bin" \
    >"$dir/sshd_config"
  nsenter -t "${host_pid[$n]}" -n -m -u -- "$(command -v sshd)" -D -e -f "$dir/sshd_config" \
    2>"$dir/sshd.err" &
  sshd_pid[n]=$!
  pids+=("${sshd_pid[n]}")
  wait_for "$dir/sshd.err" "Server listening on 127.1.$n.2" 20
}
mkdir -p "$scratch/ssh"
ssh-keygen -q -t ed25519 -N '' -f "$scratch/ssh/id" && cp "$scratch/ssh/id.pub" "$scratch/ssh/authorized_keys"
printf '%s\n' "Host game1" "  HostName 127.1.1.2" "Host game2" "  HostName 127.1.2.2" "Host *" \
  "  User root" "  IdentityFile $scratch/ssh/id" "  UserKnownHostsFile /dev/null" \
  "  StrictHostKeyChecking no" "  LogLevel ERROR" "  ConnectTimeout 10" >"$scratch/ssh/config"
# sshd needs its empty folder /run/sshd, as its service would make it.
[ -d /run/sshd ] || { mkdir -p /run/sshd && made_run_sshd=1; }
check "the ssh client's configuration is the test's" mount --bind "$scratch/ssh/config" /etc/ssh/ssh_config
check "game1 runs sshd" sshd_host 1
check "game2 runs sshd" sshd_host 2
# remote <name> <qzuconctl arguments...>: qzuconctl as the guide shows it,
# its output in $scratch/<name>.out and .err, its status in $scratch/<name>.rc.
remote() {
  local name=$1
  shift
  timeout 60 "$ctl" "$@" >"$scratch/$name.out" 2>"$scratch/$name.err"
  echo $? >"$scratch/$name.rc"
}
status_of() { cat "$scratch/$1.rc"; }
remote status -H game1,game2 -S /run/systemd/qzucon/ctl.sock status
check "-H game1,game2 status: exit 0" [ "$(status_of status)" = 0 ]
for n in 1 2; do
  for s in 1 2; do
    check "game$n's server 127.0.0.1:28${n}0$s in the status, its line naming game$n" \
      grep -q "^game$n: .*127\.0\.0\.1:28${n}0$s" "$scratch/status.out"
  done
done
check "every status line names its host" not grep -qv '^game[12]: ' "$scratch/status.out"
remote json -H game1,game2 -S /run/systemd/qzucon/ctl.sock status --json
check "--json lines carry their host first" \
  [ "$(grep -c '^game\([12]\): {"host":"game\1",' "$scratch/json.out")" -eq 4 ]
remote sendall -H game1,game2 -S /run/systemd/qzucon/ctl.sock send -a -w 1 "say it's 'me' \$HOME"
check "-H game1,game2 send -a: exit 0" [ "$(status_of sendall)" = 0 ]
for n in 1 2; do
  for s in 1 2; do
    check "game$n-$s gets the command, quoted as it was written" \
      wait_for "$scratch/game$n-$s.err" "text=say it's 'me' \$HOME" 20
  done
done
# follow over both hosts: their lines merged as they come; SIGTERM ends the
# ssh children too.
"$ctl" -H game1,game2 -S /run/systemd/qzucon/ctl.sock follow >"$scratch/follow.out" \
  2>"$scratch/follow.err" &
follow_pid=$!
pids+=("$follow_pid")
# poked: a line sent to every server, and follow shows both hosts' answers
# (the first tries may come before follow has asked for the lines).
poked() {
  remote poke -H game1,game2 -S /run/systemd/qzucon/ctl.sock send -a -w 1 poke
  grep -q "^game1: 127.0.0.1:28101 ->echo: poke" "$scratch/follow.out" &&
    grep -q "^game2: 127.0.0.1:28201 ->echo: poke" "$scratch/follow.out"
}
poke_tries() {
  local i
  for ((i = 0; i < 15; i++)); do poked && return 0; done
  return 1
}
check "follow -H: both hosts' servers' answers to a send, as they come, each prefixed" poke_tries
follow_ssh=$(pgrep -P "$follow_pid" | tr '\n' ' ')
check "follow -H runs one ssh a host" [ "$(wc -w <<<"$follow_ssh")" -eq 2 ]
kill -TERM "$follow_pid"
check "follow -H ends on SIGTERM" wait_gone "$follow_pid" 20
# shellcheck disable=SC2086 # one pid a word
check "and its ssh children with it" within 20 not kill -0 $follow_ssh 2>/dev/null
check "QZUCON_HOST stands for -H" env QZUCON_HOST=game2 "$ctl" -S /run/systemd/qzucon/ctl.sock status \
  >"$scratch/env.out" 2>&1 && check "and names the host" grep -q "^game2: .*127\.0\.0\.1:28201" \
  "$scratch/env.out"
# A second sshd on game1 whose sessions have no qzuconctl on their PATH.
grep -v '^SetEnv' "$scratch/game1/sshd_config" | sed 's/:22$/:2222/' >"$scratch/game1/bare_config"
nsenter -t "${host_pid[1]}" -n -m -u -- "$(command -v sshd)" -D -e -f "$scratch/game1/bare_config" \
  2>"$scratch/game1/bare.err" &
pids+=($!)
check "game1 runs a second sshd" wait_for "$scratch/game1/bare.err" "Server listening on 127.1.1.2" 20
remote bare -H game1,game1:2222 -S /run/systemd/qzucon/ctl.sock status
check "a host without qzuconctl: exit 1" [ "$(status_of bare)" = 1 ]
check "and named" grep -q "^game1:2222: no qzuconctl on this host$" "$scratch/bare.err"
check "the other's answer printed" grep -q "^game1: .*127\.0\.0\.1:28101" "$scratch/bare.out"
# game2's sshd ended: game1 still answers, game2 is named, the status is not 0.
stop_pid "${sshd_pid[2]}"
remote down -H game1,game2 -S /run/systemd/qzucon/ctl.sock status
check "game2 down: exit not 0" [ "$(status_of down)" != 0 ]
check "game2 down: game1's answer printed" grep -q "^game1: .*127\.0\.0\.1:28101" "$scratch/down.out"
check "game2 down: game2 named" grep -q "^game2: cannot reach: " "$scratch/down.err"
[ -n "${made_run_sshd:-}" ] && rmdir /run/sshd

# A line matching alert=oom on game1's first server: Alertmanager's webhook
# has QzuconPatternAlert for that server and console within 60 s.
on 1 "$ctl" -S "$scratch/game1/ctl.sock" send -s 127.0.0.1:28101 -w 1 "out of memory" \
  >"$scratch/send.out" 2>&1
sent=$(date +%s)
check "game1's server echoes the line" wait_for "$scratch/game1-1.err" "text=out of memory" 20
# alerts <path>: the firing alerts the webhook got on that path, one line
# each: alertname alert server console instance.
alerts() {
  python3 -c '
import json, sys
for line in open(sys.argv[1]):
    path, _, body = line.partition(" ")
    if path != sys.argv[2]:
        continue
    for a in json.loads(body).get("alerts", []):
        if a.get("status") == "firing":
            l = a["labels"]
            print(*(l.get(k, "-") for k in ("alertname", "alert", "server", "console", "instance")))
' "$hooks" "$1" | sort -u
}
delivered() { alerts /webhook | grep -q "^QzuconPatternAlert oom 127.0.0.1:28101 "; }
check "the webhook gets QzuconPatternAlert for game1's server within 60 s" within 60 delivered
echo "delivered $(($(date +%s) - sent)) s after the line was sent"
alerts /webhook >"$scratch/webhook.alerts"
check "the alert names console game1" \
  grep -q '^QzuconPatternAlert oom 127.0.0.1:28101 game1 127.1.1.2:9100$' "$scratch/webhook.alerts"
check "no pattern alert for any other server" \
  [ "$(grep -c '^QzuconPatternAlert' "$scratch/webhook.alerts")" -eq 1 ]
check "the Discord receiver gets it too" wait_for "$hooks" "/discord " 20
check "and names the alert" grep -q '^/discord .*QzuconPatternAlert' "$hooks"
check "the alert's line is in the central journal" \
  within 30 entries 1 _HOSTNAME=game1 QZUCON_ALERT=oom QZUCON_SERVER=127.0.0.1:28101
