#!/usr/bin/python3
"""End-to-end tests of Zk48Update.efi started by the boot manager, as an
operating system schedules it (efibootmgr's boot entry with unicode
optional data, BootNext), on OVMF's Secure Boot build with Debian's test
key store: no shell, no one at the console.

The images are signed with the enrolled test key when the tests run
(sbsign); the unsigned tool is offered too. Two boots share one disk and
one variable store, whose entries are written before each boot as an
operating system would write them (ovmf_vars.py):

1. Driver0100 loads the signed simulator; BootNext names Boot0100, the
   signed tool with "image.bin -l zk48.log". The update runs, the record
   is appended, and the tool restarts the machine, which ends QEMU (it
   runs with -no-reboot): a boot entry's run goes back to the operating
   system, not to the boot manager's menu.
2. The simulator's settings now keep its device ID silent. BootOrder
   names Boot0101, the unsigned tool, which the firmware refuses, then the
   firmware's own shell, which refuses to run under Secure Boot, then
   Boot0102, the signed tool with "-v -l zk48.log", which finds no chip,
   appends its own line and restarts the machine all the same.

Run: /usr/bin/python3 tests/e2e/test_unattended.py   (needs build/efi/*.efi, sbsigntool)
"""

from __future__ import annotations

import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import zlib
from pathlib import Path

sys.dont_write_bytecode = True
sys.path.insert(0, str(Path(__file__).resolve().parent))
import ovmf_vars as v  # noqa: E402
import qemu_shell as q  # noqa: E402

ROOT = Path(__file__).resolve().parents[2]
EFI_DIR = Path(os.environ.get("ZK48_EFI_DIR", ROOT / "build" / "efi"))
# Debian's test key, enrolled in OVMF_VARS_4M.snakeoil.fd; its passphrase is published with it.
TEST_KEY = Path("/usr/share/ovmf/PkKek-1-snakeoil.key")
TEST_CERT = Path("/usr/share/ovmf/PkKek-1-snakeoil.pem")
TEST_KEY_PASSPHRASE = "snakeoil"

IMAGE_VERSION = 0x5A
CHIP_MCU = 0x21
IMAGE = bytearray(random.Random(48).randbytes(8192))
IMAGE[0x112F] = IMAGE_VERSION
IMAGE = bytes(IMAGE)
SETTINGS = f"mcu=0x{CHIP_MCU:02X}\nversion=0x4C\n"

UPDATE, UNSIGNED, VERSION = 0x100, 0x101, 0x102
NOT_FOUND = 0x800000000000000E
# The boot manager's menu, entered after a boot entry that returned EFI_SUCCESS,
# and its last word: a boot that reaches either did not restart.
MENU = b'"UiApp" from'
NOTHING_LEFT = b"No bootable option or device was found."
RESTART = "Restarting the machine in 5 seconds."
SHELL_DESCRIPTION = "EFI Internal Shell"

RECORD = re.compile(r'date=(\d+)-(\d\d)-(\d\d)T(\d\d):(\d\d):(\d\d) tool=2\.7\.2 command=(\S+)(?: file="([^"]*)")?'
                    r'(?: controller=(none|\S+ smbus=0x[0-9A-F]+))(?: before=0x(\w\w))?(?: after=0x(\w\w))?'
                    r'(?: image-crc=0x(\w{8}))?(?: eeprom-crc=0x(\w{8}))? resent=(\d+) status=0x([0-9A-F]+)'
                    r' status-name="([^"]*)" elapsed=(-?\d+)s')


