#!/usr/bin/env bash
# The soak, a benchmark kept out of the test runs: builds the host program
# tests/soak and runs -v, the update, -d, -c and the bench sequence of
# examples/Zk48Bench.nsh on the simulated firmware, each run with a seed of
# its own and the chip holding each image shape in turn (the pattern, a
# 16-bit table, half 0xFF padding, a constant). Two series: a bus that
# refuses one transaction in 1000 and ignores one write in 10 000, then a
# noisy one that refuses one in 100. Prints completion rates and false
# successes; any false success fails it.
#   bash scripts/soak.sh                      ZK48_SOAK_RUNS runs of each kind (default 1000),
#                                             ZK48_SOAK_NOISY_RUNS on the noisy bus (default 1000)
#   ZK48_SOAK_BUS="ignore-rate=1/1000" bash scripts/soak.sh   one series, on other bus settings
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j 2 --target soak_tests
if [ -n "${ZK48_SOAK_BUS:-}" ]; then
  build/tests/soak_tests --gtest_brief=1
else
  build/tests/soak_tests --gtest_brief=1
  ZK48_SOAK_RUNS=${ZK48_SOAK_NOISY_RUNS:-1000} ZK48_SOAK_BUS="refuse-rate=1/100 ignore-rate=1/10000" \
    build/tests/soak_tests --gtest_brief=1
fi
