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

tag="swsb$$"
ns_unit="${tag}-unit"
ns_station="${tag}-station"
veth_unit="${tag}u"
veth_station="${tag}s"
log=$(mktemp)
sim_pid=""

cleanup() {
  if [[ -n "$sim_pid" ]]; then kill -TERM "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  ip netns del "$ns_unit" 2>/dev/null || true
  ip netns del "$ns_station" 2>/dev/null || true
  rm -f "$log"
}
trap cleanup EXIT

ip netns add "$ns_unit"
ip netns add "$ns_station"
ip link add "$veth_unit" type veth peer name "$veth_station"
ip link set "$veth_unit" netns "$ns_unit"
ip link set "$veth_station" netns "$ns_station"
for pair in "$ns_unit $veth_unit" "$ns_station $veth_station"; do
  set -- $pair
  ip netns exec "$1" sysctl -qw "net.ipv6.conf.$2.disable_ipv6=1" 2>/dev/null || true
  ip -n "$1" link set "$2" up
done

# The unit already carries the MAC the bench burns, so every burn is the same; its restart ends
# well within the burn's 200 ms settling time.
ip netns exec "$ns_unit" "$sim" --interface "$veth_unit" --latency 1 --restart 10 \
  --mac 02:A0:C5:00:BE:EF 2>> "$log" &
sim_pid=$!
for _ in $(seq 1 100); do
  grep -q "ready on" "$log" && break
  sleep 0.05
done
grep -q "ready on" "$log" || { echo "the simulator did not come up" >&2; cat "$log" >&2; exit 1; }

STAMPWRIGHT_BENCH_INTERFACE="$veth_station" timeout 900 ip netns exec "$ns_station" "$bench" "${bench_args[@]}"
