#!/usr/bin/env bash
# live on Windows, end to end under the emulator: pendant-bench.exe with
# --test-devices, and live_pendant_win32.exe standing in for the pendant (a
# named pipe and the device file naming it). The pendant is absent at first,
# then plugged, unplugged and plugged again; checks the waiting, connect,
# disconnect and raw lines, replays the recording with `run` and compares
# its host actions with live's; then that an existing recording is refused
# and that a killed session keeps every event. Wine delivers no console
# control event to these programs, so the session is stopped through the
# test layer's stop file, which ends it as Ctrl-Break does.
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

mkfifo "$d/pendant.in"
"$emu" "$pendant" "$d/devices" <"$d/pendant.in" 2>"$d/pendant.err" &
pids+=($!)
exec 3>"$d/pendant.in"
send() { echo "$*" >&3; }
report() { send report "$@"; sleep 0.1; }

live --raw --record "$d/rec.scn" >"$d/live.out" 2>"$d/live.err" &
pid=$!
pids+=($pid)
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
touch "$d/devices/stop"
wait $pid || fail "live exited $?"
rm "$d/devices/stop"
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
live --raw --record "$d/killed.scn" >"$d/live.out" 2>"$d/live.err" &
pid=$!
pids+=($pid)
await "$d/live.out" "waiting for the pendant"
send plug
await "$d/live.out" "pendant connected at"
report 00 03 08 81 01 00 00 00
await "$d/live.out" "raw: axis sel  1"
kill -9 $pid
wait $pid 2>/dev/null || true
grep -q "^report 00 03 08 81 01 00 00 00" "$d/killed.scn" || fail "the killed session's recording lacks the report"
echo "a stopped recording ends cleanly; a killed one keeps every event"
