#!/usr/bin/python3
"""Self-test of qemu_shell.py, using only UEFI Shell built-in commands.

Run: /usr/bin/python3 tests/e2e/test_qemu_shell.py   (about 40 s: three boots)
     E2E_FIRMWARE=u-boot /usr/bin/python3 tests/e2e/test_qemu_shell.py
"""

from __future__ import annotations

import io
import lzma
import struct
import sys
import unittest
import uuid
from pathlib import Path

sys.dont_write_bytecode = True  # keep tests/e2e free of __pycache__
sys.path.insert(0, str(Path(__file__).resolve().parent))
import qemu_shell as q  # noqa: E402
import shell_image  # noqa: E402


def _volume(files: bytes, ext_header: bool = False) -> bytes:
    """A firmware volume holding files, with an extended header if asked."""
    header_length = 56 + 16  # the block map's one entry and its terminator
    ext = uuid.uuid4().bytes_le + struct.pack("<I", 20) if ext_header else b""
    body = ext + b"\0" * ((-len(ext)) % 8) + files
    header = (b"\0" * 16 + uuid.uuid4().bytes_le + struct.pack("<Q", header_length + len(body)) + b"_FVH"
              + struct.pack("<IHHHBB", 0, header_length, 0, header_length if ext else 0, 0, 2) + b"\0" * 16)
    return header + body


def _file(name: uuid.UUID, kind: int, sections: bytes) -> bytes:
    """An FFS file, padded to the 8-byte alignment of the next one."""
    data = name.bytes_le + struct.pack("<HBB", 0, kind, 0) + (24 + len(sections)).to_bytes(3, "little") + b"\xf8"
    return data + sections + b"\xff" * ((-len(sections)) % 8)


def _section(kind: int, content: bytes) -> bytes:
    return ((4 + len(content)).to_bytes(3, "little") + bytes([kind]) + content
            + b"\0" * ((-len(content)) % 4))


def _lzma_section(sections: bytes) -> bytes:
    head = shell_image.LZMA_SECTION.bytes_le + struct.pack("<HH", 24, 1)
    return _section(0x02, head + lzma.compress(sections, lzma.FORMAT_ALONE))


class OfflineTest(unittest.TestCase):
    """Parsing and rendering, on hand-made console bytes."""

    def test_cursor_moves(self) -> None:
        raw = b"\x1b[2J\x1b[01;01Hab\x1b[1m\x1b[33m\x1b[06;11Hx\x1b[25;80H"
        self.assertEqual(q.cursor_moves(raw), [(1, 1), (6, 11), (25, 80)])

    def test_render_drops_set_mode_and_decodes_code_page_437(self) -> None:
        screen = q.render(b"old text\x1b[2J\x1b[01;01H\x1b[=3hA\xc4\xb3\xda\r\nB\x1b[03;05HC")
        self.assertEqual(q.screen_lines(screen)[:3], ["A\u2500\u2502\u250c", "B", "    C"])
        self.assertEqual((screen.cursor.y, screen.cursor.x), (2, 5))

    def test_split_ignores_echoed_command_lines(self) -> None:
        raw = [b'Shell> echo "@@BEGIN a"\r\n@@BEGIN a\r\n\x1b[2J\x1b[01;01Htool out',
               b'put@@STATUS 0x3\r\n@@END a\r\n@@BEGIN b\r\n',
               b'Shell> echo "@@STATUS %lasterror%"\r\n@@STATUS 0x0\r\n@@END b\r\n']
        run = q.BootRun([], [(1.0, raw[0]), (2.0, raw[1]), (3.5, raw[2])], 0, False, 4.0, "", 80, 25)
        results = q.split_scenarios(run, [q.Scenario("a", ""), q.Scenario("b", "")])
        a, b = results["a"], results["b"]
        self.assertEqual(a.raw, b"\x1b[2J\x1b[01;01Htool output")
        self.assertEqual((a.status, b.status), (3, 0))
        self.assertEqual(a.lines[0], "tool output")
        self.assertEqual((a.begin_time, a.end_time, b.begin_time, b.end_time), (1.0, 2.0, 2.0, 3.5))
        self.assertEqual(b.raw, b'Shell> echo "@@STATUS %lasterror%"\r\n')
        self.assertEqual(a.time_of(b"output"), 2.0)

    def test_missing_marker_is_reported_with_the_screen(self) -> None:
        run = q.BootRun([], [(1.0, b"@@BEGIN a\r\nhung here")], None, True, 9.0, "", 80, 25)
        with self.assertRaises(q.E2EError) as caught:
            q.split_scenarios(run, [q.Scenario("a", "")])
        self.assertIn("scenario 'a' did not finish", str(caught.exception))
        self.assertIn("|hung here", str(caught.exception))

    def test_bad_arguments_are_refused_before_booting(self) -> None:
        for scenarios, size in (([q.Scenario("a b", "echo")], (80, 25)),
                                ([q.Scenario("a", "echo"), q.Scenario("a", "echo")], (80, 25)),
                                ([q.Scenario("a", "echo")], (132, 43))):
            with self.assertRaises(ValueError):
                q.run_scenarios(scenarios, cols=size[0], rows=size[1])

    def test_startup_script(self) -> None:
        for firmware, power_off in ((q.OVMF, "reset -s"), (q.UBOOT, "reset")):
            lines = q.startup_script([q.Scenario("x", "tool.efi -a\ntool.efi -b")], 100, 31,
                                     firmware).split("\r\n")
            self.assertEqual(lines[0], "@echo -off")
            self.assertIn("mode 100 31", lines)
            i = lines.index('echo "@@BEGIN x"')
            self.assertEqual(lines[i:i + 5], ['echo "@@BEGIN x"', "tool.efi -a", "tool.efi -b",
                                              'echo "@@STATUS %lasterror%"', 'echo "@@END x"'])
            self.assertEqual(lines[-2:], [power_off, ""])

    def test_split_reads_the_u_boot_console(self) -> None:
        """U-Boot sends CR CR LF for the shell's CR LF, and a colour before every line."""
        raw = (b"\x1b[0;37;40m@@BEGIN a\r\r\n\x1b[0;37;40m\x1b[2J\x1b[1;1Hout\r\r\n"
               b"\x1b[0;37;40m@@STATUS 0x1B\r\r\n\x1b[0;37;40m@@END a\r\r\n")
        run = q.BootRun([], [(1.0, raw)], 0, False, 2.0, "", 80, 25)
        a = q.split_scenarios(run, [q.Scenario("a", "")])["a"]
        self.assertEqual((a.status, a.lines[:2], a.cursor_moves()), (0x1B, ["out", ""], [(1, 1)]))
        self.assertEqual(q.printed_lines(b"\x1b[0;37;40mone\r\r\n\x1b[0;37;40mtwo\r\r\nthr"), ["one", "two"])
        self.assertEqual(q.printed_lines(b"one\r\ntwo\r\n"), ["one", "two"])


