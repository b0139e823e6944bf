#!/usr/bin/env bash
# live on Windows, end to end under the emulator: pendant-bench.exe with
# --test-devices, and live_pendant_win32.exe standing in for the pendant (a
# named pipe and the device file naming it). The pendant is absent at first,
# then plugged, unplugged and plugged again; checks the waiting, connect,
# disconnect and raw lines, replays the recording with `run` and compares
# its host actions with live's; then that an existing recording is refused
# and that a killed session keeps every event.
#   live_record_win32.sh EMULATOR BENCH MODULE PENDANT WORKDIR
set -euo pipefail
emu=$1 bench=$2 module=$3 pendant=$4 d=$5
rm -rf "$d"
mkdir -p "$d/devices"
fail() { echo "FAIL: $*"; echo "--- live output"; cat -v "$d/live.out"; echo "--- stderr"; cat "$d/live.err"; exit 1; }
pids=()
trap 'for p in "${pids[@]}"; do kill -9 $p 2>/dev/null || true; done' EXIT

# Waits until the file holds the text N times (default once); a program
# under emulation takes seconds to start.
await() {
  local file=$1 want=$2 n=${3:-1}
  for _ in $(seq 1200); do
    (($(grep -cF -- "$want" "$file" 2>/dev/null || true) >= n)) && return 0
    sleep 0.1
  done
  fail "no '$want' in $file"
}
live() { "$emu" "$bench" live --plugin "$module" --test-devices "$d/devices" "$@"; }
# The same in the background, pid the program's own (for its signals).
start_live() {
  "$emu" "$bench" live --plugin "$module" --test-devices "$d/devices" "$@" >"$d/live.out" 2>"$d/live.err" &
  pid=$!
  pids+=($pid)
}

mkfifo "$d/pendant.in"
"$emu" "$pendant" "$d/devices" <"$d/pendant.in" 2>"$d/pendant.err" &
pids+=($!)
exec 3>"$d/pendant.in"
send() { echo "$*" >&3; }
report() { send report "$@"; sleep 0.1; }

start_live --raw --record "$d/rec.scn"
await "$d/live.out" "waiting for the pendant"
plugs=0
plug() {
  send plug
  plugs=$((plugs + 1))
  await "$d/live.out" "pendant connected at" $plugs
}
unplug() {
  send unplug
  await "$d/live.out" "pendant disconnected" $plugs
}
run=("$emu" "$bench")
. "$(dirname "$0")/../scenarios/live_session.sh"
play_live_session
# Ctrl-C: Wine hands SIGINT to the console control handler. A 32-bit Wine
# under qemu-i386 does not survive the signal, so there the test layer's
# stop file ends the session instead, as Ctrl-Break would.
if [[ $emu == *i686* ]]; then touch "$d/devices/stop"; else kill -INT $pid; fi
wait $pid || fail "live exited $?"
rm -f "$d/devices/stop"
check_live_session '\\.\pipe\km4r-live-'

cp "$d/rec.scn" "$d/kept.scn"
rc=0
live --record "$d/rec.scn" >"$d/live.out" 2>"$d/live.err" || rc=$?
[[ $rc == 1 ]] || fail "an existing recording: exit $rc"
grep -qF "exists; choose another file, or give --force to replace it" "$d/live.err" || fail "no refusal"
cmp -s "$d/rec.scn" "$d/kept.scn" || fail "a refused recording changed the file"

# The session killed right after it showed a report, which it records
# before it shows it.
send unplug
start_live --raw --record "$d/killed.scn"
await "$d/live.out" "waiting for the pendant"
send plug
await "$d/live.out" "pendant connected at"
report 00 03 08 81 01 00 00 00
await "$d/live.out" "raw: axis sel  1"
kill -9 $pid
wait $pid 2>/dev/null || true
grep -q "^report 00 03 08 81 01 00 00 00" "$d/killed.scn" || fail "the killed session's recording lacks the report"
echo "a stopped recording ends cleanly; a killed one keeps every event"
