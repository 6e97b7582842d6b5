# shellcheck shell=bash
# The shell library of the tools and the shell tests, sourced by bash
# scripts. Sourcing it makes a scratch folder ($scratch) and arranges that at
# exit every program started here ($pids) is stopped by its pid and the
# scratch folder is removed: kept, with the end of what the programs wrote,
# when a check failed or QZUCON_KEEP=1 is set.
#
# Set before sourcing, where the defaults do not fit:
#   scratch_name  the scratch folder's name before its random part (qzshell)
#   standin       the stand-in program for start_standin (qzstandin from PATH)
# Set after sourcing:
#   own_status=1  the script's exit status stands (a tool); by default it is
#                 0, or 1 once a check failed (a test)
#
# Every wait has a deadline in seconds and polls every 0.1 s; nothing is
# timed. Ports are taken below the kernel's range for port 0, so that a
# program that lets the system choose its port cannot take one handed out
# here.

set -u

# The source tree this library belongs to.
toplevel=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

failures=0
passes=0
pids=()
own_status=
: "${standin:=qzstandin}"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/${scratch_name:-qzshell}.XXXXXX") || exit 1

ok() {
  echo "ok: $*"
  passes=$((passes + 1))
}
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

# stop_pid <pid>: stops a program started here: SIGTERM, SIGKILL after 5 s.
stop_pid() {
  local pid=$1 i
  kill -0 "$pid" 2>/dev/null || {
    wait "$pid" 2>/dev/null
    return 0
  }
  kill -TERM "$pid" 2>/dev/null
  for ((i = 0; i < 50; i++)); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  return 0
}

# shellcheck disable=SC2317 # called from the exit trap
finish() {
  local f i
  # Newest first: consoles end before the servers they send exit notices to.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do stop_pid "${pids[i]}"; done
  if ((failures == 0)) && [ "${QZUCON_KEEP:-0}" != 1 ]; then
    rm -rf "$scratch"
    ((passes > 0)) && echo "all checks passed"
    return 0
  fi
  if ((failures == 0)); then
    echo "scratch folder kept: $scratch" >&2
    return 0
  fi
  echo "$failures check(s) failed; scratch folder kept: $scratch" >&2
  while IFS= read -r f; do
    echo "==== $f" >&2
    tail -n 40 "$f" >&2
  done < <(find "$scratch" -type f \( -name '*.log' -o -name '*.out' -o -name '*.err' \) | sort)
  return 0
}
# shellcheck disable=SC2317 # called from the exit trap
on_exit() {
  local status=$1
  finish
  trap - EXIT
  ((failures > 0)) && exit 1
  [ -n "$own_status" ] && exit "$status"
  exit 0
}
trap 'on_exit $?' EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

# count_of <file> <text>: lines of the file holding the text (0 without it).
count_of() {
  local n
  n=$(grep -cF -- "$2" "$1" 2>/dev/null) || n=0
  echo "$n"
}

# wait_for <file> <text> [seconds] [times]: true once the file holds the text
# at least `times` times (default once, within 15 s).
wait_for() {
  local file=$1 text=$2 seconds=${3:-15} times=${4:-1} i
  for ((i = 0; i < seconds * 10; i++)); do
    (($(count_of "$file" "$text") >= times)) && return 0
    sleep 0.1
  done
  return 1
}

# wait_gone <pid> [seconds]: true once the program has ended; its status is
# then in $gone_status.
# shellcheck disable=SC2034 # read by the scripts
gone_status=
# shellcheck disable=SC2034 # read by the scripts
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

# port_used <port>: true while a TCP or UDP socket of this host is bound to it.
port_used() {
  local hex
  printf -v hex '%04X' "$1"
  grep -qE "^ *[0-9]+: [0-9A-F]+:$hex " /proc/net/tcp /proc/net/tcp6 /proc/net/udp \
    /proc/net/udp6 2>/dev/null
}

# free_port: prints a port that no TCP or UDP socket of this host uses right
# now and that this script has not handed out before (also when called in
# $(...), which runs in a subshell: the ports handed out are kept in a file).
free_port() {
  local port i handed=$scratch/.ports
  for ((i = 0; i < 200; i++)); do
    port=$((20000 + RANDOM % 10000))
    grep -qx "$port" "$handed" 2>/dev/null && continue
    port_used "$port" && continue
    echo "$port" >>"$handed"
    echo "$port"
    return 0
  done
  return 1
}

