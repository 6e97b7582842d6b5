#!/bin/bash
# The console's lines in a real systemd-journald: a private one, started in
# a mount namespace of the test's own with tmpfs over the journal's runtime
# folders, read back with journalctl. The console runs as a unit runs it:
# standard output and error on the journal's stream with JOURNAL_STREAM set,
# and journal=auto. Checked: every server line once, with its fields and
# named by its server; the console's name on every entry; a server's text
# as UTF-8 (its own where it is, U+FFFD for other bytes); the start-up lines
# of a server; the events' priorities and message ids; a command's source
# and user; a reload refused; a control group member's every request, named
# by the user; nothing on the plain stream; what configuration said (a bad
# alert and tag) in the journal and qzucon.log once; and the journal stopped
# mid-run costs the files nothing and the screen one line.
# Usage: journal_test.sh <qzucon> <qzstandin> <qzuconctl>
# Exit status 77: skipped (not root, no namespace, or no journald).
console=$1
standin=$2
ctl=$3
command -v systemd-cat >/dev/null || { echo "skipped: no systemd-cat"; exit 77; }
. "$(dirname "$0")/lib.sh"
journal_namespace "$0" "$@"

# A member of the console's control group, made for the run: its own group.
member=qzj$$
trap 'userdel "$member" 2>/dev/null; groupdel "$member" 2>/dev/null; on_exit $?' EXIT
useradd -M -d /nonexistent -s /usr/sbin/nologin "$member" || { fail "a member is made"; exit; }

journal_folders Storage=volatile RateLimitIntervalSec=0 || { fail "the journal's folders"; exit; }
start_journald || { fail "a private journald starts"; exit; }
ok "a private journald runs"

start_standin good pw-good --rate 20 --count 60 || { fail "the stand-in starts"; exit; }
good=127.0.0.1:$standin_port
start_standin bad pw-right --rate 0 || { fail "the second stand-in starts"; exit; }
bad=127.0.0.1:$standin_port
start_standin steady pw-steady --rate 10 || { fail "the third stand-in starts"; exit; }
steady=127.0.0.1:$standin_port
silent=127.0.0.1:$(free_port)  # nobody answers there
my=$(free_port)
udp=$(free_port)
dir=$scratch/console
mkdir -p "$dir"
# In a folder the group reaches, as the unit's runtime folder.
chmod 0711 "$scratch"
install -d -m 0750 -g "$member" "$scratch/run"
sock=$scratch/run/ctl.sock
# Eleven more rules that the steady server's fifth line matches: the entry
# names all twelve.
more=()
for ((i = 1; i <= 11; i++)); do more+=("alert=also$i:$steady line 5\$"); done

# As a unit runs it: both streams on the journal, JOURNAL_STREAM naming them.
# shellcheck disable=SC2016 # expanded by the inner shell, on the journal's stream
(cd "$dir" && exec systemd-cat -t qzucon-stream bash -c \
  'JOURNAL_STREAM=$(stat -L -c %d:%i /proc/self/fd/2) exec "$@"' console \
  "$console" "myaddr=127.0.0.1:$my" "server=$good" login=admin password=pw-good \
  "server=$bad" login=admin password=pw-wrong "server=$silent" login=admin password=x \
  "server=$steady" login=admin password=pw-steady tag=eu,pvp "alert=fifth:$steady line 5\$" \
  "alert=broken:(" "tag=no good" "${more[@]}" "UDPlistenPort=$udp" "controlsocket=$sock" "controlgroup=$member" </dev/null) &
cpid=$!
pids+=("$cpid")

goodlog=$dir/$(server_log "${good#*:}")
check "60 lines in the good server's file" wait_for "$goodlog" "->qzstandin " 30 60
check "a silent server is reported" wait_for "$dir/qzucon.log" "No answer from $silent" 30
# A wrong password shows after a few greetings of noise: each empty line
# asks the server for a new challenge, and so for one more greeting.
for ((i = 0; i < 8; i++)); do
  "$ctl" -S "$sock" send -s "$bad" -w 1 "" >/dev/null 2>&1
  wait_for "$dir/qzucon.log" "Password mismatch for $bad" 2 && break
done
check "a password mismatch is found" wait_for "$dir/qzucon.log" "Password mismatch for $bad" 1

# Commands: one over local UDP, one through the control socket.
exec 4>"/dev/udp/127.0.0.1/$udp"
printf 'qzuconactive %s\nsay from udp\n' "$good" >&4
check "the UDP command reaches the server" wait_for "$scratch/good.err" "text=say from udp" 20
exec 4>&-
"$ctl" -S "$sock" send -w 1 -s "$good" "say from control" >"$scratch/ctl.out" 2>&1
check "the control command reaches the server" \
  wait_for "$scratch/good.err" "text=say from control" 20
