#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks: for building and running quorvane-gps, and with
# --tests also for its tests (GoogleTest, Google Benchmark, the fuzzers' clang, and the real
# readers and daemons the tests use). Only packages that are missing are installed, so a
# prepared machine is left as it is; apt says one line per step.
set -euo pipefail

packages=(cmake make g++ pkg-config libasio-dev libcli11-dev libmosquitto-dev libnats-dev nlohmann-json3-dev
          libwebsocketpp-dev libjs-leaflet libsystemd-dev)
if [[ ${1:-} == --tests ]]; then
  packages+=(python3 libgtest-dev libgmock-dev libbenchmark-dev clang-14 libclang-rt-14-dev
             gpsbabel libxml2-utils gdal-bin lintian dpkg-dev gpsd gpsd-clients python3-gps
             mosquitto mosquitto-clients openssl chrony tmux chromium python3-websocket
             nats-server locales systemd valgrind)
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
  # The daemons are started by the tests on their own ports, never as the machine's services:
  # chrony's would discipline this machine's clock.
  no_services=/usr/sbin/policy-rc.d
  made_policy=false
  if [[ ! -e $no_services ]]; then
    printf '#!/bin/sh\nexit 101\n' >"$no_services"
    chmod 755 "$no_services"
    made_policy=true
  fi
  apt-get install -y -qq "${missing[@]}" >/dev/null
  if $made_policy; then rm -f "$no_services"; fi
fi
# A locale that writes numbers with a decimal comma, for the tests that must not be fooled by one.
if [[ ${1:-} == --tests ]] && ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  echo "locale-gen de_DE.UTF-8"
  grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null || echo 'de_DE.UTF-8 UTF-8' >>/etc/locale.gen
  locale-gen >/dev/null
fi
