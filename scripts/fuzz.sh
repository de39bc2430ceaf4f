#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz", clang) and runs each for SECONDS (default 5) on a
# copy of its committed corpus under fuzz/corpus/<target>/, so nothing is written into the
# repository. The committed seeds run first, so a regression seed that fails again is a finding.
# Prints per target the executions, executions per second and any finding; exits non-zero on a
# finding. Findings (the input and the fuzzer's output) stay under build/fuzz/runs/<target>/.
# QUORLAN_FUZZ_SKIP=check,check... lets the named checks of a long run print and go on, to look
# past a fault that is already known.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-5}
TARGETS=(fuzz_framers fuzz_threshold fuzz_text fuzz_codec fuzz_link fuzz_simcmd)

max_len() {
  case "$1" in
    fuzz_codec) echo 4200 ;;
    fuzz_link) echo 1024 ;;
    *) echo 4096 ;;
  esac
}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
BIN=build/fuzz/fuzz
RUNS=build/fuzz/runs
rm -rf "$RUNS"
# Allocation stacks cost most of the time of the Qt-heavy targets; replaying a finding without
# these settings prints them in full.
export ASAN_OPTIONS=${ASAN_OPTIONS:-malloc_context_size=0:quarantine_size_mb=16:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

findings=0
printf '%-16s %12s %10s  %s\n' target executions exec/s result
for t in "${TARGETS[@]}"; do
  work="$RUNS/$t"
  mkdir -p "$work/corpus" "$work/findings"
  find "fuzz/corpus/$t" -maxdepth 1 -type f -exec cp {} "$work/corpus/" \; 2>/dev/null || true
  set +e
  "$BIN/$t" -max_total_time="$SECONDS_EACH" -max_len="$(max_len "$t")" -timeout=30 -rss_limit_mb=2560 \
    -print_final_stats=1 -artifact_prefix="$work/findings/" "$work/corpus" >"$work/log" 2>&1
  rc=$?
  set -e
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/log" | tail -1)
  # A slow unit is worth a look but is no fault: only crashes, leaks, time-outs and memory count.
  found=$(find "$work/findings" -type f ! -name 'slow-unit-*' | sort)
  if [ "$rc" -ne 0 ] || [ -n "$found" ]; then
    findings=$((findings + 1))
    printf '%-16s %12s %10s  FINDING (exit %d)\n' "$t" "${execs:--}" "${rate:--}" "$rc"
    grep -E -m3 -A1 'PROPERTY FAILED|ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error' "$work/log" | sed 's/^/    /' || true
    for f in $found; do echo "    input: $f (replay: $BIN/$t $f)"; done
    [ -n "$found" ] || echo "    log: $work/log"
  else
    printf '%-16s %12s %10s  ok\n' "$t" "${execs:--}" "${rate:--}"
  fi
done
exit $((findings > 0))
