#!/usr/bin/env bash
# Builds the programs and, with CPack, the Debian package build/packages/ktmon740_VERSION_amd64.deb
# (the programs with their data in /usr/lib/ktmon740, links in /usr/bin, a desktop entry, an
# icon, AppStream metadata and manual pages).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" default ktmon740 ktmon740-cli kt740sim kt_resources kt_manual kt_setpoint_assistant \
    kt_man_pages
cd "$root/build"
cpack -G DEB
ls -l "$root"/build/packages/*.deb
