#!/usr/bin/env bash
# Installs what the build, the tests and the demo need, when it is missing.
# Debian packages only; run as root on a fresh machine.
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config python3
          libgtest-dev libbenchmark-dev libtiff-dev zlib1g-dev libpng-dev libzstd-dev libdeflate-dev libxxhash-dev
          libcli11-dev nlohmann-json3-dev
          libcpp-httplib-dev libssl-dev libbrotli-dev
          g++-mingw-w64-x86-64 g++-mingw-w64-i686)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
