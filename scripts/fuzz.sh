#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) into build-fuzz/ and runs each for
# SECONDS seconds (default 30) from its seed corpus in tests/fuzz/corpus/<target>/. New inputs
# the fuzzer finds go to build-fuzz/corpus/<target>/, never into the source tree. Any crash,
# leak, time-out or sanitizer report fails the script; the input that caused it is kept as
# build-fuzz/findings/<target>/crash-* (or leak-*, timeout-*), and
#   build-fuzz/bin/fuzz_<target> <that file>
# replays it. A longer run is the same script with a bigger number.
set -euo pipefail
seconds="${1:-30}"
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || ((seconds == 0)); then
  echo "usage: $0 [SECONDS]   (seconds per target, default 30)" >&2
  exit 2
fi
cd "$(dirname "$0")/.."
root="$PWD"
build="$root/build-fuzz"

# target and the longest input it is given, in bytes
targets=(
  "dispatcher 4096"
  "mac_database 4096"
  "preferences 600"
  "firmware_file 12288"
  "headless_command 512"
)

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSTAMPWRIGHT_FUZZ=ON -DSTAMPWRIGHT_BENCH=OFF -DSTAMPWRIGHT_WITH_QT=OFF >/dev/null
names=()
for entry in "${targets[@]}"; do names+=("fuzz_${entry%% *}"); done
cmake --build "$build" --target "${names[@]}" -j "$(nproc)"

# The file targets rewrite their file for every input: keep it in memory when we can, since a
# disk-backed /tmp makes them a hundred times slower.
# A private directory, removed at the end even when a target crashed and left its file behind.
scratch_parent=/tmp
if [[ -d /dev/shm && -w /dev/shm ]]; then scratch_parent=/dev/shm; fi
TMPDIR="$(mktemp -d "$scratch_parent/stampwright-fuzz.XXXXXX")"
export TMPDIR
trap 'rm -rf "$TMPDIR"' EXIT
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
# One target per core at a time; each writes its own log.
run_target() {
  local name="$1" max_len="$2"
  local work="$build/corpus/$name" findings="$build/findings/$name"
  mkdir -p "$work" "$findings"
  # -timeout: one input taking over 10 s counts as a hang. The exit status is non-zero on any
  # finding.
  local status=0
  "$build/bin/fuzz_$name" "$work" "$root/tests/fuzz/corpus/$name" \
    -max_total_time="$seconds" -max_len="$max_len" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$findings/" -print_final_stats=1 >"$build/fuzz_$name.log" 2>&1 || status=$?
  echo "$status" >"$build/fuzz_$name.status"
}

parallel="$(nproc)"
rm -f "$build"/fuzz_*.status
for entry in "${targets[@]}"; do
  while (($(jobs -rp | wc -l) >= parallel)); do wait -n || true; done
  name="${entry%% *}"
  echo "== fuzz_$name: ${seconds}s"
  run_target "$name" "${entry##* }" &
done
wait

failed=()
for entry in "${targets[@]}"; do
  name="${entry%% *}"
  if [[ "$(cat "$build/fuzz_$name.status" 2>/dev/null)" == 0 ]]; then
    runs="$(grep -m1 '^stat::number_of_executed_units' "$build/fuzz_$name.log" | awk '{print $2}')"
    echo "fuzz_$name: ${runs:-?} inputs, no findings"
  else
    failed+=("$name")
    echo "---- fuzz_$name (last lines of $build/fuzz_$name.log)" >&2
    tail -n 40 "$build/fuzz_$name.log" >&2
  fi
done

if ((${#failed[@]})); then
  echo "fuzz: findings in: ${failed[*]} (inputs under $build/findings/)" >&2
  exit 1
fi
echo "fuzz: no findings"
