#!/usr/bin/env bash
# mes_bench against a private RabbitMQ node started for the run and removed after it.
#
#   bench/mes_bench.sh [BUILD_DIR] [benchmark options...]
set -euo pipefail
build=${1:-build}
shift || true
bench="$build/bench/mes_bench"
[[ -x $bench ]] || { echo "build mes_bench in $build first" >&2; exit 2; }
exec bash "$(dirname "$0")/../scripts/lib/with_rabbitmq.sh" "$bench" "$@"
