#!/usr/bin/env bash
# Real-time figures of KM4R.dll under Wine, x86_64 and i686: the cycle timer's
# period over 400 cycles and the time from a report to its host action
# (bench/tools/cycle_timing.cpp), from the win64 and win32 preset builds.
# Real time means nothing under emulation: i686 is measured only where this
# kernel runs 32-bit programs.
set -euo pipefail
cd "$(dirname "$0")/.."

. scripts/wine-session.sh
# An emulated i686 is not measured, so its prefix needs no 32-bit side.
if [[ $KM4R_WINE32_HOW == native ]]; then
  wine_session_begin_temporary
else
  wine_session_begin_temporary x86_64
fi

for preset in win64 win32; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j2 --target km4r_cycle_timing >/dev/null
done
echo "x86_64:"
$KM4R_WINE64 build/win64/bench/tools/km4r_cycle_timing.exe
if [[ $KM4R_WINE32_HOW == native ]]; then
  echo "i686:"
  $KM4R_WINE32 build/win32/bench/tools/km4r_cycle_timing.exe
else
  echo "i686: not measured (32-bit programs here: $KM4R_WINE32_HOW)"
fi
