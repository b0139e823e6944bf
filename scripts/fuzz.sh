#!/usr/bin/env bash
# Bounded fuzz runs: builds the libFuzzer targets with clang (address and
# undefined-behaviour sanitizers) and runs each for a fixed time from its seed
# corpus. Any crash fails the run and leaves the input under build/fuzz/crashes;
# copy it to tests/fuzz/regressions/<target>/ once the fault is mended.
#   scripts/fuzz.sh [SECONDS_PER_TARGET]      default 60
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-${KM4R_FUZZ_SECONDS:-60}}"
build=build/fuzz
targets=(report_cycle profile scenario_parser)

for tool in clang clang++; do
  command -v "$tool" >/dev/null || { echo "fuzz.sh: $tool not found (scripts/install-deps.sh linux)"; exit 1; }
done

# The fuzz preset instruments the code under test for coverage; only the
# targets themselves link the fuzzer's main.
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
failed=0
for t in "${targets[@]}"; do
  work="$build/corpus/$t"
  crashes="$build/crashes/$t"
  mkdir -p "$work" "$crashes"
  seeds=(tests/fuzz/corpus/"$t")
  [[ -d tests/fuzz/regressions/$t ]] && seeds+=(tests/fuzz/regressions/"$t")
  [[ $t == scenario_parser ]] && seeds+=(tests/scenarios)
  printf '\n==== fuzz %s (%ss)\n' "$t" "$seconds"
  if ! "$build/tests/"*/"fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -max_len=8192 -print_final_stats=1 -artifact_prefix="$crashes/" "$work" "${seeds[@]}" \
      2>"$build/fuzz_$t.log"; then
    tail -40 "$build/fuzz_$t.log"
    echo "fuzz.sh: $t failed; inputs in $crashes"
    failed=1
  else
    grep -E '^stat::(number_of_executed_units|peak_rss_mb)|^#[0-9]+ *DONE' "$build/fuzz_$t.log" || true
  fi
done
exit "$failed"
