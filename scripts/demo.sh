#!/usr/bin/env bash
# Builds the plug-in and the bench, then runs the bench demo on the virtual pendant.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh demo
cmake --preset release >/dev/null
cmake --build --preset release -j2
exec build/release/bench/pendant-bench demo "$@"
