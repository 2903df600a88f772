#!/usr/bin/env bash
# The soak, a benchmark kept out of the test runs: builds the host program
# tests/soak and runs 1000 each of -v, the update, -d, -c and the bench
# sequence of examples/Zk48Bench.nsh on the simulated firmware, the chip
# behind a bus that refuses one transaction in 1000 and ignores one write in
# 10 000, a seed of its own for each run. Prints completion rates and false
# successes; any false success fails it.
#   bash scripts/soak.sh                      ZK48_SOAK_RUNS runs of each kind, default 1000
#   ZK48_SOAK_BUS="ignore-rate=1/1000" bash scripts/soak.sh   other bus settings
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j 2 --target soak_tests
build/tests/soak_tests --gtest_brief=1
