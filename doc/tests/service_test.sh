#!/bin/bash
# The service guide as far as a machine without a running systemd allows:
# qzucon-service-setup makes a (temporary) service user and the configuration
# folder; that user reads its file through the folder's group and runs the
# console headless in the unit's working folder against a stand-in, started
# by qzucon-start as the unit would start it. A member of the service's group
# reads through the control socket in the runtime folder and may send only
# what an allow= rule grants. With the folder root's alone, as an older guide
# had it, the console names the file and the reason and exits with status 2.
# Finally systemd-analyze verify reads the unit with what it needs: the
# program and its man page where it looks.
# Needs root (it adds a user and removes it again); skipped otherwise.
# Usage: service_test.sh <qzucon> <qzstandin> <examples folder> <qzucon.1>
console=$1
standin=$2
examples=$3
manpage=$4
if [ "$(id -u)" != 0 ]; then
  echo "skipped: needs root to add and remove a temporary service user"
  exit 77
fi
for tool in useradd userdel setpriv; do
  command -v "$tool" >/dev/null || { echo "skipped: no $tool"; exit 77; }
done
. "$(dirname "$0")/lib.sh"

# A user of this run only, removed with its group however the test ends, and
# a member of the team, in that group.
user=qzt$$ member=qzm$$
# finish first: it stops the consoles that still run as that user.
trap 'finish; userdel "$member" 2>/dev/null; groupdel "$member" 2>/dev/null
      userdel "$user" 2>/dev/null; groupdel "$user" 2>/dev/null
      trap - EXIT; exit $((failures > 0))' EXIT
chmod 0711 "$scratch"  # the service user passes through to its folders

start_standin server pw-site --rate 5 || { fail "the stand-in starts"; exit; }
my=$(free_port) udp=$(free_port)
mkdir "$scratch/setup"
cp "$examples/qzucon-service-setup" "$examples/qzucon@.service" "$scratch/setup/"
cat >"$scratch/setup/site.ini" <<INI
qzuconlog qzucon.log
UDPlistenPort=$udp
myaddr=127.0.0.1:$my
controlgroup=$user
allow=$member:^say 
;List of Servers
server=127.0.0.1:$standin_port
login=admin
password=pw-site
INI

export QZUCON_USER=$user QZUCON_ETC=$scratch/etc QZUCON_UNITS=$scratch/units
(cd "$scratch/setup" && sh ./qzucon-service-setup site) >"$scratch/setup.out" 2>&1
check "the setup runs" [ $? -eq 0 ]
check "the service user exists" id -u "$user"
# The team's member, in the service's group, before the console reads its rule.
useradd -M -d /nonexistent -s /usr/sbin/nologin -G "$user" "$member"
check "the folder is root's, open to the group" \
  [ "$(stat -c '%U %G %a' "$scratch/etc")" = "root $user 750" ]
check "the file is the user's alone" \
  [ "$(stat -c '%U %G %a' "$scratch/etc/site.ini")" = "$user $user 600" ]

# The console as the unit starts it, by the example script for hosts
# without systemd, with this test's folders; it makes the log and runtime
# folders as LogsDirectory= and RuntimeDirectory= do.
work=$scratch/log/site
run=$scratch/run/qzucon/site
as_service() {
  QZUCON=$console QZUCON_USER=$user QZUCON_ETC=$scratch/etc QZUCON_LOGS=$scratch/log \
    QZUCON_RUN=$scratch/run exec sh "$examples/qzucon-start" site >>"$scratch/service.out" 2>&1
}
(as_service) &
service=$!
pids+=("$service")
check "it opens its local input" \
  wait_for "$work/qzucon.log" "Listening for localhost UDP plaintext input on port $udp." 30
