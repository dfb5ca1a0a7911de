#!/usr/bin/env bash
# Runs one command against a private PostgreSQL cluster made for it and removed after it:
#
#   with_pg_cluster.sh COMMAND [ARG...]
#
# The command sees PGHOST, PGPORT, PGUSER (the superuser "postgres") and PGDATABASE, and
# STAMPWRIGHT_PG_CLUSTER (the cluster's directory, for a test that stops and restarts the server
# with pg_cluster.sh). Its exit status is the wrapper's. When PostgreSQL cannot run here the
# wrapper says why and exits 77 (the test is skipped), except under CI, where it fails.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
(($# >= 1)) || { echo "usage: with_pg_cluster.sh COMMAND [ARG...]" >&2; exit 2; }

cluster=$(mktemp -d "${TMPDIR:-/tmp}/stampwright-pg-XXXXXX")
cleanup() {
  bash "$here/pg_cluster.sh" stop "$cluster" || true
  rm -rf "$cluster"
}
trap cleanup EXIT

status=0
bash "$here/pg_cluster.sh" start "$cluster" || status=$?
if ((status != 0)); then
  if ((status == 77)) && [[ -z ${CI:-} ]]; then
    echo "with_pg_cluster: PostgreSQL is not available here; skipping" >&2
    exit 77
  fi
  echo "with_pg_cluster: could not start a PostgreSQL cluster" >&2
  exit 1
fi

set -a
# shellcheck disable=SC1091
source "$cluster/env"
set +a
export STAMPWRIGHT_PG_CLUSTER=$cluster

status=0
"$@" || status=$?
exit "$status"
