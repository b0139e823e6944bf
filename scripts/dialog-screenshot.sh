#!/usr/bin/env bash
# Shows the module's configuration dialog under Wine on a virtual X display
# and saves a picture of the screen.
#
#   scripts/dialog-screenshot.sh [OUTPUT.png]     (default build/dialog.png)
#
# Builds the x86_64 module (the win64 preset, build/win64) first.
# Needs what scripts/windows-tests.sh needs, plus imagemagick.
set -euo pipefail
cd "$(dirname "$0")/.."

out=${1:-build/dialog.png}
mkdir -p "$(dirname "$out")"
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")

. scripts/wine-session.sh
cmake --preset win64 >/dev/null
cmake --build --preset win64 -j2 --target km4r_show_dialog km4r_plugin

work=$(mktemp -d "${TMPDIR:-/tmp}/km4r-dialog.XXXXXX")
shower=""
cleanup() {
  if [[ -n $shower ]]; then wait "$shower" 2>/dev/null || true; fi
  wine_session_end
  rm -rf "$work"
}
trap cleanup EXIT
wine_session_begin "$work" x86_64
# No window manager on the virtual display: Wine draws the frames itself, so
# the caption shows too.
$KM4R_WINE64 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
wineserver -w

# Held long enough for the picture; it closes itself.
$KM4R_WINE64 build/win64/bench/tools/km4r_show_dialog.exe 8000 >"$work/show.log" 2>&1 &
shower=$!
for _ in $(seq 300); do
  grep -q shown "$work/show.log" && break
  kill -0 "$shower" 2>/dev/null || break
  sleep 0.1
done
grep -q shown "$work/show.log" || { cat "$work/show.log" >&2; exit 1; }
sleep 1  # let it paint
import -window root "$out"
echo "dialog picture: $out"
