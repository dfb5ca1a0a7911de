#!/usr/bin/env bash
# A gang of 1, 2, 4 and 8 bays over veth pairs, all labels scanned at once. One network namespace
# holds the station's ends, another their peers and one stampwright-unit-sim serving all of them
# (--restart 1500 --latency 1), both made for this run and removed after it (root). Each run is a
# fresh simulator, working directory and SQLite journal; the headless station waits for every
# bay's read, then gets each bay's code and label one after another without waiting, and waits
# for every bay's "Success". Prints one line per run and a summary per bay count.
#
# Then, when gang_window_bench is built, the same scans typed into the gang window (offscreen),
# and the longest stall of its event loop until the last PASS.
#
#   bench/gang_bench.sh [BUILD_DIR]     (GANG_BENCH_BAYS="1 8", GANG_BENCH_RUNS=5,
#                                        GANG_BENCH_RESTART=1500)
set -euo pipefail

build=${1:-build}
station="$build/bin/stampwright"
sim="$build/bin/stampwright-unit-sim"
tool="$build/bin/stampwright-tool"
window_bench="$build/bench/gang_window_bench"  # optional: the window's stall
for program in "$station" "$sim" "$tool"; do
  [[ -x "$program" ]] || { echo "build $program first" >&2; exit 2; }
done
[[ $(id -u) -eq 0 ]] || { echo "gang_bench.sh: needs root for network namespaces" >&2; exit 2; }

source "$(dirname "$0")/../scripts/lib/veth_pair.sh"
tag="swgb$$"
work=$(mktemp -d)
sim_pid=""
cleanup() {
  if [[ -n "$sim_pid" ]]; then kill -TERM "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  veth_pair_remove
  rm -rf "$work"
}
trap cleanup EXIT

bay_counts=${GANG_BENCH_BAYS:-"1 2 4 8"}
runs=${GANG_BENCH_RUNS:-5}
restart=${GANG_BENCH_RESTART:-1500}  # the units' restart, ms
most=0
for n in $bay_counts; do (( n > most )) && most=$n; done

veth_pair_create "$tag" || { echo "cannot create the network namespaces" >&2; exit 1; }
unit_devs=("$veth_unit")
station_devs=("$veth_station")
for ((i = 1; i < most; i++)); do
  veth_link_add "${tag}u$i" "${tag}s$i" || { echo "cannot create veth pair $i" >&2; exit 1; }
  unit_devs+=("${tag}u$i")
  station_devs+=("${tag}s$i")
done

unit_mac=02:00:00:00:00:07
results="$work/results.txt"
window_results="$work/window.txt"
: > "$results"
: > "$window_results"

# A fresh working directory with N labels in its cam.dbr, and the simulator on N interfaces.
start_run() {
  local n=$1 i
  dir="$work/run"
  rm -rf "$dir"
  mkdir -p "$dir/station" "$dir/runtime"
  chmod 700 "$dir/runtime"
  local sim_args=()
  for ((i = 0; i < n; i++)); do
    "$tool" db encode "$(printf '02A0C5BE%04X' "$i")" QRSTUVWXYZ012345 >> "$dir/station/cam.dbr"
    sim_args+=(--interface "${unit_devs[i]}")
  done
  ip netns exec "$ns_unit" "$sim" "${sim_args[@]}" --mac "$unit_mac" --latency 1 --restart "$restart" \
    2> "$dir/sim.log" &
  sim_pid=$!
  sim_wait_ready "$dir/sim.log" "$sim_pid" "$n" || { echo "the simulator did not come up" >&2; cat "$dir/sim.log" >&2; exit 1; }
}

end_run() {
  kill -TERM "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=""
}

