#!/usr/bin/env bash
# Our own code again, built with AddressSanitizer and UndefinedBehaviorSanitizer (Debug, no
# benchmarks, no window) into build-asan/. LeakSanitizer is on, and any report fails the run:
# ASan and UBSan abort on the first finding, LSan fails the process at exit.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs="$(nproc)"
cmake --preset asan
cmake --build --preset asan -j "$jobs"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
# Every test but the long scenarios, whose time goes to waiting on other processes and on the
# clock while the code they reach runs here in-process anyway; the default build runs them:
# the scripts on veth pairs, the PostgreSQL line of three station processes, the station killed
# at random points of its run (what that checks is the file a killed process leaves) and the
# report rendered in headless Chromium. The window (Qt, offscreen) is not built here at all.
ctest --preset asan -j "$jobs" --exclude-regex \
  '^(e2e_veth_.*|journal_postgresql_line|JournalKillTest\..*|JournalCommandTest\.HtmlReportRendersBothChartsInHeadlessChromium)$'
