#!/usr/bin/env bash
# The station (e2e_veth_station: a real Station on the pcap driver) and stampwright-unit-sim on
# the two ends of a veth pair, each in a network namespace of its own made for this run: page
# creation finds and reads the unit, a burn from "cam.dbr" ends in "Success", and the simulator's
# saved flash is the image read with the burn's edits.
#
#   veth_station.sh UNIT_SIM_BINARY STATION_CLIENT_BINARY
#
# Needs root (namespaces, raw sockets): exits 77 (skipped) without it, unless CI is set, where a
# missing capability is a failure.
set -euo pipefail

sim=$1
client=$2

wire_test_name=veth_station
source "$(dirname "$0")/../../scripts/lib/veth_pair.sh"
wire_test_start "sws$$"

unit_mac=02:00:00:00:00:01
version="PX300-AV 3.0.2 veth-$$"
new_mac=02A0C5$(printf '%06X' $(( ($$ * 7919) % 16777216 )))
password=K7PQ2M9XW4RT8ZHB
mkdir "$work/station"
"$client" write-image "$work/image.bin" "$unit_mac" "$$"

# A restart well under the 3 s scan interval, so the next tick finds the unit again.
ip netns exec "$ns_unit" "$sim" --interface "$veth_unit" --image "$work/image.bin" \
  --mac "$unit_mac" --version-text "$version" --flash "$work/flash.bin" --restart 1500 \
  2> "$work/sim.log" &
sim_pid=$!

if ! sim_wait_ready "$work/sim.log" "$sim_pid"; then
  echo "veth_station: the simulator did not come up" >&2
  cat "$work/sim.log" >&2
  exit 1
fi

status=0
timeout 60 ip netns exec "$ns_station" "$client" --interface "$veth_station" \
  --workdir "$work/station" --image "$work/image.bin" --flash "$work/flash.bin" \
  --unit-mac "$unit_mac" --version-text "$version" --new-mac "$new_mac" --password "$password" \
  || status=$?

sim_status=0
stop_sim || sim_status=$?
if [[ $status -ne 0 || $sim_status -ne 0 ]]; then
  echo "veth_station: station exit $status, simulator exit $sim_status; simulator log:" >&2
  tail -n 40 "$work/sim.log" >&2
  exit 1
fi
# The page's close wrote the state file in the working directory.
state=$(find "$work/station" -maxdepth 1 -name '*.data' | head -n 1)
if [[ -z "$state" || $(stat -c %s "$state") -ne 97492 ]]; then
  echo "veth_station: no 97492-byte state file in the working directory" >&2
  ls -l "$work/station" >&2
  exit 1
fi
echo "veth_station: passed (burned $new_mac)"