def sign(source: Path, target: Path, workdir: Path) -> None:
    """Signs source with the test key into target (sbsign takes no passphrase: the key is opened first)."""
    key = workdir / "test-key.pem"
    if not key.exists():
        subprocess.run(["openssl", "pkey", "-in", TEST_KEY, "-passin", f"pass:{TEST_KEY_PASSPHRASE}", "-out", key],
                       check=True)
    subprocess.run(["sbsign", "--key", key, "--cert", TEST_CERT, "--output", target, source],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def entry(description: str, image: str, arguments: str) -> bytes:
    """A boot entry as efibootmgr makes it: the loader's path and the arguments as UCS-2 optional data."""
    return v.load_option(description, v.file_path("\\" + image), v.ucs2(arguments))


def boot_option_named(store: Path, description: str) -> int | None:
    """The number of the boot entry the firmware keeps under that description."""
    wanted = v.ucs2(description)
    for number in range(0x100):
        option = v.get_variable(store, f"Boot{number:04X}")
        if option is not None and option[6:6 + len(wanted)] == wanted:
            return number
    return None


def printed(run: q.BootRun) -> list[str]:
    return [line.strip() for line in q.printed_lines(run.raw)]


class UnattendedUnderSecureBoot(unittest.TestCase):
    first: q.BootRun
    second: q.BootRun
    work: Path
    shell: int

    @classmethod
    def setUpClass(cls) -> None:
        cls.work = Path(tempfile.mkdtemp(prefix="zk48-unattended-"))
        disk_dir, disk, store = cls.work / "disk", cls.work / "disk.img", cls.work / "vars.fd"
        disk_dir.mkdir()
        for name in ("Zk48Update", "Zk48Sim"):
            sign(EFI_DIR / f"{name}.efi", disk_dir / f"{name}.signed.efi", cls.work)
        shutil.copyfile(EFI_DIR / "Zk48Update.efi", disk_dir / "Zk48Update.efi")
        (disk_dir / "image.bin").write_bytes(IMAGE)
        (disk_dir / "Zk48Sim.cfg").write_text(SETTINGS)
        q.make_disk_image(disk_dir, disk)
        shutil.copyfile(q.OVMF_SECURE_VARS, store)
        v.set_variables(store, {
            "Driver0100": v.load_option("ZK48 simulator", v.file_path("\\Zk48Sim.signed.efi")),
            "DriverOrder": v.option_list(0x100),
            f"Boot{UPDATE:04X}": entry("ZK48 update", "Zk48Update.signed.efi", "image.bin -l zk48.log"),
            f"Boot{UNSIGNED:04X}": entry("ZK48 unsigned", "Zk48Update.efi", "-v -l zk48.log"),
            f"Boot{VERSION:04X}": entry("ZK48 version", "Zk48Update.signed.efi", "-v -l zk48.log"),
            "BootNext": v.option_list(UPDATE),
        })
        cls.first = cls.boot(disk, store)
        cls.next_after_first = v.get_variable(store, "BootNext")
        # The chip falls silent; the next boot starts the unsigned tool, then the signed one.
        (cls.work / "Zk48Sim.cfg").write_text(SETTINGS + "id-from=never\n")
        subprocess.run(["mcopy", "-o", "-i", disk, cls.work / "Zk48Sim.cfg", "::Zk48Sim.cfg"], check=True,
                       env=dict(os.environ, MTOOLS_SKIP_CHECK="1"))
        cls.shell = boot_option_named(store, SHELL_DESCRIPTION)
        assert cls.shell is not None, "the firmware keeps no entry for its shell"
        v.set_variables(store, {"BootOrder": v.option_list(UNSIGNED, cls.shell, VERSION)})
        cls.second = cls.boot(disk, store)

    @classmethod
    def boot(cls, disk: Path, store: Path) -> q.BootRun:
        started = time.monotonic()
        run = q.boot({}, "", 180, firmware=q.OVMF_SECURE_BOOT, disk_image=disk, vars_file=store,
                     stop_at=(MENU, NOTHING_LEFT))
        print(f"e2e timing: Secure Boot boot: {time.monotonic() - started:.1f} s", file=sys.stderr)
        return run

    @classmethod
    def tearDownClass(cls) -> None:
        shutil.rmtree(cls.work, ignore_errors=True)

    def records(self, run: q.BootRun) -> list[re.Match[str]]:
        text = run.disk_files.get("zk48.log", b"").decode("ascii")
        self.assertTrue(text.endswith("\r\n"), repr(text))
        lines = text.split("\r\n")[:-1]
        matches = [RECORD.fullmatch(line) for line in lines]
        self.assertNotIn(None, matches, text)
        return matches

    def test_signed_tool_runs_from_boot_next_with_its_load_options(self) -> None:
        lines = printed(self.first)
        self.assertIn("Image name is: image.bin FileSize:8KB", lines)
        self.assertIn(f" Current E2PROM MCU version: V{CHIP_MCU:X}.".strip(), lines)
        self.assertIn(f"Version information verified successfully,the version is 0x{IMAGE_VERSION:X}.", lines)
        self.assertIn("E2PROM update finished.", lines)
        # Done, the tool restarts the machine: QEMU ends, the boot manager never takes over again.
        self.assertEqual(lines[-1], RESTART, self.first.report())
        self.expect_restart(self.first)
        self.assertIsNone(self.next_after_first, "BootNext is used once")

    def expect_restart(self, run: q.BootRun) -> None:
        self.assertFalse(run.stopped or run.timed_out, run.report())
        self.assertNotIn(MENU, run.raw)
        self.assertNotIn(NOTHING_LEFT, run.raw)
        self.assertEqual(run.returncode, 0, run.report())

    def test_record_of_the_update(self) -> None:
        first = self.records(self.first)
        self.assertEqual(len(first), 1)
        record = first[0]
        self.assertEqual(record.group(7, 8, 10, 11, 12, 14, 15, 16),
                         ("update", "image.bin", f"{CHIP_MCU:02X}", f"{IMAGE_VERSION:02X}", f"{zlib.crc32(IMAGE):08X}",
                          "0", "0", "Success"))
        self.assertRegex(record.group(9), r"00:1F\.3 smbus=0x[0-9A-F]+")
        self.assertIsNone(record.group(13))
        # 1025 pauses of 4 ms, on a clock of whole seconds.
        self.assertGreaterEqual(int(record.group(17)), 3)
        self.assertGreaterEqual(int(record.group(1)), 2020)

    def test_unsigned_tool_is_refused(self) -> None:
        self.assertRegex(self.second.raw.decode("cp437"),
                         r'BdsDxe: failed to load Boot0101 "ZK48 unsigned" from [^\r\n]*: (Access Denied|Security Violation)')
        self.assertNotIn(b"starting Boot0101", self.second.raw)

    def test_failing_run_appends_its_line_and_restarts_all_the_same(self) -> None:
        lines = printed(self.second)
        self.assertIn("Error: can't found any supported SMBus device,exit.", lines)
        self.assertEqual(lines[-1], RESTART, self.second.report())
        self.expect_restart(self.second)
        records = self.records(self.second)
        self.assertEqual(len(records), 2, "the unsigned tool wrote nothing")
        self.assertEqual(records[0].group(0), self.records(self.first)[0].group(0))
        self.assertEqual(records[1].group(7, 8, 9, 10, 15, 16), ("version", None, "none", None, f"{NOT_FOUND:X}", "Not Found"))

    def test_shell_refuses_to_run_under_secure_boot(self) -> None:
        self.assertRegex(self.second.raw.decode("cp437"),
                         rf'failed to start Boot{self.shell:04X} "{SHELL_DESCRIPTION}" [^\r\n]*: Security Violation')


if __name__ == "__main__":
    unittest.main(verbosity=2)
