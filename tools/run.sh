#!/usr/bin/env bash
# Installs what is missing, builds and starts Quorvella. Without a display it runs a
# short demonstration with the headless runner instead, and says so.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${QV_BUILD_DIR:-$top/build}
"$top/tools/setup.sh"
QV_BUILD_DIR=$build "$top/tools/build.sh"
cd "$top"
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && -z "${QT_QPA_PLATFORM:-}" ]]; then
  echo "No display found: running a 5 s headless demonstration (quorvella-cli) instead of the window."
  echo "The windowed program starts with: $build/app/main/quorvella"
  exec "$build/app/cli/quorvella-cli" --duration 5 --starter --set Gaspedal=60 --monitor "$@"
fi
exec "$build/app/main/quorvella" "$@"
