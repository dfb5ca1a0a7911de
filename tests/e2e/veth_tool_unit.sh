#!/usr/bin/env bash
# stampwright-tool's unit subcommands against stampwright-unit-sim over a veth pair, each end in
# a network namespace of its own made for this run: find, read (equals the unit's image), write
# and commit (the unit's flash equals the file), firmware (the unit's firmware equals the file),
# burn to the return under the new MAC (the flash equals `stampwright-tool image burn` of the
# image), and a unit that falls silent in the middle of a read.
#
#   veth_tool_unit.sh TOOL UNIT_SIM IMAGE_WRITER
#
# IMAGE_WRITER is e2e_veth_station (its write-image mode makes a PX300 image). Needs root: exits
# 77 (skipped) without it, unless CI is set, where a missing capability is a failure.
set -euo pipefail

tool=$1
sim=$2
image_writer=$3

wire_test_name=veth_tool_unit
source "$(dirname "$0")/../../scripts/lib/veth_pair.sh"
wire_test_start "swu$$"

fail() {
  echo "veth_tool_unit: FAILED: $1" >&2
  for f in out err; do
    [[ -f "$work/$f" ]] && { echo "--- tool std$f" >&2; tail -n 30 "$work/$f" >&2; }
  done
  echo "--- simulator log (last 20)" >&2
  tail -n 20 "$work/sim.log" >&2 || true
  exit 1
}

unit_mac=02:00:00:00:00:07
version="PX300-AV 3.0.2 bench-$$"
new_mac=02A0C5$(printf '%06X' $(( ($$ * 7907) % 16777216 )))
new_mac_colons=$(echo "$new_mac" | sed -E 's/(..)(..)(..)(..)(..)(..)/\1:\2:\3:\4:\5:\6/')
password=B3NCHPQ7RZ2MWK4T
grouped="${password:0:4}-${password:4:4}-${password:8:4}-${password:12:4}"

start_sim() {  # start_sim [extra simulator options...]
  ip netns exec "$ns_unit" "$sim" --interface "$veth_unit" --image "$work/image.bin" \
    --mac "$unit_mac" --version-text "$version" --flash "$work/flash.bin" \
    --firmware-out "$work/firmware.bin" --restart 600 "$@" 2> "$work/sim.log" &
  sim_pid=$!
  sim_wait_ready "$work/sim.log" "$sim_pid" || fail "the simulator did not come up"
}

# unit SUBCOMMAND ARGS...: the tool in the station's namespace, bounded; sets $status.
unit() {
  status=0
  timeout 60 ip netns exec "$ns_station" "$tool" unit "$@" --interface "$veth_station" \
    > "$work/out" 2> "$work/err" || status=$?
}

"$image_writer" write-image "$work/image.bin" "$unit_mac" "$$"
"$image_writer" write-image "$work/second.bin" "$unit_mac" "$(( $$ + 1 ))"
cmp -s "$work/image.bin" "$work/second.bin" && fail "the two images are the same"
start_sim

# find: the one unit, as text and as JSON.
unit find --timeout 500
[[ $status -eq 0 ]] || fail "find exited with $status"
grep -qxF "$unit_mac  PX300  $version" "$work/out" || fail "find did not list the unit"
unit find --timeout 500 --format json
[[ $status -eq 0 ]] || fail "find --format json exited with $status"
grep -qF '"units":[{"mac":"'"$unit_mac"'","chip":"PX300","firmware":"'"$version"'"}]' "$work/out" \
  || fail "find's JSON: $(cat "$work/out")"

# read: the unit's image, byte for byte, identified as the station does.
unit read --mac "$unit_mac" -o "$work/read.bin"
[[ $status -eq 0 ]] || fail "read exited with $status"
cmp "$work/read.bin" "$work/image.bin" || fail "the module read differs from the unit's image"
grep -qxF "module: PX300 Class B" "$work/out" || fail "read did not identify PX300 Class B"
grep -qF "Read Module - offset: 7168" "$work/err" || fail "read showed no progress on stderr"