# Text in two scripts, and a byte that is no UTF-8; the server echoes both.
utf8=$'say caf\xc3\xa9 \xd0\xbf\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82'
"$ctl" -S "$sock" send -w 1 -s "$good" "$utf8" >/dev/null 2>&1
"$ctl" -S "$sock" send -w 1 -s "$good" $'say bad \xff byte' >/dev/null 2>&1
# The member's status, and a command of theirs refused: three requests, with
# the send's follow.
as_member=(setpriv --reuid="$member" --regid="$member" --init-groups --reset-env "$ctl" -S "$sock")
check "the member reads the status" "${as_member[@]}" status
"${as_member[@]}" send -w 0 -s "$good" "say from a member" >/dev/null 2>&1
check "the member's command is refused with status 9" [ $? -eq 9 ]

j() { journalctl --no-pager "$@"; }
# Entries reach the journal within the pass; journald may take a moment.
wait_journal() {
  local want=$1 i
  shift
  for ((i = 0; i < 100; i++)); do
    (($(j -o cat "$@" | wc -l) >= want)) && return 0
    sleep 0.1
  done
  return 1
}

wait_journal 60 QZUCON_SERVER="$good" QZUCON_KIND=server
lines=$(j -o cat SYSLOG_IDENTIFIER=qzucon QZUCON_SERVER="$good" QZUCON_KIND=server PRIORITY=6)
check "60 entries of the good server, named by it, identifier qzucon, priority 6" \
  [ "$(grep -c "^$good ->qzstandin .* line [0-9]*\$" <<<"$lines")" -eq 60 ]
check "each line once, 1 to 60" \
  [ "$(sed -n 's/.* line \([0-9]*\)$/\1/p' <<<"$lines" | sort -n | tr '\n' ' ')" = "$(seq 1 60 | tr '\n' ' ')" ]
check "the file has the same 60 lines" [ "$(grep -c -- '->qzstandin .* line [0-9]*$' "$goodlog")" -eq 60 ]
check "nothing arrives a second time as plain text" \
  [ "$(j -o cat _TRANSPORT=stdout | grep -c qzstandin)" -eq 0 ]
# One query: the steady server's lines keep coming in between two.
check "every entry names its console" [ "$(j -o json --output-fields=QZUCON_CONSOLE \
  SYSLOG_IDENTIFIER=qzucon | grep -vc "\"QZUCON_CONSOLE\":\"$my\"")" -eq 0 ]
check "the start-up lines of a server name it" \
  wait_journal 4 QZUCON_SERVER="$good" QZUCON_KIND=console PRIORITY=5 \
  MESSAGE="Server Address: $good" MESSAGE="Server IP: 127.0.0.1" \
  MESSAGE="Server Port: ${good#*:}" MESSAGE="Login Name: admin"

# What a reader of the journal's JSON gets: MESSAGE a string, the server's
# UTF-8 kept, U+FFFD for the byte that is none; the file keeps the screen's
# printable form.
wait_journal 2 QZUCON_SERVER="$good" QZUCON_KIND=server MESSAGE="$good ->echo: $utf8" \
  MESSAGE="$good ->echo: say bad "$'\xef\xbf\xbd'" byte"
j -o json SYSLOG_IDENTIFIER=qzucon >"$scratch/journal.json"
check "every MESSAGE in the journal's JSON is a string" \
  jq -e -s 'length > 60 and all(.MESSAGE | type == "string")' "$scratch/journal.json"
check "the server's UTF-8 is kept, behind its server" \
  grep -qxF "$good ->echo: $utf8" <(jq -r .MESSAGE "$scratch/journal.json")
check "a byte that is no UTF-8 is U+FFFD" \
  grep -qxF "$good ->echo: say bad "$'\xef\xbf\xbd'" byte" <(jq -r .MESSAGE "$scratch/journal.json")
check "the file has the printable form" \
  [ "$(LC_ALL=C grep -c $'echo: say caf\xfa\xfa \xfa\xfa\xfa\xfa' "$goodlog")" -eq 1 ]

# event <message id> <priority> <server or ""> <text>: one entry of the event.
event() {
  local server=$3 text=$4 match=(MESSAGE_ID="$1" PRIORITY="$2")
  [ -n "$server" ] && match+=(QZUCON_SERVER="$server")
  wait_journal 1 "${match[@]}" && j -o cat "${match[@]}" | grep -qF -- "$text"
}
check "console started: its id, priority 5" \
  event 36356963573f49da8df53abb568d1462 5 "" "**Console active."
check "challenge received: its id, priority 5, the server" \
  event feb98f5fd15447378c21dd60bfb94a4b 5 "$good" "Received Server Challenge from $good"
check "session confirmed: its id, priority 5, the server" \
  event 28ff4e5e48f645ab80f2be58b0fa37db 5 "$good" "Session confirmed for $good"
check "password mismatch: its id, priority 4, the server" \
  event 0e4b9dc419634ca69e98ef10a6d76519 4 "$bad" "**Password mismatch for $bad"
check "no answer: its id, priority 4, the server" \
  event 3c66ff63b90f4fc39da72949773c08df 4 "$silent" "**No answer from $silent"
