#!/usr/bin/env bash
# Captures of a whole burn: `stampwright --headless --capture` burns stampwright-unit-sim (itself
# run with --capture) over a veth pair in namespaces made for this run. tshark must decode every
# frame of both captures as HomePlug AV, and the count of each MMTYPE in each direction must be
# what the station sent and received: the simulator's own log of requests and answers, the
# station's traffic counters in its state file, the other end's capture, and the burn's fixed
# eight module writes and one commit.
#
#   veth_capture.sh STAMPWRIGHT UNIT_SIM TOOL IMAGE_WRITER
#
# Needs root and tshark: exits 77 (skipped) without them, unless CI is set, where that is a
# failure.
set -euo pipefail

station=$1
sim=$2
tool=$3
image_writer=$4

wire_test_name=veth_capture
source "$(dirname "$0")/../../scripts/lib/veth_pair.sh"
command -v tshark >/dev/null || wire_test_unavailable "tshark is missing (scripts/install-deps.sh)"
wire_test_start "swc$$"

fail() {
  echo "veth_capture: FAILED: $1" >&2
  for f in station.err counts.station counts.sim counts.log; do
    [[ -f "$work/$f" ]] && { echo "--- $f" >&2; tail -n 30 "$work/$f" >&2; }
  done
  echo "--- simulator log (last 20)" >&2
  tail -n 20 "$work/sim.log" >&2 || true
  exit 1
}

unit_mac=02:00:00:00:00:09
new_mac=02A0C5$(printf '%06X' $(( ($$ * 6007) % 16777216 )))
password=C4PTUR3PQ7RZ2MWK

mkdir "$work/station" "$work/runtime"
chmod 700 "$work/runtime"
"$image_writer" write-image "$work/image.bin" "$unit_mac" "$$"
"$tool" db encode "$new_mac" "$password" > "$work/station/cam.dbr"

ip netns exec "$ns_unit" "$sim" --interface "$veth_unit" --image "$work/image.bin" \
  --mac "$unit_mac" --flash "$work/flash.bin" --restart 1500 --capture "$work/sim.pcapng" \
  2> "$work/sim.log" &
sim_pid=$!
sim_wait_ready "$work/sim.log" "$sim_pid" || fail "the simulator did not come up"

cat > "$work/commands" <<EOF2
wait 1105 10000 Read Module OK - PX300 Class B
set 1009 $new_mac
click 1102
wait 1105 20000 Success
close
EOF2
status=0
XDG_RUNTIME_DIR="$work/runtime" timeout 60 ip netns exec "$ns_station" \
  "$station" --headless --interface "$veth_station" --workdir "$work/station" \
  --capture station.pcapng < "$work/commands" > "$work/events.jsonl" 2> "$work/station.err" \
  || status=$?
[[ $status -eq 0 ]] || fail "stampwright --headless exited with $status"
grep -qF '"id":1105,"text":"Success"' "$work/events.jsonl" || fail "no Success"
sim_status=0
stop_sim || sim_status=$?
[[ $sim_status -eq 0 ]] || fail "the simulator exited with $sim_status"

capture=$work/station/station.pcapng  # relative to --workdir
[[ -s "$capture" ]] || fail "no capture in the working directory"

