#!/usr/bin/env bash
# A rehearsal anyone can start: builds the tool and the chip simulator,
# puts them on a disk with their manual pages, the bench script and a
# generated sample image, and boots QEMU with OVMF to an interactive UEFI
# shell on that disk, in this terminal.
#   bash scripts/rehearse.sh              build, then the shell
#   bash scripts/rehearse.sh --disk DIR   only the disk's files, into DIR, from
#                                         the images in $ZK48_EFI_DIR (build/efi):
#                                         what the end-to-end suite boots
set -euo pipefail
cd "$(dirname "$0")/.."

# The disk: the tool, the simulator and its control program, their manual
# pages, the bench script, a sample image and the simulator's settings.
write_disk() {
  local dir=$1 efi=${ZK48_EFI_DIR:-build/efi} name
  mkdir -p "$dir"
  for name in Zk48Update.efi Zk48Update.man Zk48Sim.efi Zk48SimCtl.efi Zk48SimCtl.man; do
    cp "$efi/$name" "$dir/$name"
  done
  cp examples/Zk48Bench.nsh "$dir/"
  /usr/bin/python3 - "$dir" <<'PY'
import random, sys
image = bytearray(random.Random(2026).randbytes(8192))
image[0x112F] = 0x5A          # the image's version byte
open(f"{sys.argv[1]}/sample.bin", "wb").write(image)
open(f"{sys.argv[1]}/Zk48Sim.cfg", "w").write(
    "# The simulated chip before the update, as the bench has it.\n"
    "mcu=0x21\nversion=0x4C\n"
    "# bus-khz=100 gives each transaction its time on a real SMBus.\n")
PY
}

if [ "${1:-}" = --disk ]; then
  write_disk "${2:?usage: rehearse.sh --disk DIR}"
  exit 0
fi

bash scripts/setup.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j 2

work=build/rehearsal
rm -rf "$work/files"
write_disk "$work/files"

cat <<'TEXT'

The rehearsal boots QEMU with OVMF to a UEFI shell on a disk (fs0:) that
holds Zk48Update.efi, Zk48Sim.efi, Zk48SimCtl.efi, their manual pages,
Zk48Bench.nsh and sample.bin. To leave: reset -s in the shell, or Ctrl-A X.
The disk stays in build/rehearsal/disk.img.

TEXT

args=()
for file in "$work"/files/*; do
  args+=(--file "$file")
done

exec /usr/bin/python3 tests/e2e/qemu_shell.py shell --workdir "$work" "${args[@]}" \
  --cmd 'echo " "' \
  --cmd 'echo "A rehearsal on a simulated ZK48. Start with:"' \
  --cmd 'echo "  load Zk48Sim.efi                       the simulated chip on the SMBus"' \
  --cmd 'echo "  Zk48Update.efi -v                      its E2PROM version"' \
  --cmd 'echo "  Zk48Bench.nsh sample.bin backup.bin    the whole bench sequence"' \
  --cmd 'echo "  Zk48SimCtl.efi drop-block=0x0800       a fault for the next run"' \
  --cmd 'echo "help Zk48Update and help Zk48SimCtl tell more. To leave: reset -s."'
