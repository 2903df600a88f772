#!/usr/bin/env bash
# The main job on the built-in default: builds everything, boots QEMU with
# OVMF and the ZK48 chip simulator on a 100 kHz bus, asks the chip for its
# E2PROM version, writes a generated sample image, asks again, and powers
# off. The console is shown live, as a technician at the bench would see
# it, and each transaction takes as long as on a real bus. The disk is the
# rehearsal's (scripts/rehearse.sh): the tool, the simulator, its control
# program, their manual pages, the bench script and the sample image.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j 2

sample=build/demo
rm -rf "$sample"
bash scripts/rehearse.sh --disk "$sample"
# The simulated chip before the update: MCU 0x21, E2PROM version 0x4C, on
# an SMBus clocked at 100 kHz, as on the bench.
printf 'mcu=0x21\nversion=0x4C\nbus-khz=100\n' >"$sample/Zk48Sim.cfg"

files=()
for file in "$sample"/*; do
  files+=(--file "$file")
done

exec /usr/bin/python3 tests/e2e/qemu_shell.py live --timeout 180 "${files[@]}" \
  --cmd "load Zk48Sim.efi" \
  --cmd "Zk48Update.efi -v" \
  --cmd "stall 3000000" \
  --cmd "Zk48Update.efi sample.bin" \
  --cmd "stall 3000000" \
  --cmd "Zk48Update.efi -v" \
  --cmd "stall 3000000"
