#!/usr/bin/env bash
# Installs the Debian 12 packages the build needs, and only those that are missing.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-serialbus-dev libqt6serialbus6-bin
  qt6-httpserver-dev qt6-websockets-dev   # the control API's HTTP server (its CMake package needs both)
  libgl-dev libgtest-dev libgmock-dev
  python3 python3-canmatrix
  python3-can   # the peer the log format tests and benchmarks compare with
  can-utils     # log2asc and asc2log: the round trips of the ASC and candump output
)
if [[ "${QV_EXTRA_PACKAGES:-}" != "" ]]; then
  read -r -a extra <<<"$QV_EXTRA_PACKAGES"
  packages+=("${extra[@]}")
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo=()
  if [[ $(id -u) -ne 0 ]]; then sudo=(sudo); fi
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
