#!/usr/bin/env bash
# Installs what the project needs, builds the station and stampwright-tool into build/ and opens
# the demo window: a simulated PX300 unit on a virtual adapter, no hardware and no root needed to
# run it.
# Arguments are passed on to the station (e.g. --mac-prefix 0EBEEF, or --headless).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset default
cmake --build --preset default --target stampwright stampwright-tool -j "$(nproc)"

headless=0
for argument in "$@"; do
  [[ $argument == --headless ]] && headless=1
done
if [[ $headless -eq 0 && -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} && -z ${QT_QPA_PLATFORM:-} ]]; then
  echo "demo: no display to open the window on. Either run it under a virtual display:" >&2
  echo "    xvfb-run -a bash scripts/demo.sh" >&2
  echo "or drive the demo without a window (commands on stdin, JSON events on stdout):" >&2
  echo "    build/bin/stampwright --headless --demo" >&2
  exit 1
fi
exec build/bin/stampwright --demo "$@"
