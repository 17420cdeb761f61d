#!/usr/bin/env bash
# The main job: build the release configuration and run the example host against a fake
# receiver on a pseudo-terminal.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release --target fake_receiver
exec build/release/examples/fake_receiver "$@"
