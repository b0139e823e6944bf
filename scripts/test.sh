#!/usr/bin/env bash
# Builds and runs every test: the Linux suite, the same suite under the
# address and undefined-behaviour sanitizers, bounded fuzz runs, and both
# Windows builds (x86_64 and i686) with their whole suites under Wine, and the
# LinuxCNC component against a running LinuxCNC (scripts/linuxcnc-test.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh all

step() { printf '\n==== %s\n' "$*"; }

step "Linux build and tests"
cmake --preset dev >/dev/null
cmake --build --preset dev -j2
ctest --preset dev

step "LinuxCNC: km4r-pendant against a running LinuxCNC"
if command -v linuxcnc >/dev/null; then scripts/linuxcnc-test.sh build/dev; else echo "not run: LinuxCNC is not installed"; fi

step "Sanitizers (address, undefined behaviour)"
cmake --preset asan >/dev/null
cmake --build --preset asan -j2
ctest --preset asan

if [[ -x scripts/fuzz.sh ]]; then
  step "Fuzzing (bounded)"
  scripts/fuzz.sh
fi

if [[ -x scripts/windows-tests.sh ]]; then
  step "Windows builds under Wine (x86_64, i686)"
  scripts/windows-tests.sh
fi
step "Windows release package (the DLLs just tested)"
scripts/package.sh
step "all tests passed"
