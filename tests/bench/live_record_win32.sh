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
send plug
await "$d/live.out" "pendant connected at"
report 00 00 00 81 01 00 00 00   # mode 2, axis X, step jog
report 00 03 08 81 01 00 00 00   # three detents
report 00 08 08 81 01 00 00 00   # five more
report 00 08 00 81 01 00 00 00
report 00 08 00 82 01 00 00 00   # axis Y
report 00 04 06 82 01 00 00 00   # four back
report 00 04 00 81 04 00 00 00   # step-size selection
report 00 05 14 81 04 00 00 00
report 00 05 00 81 04 00 00 00
report 00 05 00 81 01 00 00 00
report 00 07 08 81 01 00 00 00   # two detents with the new size
send unplug
await "$d/live.out" "pendant disconnected"
send plug
await "$d/live.out" "pendant connected at" 2
report 00 07 00 84 01 00 00 00   # feed override
report 00 11 08 84 01 00 00 00
report 00 11 00 a1 01 00 00 00   # E-stop
report 00 11 00 81 01 00 00 00
sleep 0.3
touch "$d/devices/stop"
wait $pid || fail "live exited $?"
rm "$d/devices/stop"

grep -q $'\x1b' "$d/live.out" && fail "terminal escapes in redirected output"
for want in "waiting for the pendant" 'pendant connected at \\.\pipe\km4r-live-' "pendant disconnected" \
  "raw: axis sel  1  step sel   4  mode 2  wheel   5  speed  20" "(mode change, axis X)" \
  "(E-stop)" "(step size)" "plug-in stopped" "recorded to $d/rec.scn"; do
  grep -qF -- "$want" "$d/live.out" || fail "live output lacks '$want'"
done
for want in "pendant absent" "start" "plug" "unplug" "report 00 03 08 81 01 00 00 00" "tick " "stop"; do
  grep -q -- "^$want" "$d/rec.scn" || fail "recording lacks '$want'"
done

actions='^(DoButton|SetDRO|Code) '
sed 's/^\[[^]]*\] //' "$d/live.out" | grep -E "$actions" | sed -E 's/^((DoButton|SetDRO) .*) \([^)]*\)$/\1/' \
  >"$d/live.actions" || true
"$emu" "$bench" run --plugin "$module" "$d/rec.scn" >"$d/replay.out" || fail "replay exited $?"
grep -E "$actions" "$d/replay.out" >"$d/replay.actions" || true
grep -q 'Code "G91G1' "$d/live.actions" || fail "live made no move"
diff -u "$d/live.actions" "$d/replay.actions" || fail "the replay's host actions differ from live's"
echo "live and replay: $(wc -l <"$d/live.actions") host actions alike"

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
