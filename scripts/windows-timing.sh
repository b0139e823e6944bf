#!/usr/bin/env bash
# Real-time figures of KM4R.dll under Wine, x86_64 and i686: the cycle timer's
# period over 400 cycles and the time from a report to its host action
# (tests/win32/cycle_timing.cpp). Uses the builds scripts/windows-tests.sh
# makes (KM4R_WIN64_BUILD, KM4R_WIN32_BUILD choose them).
set -euo pipefail
cd "$(dirname "$0")/.."
win64_build=${KM4R_WIN64_BUILD:-build-win64}
win32_build=${KM4R_WIN32_BUILD:-build-win32}

. scripts/wine-session.sh
wine_session_begin_temporary

for arch in x86_64 i686; do
  if [[ $arch == x86_64 ]]; then build=$win64_build; else build=$win32_build; fi
  cmake --build "$build" -j2 --target km4r_cycle_timing >/dev/null
  if [[ $arch == i686 && $KM4R_WINE32 != 1 ]]; then
    echo "!!!!!!!! i686 NOT MEASURED: $KM4R_WINE32_WHY !!!!!!!!"
    continue
  fi
  echo "$arch:"
  "$KM4R_WINE" "$build/tests/win32/km4r_cycle_timing.exe"
done
