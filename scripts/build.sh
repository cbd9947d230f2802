#!/usr/bin/env bash
# Configures (once) and builds one flavour of the tree, incrementally.
#   scripts/build.sh [default|asan|tsan|windows] [ninja targets...]
# windows: cross-built with MinGW-w64 into build-windows/ (core, ktmon740-cli, core tests; no GUI).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
flavour=${1:-default}
shift || true

case "$flavour" in
default)
    dir=$root/build
    args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=g++)
    ;;
asan)
    dir=$root/build-asan
    args=(-DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++-14 -DKT_SANITIZE=address
          -DKT_BUILD_FUZZ=ON -DKT_BUILD_BENCH=OFF)
    ;;
tsan)
    dir=$root/build-tsan
    args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 -DKT_SANITIZE=thread
          -DKT_BUILD_GUI=OFF -DKT_BUILD_BENCH=OFF)
    ;;
windows)
    dir=$root/build-windows
    pugixml=$("$root/scripts/windows_deps.sh" "$dir/deps")
    args=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/scripts/mingw-w64-x86_64.cmake"
          -DKT_BUILD_GUI=OFF -DKT_BUILD_BENCH=OFF -DKT_BUILD_SIM=OFF -DKT_PUGIXML_SOURCE_DIR="$pugixml")
    ;;
*)
    echo "usage: $0 [default|asan|tsan|windows] [targets...]" >&2
    exit 2
    ;;
esac

# ccache, when the machine has it, shares compiled objects between build trees and worktrees.
if command -v ccache >/dev/null 2>&1; then
    args+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}
    # A fresh clone elsewhere (CI) hits the same objects; only the debugger's source folder differs.
    export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-true}
fi

if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$root" -B "$dir" -G Ninja "${args[@]}"
fi
cmake --build "$dir" -- "$@"
