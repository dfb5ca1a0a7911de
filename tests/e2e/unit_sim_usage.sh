#!/usr/bin/env bash
# stampwright-unit-sim's command line: help, bad usage and bad values, without any network.
set -uo pipefail
sim=$1
failures=0

expect() {
  local want=$1
  shift
  "$sim" "$@" >/dev/null 2>&1
  local got=$?
  if [[ $got -ne $want ]]; then
    echo "unit_sim_usage: '$*' exited $got, expected $want" >&2
    failures=$((failures + 1))
  fi
}

expect 0 --help
expect 2
expect 2 --bogus 1
expect 2 --interface
expect 2 --interface x --mac 02:00:00:00:00
expect 2 --interface x --chip px200
expect 2 --interface x --drop 101
expect 2 --interface x --latency -1
expect 2 --interface x --oui 00:B0
expect 2 --interface x --image /nonexistent/image.bin
expect 2 --interface x --capture ""
expect 2 --interface x --interface y --interface x
expect 2 --interface ""
short=$(mktemp)
head -c 100 /dev/zero > "$short"
expect 2 --interface x --image "$short"
rm -f "$short"
"$sim" --help | grep -q -- "--capture FILE" || { echo "unit_sim_usage: --capture in help" >&2; failures=$((failures + 1)); }
"$sim" --help | grep -q -- "--flash FILE" || { echo "unit_sim_usage: --flash in help" >&2; failures=$((failures + 1)); }
"$sim" --help | grep -q -- "--interface NAME" || { echo "unit_sim_usage: help text" >&2; failures=$((failures + 1)); }

[[ $failures -eq 0 ]] && echo "unit_sim_usage: passed"
exit $((failures > 0))