check "the server's challenge comes" wait_for "$work/qzucon.log" "Received Server Challenge" 30
log=$work/$(server_log "$standin_port")
check "the server's lines arrive" wait_for "$log" "->qzstandin 127.0.0.1:$standin_port line" 30
exec 4>"/dev/udp/127.0.0.1/$udp"
printf 'qzuconactive 127.0.0.1:%s\nstatus\n' "$standin_port" >&4
sleep 1
exec 4>&-
check "a command reaches the server" wait_for "$log" "->echo: status" 30
# qzuconctl, as root and as a member of the group, through the socket in the
# unit's runtime folder.
ctl="$(dirname "$console")/qzuconctl"
ctl_status() {
  "$@" "$ctl" -S "$run/control.sock" status >"$scratch/ctl.out" 2>&1 &&
    grep -qF "challenge answered" "$scratch/ctl.out"
}
check "qzuconctl reaches it in its runtime folder" ctl_status
# The unit's ExecReload= command, run as systemd runs it: as the service
# user, with the unit's XDG_RUNTIME_DIR, after a --check of the edited file.
reload_cmd=$(sed -n 's/^ExecReload=qzuconctl //p' "$examples/qzucon@.service")
check "the unit reloads with qzuconctl" [ "$reload_cmd" = "-S /run/qzucon/%i/control.sock reload" ]
reload_cmd=${reload_cmd//\/run\/qzucon\/%i/$run}
as_user() {
  setpriv --reuid="$user" --regid="$user" --init-groups env XDG_RUNTIME_DIR="$run" "$@"
}
printf 'tag=site\n' >>"$scratch/etc/site.ini"
check "qzucon --check passes the edited file" \
  as_user "$console" --check "ini=$scratch/etc/site.ini"
# shellcheck disable=SC2086 # the unit's words, as systemd splits them
as_user "$(dirname "$console")/qzuconctl" $reload_cmd >"$scratch/reload.out" 2>&1
check "ExecReload= reloads the instance (exit $?)" \
  grep -qxF "reloaded: 0 added, 0 removed, 0 changed, 1 kept" "$scratch/reload.out"
check "the reload says who asked" \
  wait_for "$work/qzucon.log" "Configuration reloaded by uid $(id -u "$user"): 0 added" 30
printf 'alert=bad:(\n' >>"$scratch/etc/site.ini"
# shellcheck disable=SC2086
as_user "$(dirname "$console")/qzuconctl" $reload_cmd >"$scratch/reload.out" 2>&1
status=$?
check "a bad file fails the reload with status 8 (was $status)" [ "$status" -eq 8 ]
check "the failed reload names the line" \
  grep -qF "$scratch/etc/site.ini line 11: Bad alert" "$scratch/reload.out"
as_member=(setpriv --reuid="$member" --regid="$member" --init-groups --reset-env)
check "a member of the group reads its status" ctl_status "${as_member[@]}"
"${as_member[@]}" "$ctl" -S "$run/control.sock" send -a -w 0 quit >"$scratch/ctl.out" 2>&1
status=$?
check "a command no rule grants: exit status 9 (was $status)" [ "$status" -eq 9 ]
check "... and the member may send what one grants" \
  "${as_member[@]}" "$ctl" -S "$run/control.sock" send -a -w 1 "say from the team"
check "what the member sent is on record" \
  grep -qF "Control: $member (uid $(id -u "$member")): send * say from the team" "$work/qzucon.log"
check "the log folder is the user's alone, the runtime one open to its group" \
  [ "$(stat -c '%U %a' "$work") $(stat -c '%U %G %a' "$run")" = "$user 700 $user $user 750" ]
check "the log files are the user's alone" \
  [ "$(stat -c '%U %a' "$work/qzucon.log")" = "$user 600" ]
check "no password mismatch" [ "$(count_of "$work/qzucon.log" "Password mismatch")" -eq 0 ]
stop_pid "$service"

# The folder as root's alone: the console says why it has no servers.
chgrp root "$scratch/etc"
(as_service)
status=$?
check "an unreadable file: exit status 2 (was $status)" [ "$status" -eq 2 ]
check "an unreadable file is named with the reason" grep -qF \
  "ERROR: Unable to read configuration file $scratch/etc/site.ini: Permission denied" \
  "$work/qzucon.log"

if command -v systemd-analyze >/dev/null; then
  # verify looks for the program in systemd's own search path and runs man
  # for the Documentation= page: pin the one built here and show it the page.
  mkdir -p "$scratch/man/man1"
  cp "$manpage" "$scratch/man/man1/"
  mkdir -p "$scratch/units"
  sed -e "s|^ExecStart=qzucon |ExecStart=$console |" \
    -e "s|^ExecReload=qzuconctl |ExecReload=$(dirname "$console")/qzuconctl |" \
    "$examples/qzucon@.service" \
    >"$scratch/units/qzucon@site.service"
  MANPATH=$scratch/man systemd-analyze verify "$scratch/units/qzucon@site.service" \
    >"$scratch/verify.out" 2>&1
  check "systemd-analyze verify accepts the unit" [ $? -eq 0 ]
fi
