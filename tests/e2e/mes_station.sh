#!/usr/bin/env bash
# The demo station reporting to a private RabbitMQ node (with_rabbitmq.sh): one burn's four CFX
# messages arrive between the endpoint's connected and shutting-down, in order, under one
# transaction id, and no byte of any of them carries the unit's password, DAK or NMK.
#
#   mes_station.sh STAMPWRIGHT STAMPWRIGHT_TOOL      (run under with_rabbitmq.sh)
set -euo pipefail
station=$1
tool=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/stampwright-mes-e2e-XXXXXX")
listener=
cleanup() {
  [[ -n $listener ]] && kill "$listener" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "mes_station: $*" >&2; exit 1; }

"$tool" mes listen "$STAMPWRIGHT_AMQP_URL/exchange/amq.topic/#" --count 6 >"$work/heard" 2>"$work/listen.err" &
listener=$!
for _ in $(seq 100); do grep -q listening "$work/listen.err" && break; sleep 0.1; done

printf '%s\n' 'wait 1105 15000 Read Module OK - PX300 Class B' 'set 1009 02A0C5100001' 'click 1102' \
  'wait 1105 20000 Success' |
  XDG_RUNTIME_DIR=$work timeout 60 "$station" --headless --demo --workdir "$work" --station e2e \
    --mes "$STAMPWRIGHT_AMQP_URL/exchange/amq.topic" >"$work/out" 2>"$work/err" ||
  fail "the station failed: $(cat "$work/err")"
grep -q '"text":"Success"' "$work/out" || fail "no Success"
for _ in $(seq 300); do kill -0 "$listener" 2>/dev/null || break; sleep 0.1; done
kill -0 "$listener" 2>/dev/null && fail "fewer than 6 messages arrived: $(cut -c1-80 "$work/heard")"
listener=

names=$(grep -oE '^\{"MessageName":"[^"]+"' "$work/heard" | sed 's/.*:"//; s/"$//' | tr '\n' ' ')
expected="CFX.EndpointConnected CFX.Production.WorkStarted CFX.Production.Assembly.UnitsPersonalized CFX.Production.TestAndInspection.UnitsTested CFX.Production.WorkCompleted CFX.EndpointShuttingDown "
[[ $names == "$expected" ]] || fail "messages in the wrong order or missing: $names"
ids=$(grep -oE '"Transaction(ID|Id)":"[^"]+"' "$work/heard" | sed 's/.*:"//; s/"$//' | sort -u)
[[ $(wc -l <<<"$ids") -eq 1 && -n $ids ]] || fail "not one transaction id: $ids"
record_id=$(grep -oE '"record":\{"id":"[^"]+"' "$work/out" | sed 's/.*"id":"//; s/"$//')
[[ $ids == "$record_id" ]] || fail "the transaction id is not the attempt's id ($ids, $record_id)"
grep -q '"Value":"02-A0-C5-10-00-01"' "$work/heard" || fail "UnitsPersonalized without the MAC"
# The demo unit's password, grouped and not, and the keys the burn showed.
for secret in Hq4vT9mW2xKp7sLd Hq4v-T9mW-2xKp-7sLd \
    "$(grep -oE '"id":1117,"text":"[^"]+"' "$work/out" | tail -1 | sed 's/.*"text":"//; s/"$//')" \
    "$(grep -oE '"id":1119,"text":"[^"]+"' "$work/out" | tail -1 | sed 's/.*"text":"//; s/"$//')"; do
  [[ -n $secret ]] || fail "a key was not shown"
  grep -qF "$secret" "$work/heard" && fail "a message carries a secret: $secret"
  grep -qF "$(tr -d ' ' <<<"$secret")" "$work/heard" && fail "a message carries a secret: $secret"
done
grep -qF ':guest@' "$work/err" && fail "stderr shows the broker password"
backlog=$("$tool" mes status --journal "$work/journal.db" | sed -n 's/^backlog: //p')
[[ $backlog == 0 ]] || fail "the outbox still holds $backlog message(s)"
echo "mes_station: 6 messages in order, one transaction id, no secret"
