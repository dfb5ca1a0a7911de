#!/usr/bin/env bash
# A station started while its journal's file system is full refuses Burn ("Journal error") and,
# once space is freed, burns and records without a restart. The file system is a small tmpfs in
# a mount namespace of this run's own; the demo station runs in a network namespace of its own
# too (its burn flushes the ARP cache).
#
#   journal_full_disk.sh STAMPWRIGHT
#
# Needs root: exits 77 (skipped) without it, unless CI is set, where that is a failure.
set -euo pipefail

station=$1

if [[ ${JOURNAL_FULL_DISK_INNER:-} != 1 ]]; then
  if [[ $(id -u) -ne 0 ]]; then
    echo "journal_full_disk: needs root for a mount namespace" >&2
    [[ -n ${CI:-} ]] && exit 1
    exit 77
  fi
  JOURNAL_FULL_DISK_INNER=1 exec unshare --mount --net --propagation private bash "$0" "$@"
fi

work=$(mktemp -d)
station_pid=
cleanup() {
  exec 3>&- 2>/dev/null || true
  [[ -n $station_pid ]] && kill "$station_pid" 2>/dev/null && wait "$station_pid" 2>/dev/null
  umount "$work/full" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "journal_full_disk: FAILED: $1" >&2
  echo "--- station events (last 30)" >&2
  tail -n 30 "$work/events.jsonl" >&2 || true
  echo "--- station stderr" >&2
  cat "$work/station.err" >&2 || true
  exit 1
}

# Waits (at most $2 seconds) until the events hold a line matching the fixed text $1.
wait_for_event() {
  local deadline=$((SECONDS + $2))
  while ! grep -qF -- "$1" "$work/events.jsonl"; do
    ((SECONDS < deadline)) || return 1
    kill -0 "$station_pid" 2>/dev/null || return 1
    sleep 0.1
  done
}

mkdir "$work/full" "$work/station" "$work/runtime"
chmod 700 "$work/runtime"
mount -t tmpfs -o size=256k tmpfs "$work/full"
dd if=/dev/zero of="$work/full/filler" bs=4k 2>/dev/null || true
[[ $(df --output=avail "$work/full" | tail -n 1 | tr -d ' ') -eq 0 ]] || fail "the tmpfs is not full"

mkfifo "$work/commands"
XDG_RUNTIME_DIR="$work/runtime" "$station" --headless --demo --workdir "$work/station" \
  --station full-disk --journal "$work/full/journal.db" \
  <"$work/commands" >"$work/events.jsonl" 2>"$work/station.err" &
station_pid=$!
exec 3>"$work/commands"

wait_for_event '"event":"ready"' 30 || fail "the station did not start"
grep -q "journal error: " "$work/station.err" || fail "the full journal was not said at start"

printf '%s\n' 'wait 1105 15000 Read Module OK - PX300 Class B' 'set 1009 02A0C5100001' \
  'click 1102' >&3
wait_for_event '"caption":"Mac Burn","text":"Journal error: ' 30 ||
  fail "Burn on a full journal was not refused with a Journal error box"
grep -q '"event":"journal"' "$work/events.jsonl" && fail "a record was reported on a full disk"

# The space comes back; nothing is restarted.
rm -f "$work/full/filler"
boxes_before=$(grep -c '"text":"Journal error: ' "$work/events.jsonl" || true)
printf '%s\n' 'set 1009 02A0C5100001' 'click 1102' 'wait 1105 20000 Success' >&3
wait_for_event '"outcome":"success"' 40 || fail "no successful burn once the disk had room"
boxes_after=$(grep -c '"text":"Journal error: ' "$work/events.jsonl" || true)
[[ $boxes_after -eq $boxes_before ]] || fail "a Journal error box after the journal opened"
grep -q "opened; Burn and Browse are allowed again" "$work/station.err" ||
  fail "the reopened journal was not said on stderr"

exec 3>&-  # end of input: the station closes
for _ in $(seq 1 300); do
  kill -0 "$station_pid" 2>/dev/null || break
  sleep 0.1
done
status=0
wait "$station_pid" || status=$?
station_pid=
[[ $status -eq 0 ]] || fail "the station exited with $status"
[[ -s "$work/full/journal.db" ]] || fail "the journal file is empty"
echo "journal_full_disk: passed"
