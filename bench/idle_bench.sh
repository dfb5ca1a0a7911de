#!/usr/bin/env bash
# idle_bench on a real adapter with no unit: a veth end in a network namespace of its own, its
# peer in another namespace with nothing listening. Both are made for this run and removed after
# it. Needs root.
#
#   bench/idle_bench.sh [BUILD_DIR]        (IDLE_BENCH_SECONDS as for idle_bench)
set -euo pipefail

build=${1:-build}
bench="$build/bench/idle_bench"
[[ -x "$bench" ]] || { echo "build idle_bench in $build first" >&2; exit 2; }
[[ $(id -u) -eq 0 ]] || { echo "idle_bench.sh: needs root for network namespaces" >&2; exit 2; }

tag="swib$$"
ns_peer="${tag}-peer"
ns_station="${tag}-station"
veth_peer="${tag}p"
veth_station="${tag}s"

cleanup() {
  ip netns del "$ns_peer" 2>/dev/null || true
  ip netns del "$ns_station" 2>/dev/null || true
}
trap cleanup EXIT

ip netns add "$ns_peer"
ip netns add "$ns_station"
ip link add "$veth_peer" type veth peer name "$veth_station"
ip link set "$veth_peer" netns "$ns_peer"
ip link set "$veth_station" netns "$ns_station"
for pair in "$ns_peer $veth_peer" "$ns_station $veth_station"; do
  set -- $pair
  ip netns exec "$1" sysctl -qw "net.ipv6.conf.$2.disable_ipv6=1" 2>/dev/null || true
  ip -n "$1" link set "$2" up
done

seconds=${IDLE_BENCH_SECONDS:-60}
STAMPWRIGHT_BENCH_INTERFACE="$veth_station" IDLE_BENCH_SECONDS="$seconds" \
  timeout $((seconds + 60)) ip netns exec "$ns_station" "$bench"
