#!/usr/bin/env bash
# live with a pendant that is not there at first, then plugged, unplugged and
# plugged again, as a device directory and a FIFO standing in for sysfs and
# the hidraw node; the bench build of the module gets what the bench reads.
# Checks the waiting, connect, disconnect and raw lines, then replays the
# recording with `run` and compares its host actions with live's. Then: a
# session ended by a closed terminal ends cleanly, one killed keeps every
# event, and a pendant the bench cannot read is not said to show anything.
#   live_record.sh BENCH MODULE WORKDIR
set -euo pipefail
bench=$1 module=$2 d=$3
rm -rf "$d"
mkdir -p "$d/sys" "$d/dev" "$d/cfg"
fail() { echo "FAIL: $*"; echo "--- live output"; cat -v "$d/live.out"; echo "--- stderr"; cat "$d/live.err"; exit 1; }

XDG_CONFIG_HOME=$d/cfg "$bench" live --plugin "$module" --sysfs "$d/sys" --dev "$d/dev" --raw \
  --record "$d/rec.scn" >"$d/live.out" 2>"$d/live.err" &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT

plug() {
  mkdir -p "$d/sys/hidraw0/device"
  echo "HID_ID=0003:000004D8:0000FCE7" >"$d/sys/hidraw0/device/uevent"
  sleep 0.4
}
unplug() { rm -rf "$d/sys/hidraw0"; sleep 0.4; }
# One input report: eight hex bytes.
report() {
  local s=""
  for b in "$@"; do s+="\\x$b"; done
  printf "$s" >&3
  sleep 0.1
}

mkfifo "$d/dev/hidraw0"
exec 3<>"$d/dev/hidraw0"
sleep 0.4
plug
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
unplug
plug
report 00 07 00 84 01 00 00 00   # feed override
report 00 11 08 84 01 00 00 00
report 00 11 00 a1 01 00 00 00   # E-stop
report 00 11 00 81 01 00 00 00
sleep 0.3
kill -INT $pid
wait $pid || fail "live exited $?"
trap - EXIT

grep -q $'\x1b' "$d/live.out" && fail "terminal escapes in redirected output"
for want in "waiting for the pendant" "pendant connected at $d/dev/hidraw0" "pendant disconnected" \
  "raw: axis sel  1  step sel   4  mode 2  wheel   5  speed  20" "(mode change, axis X)" \
  "(E-stop)" "(step size)" "recorded to $d/rec.scn"; do
  grep -qF -- "$want" "$d/live.out" || fail "live output lacks '$want'"
done
for want in "pendant absent" "start" "plug" "unplug" "report 00 03 08 81 01 00 00 00" "tick " "stop"; do
  grep -q -- "^$want" "$d/rec.scn" || fail "recording lacks '$want'"
done

actions='^(DoButton|SetDRO|Code) '
sed 's/^\[[^]]*\] //' "$d/live.out" | grep -E "$actions" | sed -E 's/^((DoButton|SetDRO) .*) \([^)]*\)$/\1/' \
  >"$d/live.actions" || true
"$bench" run --plugin "$module" "$d/rec.scn" >"$d/replay.out" || fail "replay exited $?"
grep -E "$actions" "$d/replay.out" >"$d/replay.actions" || true
grep -q 'Code "G91G1' "$d/live.actions" || fail "live made no move"
diff -u "$d/live.actions" "$d/replay.actions" || fail "the replay's host actions differ from live's"
echo "live and replay: $(wc -l <"$d/live.actions") host actions alike"

for how in HUP KILL; do
  rec=$d/rec-$how.scn
  XDG_CONFIG_HOME=$d/cfg "$bench" live --plugin "$module" --sysfs "$d/sys" --dev "$d/dev" \
    --record "$rec" >"$d/live.out" 2>"$d/live.err" &
  pid=$!
  trap 'kill $pid 2>/dev/null || true' EXIT
  sleep 0.4
  report 00 03 08 81 01 00 00 00
  sleep 0.3
  kill -$how $pid
  rc=0
  wait $pid || rc=$?
  trap - EXIT
  grep -q "^report 00 03 08 81 01 00 00 00" "$rec" || fail "$how: the recording lacks the report"
  if [[ $how == HUP ]]; then
    [[ $rc == 0 ]] || fail "SIGHUP: exit $rc"
    grep -q "^stop" "$rec" || fail "SIGHUP: the recording does not end with stop"
    grep -qF "recorded to $rec" "$d/live.out" || fail "SIGHUP: no closing line"
  fi
done
echo "SIGHUP ends a recording cleanly; SIGKILL leaves every event"

mkdir -p "$d/sys2/hidraw0/device" "$d/dev2"
echo "HID_ID=0003:000004D8:0000FCE7" >"$d/sys2/hidraw0/device/uevent"
# A damaged profile, too: live says so and leaves it alone.
mkdir -p "$d/cfg2/km4r-pendant"
printf '<profile><unclosed>' >"$d/cfg2/km4r-pendant/profile.xml"
XDG_CONFIG_HOME=$d/cfg2 "$bench" live --plugin "$module" --sysfs "$d/sys2" --dev "$d/dev2" \
  >"$d/live.out" 2>"$d/live.err" &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
sleep 0.5
kill -TERM $pid
wait $pid || fail "SIGTERM: exit $?"
trap - EXIT
grep -qF "cannot read the pendant's input at $d/dev2/hidraw0" "$d/live.out" || fail "no read error"
grep -qF "the display shows on the pendant" "$d/live.out" && fail "claims the display after a read error"
grep -qF "the settings cannot be read: profile $d/cfg2/km4r-pendant/profile.xml is not well-formed XML" \
  "$d/live.out" || fail "no word of the damaged profile"
[[ $(cat "$d/cfg2/km4r-pendant/profile.xml") == "<profile><unclosed>" ]] || fail "the damaged profile was changed"
echo "an unreadable pendant and a damaged profile are reported"
