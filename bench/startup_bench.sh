#!/usr/bin/env bash
# Start-up time of the station with one adapter and no unit: a veth end in a network namespace of
# its own (its peer in another namespace, nothing listening), `stampwright --headless` until its
# "ready" event, then the window on an Xvfb server until it is viewable. Both namespaces are made for
# this run and removed after it. Needs root, Xvfb, xev and xwininfo (x11-utils).
#
#   bench/startup_bench.sh [BUILD_DIR] [RUNS]
set -euo pipefail

build=${1:-build}
runs=${2:-5}
station="$(realpath "$build/bin/stampwright")"
bench="$(realpath "$build/bench/startup_bench")"
[[ -x "$station" && -x "$bench" ]] || { echo "build stampwright and startup_bench in $build first" >&2; exit 2; }
[[ $(id -u) -eq 0 ]] || { echo "startup_bench.sh: needs root for network namespaces" >&2; exit 2; }

source "$(dirname "$0")/../scripts/lib/veth_pair.sh"
# The station's end has a peer with nothing behind it: no unit.
tag="swst$$"
work=$(mktemp -d)
xvfb_pid=""

cleanup() {
  if [[ -n "$xvfb_pid" ]]; then kill -TERM "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
  veth_pair_remove
}
trap cleanup EXIT

veth_pair_create "$tag" || { echo "cannot create the network namespaces" >&2; exit 1; }

echo "== headless: start to the ready event"
timeout 300 ip netns exec "$ns_station" "$bench" --runs "$runs" -- \
  "$station" --headless --interface "$veth_station"

if command -v Xvfb >/dev/null && command -v xev >/dev/null && command -v xwininfo >/dev/null; then
  echo "== window: start to a viewable window (Xvfb)"
  # Our own server, on a display number it picks itself (-displayfd): no race with other X
  # servers on the machine, and ended by its PID.
  ip netns exec "$ns_station" Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp \
    3> "$work/display" 2> "$work/xvfb.log" &
  xvfb_pid=$!
  for _ in $(seq 1 100); do  # at most 5 s
    [[ -s "$work/display" ]] && break
    sleep 0.05
  done
  [[ -s "$work/display" ]] || { echo "Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
  DISPLAY=":$(head -n 1 "$work/display")" timeout 300 ip netns exec "$ns_station" \
    "$bench" --runs "$runs" --window "Stampwright v3.0.2a (for f/w v3.0.x)" -- \
    "$station" --interface "$veth_station"
else
  echo "== window: skipped (needs Xvfb, and xev and xwininfo from x11-utils)"
fi
