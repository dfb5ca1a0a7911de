#!/usr/bin/env bash
# Two bays over two veth pairs, headless: one stampwright-unit-sim serves both far ends, each a
# fresh unit under the same default MAC, and `stampwright --headless --bay A --bay B` burns both
# from two scanned labels at once. Each unit's saved flash must be the offline burn of its own
# label (a label crossed to the other bay fails both comparisons), and the journal must hold one
# "success" record per bay, on that bay's adapter.
#
#   veth_gang_headless.sh STAMPWRIGHT UNIT_SIM TOOL IMAGE_WRITER
#
# IMAGE_WRITER is e2e_veth_station (its write-image mode makes the units' PX300 image). Needs
# root: exits 77 (skipped) without it, unless CI is set, where a missing capability is a failure.
set -euo pipefail

station=$1
sim=$2
tool=$3
image_writer=$4

wire_test_name=veth_gang_headless
source "$(dirname "$0")/../../scripts/lib/veth_pair.sh"
tag="swg$$"
wire_test_start "$tag"
# Bay 1 is the pair wire_test_start made, bay 2 a second pair between the same namespaces.
unit_devs=("$veth_unit" "${tag}v")
station_devs=("$veth_station" "${tag}t")
veth_link_add "${unit_devs[1]}" "${station_devs[1]}" || wire_test_unavailable "cannot create a second veth pair"

fail() {
  echo "veth_gang_headless: FAILED: $1" >&2
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
seed=$(( ($$ * 104729) % 16777000 ))
labels=("02A0C5$(printf '%06X' "$seed")" "02A0C5$(printf '%06X' $((seed + 1)))")
passwords=(G4NGBAY1PQ7RZ2MW G4NGBAY2XK5TV8NC)
group() { echo "${1:0:4}-${1:4:4}-${1:8:4}-${1:12:4}"; }

mkdir "$work/station" "$work/runtime"
chmod 700 "$work/runtime"
"$image_writer" write-image "$work/image.bin" "$unit_mac" "$$"
{
  "$tool" db encode "${labels[0]}" "${passwords[0]}"
  "$tool" db encode "${labels[1]}" "${passwords[1]}"
} > "$work/station/cam.dbr" || fail "stampwright-tool db encode"

ip netns exec "$ns_unit" "$sim" --interface "${unit_devs[0]}" --interface "${unit_devs[1]}" \
  --image "$work/image.bin" --mac "$unit_mac" --flash "$work/flash.bin" --restart 1500 \
  --latency 1 2> "$work/sim.log" &
sim_pid=$!
sim_wait_ready "$work/sim.log" "$sim_pid" 2 || fail "the simulator did not come up on both interfaces"

# Both labels scanned one after another, each after its bay's code (both bays wait for a label,
# so a label alone would be held); every wait is bounded.
cat > "$work/commands" <<EOF
bay 1 wait 1105 10000 Read Module OK - PX300 Class B
bay 2 wait 1105 10000 Read Module OK - PX300 Class B
scan BAY-1
scan ${labels[0]}
scan BAY-2
scan ${labels[1]}
bay 1 wait 1105 20000 Success
bay 2 wait 1105 20000 Success
close
EOF

status=0
XDG_RUNTIME_DIR="$work/runtime" timeout 60 ip netns exec "$ns_station" \
  "$station" --headless --quiet --bay "${station_devs[0]}" --bay "${station_devs[1]}" \
  --workdir "$work/station" --journal journal.db \
  < "$work/commands" > "$work/events.jsonl" 2> "$work/station.err" || status=$?
[[ $status -eq 0 ]] || fail "stampwright --headless exited with $status"

events="$work/events.jsonl"
! grep -qF '"event":"timeout"' "$events" || fail "a wait ran out"
! grep -qF '"event":"error"' "$events" || fail "the front end reported an error"
! grep -qF '"event":"messagebox"' "$events" || fail "a message box was shown"
if grep -qv '^{.*}$' "$events"; then fail "a line on stdout is not a JSON object"; fi

# Per bay: its label routed to it, "Success" on it, and its unit's flash the offline burn.
for bay in 1 2; do
  i=$((bay - 1))
  grep -qF '"event":"scan","text":"'"${labels[i]}"'","bay":'"$bay"',"result":"burning"' "$events" ||
    fail "${labels[i]} was not routed to bay $bay"
  grep -qF '"id":1105,"text":"Success","bay":'"$bay"',' "$events" || fail "no Success on bay $bay"
  flash="$work/flash.bin.${unit_devs[i]}"
  [[ -f "$flash" ]] || fail "the unit of bay $bay saved no flash"
  "$tool" image burn "$work/image.bin" "$work/expected$bay.bin" --mac "${labels[i]}" \
    --password "$(group "${passwords[i]}")" > /dev/null || fail "stampwright-tool image burn"
  cmp "$flash" "$work/expected$bay.bin" || fail "bay $bay's flash differs from the offline burn of its label"
done
! cmp -s "$work/expected1.bin" "$work/expected2.bin" || fail "the two offline burns are the same image"
[[ $(grep -c "VS_MOD_COMMIT.REQ" "$work/sim.log") -eq 2 ]] || fail "not exactly one commit per unit"

# The journal itself, read back by the tool: one success per bay, on its adapter, nothing else.
"$tool" journal list --journal "$work/station/journal.db" --format jsonl > "$work/records.jsonl" ||
  fail "stampwright-tool journal list"
summary=$(python3 - "$work/records.jsonl" <<'PY'
import json, sys
rows = [json.loads(line) for line in open(sys.argv[1]) if line.strip()]
for r in sorted(rows, key=lambda r: (r.get("bay") or 0)):
    print(r.get("bay"), r.get("outcome"), r.get("mac"), r.get("adapter"), r.get("unit_mac_before"))
PY
)
expected="1 success ${labels[0]} ${station_devs[0]} ${unit_mac//:/}
2 success ${labels[1]} ${station_devs[1]} ${unit_mac//:/}"
[[ "$summary" == "$expected" ]] || fail "journal records: got
$summary
expected
$expected"

sim_status=0
stop_sim || sim_status=$?
[[ $sim_status -eq 0 ]] || fail "the simulator exited with $sim_status"
echo "veth_gang_headless: passed (burned ${labels[0]} on bay 1, ${labels[1]} on bay 2)"
