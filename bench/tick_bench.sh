#!/usr/bin/env bash
# tick_bench on real adapters with no unit: eight veth pairs, the station's ends in one network
# namespace, their peers in another with nothing behind them. Both are made for this run and
# removed after it. Needs root.
#
#   bench/tick_bench.sh [BUILD_DIR]        (TICK_BENCH_TICKS as for tick_bench)
set -euo pipefail

build=${1:-build}
bench="$build/bench/tick_bench"
[[ -x "$bench" ]] || { echo "build tick_bench in $build first" >&2; exit 2; }
[[ $(id -u) -eq 0 ]] || { echo "tick_bench.sh: needs root for network namespaces" >&2; exit 2; }

tag="swtb$$"
ns_station="$tag-station"
ns_peer="$tag-peer"
cleanup() {
  ip netns del "$ns_station" 2>/dev/null || true
  ip netns del "$ns_peer" 2>/dev/null || true
}
trap cleanup EXIT

ip netns add "$ns_station"
ip netns add "$ns_peer"
names=()
for i in 0 1 2 3 4 5 6 7; do
  station_end="${tag}s$i"
  peer_end="${tag}p$i"
  ip link add "$peer_end" type veth peer name "$station_end"
  ip link set "$peer_end" netns "$ns_peer"
  ip link set "$station_end" netns "$ns_station"
  ip netns exec "$ns_peer" sysctl -qw "net.ipv6.conf.$peer_end.disable_ipv6=1" 2>/dev/null || true
  ip netns exec "$ns_station" sysctl -qw "net.ipv6.conf.$station_end.disable_ipv6=1" 2>/dev/null || true
  ip -n "$ns_peer" link set "$peer_end" up
  ip -n "$ns_station" link set "$station_end" up
  names+=("$station_end")
done

interfaces=$(IFS=,; echo "${names[*]}")
STAMPWRIGHT_BENCH_INTERFACES="$interfaces" QT_QPA_PLATFORM=offscreen \
  timeout 900 ip netns exec "$ns_station" "$bench"