# write + commit: the second image lands in flash.
unit write "$work/second.bin" --mac "$unit_mac"
[[ $status -eq 0 ]] || fail "write exited with $status"
for _ in $(seq 1 50); do grep -q "flash saved" "$work/sim.log" && break; sleep 0.1; done
cmp "$work/flash.bin" "$work/second.bin" || fail "the unit's flash is not the file written"

# firmware: 3 full chunks and a short one, committed as module 1 (after the restart).
head -c $((3 * 1024 + 517)) /dev/urandom > "$work/new.nvm"
unit firmware "$work/new.nvm" --mac "$unit_mac" --timeout 3000
[[ $status -eq 0 ]] || fail "firmware exited with $status"
for _ in $(seq 1 50); do grep -q "firmware saved" "$work/sim.log" && break; sleep 0.1; done
cmp "$work/firmware.bin" "$work/new.nvm" || fail "the unit's firmware is not the file"
grep -qF "FW Write Module - OK" "$work/err" || fail "firmware showed no FW Write Module - OK"

# burn: lookup, edits, write, commit, return under the new MAC, verified read-back.
"$tool" db encode 02A0C5000001 QRSTUVWXYZ012345 > "$work/cam.dbr"
"$tool" db encode "$new_mac" "$password" >> "$work/cam.dbr"
rm -f "$work/flash.bin"
unit burn --mac "$unit_mac" --new-mac "$new_mac" --database "$work/cam.dbr" --timeout 3000 \
  --return-timeout 10000 --journal "$work/journal.db"
[[ $status -eq 0 ]] || fail "burn exited with $status"
"$tool" journal list --journal "$work/journal.db" > "$work/journal.txt" ||
  fail "journal list after the burn"
grep -E "$new_mac" "$work/journal.txt" | grep -qw success || fail "the burn's record is not in the journal"
grep -qxF "burned: $unit_mac -> $new_mac_colons" "$work/out" || fail "burn's verdict"
grep -qxF "password: $grouped" "$work/out" || fail "burn did not look the password up"
grep -qF "module read back and verified" "$work/out" || fail "burn did not verify"
grep -qxF "stampwright-tool unit burn: Success" "$work/err" || fail "the station's Success was not shown"
"$tool" image burn "$work/second.bin" "$work/expected.bin" --mac "$new_mac" --password "$grouped" \
  > /dev/null || fail "stampwright-tool image burn"
cmp "$work/flash.bin" "$work/expected.bin" || fail "the flash is not the offline burn of the image"
! cmp -s "$work/second.bin" "$work/expected.bin" || fail "the offline burn changed nothing"

# The unit answers under the new MAC now; the old one is gone.
unit find --timeout 500
grep -qxF "$new_mac_colons  PX300  $version" "$work/out" || fail "find after the burn"
unit read --mac "$unit_mac" -o "$work/gone.bin" --timeout 600
[[ $status -eq 1 ]] || fail "a read of the old MAC exited with $status"
grep -qF "unit read: find failed: no unit answered as $unit_mac" "$work/err" || fail "the old MAC's failure line"

# A unit that falls silent after the query and two chunks: exit 1, the read step named.
stop_sim || fail "the simulator did not stop cleanly"
start_sim --silent-after 3
unit read --mac "$unit_mac" -o "$work/half.bin" --format json
[[ $status -eq 1 ]] || fail "a read from a silent unit exited with $status"
[[ $(grep -c "failed:" "$work/err") -eq 1 ]] || fail "not exactly one failure line"
grep -qxF "stampwright-tool unit read: read failed: Read Module - offset: 2048, Fail (no confirmation of the chunk at offset 2048 after 10 requests)" \
  "$work/err" || fail "the silent unit's failure line"
grep -qF '{"ok":false,"step":"read","error":"Read Module - offset: 2048, Fail' "$work/out" \
  || fail "the silent unit's JSON verdict"
[[ ! -e "$work/half.bin" ]] || fail "a failed read wrote its file"

sim_status=0
stop_sim || sim_status=$?
[[ $sim_status -eq 0 ]] || fail "the simulator exited with $sim_status"
echo "veth_tool_unit: passed (burned $new_mac)"
