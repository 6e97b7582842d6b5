# Shell helpers for the demo and memcheck scripts: bounded waits for a text
# in a file, a stand-in server on a port the system chooses, and free ports.
# Sourced by POSIX sh scripts that set $root (the source folder) first and
# run in their scratch folder. Nothing here sleeps a fixed time.

# waitFor <file> <text> [seconds]: polls until the file holds the text;
# false after the deadline (default 10 s).
waitFor() {
  tries=$((${3:-10} * 10))
  until grep -qF -- "$2" "$1" 2>/dev/null; do
    tries=$((tries - 1))
    [ "$tries" -gt 0 ] || return 1
    sleep 0.1
  done
}

# startStandin <log> <options...>: a stand-in on a port the system chooses
# (--port 0); its pid in $pid, its port in $port once its first line is out.
# False when it does not start.
startStandin() {
  log=$1
  shift
  "$root/build/qzstandin" --port 0 "$@" 2>"$log" &
  pid=$!
  # The seed follows the port on the same line, so the port is complete.
  waitFor "$log" " seed=" || return 1
  port=$(sed -n 's/.*listening addr=[0-9.]*:\([0-9]*\) .*/\1/p' "$log" | head -n 1)
}

# freePort: a port nothing is bound to right now, in $port, as the system
# hands them out: a stand-in takes one and lets it go again. Never one
# already in $taken, to which it is added. False when none could be had.
taken=
freePort() {
  for _ in 1 2 3 4 5; do
    startStandin freeport.log --rate 0 || return 1
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    case " $taken " in *" $port "*) continue ;; esac
    taken="$taken $port"
    return 0
  done
  return 1
}
