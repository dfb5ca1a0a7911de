#!/usr/bin/env bash
# One request/confirmation round trip over a veth pair: stampwright-unit-sim in one network
# namespace, roundtrip_bench in another, both made for this run and removed after it. Needs root.
#
#   bench/roundtrip_bench.sh [BUILD_DIR] [benchmark options...]
set -euo pipefail

build=${1:-build}
shift || true
bench_args=("$@")
sim="$build/bin/stampwright-unit-sim"
bench="$build/bench/roundtrip_bench"
[[ -x "$sim" && -x "$bench" ]] || { echo "build stampwright-unit-sim and roundtrip_bench in $build first" >&2; exit 2; }
[[ $(id -u) -eq 0 ]] || { echo "roundtrip_bench: needs root for network namespaces" >&2; exit 2; }

source "$(dirname "$0")/../scripts/lib/veth_pair.sh"
tag="swb$$"
log=$(mktemp)
sim_pid=""

cleanup() {
  if [[ -n "$sim_pid" ]]; then kill -TERM "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  veth_pair_remove
  rm -f "$log"
}
trap cleanup EXIT

veth_pair_create "$tag" || { echo "cannot create the network namespaces" >&2; exit 1; }

# No answer delay: the figure is the station's path plus the wire, not the simulated latency.
ip netns exec "$ns_unit" "$sim" --interface "$veth_unit" --latency 0 2>> "$log" &
sim_pid=$!
sim_wait_ready "$log" "$sim_pid" || { echo "the simulator did not come up" >&2; cat "$log" >&2; exit 1; }
: > "$log"  # keep the log from growing with every request

STAMPWRIGHT_BENCH_INTERFACE="$veth_station" timeout 600 ip netns exec "$ns_station" "$bench" "${bench_args[@]}"
