#!/usr/bin/env bash
# The MAC database lookup as a whole process beside the floor of reading the same file:
# `stampwright-tool db lookup` of the last of 16,777,216 records against
# `dd if=FILE of=/dev/null bs=64k`, the file in the page cache, runs interleaved, medians of each.
# The file is lookup_bench's largest (made by it when missing).
#
#   bench/db_process_bench.sh [BUILD_DIR] [RUNS]     (LOOKUP_BENCH_DIR, default /tmp/lookup-bench)
set -euo pipefail

build=${1:-build}
runs=${2:-15}
tool="$build/bin/stampwright-tool"
[[ -x "$tool" ]] || { echo "build stampwright-tool in $build first" >&2; exit 2; }
dir=${LOOKUP_BENCH_DIR:-/tmp/lookup-bench}
file="$dir/cam-16777216.dbr"
if [[ ! -f "$file" ]]; then
  [[ -x "$build/bench/lookup_bench" ]] || { echo "build lookup_bench in $build first" >&2; exit 2; }
  # Made once and kept in LOOKUP_BENCH_DIR.
  LOOKUP_BENCH_DIR="$dir" timeout 600 "$build/bench/lookup_bench" 16777216
fi
# Record i carries the digits (i * 0x9E3779 + 0x5A5A5A) mod 2^24; the last is i = 2^24 - 1.
last=$(printf '02A0C5%06X' $(( ((16777215 * 0x9E3779) + 0x5A5A5A) % 16777216 )))

python3 - "$tool" "$file" "$last" "$runs" <<'PY'
import statistics, subprocess, sys, time
tool, path, mac, runs = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
lookup = [tool, "db", "lookup", mac, path]
dd = ["dd", "if=" + path, "of=/dev/null", "bs=64k", "status=none"]
out = subprocess.run(lookup, capture_output=True, text=True)
if out.returncode != 0 or ("MAC:      " + mac) not in out.stdout:
    sys.exit("db_process_bench: the lookup did not find the last record: " + out.stdout + out.stderr)
for command in (dd, lookup, dd):  # into the page cache
    subprocess.run(command, stdout=subprocess.DEVNULL, check=True)
times = {"lookup": [], "dd": []}
for _ in range(runs):
    for name, command in (("dd", dd), ("lookup", lookup)):
        start = time.perf_counter()
        subprocess.run(command, stdout=subprocess.DEVNULL, check=True)
        times[name].append((time.perf_counter() - start) * 1000)
lk, fl = statistics.median(times["lookup"]), statistics.median(times["dd"])
print(f"file {path}, last MAC {mac}, {runs} runs each, interleaved")
print(f"db lookup: median {lk:.1f} ms (min {min(times['lookup']):.1f}, max {max(times['lookup']):.1f})")
print(f"dd bs=64k: median {fl:.1f} ms (min {min(times['dd']):.1f}, max {max(times['dd']):.1f})")
print(f"lookup / dd: {lk / fl:.2f}")
PY