class ShellImageTest(unittest.TestCase):
    """The shell taken out of volumes made as OVMF's build makes them."""

    SHELL = b"MZ the shell's image"

    def firmware(self, shell_name: uuid.UUID) -> bytes:
        pad = _file(uuid.UUID(int=0), 0xF0, b"")
        shell = _file(shell_name, 0x09, _section(0x10, self.SHELL) + _section(0x15, "Shell".encode("utf-16-le")))
        inner = _volume(pad + _file(uuid.uuid4(), 0x07, _section(0x10, b"MZ another driver")) + shell)
        compressed = _lzma_section(_section(0x17, inner))
        return b"\xff" * 64 + _volume(_file(uuid.uuid4(), 0x0B, compressed), ext_header=True)

    def test_found_inside_the_compressed_volume(self) -> None:
        self.assertEqual(shell_image.extract_shell(self.firmware(shell_image.SHELL_FILE)), self.SHELL)

    def test_missing_shell_is_an_error(self) -> None:
        with self.assertRaises(shell_image.ShellImageError):
            shell_image.extract_shell(self.firmware(uuid.uuid4()))


class BootTest(unittest.TestCase):
    """One fast boot running several scenarios."""

    live = io.StringIO()

    @classmethod
    def setUpClass(cls) -> None:
        scenarios = [
            q.Scenario("echo", "echo e2e-hello"),
            q.Scenario("missing", "no_such_command_e2e"),
            q.Scenario("clear", "echo before-clear\ncls\necho after-clear"),
            q.Scenario("read", r"type sub\data.txt"),
            q.Scenario("write", "echo written-by-guest >a out.txt"),
            q.Scenario("read_second", r"type fs1:\data2.txt"),
            q.Scenario("write_second", r"echo written-on-second >a fs1:\out2.txt"),
            q.Scenario("key", "pause"),
        ]
        files = {"sub/data.txt": b"payload-123\r\n"}
        cls.results = q.run_scenarios(scenarios, files, timeout=120, live=cls.live,
                                      replies=[(b"any other key", b"x")], second_disk={"data2.txt": b"second-disk\r\n"})
        cls.boot_run = cls.results["echo"].run

    def test_echo(self) -> None:
        r = self.results["echo"]
        self.assertEqual(r.status, 0)
        # U-Boot's console adds a CR before the LF and sets the colour again.
        raw = {q.OVMF: b"e2e-hello\r\n", q.UBOOT: b"\x1b[0;37;40me2e-hello\r\r\n\x1b[0;37;40m"}
        self.assertEqual(r.raw, raw[q.FIRMWARE])
        self.assertIn("e2e-hello", r.lines)

    def test_unknown_command_status(self) -> None:
        r = self.results["missing"]
        self.assertEqual(r.status, 0xE)  # EFI_NOT_FOUND, error bit dropped by the shell
        self.assertIn("is not recognized", r.text)

    def test_screen_starts_at_clear_screen(self) -> None:
        r = self.results["clear"]
        self.assertEqual(r.raw.count(q.CLEAR_SCREEN), 1)
        self.assertEqual(r.cursor_moves(), [(1, 1)])
        self.assertEqual(r.lines[0], "after-clear")
        self.assertNotIn("before-clear", r.text)
        self.assertEqual(r.text, "after-clear")  # nothing of earlier scenarios left
        self.assertEqual((r.screen.columns, r.screen.lines), (80, 25))

    def test_file_is_on_the_disk(self) -> None:
        self.assertIn("payload-123", self.results["read"].lines)

    def test_file_written_by_guest_is_read_back(self) -> None:
        self.assertEqual(self.results["write"].status, 0)
        self.assertEqual(self.boot_run.disk_files["out.txt"], b"written-by-guest\r\n")
        self.assertEqual(self.boot_run.disk_files["sub/data.txt"], b"payload-123\r\n")

    def test_second_disk_is_fs1_and_read_back(self) -> None:
        self.assertIn("second-disk", self.results["read_second"].lines)
        self.assertEqual(self.results["write_second"].status, 0)
        self.assertEqual(self.boot_run.second_disk_files, {"data2.txt": b"second-disk\r\n", "out2.txt": b"written-on-second\r\n"})
        self.assertNotIn("out2.txt", self.boot_run.disk_files)

    def test_reply_is_typed(self) -> None:
        r = self.results["key"]
        self.assertEqual(r.status, 0)
        self.assertIn("any other key to continue", r.text)

    def test_each_screen_equals_a_render_of_the_stream_up_to_its_end(self) -> None:
        for r in self.results.values():
            self.assertEqual(r.lines, q.screen_lines(self.boot_run.screen(r.end)), r.name)
            self.assertEqual(r.raw, self.boot_run.raw[r.start:r.end])

    def test_countdown_is_not_shown(self) -> None:
        self.assertIn(q.SHELL_BANNER, self.boot_run.raw)
        self.assertNotIn(b"seconds to skip", self.boot_run.raw)

    def test_times_are_in_order(self) -> None:
        times = [self.boot_run.time_of(q.SHELL_BANNER)]
        for r in self.results.values():
            times += [r.begin_time, r.end_time]
        times.append(self.boot_run.elapsed)
        self.assertEqual(times, sorted(times))
        self.assertEqual(self.boot_run.returncode, 0)

    def test_live_copy_matches_capture(self) -> None:
        self.assertEqual(self.live.getvalue(), q.to_text(self.boot_run.raw) + "\x1b[0m\n")


