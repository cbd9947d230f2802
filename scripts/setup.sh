#!/usr/bin/env bash
# Installs what the project needs on Debian 12, and only what is missing, so a warm machine
# pays nothing. Must run as root (or with sudo available) on a fresh machine.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config git
    clang-14 libclang-rt-14-dev
    qt6-base-dev qt6-charts-dev libqt6opengl6-dev libgl-dev fonts-dejavu-core
    libpugixml-dev libmodbus-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    libxml2-utils socat mbpoll python3-pymodbus python3-serial python3-serial-asyncio
    xvfb xauth
    dpkg-dev desktop-file-utils appstream groff-base
    chromium chromium-driver poppler-utils
    g++-mingw-w64-x86-64 googletest wine wine64
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if ((${#missing[@]})); then
    echo "setup: installing ${missing[*]}"
    sudo=""
    if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
