#!/usr/bin/env bash
# station_bench over a veth pair: stampwright-unit-sim (answering 1 ms after each request) in one
# network namespace, station_bench with the pcap driver in another, both made for this run and
# removed after it. Needs root.
#
#   bench/station_bench.sh [BUILD_DIR] [benchmark options...]
set -euo pipefail

build=${1:-build}
shift || true
bench_args=("$@")
sim="$build/bin/stampwright-unit-sim"
bench="$build/bench/station_bench"
[[ -x "$sim" && -x "$bench" ]] || { echo "build stampwright-unit-sim and station_bench in $build first" >&2; exit 2; }
[[ $(id -u) -eq 0 ]] || { echo "station_bench.sh: needs root for network namespaces" >&2; exit 2; }

source "$(dirname "$0")/../scripts/lib/veth_pair.sh"
tag="swsb$$"
log=$(mktemp)
sim_pid=""

cleanup() {
  if [[ -n "$sim_pid" ]]; then kill -TERM "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  veth_pair_remove
  rm -f "$log"
}
trap cleanup EXIT

veth_pair_create "$tag" || { echo "cannot create the network namespaces" >&2; exit 1; }

# The unit already carries the MAC the bench burns, so every burn is the same; its restart ends
# well within the burn's 200 ms settling time.
ip netns exec "$ns_unit" "$sim" --interface "$veth_unit" --latency 1 --restart 10 \
  --mac 02:A0:C5:00:BE:EF 2>> "$log" &
sim_pid=$!
sim_wait_ready "$log" "$sim_pid" || { echo "the simulator did not come up" >&2; cat "$log" >&2; exit 1; }

STAMPWRIGHT_BENCH_INTERFACE="$veth_station" timeout 900 ip netns exec "$ns_station" "$bench" "${bench_args[@]}"