@unittest.skipUnless(q.FIRMWARE is q.OVMF, "OVMF's own shell and its countdown")
class FallbackBootTest(unittest.TestCase):
    """Booting the firmware's shell entry directly: the countdown is skipped by a key."""

    def test_countdown_skipped_and_unfinished_scenario_reported(self) -> None:
        ok, off, never = (q.Scenario("ok", "echo fallback-ok"), q.Scenario("off", "reset -s"),
                          q.Scenario("never", "echo never"))
        with self.assertRaises(q.E2EError) as caught:
            q.run_scenarios([ok, off, never], timeout=120, fast_boot=False)
        run = caught.exception.run
        self.assertIn("scenario 'off' did not finish", str(caught.exception))
        self.assertEqual(run.returncode, 0)
        # The prompt is printed once per second; one print means the key
        # ended it after the first second.
        self.assertEqual(run.raw.count(b"seconds to skip"), 1)
        self.assertEqual(q.split_scenarios(run, [q.Scenario("_mode", ""), ok])["ok"].raw, b"fallback-ok\r\n")


class TimeoutTest(unittest.TestCase):
    def test_hung_guest_is_killed_and_its_screen_reported(self) -> None:
        nsh = "@echo -off\r\necho waiting-for-a-key\r\npause\r\nreset -s\r\n"
        with self.assertRaises(q.BootTimeout) as caught:
            q.boot({}, nsh, timeout=20)
        run, message = caught.exception.run, str(caught.exception)
        self.assertTrue(run.timed_out)
        self.assertIsNone(run.returncode)
        self.assertLess(run.elapsed, 20 + 3)
        self.assertIn("|waiting-for-a-key", message)
        self.assertIn("any other key to continue", message)


if __name__ == "__main__":
    unittest.main(verbosity=2)
