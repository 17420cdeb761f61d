#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks: for building and running quorvane-gps, and with
# --tests also for its tests (GoogleTest, Google Benchmark, the fuzzers' clang, and the real
# readers and daemons the tests use). Only packages that are missing are installed, so a
# prepared machine is left as it is; apt says one line per step.
set -euo pipefail

packages=(cmake make g++ pkg-config libasio-dev libcli11-dev libmosquitto-dev)
if [[ ${1:-} == --tests ]]; then
  packages+=(python3 libgtest-dev libgmock-dev libbenchmark-dev clang-14 libclang-rt-14-dev
             gpsbabel libxml2-utils gdal-bin lintian dpkg-dev gpsd mosquitto mosquitto-clients
             openssl nlohmann-json3-dev)
fi
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  echo "apt-get update"
  apt-get update -qq >/dev/null
  echo "apt-get install (${#missing[@]} packages and what they need)"
  apt-get install -y -qq "${missing[@]}" >/dev/null
fi
