#!/bin/sh
# Builds the libFuzzer targets in build-fuzz and runs each of them, all at
# once, for the given number of seconds (default 30) on a copy of its seed
# corpus. Prints the executions and coverage of every target; exits non-zero
# when any target crashed, failed a check or hung, leaving the input that did
# it in build-fuzz/crashes/.
set -eu

cd "$(dirname "$0")/.."
SECONDS_PER_TARGET=${1:-30}
case "$SECONDS_PER_TARGET" in
  ''|*[!0-9]*) echo "usage: $0 [seconds]" >&2; exit 2 ;;
esac
BUILD=build-fuzz
TARGETS="content positions streams text"
JOBS=$(nproc 2>/dev/null || echo 4)

mkdir -p "$BUILD"
if [ ! -f "$BUILD/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVM_FUZZ=ON -DVM_SANITIZE=ON -DVM_WITH_QT=OFF -DVM_BENCH=OFF >"$BUILD/configure.log" 2>&1 || {
    cat "$BUILD/configure.log" >&2
    exit 1
  }
fi
cmake --build "$BUILD" -j "$JOBS" --target fuzzers

RUN="$BUILD/fuzz-run"
rm -rf "$RUN"
mkdir -p "$RUN" "$BUILD/crashes"
ABS_CRASHES=$(cd "$BUILD/crashes" && pwd)

# Every target works on its own copy: what a run adds never reaches fuzz/corpus.
for t in $TARGETS; do
  mkdir -p "$RUN/corpus-$t" "$RUN/tmp-$t"
  cp fuzz/corpus/"$t"/* "$RUN/corpus-$t"/ 2>/dev/null || true
  dict=""
  [ -f "fuzz/dict/$t.dict" ] && dict="-dict=fuzz/dict/$t.dict"
  # shellcheck disable=SC2086
  TMPDIR="$(cd "$RUN/tmp-$t" && pwd)" \
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$BUILD/fuzz/fuzz_$t" -max_total_time="$SECONDS_PER_TARGET" -print_final_stats=1 \
      -timeout=25 -rss_limit_mb=2048 -artifact_prefix="$ABS_CRASHES/$t-" $dict \
      "$RUN/corpus-$t" >"$RUN/$t.log" 2>&1 &
  echo $! >"$RUN/$t.pid"
done

status=0
for t in $TARGETS; do
  rc=0
  wait "$(cat "$RUN/$t.pid")" || rc=$?
  log="$RUN/$t.log"
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  last=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -n 1 || true)
  cov=$(printf '%s\n' "$last" | sed -n 's/.* cov: \([0-9]*\).*/\1/p')
  ft=$(printf '%s\n' "$last" | sed -n 's/.* ft: \([0-9]*\).*/\1/p')
  if [ "$rc" -eq 0 ]; then
    verdict="ok"
  else
    verdict="FAILED (exit $rc)"
    status=1
  fi
  printf '%-10s %10s execs  cov: %-6s ft: %-7s %s\n' "$t" "${runs:-?}" "${cov:-?}" "${ft:-?}" \
    "$verdict"
  if [ "$rc" -ne 0 ]; then
    grep -E 'fuzz check failed|ERROR: (AddressSanitizer|libFuzzer|UndefinedBehaviorSanitizer)|runtime error|Test unit written to' \
      "$log" | head -n 8 | sed 's/^/    /'
    echo "    full log: $log"
  fi
done
[ "$status" -eq 0 ] || echo "fuzz: crash inputs are in $BUILD/crashes/" >&2
exit "$status"
