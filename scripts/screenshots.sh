#!/usr/bin/env bash
# Takes the pictures of the main window in docs/screenshots/: offline, and online against the
# relay simulator (every page) and its older legacy unit (its two pages). Runs on a virtual display
# (Xvfb) with settings of its own, so neither the desktop nor the user's stored preferences show
# up in the pictures.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" default kt740sim ktmon740 kt_resources

bin=$root/build/bin
shots=$root/docs/screenshots
mkdir -p "$shots"
work=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done; rm -rf "$work"' EXIT

# Starts a simulator with the given options in the background (its output in $work/sim-KIND.out).
simulator() {
    local kind=$1
    shift
    "$bin/kt740sim" "$@" --resources "$bin/resources" >"$work/sim-$kind.out" &
    pids+=($!)
}
# What follows "listening KIND " once that simulator is up.
listening() {
    for _ in $(seq 100); do
        grep -q "^listening $1 " "$work/sim-$1.out" && break
        sleep 0.05
    done
    sed -n "s/^listening $1 //p" "$work/sim-$1.out" | head -n1
}
simulator tcp --tcp 127.0.0.1:0 --firmware 300 --comm-option 6 --serial 123456 --events 12 --newest 11
simulator legacy --legacy --legacy-version 10 --events 6
endpoint=$(listening tcp)
[ -n "$endpoint" ] || { echo "screenshots: the simulator did not start" >&2; exit 1; }
legacy=$(listening legacy)
[ -n "$legacy" ] || { echo "screenshots: the legacy simulator did not start" >&2; exit 1; }

shoot() {
    XDG_CONFIG_HOME=$work/config xvfb-run -a -s "-screen 0 1280x800x24" "$bin/ktmon740" "$@"
}
shoot --screenshot "$shots/main-offline.png" --after 1500
shoot --connect "tcp://$endpoint" --screenshot "$shots/main-online.png" --after 5000 --page Summary
shoot --connect "tcp://$endpoint" --screenshot "$shots/detailed-status.png" --after 5000 \
    --page "Detailed Status"
shoot --connect "tcp://$endpoint" --screenshot "$shots/configuration.png" --after 5000 --page Configuration
shoot --connect "tcp://$endpoint" --screenshot "$shots/event-records.png" --after 7000 --page "Event Records"
shoot --connect "tcp://$endpoint" --screenshot "$shots/iec61850.png" --after 5000 --page "IEC 61850"
# An older unit: the Modbus identification fails first (its frames keep the line busy, which
# takes the engine's full retries), then the listener takes the port.
shoot --connect "serial:$legacy" --screenshot "$shots/legacy-details.png" --after 45000 \
    --page "Detailed Status and Config"
shoot --connect "serial:$legacy" --screenshot "$shots/legacy-events.png" --after 45000 --page "Event Records"
echo "screenshots: $(ls "$shots"/*.png | tr '\n' ' ')"
