#!/usr/bin/env bash
# Two bays on two veth adapters in a network namespace made for this run: bay 2's adapter taken
# down (as a pulled USB adapter leaves the list) is one headless event, however many scans pass,
# and its return is one more; bay 1 hears of neither. Needs root: exits 77 (skipped) without
# it, unless CI is set, where a missing capability is a failure.
#
#   veth_bay_adapter.sh STAMPWRIGHT
set -euo pipefail
station=$1

wire_test_name=veth_bay_adapter
source "$(dirname "$0")/../../scripts/lib/veth_pair.sh"
wire_test_start "swb$$"
second="swb$$v"
ip link add "$second" type veth peer name "swb$$w" || wire_test_unavailable "cannot create a veth pair"
ip link set "$second" netns "$ns_station"
ip link set "swb$$w" netns "$ns_unit"
ip -n "$ns_unit" link set "swb$$w" up
ip -n "$ns_station" link set "$second" up

fail() {
  echo "veth_bay_adapter: FAILED: $1" >&2
  tail -n 20 "$work/events.jsonl" >&2 || true
  cat "$work/station.err" >&2 || true
  exit 1
}
await() {
  for _ in $(seq "$2"); do grep -qF -- "$1" "$work/events.jsonl" && return 0; sleep 0.1; done
  return 1
}

mkdir "$work/station" "$work/runtime"
chmod 700 "$work/runtime"
mkfifo "$work/in"
XDG_RUNTIME_DIR="$work/runtime" timeout 90 ip netns exec "$ns_station" \
  "$station" --headless --bay "$veth_station" --bay "$second" --workdir "$work/station" \
  < "$work/in" > "$work/events.jsonl" 2> "$work/station.err" &
station_pid=$!
exec 3>"$work/in"
await '{"event":"ready"' 100 || fail "no ready event"

ip -n "$ns_station" link set "$second" down
pulled='{"event":"adapter","present":false,"adapter":"'"$second"'","bay":2'
await "$pulled" 100 || fail "the pulled adapter was not told"
sleep 7  # two more scans without it
ip -n "$ns_station" link set "$second" up
await '{"event":"adapter","present":true,"adapter":"'"$second"'","bay":2' 100 ||
  fail "the adapter's return was not told"
echo close >&3
exec 3>&-
wait "$station_pid" || fail "the station exited with $?"

[[ $(grep -c '"event":"adapter"' "$work/events.jsonl") == 2 ]] ||
  fail "not one event for the pull and one for the return"
grep '"event":"adapter"' "$work/events.jsonl" | grep -q '"bay":1' && fail "bay 1 heard of it"
echo "veth_bay_adapter: bay 2's adapter pulled and back, told once each"
