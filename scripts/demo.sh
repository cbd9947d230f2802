#!/usr/bin/env bash
# The main job in one command: sets up, builds, starts the relay simulator on loopback (a KT-740
# with firmware 3.00 and the IEC 61850 option) and opens the program connected to it. Closing the
# window stops the simulator.
#
# On a machine without a display the window runs on a virtual one (Xvfb) for DEMO_SECONDS
# (default 20) and leaves a picture of itself in build/demo.png.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" default kt740sim ktmon740 kt_resources kt_manual kt_setpoint_assistant

bin=$root/build/bin
out=$(mktemp)
"$bin/kt740sim" --tcp 127.0.0.1:0 --model-code 740 --firmware 300 --model-type 0 --comm-option 6 \
    --serial 123456 --resources "$bin/resources" >"$out" &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null; rm -f "$out"' EXIT

for _ in $(seq 100); do
    grep -q '^listening tcp ' "$out" && break
    sleep 0.05
done
endpoint=$(sed -n 's/^listening tcp //p' "$out" | head -n1)
[ -n "$endpoint" ] || { echo "demo: the simulator did not start" >&2; exit 1; }
echo "Simulated KT-740 on tcp://$endpoint"

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    echo "Opening KT-MON740; close its window to end the demo."
    "$bin/ktmon740" --connect "tcp://$endpoint"
else
    seconds=${DEMO_SECONDS:-20}
    echo "No display: running KT-MON740 on a virtual display for $seconds s."
    xvfb-run -a -s "-screen 0 1280x800x24" \
        "$bin/ktmon740" --connect "tcp://$endpoint" --screenshot "$root/build/demo.png" --after "$((seconds * 1000))"
    echo "The window after $seconds s: $root/build/demo.png"
fi
