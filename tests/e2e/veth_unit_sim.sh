#!/usr/bin/env bash
# A station client and stampwright-unit-sim on the two ends of a veth pair, each in a network
# namespace of its own made for this run: the client finds the unit, reads its module back and
# compares it with the image the simulator was given; then burns it under a new MAC, commits and
# waits for the unit to come back under that MAC.
#
#   veth_unit_sim.sh UNIT_SIM_BINARY CLIENT_BINARY
#
# Needs root (namespaces, raw sockets): exits 77 (skipped) without it, unless CI is set, where a
# missing capability is a failure.
set -euo pipefail

sim=$1
client=$2

wire_test_name=veth_unit_sim
source "$(dirname "$0")/../../scripts/lib/veth_pair.sh"
wire_test_start "sw$$"

head -c 7864 /dev/urandom > "$work/image.bin"

ip netns exec "$ns_unit" "$sim" --interface "$veth_unit" --image "$work/image.bin" \
  --mac 02:00:00:00:00:01 --flash "$work/flash.bin" --restart 300 2> "$work/sim.log" &
sim_pid=$!

if ! sim_wait_ready "$work/sim.log" "$sim_pid"; then
  echo "veth_unit_sim: the simulator did not come up" >&2
  cat "$work/sim.log" >&2
  exit 1
fi

status=0
timeout 60 ip netns exec "$ns_station" "$client" --interface "$veth_station" \
  --image "$work/image.bin" --burn 00:11:22:33:44:55 --flash "$work/flash.bin" || status=$?

# The simulator must leave cleanly on SIGTERM.
sim_status=0
stop_sim || sim_status=$?
if [[ $status -ne 0 || $sim_status -ne 0 ]]; then
  echo "veth_unit_sim: client exit $status, simulator exit $sim_status; simulator log:" >&2
  tail -n 40 "$work/sim.log" >&2
  exit 1
fi
grep -c "VS_RD_MOD.REQ" "$work/sim.log" | sed 's/^/veth_unit_sim: read requests logged: /'
echo "veth_unit_sim: passed"
