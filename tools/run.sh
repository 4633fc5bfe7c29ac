#!/usr/bin/env bash
# Installs what is missing, builds and starts Quorvella.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/setup.sh"
"$top/tools/build.sh"
cd "$top"
exec "${QV_BUILD_DIR:-$top/build}/app/main/quorvella" "$@"
