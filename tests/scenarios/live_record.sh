#!/usr/bin/env bash
# live with a pendant that is not there at first, then plugged, unplugged and
# plugged again, as a device directory and a FIFO standing in for sysfs and
# the hidraw node; the bench build of the module gets what the bench reads.
# Checks the waiting, connect, disconnect and raw lines, then replays the
# recording with `run` and compares its host actions with live's. Then: a
# session ended by a closed terminal ends cleanly, one killed keeps every
# event, and a pendant the bench cannot read is not said to be connected or
# to show anything.
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
run=("$bench")
. "$(dirname "$0")/live_session.sh"
play_live_session
kill -INT $pid
wait $pid || fail "live exited $?"
trap - EXIT
check_live_session "$d/dev/hidraw0"

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
# A damaged profile, too, given as a host's is: live says so and leaves it alone.
mkdir -p "$d/cfg2"
printf '<profile><unclosed>' >"$d/cfg2/host.xml"
"$bench" live --plugin "$module" --sysfs "$d/sys2" --dev "$d/dev2" --profile "$d/cfg2/host.xml" \
  >"$d/live.out" 2>"$d/live.err" &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
sleep 0.5
kill -TERM $pid
wait $pid || fail "SIGTERM: exit $?"
trap - EXIT
grep -qF "cannot read the pendant's input at $d/dev2/hidraw0" "$d/live.out" || fail "no read error"
grep -qF "the display shows on the pendant" "$d/live.out" && fail "claims the display after a read error"
grep -qF "pendant connected" "$d/live.out" && fail "claims a connection it cannot read"
grep -qF "the settings cannot be read: The profile $d/cfg2/host.xml is not well-formed XML" \
  "$d/live.out" || fail "no word of the damaged profile"
[[ $(cat "$d/cfg2/host.xml") == "<profile><unclosed>" ]] || fail "the damaged profile was changed"
echo "an unreadable pendant and a damaged profile are reported"
