#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the benchmarks need.
# Quick when everything is there already: dpkg is asked first, apt-get runs only for what is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  clang libclang-rt-14-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libboost-dev liblog4cpp5-dev libcli11-dev nlohmann-json3-dev
  libudev-dev libpugixml-dev libcurl4-openssl-dev
  libwxgtk3.2-dev xvfb xauth fonts-dejavu-core groff
  python3 openssl
  help2man dpkg-dev apt-utils fakeroot lintian debootstrap file desktop-file-utils
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "bootstrap: installing ${missing[*]}"
  sudo_cmd=()
  if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
