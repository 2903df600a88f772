#!/usr/bin/env bash
# Every test of the project, from a fresh Debian 12 machine: installs what
# is missing, builds the firmware images and the host tests, runs the host
# tests and the end-to-end suite in QEMU on OVMF and on U-Boot's UEFI, then
# runs the host tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer; last come the static checks and a minute of
# fuzzing for each fuzz target.
#
# The machine has two cores: the two firmwares' end-to-end suites run side
# by side (QEMU without KVM keeps one core busy), and so do the fuzz
# targets, two at a time.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

echo "== build =="
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j 2

echo "== host tests =="
ctest --test-dir build --output-on-failure
# The fault-injection figures: calls N of each kind of run, and runs made.
grep -E '^(fault injection|chip faults):' build/Testing/Temporary/LastTest.log

# One firmware's end-to-end suites, one after another; the firmware's name first.
end_to_end() {
  local firmware=$1
  E2E_FIRMWARE=$firmware /usr/bin/python3 tests/e2e/test_qemu_shell.py
  E2E_FIRMWARE=$firmware ZK48_EFI_DIR=build/efi /usr/bin/python3 tests/e2e/test_zk48.py
  if [ "$firmware" = ovmf ]; then
    # Started by the boot manager with its load options, under Secure Boot.
    ZK48_EFI_DIR=build/efi /usr/bin/python3 tests/e2e/test_unattended.py
  fi
}

echo "== end to end: OVMF's UEFI shell, and U-Boot's UEFI with the shell taken out of OVMF, side by side =="
logs=build/e2e-logs
mkdir -p "$logs"
end_to_end ovmf >"$logs/ovmf.log" 2>&1 & ovmf=$!
end_to_end u-boot >"$logs/u-boot.log" 2>&1 & uboot=$!
failed=0
for lane in "ovmf $ovmf" "u-boot $uboot"; do
  set -- $lane
  if wait "$2"; then result=passed; else result=FAILED; failed=1; fi
  echo "-- end to end on $1: $result"
  cat "$logs/$1.log"
done
[ "$failed" -eq 0 ]

echo "== host tests under AddressSanitizer and UndefinedBehaviorSanitizer =="
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZK48_SANITIZE=ON -DZK48_EFI=OFF >/dev/null
cmake --build build-sanitize -j 2
# The check that the sampled sweep ends runs as the full sweep does compares
# the harness's two ways of sweeping the same update, not new product paths:
# the plain build runs it, and under the sanitizers it alone takes 2 minutes.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  GTEST_FILTER=-FaultInjection.SampledSweepEndsRunsAsTheFullSweepDoes \
  ctest --test-dir build-sanitize --output-on-failure -j 2

echo "== static checks: clang-tidy and cppcheck =="
bash scripts/static-checks.sh

echo "== fuzzing: each target for ${FUZZ_SECONDS:-60} s, two at a time, crashes kept in tests/fuzz/regressions =="
FUZZ_JOBS=2 bash scripts/fuzz.sh
