#!/usr/bin/env bash
# Sets up, builds and runs every test: the normal build (with the package, help and browser
# tests), the Windows cross-build under wine, all tests under AddressSanitizer +
# UndefinedBehaviorSanitizer, and the threaded tests under ThreadSanitizer.
# KT_QUICK=1 skips the sanitizer builds (for a quick local loop; CI never sets it).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

"$root/scripts/build.sh" default
(cd "$root/build" && ctest --output-on-failure -j "$jobs")

if [ "${KT_QUICK:-0}" = 1 ]; then exit 0; fi

# The Windows cross-build (MinGW-w64) and its tests under wine, once; the Win32 link test talks
# to the simulator of the plain build above.
"$root/scripts/build.sh" windows
(cd "$root/build-windows" && ctest --output-on-failure -j "$jobs")

"$root/scripts/build.sh" asan
(cd "$root/build-asan" &&
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ctest --output-on-failure -j "$jobs")

"$root/scripts/build.sh" tsan
(cd "$root/build-tsan" &&
    TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ctest --output-on-failure -j "$jobs" -L threaded)
