#!/usr/bin/env bash
# The headless front end against stampwright-unit-sim over a veth pair, each in a network
# namespace of its own made for this run: `stampwright --headless --interface` reads the unit at
# start-up, burns it from "cam.dbr" and shows "Success"; the simulator's saved flash must then be
# what `stampwright-tool image burn` makes of the unit's image offline.
#
#   veth_headless.sh STAMPWRIGHT UNIT_SIM TOOL IMAGE_WRITER
#
# IMAGE_WRITER is e2e_veth_station (its write-image mode makes the unit's PX300 image). Needs
# root: exits 77 (skipped) without it, unless CI is set, where a missing capability is a failure.
set -euo pipefail

station=$1
sim=$2
tool=$3
image_writer=$4

wire_test_name=veth_headless
source "$(dirname "$0")/../../scripts/lib/veth_pair.sh"
wire_test_start "swh$$"

fail() {
  echo "veth_headless: FAILED: $1" >&2
  if [[ -f "$work/events.jsonl" ]]; then
    echo "--- station events (last 40)" >&2
    tail -n 40 "$work/events.jsonl" >&2
    echo "--- station stderr" >&2
    cat "$work/station.err" >&2 || true
  fi
  echo "--- simulator log (last 20)" >&2
  tail -n 20 "$work/sim.log" >&2 || true
  exit 1
}

unit_mac=02:00:00:00:00:07
version="PX300-AV 3.0.2 headless-$$"
new_mac=02A0C5$(printf '%06X' $(( ($$ * 104729) % 16777216 )))
password=H3ADL3SSPQ7RZ2MW
grouped="${password:0:4}-${password:4:4}-${password:8:4}-${password:12:4}"

mkdir "$work/station" "$work/runtime"
chmod 700 "$work/runtime"
"$image_writer" write-image "$work/image.bin" "$unit_mac" "$$"
{
  "$tool" db encode 02A0C5000001 QRSTUVWXYZ012345
  "$tool" db encode "$new_mac" "$password"
} > "$work/station/cam.dbr" || fail "stampwright-tool db encode"

# A restart well under the 3 s scan interval, so the next tick finds the unit again.
ip netns exec "$ns_unit" "$sim" --interface "$veth_unit" --image "$work/image.bin" \
  --mac "$unit_mac" --version-text "$version" --flash "$work/flash.bin" --restart 1500 \
  2> "$work/sim.log" &
sim_pid=$!
sim_wait_ready "$work/sim.log" "$sim_pid" || fail "the simulator did not come up"

# The operator's part, as the headless contract takes it: every wait is bounded.
cat > "$work/commands" <<EOF
wait 1105 10000 Read Module OK - PX300 Class B
set 1009 $new_mac
click 1102
wait 1105 20000 Success
close
EOF

status=0
XDG_RUNTIME_DIR="$work/runtime" timeout 60 ip netns exec "$ns_station" \
  "$station" --headless --interface "$veth_station" --workdir "$work/station" \
  < "$work/commands" > "$work/events.jsonl" 2> "$work/station.err" || status=$?
[[ $status -eq 0 ]] || fail "stampwright --headless exited with $status"

events="$work/events.jsonl"
has() { grep -qF -- "$1" "$events"; }
has '{"event":"ready"' || fail "no ready event"
has '"id":1056,"text":"'"$unit_mac"'"' || fail "the unit's MAC was not shown in 1056"
has '"id":1121,"text":"PX300"' || fail "PX300 was not shown in 1121"
has '"id":1109,"text":"'"$version"'"' || fail "the version text was not shown in 1109"
has '"id":1105,"text":"Read Module OK - PX300 Class B"' || fail "the module read did not end OK"
has '{"event":"enable","id":1102,"enabled":true' || fail "Burn was never enabled"
has '"id":1057,"text":"'"$grouped"'"' || fail "the looked-up password was not shown in 1057"
has '"id":1105,"text":"Waiting..."' || fail "the commit was not confirmed"
has '"id":1105,"text":"Success"' || fail "no Success"
! has '"event":"timeout"' || fail "a wait ran out"
! has '"event":"error"' || fail "the front end reported an error"
! has '"event":"messagebox"' || fail "a message box was shown"
# stdout carries JSON objects and nothing else.
if grep -qv '^{.*}$' "$events"; then fail "a line on stdout is not a JSON object"; fi

# The texts of the burn, in the order they were shown.
order=$(grep -oE '"id":1105,"text":"(Burning\.\.\.|checksum: [0-9a-f]{8}|Write Module - OK|Waiting\.\.\.|Success)"' \
  "$events" | sed -E 's/.*"text":"([^"]*)"/\1/; s/checksum: .*/checksum/' | tr '\n' '|')
[[ "$order" == "Burning...|checksum|Write Module - OK|Waiting...|Success|" ]] || fail "burn texts out of order: $order"

[[ -f "$work/flash.bin" ]] || fail "the simulator saved no flash"
"$tool" image burn "$work/image.bin" "$work/expected.bin" --mac "$new_mac" --password "$grouped" \
  > "$work/expected.txt" || fail "stampwright-tool image burn"
cmp "$work/flash.bin" "$work/expected.bin" || fail "the flash differs from the offline burn of the unit's image"
# The offline burn must itself have changed the image: a no-op would make the comparison empty.
! cmp -s "$work/image.bin" "$work/expected.bin" || fail "the offline burn left the image unchanged"

sim_status=0
stop_sim || sim_status=$?
[[ $sim_status -eq 0 ]] || fail "the simulator exited with $sim_status"
echo "veth_headless: passed (burned $new_mac)"
