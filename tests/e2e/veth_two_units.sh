#!/usr/bin/env bash
# Two units answering on one adapter, over a veth pair in namespaces of its own: two
# stampwright-unit-sim on the unit's end. The headless station must read and burn neither: the
# status line reads "More than one unit on this adapter", Burn stays disabled and one "Mac Burn"
# box names both MACs. Once the second unit is gone, the first is read as usual.
#
#   veth_two_units.sh STAMPWRIGHT UNIT_SIM
#
# Needs root: exits 77 (skipped) without it, unless CI is set, where a missing capability is a
# failure.
set -euo pipefail

station=$1
sim=$2

wire_test_name=veth_two_units
source "$(dirname "$0")/../../scripts/lib/veth_pair.sh"
wire_test_start "swt$$"
second_pid=""
station_pid=""
cleanup_all() {
  [[ -n "$station_pid" ]] && kill -KILL "$station_pid" 2>/dev/null
  [[ -n "$second_pid" ]] && kill -KILL "$second_pid" 2>/dev/null
  wire_test_cleanup
}
trap cleanup_all EXIT

fail() {
  echo "veth_two_units: FAILED: $1" >&2
  echo "--- station events (last 40)" >&2
  tail -n 40 "$work/events.jsonl" >&2 || true
  cat "$work/station.err" >&2 || true
  echo "--- simulator logs (last 10 each)" >&2
  tail -n 10 "$work/sim1.log" "$work/sim2.log" >&2 || true
  exit 1
}

first_mac=02:00:00:00:00:21
second_mac=02:00:00:00:00:22
mkdir "$work/station" "$work/runtime"
chmod 700 "$work/runtime"

ip netns exec "$ns_unit" "$sim" --interface "$veth_unit" --mac "$first_mac" 2> "$work/sim1.log" &
sim_pid=$!
ip netns exec "$ns_unit" "$sim" --interface "$veth_unit" --mac "$second_mac" 2> "$work/sim2.log" &
second_pid=$!
sim_wait_ready "$work/sim1.log" "$sim_pid" || fail "the first simulator did not come up"
sim_wait_ready "$work/sim2.log" "$second_pid" || fail "the second simulator did not come up"

printf '%s\n' 'wait 1105 15000 More than one unit on this adapter' 'click 1102' 'sleep 4000' \
  'wait 1105 15000 Read Module OK - PX300 Class B' 'close' > "$work/commands"

XDG_RUNTIME_DIR="$work/runtime" timeout 60 ip netns exec "$ns_station" \
  "$station" --headless --interface "$veth_station" --workdir "$work/station" \
  < "$work/commands" > "$work/events.jsonl" 2> "$work/station.err" &
station_pid=$!

# The second unit is taken away once the station has refused the pair.
seen=0
for _ in $(seq 1 300); do  # at most 15 s
  if grep -qF '"text":"More than one unit on this adapter"' "$work/events.jsonl" 2>/dev/null; then
    seen=1
    break
  fi
  kill -0 "$station_pid" 2>/dev/null || break
  sleep 0.05
done
[[ $seen -eq 1 ]] || fail "the station never said there was more than one unit"
kill -TERM "$second_pid" 2>/dev/null || true
wait "$second_pid" 2>/dev/null || true
second_pid=""

status=0
wait "$station_pid" || status=$?
station_pid=""
[[ $status -eq 0 ]] || fail "stampwright --headless exited with $status"

events="$work/events.jsonl"
has() { grep -qF -- "$1" "$events"; }
boxes=$(grep -c '"event":"messagebox"' "$events" || true)
[[ $boxes -eq 1 ]] || fail "$boxes message boxes, one expected"
has '"caption":"Mac Burn"' || fail "the box is not captioned Mac Burn"
has '"type":48' || fail "the box is not of type 48"
grep '"event":"messagebox"' "$events" |
  grep -qE "Units ($first_mac and $second_mac|$second_mac and $first_mac) answer on adapter $veth_station: connect one unit only\." ||
  fail "the box does not name both units and the adapter"
has '{"event":"error","text":"control 1102 is disabled"' || fail "Burn was not disabled"
! has '"event":"timeout"' || fail "a wait ran out"
! grep -q "VS_RD_MOD\|VS_WR_MOD" "$work/sim2.log" || fail "the second unit was read or written"
grep -q "VS_RD_MOD" "$work/sim1.log" || fail "the first unit was never read once alone"
! grep -q "VS_WR_MOD" "$work/sim1.log" || fail "the first unit was written"
order=$(grep -oE '"id":1105,"text":"(More than one unit on this adapter|Read Module OK - PX300 Class B)"' \
  "$events" | sed -E 's/.*"text":"([^"]*)"/\1/' | uniq | tr '\n' '|')
[[ "$order" == "More than one unit on this adapter|Read Module OK - PX300 Class B|" ]] ||
  fail "status texts out of order: $order"

sim_status=0
stop_sim || sim_status=$?
[[ $sim_status -eq 0 ]] || fail "the simulator exited with $sim_status"
echo "veth_two_units: passed"
