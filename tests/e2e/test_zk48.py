#!/usr/bin/python3
"""End-to-end tests of Zk48Update.efi in the UEFI shell under QEMU, on OVMF
or on U-Boot's UEFI ($E2E_FIRMWARE, see qemu_shell.py).

One boot runs every scenario: first without the chip simulator, then with
Zk48Sim.efi loaded, each fault set with Zk48SimCtl.efi before the run it
concerns. Each scenario checks the screen a person sees, the raw console
stream, the exit status through %lasterror% and the chip's final state;
the backups and the shipped bench script (examples/Zk48Bench.nsh) also
the files left on the disk. A second FAT disk, the shell's fs1: (a USB
stick beside a machine's own disk), holds the files named with fs1:.

Run: /usr/bin/python3 tests/e2e/test_zk48.py            (needs build/efi/*.efi)
     /usr/bin/python3 tests/e2e/test_zk48.py --measure 5 (timings, medians of 5 boots)
     /usr/bin/python3 tests/e2e/test_zk48.py --measure 5 --bus-khz 100
                                    (the same with the simulated bus at 100 kHz: -v, -d,
                                     the update, -c and the bench script's clean run)
     E2E_FIRMWARE=u-boot /usr/bin/python3 tests/e2e/test_zk48.py   (the same on U-Boot)
The images are looked for in $ZK48_EFI_DIR, by default build/efi.
"""

from __future__ import annotations

import os
import random
import re
import statistics
import subprocess
import sys
import tempfile
import unittest
import zlib
from pathlib import Path

sys.dont_write_bytecode = True
sys.path.insert(0, str(Path(__file__).resolve().parent))
import qemu_shell as q  # noqa: E402

ROOT = Path(__file__).resolve().parents[2]
EFI_DIR = Path(os.environ.get("ZK48_EFI_DIR", ROOT / "build" / "efi"))
BENCH_SCRIPT = ROOT / "examples" / "Zk48Bench.nsh"
MANUAL_PAGE = ROOT / "app" / "Zk48Update.man"
SIMCTL_MANUAL_PAGE = ROOT / "sim" / "driver" / "Zk48SimCtl.man"
REHEARSE = ROOT / "scripts" / "rehearse.sh"
SIM_SETTINGS = ROOT / "sim" / "Zk48Settings.cpp"

IMAGE_VERSION = 0x5A
# The chip as the rehearsal's Zk48Sim.cfg has it before the update.
CHIP_VERSION = 0x4C
CHIP_MCU = 0x21

# %lasterror% as the shell shows it: the error bit dropped.
SUCCESS, INVALID_PARAMETER, BAD_BUFFER_SIZE, DEVICE_ERROR, NOT_FOUND, ACCESS_DENIED, TIMEOUT, CRC_ERROR = \
    0, 2, 4, 7, 14, 15, 18, 27
# The bench script's own exit statuses (documented at its top).
BENCH_PASS, BENCH_USAGE, BENCH_NO_BACKUP, BENCH_RESTORED, BENCH_NOT_RESTORED, BENCH_UNKNOWN, BENCH_NOT_WRITTEN = range(7)

EQUALS = "=" * 48
BANNER = [EQUALS,
          " This tool is used for updating the ZK48 Chip image.",
          " Software support cmd-one format:xxx.efi xxx.bin.",
          " Software support cmd-two format:xxx.efi -v.",
          " Software version: 2.7.2"]
# q35's ICH9 SMBus controller, as the scan shows it.
Q35_CONTROLLER = [" Found SMBus device:", " Bus Dev Func Vendor Device Revision", " 00 1F 03  8086 2930 02", " Intel ID."]
CHIP_FOUND = re.compile(r" Found Chip on Addr = 0x8000FB20, SMBaddr = 0x[0-9A-F]*[02468ACE]$")
# Everything a run on the simulator shows before its own work.
SCANNED = BANNER + ["", EQUALS] + Q35_CONTROLLER + [CHIP_FOUND, EQUALS]
USAGE = [" Zk48Update.efi IMAGE    write the 8192-byte IMAGE and check its version byte.",
         " Zk48Update.efi -v       show the version byte the E2PROM holds.",
         " Zk48Update.efi -d FILE  save the whole E2PROM in FILE, a new file.",
         " Zk48Update.efi -c FILE  compare the whole E2PROM with the image FILE.",
         " Zk48Update.efi -h       show these lines; the chip is not touched.",
         " Exit statuses, the bench script, the chip not found: help Zk48Update -verbose"]
NOT_FOUND_LINE = "Error: can't found any supported SMBus device,exit."
# After "reset" the chip reports the simulator's default MCU version.
RESET_MCU = 0x10


def make_image(version: int) -> bytes:
    image = bytearray(random.Random(48).randbytes(8192))
    image[0x112F] = version
    return bytes(image)


IMAGE = make_image(IMAGE_VERSION)

# The simulator's fill=pattern: a byte read from any other address is wrong.
PATTERN = bytes((address & 0xFF) ^ (((address >> 8) * 0x35) & 0xFF) for address in range(8192))
# One byte off the pattern, for a compare that must find exactly it.
ONE_BYTE_ADDRESS = 0x1A5C
ONE_BYTE_OFF = PATTERN[:ONE_BYTE_ADDRESS] + bytes([PATTERN[ONE_BYTE_ADDRESS] ^ 0x10]) + PATTERN[ONE_BYTE_ADDRESS + 1:]
# A block the update loses without a word; it does not hold the version byte at 0x112F.
DROPPED_BLOCK = 0x0800
# Bytes at the front of old.bin, a file that -d must leave alone.
OLD_FILE = b"an earlier backup, not to be overwritten\r\n"

