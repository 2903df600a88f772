#!/usr/bin/env bash
# The main job on the built-in default: builds everything, boots QEMU with
# OVMF and the ZK48 chip simulator on a 100 kHz bus, asks the chip for its
# E2PROM version, writes a generated sample image, asks again, and powers
# off. The console is shown live, as a technician at the bench would see
# it, and each transaction takes as long as on a real bus.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j 2

sample=build/demo
mkdir -p "$sample"
/usr/bin/python3 - "$sample" <<'PY'
import random, sys
image = bytearray(random.Random(2026).randbytes(8192))
image[0x112F] = 0x5A          # the image's version byte
open(f"{sys.argv[1]}/sample.bin", "wb").write(image)
# The simulated chip before the update: MCU 0x21, E2PROM version 0x4C, on
# an SMBus clocked at 100 kHz, as on the bench.
open(f"{sys.argv[1]}/Zk48Sim.cfg", "w").write("mcu=0x21\nversion=0x4C\nbus-khz=100\n")
PY

exec /usr/bin/python3 tests/e2e/qemu_shell.py live --timeout 180 \
  --file build/efi/Zk48Update.efi --file build/efi/Zk48Update.man --file build/efi/Zk48Sim.efi \
  --file "$sample/sample.bin" --file "$sample/Zk48Sim.cfg" \
  --cmd "load Zk48Sim.efi" \
  --cmd "Zk48Update.efi -v" \
  --cmd "stall 3000000" \
  --cmd "Zk48Update.efi sample.bin" \
  --cmd "stall 3000000" \
  --cmd "Zk48Update.efi -v" \
  --cmd "stall 3000000"
