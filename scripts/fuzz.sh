#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer, UndefinedBehavior-
# Sanitizer, coverage on the library too) in build-fuzz/ and runs each target
# for a bounded time, starting from its seed corpus and its regressions.
#
#   scripts/fuzz.sh [seconds per target, default 60] [target ...]
#
# Targets: decode_block unpack_file round_trip unpack_memory (default: all, one after
# the other). FUZZ_PARALLEL=1 runs them at the same time, each under nice.
# Exit status: 0 when no target found anything, 1 on a finding (crash, failed
# check, leak, timeout of one input, memory limit), 2 when the build failed.
# A finding is saved as build-fuzz/fuzz-work/<target>/findings/<kind>-<hash>;
# check it in under fuzz/regressions/<target>/ once the fault is understood.
set -uo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(decode_block unpack_file round_trip unpack_memory)
build=build-fuzz
work="$build/fuzz-work"
# Per input: far above the slowest seed (about 0.1 s), so only a hang trips it.
per_input_timeout=25
rss_limit_mb=2048
max_len=4096

if ! command -v clang++ >/dev/null; then
  echo "fuzz.sh: clang++ not found (Debian: clang and libclang-rt-14-dev)" >&2
  exit 2
fi

echo "fuzz.sh: building ${targets[*]} in $build"
build_targets=()
for t in "${targets[@]}"; do build_targets+=("fuzz_$t"); done
if ! CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug \
      -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link \
      -DVORKA_FUZZ=ON -DVORKA_SANITIZE=address,undefined \
      -DVORKA_BUILD_TESTS=OFF -DVORKA_BUILD_BENCH=OFF >"$build.configure.log" 2>&1 ||
   ! cmake --build "$build" -j2 --target "${build_targets[@]}" >"$build.build.log" 2>&1; then
  echo "fuzz.sh: build failed, see $build.configure.log and $build.build.log" >&2
  tail -n 30 "$build.build.log" >&2 2>/dev/null
  exit 2
fi

run_target() {
  local t="$1"
  local dir="$work/$t"
  mkdir -p "$dir/corpus" "$dir/findings"
  local started=$SECONDS
  local seeds=()
  for d in "fuzz/corpus/$t" "fuzz/regressions/$t"; do [ -d "$d" ] && seeds+=("$d"); done
  # New inputs go to the first folder only; the checked-in seeds stay as they are.
  ${nice_cmd[@]+"${nice_cmd[@]}"} "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout="$per_input_timeout" \
      -rss_limit_mb="$rss_limit_mb" -max_len="$max_len" -print_final_stats=1 \
      -artifact_prefix="$dir/findings/" \
      "$dir/corpus" "${seeds[@]}" >"$dir/log" 2>&1
  local rc=$?
  local runs
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$dir/log" | grep -o '[0-9]*$')
  printf '%s %-12s %5ds  %9s runs  exit %d\n' "$(date -u +%H:%M:%S)" "$t" \
    $((SECONDS - started)) "${runs:-?}" "$rc" | tee -a "$work/summary"
  if [ "$rc" -ne 0 ]; then
    echo "fuzz.sh: FINDING in $t, log $dir/log:" >&2
    grep -E 'ERROR|fuzz check failed|SUMMARY|Test unit written' "$dir/log" | head -n 20 >&2
  fi
  return "$rc"
}

mkdir -p "$work"
nice_cmd=()
failed=0
if [ "${FUZZ_PARALLEL:-0}" = 1 ]; then
  nice_cmd=(nice -n 10)
  pids=()
  for t in "${targets[@]}"; do
    run_target "$t" &
    pids+=($!)
  done
  for p in "${pids[@]}"; do wait "$p" || failed=1; done
else
  for t in "${targets[@]}"; do run_target "$t" || failed=1; done
fi

if [ "$failed" -ne 0 ]; then
  echo "fuzz.sh: at least one target found a fault" >&2
  exit 1
fi
echo "fuzz.sh: no findings (${seconds}s per target)"
