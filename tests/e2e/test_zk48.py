#!/usr/bin/python3
"""End-to-end tests of Zk48Update.efi in OVMF's UEFI shell under QEMU.

One boot runs every scenario: first without the chip simulator, then with
Zk48Sim.efi loaded, each fault set with Zk48SimCtl.efi before the run it
concerns. Each scenario checks the screen a person sees, the raw console
stream, the exit status through %lasterror% and the chip's final state.

Run: /usr/bin/python3 tests/e2e/test_zk48.py            (needs build/efi/*.efi)
     /usr/bin/python3 tests/e2e/test_zk48.py --measure 5 (timings, medians of 5 boots)
The images are looked for in $ZK48_EFI_DIR, by default build/efi.
"""

from __future__ import annotations

import os
import random
import re
import statistics
import sys
import unittest
import zlib
from pathlib import Path

sys.dont_write_bytecode = True
sys.path.insert(0, str(Path(__file__).resolve().parent))
import qemu_shell as q  # noqa: E402

ROOT = Path(__file__).resolve().parents[2]
EFI_DIR = Path(os.environ.get("ZK48_EFI_DIR", ROOT / "build" / "efi"))

IMAGE_VERSION = 0x5A
CHIP_VERSION = 0x4C
CHIP_MCU = 0x21
SETTINGS = f"# the chip as the bench has it before the update\nmcu=0x{CHIP_MCU:02X}\nversion=0x{CHIP_VERSION:02X}\n"

# %lasterror% as the shell shows it: the error bit dropped.
SUCCESS, INVALID_PARAMETER, BAD_BUFFER_SIZE, DEVICE_ERROR, NOT_FOUND, TIMEOUT = 0, 2, 4, 7, 14, 18

EQUALS = "=" * 48
BANNER = [EQUALS,
          " This tool is used for updating the ZK48 Chip image.",
          " Software support cmd-one format:xxx.efi xxx.bin.",
          " Software support cmd-two format:xxx.efi -v.",
          " Software version: 2.7.2"]
# q35's ICH9 SMBus controller, as the scan shows it.
Q35_CONTROLLER = [" Found SMBus device:", " Bus Dev Func Vendor Device Revision", " 00 1F 03  8086 2930 02", " Intel ID."]
CHIP_FOUND = re.compile(r" Found Chip on Addr = 0x8000FB20, SMBaddr = 0x[0-9A-F]*[02468ACE]$")


def make_image(version: int) -> bytes:
    image = bytearray(random.Random(48).randbytes(8192))
    image[0x112F] = version
    return bytes(image)


IMAGE = make_image(IMAGE_VERSION)


def eeprom_crc(fill: int, version: int) -> str:
    eeprom = bytearray([fill] * 8192)
    eeprom[0x112F] = version
    return f"{zlib.crc32(eeprom):08X}"


SCENARIOS = [
    q.Scenario("no_simulator", "Zk48Update.efi -v"),
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
    q.Scenario("status_stuck", "Zk48SimCtl.efi reset ready-after=never\nZk48Update.efi -v"),
    q.Scenario("status_stuck_state", "Zk48SimCtl.efi show"),
]


def boot_once() -> dict[str, q.ScenarioResult]:
    files = {name: EFI_DIR / name for name in ("Zk48Update.efi", "Zk48Sim.efi", "Zk48SimCtl.efi")}
    files.update({"image.bin": IMAGE, "short.bin": IMAGE[:100], "Zk48Sim.cfg": SETTINGS.encode()})
    return q.run_scenarios(SCENARIOS, files, timeout=180)


def chip_state(result: q.ScenarioResult) -> dict[str, str]:
    match = re.search(rb"ZK48SIM ([^\r\n]*)", result.raw)
    assert match, result.text
    return dict(field.split("=") for field in match.group(1).decode().split())


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


def between(result: q.ScenarioResult, first: bytes, last: bytes) -> float | None:
    start, end = result.time_of(first), result.time_of(last)
    return None if start is None or end is None else end - start


def timings(results: dict[str, q.ScenarioResult]) -> dict[str, float | None]:
    update = results["update"]
    return {
        "write phase (start line to 100%)": between(update, b"Start update Chip image:", b"100%"),
        "whole update run": update.duration,
        "-v run": results["version"].duration,
        "scan from 00:1F.3 to the end of the 65536 positions": between(results["no_device_id"], b" Intel ID.", b"Error: can't found"),
    }


class Zk48EndToEnd(unittest.TestCase):
    results: dict[str, q.ScenarioResult]

    @classmethod
    def setUpClass(cls) -> None:
        cls.results = boot_once()
        for name, seconds in timings(cls.results).items():
            print(f"e2e timing: {name}: " + ("n/a" if seconds is None else f"{seconds:.2f} s"), file=sys.stderr)

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
        after_moves = re.split(rb"\x1b\[\d+;\d+H", result.raw)[2:]
        figures = [int(re.match(rb"(\d+)%", chunk).group(1)) for chunk in after_moves]
        self.assertEqual(figures, [((offset + 1) * 100) >> 13 for offset in range(0, 8192, 8)] + [100])

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

    def test_device_id_never_answers(self) -> None:
        self.expect("no_device_id", NOT_FOUND, BANNER + ["", EQUALS] + Q35_CONTROLLER + [
            "Error: can't found any supported SMBus device,exit."])

    def test_completion_flag_never_sets(self) -> None:
        self.expect("status_stuck", TIMEOUT, self.lines("version")[:-1] + [" Error: E2PROM read timed out, exit."])
        state = chip_state(self.results["status_stuck_state"])
        # The device-ID write and read, three set-up writes, then the bounded wait.
        self.assertEqual(state["transactions"], str(2 + 3 + 10000))


def measure(boots: int) -> None:
    runs = [timings(boot_once()) for _ in range(boots)]
    for name in runs[0]:
        values = [run[name] for run in runs if run[name] is not None]
        print(f"{name}: median {statistics.median(values):.2f} s (min {min(values):.2f}, max {max(values):.2f}, {boots} boots)")


if __name__ == "__main__":
    if sys.argv[1:2] == ["--measure"]:
        measure(int(sys.argv[2]))
    else:
        unittest.main(verbosity=2)
