#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz in build-fuzz and runs each for
# a bounded time, printing its number of executions. A crash, hang, leak or
# broken invariant fails the run; its input is kept in
# tests/fuzz/regressions/<target>/, which every test run then replays.
#   bash scripts/fuzz.sh [target...]      FUZZ_SECONDS per target, default 60
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-60}
build=build-fuzz
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(print image_load chip_dialogue settings)

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZK48_EFI=OFF -DZK48_FUZZ=ON >/dev/null
cmake --build "$build" -j 2 --target "${targets[@]/#/fuzz_}"

failed=0
for target in "${targets[@]}"; do
  corpus=$build/fuzz/corpus/$target
  artifacts=$build/fuzz/artifacts/$target
  log=$build/fuzz/$target.log
  rm -rf "$artifacts" && mkdir -p "$corpus" "$artifacts"
  # New inputs go to the build's corpus; the seeds in the source tree stay as they are.
  if "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=5 -print_final_stats=1 \
       -artifact_prefix="$artifacts/" "$corpus" "tests/fuzz/seeds/$target" >"$log" 2>&1; then
    result=passed
  else
    result=FAILED
    failed=1
  fi

  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  printf '%-14s %10s executions in %s s  %s\n' "$target" "${executions:-?}" "$seconds" "$result"
  if [ "$result" = FAILED ]; then
    grep -E 'ERROR|SUMMARY|invariant broken|==[0-9]+==' "$log" | head -20 || tail -20 "$log"
    mkdir -p "tests/fuzz/regressions/$target"
    for input in "$artifacts"/*; do
      [ -f "$input" ] || continue
      cp "$input" "tests/fuzz/regressions/$target/"
      echo "kept as a regression: tests/fuzz/regressions/$target/$(basename "$input")"
    done
  fi
done

exit $failed
