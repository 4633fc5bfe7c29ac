#!/usr/bin/env bash
# Installs what is missing, builds and runs every test (window tests run offscreen).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${QV_BUILD_DIR:-$top/build}
"$top/tools/setup.sh"
QV_BUILD_DIR=$build "$top/tools/build.sh" -DQV_BUILD_TESTS=ON "$@"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 600
