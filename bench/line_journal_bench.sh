#!/usr/bin/env bash
# line_journal_bench against a private PostgreSQL server started for the run and removed after it.
#
#   bench/line_journal_bench.sh [BUILD_DIR] [benchmark options...]
set -euo pipefail
build=${1:-build}
shift || true
bench="$build/bench/line_journal_bench"
[[ -x $bench ]] || { echo "build line_journal_bench in $build first" >&2; exit 2; }
exec bash "$(dirname "$0")/../scripts/lib/with_pg_cluster.sh" "$bench" "$@"