# One line per frame: interface, direction (1 in, 2 out), MMTYPE, protocols.
# The MMTYPE is taken from the frame's bytes 15 and 16 (little-endian) in tshark's hex dump.
decode() {
  tshark -r "$1" -T fields -E separator=/t -e frame.interface_name -e frame.packet_flags_direction \
    2>/dev/null > "$1.fields" || return 1
  tshark -r "$1" -x 2>/dev/null |
    awk '/^0000 / { lo = $17 } /^0010 / { print $2 lo }' > "$1.types" || return 1
  tshark -r "$1" -T fields -e frame.protocols 2>/dev/null > "$1.protocols" || return 1
  paste "$1.fields" "$1.types" "$1.protocols"
}
# "DIRECTION MMTYPE COUNT" lines, sorted: in/out and four lower-case hex digits.
counts() {
  awk -F'\t' -v want="$1" '
    $1 != want { print "interface " $1 > "/dev/stderr"; bad = 1 }
    $4 !~ /:homeplug-av$/ { print "not HomePlug AV: " $4 > "/dev/stderr"; bad = 1 }
    {
      type = $3
      sub(/^0x/, "", type)
      direction = ($2 ~ /1$/) ? "in" : ($2 ~ /2$/) ? "out" : "none"
      n[direction " " tolower(type)]++
    }
    END { for (k in n) print k, n[k]; exit bad }' | sort
}
decode "$capture" > "$work/frames.station" || fail "tshark cannot read the station's capture"
decode "$work/sim.pcapng" > "$work/frames.sim" || fail "tshark cannot read the simulator's capture"
counts < "$work/frames.station" "$veth_station" > "$work/counts.station" \
  || fail "a frame of the station's capture is not HomePlug AV on $veth_station"
counts < "$work/frames.sim" "$veth_unit" > "$work/counts.sim" \
  || fail "a frame of the simulator's capture is not HomePlug AV on $veth_unit"

# What the simulator logged: every request that reached it, every answer it sent.
names=(a000:VS_VER_QUERY.REQ a001:VS_VER_QUERY.CNF a020:VS_WR_MOD.REQ a021:VS_WR_MOD.CNF
       a024:VS_RD_MOD.REQ a025:VS_RD_MOD.CNF a028:VS_MOD_COMMIT.REQ a029:VS_MOD_COMMIT.CNF)
: > "$work/counts.log"
for entry in "${names[@]}"; do
  type=${entry%%:*}
  name=${entry#*:}
  if [[ $name == *.REQ ]]; then
    n=$(grep -c -- "unit-sim: \(ignored \|dropped \)\?$name from " "$work/sim.log" || true)
    [[ $n -gt 0 ]] && echo "out $type $n" >> "$work/counts.log"
  else
    n=$(grep -c -- "unit-sim: answer $name to " "$work/sim.log" || true)
    [[ $n -gt 0 ]] && echo "in $type $n" >> "$work/counts.log"
  fi
done
sort -o "$work/counts.log" "$work/counts.log"
diff "$work/counts.log" "$work/counts.station" >&2 \
  || fail "the station's capture does not count what the simulator logged"
# The other end saw the same frames the other way round.
sed -e 's/^in /x /; s/^out /in /; s/^x /out /' "$work/counts.sim" | sort > "$work/counts.mirror"
diff "$work/counts.mirror" "$work/counts.station" >&2 \
  || fail "the two captures do not mirror each other"
# The burn itself: eight chunks written and confirmed, one commit and its confirmation.
for expected in "out a020 8" "in a021 8" "out a028 1" "in a029 1"; do
  grep -qxF "$expected" "$work/counts.station" || fail "the capture lacks \"$expected\""
done
# The station's own traffic counters, saved in its state file at close.
state=$(find "$work/station" -maxdepth 1 -name '*.data' | head -n 1)
[[ -n "$state" ]] || fail "no state file"
"$tool" state "$state" > "$work/state.txt" || fail "stampwright-tool state"
sent=$(awk '/^DeviceSummary 0:/ {s = 1} s && /FramesSent:/ {print $2; exit}' "$work/state.txt")
received=$(awk '/^DeviceSummary 0:/ {s = 1} s && /FramesReceived:/ {print $2; exit}' "$work/state.txt")
out_total=$(awk '$1 == "out" {t += $3} END {print t + 0}' "$work/counts.station")
in_total=$(awk '$1 == "in" {t += $3} END {print t + 0}' "$work/counts.station")
[[ "$sent" == "$out_total" ]] || fail "the station counted $sent frames sent, the capture $out_total"
[[ "$received" == "$in_total" ]] || fail "the station counted $received frames received, the capture $in_total"

echo "veth_capture: passed ($out_total frames sent, $in_total received, $(wc -l < "$work/frames.station") in the capture)"
tr '\n' ';' < "$work/counts.station"; echo
