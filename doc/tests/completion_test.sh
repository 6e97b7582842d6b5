#!/bin/bash
# The bash completion, called as bash calls it: the command line up to the
# cursor in COMP_LINE and COMP_POINT, the words split at blanks and at '='.
# Each row is a command line and the replies it must give, sorted.
# Usage: completion_test.sh <completion file>
. "$(dirname "$0")/lib.sh"
# shellcheck source=../bash-completion/qzucon
. "$1" || { fail "the completion file loads"; exit; }
cd "$scratch" || exit 1
mkdir -p logs/site
touch site.ini other.conf

# replies <line>: what the registered completion answers at the line's end.
replies() {
  local line=$1 registered fn
  # By the program's path first, then by its name, as bash looks it up.
  local cmd=${line%% *}
  registered=$(complete -p "$cmd" 2>/dev/null) ||
    registered=$(complete -p "${cmd##*/}" 2>/dev/null) ||
    return 1
  fn=${registered#*-F }
  fn=${fn%% *}
  COMP_LINE=$line
  COMP_POINT=${#line}
  # shellcheck disable=SC2206 # splitting is the point
  COMP_WORDS=(${line//=/ = })
  [[ $line == *[[:space:]] || $line == *= ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  "$fn" "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}" 2>/dev/null
  printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//'
}

rows=(
  "qzucon myad|myaddr="
  "qzucon tcp|TCPlistenport="
  "qzucon Udp|UDPlistenport="
  "qzucon qzucon|qzucondebug qzuconlog qzuconwrite"
  "qzucon qzuconl|qzuconlog"
  "qzucon server=127.0.0.1:28100 log|login="
  "qzucon localusers=|any owner"
  "qzucon contr|controlgroup= controlsocket="
  "qzucon controlgroup=roo|root"
  "qzucon al|alert= allow="
  "qzucon controlsocket=o|off"
  "qzucon jou|journal="
  "qzucon journal=|auto off on"
  "qzucon Journal=o|off on"
  "qzucon controlsocket=./si|./site.ini"
  "qzuconctl |--help --version -H -S -p do exit follow list metrics reload send status top"
  "qzuconctl --v|--version"
  "qzucon -|--check --help --version"
  "qzucon --h|--help"
  "qzuconctl m|metrics"
  "qzuconctl metrics |"
  "qzucon met|metrics="
  "qzucon metrics=./si|./site.ini"
  "qzuconctl s|send status"
  "qzuconctl -p 24350 st|status"
  "qzuconctl -S si|site.ini"
  "qzuconctl send -|--json --rolling -a -s -t -w"
  "qzuconctl send -t eu --rolling --|--gap --json --keep-going --rolling --timeout --until"
  "qzuconctl send -a --rolling --until |"
  "qzucon on|on= oncooldown="
  "qzuconctl send -s 127.0.0.1:1 |"
  "qzuconctl send -t eu -w 1 --j|--json"
  "qzuconctl follow -|--alerts --json -e -s -t -v"
  "qzuconctl follow -t us -e keep --a|--alerts"
  "qzuconctl follow -e |"
  "qzuconctl status -|--json -t"
  "qzucon ta|tag="
  "qzucon server=127.0.0.1:28100 ALE|alert="
  "qzuconctl status |"
  "qzuconctl -p 24350 t|top"
  "qzuconctl top |-t"
  "qzuconctl top -t eu -|-t"
  "qzuconctl r|reload"
  "qzuconctl -H |"
  "qzuconctl -H game1,game2 t|"
  "qzuconctl -H game1 s|send status"
  "qzuconctl -H send -S /x s|send status"
  "qzuconctl reload -|--json"
  "qzuconctl -p send s|send status"
  "qzucon localusers=o|owner"
  "qzucon LocalUsers=a|any"
  "qzucon ini=si|site.ini"
  "qzucon myaddr=1|"
  "qzucon nothing|"
  "/usr/local/bin/qzucon pass|password="
  "qzstandin --ra|--rate"
  "qzstandin --p|--password --port"
  "qzstandin --rate |"
  "qzload --stdin |eof pipe"
  "qzload --stdin=p|pipe"
  "qzload --st|--stdin"
  "qzload --attach --c|--console --console-port --count"
  "qzload --dir lo|logs"
  "qzload --dir=logs/s|logs/site"
  "qzload --rate 5 --l|--label"
)
for row in "${rows[@]}"; do
  line=${row%%|*}
  want=${row#*|}
  got=$(replies "$line")
  check "'$line' completes to '$want' (got '$got')" [ "$got" = "$want" ]
done

# With '=' taken out of the word breaks bash replaces the whole token.
COMP_WORDBREAKS=${COMP_WORDBREAKS//=/}
got=$(replies "qzucon localusers=a")
check "without '=' as a word break: 'localusers=a' completes to 'localusers=any' (got '$got')" \
  [ "$got" = "localusers=any" ]