check "unreachable, the kernel's word on its closed port: its id, priority 4, the server" \
  event 12ebcacd94214419b6f6e329fac720a4 4 "$silent" \
  "**Server $silent unreachable: port unreachable, reported by 127.0.0.1"

check "an alert: its name, priority 4, the server and its tags" \
  wait_journal 1 QZUCON_ALERT=fifth PRIORITY=4 QZUCON_SERVER="$steady" QZUCON_TAGS=eu,pvp
check "the alert's line once" \
  [ "$(j -o cat QZUCON_ALERT=fifth | grep -c ' line 5$')" -eq 1 ]
check "the line names all twelve alerts it matched" \
  [ "$(j -o export QZUCON_ALERT=fifth | grep -c '^QZUCON_ALERT=')" -eq 12 ]
check "the UDP command: kind, source, server" \
  wait_journal 1 QZUCON_KIND=command QZUCON_SOURCE=udp QZUCON_SERVER="$good" MESSAGE="say from udp"
check "the control command: source control, uid 0, server" \
  wait_journal 1 QZUCON_KIND=command QZUCON_SOURCE=control QZUCON_UID=0 QZUCON_SERVER="$good" \
  "MESSAGE=Control: to $good: say from control"
member_uid=$(id -u "$member")
check "each of the member's requests is one entry naming the user" \
  wait_journal 3 QZUCON_KIND=command QZUCON_SOURCE=control QZUCON_USER="$member" \
  QZUCON_UID="$member_uid"
check "... no more than one each" \
  [ "$(j -o cat QZUCON_USER="$member" | tee "$scratch/member.out" | wc -l)" -eq 3 ]
check "... the refusal with its reason" grep -qxF \
  "Control: $member (uid $member_uid) denied: send $good say from a member: no allow= rule for $member or a group of theirs matches \"say from a member\"" \
  "$scratch/member.out"
# Said while the configuration was read, before the journal and the log
# file were known: each once in both, as the console's errors.
for said in 'ERROR: Bad alert "broken:(": ' "ERROR: Bad tag \"no good\" for server $steady: "; do
  check "at start: '$said' in the journal once, priority 3" \
    [ "$(j -o cat SYSLOG_IDENTIFIER=qzucon PRIORITY=3 | grep -cF -- "$said")" -eq 1 ]
  check "at start: '$said' in qzucon.log once" [ "$(count_of "$dir/qzucon.log" "$said")" -eq 1 ]
done
check "no entry lost while the journal ran" \
  [ "$(count_of "$dir/qzucon.log" "lines did not reach the journal")" -eq 0 ]
check "every entry of the console is native" \
  [ "$(j -o cat _TRANSPORT=stdout SYSLOG_IDENTIFIER=qzucon-stream | wc -l)" -eq 0 ]

# A reload reads the same command line again, with its bad alert and tag:
# refused whole, said once with its own id, who asked and priority 3.
"$ctl" -S "$sock" reload >"$scratch/reload.out" 2>&1
check "the reload is refused (status 8)" [ $? -eq 8 ]
check "reload refused: its id, priority 3, source control, uid 0" \
  wait_journal 1 MESSAGE_ID=822cfd1ea77148d7a43b2bd01c35e48e PRIORITY=3 QZUCON_SOURCE=control \
  QZUCON_UID=0
check "the entry says what was refused" \
  j -o cat MESSAGE_ID=822cfd1ea77148d7a43b2bd01c35e48e | grep -qF \
  "ERROR: Configuration reload by uid 0 refused, nothing changed: 2 errors, the first: the command line: Bad alert"

# The journal goes away: the files go on, the screen says so once.
steadylog=$dir/$(server_log "${steady#*:}")
before=$(count_of "$steadylog" "->")
stop_pid "$journald_pid"
ok "journald stopped"
check "the console goes on writing its files" wait_for "$steadylog" "->" 30 $((before + 30))
gone="lines did not reach the journal (Connection refused)"
check "one line says what the journal missed" wait_for "$dir/qzucon.log" "$gone" 20
sleep 3
check "only one such line" [ "$(count_of "$dir/qzucon.log" "$gone")" -eq 1 ]
check "the console still runs" kill -0 "$cpid"

# Back: the console reaches the new journal within a second or so.
had=$(j -o cat QZUCON_SERVER="$steady" QZUCON_KIND=server | wc -l)
start_journald || fail "journald starts again"
check "lines reach the journal started again" \
  wait_journal $((had + 3)) QZUCON_SERVER="$steady" QZUCON_KIND=server
"$ctl" -S "$sock" exit >/dev/null 2>&1
check "the console ends" wait_gone "$cpid" 20
check "console ending: its id, after the exit notices" \
  event 178ceab5a1394407bdb7c25d0d5cb6dc 5 "" "Console ending: exit notices sent to 4 servers"
j -o cat SYSLOG_IDENTIFIER=qzucon | tail -n 5 >"$scratch/journal-end.out"
