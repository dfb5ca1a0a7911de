#!/usr/bin/env bash
# Installs every Debian package the project needs. Idempotent; run as root.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev libssl-dev
  qt6-base-dev libgl-dev fonts-liberation2 fonts-wqy-microhei
  libpcap-dev nlohmann-json3-dev libsqlite3-dev chromium
  clang libclang-rt-14-dev valgrind
  iproute2 libcap2-bin tshark
  libpq-dev postgresql
  rabbitmq-server libqpid-proton-cpp12-dev
  xvfb xauth x11-utils
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  if [[ $(id -u) -ne 0 ]]; then
    echo "install-deps: missing packages: ${missing[*]}; run this script as root" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  # tshark's package asks whether non-root users may capture: no, and without a question.
  echo "wireshark-common wireshark-common/install-setuid boolean false" | debconf-set-selections
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
