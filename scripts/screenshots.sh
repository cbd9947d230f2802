#!/usr/bin/env bash
# Takes the pictures of the main window in docs/screenshots/: offline, and online against the
# relay simulator. Runs on a virtual display (Xvfb) with settings of its own, so neither the
# desktop nor the user's stored preferences show up in the pictures.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" default kt740sim ktmon740 kt_resources

bin=$root/build/bin
shots=$root/docs/screenshots
mkdir -p "$shots"
work=$(mktemp -d)
out=$work/sim.out
"$bin/kt740sim" --tcp 127.0.0.1:0 --firmware 300 --comm-option 6 --serial 123456 \
    --resources "$bin/resources" >"$out" &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null; rm -rf "$work"' EXIT

for _ in $(seq 100); do
    grep -q '^listening tcp ' "$out" && break
    sleep 0.05
done
endpoint=$(sed -n 's/^listening tcp //p' "$out" | head -n1)
[ -n "$endpoint" ] || { echo "screenshots: the simulator did not start" >&2; exit 1; }

shoot() {
    XDG_CONFIG_HOME=$work/config xvfb-run -a -s "-screen 0 1280x800x24" "$bin/ktmon740" "$@"
}
shoot --screenshot "$shots/main-offline.png" --after 1500
shoot --connect "tcp://$endpoint" --screenshot "$shots/main-online.png" --after 5000
echo "screenshots: $shots/main-offline.png $shots/main-online.png"
