#!/usr/bin/env bash
# Fails when a file in src/ includes a header of a higher layer (or of a sibling it does not
# build on), and prints each offending line. Layers, lowest first:
#   base <- crypto, settings, resources <- programming <- transport <- protocol <- journal
#        <- station, report <- app; label (on base alone) <- app
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A allowed=(
  [base]="base"
  [crypto]="crypto base"
  [settings]="settings base"
  [resources]="resources base"
  [programming]="programming crypto settings resources base"
  [transport]="transport programming crypto settings resources base"
  [protocol]="protocol transport programming crypto settings resources base"
  [journal]="journal protocol transport programming crypto settings resources base"
  [station]="station journal protocol transport programming crypto settings resources base"
  [report]="report journal protocol transport programming crypto settings resources base"
  [label]="label base"
  [app]="app station report label journal protocol transport programming crypto settings resources base"
)

status=0
while IFS= read -r file; do
  layer=${file#src/}
  layer=${layer%%/*}
  if [[ -z ${allowed[$layer]+x} ]]; then
    echo "$file: folder '$layer' is not a layer" >&2
    status=1
    continue
  fi
  while IFS= read -r hit; do
    [[ -z $hit ]] && continue
    line=${hit%%:*}
    text=${hit#*:}
    target=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^/"]+)\/.*/\1/' <<<"$text")
    [[ $target == "$text" ]] && continue  # a local include without a folder
    if [[ " ${allowed[$layer]} " != *" $target "* ]]; then
      echo "$file:$line: $layer must not include $target: $text" >&2
      status=1
    fi
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" || true)
done < <(find src -type f \( -name '*.h' -o -name '*.cpp' \) | sort)

# The station's state is its own: outside station/ (and in station/'s public headers) only these
# headers of station/ may be included; tests and benchmarks may look inside.
station_public="station.h station_host.h station_events.h station_phase.h station_loop.h timer.h journal_link.h mac_lookup.h unit_watch.h burn_verify.h"
while IFS= read -r file; do
  name=${file#src/station/}
  if [[ $file == src/station/* && " $station_public " != *" $name "* ]]; then continue; fi
  while IFS= read -r hit; do
    [[ -z $hit ]] && continue
    header=$(sed -E 's/^[0-9]+:[[:space:]]*#[[:space:]]*include[[:space:]]*"station\/([^"]+)".*/\1/' <<<"$hit")
    if [[ " $station_public " != *" $header "* ]]; then
      echo "$file:${hit%%:*}: only station/'s public headers may be included here: $header" >&2
      status=1
    fi
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"station/' "$file" || true)
done < <(find src tools -type f \( -name '*.h' -o -name '*.cpp' \) | sort)

if ((status == 0)); then echo "check-layers: every include in src/ points down" >&2; fi
exit "$status"
