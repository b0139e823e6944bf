#!/usr/bin/env bash
# Builds the Google Benchmark targets (Release) and runs them: one report
# cycle in each jog mode with host calls and allocations per cycle, the
# display's host reads, a profile store lifetime on a 1 MB profile against
# pugixml's own round trip, and the store's peak memory on 50 MB.
# Not part of scripts/test.sh; the figures go into docs/PERFORMANCE.md.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/perf
cmake --preset bench-perf >/dev/null
cmake --build --preset bench-perf -j2 --target km4r_cycle_bench km4r_profile_store_bench
echo "date: $(date -u)"
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')"
"$build/bench/tools/km4r_cycle_bench" "$@"
"$build/bench/tools/km4r_profile_store_bench" "$@"
