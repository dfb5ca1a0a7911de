#!/usr/bin/env bash
# The demo station reporting to a private RabbitMQ node (with_rabbitmq.sh) through what goes
# wrong on a factory floor:
#   login   a wrong password: the station burns on, says so once on stderr and once as a
#           headless event, never shows the password, and keeps the messages for later;
#   away    the broker stopped while 20 burns are made, then started: every message arrives
#           once, in order, with the station running throughout;
#   kill    the station killed (-9) with messages waiting and the broker away: a new start
#           sends them, once, before its own;
#   line    (under with_pg_cluster.sh too) a station on a line: its burn's messages leave from
#           its local outbox file; the database stopped and started is a fault raised and
#           cleared.
#
#   mes_outages.sh STAMPWRIGHT STAMPWRIGHT_TOOL [SCENARIO...]   (default: login away kill)
set -euo pipefail
station=$1
tool=$2
shift 2
scenarios=("$@")
((${#scenarios[@]} > 0)) || scenarios=(login away kill)
here=$(cd "$(dirname "$0")" && pwd)
node_script=$here/../../scripts/lib/rabbitmq_node.sh
work=$(mktemp -d "${TMPDIR:-/tmp}/stampwright-mes-outages-XXXXXX")
pid=
cleanup() {
  [[ -n $pid ]] && kill -9 "$pid" 2>/dev/null || true
  exec 3>&-
  [[ -n ${KEEP:-} ]] && echo "kept $work" >&2 || rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "mes_outages: $*" >&2; exit 1; }
# The node started here outlives this script's commands: it must not hold the station's input.
broker() { bash "$node_script" "$1" "$STAMPWRIGHT_RABBITMQ_NODE" >/dev/null 3>&-; }

# Waits up to $2 tenths of a second for the command $1 to succeed.
await() {
  for _ in $(seq "$2"); do eval "$1" && return 0; sleep 0.1; done
  return 1
}

# Starts the demo station in dir $1 in the background, reading commands from fd 3; the rest of
# the arguments are the station's.
start_station() {
  local dir=$1
  shift
  mkdir -p "$dir/run"
  chmod 700 "$dir/run"
  rm -f "$dir/in"
  mkfifo "$dir/in"
  XDG_RUNTIME_DIR=$dir/run "$station" --headless --demo --workdir "$dir" --station e2e "$@" \
    <"$dir/in" >>"$dir/out" 2>>"$dir/err" &
  pid=$!
  exec 3>"$dir/in"
}
# Ends the station's input, so that it closes, and waits for it (bounded).
end_station() {
  exec 3>&-
  await "! kill -0 $pid 2>/dev/null" 600 || fail "the station did not close"
  wait "$pid" || fail "the station failed: $(tail -3 "$1/err")"
  pid=
}
# Burns the demo's MACs 1..$1 one after the other on bay 1 of five demo bays.
burn_all() {
  for i in $(seq "$1"); do
    printf 'bay 1 set 1009 02A0C51%05X\nbay 1 click 1102\nbay 1 wait 1105 20000 Waiting...\nbay 1 wait 1105 20000 Success\n' "$i" >&3
  done
}
records() { grep -c '"event":"journal"' "$1/out" || true; }
# What a queue holds now, one envelope a line, taken within 8 s.
drain_queue() {
  timeout 8 "$tool" mes listen "$STAMPWRIGHT_AMQP_URL/queue/$1" >"$2" 2>/dev/null || true
}
names_of() { grep -oE '^\{"MessageName":"[^"]+"' "$1" | sed 's/.*:"CFX\.//; s/"$//; s/.*\.//'; }

# Every attempt's four messages in order under its record's id, each UniqueID once, between the
# endpoint's messages given as the expected names around them.
check_attempts() {
  local heard=$1 out=$2
  local ids unique
  ids=$(grep -oE '"record":\{"id":"[^"]+"' "$out" | sed 's/.*"id":"//; s/"$//')
  local expected_tx
  expected_tx=$(for id in $ids; do printf '%s\n%s\n%s\n%s\n' "$id" "$id" "$id" "$id"; done)
  local got_tx
  got_tx=$(grep -oE '"Transaction(ID|Id)":"[^"]+"' "$heard" | sed 's/.*:"//; s/"$//')
  [[ $got_tx == "$expected_tx" ]] || fail "transactions not once each and in the records' order"
  unique=$(grep -oE '"UniqueID":"[^"]+"' "$heard" | sort | uniq -d)
  [[ -z $unique ]] || fail "a message arrived twice: $unique"
}

scenario_login() {
  local dir=$work/login
  local bad=${STAMPWRIGHT_AMQP_URL/guest:guest@/guest:Wr0ng-pw@}
  mkdir -p "$dir"
  start_station "$dir" --mes "$bad/queue/cfx-login"
  printf 'wait 1105 15000 Read Module OK - PX300 Class B\nset 1009 02A0C5100001\nclick 1102\n' >&3
  printf 'wait 1105 20000 Success\nsleep 11000\n' >&3
  end_station "$dir"
  grep -q '"text":"Success"' "$dir/out" || fail "login: the burn did not succeed"
  [[ $(grep -c 'MES not connected' "$dir/err") == 1 ]] ||
    fail "login: not said once on stderr: $(grep MES "$dir/err")"
  [[ $(grep -c '"event":"mes-connection"' "$dir/out") == 1 ]] || fail "login: not one headless event"
  grep '"event":"mes-connection"' "$dir/out" | grep -q '"state":"disconnected","reason":"amqp:unauthorized-access' ||
    fail "login: the event does not say why: $(grep mes-connection "$dir/out")"
  grep -qF 'Wr0ng-pw' "$dir/out" "$dir/err" && fail "login: the password was shown"
  # Tried again meanwhile (every 5 s): the broker saw more than one refused login.
  local refused
  refused=$(cat "$STAMPWRIGHT_RABBITMQ_NODE"/log/*.log 2>/dev/null | grep -c 'Authentication failed\|invalid credentials' || true)
  ((refused >= 2)) || fail "login: the broker saw $refused refused login(s), not a retry"
  local backlog
  backlog=$("$tool" mes status --journal "$dir/journal.db" | sed -n 's/^backlog: //p')
  [[ $backlog == 6 ]] || fail "login: $backlog message(s) kept, not 6"
  echo "mes_outages: login refused: burned on, said once, password never shown, 6 messages kept"
}

scenario_away() {
  local dir=$work/away
  mkdir -p "$dir"
  start_station "$dir" --bays 5 --mes "$STAMPWRIGHT_AMQP_URL/queue/cfx-away"
  await "grep -q '\"state\":\"connected\"' '$dir/out'" 300 || fail "away: never connected"
  printf 'bay 1 wait 1105 15000 Read Module OK - PX300 Class B\n' >&3
  # The plugin declares /queue/NAME transient: what it holds does not outlive the node. Taken
  # before the stop, what the station sent until then.
  await "\"$tool\" mes status --journal '$dir/journal.db' | grep -qx 'backlog: 0'" 100 || fail "away: not sent"
  "$tool" mes listen "$STAMPWRIGHT_AMQP_URL/queue/cfx-away" --count 1 >"$dir/heard" 2>/dev/null 3>&-
  broker stop
  await "grep -q '\"state\":\"disconnected\"' '$dir/out'" 300 || fail "away: the broker's leaving not seen"
  burn_all 20
  await "[[ \$(records '$dir') -ge 20 ]]" 1200 || fail "away: only $(records "$dir") of 20 burns recorded"
  [[ $(grep -c '"outcome":"success"' "$dir/out") == 20 ]] || fail "away: not 20 successes"
  broker start
  await "\"$tool\" mes status --journal '$dir/journal.db' | grep -qx 'backlog: 0'" 600 ||
    fail "away: the outbox did not drain: $("$tool" mes status --journal "$dir/journal.db")"
  end_station "$dir"
  drain_queue cfx-away "$dir/heard.after"
  cat "$dir/heard.after" >>"$dir/heard"
  local names expected
  names=$(names_of "$dir/heard" | tr '\n' ' ')
  expected="EndpointConnected $(for _ in $(seq 20); do printf 'WorkStarted UnitsPersonalized UnitsTested WorkCompleted '; done)EndpointShuttingDown "
  [[ $names == "$expected" ]] || fail "away: $(wc -l <"$dir/heard") messages, not 82 in order: ${names:0:300}"
  check_attempts "$dir/heard" "$dir/out"
  echo "mes_outages: broker away for 20 burns: 82 messages, each once, in order"
}

scenario_kill() {
  local dir=$work/kill
  mkdir -p "$dir"
  broker stop
  start_station "$dir" --mes "$STAMPWRIGHT_AMQP_URL/queue/cfx-kill"
  printf 'wait 1105 15000 Read Module OK - PX300 Class B\nset 1009 02A0C5100001\nclick 1102\n' >&3
  printf 'wait 1105 20000 Success\nsleep 60000\n' >&3
  await "grep -q '\"outcome\":\"success\"' '$dir/out'" 300 || fail "kill: the burn did not end"
  [[ $("$tool" mes status --journal "$dir/journal.db" | sed -n 's/^backlog: //p') == 5 ]] ||
    fail "kill: not 5 messages waiting"
  kill -9 "$pid"
  wait "$pid" 2>/dev/null || true
  pid=
  exec 3>&-
  broker start
  start_station "$dir" --mes "$STAMPWRIGHT_AMQP_URL/queue/cfx-kill"
  printf 'sleep 500\n' >&3
  end_station "$dir"
  drain_queue cfx-kill "$dir/heard"
  local names
  names=$(names_of "$dir/heard" | tr '\n' ' ')
  [[ $names == "EndpointConnected WorkStarted UnitsPersonalized UnitsTested WorkCompleted EndpointConnected EndpointShuttingDown " ]] ||
    fail "kill: not the waiting messages then the new start's: $names"
  check_attempts "$dir/heard" "$dir/out"
  echo "mes_outages: killed with 5 messages waiting: sent once after the restart, before its own"
}

scenario_line() {
  [[ -n ${STAMPWRIGHT_PG_CLUSTER:-} ]] || fail "line: run under with_pg_cluster.sh"
  local dir=$work/line target="dbname=$PGDATABASE"
  mkdir -p "$dir"
  "$tool" journal init --journal "$target" >/dev/null 2>&1 || fail "line: journal init failed"
  start_station "$dir" --journal "$target" --mes "$STAMPWRIGHT_AMQP_URL/queue/cfx-line"
  printf 'wait 1105 15000 Read Module OK - PX300 Class B\nset 1009 02A0C5100001\nclick 1102\n' >&3
  printf 'wait 1105 20000 Success\n' >&3
  await "grep -q '\"outcome\":\"success\"' '$dir/out'" 300 || fail "line: the burn did not end: $(tail -3 "$dir/err")"
  bash "$here/../../scripts/lib/pg_cluster.sh" stop "$STAMPWRIGHT_PG_CLUSTER" >/dev/null
  await "grep -q '\"event\":\"journal-connection\",\"connected\":false' '$dir/out'" 300 ||
    fail "line: the database's leaving not seen"
  bash "$here/../../scripts/lib/pg_cluster.sh" start "$STAMPWRIGHT_PG_CLUSTER" >/dev/null 3>&-
  await "grep -q '\"event\":\"journal-connection\",\"connected\":true' '$dir/out'" 300 ||
    fail "line: the database's return not seen"
  end_station "$dir"
  [[ -f $dir/journal-outbox.db && ! -e $dir/journal.db ]] || fail "line: not the local outbox file"
  drain_queue cfx-line "$dir/heard"
  local names
  names=$(names_of "$dir/heard" | tr '\n' ' ')
  [[ $names == "EndpointConnected WorkStarted UnitsPersonalized UnitsTested WorkCompleted FaultOccurred FaultCleared EndpointShuttingDown " ]] ||
    fail "line: $names"
  grep -v Fault "$dir/heard" >"$dir/attempts"
  check_attempts "$dir/attempts" "$dir/out"
  local occurred cleared
  occurred=$(grep FaultOccurred "$dir/heard" | grep -oE '"FaultOccurrenceId":"[^"]+"')
  cleared=$(grep FaultCleared "$dir/heard" | grep -oE '"FaultOccurrenceId":"[^"]+"')
  [[ -n $occurred && $occurred == "$cleared" ]] || fail "line: the fault cleared is not the one raised"
  grep FaultOccurred "$dir/heard" | grep -q '"Cause":"ServicesFailure","Severity":"Error","FaultCode":"JournalUnavailable"' ||
    fail "line: the fault does not say what failed"
  echo "mes_outages: line station: its burn from the local outbox, the database's outage a fault raised and cleared"
}

for scenario in "${scenarios[@]}"; do "scenario_$scenario"; done
