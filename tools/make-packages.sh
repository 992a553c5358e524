#!/usr/bin/env bash
# Builds the tool set for an install in /usr and makes its Debian packages in build/package/, with the
# index of a local apt repository beside them (Packages, Release), so that apt can take the packages'
# dependencies on each other from that folder:
#
#   echo "deb [trusted=yes] file:$PWD/build/package ./" | sudo tee /etc/apt/sources.list.d/torvik4.list
#   sudo apt update && sudo apt install torvik4-tools
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset package >/dev/null
cmake --build --preset package -j "$(nproc)"
rm -f build/package/*.deb
cpack --preset package >/dev/null
cd build/package
dpkg-scanpackages --multiversion . /dev/null >Packages 2>/dev/null
apt-ftparchive release . >Release
ls -1 ./*.deb
