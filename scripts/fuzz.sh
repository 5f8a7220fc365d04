#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with Clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on) in build-fuzz/ and runs each for SECONDS,
# starting from the seeds in tests/fuzz/corpus/<target>/ (and facilities/ for facility). New inputs collect in
# build-fuzz/corpus/<target>/ and are reused by the next run; findings
# (crash-*, leak-*, timeout-*) land in build-fuzz/findings/<target>/.
#
#   scripts/fuzz.sh                   every target for 20 s
#   scripts/fuzz.sh 3600 facility     one target for an hour
#
# Runs as many targets at once as there are cores. Prints the executions per
# target; exits non-zero when a target found a fault.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(input_parser facility lint_loaders output_writers command_line)

cxx=${OVRA_FUZZ_CXX:-$(command -v clang++-14 || command -v clang++)}
cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DOVRA_FUZZ=ON -DOVRA_WITH_UI=OFF -DOVRA_WITH_TANGO=OFF -DOVRA_WITH_TESTS=OFF \
      -DOVRA_WITH_BENCH=OFF ${OVRA_CMAKE_LAUNCHER:-} >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target $(printf '%s_fuzz ' "${targets[@]}") >/dev/null

# Two targets at a time on two cores (as many as there are cores): CI's fuzz
# step then costs about half the sum of the targets' times.
run() {
  local t=$1 corpus=build-fuzz/corpus/$1 findings=build-fuzz/findings/$1
  # The shipped facilities seed the facility target where they are.
  local seeds=("tests/fuzz/corpus/$t")
  if [ "$t" = facility ]; then seeds+=(facilities); fi
  mkdir -p "$corpus" "$findings"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    "build-fuzz/tests/fuzz/${t}_fuzz" -max_total_time="$seconds" -max_len=16384 -timeout=10 \
      -rss_limit_mb=2048 -artifact_prefix="$PWD/$findings/" -print_final_stats=1 \
      "$corpus" "${seeds[@]}" >"build-fuzz/$t.log" 2>&1
  echo $? >"build-fuzz/$t.rc"
}
parallel=$(nproc)
for t in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do wait -n || true; done
  rm -f "build-fuzz/$t.rc"
  run "$t" &
done
wait

status=0
summary=""
for t in "${targets[@]}"; do
  log=build-fuzz/$t.log findings=build-fuzz/findings/$t
  if [ "$(cat "build-fuzz/$t.rc" 2>/dev/null)" = 0 ]; then
    result=ok
  else
    result="FAULT (see $log and $findings/)"
    status=1
    tail -n 30 "$log" >&2
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  summary+=$(printf '%-16s %10s executions in %ss  %s' "$t" "${runs:-?}" "$seconds" "$result")$'\n'
done
printf '%s' "$summary"
exit $status
