#!/usr/bin/env bash
# A private PostgreSQL cluster in a scratch directory, for the tests and benchmarks of the
# PostgreSQL journal. The server runs as an unprivileged user (root cannot run it: as root the
# script uses "nobody"), logs to DIR/log/server.log, listens on a Unix socket in DIR/run and on 127.0.0.1 on a free port,
# and trusts local socket connections; TCP connections need a password (scram-sha-256).
#
#   pg_cluster.sh start DIR   initdb on the first start, then start; writes DIR/env, lines of
#                             PGHOST=, PGPORT=, PGUSER=, PGDATABASE= to source
#   pg_cluster.sh stop DIR    stops the server (fast, then immediate, then SIGKILL); the data
#                             stay, so a later start brings the same cluster back
#
# Exit status: 0 done, 77 PostgreSQL cannot run here (no server package, no unprivileged
# user), 1 anything else. Every wait is bounded.
set -euo pipefail

usage() {
  echo "usage: pg_cluster.sh start|stop DIR" >&2
  exit 2
}

(($# == 2)) || usage
action=$1
dir=$2

unavailable() {
  echo "pg_cluster: $1" >&2
  exit 77
}

find_bindir() {
  local candidate best=""
  for candidate in /usr/lib/postgresql/*/bin; do
    [[ -x $candidate/initdb && -x $candidate/pg_ctl ]] && best=$candidate
  done
  # The glob sorts by version text; 9.x never ships with Debian 12, so the last is the newest.
  [[ -n $best ]] || return 1
  echo "$best"
}

bindir=$(find_bindir) || unavailable "no PostgreSQL server binaries under /usr/lib/postgresql (package postgresql)"

# Runs a server binary as the cluster's owner.
as_owner() {
  if [[ $(id -u) -eq 0 ]]; then
    (cd "$dir" && runuser -u nobody -- "$@")
  else
    (cd "$dir" && "$@")
  fi
}

free_port() {
  local port _
  for _ in $(seq 1 50); do
    port=$((20000 + RANDOM % 40000))
    if ! ss -Hltn "sport = :$port" 2>/dev/null | grep -q .; then
      echo "$port"
      return 0
    fi
  done
  return 1
}

init_cluster() {
  mkdir -p "$dir/run" "$dir/log"
  if [[ $(id -u) -eq 0 ]]; then
    id nobody >/dev/null 2>&1 || unavailable "no user 'nobody' to run the server as"
    # The owner must reach its files: DIR is traversable, data and socket directories are its own.
    chmod 0711 "$dir"
    install -d -m 0700 -o nobody "$dir/data"
    chown nobody "$dir/run" "$dir/log"
  else
    install -d -m 0700 "$dir/data"
  fi
  # --no-sync: a scratch cluster's first files need not reach the disk; the server keeps fsync.
  as_owner "$bindir/initdb" --pgdata="$dir/data" --username=postgres --no-locale --encoding=UTF8 \
    --auth-local=trust --auth-host=scram-sha-256 --no-sync >"$dir/initdb.log" 2>&1 ||
    { cat "$dir/initdb.log" >&2; echo "pg_cluster: initdb failed" >&2; exit 1; }
}

start() {
  [[ -f $dir/data/PG_VERSION ]] || init_cluster
  local port attempt
  port=$(sed -n 's/^PGPORT=//p' "$dir/env" 2>/dev/null || true)
  for attempt in 1 2 3 4 5; do
    if [[ -z $port ]]; then
      port=$(free_port) || { echo "pg_cluster: no free port" >&2; exit 1; }
    fi
    # Unix socket in DIR/run and 127.0.0.1 only: nothing reaches this server from elsewhere.
    if as_owner "$bindir/pg_ctl" start --pgdata="$dir/data" --wait --timeout=30 \
        --log="$dir/log/server.log" \
        -o "-c listen_addresses=127.0.0.1 -c port=$port -c unix_socket_directories=$dir/run -c max_connections=40" \
        >/dev/null 2>&1; then
      printf 'PGHOST=%s\nPGPORT=%s\nPGUSER=postgres\nPGDATABASE=postgres\n' "$dir/run" "$port" >"$dir/env"
      return 0
    fi
    # The port may have been taken in the meantime: another one, a few times.
    echo "pg_cluster: start on port $port failed (attempt $attempt)" >&2
    tail -n 5 "$dir/log/server.log" >&2 2>/dev/null || true
    port=""
  done
  echo "pg_cluster: the server did not start" >&2
  exit 1
}

postmaster_pid() {
  head -n 1 "$dir/data/postmaster.pid" 2>/dev/null || true
}

stop() {
  [[ -d $dir/data ]] || return 0
  local pid _
  pid=$(postmaster_pid)
  [[ -n $pid ]] || return 0
  as_owner "$bindir/pg_ctl" stop --pgdata="$dir/data" --mode=fast --wait --timeout=20 \
    >/dev/null 2>&1 && return 0
  as_owner "$bindir/pg_ctl" stop --pgdata="$dir/data" --mode=immediate --wait --timeout=10 \
    >/dev/null 2>&1 && return 0
  # Still there: the postmaster of this data directory, by its PID, and nothing else (a stale
  # postmaster.pid may name a PID that now belongs to another process).
  tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qF -- "$dir/data" || return 0
  kill -KILL "$pid" 2>/dev/null || true
  for _ in $(seq 1 50); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  echo "pg_cluster: postmaster $pid did not end" >&2
  exit 1
}

case $action in
  start) start ;;
  stop) stop ;;
  *) usage ;;
esac
