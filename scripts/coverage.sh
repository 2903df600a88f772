#!/usr/bin/env bash
# Line and branch coverage of the product code (platform/ chip/ update/ app/)
# by every host test: an instrumented host build in build-cov, each test
# program's profile merged, and llvm-cov's summary of the product's files.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD=${COVERAGE_BUILD_DIR:-build-cov}
FLAGS="-fprofile-instr-generate -fcoverage-mapping"

cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZK48_EFI=OFF \
  -DCMAKE_CXX_FLAGS="$FLAGS" -DCMAKE_EXE_LINKER_FLAGS="$FLAGS" >/dev/null
cmake --build "$BUILD" -j 2

rm -rf "$BUILD/profiles"
mkdir -p "$BUILD/profiles"
status=0
LLVM_PROFILE_FILE="$PWD/$BUILD/profiles/%p.profraw" ctest --test-dir "$BUILD" --output-on-failure || status=$?
llvm-profdata-14 merge -sparse "$BUILD"/profiles/*.profraw -o "$BUILD/coverage.profdata"

# Every test program, so that code only one of them runs counts.
objects=()
for program in "$BUILD"/tests/*_tests "$BUILD"/tests/fuzz/fuzz_replay_*; do
  [ -x "$program" ] && objects+=(-object "$program")
done
llvm-cov-14 report -instr-profile "$BUILD/coverage.profdata" "${objects[@]:1}" \
  "$PWD/platform" "$PWD/chip" "$PWD/update" "$PWD/app"
exit $status