# start_standin <name> <password> [options...]: a stand-in server on a
# loopback port the system chooses, sending 2 lines a second unless the
# options say otherwise; its notes in $scratch/<name>.err. Sets standin_port
# and standin_pid once its first line is out; false when it does not start.
standin_port=
standin_pid=
start_standin() {
  local name=$1 password=$2
  shift 2
  "$standin" --port 0 --password "$password" --rate 2 "$@" 2>"$scratch/$name.err" &
  standin_pid=$!
  pids+=("$standin_pid")
  standin_port=
  # The seed follows the port on the same line, so the port is complete.
  wait_for "$scratch/$name.err" " seed=" || return 1
  standin_port=$(sed -n 's/.*listening addr=127\.0\.0\.1:\([0-9]*\) .*/\1/p' \
    "$scratch/$name.err" | head -n 1)
  [ -n "$standin_port" ]
}

# server_log <port>: the per-server log file of a loopback server.
server_log() { echo "127_0_0_1_$1.log"; }

# A private systemd-journald (Debian's systemd package), for the journal's
# test and measurements. journal_namespace <script> [args...] runs the script
# again in mount and network namespaces of its own, as root, or says why it
# cannot and exits 77 (skipped); inside it, it returns at once. The
# namespaces, their mounts and the journald in them end with the script.
journald=${QZUCON_JOURNALD:-/lib/systemd/systemd-journald}
journal_namespace() {
  [ -n "${QZUCON_JOURNAL_NS:-}" ] && return 0
  local why=
  if [ "$(id -u)" != 0 ]; then
    why="a private journald needs root"
  elif [ ! -x "$journald" ]; then
    why="no $journald (Debian's systemd package)"
  elif ! command -v journalctl >/dev/null; then
    why="no journalctl"
  elif ! command -v ip >/dev/null || ! command -v sysctl >/dev/null; then
    why="no ip or sysctl"
  elif ! unshare --mount --net --propagation private true 2>/dev/null; then
    why="cannot make mount and network namespaces"
  fi
  rm -rf "$scratch"  # the run inside makes its own
  trap - EXIT
  if [ -n "$why" ]; then
    echo "skipped: $why"
    exit 77
  fi
  QZUCON_JOURNAL_NS=1 exec unshare --mount --net --propagation private bash "$@"
}

# journal_folders <journald.conf lines...>: in the namespaces, loopback up
# and the datagram queue of a host that systemd booted ($journal_qlen, 512
# entries unless set; the kernel's own default of 10 is the namespace's
# otherwise), tmpfs over
# /run/systemd and /run/log (a folder made under the host's /run would
# outlive the namespace) and a journald.conf of these lines over the system's.
journal_folders() {
  ip link set lo up && sysctl -qw "net.unix.max_dgram_qlen=${journal_qlen:-512}" && mount -t tmpfs -o mode=0755 tmpfs /run/systemd && mount -t tmpfs -o mode=0755 tmpfs /run/log &&
    mkdir -p /run/systemd/journal /run/log/journal &&
    printf '%s\n' '[Journal]' "$@" >"$scratch/journald.conf" &&
    mount --bind "$scratch/journald.conf" /etc/systemd/journald.conf
}

# start_journald: journald in the namespace, its pid in $journald_pid (and
# $pids); false when its socket does not appear within 10 s.
journald_pid=
start_journald() {
  rm -f /run/systemd/journal/socket
  "$journald" 2>>"$scratch/journald.err" &
  journald_pid=$!
  pids+=("$journald_pid")
  local i
  for ((i = 0; i < 100; i++)); do
    [ -S /run/systemd/journal/socket ] && return 0
    sleep 0.1
  done
  return 1
}

# configure_build <build folder> <cmake options...>: configures a build of
# this tree, quietly. A new folder gets Ninja where it is installed (it keeps
# both cores busy through a build, and starts a rebuild sooner than make); an
# existing folder keeps the generator it was made with.
configure_build() {
  local dir=$1
  shift
  if [ ! -f "$dir/CMakeCache.txt" ] && command -v ninja >/dev/null; then
    set -- -G Ninja "$@"
  fi
  cmake -S "$toplevel" -B "$dir" "$@" >/dev/null
}
