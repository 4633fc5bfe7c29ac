#!/usr/bin/env bash
# Runs the suite under the sanitizers, each in its own build folder:
#   tools/sanitize.sh address   everything with AddressSanitizer + UndefinedBehaviorSanitizer
#   tools/sanitize.sh thread    the threaded tests (transmit buffer, timer, channels,
#                               adapters, the tick with the real timer, background log
#                               loading, the frame trace, the control server) with ThreadSanitizer
# Any sanitizer report fails the run.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
kind=${1:?address or thread}
"$top/tools/setup.sh"
export QT_QPA_PLATFORM=offscreen
case "$kind" in
  address)
    build=${QV_BUILD_DIR:-$top/build-asan}
    export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1:strict_string_checks=1}
    export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
    export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$top/tools/lsan.supp:print_suppressions=0}
    QV_BUILD_TYPE=Debug QV_BUILD_DIR=$build "$top/tools/build.sh" -DQV_SANITIZE_ADDRESS=ON -DQV_BUILD_TESTS=ON
    ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 900
    ;;
  thread)
    build=${QV_BUILD_DIR:-$top/build-tsan}
    export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
    # Qt's libraries are not built for ThreadSanitizer, so the window tests stay out.
    QV_BUILD_TYPE=Debug QV_BUILD_DIR=$build "$top/tools/build.sh" -DQV_SANITIZE_THREAD=ON -DQV_WITH_GUI=OFF -DQV_BUILD_TESTS=ON
    ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 900 \
      -R 'TCanBuffer|TMultimediaTimer|TLogLoadTask|TCanBufferTransmit|Channel|TAThread|TABuffer|TComm|TRs232|Socket|TCanAdapters|TCanChannelSim|TCanDriver|TCliRunner|QtCanBus|TQuorvellaCli|TRunEngineWire|TFrameTrace|TSignalMonitor|TControlServer|TReadmeControl'
    ;;
  *)
    echo "usage: $0 address|thread" >&2
    exit 2
    ;;
esac
