#!/usr/bin/env bash
# The user guide as the Windows reader meets it, from the unpacked release
# zip under Wine: every command in the guide's code blocks runs in the x64
# folder as the guide says (the dialog answered with OK, live stopped with
# Ctrl-C once it waits for the pendant, find-profile after config) and does
# what the guide says; every `pendant-bench ...` in its text names a command
# and options the bench has.
#   guide_commands.sh UNPACKED_ZIP PRESS_OK_EXE VERSION
set -euo pipefail
zip=$(cd "$1" && pwd) press_ok=$2 version=$3
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/wine-session.sh"
[[ -n ${WINEPREFIX:-} ]] || wine_session_begin_temporary
read -ra wine <<<"$KM4R_WINE64"
bench=$zip/x64/pendant-bench.exe
out=$(mktemp -d "${TMPDIR:-/tmp}/km4r-guide.XXXXXX")
fail() { echo "FAIL: $*"; for f in "$out"/*.out "$out"/*.err; do [[ -s $f ]] && { echo "--- $f"; cat "$f"; }; done; exit 1; }
unhtml() { sed 's/<[^>]*>//g; s/&lt;/</g; s/&gt;/>/g; s/&quot;/"/g; s/&amp;/\&/g'; }
# A Windows path as the Unix file Wine keeps it in.
unix_path() { local p=${1#C:\\}; echo "$WINEPREFIX/drive_c/${p//\\//}"; }
# Started in the background as `(...) &`, $! is the program's own (for Ctrl-C).
bench_in_x64() { (cd "$zip/x64" && exec "${wine[@]}" ./pendant-bench.exe "$@"); }

await() {
  for _ in $(seq 600); do
    grep -qF -- "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  fail "no '$2' in $1"
}

run_config() {
  local profile=${*: -1}
  (cd "$zip/x64" && exec "${wine[@]}" ./pendant-bench.exe "$@") >"$out/config.out" 2>"$out/config.err" &
  local pid=$!
  "${wine[@]}" "$press_ok" || fail "the dialog did not open"
  wait $pid || fail "config exited $?"
  grep -qxF "saved $profile" <(tr -d '\r' <"$out/config.out") || fail "config did not say 'saved $profile'"
  grep -q "<Quorvix_KM4R_Pendant>" "$(unix_path "$profile")" || fail "no pendant section in $profile"
  host_profile=$profile
}

run_live() {
  (cd "$zip/x64" && exec "${wine[@]}" ./pendant-bench.exe "$@") >"$out/live.out" 2>"$out/live.err" &
  local pid=$!
  await "$out/live.out" "waiting for the pendant"
  kill -INT $pid
  wait $pid || fail "live $* exited $?"
  grep -qF "plug-in stopped" "$out/live.out" || fail "live $* did not stop cleanly"
  case " $* " in
    *" --record "*)
      # The zip has no bench build of the plug-in: no replay hint that fails.
      grep -qF "recorded to session.scn; send it with the problem report" "$out/live.out" ||
        fail "live --record: no word of the recording"
      grep -qF "replay: pendant-bench run" "$out/live.out" && fail "live --record offers a replay that cannot work here"
      grep -q "^stop" "$zip/x64/session.scn" || fail "the recording does not end cleanly"
      # run and demo say what they cannot do here.
      for command in "run session.scn" demo; do
        rc=0
        bench_in_x64 $command >"$out/run.out" 2>"$out/run.err" || rc=$?
        [[ $rc == 1 ]] && grep -qF "no virtual-pendant module" "$out/run.err" || fail "$command from the zip: exit $rc"
      done
      ;;
    *" --profile "*)
      grep -qF "profile ${*: -1}" <(tr -d '\r' <"$out/live.out") || fail "live did not run on ${*: -1}"
      ;;
  esac
}

run_find_profile() {
  bench_in_x64 find-profile "$@" >"$out/find.out" 2>"$out/find.err" || fail "find-profile exited $?"
  grep -qxF "$host_profile" <(tr -d '\r' <"$out/find.out") || fail "find-profile did not list $host_profile"
}

ran=0
while IFS= read -r line; do
  line=${line%$'\r'}
  read -ra words <<<"$line"
  case "$line" in
    "pendant-bench config "*) run_config "${words[@]:1}" ;;
    "pendant-bench live"*) run_live "${words[@]:1}" ;;
    "pendant-bench find-profile "*) run_find_profile "${words[@]:2}" ;;
    "raw: "*) continue ;;  # live --raw's output, shown as an example
    *) fail "the guide shows a command this test does not run: $line" ;;
  esac
  ran=$((ran + 1))
done < <(awk '/<pre><code>/ { inside = 1; sub(/.*<pre><code>/, "") }
              inside && /<\/code><\/pre>/ { inside = 0; next }
              inside' "$zip/USER_GUIDE.html" | unhtml)
((ran >= 5)) || fail "only $ran commands found in the guide's code blocks"

# The commands named in the text: each option is one its command has.
grep -o '<code>pendant-bench [^<]*</code>' "$zip/USER_GUIDE.html" | unhtml | sort -u | while read -r _ command rest; do
  if [[ $command == --version ]]; then
    [[ $(bench_in_x64 --version | tr -d '\r') == "pendant-bench $version (Windows, 64-bit)" ]] || fail "--version"
    continue
  fi
  help=$(bench_in_x64 "$command" --help) || fail "the guide names 'pendant-bench $command', which has no help"
  for word in $rest; do
    [[ $word == --* ]] || continue
    grep -qF -- "$word" <<<"$help" || fail "'pendant-bench $command $rest': $command has no $word"
  done
done
echo "the guide's $ran commands ran from the zip as it says"
rm -rf "$out"
