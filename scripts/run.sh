#!/usr/bin/env bash
# The main job: build gps-monitor and run it on the bundled sample drive (replayed inside its
# loop at ten times real time), recording the track to out/sample_drive.kml.
# Extra arguments go to gps-monitor (try --help).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release --target gps-monitor
mkdir -p out
build/release/apps/gps-monitor --record out/sample_drive.kml --description "Sample drive" "$@"
echo "track recorded to out/sample_drive.kml"
