#!/usr/bin/env bash
# Runs a Windows test program under wine against the simulator of the Linux build:
#   run_with_sim.sh KT740SIM TEST.exe [gtest options...]
# The simulator listens on loopback TCP and on a pseudo-terminal; wine's COM port map
# (HKLM\Software\Wine\Ports) makes that pseudo-terminal COM5 for the Windows program.
set -euo pipefail
sim=${1:?usage: $0 KT740SIM TEST.exe [options]}
test=${2:?usage: $0 KT740SIM TEST.exe [options]}
shift 2
wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
com=COM5
export WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=

work=$(mktemp -d)
sim_pid=
cleanup() {
    if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

"$sim" --tcp 127.0.0.1:0 --rtu --firmware 300 --serial 4242 >"$work/out" 2>"$work/err" &
sim_pid=$!
tcp= pts=
for _ in $(seq 200); do
    tcp=$(sed -n 's/^listening tcp //p' "$work/out")
    pts=$(sed -n 's/^listening rtu //p' "$work/out")
    [ -n "$tcp" ] && [ -n "$pts" ] && break
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.05
done
if [ -z "$tcp" ] || [ -z "$pts" ]; then
    echo "run_with_sim: the simulator did not start: $(cat "$work/err")" >&2
    exit 1
fi

# The port map is read when wine's mount manager starts, so the running wineserver (if any) is
# stopped first and a new one started with the new map. Started here, its own output (an
# object dump when it ends) stays out of the test's.
"$wine" reg add 'HKLM\Software\Wine\Ports' /v "$com" /d "$pts" /f >/dev/null 2>&1
wineserver -k >/dev/null 2>&1 || true
wineserver -w >/dev/null 2>&1 || true
wineserver -p2 >/dev/null 2>&1

KT_SIM_TCP=$tcp KT_SIM_COM=$com "$wine" "$test" "$@"
