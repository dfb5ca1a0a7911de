#!/usr/bin/env bash
# The tests that run several stations at once on threads of one process, built with
# ThreadSanitizer into build-tsan/ (no window, no benchmarks); any report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset tsan
cmake --build --preset tsan -j "$(nproc)" --target test_station test_app test_journal_postgresql

export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
build-tsan/bin/test_station --gtest_filter='ClaimRaceTest.*:BayThreadTest.*'
build-tsan/bin/test_app --gtest_filter='CrossedBaysTest.*'
bash scripts/lib/with_pg_cluster.sh build-tsan/bin/test_journal_postgresql \
  --gtest_filter='PgJournalTest.TheLabelBurnedBetweenTheCheckAndTheClaimIsRefusedByTheClaim:PgJournalTest.AClaimWaitsForTheTransactionThatEndsAnotherClaimAndSeesItsCommit'
