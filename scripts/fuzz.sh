#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz in build-fuzz and runs each for
# a bounded time, printing its number of executions. A crash, hang, leak or
# broken invariant fails the run; its input is kept in
# tests/fuzz/regressions/<target>/, which every test run then replays.
#   bash scripts/fuzz.sh [target...]      FUZZ_SECONDS per target, default 60;
#                                         FUZZ_JOBS targets at a time, default 1
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-60}
jobs=${FUZZ_JOBS:-1}
build=build-fuzz
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(print image_load chip_dialogue settings)

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZK48_EFI=OFF -DZK48_FUZZ=ON >/dev/null
cmake --build "$build" -j 2 --target "${targets[@]/#/fuzz_}"

# Runs one target for its time; prints its line and keeps a crash's input.
fuzz_target() {
  local target=$1 corpus=$build/fuzz/corpus/$1 artifacts=$build/fuzz/artifacts/$1 log=$build/fuzz/$1.log
  local result executions
  rm -rf "$artifacts" && mkdir -p "$corpus" "$artifacts"
  # New inputs go to the build's corpus; the seeds in the source tree stay as they are.
  if "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=5 -print_final_stats=1 \
       -artifact_prefix="$artifacts/" "$corpus" "tests/fuzz/seeds/$target" >"$log" 2>&1; then
    result=passed
  else
    result=FAILED
  fi

  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  printf '%-14s %10s executions in %s s  %s\n' "$target" "${executions:-?}" "$seconds" "$result"
  [ "$result" = passed ] && return 0
  grep -E 'ERROR|SUMMARY|invariant broken|==[0-9]+==' "$log" | head -20 || tail -20 "$log"
  mkdir -p "tests/fuzz/regressions/$target"
  for input in "$artifacts"/*; do
    [ -f "$input" ] || continue
    cp "$input" "tests/fuzz/regressions/$target/"
    echo "kept as a regression: tests/fuzz/regressions/$target/$(basename "$input")"
  done
  return 1
}

# FUZZ_JOBS targets at a time (one by default), each its own log, shown in turn.
mkdir -p "$build/fuzz"
failed=0
for ((first = 0; first < ${#targets[@]}; first += jobs)); do
  pids=()
  for target in "${targets[@]:first:jobs}"; do
    fuzz_target "$target" >"$build/fuzz/$target.summary" 2>&1 & pids+=($!)
  done
  for index in "${!pids[@]}"; do
    wait "${pids[$index]}" || failed=1
    cat "$build/fuzz/${targets[first + index]}.summary"
  done
done

exit $failed
