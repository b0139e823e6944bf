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

work=$(mktemp -d "${TMPDIR:-/tmp}/km4r-wine.XXXXXX")
xvfb_pid=""
cleanup() {
  if [[ -n ${WINEPREFIX:-} ]]; then wineserver -k >/dev/null 2>&1 || true; fi
  if [[ -n $xvfb_pid ]]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

step() { printf '\n---- %s\n' "$*"; }

step "virtual display"
display=""
for n in $(seq 90 140); do
  if [[ ! -e /tmp/.X$n-lock && ! -e /tmp/.X11-unix/X$n ]]; then
    display=$n
    break
  fi
done
[[ -n $display ]] || { echo "no free X display number" >&2; exit 1; }
Xvfb ":$display" -nolisten tcp -screen 0 1024x768x24 >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [[ -e /tmp/.X11-unix/X$display ]] && break
  kill -0 "$xvfb_pid" 2>/dev/null || { cat "$work/xvfb.log" >&2; exit 1; }
  sleep 0.1
done
echo "Xvfb on :$display"

step "Wine prefix"
export DISPLAY=":$display" WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEARCH=win64
# No browser or .NET engines: nothing here needs them, and they cannot be fetched.
export WINEDLLOVERRIDES="mscoree,mshtml="
wineboot -i >/dev/null 2>&1
wineserver -w
echo "prefix ready"

step "x86_64 build"
cmake -S . -B build-win64 -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-x86_64.cmake \
  -DCMAKE_CROSSCOMPILING_EMULATOR=wine >/dev/null
cmake --build build-win64 -j2

step "i686 build (the modules)"
cmake -S . -B build-win32 -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-i686.cmake -DKM4R_BUILD_TESTS=OFF >/dev/null
cmake --build build-win32 -j2 --target km4r_plugin km4r_plugin_virtual

step "i686 export and import tables"
cmake -DOBJDUMP=i686-w64-mingw32-objdump -DMODULE=build-win32/plugin/KM4R.dll \
  -P tests/win32/check_pe.cmake
cmake -DOBJDUMP=i686-w64-mingw32-objdump -DMODULE=build-win32/bench/virtual/KM4R.dll \
  -DEXTRA=KM4R_VirtualBus -P tests/win32/check_pe.cmake

step "x86_64 tests under Wine (tables, module, platform layer, core suites)"
# One at a time: some tests count timer messages in real time.
ctest --test-dir build-win64 --output-on-failure -j1 --timeout 300
