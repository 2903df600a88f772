#!/usr/bin/env bash
# Every test of the project, from a fresh Debian 12 machine: installs what
# is missing, builds the firmware images and the host tests, runs the host
# tests and the end-to-end suite in QEMU on OVMF and on U-Boot's UEFI, then
# runs the host tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer; last come the static checks and a minute of
# fuzzing for each fuzz target.
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

echo "== end to end: the images in OVMF's UEFI shell under QEMU =="
/usr/bin/python3 tests/e2e/test_qemu_shell.py
ZK48_EFI_DIR=build/efi /usr/bin/python3 tests/e2e/test_zk48.py

echo "== end to end: started by the boot manager with its load options, under Secure Boot =="
ZK48_EFI_DIR=build/efi /usr/bin/python3 tests/e2e/test_unattended.py

echo "== end to end: the same on U-Boot's UEFI, the shell taken out of OVMF =="
E2E_FIRMWARE=u-boot /usr/bin/python3 tests/e2e/test_qemu_shell.py
E2E_FIRMWARE=u-boot ZK48_EFI_DIR=build/efi /usr/bin/python3 tests/e2e/test_zk48.py

echo "== host tests under AddressSanitizer and UndefinedBehaviorSanitizer =="
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZK48_SANITIZE=ON -DZK48_EFI=OFF >/dev/null
cmake --build build-sanitize -j 2
# The check that the sampled sweep ends runs as the full sweep does compares
# the harness's two ways of sweeping the same update, not new product paths:
# the plain build runs it, and under the sanitizers it alone took 3.5 minutes.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  GTEST_FILTER=-FaultInjection.SampledSweepEndsRunsAsTheFullSweepDoes \
  ctest --test-dir build-sanitize --output-on-failure -j 2

echo "== static checks: clang-tidy and cppcheck =="
bash scripts/static-checks.sh

echo "== fuzzing: each target for ${FUZZ_SECONDS:-60} s, crashes kept in tests/fuzz/regressions =="
bash scripts/fuzz.sh
