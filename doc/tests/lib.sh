# Helpers for the shell tests: a scratch folder that goes away after a passing
# run (and is kept, with what the programs wrote, after a failing one), free
# loopback ports, bounded waits for a text in a file, and programs started in
# the background and stopped again by pid. Sourced by bash scripts.
#
# Every wait has a deadline of seconds and polls every 0.1 s; nothing is timed.

set -u

failures=0
pids=()
scratch=$(mktemp -d "${TMPDIR:-/tmp}/qzshell.XXXXXX") || exit 1

ok() { echo "ok: $*"; }
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}
# check <description> <command...>: one named check, counted when it fails.
check() {
  local what=$1
  shift
  if "$@"; then ok "$what"; else fail "$what"; fi
}

not() { ! "$@"; }

# Stops a program started here: SIGTERM, SIGKILL after 5 s.
stop_pid() {
  local pid=$1 i
  kill -0 "$pid" 2>/dev/null || { wait "$pid" 2>/dev/null; return 0; }
  kill -TERM "$pid" 2>/dev/null
  for ((i = 0; i < 50; i++)); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  return 0
}

finish() {
  local f i
  # Newest first: consoles end before the servers they send exit notices to.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do stop_pid "${pids[i]}"; done
  if ((failures == 0)); then
    rm -rf "$scratch"
    echo "all checks passed"
    return
  fi
  echo "$failures check(s) failed; scratch folder kept: $scratch" >&2
  for f in $(find "$scratch" -type f \( -name '*.log' -o -name '*.out' -o -name '*.err' \) | sort); do
    echo "==== $f" >&2
    tail -n 40 "$f" >&2
  done
}
trap 'finish; trap - EXIT; exit $((failures > 0))' EXIT
trap 'exit 1' HUP INT TERM

# wait_for <file> <text> [seconds] [times]: true once the file holds the text
# at least `times` times (default once, within 15 s).
wait_for() {
  local file=$1 text=$2 seconds=${3:-15} times=${4:-1} i
  for ((i = 0; i < seconds * 10; i++)); do
    [ "$(count_of "$file" "$text")" -ge "$times" ] && return 0
    sleep 0.1
  done
  return 1
}

# count_of <file> <text>: lines of the file holding the text (0 without it).
count_of() {
  local n
  n=$(grep -cF -- "$2" "$1" 2>/dev/null) || n=0
  echo "$n"
}

# wait_gone <pid> [seconds]: true once the program has ended; its status is
# then in $gone_status.
gone_status=
wait_gone() {
  local pid=$1 seconds=${2:-15} i
  for ((i = 0; i < seconds * 10; i++)); do
    if ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid"
      gone_status=$?
      return 0
    fi
    sleep 0.1
  done
  return 1
}

# A TCP and UDP port on this host that no socket uses right now and that this
# test has not handed out before. Taken below the kernel's range for port 0,
# so that a stand-in's port cannot collide with it later.
handed=" "
free_port() {
  local port i
  for ((i = 0; i < 200; i++)); do
    port=$((20000 + RANDOM % 10000))
    [[ $handed == *" $port "* ]] && continue
    if ! port_used "$port"; then
      handed+="$port "
      echo "$port"
      return 0
    fi
  done
  return 1
}

# port_used <port>: true while a TCP or UDP socket of this host is bound to it.
port_used() {
  local hex
  printf -v hex '%04X' "$1"
  grep -qE "^ *[0-9]+: [0-9A-F]+:$hex " /proc/net/tcp /proc/net/tcp6 /proc/net/udp \
    /proc/net/udp6 2>/dev/null
}

# start_standin <name> <password> [options...]: a stand-in server on a free
# loopback port, its notes in $scratch/<name>.err. Sets standin_port.
standin_port=
start_standin() {
  local name=$1 password=$2
  shift 2
  "$standin" --port 0 --password "$password" --rate 2 "$@" 2>"$scratch/$name.err" &
  pids+=($!)
  standin_port=
  wait_for "$scratch/$name.err" " seed=" || return 1
  standin_port=$(sed -n 's/.*listening addr=127\.0\.0\.1:\([0-9]*\) .*/\1/p' "$scratch/$name.err")
  [ -n "$standin_port" ]
}

# The per-server log file of a loopback server: 127_0_0_1_<port>.log.
server_log() { echo "127_0_0_1_$1.log"; }
