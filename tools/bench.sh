#!/usr/bin/env bash
# Builds the benchmarks (Release, in build-bench/ or $QV_BENCH_DIR) and runs them, each
# printing its figures and a baseline measured in the same run. The output is also
# kept in <build dir>/bench-results.txt.
#
#   tools/bench.sh                      every benchmark at its short length (~5 min in all)
#   tools/bench.sh --full               full lengths: periodic_timing 60 s, soak 24 h virtual
#   tools/bench.sh cpu soak             only the named ones
#   tools/bench.sh wire                 the wire timing seen from a peer (wire_timing): the
#                                       runner into a simulation socket, quiet and loaded
#   tools/bench.sh control              the same wire timing quiet and with 100 control API
#                                       requests a second, side by side (wire_timing --control)
#   tools/bench.sh windows              the frame trace and plots open beside a run: built
#                                       with the windows (in build-bench-gui/), run offscreen
#
# engine_latency runs twice: as the machine is, and with two busy processes it starts
# itself (one endless loop per core).
#
# python-can (Debian package python3-can) is the peer of log_loading and
# periodic_timing; it is installed when missing and apt-get can run.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${QV_BENCH_DIR:-$top/build-bench}
python=${QV_BENCH_PYTHON:-/usr/bin/python3}

full=0
names=()
for arg in "$@"; do
  case "$arg" in
    --full) full=1 ;;
    -h|--help) sed -n '2,17p' "$0"; exit 0 ;;
    wire) names+=(wire_timing) ;;
    control) names+=(control) ;;
    *) names+=("$arg") ;;
  esac
done
all=(engine_latency channel_latency log_loading periodic_timing wire_timing control cpu fast_run soak)
[ ${#names[@]} -eq 0 ] && names=("${all[@]}")

# Outside the source tree, so that its can/ folder does not shadow the package.
if ! (cd / && "$python" -I -c 'import can' 2>/dev/null); then
  if command -v apt-get >/dev/null && [ "$(id -u)" = 0 ]; then
    echo "bench.sh: installing python3-can"
    apt-get update >/dev/null && DEBIAN_FRONTEND=noninteractive apt-get install -y python3-can >/dev/null
  else
    echo "bench.sh: python-can is missing (apt-get install python3-can); its comparisons are skipped"
  fi
fi

# The program a name runs: control is the wire timing's mode with control API requests.
program_for() {
  case "$1" in
    control) echo wire_timing ;;
    *) echo "$1" ;;
  esac
}

# The windows' benchmark needs Qt Widgets: a build of its own, so that the others stay
# built without the windows.
gui_build=${QV_BENCH_GUI_DIR:-$top/build-bench-gui}
plain=()
for name in "${names[@]}"; do [ "$name" = windows ] || plain+=("$name"); done
if ((${#plain[@]})); then
  cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQV_BUILD_BENCH=ON -DQV_BUILD_TESTS=OFF \
    -DQV_WITH_GUI=OFF >/dev/null
  targets=()
  for name in "${plain[@]}"; do targets+=("bench_$(program_for "$name")"); done
  [[ " ${plain[*]} " =~ \ (fast_run|wire_timing|control|cpu)\  ]] && targets+=(quorvella-cli)
  cmake --build "$build" -j "$(nproc)" --target "${targets[@]}" >/dev/null
fi
if [[ " ${names[*]} " == *" windows "* ]]; then
  cmake -S "$top" -B "$gui_build" -DCMAKE_BUILD_TYPE=Release -DQV_BUILD_BENCH=ON -DQV_BUILD_TESTS=OFF \
    -DQV_WITH_GUI=ON >/dev/null
  cmake --build "$gui_build" -j "$(nproc)" --target bench_windows_cost >/dev/null
fi

args_for() {
  case "$1" in
    periodic_timing) [ $full = 1 ] && echo "--full --python $python" || echo "--python $python" ;;
    log_loading) echo "--python $python" ;;
    fast_run|cpu) echo "--cli $build/app/cli/quorvella-cli" ;;
    soak) [ $full = 1 ] && echo "--hours 24" || echo "--hours 2" ;;
    wire_timing) [ $full = 1 ] && echo "--seconds 60" || echo "--seconds 15" ;;
    control) [ $full = 1 ] && echo "--control --seconds 60" || echo "--control --seconds 15" ;;
    *) echo "" ;;
  esac
}

mkdir -p "$build"
results="$build/bench-results.txt"
{
  echo "# $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg), commit $(git -C "$top" rev-parse --short HEAD 2>/dev/null || echo '?')"
  status=0
  for name in "${names[@]}"; do
    echo
    if [ "$name" = windows ]; then
      (cd "$gui_build" && QT_QPA_PLATFORM=offscreen ./bench/windows_cost) || status=1
      continue
    fi
    # shellcheck disable=SC2046
    (cd "$build" && "./bench/$(program_for "$name")" $(args_for "$name")) || status=1
  done
  exit $status
} 2>&1 | tee "$results"
