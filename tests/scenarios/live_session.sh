# The session both live tests play (tests/scenarios/live_record.sh on Linux,
# tests/bench/live_record_win32.sh on Windows) and the checks of what live
# printed and recorded; sourced. The caller defines fail, plug and unplug
# (each returning once live can have seen it) and report B0 .. B7, and sets
# d (live.out and rec.scn in it), module, and run (the command that runs the
# bench, an array).

# Absent, then plugged, unplugged and plugged again.
play_live_session() {
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
}

# The lines live must have printed and recorded, then the replay's host
# actions against live's. $1: where live said the pendant was.
check_live_session() {
  grep -q $'\x1b' "$d/live.out" && fail "terminal escapes in redirected output"
  for want in "waiting for the pendant" "pendant connected at $1" "pendant disconnected" \
    "raw: axis sel  1  step sel   4  mode 2  wheel   5  speed  20" "(mode change, axis X)" \
    "(E-stop)" "(step size)" "plug-in stopped" "recorded to $d/rec.scn"; do
    grep -qF -- "$want" "$d/live.out" || fail "live output lacks '$want'"
  done
  for want in "pendant absent" "start" "plug" "unplug" "report 00 03 08 81 01 00 00 00" "tick " "stop"; do
    grep -q -- "^$want" "$d/rec.scn" || fail "recording lacks '$want'"
  done

  local actions='^(DoButton|SetDRO|Code) '
  sed 's/^\[[^]]*\] //' "$d/live.out" | grep -E "$actions" |
    sed -E 's/^((DoButton|SetDRO) .*) \([^)]*\)$/\1/' >"$d/live.actions" || true
  "${run[@]}" run --plugin "$module" "$d/rec.scn" >"$d/replay.out" || fail "replay exited $?"
  grep -E "$actions" "$d/replay.out" >"$d/replay.actions" || true
  grep -q 'Code "G91G1' "$d/live.actions" || fail "live made no move"
  diff -u "$d/live.actions" "$d/replay.actions" || fail "the replay's host actions differ from live's"
  echo "live and replay: $(wc -l <"$d/live.actions") host actions alike"
}