# One run of N bays; the station is started by python, which reads its rusage when it ends.
run_once() {
  local n=$1 run=$2 i
  start_run "$n"
  local bay_args=()
  for ((i = 0; i < n; i++)); do bay_args+=(--bay "${station_devs[i]}"); done
  {
    for ((i = 1; i <= n; i++)); do echo "bay $i wait 1105 15000 Read Module OK - PX300 Class B"; done
    for ((i = 1; i <= n; i++)); do echo "scan BAY-$i"; printf 'scan 02A0C5BE%04X\n' $((i - 1)); done
    for ((i = 1; i <= n; i++)); do echo "bay $i wait 1105 30000 Success"; done
    echo close
  } > "$dir/commands"
  # With one bay there is no bay to name: the one-adapter station and its Burn button.
  if (( n == 1 )); then
    printf '%s\n' 'wait 1105 15000 Read Module OK - PX300 Class B' 'set 1009 02A0C5BE0000' \
      'click 1102' 'wait 1105 30000 Success' close > "$dir/commands"
    bay_args=(--interface "${station_devs[0]}")
  fi
  XDG_RUNTIME_DIR="$dir/runtime" python3 - "$dir" "$ns_station" "$station" --headless --quiet \
    "${bay_args[@]}" --workdir "$dir/station" > "$dir/rusage.txt" <<'PY'
import os, subprocess, sys, time
directory, namespace, argv = sys.argv[1], sys.argv[2], sys.argv[3:]
with open(f"{directory}/commands") as stdin, open(f"{directory}/events.jsonl", "w") as out, \
     open(f"{directory}/station.err", "w") as err:
    child = subprocess.Popen(["ip", "netns", "exec", namespace] + argv, stdin=stdin, stdout=out, stderr=err)
    deadline = time.monotonic() + 90
    while True:
        pid, status, usage = os.wait4(child.pid, os.WNOHANG)
        if pid:
            break
        if time.monotonic() > deadline:
            child.kill()
            pid, status, usage = os.wait4(child.pid, 0)
            break
        time.sleep(0.02)
print(f"{usage.ru_utime + usage.ru_stime:.3f} {os.waitstatus_to_exitcode(status)}")
PY
  end_run
  python3 - "$dir" "$n" "$run" >> "$results" <<'PY'
import json, sys
directory, n, run = sys.argv[1], int(sys.argv[2]), sys.argv[3]
events = [json.loads(line) for line in open(f"{directory}/events.jsonl") if line.startswith("{")]
cpu, code = open(f"{directory}/rusage.txt").read().split()
status = lambda e, text: e.get("event") == "text" and e.get("id") == 1105 and e.get("text") == text
# The scans' moment: the first label routed (gang) or the first "Burning..." (one bay).
starts = [e["ms"] for e in events if (e.get("event") == "scan" and e.get("result") == "burning")]
if n == 1:
    starts = [e["ms"] for e in events if status(e, "Burning...")]
passes = [e["ms"] for e in events if status(e, "Success")]
burns = [e["ms"] for e in events if status(e, "Burning...")]
if not starts or len(passes) != n or code != "0":
    print(f"{n} {run} FAILED passes={len(passes)} exit={code}")
    sys.exit(0)
start = min(starts)
print(f"{n} {run} {max(passes) - start} {max(burns) - start} {float(cpu) / n * 1000:.0f}")
PY
  tail -n 1 "$results"
}

# The gang window (offscreen) on N bays: its longest stall from the scans to the last PASS.
window_once() {
  local n=$1 run=$2 line
  start_run "$n"
  local names
  names=$(IFS=,; echo "${station_devs[*]:0:n}")
  line=$(STAMPWRIGHT_BENCH_INTERFACES="$names" QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$dir/runtime" \
    timeout 90 ip netns exec "$ns_station" "$window_bench" "$dir/station" 2> "$dir/window.err") ||
    line="$n FAILED"
  end_run
  echo "window $line $run" | tee -a "$window_results"
}

echo "# bays run scans_to_last_pass_ms scans_to_last_burning_ms cpu_ms_per_bay"
for n in $bay_counts; do
  for ((r = 1; r <= runs; r++)); do run_once "$n" "$r"; done
done

echo "# summary: bays, median scans to last PASS, its ratio to one bay, worst, median CPU per bay"
python3 - "$results" <<'PY'
import sys, statistics
rows = [line.split() for line in open(sys.argv[1]) if line.strip()]
failed = [r for r in rows if "FAILED" in r]
groups = {}
for r in rows:
    if "FAILED" in r:
        continue
    groups.setdefault(int(r[0]), []).append((int(r[2]), int(r[3]), int(r[4])))
one = statistics.median(t for t, _, _ in groups[1]) if 1 in groups else None
for n in sorted(groups):
    totals = [t for t, _, _ in groups[n]]
    median = statistics.median(totals)
    ratio = f"{median / one:.3f}" if one else "-"
    print(f"{n:2} bays  median {median:6.0f} ms  ratio {ratio}  worst {max(totals):6} ms  "
          f"last Burning... {statistics.median(b for _, b, _ in groups[n]):4.0f} ms  "
          f"CPU per bay {statistics.median(c for _, _, c in groups[n]):4.0f} ms")
if failed:
    print(f"runs without every PASS: {len(failed)}")
PY

if [[ -x "$window_bench" ]]; then
  echo "# the gang window, offscreen: window bays scans_to_last_pass_ms longest_stall_ms stall_at_ms stall_cpu_ms stall_runqueue_ms passes run"
  for n in $bay_counts; do
    (( n > 1 )) || continue
    for ((r = 1; r <= runs; r++)); do window_once "$n" "$r"; done
  done
  python3 - "$window_results" <<'PY'
import sys, statistics
groups = {}
for line in open(sys.argv[1]):
    parts = line.split()
    if len(parts) == 9 and parts[2] != "FAILED":
        groups.setdefault(int(parts[1]), []).append((float(parts[2]), float(parts[3])))
for n in sorted(groups):
    stalls = [s for _, s in groups[n]]
    print(f"{n:2} bays, window  scans to last PASS median {statistics.median(t for t, _ in groups[n]):5.0f} ms  "
          f"longest stall median {statistics.median(stalls):5.1f} ms  worst {max(stalls):5.1f} ms")
PY
else
  echo "# $window_bench not built: no window stall figures"
fi