# SMBus transactions of clean runs on the simulator (an E2PROM byte read is
# three writes, three polls until ready, one read), to aim a fault at one
# stretch of a bench run.
SCAN_TRANSACTIONS = 2
BYTE_READ_TRANSACTIONS = 7
# A backup or a compare reads every byte twice; on the pattern and on the
# image every read of the second pass is proven, and nothing more is read.
WHOLE_READ_TRANSACTIONS = SCAN_TRANSACTIONS + 2 * 8192 * BYTE_READ_TRANSACTIONS
BACKUP_TRANSACTIONS = WHOLE_READ_TRANSACTIONS
UPDATE_TRANSACTIONS = SCAN_TRANSACTIONS + 1 + 1024 + 7
# The restore's write of the block at 0x0300: in the middle of a write phase,
# so that a count off by a few still lands on a block write.
RESTORE_BLOCK = 0x0300
RESTORE_BLOCK_TRANSACTION = (BACKUP_TRANSACTIONS + UPDATE_TRANSACTIONS + WHOLE_READ_TRANSACTIONS
                             + SCAN_TRANSACTIONS + 1 + RESTORE_BLOCK // 8 + 1)
# Half way through the update's block writes.
UPDATE_MIDDLE_TRANSACTION = BACKUP_TRANSACTIONS + SCAN_TRANSACTIONS + 1 + 512
# The first E2PROM read of the compare after the update.
COMPARE_START_TRANSACTION = BACKUP_TRANSACTIONS + UPDATE_TRANSACTIONS + SCAN_TRANSACTIONS + 1
# The seed of the bench run on a bus that refuses at random.
REFUSING_SEED = 13
# On the second disk: an image of its own, told apart by its version byte.
STICK_VERSION = 0x6B
STICK_IMAGE = make_image(STICK_VERSION)
# The second disk's consistent mapping, as each firmware's shell names it (map -c).
STICK_CONSISTENT = {q.OVMF.name: "F0b65535a:", q.UBOOT.name: "HD1b:"}
# A decoy host controller's share of a run: the device-ID check, one write and six reads;
# a decoy that refuses has the write sent again, five times in all, as every refused transaction.
DECOY_TRANSACTIONS = 1 + 6
DECOY_REFUSING_TRANSACTIONS = 5 + 6
NO_VOLUME_FS7 = " No volume is mapped as fs7: (the shell's map command lists them)."
RETRY_NOTE = re.compile(r" Note: (\d+) bus transactions? (?:was|were) refused and sent again\.")


# The simulator's wire time at bus-khz (sim/Zk48Wire.h): the start, a
# repeated start and the stop one bit time each, every byte nine with its
# acknowledge; and the tool's 4 ms pause after each block and after the last.
WRITE_BYTE_BITS = 1 + 3 * 9 + 1                  # S, address, command, data, P
READ_BYTE_BITS = 1 + 2 * 9 + 1 + 2 * 9 + 1       # S, address, command, Sr, address, data, P
BLOCK_FRAME_BITS = 1 + (3 + 11) * 9 + 1          # S, address, command, count, the 11-byte frame, P
BLOCK_PAUSE = 0.004
BUS_KHZ = 100
# What a loaded host may add to a timed run on top of its wire time and
# pauses: each Stall overshoots a little in QEMU, more under load (an
# update, 1034 transactions and 1025 pauses, has been seen 10 s over).
TIMING_MARGIN = 20.0


def eeprom_crc(fill: int, version: int) -> str:
    eeprom = bytearray([fill] * 8192)
    eeprom[0x112F] = version
    return f"{zlib.crc32(eeprom):08X}"


SCENARIOS = [
    # The firmware's own pause, the measure of the update's write phase.
    q.Scenario("stall", "stall 1000000"),
    q.Scenario("no_simulator", "Zk48Update.efi -v"),
    # Help needs no SMBus driver: the simulator is not loaded yet.
    q.Scenario("usage", "Zk48Update.efi -h"),
    q.Scenario("manual_by_option", "Zk48Update.efi -?"),
    q.Scenario("manual_by_help", "help Zk48Update"),
    q.Scenario("manual_verbose", "help Zk48Update -verbose"),
    q.Scenario("manual_bench_section", 'help Zk48Update -section "BENCH SCRIPT"'),
    q.Scenario("simctl_manual", "help Zk48SimCtl"),
    # The simulator's control program helps before the simulator is loaded.
    q.Scenario("simctl_help", "Zk48SimCtl.efi -h"),
    q.Scenario("simctl_no_argument", "Zk48SimCtl.efi"),
    q.Scenario("load", "load Zk48Sim.efi"),
    q.Scenario("no_argument", "Zk48Update.efi"),
    q.Scenario("version", "Zk48Update.efi -v"),
    q.Scenario("update", "Zk48Update.efi image.bin"),
    q.Scenario("update_state", "Zk48SimCtl.efi show"),
    q.Scenario("version_after", "Zk48Update.efi -v"),
    q.Scenario("ignored", "Zk48SimCtl.efi reset ignore-writes=1 version=0x50\nZk48Update.efi image.bin"),
    q.Scenario("ignored_state", "Zk48SimCtl.efi show"),
    q.Scenario("missing_file", "Zk48Update.efi nothere.bin"),
    q.Scenario("wrong_size", "Zk48SimCtl.efi reset\nZk48Update.efi short.bin"),
    q.Scenario("wrong_size_state", "Zk48SimCtl.efi show"),
    q.Scenario("no_device_id", "Zk48SimCtl.efi reset id-from=never\nZk48Update.efi -v"),
    q.Scenario("other_device_id", "Zk48SimCtl.efi reset device-id=0x12\nZk48Update.efi -v"),
    q.Scenario("bus_refuses", "Zk48SimCtl.efi reset fail-all=1\nZk48Update.efi -v"),
    q.Scenario("status_stuck", "Zk48SimCtl.efi reset ready-after=never\nZk48Update.efi -v"),
    q.Scenario("status_stuck_state", "Zk48SimCtl.efi show"),
    q.Scenario("bus_faults_shown", "Zk48SimCtl.efi reset refuse-every=5 refuse-rate=1/1000 ignore-rate=0x1/10000 "
                                   "seed=4294967295\nZk48SimCtl.efi show"),
    # A drop inside a block could never strike: refused, the settings as they were.
    q.Scenario("drop_inside_block", "Zk48SimCtl.efi drop-block=0x0801"),
    q.Scenario("drop_inside_block_state", "Zk48SimCtl.efi show"),
    # Backup and compare, on a chip whose every byte tells its address.
    q.Scenario("pattern", "Zk48SimCtl.efi reset fill=pattern"),
    q.Scenario("backup", "Zk48Update.efi -d backup.bin"),
    q.Scenario("backup_state", "Zk48SimCtl.efi show"),
    q.Scenario("compare_same", "Zk48Update.efi -c backup.bin"),
    q.Scenario("compare_one_byte", "Zk48Update.efi -c onebyte.bin"),
    q.Scenario("compare_state", "Zk48SimCtl.efi show"),
    q.Scenario("backup_exists", "Zk48SimCtl.efi reset fill=pattern\nZk48Update.efi -d old.bin"),
    q.Scenario("backup_exists_state", "Zk48SimCtl.efi show"),
    # The chip takes the read command of 0x0800 in the first pass and ignores it.
    q.Scenario("backup_ignored", "Zk48SimCtl.efi reset fill=pattern "
                                 f"fault-at={SCAN_TRANSACTIONS + 0x0800 * 7 + 3} fault=write-ignored\n"
                                 "Zk48Update.efi -d ignored.bin"),
    q.Scenario("backup_option_name", "Zk48Update.efi -d -v"),
    # The shipped bench script.
    q.Scenario("bench_usage", "Zk48Bench.nsh image.bin"),
    q.Scenario("bench_pattern", "Zk48SimCtl.efi reset fill=pattern"),
    q.Scenario("bench_pass", "Zk48Bench.nsh image.bin bench1.bin"),
    q.Scenario("bench_pass_state", "Zk48SimCtl.efi show"),
    q.Scenario("bench_backup_taken", "Zk48SimCtl.efi reset fill=pattern\nZk48Bench.nsh image.bin bench1.bin"),
    q.Scenario("bench_backup_taken_state", "Zk48SimCtl.efi show"),
    q.Scenario("bench_restored", f"Zk48SimCtl.efi reset fill=pattern drop-block=0x{DROPPED_BLOCK:04X}\n"
                                 "Zk48Bench.nsh image.bin bench2.bin"),
    q.Scenario("bench_restored_state", "Zk48SimCtl.efi show"),
    q.Scenario("bench_not_restored", f"Zk48SimCtl.efi reset fill=pattern drop-block=0x{DROPPED_BLOCK:04X} "
                                     f"fault-at={RESTORE_BLOCK_TRANSACTION} fault=write-ignored\n"
                                     "Zk48Bench.nsh image.bin bench3.bin"),
    q.Scenario("bench_not_restored_state", "Zk48SimCtl.efi show"),
    q.Scenario("bench_unknown", f"Zk48SimCtl.efi reset fill=pattern fault-at={UPDATE_MIDDLE_TRANSACTION} "
                                "fault=status-stuck\nZk48Bench.nsh image.bin bench4.bin"),
    q.Scenario("bench_unknown_state", "Zk48SimCtl.efi show"),
    q.Scenario("bench_not_compared", f"Zk48SimCtl.efi reset fill=pattern fault-at={COMPARE_START_TRANSACTION} "
                                     "fault=status-stuck\nZk48Bench.nsh image.bin bench5.bin"),
    q.Scenario("bench_not_compared_state", "Zk48SimCtl.efi show"),
    # A shared bus: one transaction in a thousand refused, the same ones on every boot.
    q.Scenario("bench_refusing", f"Zk48SimCtl.efi reset fill=pattern seed={REFUSING_SEED} refuse-rate=1/1000\n"
                                 "Zk48Bench.nsh image.bin bench6.bin"),
    q.Scenario("bench_refusing_state", "Zk48SimCtl.efi show"),
    # Names with a mapping: files on the second disk, the chip behind a second host controller.
    q.Scenario("stick_update", "Zk48SimCtl.efi reset decoy=refuse\nZk48Update.efi fs1:\\panel.bin"),
    q.Scenario("stick_update_state", "Zk48SimCtl.efi show"),
    q.Scenario("stick_backup", "Zk48SimCtl.efi reset fill=pattern decoy=silent\nZk48Update.efi -d fs1:\\panel0.bin"),
    q.Scenario("stick_backup_state", "Zk48SimCtl.efi show"),
    q.Scenario("stick_compare", "Zk48Update.efi -c fs1:\\panel0.bin"),
    q.Scenario("stick_compare_consistent", f"Zk48Update.efi -c {STICK_CONSISTENT[q.FIRMWARE.name]}panel0.bin"),
    q.Scenario("decoy_no_chip", "Zk48SimCtl.efi reset decoy=silent id-from=never\nZk48Update.efi -v"),
    q.Scenario("unknown_mapping", "Zk48SimCtl.efi reset\nZk48Update.efi fs7:\\panel.bin"),
    q.Scenario("unknown_mapping_backup", "Zk48Update.efi -d fs7:\\lost.bin"),
    q.Scenario("unknown_mapping_state", "Zk48SimCtl.efi show"),
    # A plain name while the shell is on the second disk: where the tool looked, and what to type.
    q.Scenario("hint", "fs1:\nZk48Update.efi panel.bin"),
    q.Scenario("hint_in_directory", "cd images\nZk48Update.efi panel.bin"),
    # From the stick, a backup's plain name is on the first disk, and its messages say so.
    q.Scenario("backup_named_from_the_stick", "Zk48Update.efi -d old.bin"),
    q.Scenario("no_hint_on_first", "fs0:\nZk48Update.efi panel.bin"),
    # A typo in the image's name: the update ends before its first block write.
    q.Scenario("bench_typo", "Zk48SimCtl.efi reset fill=pattern\nZk48Bench.nsh imgae.bin bench7.bin"),
    q.Scenario("bench_typo_state", "Zk48SimCtl.efi show"),
    # A bus at 100 kHz: every transaction takes its time on the wire.
    q.Scenario("bus_khz", f"Zk48SimCtl.efi reset bus-khz={BUS_KHZ}"),
    q.Scenario("timed_version", "Zk48Update.efi -v"),
    q.Scenario("timed_version_state", "Zk48SimCtl.efi show"),
    q.Scenario("timed_update", "Zk48Update.efi image.bin"),
    q.Scenario("timed_update_state", "Zk48SimCtl.efi show"),
]

# A rehearsal at the bench's pace, for --measure --bus-khz: each run's
# chip counts are read after it, to work out its wire time.
def paced_scenarios(khz: int) -> list[q.Scenario]:
    return [
        q.Scenario("load", "load Zk48Sim.efi"),
        q.Scenario("pattern", f"Zk48SimCtl.efi reset fill=pattern bus-khz={khz}"),
        q.Scenario("version", "Zk48Update.efi -v"),
        q.Scenario("version_state", "Zk48SimCtl.efi show"),
        q.Scenario("backup", "Zk48Update.efi -d backup.bin"),
        q.Scenario("backup_state", "Zk48SimCtl.efi show"),
        q.Scenario("update", "Zk48Update.efi image.bin"),
        q.Scenario("update_state", "Zk48SimCtl.efi show"),
        q.Scenario("compare_same", "Zk48Update.efi -c image.bin"),
        q.Scenario("compare_state", "Zk48SimCtl.efi show"),
        q.Scenario("bench_pattern", f"Zk48SimCtl.efi reset fill=pattern bus-khz={khz}"),
        q.Scenario("bench_pass", "Zk48Bench.nsh image.bin bench1.bin"),
        q.Scenario("bench_pass_state", "Zk48SimCtl.efi show"),
    ]

# Scenarios a firmware cannot run, each with the limit of the firmware that
# keeps it out; the tests that need one are skipped there, saying why.
LEFT_OUT: dict[str, dict[str, str]] = {q.OVMF.name: {}, q.UBOOT.name: {}}


class Results(dict):
    """The scenarios' results by name; one left out on this firmware skips the test."""

    rehearsal: dict[str, bytes]  # the rehearsal's disk, which the boot's disk holds

    def __missing__(self, name: str) -> q.ScenarioResult:
        reason = LEFT_OUT[q.FIRMWARE.name].get(name)
        if reason is None:
            raise KeyError(name)
        raise unittest.SkipTest(f"{name} is not run on {q.FIRMWARE.name}: {reason}")


# What scripts/rehearse.sh puts on its disk; the suite boots the same disk.
REHEARSAL_FILES = ["Zk48Bench.nsh", "Zk48Sim.cfg", "Zk48Sim.efi", "Zk48SimCtl.efi", "Zk48SimCtl.man",
                   "Zk48Update.efi", "Zk48Update.man", "sample.bin"]


def rehearsal_disk() -> dict[str, bytes]:
    """The files of the rehearsal's disk, as scripts/rehearse.sh --disk writes them."""
    with tempfile.TemporaryDirectory(prefix="zk48-rehearsal-") as out:
        subprocess.run(["bash", str(REHEARSE), "--disk", out], check=True,
                       env=dict(os.environ, ZK48_EFI_DIR=str(EFI_DIR.resolve())))
        return {p.name: p.read_bytes() for p in Path(out).iterdir()}


def boot_once(scenarios: list[q.Scenario] = SCENARIOS, timeout: float = 300) -> Results:
    rehearsal = rehearsal_disk()
    files = {**rehearsal, "image.bin": IMAGE, "short.bin": IMAGE[:100], "onebyte.bin": ONE_BYTE_OFF, "old.bin": OLD_FILE}
    stick = {"panel.bin": STICK_IMAGE, "images/readme.txt": b"the shell's cd needs a directory here\r\n"}
    scenarios = [s for s in scenarios if s.name not in LEFT_OUT[q.FIRMWARE.name]]
    results = Results(q.run_scenarios(scenarios, files, timeout=timeout, second_disk=stick))
    results.rehearsal = rehearsal
    return results


def chip_state(result: q.ScenarioResult) -> dict[str, str]:
    match = re.search(rb"ZK48SIM ([^\r\n]*)", result.raw)
    assert match, result.text
    return dict(field.split("=") for field in match.group(1).decode().split())


def run_counts(state: q.ScenarioResult, before: q.ScenarioResult | None = None) -> dict[str, int]:
    """The chip's transaction counts since the show before (or since its reset)."""
    after = chip_state(state)
    earlier = chip_state(before) if before else {}
    return {kind: int(after[kind]) - int(earlier.get(kind, 0)) for kind in ("reads", "writes", "blocks", "failed")}


def paced_seconds(counts: dict[str, int], khz: int) -> float:
    """What a run of these clean transactions must take at khz: the wire time and the pauses after blocks."""
    bits = counts["writes"] * WRITE_BYTE_BITS + counts["reads"] * READ_BYTE_BITS + counts["blocks"] * BLOCK_FRAME_BITS
    pauses = counts["blocks"] + 1 if counts["blocks"] else 0
    return bits / (khz * 1000) + pauses * BLOCK_PAUSE


def on_screen(lines: list[str | re.Pattern[str]], cols: int = 80) -> list[str | re.Pattern[str]]:
    """The lines as a console of cols columns shows them: long ones wrap."""
    shown: list[str | re.Pattern[str]] = []
    for line in lines:
        if isinstance(line, str) and len(line.rstrip()) > cols:
            line = line.rstrip()
            shown += [line[i:i + cols] for i in range(0, len(line), cols)]
        else:
            shown.append(line)
    return shown


def tool_runs(result: q.ScenarioResult) -> list[list[str]]:
    """The screen each run of the tool left, up to the next one's clearing of
    the screen (the last one with whatever the scenario printed after it)."""
    runs = []
    for piece in result.raw.split(q.CLEAR_SCREEN)[1:]:
        lines = q.screen_lines(q.render(q.CLEAR_SCREEN + piece, result.run.cols, result.run.rows))
        while lines and not lines[-1]:
            lines.pop()
        runs.append(lines)
    return runs


def printed_lines(result: q.ScenarioResult) -> list[str]:
    """Every line the scenario printed, as sent, however far the screen scrolled."""
    return q.printed_lines(result.raw)


def setting_help_lines() -> dict[str, str]:
    """The simulator's help line of each setting, by name, as its source has them."""
    return dict(re.findall(r'\{ "([a-z-]+)",\s+"(  [^"]*)" \}', SIM_SETTINGS.read_text()))


# The sections the shell shows without -verbose.
SHORT_SECTIONS = ("NAME", "SYNOPSIS", "OPTIONS", "DESCRIPTION", "EXAMPLES")


def manual_lines(verbose: bool, page: Path = MANUAL_PAGE, sections: tuple[str, ...] = SHORT_SECTIONS) -> list[str]:
    """The manual page as the shell shows it: no title or section lines, and
    only the sections asked for unless -verbose."""
    lines, section = [], ""
    for line in page.read_text(encoding="ascii").splitlines():
        if line.startswith(".SH "):
            section = line[4:]
        elif not line.startswith(".TH ") and (verbose or section in sections):
            lines.append(line)
    return lines


def progress_figures(raw: bytes) -> list[int]:
    """The figures drawn after each cursor move but the first (the clearing's home)."""
    return [int(re.match(rb"(\d+)%", chunk).group(1)) for chunk in re.split(rb"\x1b\[\d+;\d+H", raw)[2:]]


def differences(image: bytes, eeprom: bytes) -> list[str]:
    """What -c prints for the first differences between image and the E2PROM's bytes."""
    return [f" Address 0x{a:04X}: image 0x{image[a]:02X}, E2PROM 0x{eeprom[a]:02X}"
            for a in range(8192) if image[a] != eeprom[a]][:8]


def on_volume(name: str) -> str:
    """A backup's name as the tool's messages give it: a plain one after the
    shell's name of the first volume, where it is."""
    return name if ":" in name else f"FS0:\\{name}"


def backup_screen(name: str, eeprom: bytes) -> list[str | re.Pattern[str]]:
    name = on_volume(name)
    return SCANNED + [f" Backup file is: {name}", " Reading E2PROM:      100%", EQUALS,
                      f" Backup saved to {name}: 8192 bytes, CRC-32 0x{zlib.crc32(eeprom):08X}."]


def update_screen(name: str, image: bytes, mcu: int) -> list[str | re.Pattern[str]]:
    """A run that writes every block of image and reads its version byte back."""
    return SCANNED + [f" Image name is: {name} FileSize:8KB", EQUALS,
                      f" Current E2PROM MCU version: V{mcu:X}.", f" The New E2PROM MCU version: V{image[0x112F]:X}.",
                      EQUALS, " Start update Chip image:      100%", EQUALS]


def update_finished(version: int) -> list[str | re.Pattern[str]]:
    return [f" Version information verified successfully,the version is 0x{version:X}.", "", " E2PROM update finished."]


def compare_screen(name: str, image: bytes, eeprom: bytes) -> list[str | re.Pattern[str]]:
    lines = SCANNED + [f" Image name is: {name} FileSize:8KB", " Reading E2PROM:      100%", EQUALS,
                       f" Image CRC-32 0x{zlib.crc32(image):08X}, E2PROM CRC-32 0x{zlib.crc32(eeprom):08X}."]
    count = sum(a != b for a, b in zip(image, eeprom))
    if count == 0:
        return lines + [" The E2PROM is identical to the image."]
    return lines + [f" Error: {count} of 8192 bytes differ from the image:"] + differences(image, eeprom)


TIMED_OUT = [" Error: E2PROM read timed out, exit."]


def bench_lines(*lines: str) -> list[str]:
    """The bench script's own lines; each must fit in 79 columns, so that none wraps."""
    shown = [f"ZK48 BENCH: {line}" for line in lines]
    too_wide = [line for line in shown if len(line) > 79]
    if too_wide:
        raise AssertionError(f"wider than 79 columns: {too_wide}")
    return shown


def first_differences(image: bytes, eeprom: bytes) -> str:
    """What the bench script says of a compare that found differences."""
    count = sum(a != b for a, b in zip(image, eeprom))
    first = next(a for a in range(8192) if image[a] != eeprom[a])
    return f"0x1B, {count} bytes differ, the first at 0x{first:04X}."


WRITTEN = "0x0, written, version byte checked."


def compare_timed_out(name: str) -> list[str | re.Pattern[str]]:
    """A compare whose first E2PROM read never completes."""
    return SCANNED + [f" Image name is: {name} FileSize:8KB", " Reading E2PROM:",
                      " Error: E2PROM read timed out at address 0x0000, exit."]


def with_block(eeprom: bytes, address: int, source: bytes) -> bytes:
    """eeprom with the 8-byte block at address taken from source."""
    return eeprom[:address] + source[address:address + 8] + eeprom[address + 8:]


def first_difference(got: bytes, want: bytes) -> str:
    if len(got) != len(want):
        return f"{len(got)} bytes instead of {len(want)}"
    address = next((a for a in range(len(want)) if got[a] != want[a]), None)
    return "identical" if address is None else f"first difference at 0x{address:04X}: 0x{got[address]:02X} instead of 0x{want[address]:02X}"


def between(result: q.ScenarioResult, first: bytes, last: bytes) -> float | None:
    start, end = result.time_of(first), result.time_of(last)
    return None if start is None or end is None else end - start


def timings(results: Results) -> dict[str, float | None]:
    """Each figure, or None when its scenario is left out on this firmware."""
    def span(name: str, first: bytes | None = None, last: bytes | None = None) -> float | None:
        if name not in results:
            return None
        return results[name].duration if first is None else between(results[name], first, last)

    return {
        "the firmware's Stall of 1 s (shell command stall)": span("stall"),
        "write phase (start line to 100%)": span("update", b"Start update Chip image:", b"100%"),
        "whole update run": span("update"),
        "-v run": span("version"),
        "-d run (backup of 8192 bytes)": span("backup"),
        "-c run (compare of 8192 bytes)": span("compare_same"),
        "read phase of -d (after \"Reading E2PROM:\" to 100%)": span("backup", b"Reading E2PROM:", b"100%"),
        "Zk48Bench.nsh, clean run": span("bench_pass"),
        "scan from 00:1F.3 to the end of the 65536 positions": span("no_device_id", b" Intel ID.", b"Error: can't found"),
    }


class Zk48EndToEnd(unittest.TestCase):
    results: Results

    @classmethod
    def setUpClass(cls) -> None:
        cls.results = boot_once()
        for name, seconds in timings(cls.results).items():
            print(f"e2e timing on {q.FIRMWARE.name}: {name}: " + ("n/a" if seconds is None else f"{seconds:.2f} s"),
                  file=sys.stderr)

    def lines(self, name: str) -> list[str]:
        lines = self.results[name].lines
        while lines and not lines[-1]:
            lines.pop()
        return lines

    def expect(self, name: str, status: int, lines: list[str | re.Pattern[str]]) -> None:
        result = self.results[name]
        shown = self.lines(name)
        lines = on_screen(lines)
        self.assertEqual(len(shown), len(lines), "\n" + result.text)
        for got, want in zip(shown, lines):
            if isinstance(want, re.Pattern):
                self.assertRegex(got, want, "\n" + result.text)
            else:
                self.assertEqual(got, want.rstrip(), "\n" + result.text)
        self.assertEqual(result.status, status, "\n" + result.text)

    def expect_screen(self, shown: list[str], lines: list[str | re.Pattern[str]], context: str) -> None:
        """shown is the screen of lines, or its last rows when they scrolled off the top."""
        lines = on_screen(lines)
        rows = next(iter(self.results.values())).run.rows
        self.assertGreaterEqual(len(shown), min(len(lines), rows - 1), "\n" + context)
        self.assertLessEqual(len(shown), len(lines), "\n" + context)
        for got, want in zip(shown, lines[len(lines) - len(shown):]):
            if isinstance(want, re.Pattern):
                self.assertRegex(got, want, "\n" + context)
            else:
                self.assertEqual(got, want.rstrip(), "\n" + context)

    def expect_runs(self, name: str, status: int, runs: list[list[str | re.Pattern[str]]]) -> None:
        """The scenario ran the tool once for each of runs, each leaving that screen."""
        result = self.results[name]
        shown = tool_runs(result)
        context = "\n\n".join("\n".join(run) for run in shown)
        self.assertEqual(len(shown), len(runs), "\n" + context)
        for got, want in zip(shown, runs):
            self.expect_screen(got, want, context)
        self.assertEqual(result.status, status, "\n" + context)

    def expect_file(self, name: str, data: bytes) -> None:
        files = next(iter(self.results.values())).run.disk_files
        self.assertIn(name, files, sorted(files))
        self.assertTrue(files[name] == data, f"{name}: {first_difference(files[name], data)}")

    def test_no_simulator_loaded(self) -> None:
        self.expect("no_simulator", NOT_FOUND,
                    BANNER + ["", EQUALS, " Error: SMBus host controller protocol not found, exit."])

    def test_simulator_loads(self) -> None:
        self.assertEqual(self.results["load"].status, SUCCESS)
        self.assertIn(f"E2PROM CRC-32 {eeprom_crc(0xFF, CHIP_VERSION)}", self.results["load"].text)

    def test_no_argument(self) -> None:
        self.expect("no_argument", INVALID_PARAMETER, BANNER + [
            " Error: No bin file name parameter or Command missing -v parameters, program exit."])

    def test_version_query(self) -> None:
        self.expect("version", SUCCESS, BANNER + ["", EQUALS] + Q35_CONTROLLER + [
            CHIP_FOUND, EQUALS, f"The E2PROM version is 0x{CHIP_VERSION:X}."])

    def test_update(self) -> None:
        self.expect("update", SUCCESS, BANNER + ["", EQUALS] + Q35_CONTROLLER + [
            CHIP_FOUND, EQUALS,
            " Image name is: image.bin FileSize:8KB",
            EQUALS,
            f" Current E2PROM MCU version: V{CHIP_MCU:X}.",
            f" The New E2PROM MCU version: V{IMAGE_VERSION:X}.",
            EQUALS,
            " Start update Chip image:      100%",
            EQUALS,
            f" Version information verified successfully,the version is 0x{IMAGE_VERSION:X}.",
            "",
            " E2PROM update finished."])
        state = chip_state(self.results["update_state"])
        self.assertEqual(state["crc"], f"{zlib.crc32(IMAGE):08X}")
        self.assertEqual(state["blocks"], "1024")
        self.assertEqual(state["failed"], "0")
        self.expect("version_after", SUCCESS, self.lines("version")[:-1] + [f"The E2PROM version is 0x{IMAGE_VERSION:X}."])

    def test_progress_is_redrawn_in_place(self) -> None:
        result = self.results["update"]
        start_row = self.lines("update").index(" Start update Chip image:      100%") + 1
        saved = (start_row, len(" Start update Chip image:      ") + 1)
        moves = result.cursor_moves()
        # ClearScreen homes the cursor; every other move goes to the saved position.
        self.assertEqual(moves[0], (1, 1))
        self.assertEqual(moves[1:], [saved] * 1025)
        self.assertEqual(progress_figures(result.raw), [((offset + 1) * 100) >> 13 for offset in range(0, 8192, 8)] + [100])

    def test_chip_that_ignores_writes(self) -> None:
        shown = self.lines("ignored")
        self.assertEqual(shown[-3:], on_screen([EQUALS, " Version information validation error,the bin version is 0x5A and the E2PROM version is 0x50."]))
        self.assertEqual(self.results["ignored"].status, DEVICE_ERROR)
        state = chip_state(self.results["ignored_state"])
        self.assertEqual((state["crc"], state["blocks"]), (eeprom_crc(0xFF, 0x50), "1024"))

    def test_missing_file(self) -> None:
        self.expect("missing_file", NOT_FOUND, self.lines("version")[:-1] + [" Image name is: nothere.binopen: fail_Not Found"])

    def test_file_of_wrong_size(self) -> None:
        self.expect("wrong_size", BAD_BUFFER_SIZE, self.lines("version")[:-1] + [
            " Image name is: short.bin FileSize:0KB",
            " File size 100 is not right, must be 8k Byte,exit."])
        state = chip_state(self.results["wrong_size_state"])
        self.assertEqual((state["blocks"], state["crc"]), ("0", eeprom_crc(0xFF, 0xFF)))

    def test_help_touches_nothing(self) -> None:
        self.expect("usage", SUCCESS, BANNER + USAGE)

    def test_manual_page_through_the_shell(self) -> None:
        for name, verbose in (("manual_by_option", False), ("manual_by_help", False), ("manual_verbose", True)):
            with self.subTest(name):
                result = self.results[name]
                self.assertNotIn(q.CLEAR_SCREEN, result.raw, "the shell answers, the tool does not run")
                self.assertEqual(printed_lines(result), manual_lines(verbose))
                self.assertEqual(result.status, SUCCESS)
        bench = self.results["manual_bench_section"]
        self.assertEqual(printed_lines(bench), manual_lines(False, sections=("BENCH SCRIPT",)))
        self.assertIn("  0x6  STOPPED: the update ended before its first block write (any status", printed_lines(bench))

    def test_manual_page_fits_its_first_screen(self) -> None:
        # What help shows without -verbose stays on the screen whole, between
        # the command line and the next prompt: the synopsis and every command.
        shown, page = self.lines("manual_by_help"), manual_lines(False)
        rows = self.results["manual_by_help"].run.rows
        self.assertLessEqual(len(page), rows - 2)
        self.assertEqual(shown[-len(page):], [line.rstrip() for line in page])
        for line in manual_lines(False, sections=("SYNOPSIS", "OPTIONS")):
            self.assertIn(line.rstrip(), shown)
        self.assertIn("help Zk48Update -verbose", " ".join(page))

    def test_simulator_control_has_a_manual_page(self) -> None:
        result = self.results["simctl_manual"]
        self.assertEqual(printed_lines(result), manual_lines(False, SIMCTL_MANUAL_PAGE))
        self.assertEqual(result.status, SUCCESS)
        # Every setting, in the words of the control program's own help.
        options = manual_lines(False, SIMCTL_MANUAL_PAGE, ("OPTIONS",))
        self.assertEqual([line for line in options if line in setting_help_lines().values()],
                         list(setting_help_lines().values()))

    def test_rehearsal_disk_holds_everything_a_rehearsal_needs(self) -> None:
        disk = self.results.rehearsal
        self.assertEqual(sorted(disk), REHEARSAL_FILES)
        self.assertEqual(disk["Zk48Bench.nsh"], BENCH_SCRIPT.read_bytes())
        self.assertEqual((len(disk["sample.bin"]), disk["sample.bin"][0x112F]), (8192, IMAGE_VERSION))

    def device_id_check(self, answer: str) -> str:
        """The scan's line for the device-ID check behind q35's controller."""
        base = re.search(r"SMBaddr = (0x[0-9A-F]+)", self.results["version"].text).group(1)
        return f" Device ID check at 00:1F.3 (SMBus {base}): 6 reads, {answer}; the ZK48 answers 0x11."

    def test_simulator_control_helps_and_names_a_refused_rule(self) -> None:
        help_lines = setting_help_lines()
        self.assertIn("drop-block", help_lines)
        for name in ("simctl_help", "simctl_no_argument"):
            with self.subTest(name):
                self.assertEqual(printed_lines(self.results[name]),
                                 ["Zk48SimCtl.efi SETTING ...: changes the loaded chip simulator, in order."]
                                 + list(help_lines.values()))
                self.assertEqual(self.results[name].status, SUCCESS)
        refused = self.results["drop_inside_block"]
        self.assertEqual(printed_lines(refused), ["Zk48SimCtl: setting not understood: drop-block=0x0801",
                                                  help_lines["drop-block"]])
        self.assertEqual(refused.status, INVALID_PARAMETER)
        self.assertEqual(chip_state(self.results["drop_inside_block_state"]),
                         chip_state(self.results["bus_faults_shown"]))

    def test_device_id_never_answers(self) -> None:
        self.expect("no_device_id", NOT_FOUND, BANNER + ["", EQUALS] + Q35_CONTROLLER + [
            NOT_FOUND_LINE, self.device_id_check("all answered 0xFF")])

    def test_scan_tells_another_device_from_a_silent_bus(self) -> None:
        for name, answer in (("other_device_id", "all answered 0x12"), ("bus_refuses", "all refused (Device Error)")):
            with self.subTest(name):
                self.expect(name, NOT_FOUND, BANNER + ["", EQUALS] + Q35_CONTROLLER + [
                    NOT_FOUND_LINE, self.device_id_check(answer)])

    def test_completion_flag_never_sets(self) -> None:
        self.expect("status_stuck", TIMEOUT, self.lines("version")[:-1] + [" Error: E2PROM read timed out, exit."])
        state = chip_state(self.results["status_stuck_state"])
        # The device-ID write and read, three set-up writes, then the bounded wait.
        self.assertEqual(state["transactions"], str(2 + 3 + 10000))

    def test_simulator_shows_its_bus_faults_as_set(self) -> None:
        defaults = chip_state(self.results["update_state"])
        self.assertEqual({name: defaults[name] for name in ("ignored", "refuse-every", "refuse-rate", "ignore-rate", "seed")},
                         {"ignored": "0", "refuse-every": "never", "refuse-rate": "0", "ignore-rate": "0", "seed": "0"})
        shown = chip_state(self.results["bus_faults_shown"])
        self.assertEqual({name: shown[name] for name in ("refuse-every", "refuse-rate", "ignore-rate", "seed", "drop-block")},
                         {"refuse-every": "5", "refuse-rate": "1/1000", "ignore-rate": "1/10000", "seed": "4294967295",
                          "drop-block": "never"})
        self.assertEqual(list(shown)[-1], "drop-block")
        # Every write of ignore-writes=1 counts as ignored.
        self.assertEqual(chip_state(self.results["ignored_state"])["ignored"], "1024")

    def test_backup_of_every_byte(self) -> None:
        self.expect("backup", SUCCESS, backup_screen("backup.bin", PATTERN))
        self.expect_file("backup.bin", PATTERN)
        state = chip_state(self.results["backup_state"])
        self.assertEqual((state["crc"], state["blocks"]), (f"{zlib.crc32(PATTERN):08X}", "0"))
        # The aim of the bench faults below rests on this count.
        self.assertEqual(state["transactions"], str(BACKUP_TRANSACTIONS))

    def test_backup_progress_is_redrawn_only_when_it_changes(self) -> None:
        result = self.results["backup"]
        row = self.lines("backup").index(" Reading E2PROM:      100%") + 1
        moves = result.cursor_moves()
        self.assertEqual(moves[0], (1, 1))
        self.assertEqual(moves[1:], [(row, len(" Reading E2PROM:      ") + 1)] * 101)
        self.assertEqual(progress_figures(result.raw), list(range(101)))

    def test_compare_with_the_same_image(self) -> None:
        self.expect("compare_same", SUCCESS, compare_screen("backup.bin", PATTERN, PATTERN))

    def test_compare_finds_one_byte(self) -> None:
        self.expect("compare_one_byte", CRC_ERROR, compare_screen("onebyte.bin", ONE_BYTE_OFF, PATTERN))
        self.assertIn(f" Address 0x{ONE_BYTE_ADDRESS:04X}: ", self.results["compare_one_byte"].text)
        state = chip_state(self.results["compare_state"])
        # A backup and two compares, every byte read twice, nothing more: reads only, nothing written.
        self.assertEqual((state["crc"], state["blocks"], state["transactions"]),
                         (f"{zlib.crc32(PATTERN):08X}", "0", str(BACKUP_TRANSACTIONS + 2 * WHOLE_READ_TRANSACTIONS)))

    def test_backup_never_overwrites_a_file(self) -> None:
        self.expect("backup_exists", ACCESS_DENIED, SCANNED + [
            " Backup file is: FS0:\\old.bin", " Error: FS0:\\old.bin already exists, it is not overwritten, exit."])
        self.expect_file("old.bin", OLD_FILE)
        # Refused before the first E2PROM read.
        self.assertEqual(chip_state(self.results["backup_exists_state"])["transactions"], str(SCAN_TRANSACTIONS))

    def test_backup_reads_again_what_the_passes_disagree_on(self) -> None:
        screen = backup_screen("ignored.bin", PATTERN)
        self.expect("backup_ignored", SUCCESS, screen[:-1] + [
            " Note: 1 E2PROM byte was read again until two reads agreed."] + screen[-1:])
        self.expect_file("ignored.bin", PATTERN)

    def test_backup_refuses_an_option_as_its_name(self) -> None:
        self.expect("backup_option_name", INVALID_PARAMETER, BANNER + [
            " Error: -d needs a file name, -v is an option, program exit."])
        self.assertNotIn("-v", next(iter(self.results.values())).run.disk_files)

    def test_bench_script_needs_both_names(self) -> None:
        self.assertNotIn(q.CLEAR_SCREEN, self.results["bench_usage"].raw)
        self.assertEqual(self.lines("bench_usage")[-1],
                         "usage: Zk48Bench.nsh IMAGE BACKUP   (BACKUP: a new file to save the E2PROM in)")
        self.assertEqual(self.results["bench_usage"].status, BENCH_USAGE)

    def test_bench_script_passes(self) -> None:
        self.expect_runs("bench_pass", BENCH_PASS, [
            backup_screen("bench1.bin", PATTERN),
            update_screen("image.bin", IMAGE, RESET_MCU) + update_finished(IMAGE_VERSION),
            compare_screen("image.bin", IMAGE, IMAGE) + bench_lines(
                "-d bench1.bin: 0x0, backup saved.", f"image.bin: {WRITTEN}", "-c image.bin: 0x0, identical.",
                "PASS, image.bin written and identical.")])
        self.expect_file("bench1.bin", PATTERN)
        state = chip_state(self.results["bench_pass_state"])
        self.assertEqual((state["crc"], state["blocks"]), (f"{zlib.crc32(IMAGE):08X}", "1024"))
        self.assertEqual(state["transactions"], str(BACKUP_TRANSACTIONS + WHOLE_READ_TRANSACTIONS + UPDATE_TRANSACTIONS))

    def test_bench_script_never_updates_without_a_backup(self) -> None:
        self.expect_runs("bench_backup_taken", BENCH_NO_BACKUP, [SCANNED + [
            " Backup file is: FS0:\\bench1.bin", " Error: FS0:\\bench1.bin already exists, it is not overwritten, exit.",
            "ZK48 BENCH: STOPPED, no backup in bench1.bin, the panel was not written."]])
        state = chip_state(self.results["bench_backup_taken_state"])
        self.assertEqual((state["crc"], state["blocks"]), (f"{zlib.crc32(PATTERN):08X}", "0"))

    def test_bench_script_restores_a_silently_lost_block(self) -> None:
        written = with_block(IMAGE, DROPPED_BLOCK, PATTERN)
        self.expect_runs("bench_restored", BENCH_RESTORED, [
            backup_screen("bench2.bin", PATTERN),
            # The one-byte check cannot see the lost block ...
            update_screen("image.bin", IMAGE, RESET_MCU) + update_finished(IMAGE_VERSION),
            # ... the compare names its addresses.
            compare_screen("image.bin", IMAGE, written),
            update_screen("bench2.bin", PATTERN, RESET_MCU) + update_finished(PATTERN[0x112F]),
            compare_screen("bench2.bin", PATTERN, PATTERN) + bench_lines(
                "-d bench2.bin: 0x0, backup saved.", f"image.bin: {WRITTEN}",
                # What the compare that decided found, cleared from the screen since.
                "-c image.bin: " + first_differences(IMAGE, written),
                f"bench2.bin: {WRITTEN}", "-c bench2.bin: 0x0, identical.",
                "FAIL, the panel holds its previous image again.")])
        # Else the lost block would not show.
        self.assertNotEqual(IMAGE[DROPPED_BLOCK:DROPPED_BLOCK + 8], PATTERN[DROPPED_BLOCK:DROPPED_BLOCK + 8])
        self.expect_file("bench2.bin", PATTERN)
        state = chip_state(self.results["bench_restored_state"])
        self.assertEqual((state["crc"], state["blocks"]), (f"{zlib.crc32(PATTERN):08X}", "2048"))

    def test_bench_script_says_when_the_restore_did_not_take(self) -> None:
        left = with_block(PATTERN, RESTORE_BLOCK, IMAGE)
        self.expect_runs("bench_not_restored", BENCH_NOT_RESTORED, [
            backup_screen("bench3.bin", PATTERN),
            update_screen("image.bin", IMAGE, RESET_MCU) + update_finished(IMAGE_VERSION),
            compare_screen("image.bin", IMAGE, with_block(IMAGE, DROPPED_BLOCK, PATTERN)),
            update_screen("bench3.bin", PATTERN, RESET_MCU) + update_finished(PATTERN[0x112F]),
            compare_screen("bench3.bin", PATTERN, left) + bench_lines(
                "-d bench3.bin: 0x0, backup saved.", f"image.bin: {WRITTEN}",
                "-c image.bin: " + first_differences(IMAGE, with_block(IMAGE, DROPPED_BLOCK, PATTERN)),
                f"bench3.bin: {WRITTEN}", "-c bench3.bin: " + first_differences(PATTERN, left),
                "FAIL, the panel does NOT hold its previous image.")])
        self.expect_file("bench3.bin", PATTERN)
        state = chip_state(self.results["bench_not_restored_state"])
        self.assertEqual((state["crc"], state["blocks"]), (f"{zlib.crc32(left):08X}", "2048"))

    def test_bench_script_does_not_guess_when_the_chip_cannot_be_read(self) -> None:
        self.expect_runs("bench_unknown", BENCH_UNKNOWN, [
            backup_screen("bench4.bin", PATTERN),
            update_screen("image.bin", IMAGE, RESET_MCU) + TIMED_OUT,
            update_screen("bench4.bin", PATTERN, RESET_MCU) + TIMED_OUT,
            compare_timed_out("bench4.bin") + bench_lines(
                "-d bench4.bin: 0x0, backup saved.", "image.bin: 0x12, version byte not read back.",
                "-c image.bin: not made, the update failed.", "bench4.bin: 0x12, version byte not read back.",
                "-c bench4.bin: 0x12, an E2PROM read timed out.",
                "FAIL, unknown whether the panel holds its previous image.")])
        self.expect_file("bench4.bin", PATTERN)
        # The backup did go back: only reading could not show it.
        state = chip_state(self.results["bench_unknown_state"])
        self.assertEqual((state["crc"], state["blocks"]), (f"{zlib.crc32(PATTERN):08X}", "2048"))

    def test_bench_script_tells_a_compare_not_made_from_a_difference(self) -> None:
        self.expect_runs("bench_not_compared", BENCH_UNKNOWN, [
            backup_screen("bench5.bin", PATTERN),
            update_screen("image.bin", IMAGE, RESET_MCU) + update_finished(IMAGE_VERSION),
            compare_timed_out("image.bin"),
            update_screen("bench5.bin", PATTERN, RESET_MCU) + TIMED_OUT,
            compare_timed_out("bench5.bin") + bench_lines(
                "-d bench5.bin: 0x0, backup saved.", f"image.bin: {WRITTEN}",
                "-c image.bin: 0x12, an E2PROM read timed out.", "bench5.bin: 0x12, version byte not read back.",
                "-c bench5.bin: 0x12, an E2PROM read timed out.",
                "FAIL, unknown whether the panel holds its previous image.")])
        self.expect_file("bench5.bin", PATTERN)
        state = chip_state(self.results["bench_not_compared_state"])
        self.assertEqual((state["crc"], state["blocks"]), (f"{zlib.crc32(PATTERN):08X}", "2048"))

    def test_bench_script_never_writes_a_panel_the_update_left_alone(self) -> None:
        self.expect_runs("bench_typo", BENCH_NOT_WRITTEN, [
            backup_screen("bench7.bin", PATTERN),
            SCANNED + [" Image name is: imgae.binopen: fail_Not Found"] + bench_lines(
                "-d bench7.bin: 0x0, backup saved.", "imgae.bin: 0xE, nothing written.",
                "STOPPED, the panel was not written, nothing was written back.")])
        self.expect_file("bench7.bin", PATTERN)
        # After the backup, the scan of the update and nothing more: no block written back.
        state = chip_state(self.results["bench_typo_state"])
        self.assertEqual((state["crc"], state["blocks"], state["transactions"]),
                         (f"{zlib.crc32(PATTERN):08X}", "0", str(BACKUP_TRANSACTIONS + SCAN_TRANSACTIONS)))

    def test_bench_script_passes_on_a_bus_that_refuses_at_random(self) -> None:
        result = self.results["bench_refusing"]
        runs = tool_runs(result)
        self.assertEqual(len(runs), 3, result.text)
        self.assertEqual(runs[-1][-1], "ZK48 BENCH: PASS, image.bin written and identical.")
        self.assertEqual(result.status, BENCH_PASS)
        self.expect_file("bench6.bin", PATTERN)
        state = chip_state(self.results["bench_refusing_state"])
        self.assertEqual((state["crc"], state["refuse-rate"], state["seed"]),
                         (f"{zlib.crc32(IMAGE):08X}", "1/1000", str(REFUSING_SEED)))
        # Each run that met a refusal says how many it sent again: every one the bus refused.
        resent = [int(match.group(1)) for run in runs for line in run if (match := RETRY_NOTE.fullmatch(line))]
        self.assertGreater(len(resent), 0, result.text)
        self.assertEqual(sum(resent), int(state["failed"]))

    def expect_stick_file(self, name: str, data: bytes) -> None:
        """name is on the second disk, holding data, and not on the first."""
        run = next(iter(self.results.values())).run
        self.assertIn(name, run.second_disk_files, sorted(run.second_disk_files))
        self.assertTrue(run.second_disk_files[name] == data, f"{name}: {first_difference(run.second_disk_files[name], data)}")
        self.assertNotIn(name, run.disk_files)

    def test_update_from_the_second_disk_through_the_second_host_controller(self) -> None:
        self.expect("stick_update", SUCCESS, update_screen("fs1:\\panel.bin", STICK_IMAGE, RESET_MCU)
                    + update_finished(STICK_VERSION))
        state = chip_state(self.results["stick_update_state"])
        # The decoy came first and saw the device-ID check only; the chip saw a whole update, as with one.
        self.assertEqual((state["crc"], state["blocks"], state["transactions"], state["failed"]),
                         (f"{zlib.crc32(STICK_IMAGE):08X}", "1024", str(UPDATE_TRANSACTIONS), "0"))
        self.assertEqual((state["decoy"], state["decoy-transactions"]), ("refuse", str(DECOY_REFUSING_TRANSACTIONS)))

    def test_backup_and_compare_on_the_second_disk(self) -> None:
        self.expect("stick_backup", SUCCESS, backup_screen("fs1:\\panel0.bin", PATTERN))
        self.expect_stick_file("panel0.bin", PATTERN)
        state = chip_state(self.results["stick_backup_state"])
        self.assertEqual((state["transactions"], state["decoy"], state["decoy-transactions"]),
                         (str(BACKUP_TRANSACTIONS), "silent", str(DECOY_TRANSACTIONS)))
        self.expect("stick_compare", SUCCESS, compare_screen("fs1:\\panel0.bin", PATTERN, PATTERN))
        consistent = STICK_CONSISTENT[q.FIRMWARE.name] + "panel0.bin"
        self.expect("stick_compare_consistent", SUCCESS, compare_screen(consistent, PATTERN, PATTERN))

    def test_scan_names_the_driver_of_each_check(self) -> None:
        lines = [self.device_id_check("all answered 0xFF").replace("):", f", driver {n} of 2):") for n in (1, 2)]
        self.expect("decoy_no_chip", NOT_FOUND, BANNER + ["", EQUALS] + Q35_CONTROLLER + [NOT_FOUND_LINE] + lines)

    def test_unknown_mapping_touches_nothing(self) -> None:
        self.expect("unknown_mapping", NOT_FOUND, SCANNED + [" Image name is: fs7:\\panel.binopen: fail_Not Found",
                                                             NO_VOLUME_FS7])
        self.expect("unknown_mapping_backup", NOT_FOUND, SCANNED + [
            " Backup file is: fs7:\\lost.bin", " Error: cannot create fs7:\\lost.bin: Not Found, exit.", NO_VOLUME_FS7])
        run = next(iter(self.results.values())).run
        self.assertFalse([name for name in [*run.disk_files, *run.second_disk_files] if "lost" in name])
        # The scans' transactions, nothing after them.
        state = chip_state(self.results["unknown_mapping_state"])
        self.assertEqual((state["transactions"], state["blocks"]), (str(2 * SCAN_TRANSACTIONS), "0"))

    def test_plain_name_says_where_it_looked_when_the_shell_is_elsewhere(self) -> None:
        missing = " Image name is: panel.binopen: fail_Not Found"
        for name, here in (("hint", "FS1:\\panel.bin"), ("hint_in_directory", "FS1:\\images\\panel.bin")):
            with self.subTest(name):
                self.expect(name, NOT_FOUND, SCANNED + [
                    missing, f" Looked on FS0: (the first volume); from here, name it {here}"])
        self.expect("no_hint_on_first", NOT_FOUND, SCANNED + [missing])

    def test_backup_messages_name_the_volume_from_the_stick(self) -> None:
        self.expect("backup_named_from_the_stick", ACCESS_DENIED, SCANNED + [
            " Backup file is: FS0:\\old.bin", " Error: FS0:\\old.bin already exists, it is not overwritten, exit."])

    def test_bus_at_100khz_takes_the_wire_time(self) -> None:
        self.expect("timed_version", SUCCESS, SCANNED + ["The E2PROM version is 0xFF."])
        self.expect("timed_update", SUCCESS, update_screen("image.bin", IMAGE, RESET_MCU) + update_finished(IMAGE_VERSION))
        self.assertEqual(chip_state(self.results["timed_update_state"])["bus-khz"], str(BUS_KHZ))
        version = run_counts(self.results["timed_version_state"])
        update = run_counts(self.results["timed_update_state"], self.results["timed_version_state"])
        # The device-ID check, then twice three set-up writes, three polls and the data read.
        self.assertEqual(version, {"reads": 1 + 2 * (3 + 1), "writes": 1 + 2 * 3, "blocks": 0, "failed": 0})
        # The device-ID check, the MCU version, the blocks, the version read back.
        self.assertEqual(update, {"reads": 1 + 1 + 3 + 1, "writes": 1 + 3, "blocks": 1024, "failed": 0})
        # Every wait is the firmware's Stall, as fast as its own (U-Boot's takes about half the time asked for).
        pace = min(1.0, self.results["stall"].duration)
        for name, counts in (("timed_version", version), ("timed_update", update)):
            least, took = paced_seconds(counts, BUS_KHZ) * pace, self.results[name].duration
            print(f"e2e timing on {q.FIRMWARE.name} at {BUS_KHZ} kHz: {name}: {took:.2f} s, "
                  f"wire time and pauses at the firmware's pace {least:.3f} s", file=sys.stderr)
            self.assertGreaterEqual(took, least, name)
            self.assertLessEqual(took, least + TIMING_MARGIN, name)


# The runs measured, with the show after each (None: its counts are not read).
MEASURED = [("-v run", "version", "version_state", None),
            ("-d run (backup of 8192 bytes)", "backup", "backup_state", "version_state"),
            ("whole update run", "update", "update_state", "backup_state"),
            ("-c run (compare of 8192 bytes)", "compare_same", "compare_state", "update_state"),
            ("Zk48Bench.nsh, clean run", "bench_pass", "bench_pass_state", None)]


def paced_timings(results: dict[str, q.ScenarioResult], khz: int) -> dict[str, tuple[float, float]]:
    """Each measured run's time and the wire time and pauses its transactions need."""
    for name, result in results.items():
        if result.status != SUCCESS:
            raise AssertionError(f"{name} ended with status {result.status}:\n{result.text}")
    timed = {}
    for label, run, state, before in MEASURED:
        counts = run_counts(results[state], results[before] if before else None)
        timed[label] = (results[run].duration, paced_seconds(counts, khz))
    return timed


def spread(values: list[float]) -> str:
    return f"median {statistics.median(values):.2f} s (min {min(values):.2f}, max {max(values):.2f})"


def measure(boots: int, khz: int) -> None:
    print(f"{q.FIRMWARE.name}, load before: {os.getloadavg()}")
    if khz:
        runs = []
        for boot in range(boots):
            runs.append(paced_timings(boot_once(paced_scenarios(khz), timeout=900), khz))
            # The host's load says how far a boot's pauses overshot.
            print(f"boot {boot + 1}, load {os.getloadavg()[0]:.1f}: "
                  + ", ".join(f"{name.split(' (')[0]} {took:.2f} s" for name, (took, _) in runs[-1].items()), flush=True)
        for name in runs[0]:
            print(f"{q.FIRMWARE.name}: {name} at {khz} kHz: {spread([run[name][0] for run in runs])}, {boots} boots; "
                  f"wire time and pauses {runs[0][name][1]:.2f} s")
    else:
        runs = [timings(boot_once()) for _ in range(boots)]
        for name in runs[0]:
            values = [run[name] for run in runs if run[name] is not None]
            if values:
                print(f"{q.FIRMWARE.name}: {name}: {spread(values)}, {boots} boots")
    print(f"load after: {os.getloadavg()}")


if __name__ == "__main__":
    if sys.argv[1:2] == ["--measure"]:
        measure(int(sys.argv[2]), int(sys.argv[4]) if sys.argv[3:4] == ["--bus-khz"] else 0)
    else:
        unittest.main(verbosity=2)
