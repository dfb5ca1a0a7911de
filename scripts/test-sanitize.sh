#!/usr/bin/env bash
# The whole test suite again, built with AddressSanitizer and UndefinedBehaviorSanitizer
# (Debug, no benchmarks) into build-asan/. LeakSanitizer is on, and any report fails the run:
# ASan and UBSan abort on the first finding, LSan fails the process at exit.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs="$(nproc)"
# The window is in too: its tests run offscreen, take seconds under ASan and leak nothing.
cmake --preset asan -DSTAMPWRIGHT_WITH_QT=ON
cmake --build --preset asan -j "$jobs"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
ctest --preset asan -j "$jobs"
