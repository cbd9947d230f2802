#!/usr/bin/env bash
# Sets up, builds, starts the relay simulator on loopback and reads the unit's identification
# registers through the command-line tool over Modbus TCP.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" default kt740sim ktmon740-cli kt_resources

bin=$root/build/bin
out=$(mktemp)
"$bin/kt740sim" --tcp 127.0.0.1:0 --model-code 740 --firmware 250 --model-type 0 --comm-option 6 \
    --serial 123456 >"$out" &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null; rm -f "$out"' EXIT

for _ in $(seq 100); do
    grep -q '^listening tcp ' "$out" && break
    sleep 0.05
done
endpoint=$(sed -n 's/^listening tcp //p' "$out" | head -n1)
[ -n "$endpoint" ] || { echo "demo: the simulator did not start" >&2; exit 1; }

echo "Simulated KT-740 on tcp://$endpoint; identification registers 0..5:"
"$bin/ktmon740-cli" read "tcp://$endpoint" 0 6
