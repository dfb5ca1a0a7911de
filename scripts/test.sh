#!/usr/bin/env bash
# Installs what the project needs, builds it from scratch into build/ and runs every test; then
# the suite without its long scenarios under ASan + UBSan + LSan (build-asan/), the tests with
# several stations under TSan (build-tsan/) and every fuzz target for 30 s (build-fuzz/). Each
# stage says how long it took.
set -euo pipefail
cd "$(dirname "$0")/.."

stage_start=$SECONDS
stage_done() { echo "== $1: $((SECONDS - stage_start)) s" >&2; stage_start=$SECONDS; }

bash scripts/install-deps.sh
cmake --preset default
cmake --build --preset default -j "$(nproc)"
ctest --preset default -j "$(nproc)"
stage_done "build and tests"

bash scripts/test-sanitize.sh
stage_done "sanitizer build and tests"

bash scripts/test-threads.sh
stage_done "thread sanitizer build and the tests with several stations"

bash scripts/fuzz.sh 30
stage_done "fuzz targets, 30 s each"
