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

source "$(dirname "$0")/../scripts/lib/veth_pair.sh"
# The station's end has a peer with nothing behind it: no unit.
tag="swib$$"

cleanup() {
  veth_pair_remove
}
trap cleanup EXIT

veth_pair_create "$tag" || { echo "cannot create the network namespaces" >&2; exit 1; }

seconds=${IDLE_BENCH_SECONDS:-60}
STAMPWRIGHT_BENCH_INTERFACE="$veth_station" IDLE_BENCH_SECONDS="$seconds" \
  timeout $((seconds + 60)) ip netns exec "$ns_station" "$bench"
