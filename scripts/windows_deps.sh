#!/usr/bin/env bash
# Fetches the sources the Windows cross-build compiles itself: pugixml from Debian's source
# package (the same version the Linux build links). GoogleTest comes from Debian's googletest
# package (/usr/src/googletest), which setup.sh installs. Uses a private apt source list, so the
# machine's own apt configuration is left alone.
#   scripts/windows_deps.sh DIR      unpacks into DIR/pugixml (once) and prints that folder
set -euo pipefail
dir=${1:?usage: $0 DIR}
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
if [ -f "$dir/pugixml/src/pugixml.cpp" ]; then
    echo "$dir/pugixml"
    exit 0
fi

apt="$dir/apt"
mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$dir/download"
cat >"$apt/debian.sources" <<SOURCES
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $(. /etc/os-release && echo "$VERSION_CODENAME")
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
opts=(-o "Dir::Etc::SourceList=$apt/debian.sources" -o Dir::Etc::SourceParts=/dev/null
      -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache" -o APT::Sandbox::User=root -qq)
apt-get "${opts[@]}" update >&2
(cd "$dir/download" && apt-get "${opts[@]}" source --download-only pugixml >&2)
rm -rf "$dir/pugixml.tmp"
dpkg-source --no-check -x "$(ls "$dir"/download/pugixml_*.dsc | head -n1)" "$dir/pugixml.tmp" >&2
mv "$dir/pugixml.tmp" "$dir/pugixml"
rm -rf "$apt"
echo "$dir/pugixml"
