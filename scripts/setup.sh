#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks for building, testing and running quorvane-gps.
# Only packages that are missing are installed, so a prepared machine is left as it is.
set -euo pipefail

packages=(cmake make g++ pkg-config python3 libasio-dev libcli11-dev libgtest-dev libgmock-dev
          libbenchmark-dev clang-14 libclang-rt-14-dev gpsbabel libxml2-utils)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}"
fi
