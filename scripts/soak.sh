#!/usr/bin/env bash
# Soak: the window (offscreen) and the command-line monitor against the simulator for MINUTES with
# a random fault plan (silence, exception answers, damaged answers, late answers, dropped connections, restarts,
# and an older unit's frames with noise). Builds first; the report goes to stdout and, as JSON,
# to build/soak-report.json. Exit 1 on any error.
#   scripts/soak.sh MINUTES [--seed N]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
minutes=${1:?usage: $0 MINUTES [--seed N]}
shift
"$root/scripts/setup.sh"
"$root/scripts/build.sh" default ktmon740 ktmon740-cli kt740sim kt_resources
exec python3 "$root/scripts/soak.py" "$minutes" --bin "$root/build/bin" --report "$root/build/soak-report.json" "$@"
