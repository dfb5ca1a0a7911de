#!/usr/bin/env bash
# Burn pressed to "Success", less the unit's restart, for the station as built and for --classic.
# One veth pair in two network namespaces made for the run (root): stampwright-unit-sim with
# --restart 1500 or 5000 in one, the headless station in the other. Each run is a fresh simulator,
# working directory and journal; the Burn is clicked at ten points of the 3000 ms scan period
# after a scan tick. Prints one line per run and a summary per mode and restart.
#
#   bench/return_bench.sh [BUILD_DIR]      (RETURN_BENCH_PHASES="0 1500" to run fewer points)
set -euo pipefail

build=${1:-build}
station="$build/bin/stampwright"
sim="$build/bin/stampwright-unit-sim"
tool="$build/bin/stampwright-tool"
for program in "$station" "$sim" "$tool"; do
  [[ -x "$program" ]] || { echo "build $program first" >&2; exit 2; }
done
[[ $(id -u) -eq 0 ]] || { echo "return_bench.sh: needs root for network namespaces" >&2; exit 2; }

source "$(dirname "$0")/../scripts/lib/veth_pair.sh"
tag="swrb$$"
work=$(mktemp -d)
sim_pid=""
cleanup() {
  if [[ -n "$sim_pid" ]]; then kill -TERM "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  veth_pair_remove
  rm -rf "$work"
}
trap cleanup EXIT
veth_pair_create "$tag" || { echo "cannot create the network namespaces" >&2; exit 1; }

unit_mac=02:00:00:00:00:31
new_mac=02A0C5ABCDEF
phases=${RETURN_BENCH_PHASES:-"0 300 600 900 1200 1500 1800 2100 2400 2700"}
results="$work/results.txt"
: > "$results"

# One burn: mode (watch|classic), restart ms, ms to sleep after a scan tick before the click.
run_once() {
  local mode=$1 restart=$2 phase=$3 dir="$work/run"
  rm -rf "$dir"
  mkdir -p "$dir/station" "$dir/runtime"
  chmod 700 "$dir/runtime"
  "$tool" db encode "$new_mac" QRSTUVWXYZ012345 > "$dir/station/cam.dbr"
  ip netns exec "$ns_unit" "$sim" --interface "$veth_unit" --mac "$unit_mac" --latency 1 \
    --restart "$restart" 2> "$dir/sim.log" &
  sim_pid=$!
  sim_wait_ready "$dir/sim.log" "$sim_pid" || { echo "the simulator did not come up" >&2; cat "$dir/sim.log" >&2; exit 1; }
  # The tick counter turns "1" at the first scan tick; the click follows it by the phase.
  printf '%s\n' 'wait 1105 15000 Read Module OK - PX300 Class B' 'wait 1008 15000 1' \
    "sleep $phase" "set 1009 $new_mac" 'click 1102' 'wait 1105 40000 Success' 'close' > "$dir/commands"
  local extra=()
  [[ $mode == classic ]] && extra=(--classic)
  XDG_RUNTIME_DIR="$dir/runtime" timeout 90 ip netns exec "$ns_station" "$station" --headless --quiet \
    --interface "$veth_station" --workdir "$dir/station" "${extra[@]}" \
    < "$dir/commands" > "$dir/events.jsonl" 2> "$dir/station.err" || true
  kill -TERM "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=""
  python3 - "$dir/events.jsonl" "$mode" "$restart" "$phase" >> "$results" <<'PY'
import json, sys
events = [json.loads(line) for line in open(sys.argv[1]) if line.startswith("{")]
mode, restart, phase = sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
def first(pred, after=-1):
    for e in events:
        if e["ms"] >= after and pred(e):
            return e["ms"]
    return None
status = lambda text: (lambda e: e.get("event") == "text" and e.get("id") == 1105 and e.get("text") == text)
burning = first(status("Burning..."))
waiting = first(status("Waiting..."), burning or 0)
success = first(status("Success"), waiting or 0)
ticks = [e["ms"] for e in events if e.get("event") == "text" and e.get("id") == 1008 and burning and e["ms"] <= burning]
if burning is None or success is None:
    print(f"{mode} {restart} {phase} FAILED")
    sys.exit(0)
# The first answer the station handled after the commit: the chip and version texts it writes.
answer = first(lambda e: e.get("event") == "text" and e.get("id") in (1109, 1121), waiting + restart)
actual_phase = burning - ticks[-1] if ticks else -1
print(f"{mode} {restart} {phase} {actual_phase} {success - burning - restart} {success - waiting} "
      f"{success - answer if answer is not None else -1}")
PY
  tail -n 1 "$results"
}

echo "# mode restart_ms phase_ms actual_phase_ms burn_to_success_less_restart_ms commit_to_success_ms first_answer_to_success_ms"
for restart in 1500 5000; do
  for mode in watch classic; do
    for phase in $phases; do run_once "$mode" "$restart" "$phase"; done
  done
done

echo "# summary: mode restart median worst (burn to Success less the restart, ms); first answer to Success median worst"
python3 - "$results" <<'PY'
import sys, statistics
rows = [line.split() for line in open(sys.argv[1]) if line.strip() and "FAILED" not in line]
failed = sum(1 for line in open(sys.argv[1]) if "FAILED" in line)
groups = {}
for mode, restart, _, _, total, _, answer in rows:
    groups.setdefault((mode, int(restart)), []).append((int(total), int(answer)))
for (mode, restart), values in sorted(groups.items(), key=lambda kv: (kv[0][1], kv[0][0] != "watch")):
    totals = [t for t, _ in values]
    answers = [a for _, a in values if a >= 0]
    line = f"{mode:8} {restart:5}  median {statistics.median(totals):7.0f}  worst {max(totals):6}"
    if answers:
        line += f"   answer->Success median {statistics.median(answers):5.0f} worst {max(answers):5}"
    print(line)
if failed:
    print(f"runs without Success: {failed}")
PY
