#!/usr/bin/env bash
# The pendant against a running LinuxCNC, headless (about a minute): builds
# km4r-pendant, copies the sim configuration (hal/sim) into a fresh directory
# with the virtual pendant's scenarios, and runs `linuxcnc` on it with
# tests/linuxcnc/pendant_check.py as its DISPLAY. LinuxCNC's realtime part
# refuses root: as root the run is made as the user km4r-test (created when
# missing). Prints the checks and the measured figures; fails on any FAIL.
#   scripts/linuxcnc-test.sh [BUILD_DIR]     (default build/dev)
#   scripts/linuxcnc-test.sh --installed     the installed package: its sim
#                                            configuration as shipped, demo.scn
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/dev}
if ! command -v linuxcnc >/dev/null || [[ ! -f /usr/include/linuxcnc/hal.h ]]; then
  echo "linuxcnc-test.sh: LinuxCNC (linuxcnc-uspace, linuxcnc-uspace-dev) is not installed" >&2
  exit 1
fi
[[ $build == --installed ]] || cmake --build "$build" -j2 --target km4r-pendant

run=$(mktemp -d /tmp/km4r-linuxcnc.XXXXXX)
user=$(id -un)
if [[ $(id -u) -eq 0 ]]; then
  user=km4r-test
  id "$user" >/dev/null 2>&1 || useradd --system --create-home --shell /bin/sh "$user"
fi
mkdir -p "$run/bin/virtual"
cp tests/linuxcnc/pendant_check.py "$run/"
if [[ $build == --installed ]]; then
  cp /usr/share/doc/km4r-pendant/examples/sim/* "$run/"
  sed -i "s|^DISPLAY = .*|DISPLAY = $run/pendant_check.py --demo|" "$run/km4r-sim.ini"
else
  cp "$build/hal/km4r-pendant" "$build/hal/KM4R.so" "$run/bin/"
  cp "$build/hal/virtual/KM4R.so" "$run/bin/virtual/"
  cp hal/sim/* hal/examples/km4r-pendant-wiring.hal hal/km4r-pendant.1 "$run/"
  scenarios=$(/usr/bin/python3 "$run/pendant_check.py" --write-scenarios "$run" | sed 's/^/--virtual /' | tr '\n' ' ')
  # The check plays each scenario itself: no start on homing, and it is the
  # display. The settings come from the INI file (two decimals on the display).
  sed -i -e "s|--virtual \[KM4R\]SCENARIO|--log display.log $scenarios|" -e '/km4r-play/d' \
    -e 's|--profile km4r-pendant.xml|--ini-settings|' "$run/km4r-sim.hal"
  sed -i -e "s|^DISPLAY = .*|DISPLAY = $run/pendant_check.py|" -e 's|^\[KM4R\]$|&\nDecidigit = 0|' \
    "$run/km4r-sim.ini"
fi
chmod -R a+rX "$run"
[[ $user == "$(id -un)" ]] || chown -R "$user" "$run"

start=$(date +%s)
cmd="cd '$run' && PATH='$run/bin':\$PATH linuxcnc '$run/km4r-sim.ini' >'$run/linuxcnc.log' 2>&1"
if [[ $user == "$(id -un)" ]]; then
  timeout -k 10 240 bash -c "$cmd" || true
else
  timeout -k 10 240 su "$user" -s /bin/sh -c "$cmd" || true
fi
echo "linuxcnc ran $(( $(date +%s) - start )) s"
if [[ ! -f $run/results.txt ]]; then
  echo "linuxcnc-test.sh: no results; LinuxCNC's output:" >&2
  tail -40 "$run/linuxcnc.log" >&2
  exit 1
fi
cat "$run/results.txt"
if [[ $(tail -1 "$run/results.txt") != "ALL PASSED" ]]; then
  echo "linuxcnc-test.sh: failed; the run is kept in $run" >&2
  exit 1
fi
rm -rf "$run"
