#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, ASan + UBSan) and runs each one
# for a while from its seed corpus. Exits non-zero when a target finds a
# crash, a leak or a timeout; the input that did it is left in the artifact
# folder.
# Usage: fuzz/run.sh [seconds per target, default 60] [targets...]
# The targets run at the same time, each for the whole time given. A unit
# counts as hung after 30 s: the largest inputs the bounds allow (a quarter
# million empty fragment samples) take a few seconds under the sanitizers,
# more on a busy machine.
# Environment: FUZZ_BUILD (build folder, default build/fuzz), FUZZ_WORK
# (where new corpus entries and artifacts go, default a fresh temporary folder).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(read inspect remux matroska avi ts)

build=${FUZZ_BUILD:-build/fuzz}
# -O1 with line tables: what fuzzing builds usually use, and a shorter build.
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only -DNDEBUG" -DVANTOREL_FUZZ=ON -DVANTOREL_TESTS=OFF -DVANTOREL_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)" >/dev/null

work=${FUZZ_WORK:-$(mktemp -d)}
declare -A pids
for target in "${targets[@]}"; do
  mkdir -p "$work/$target/corpus" "$work/$target/artifacts"
  # Seeds laid out by hand in tests, which fuzz/make_seeds.sh does not make.
  kept=()
  [ -d "fuzz/kept/$target" ] && kept=("fuzz/kept/$target")
  echo "fuzz_$target: ${seconds} s"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    "$build/fuzz/fuzz_$target" "$work/$target/corpus" "fuzz/corpus/$target" "${kept[@]}" \
    -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=30 -print_final_stats=1 \
    -artifact_prefix="$work/$target/artifacts/" >"$work/$target/log" 2>&1 &
  pids[$target]=$!
done
status=0
passed=0
failed=0
for target in "${targets[@]}"; do
  if ! wait "${pids[$target]}"; then
    echo "fuzz_$target FAILED; input kept in $work/$target/artifacts/" >&2
    tail -n 60 "$work/$target/log" >&2
    status=1
    failed=$((failed + 1))
  else
    echo "fuzz_$target:"
    grep -E "stat::number_of_executed_units|stat::average_exec_per_sec" "$work/$target/log" || true
    passed=$((passed + 1))
  fi
done
echo "fuzz: $passed passed, $failed failed"
# A temporary work folder is kept only when it holds a failing input.
if [ -z "${FUZZ_WORK:-}" ] && [ $status -eq 0 ]; then rm -rf "$work"; fi
exit $status
