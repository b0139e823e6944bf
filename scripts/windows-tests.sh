#!/usr/bin/env bash
# Cross-builds KM4R.dll for x86_64 and i686 with mingw-w64, checks the export
# and import tables of every module, and runs the x86_64 test suite under Wine
# on a virtual X display, in a Wine prefix of its own that is removed after.
#
# Expects these Debian 12 packages (scripts/install-deps.sh all installs them):
#   cmake ninja-build g++ googletest g++-mingw-w64-x86-64 g++-mingw-w64-i686
#   mingw-w64-tools wine wine64 xvfb xauth
set -euo pipefail
cd "$(dirname "$0")/.."

# Build directories (relative to the repository, or absolute).
win64_build=${KM4R_WIN64_BUILD:-build-win64}
win32_build=${KM4R_WIN32_BUILD:-build-win32}

. scripts/wine-session.sh
work=$(mktemp -d "${TMPDIR:-/tmp}/km4r-wine.XXXXXX")
cleanup() {
  wine_session_end
  rm -rf "$work"
}
trap cleanup EXIT

step() { printf '\n---- %s\n' "$*"; }

step "virtual display and Wine prefix"
wine_session_begin "$work"

step "x86_64 build"
cmake -S . -B "$win64_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-x86_64.cmake \
  -DCMAKE_CROSSCOMPILING_EMULATOR=wine >/dev/null
cmake --build "$win64_build" -j2

step "i686 build (the modules)"
cmake -S . -B "$win32_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-i686.cmake -DKM4R_BUILD_TESTS=OFF >/dev/null
cmake --build "$win32_build" -j2 --target km4r_plugin km4r_plugin_virtual

step "i686 export and import tables"
cmake -DOBJDUMP=i686-w64-mingw32-objdump -DMODULE="$win32_build"/plugin/KM4R.dll \
  -P tests/win32/check_pe.cmake
cmake -DOBJDUMP=i686-w64-mingw32-objdump -DMODULE="$win32_build"/bench/virtual/KM4R.dll \
  -DEXTRA=KM4R_VirtualBus -P tests/win32/check_pe.cmake

step "x86_64 tests under Wine (tables, module, platform layer, core suites)"
# One at a time: some tests count timer messages in real time.
ctest --test-dir "$win64_build" --output-on-failure -j1 --timeout 300
