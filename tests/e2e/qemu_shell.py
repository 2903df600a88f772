#!/usr/bin/python3
"""Run programs in the UEFI Shell under QEMU and capture the console.

Two firmwares boot the shell: OVMF (EDK II), whose own shell runs
startup.nsh, and U-Boot's UEFI, which boots the EDK II shell taken out of
OVMF (shell_image.py) from the disk's \\EFI\\BOOT\\BOOTX64.EFI; there the
script's name is typed at the shell's first prompt, as a person would.
$E2E_FIRMWARE (ovmf or u-boot) chooses the firmware; OVMF by default.

One QEMU boot runs a list of scenarios. Each scenario is a shell command
line; startup.nsh wraps it in marker lines:

    echo "@@BEGIN <name>"
    <command>
    echo "@@STATUS %lasterror%"
    echo "@@END <name>"

and ends the boot after the last one (the firmware's power_off). The serial
console is captured as raw bytes, each chunk with the host time it arrived,
and split per scenario. A scenario's screen is rendered with pyte from the
start of the stream up to the end of that scenario's output, so it is the
screen a person would see when the command has finished.

The test disk is a FAT image made with mtools before the boot and read
back after it, so files the guest wrote can be checked (QEMU's "fat:rw:DIR"
disk does not reliably write them back to DIR). A second FAT disk can join
it (a USB stick beside a machine's own disk): it comes after the test disk
on the bus, so that the test disk stays the firmware's first volume and the
shell's fs0:, and it is read back too.

Needs qemu-system-x86_64, ovmf, u-boot-qemu, mtools and python3-pyte (Debian
packages); run it with /usr/bin/python3. Building the fast-boot loader needs
clang++ and lld-link.

Command line:
    qemu_shell.py run  --file tool.efi --scenario "help=tool.efi -h" ...
    qemu_shell.py live --file tool.efi --cmd "tool.efi -h"
    qemu_shell.py shell --workdir DIR --file tool.efi --cmd "echo hello"
    qemu_shell.py timing
"""

from __future__ import annotations

import argparse
import bisect
import copy
import hashlib
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass, field
from pathlib import Path
from typing import IO, Iterable, Mapping, Sequence

import pyte

sys.dont_write_bytecode = True
sys.path.insert(0, str(Path(__file__).resolve().parent))
import shell_image  # noqa: E402

HERE = Path(__file__).resolve().parent
QEMU = os.environ.get("QEMU", "qemu-system-x86_64")
OVMF_CODE = Path(os.environ.get("OVMF_CODE", "/usr/share/OVMF/OVMF_CODE_4M.fd"))
OVMF_VARS = Path(os.environ.get("OVMF_VARS", "/usr/share/OVMF/OVMF_VARS_4M.fd"))
# OVMF's Secure Boot build (it needs SMM) and Debian's variable store with
# its test key enrolled in PK, KEK and db; the key signs what may start.
OVMF_SECURE_CODE = Path("/usr/share/OVMF/OVMF_CODE_4M.secboot.fd")
OVMF_SECURE_VARS = Path("/usr/share/OVMF/OVMF_VARS_4M.snakeoil.fd")
UBOOT_ROM = Path(os.environ.get("UBOOT_ROM", "/usr/lib/u-boot/qemu-x86_64/u-boot.rom"))
LOADER_SOURCE = HERE / "shell_boot.cpp"

CLEAR_SCREEN = b"\x1b[2J"
# Cursor positioning as the firmware's terminal sends it: ESC [ row ; col H,
# both 1-based (OVMF pads them to two digits, U-Boot does not).
CURSOR_MOVE = re.compile(rb"\x1b\[(\d+);(\d+)H")
# "Set screen mode" (ESC [ = 3 h), sent on reset / mode change. pyte does not
# know it and would print its tail, so it is dropped before rendering.
_SET_MODE = re.compile(rb"\x1b\[=\d*[hl]")
_NAME = re.compile(r"[A-Za-z0-9_.-]+")
# The shell's own countdown; any key but ESC skips the rest of it.
_COUNTDOWN = b"seconds to skip"
SHELL_BANNER = b"UEFI Interactive Shell"
# A line end on the console: U-Boot turns the shell's CR LF into CR CR LF.
LINE_END = rb"\r+\n"
# A colour: U-Boot sends one again before most lines.
_COLOUR = re.compile(rb"\x1b\[[0-9;]*m")


class E2EError(Exception):
    """A boot or a scenario went wrong. str() includes what the screen showed."""

    def __init__(self, message: str, run: BootRun | None = None):
        self.run = run
        super().__init__(message + ("\n" + run.report() if run else ""))


class BootTimeout(E2EError):
    pass


def to_text(raw: bytes) -> str:
    """Serial bytes as text: the terminal sends box drawing etc. as code page 437."""
    return _SET_MODE.sub(b"", raw).decode("cp437")


def printed_lines(raw: bytes) -> list[str]:
    """The complete lines raw holds, as sent, without colours or the firmware's line ends."""
    return re.split(LINE_END.decode(), to_text(_COLOUR.sub(b"", raw)))[:-1]


def render(raw: bytes, cols: int = 80, rows: int = 25) -> pyte.Screen:
    """Feeds raw console bytes into a fresh pyte screen and returns it."""
    screen = pyte.Screen(cols, rows)
    pyte.Stream(screen).feed(to_text(raw))
    return screen


def screen_lines(screen: pyte.Screen) -> list[str]:
    return [line.rstrip() for line in screen.display]


def screen_text(screen: pyte.Screen) -> str:
    return "\n".join(screen_lines(screen)).rstrip("\n")


def cursor_moves(raw: bytes) -> list[tuple[int, int]]:
    """All cursor positionings in raw, as 1-based (row, column) pairs."""
    return [(int(m[1]), int(m[2])) for m in CURSOR_MOVE.finditer(raw)]


@dataclass
class Scenario:
    name: str  # letters, digits, "_", "." and "-"
    command: str  # one or more shell command lines


@dataclass
class BootRun:
    """Everything one QEMU run printed on its serial console."""

    cmdline: list[str]
    chunks: list[tuple[float, bytes]]  # (seconds since QEMU started, bytes read)
    returncode: int | None  # None if it had to be killed
    timed_out: bool
    elapsed: float  # seconds from start until QEMU exited or was killed
    stderr: str
    cols: int
    rows: int
    disk_files: dict[str, bytes] = field(default_factory=dict)  # the disk after the run, by path
    stopped: bool = False  # ended at a stop_at marker
    second_disk_files: dict[str, bytes] = field(default_factory=dict)  # the second disk after the run, if any
    _raw: bytes | None = field(default=None, repr=False)
    _ends: list[int] | None = field(default=None, repr=False)

    @property
    def raw(self) -> bytes:
        if self._raw is None:
            self._raw = b"".join(data for _, data in self.chunks)
        return self._raw

    def time_at(self, offset: int) -> float:
        """Host time at which the byte at raw[offset] arrived."""
        if self._ends is None:
            self._ends, total = [], 0
            for _, data in self.chunks:
                total += len(data)
                self._ends.append(total)
        i = bisect.bisect_right(self._ends, offset)
        return self.chunks[min(i, len(self.chunks) - 1)][0]

    def time_of(self, marker: bytes, start: int = 0) -> float | None:
        """Host time at which the first marker at or after raw[start] was complete."""
        i = self.raw.find(marker, start)
        return None if i < 0 else self.time_at(i + len(marker) - 1)

    def screen(self, end: int | None = None) -> pyte.Screen:
        return render(self.raw[:end], self.cols, self.rows)

    def report(self) -> str:
        how = "killed at the time limit" if self.timed_out else f"exit status {self.returncode}"
        text = [f"QEMU {how} after {self.elapsed:.1f} s; {len(self.raw)} bytes of console output.",
                "Screen at the end:", _framed(self.screen())]
        if self.stderr.strip():
            text += ["QEMU stderr:", self.stderr.rstrip()]
        text += ["Last console bytes:", repr(self.raw[-600:])]
        return "\n".join(text)


@dataclass
class ScenarioResult:
    name: str
    command: str
    status: int  # %lasterror% after the command; the shell drops the error bit
    raw: bytes  # console bytes the command produced
    screen: pyte.Screen  # the whole screen when the command had finished
    begin_time: float  # host time the begin marker arrived
    end_time: float  # host time the status marker arrived
    start: int  # raw == run.raw[start:end]
    end: int
    run: BootRun = field(repr=False)

    @property
    def duration(self) -> float:
        return self.end_time - self.begin_time

    @property
    def lines(self) -> list[str]:
        return screen_lines(self.screen)

    @property
    def text(self) -> str:
        return screen_text(self.screen)

    def cursor_moves(self) -> list[tuple[int, int]]:
        return cursor_moves(self.raw)

    def time_of(self, marker: bytes) -> float | None:
        """Host time the first marker in this scenario's output arrived."""
        i = self.raw.find(marker)
        return None if i < 0 else self.run.time_at(self.start + i + len(marker) - 1)


def _framed(screen: pyte.Screen) -> str:
    bar = "+" + "-" * screen.columns + "+"
    return "\n".join([bar] + ["|" + line + "|" for line in screen.display] + [bar])


CACHE = Path(tempfile.gettempdir()) / "qemu-shell-cache"


def loader_efi() -> Path:
    """Builds shell_boot.cpp once (cached by content) and returns the .efi path."""
    source = LOADER_SOURCE.read_bytes()
    efi = CACHE / f"shell_boot-{hashlib.sha256(source).hexdigest()[:16]}.efi"
    if efi.exists():
        return efi
    CACHE.mkdir(exist_ok=True)
    with tempfile.TemporaryDirectory(dir=CACHE) as tmp:
        obj, out = Path(tmp) / "shell_boot.o", Path(tmp) / "shell_boot.efi"
        subprocess.run(["clang++", "--target=x86_64-unknown-windows", "-ffreestanding", "-fno-exceptions",
                        "-fno-rtti", "-mno-red-zone", "-mno-stack-arg-probe", "-std=c++20", "-O1", "-Wall", "-Wextra",
                        "-c", str(LOADER_SOURCE), "-o", str(obj)], check=True)
        subprocess.run(["lld-link", "/subsystem:efi_application", "/entry:efi_main", "/nodefaultlib",
                        f"/out:{out}", str(obj)], check=True, stdout=subprocess.DEVNULL)
        os.replace(out, efi)
    return efi


def vars_template() -> Path:
    """OVMF's variable store as one boot left it (made once, then cached).

    Starting from it saves the firmware's first-boot setup, about 0.7 s a boot.
    It is made by a boot that only powers off, so no test leaves state in it.
    """
    template = CACHE / f"ovmf_vars-{_files_key(OVMF_CODE, OVMF_VARS)}.fd"
    if not template.exists():
        CACHE.mkdir(exist_ok=True)
        with tempfile.TemporaryDirectory(dir=CACHE) as tmp:
            boot({}, OVMF.power_off + "\r\n", 120, fresh_vars=True, workdir=tmp, firmware=OVMF)
            os.replace(Path(tmp) / "ovmf_vars.fd", template)
    return template


def shell_efi() -> Path:
    """The UEFI Shell taken out of OVMF_CODE (once, then cached)."""
    shell = CACHE / f"Shell-{_files_key(OVMF_CODE)}.efi"
    if not shell.exists():
        CACHE.mkdir(exist_ok=True)
        with tempfile.TemporaryDirectory(dir=CACHE) as tmp:
            (Path(tmp) / "Shell.efi").write_bytes(shell_image.extract_shell(OVMF_CODE.read_bytes()))
            os.replace(Path(tmp) / "Shell.efi", shell)
    return shell


def _files_key(*files: Path) -> str:
    """A cache key that changes when any of the files does."""
    return hashlib.sha256(repr([(str(f), f.stat().st_size, f.stat().st_mtime_ns)
                                for f in files]).encode()).hexdigest()[:16]


def _mtools(*args: str | os.PathLike[str]) -> None:
    env = dict(os.environ, MTOOLS_SKIP_CHECK="1")
    try:
        result = subprocess.run([str(a) for a in args], env=env, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, text=True)
    except FileNotFoundError:
        raise E2EError(f"{args[0]} not found: apt-get install mtools") from None
    if result.returncode != 0:
        raise E2EError(f"{args[0]} failed: {result.stdout.strip()}")


def make_disk_image(source_dir: Path, image: Path, size_mb: int = 64, label: str = "E2E") -> None:
    """A whole-disk FAT file system (no partition table) holding source_dir."""
    with open(image, "wb") as f:
        f.truncate(size_mb << 20)
    _mtools("mformat", "-i", image, "-v", label, "::")
    entries = sorted(source_dir.iterdir())
    if entries:
        _mtools("mcopy", "-i", image, "-s", "-Q", *entries, "::")


def read_disk_image(image: Path) -> dict[str, bytes]:
    """All files on the image, by path with "/" separators, as stored (long names)."""
    with tempfile.TemporaryDirectory(prefix="qemu-shell-disk-") as out:
        _mtools("mcopy", "-i", image, "-s", "-n", "::*", out + "/")
        return {p.relative_to(out).as_posix(): p.read_bytes()
                for p in sorted(Path(out).rglob("*")) if p.is_file()}


class Firmware:
    """What differs between the firmwares the shell is booted on."""

    name: str
    console_sizes: tuple[tuple[int, int], ...]  # what the shell command "mode" offers
    power_off: str  # the shell command that ends the boot: QEMU exits
    start_keys: tuple[tuple[bytes, bytes], ...]  # replies that start startup.nsh

    def boot_file(self, fast_boot: bool) -> Path | None:
        """What goes on the disk as \\EFI\\BOOT\\BOOTX64.EFI, if anything."""
        raise NotImplementedError

    def qemu_args(self, disk_image: Path, base: Path, fresh_vars: bool, vars_file: Path | None) -> list[str]:
        """The firmware and the disk on QEMU's command line."""
        raise NotImplementedError

    def second_disk_args(self, disk_image: Path) -> list[str]:
        """A second disk, after the first on the bus."""
        raise NotImplementedError

    machine = "q35"

    def command(self, disk_image: Path, base: Path, fresh_vars: bool, second_image: Path | None = None,
                vars_file: Path | None = None) -> list[str]:
        second = self.second_disk_args(second_image) if second_image else []
        return [QEMU, "-machine", self.machine, "-m", "256", *self.qemu_args(disk_image, base, fresh_vars, vars_file),
                *second,
                # No VGA, CD-ROM or network card: nothing else to boot or probe.
                "-nodefaults", "-net", "none", "-display", "none", "-serial", "stdio",
                "-no-reboot"]


class _Ovmf(Firmware):
    name = "ovmf"
    console_sizes = ((80, 25), (80, 50), (100, 31))
    power_off = "reset -s"
    start_keys = ()  # its shell runs startup.nsh by itself

    def boot_file(self, fast_boot: bool) -> Path | None:
        if not fast_boot:
            return None
        try:
            return loader_efi()
        except (OSError, subprocess.CalledProcessError) as e:
            print(f"qemu_shell: no fast-boot loader ({e}); the shell countdown will be skipped by key",
                  file=sys.stderr)
            return None

    def qemu_args(self, disk_image: Path, base: Path, fresh_vars: bool, vars_file: Path | None) -> list[str]:
        if vars_file is None:
            vars_file = base / "ovmf_vars.fd"
            shutil.copyfile(OVMF_VARS if fresh_vars else vars_template(), vars_file)
        return ["-drive", f"if=pflash,format=raw,unit=0,readonly=on,file={OVMF_CODE}",
                "-drive", f"if=pflash,format=raw,unit=1,file={vars_file}",
                "-drive", f"format=raw,file={disk_image}"]

    def second_disk_args(self, disk_image: Path) -> list[str]:
        # The next port of q35's AHCI controller.
        return ["-drive", f"format=raw,file={disk_image}"]


class _OvmfSecureBoot(_Ovmf):
    """OVMF's Secure Boot build. No shell starts there (it refuses to run
    under Secure Boot), so it boots only what the variable store's boot
    entries name, from a store the caller prepares (vars_file)."""

    name = "ovmf-secure-boot"
    machine = "q35,smm=on"

    def boot_file(self, fast_boot: bool) -> Path | None:
        return None

    def qemu_args(self, disk_image: Path, base: Path, fresh_vars: bool, vars_file: Path | None) -> list[str]:
        if vars_file is None:
            vars_file = base / "ovmf_vars.fd"
            shutil.copyfile(OVMF_SECURE_VARS, vars_file)
        # The variable store is reachable from SMM only, where Secure Boot's keys are checked.
        return ["-global", "driver=cfi.pflash01,property=secure,value=on",
                "-drive", f"if=pflash,format=raw,unit=0,readonly=on,file={OVMF_SECURE_CODE}",
                "-drive", f"if=pflash,format=raw,unit=1,file={vars_file}",
                "-drive", f"format=raw,file={disk_image}"]


class _UBoot(Firmware):
    name = "u-boot"
    # Its terminal offers 80x25 unless the terminal answers its size query.
    console_sizes = ((80, 25),)
    # Its ResetSystem does not power an x86 machine off: "reset -s" stops
    # there for good. A cold reset ends QEMU, which runs with -no-reboot.
    power_off = "reset"
    # It hands its bootargs to the shell as a command line, which the shell
    # runs instead of startup.nsh.
    start_keys = ((b"Shell> ", b"fs0:\\startup.nsh\r"),)

    def boot_file(self, fast_boot: bool) -> Path | None:
        return shell_efi()

    def qemu_args(self, disk_image: Path, base: Path, fresh_vars: bool, vars_file: Path | None) -> list[str]:
        # Its device tree describes an i440FX, whose ISA bridge sits at
        # 00:01.0; a disk there is taken for that bridge and never found.
        return ["-bios", str(UBOOT_ROM), "-drive", f"if=none,id=disk,format=raw,file={disk_image}",
                "-device", "virtio-blk-pci,drive=disk,addr=0x5"]

    def second_disk_args(self, disk_image: Path) -> list[str]:
        return ["-drive", f"if=none,id=disk2,format=raw,file={disk_image}",
                "-device", "virtio-blk-pci,drive=disk2,addr=0x6"]


OVMF, UBOOT, OVMF_SECURE_BOOT = _Ovmf(), _UBoot(), _OvmfSecureBoot()
FIRMWARES = {firmware.name: firmware for firmware in (OVMF, UBOOT)}
if os.environ.get("E2E_FIRMWARE", "ovmf") not in FIRMWARES:
    raise SystemExit(f"E2E_FIRMWARE={os.environ['E2E_FIRMWARE']}: not one of {', '.join(FIRMWARES)}")
FIRMWARE = FIRMWARES[os.environ.get("E2E_FIRMWARE", "ovmf")]


DiskFiles = Mapping[str, "str | os.PathLike[str] | bytes"] | Iterable["str | os.PathLike[str]"]


def _copy_files(disk_dir: Path, files: DiskFiles) -> None:
    items = files.items() if isinstance(files, Mapping) else ((Path(f).name, f) for f in files)
    for dest, source in items:
        target = disk_dir / dest.replace("\\", "/").lstrip("/")
        target.parent.mkdir(parents=True, exist_ok=True)
        if isinstance(source, bytes):
            target.write_bytes(source)
        else:
            shutil.copyfile(source, target)


def _populate(disk_dir: Path, files: DiskFiles, startup_nsh: str, boot_file: Path | None) -> None:
    _copy_files(disk_dir, files)
    (disk_dir / "startup.nsh").write_bytes(startup_nsh.replace("\r\n", "\n").replace("\n", "\r\n").encode())
    if boot_file is not None:
        boot_dir = disk_dir / "EFI" / "BOOT"
        boot_dir.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(boot_file, boot_dir / "BOOTX64.EFI")


class _LiveWriter:
    """Writes console chunks to a terminal, never splitting an escape sequence."""

    def __init__(self, out: IO[str]):
        self.out, self.pending = out, b""

    def write(self, chunk: bytes) -> None:
        data, self.pending = self.pending + chunk, b""
        esc = data.rfind(b"\x1b")
        if esc >= 0 and not re.search(rb"[A-Za-z]", data[esc + 1:]):
            data, self.pending = data[:esc], data[esc:]
        self.out.write(to_text(data))
        self.out.flush()

    def close(self) -> None:
        self.out.write(to_text(self.pending) + "\x1b[0m\n")
        self.out.flush()


def boot(files: DiskFiles, startup_nsh: str, timeout: float = 120.0, *, cols: int = 80, rows: int = 25,
         fast_boot: bool = True, replies: Sequence[tuple[bytes, bytes]] = (), live: IO[str] | None = None,
         workdir: str | os.PathLike[str] | None = None, fresh_vars: bool = False,
         check: bool = True, firmware: Firmware | None = None, second_disk: DiskFiles | None = None,
         disk_image: Path | None = None, vars_file: Path | None = None, stop_at: Sequence[bytes] = ()) -> BootRun:
    """Boots QEMU once with a FAT disk holding files and startup.nsh.

    files: {path on the disk: source file or bytes}, or source files for the
    disk's root. startup_nsh should end with the firmware's power_off.
    The disk's content after the run is in the result's disk_files.
    timeout: wall-clock limit in seconds; QEMU's process group is killed then.
    replies: (marker, bytes) pairs, in order: when marker shows up on the
    console after the previous reply, the bytes are typed.
    live: a text stream to copy the console to as it arrives.
    workdir: keep the disk image, firmware variables and QEMU's stderr there
    (for debugging) instead of in a temporary directory.
    fresh_vars: start from OVMF's pristine variable store, not vars_template().
    fast_boot: OVMF only, through shell_boot.cpp; U-Boot boots the shell directly.
    firmware: OVMF or UBOOT; FIRMWARE ($E2E_FIRMWARE) by default.
    check: raise E2EError/BootTimeout unless QEMU powered off with status 0
    (or was stopped at a stop_at marker).
    cols, rows: size of the pyte screens; should match the console mode.
    second_disk: files for a second FAT disk, after the first on the bus; its
    content after the run is in the result's second_disk_files.
    disk_image: boot this disk image as it is (files and startup_nsh unused),
    so that a sequence of boots shares one disk.
    vars_file: the firmware's variable store to boot with and keep, instead
    of a copy of the firmware's own.
    stop_at: markers that end the boot: QEMU is stopped when one of them has
    arrived (a firmware left waiting at its boot menu never powers off).
    """
    firmware = firmware or FIRMWARE
    with tempfile.TemporaryDirectory(prefix="qemu-shell-") as tmp:
        base = Path(workdir) if workdir is not None else Path(tmp)
        image = disk_image or base / "disk.img"
        if disk_image is None:
            disk_dir = base / "disk"
            disk_dir.mkdir(parents=True, exist_ok=True)
            _populate(disk_dir, files, startup_nsh, firmware.boot_file(fast_boot))
            make_disk_image(disk_dir, image)
        second_image = None
        if second_disk is not None:
            second_dir, second_image = base / "disk2", base / "disk2.img"
            second_dir.mkdir(parents=True, exist_ok=True)
            _copy_files(second_dir, second_disk)
            make_disk_image(second_dir, second_image, label="E2E2")
        cmd = firmware.command(image, base, fresh_vars, second_image, vars_file)
        with open(base / "qemu.stderr", "w+b") as err:
            run = _capture(cmd, err, timeout, cols, rows, [*firmware.start_keys, *replies], live, stop_at)
            err.seek(0)
            run.stderr = err.read().decode(errors="replace")
        if not run.timed_out:
            run.disk_files = read_disk_image(image)
            if second_image is not None:
                run.second_disk_files = read_disk_image(second_image)
    if check and run.timed_out:
        raise BootTimeout(f"QEMU did not power off within {timeout:g} s", run)
    if check and run.returncode != 0 and not run.stopped:
        raise E2EError(f"QEMU exited with status {run.returncode}", run)
    return run


def interactive(files: DiskFiles, startup_nsh: str, workdir: str | os.PathLike[str], *,
                firmware: Firmware | None = None) -> int:
    """Boots QEMU with a FAT disk holding files and startup.nsh, the console
    in this terminal until the machine powers off (reset -s, or exit with the
    fast-boot loader) or QEMU is left with Ctrl-A X. The disk image stays in
    workdir. Returns QEMU's exit status."""
    firmware = firmware or FIRMWARE
    base = Path(workdir)
    disk_dir, image = base / "disk", base / "disk.img"
    shutil.rmtree(disk_dir, ignore_errors=True)
    disk_dir.mkdir(parents=True)
    _populate(disk_dir, files, startup_nsh, firmware.boot_file(True))
    make_disk_image(disk_dir, image)
    cmd = firmware.command(image, base, False)
    # QEMU's monitor on the same terminal: Ctrl-A X leaves, Ctrl-A H lists the rest.
    cmd[cmd.index("stdio")] = "mon:stdio"
    return subprocess.call(cmd)


def _capture(cmd: list[str], err: IO[bytes], timeout: float, cols: int, rows: int,
             replies: list[tuple[bytes, bytes]], live: IO[str] | None, stop_at: Sequence[bytes] = ()) -> BootRun:
    start = time.monotonic()
    proc = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=err,
                            start_new_session=True)
    assert proc.stdin and proc.stdout
    fd = proc.stdout.fileno()
    chunks: list[tuple[float, bytes]] = []
    raw = bytearray()
    writer = _LiveWriter(live) if live else None
    countdown_skipped, reply_from, timed_out, stopped = False, 0, False, False
    try:
        while True:
            left = start + timeout - time.monotonic()
            if left <= 0:
                timed_out = True
                break
            if not select.select([fd], [], [], min(left, 0.5))[0]:
                continue
            data = os.read(fd, 65536)
            if not data:
                break
            chunks.append((time.monotonic() - start, data))
            raw += data
            if writer:
                writer.write(data)
            if any(raw.find(marker, max(0, len(raw) - len(data) - len(marker))) >= 0 for marker in stop_at):
                stopped = True
                break
            keys = b""
            if not countdown_skipped and raw.find(_COUNTDOWN, max(0, len(raw) - len(data) - 64)) >= 0:
                countdown_skipped, keys = True, b" "
            while replies:
                i = raw.find(replies[0][0], reply_from)
                if i < 0:
                    break
                reply_from = i + len(replies[0][0])
                keys += replies.pop(0)[1]
            if keys:
                try:
                    proc.stdin.write(keys)
                    proc.stdin.flush()
                except BrokenPipeError:
                    pass
        if not timed_out and not stopped:
            try:
                proc.wait(max(0.0, start + timeout - time.monotonic()))
            except subprocess.TimeoutExpired:
                timed_out = True
    finally:
        if proc.poll() is None:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()
        if writer:
            writer.close()
        for pipe in (proc.stdin, proc.stdout):
            try:
                pipe.close()
            except BrokenPipeError:
                pass
    return BootRun(cmd, chunks, None if timed_out else proc.returncode, timed_out,
                   time.monotonic() - start, "", cols, rows, stopped=stopped)


def startup_script(scenarios: Sequence[Scenario], cols: int = 80, rows: int = 25,
                   firmware: Firmware | None = None) -> str:
    """startup.nsh that runs the scenarios between marker lines, then powers off."""
    lines = ["@echo -off", "fs0:"]
    for s in [Scenario("_mode", f"mode {cols} {rows}"), *scenarios]:
        lines += [f'echo "@@BEGIN {s.name}"', *s.command.splitlines(),
                  'echo "@@STATUS %lasterror%"', f'echo "@@END {s.name}"']
    lines.append((firmware or FIRMWARE).power_off)
    return "\r\n".join(lines) + "\r\n"


def run_scenarios(scenarios: Sequence[Scenario], files: DiskFiles = (), timeout: float = 120.0, *,
                  cols: int = 80, rows: int = 25, firmware: Firmware | None = None,
                  **boot_args) -> dict[str, ScenarioResult]:
    """Runs the scenarios in one boot; results by name, in order.

    Raises E2EError/BootTimeout (with the screen) if QEMU did not power off
    cleanly or a scenario's markers are missing. A scenario's own exit
    status is returned, not checked.
    """
    firmware = firmware or FIRMWARE
    if (cols, rows) not in firmware.console_sizes:
        raise ValueError(f"console size {cols}x{rows} not offered by {firmware.name}: {firmware.console_sizes}")
    names = [s.name for s in scenarios]
    for name in names:
        if not _NAME.fullmatch(name) or name.startswith("_"):
            raise ValueError(f"bad scenario name {name!r}")
    if len(set(names)) != len(names):
        raise ValueError("scenario names must be unique")
    run = boot(files, startup_script(scenarios, cols, rows, firmware), timeout, cols=cols, rows=rows,
               firmware=firmware, **boot_args)
    results = split_scenarios(run, [Scenario("_mode", ""), *scenarios])
    if results.pop("_mode").status != 0:
        raise E2EError(f"could not set the console to {cols}x{rows}", run)
    return results


def split_scenarios(run: BootRun, scenarios: Sequence[Scenario]) -> dict[str, ScenarioResult]:
    """Finds each scenario's markers in the console output, in order."""
    raw, pos, results = run.raw, 0, {}
    screen = pyte.Screen(run.cols, run.rows)
    stream = pyte.Stream(screen)
    for s in scenarios:
        # A marker is the output of echo: the echoed command line (if echo
        # were on) has a quote before its line end, so it never matches.
        name = re.escape(s.name.encode())
        begin = re.compile(rb"@@BEGIN " + name + LINE_END).search(raw, pos)
        status = begin and re.compile(rb"@@STATUS (0x[0-9A-Fa-f]+)" + LINE_END).search(raw, begin.end())
        end = status and re.compile(rb"@@END " + name + LINE_END).search(raw, status.end())
        if not (begin and status and end):
            raise E2EError(f"scenario {s.name!r} did not finish", run)
        stream.feed(to_text(raw[pos:status.start()]))
        results[s.name] = ScenarioResult(
            name=s.name, command=s.command, status=int(status[1], 16),
            raw=raw[begin.end():status.start()], screen=copy.deepcopy(screen),
            begin_time=run.time_at(begin.end() - 1), end_time=run.time_at(status.end() - 1),
            start=begin.end(), end=status.start(), run=run)
        stream.feed(to_text(raw[status.start():end.end()]))
        pos = end.end()
    return results


# ---------------------------------------------------------------- command line


def _files_arg(values: list[str]) -> dict[str, str]:
    """SRC or SRC=DEST (DEST is the path on the test disk)."""
    files = {}
    for value in values:
        src, _, dest = value.partition("=")
        files[dest or Path(src).name] = src
    return files


def _size_arg(value: str) -> tuple[int, int]:
    cols, _, rows = value.partition("x")
    return int(cols), int(rows)


def _cmd_run(args: argparse.Namespace) -> int:
    scenarios = []
    for i, value in enumerate(args.scenario):
        name, sep, command = value.partition("=")
        named = sep and _NAME.fullmatch(name)
        scenarios.append(Scenario(name, command) if named else Scenario(f"s{i + 1}", value))
    cols, rows = args.size
    results = run_scenarios(scenarios, _files_arg(args.file), args.timeout, cols=cols, rows=rows,
                            fast_boot=not args.slow_boot)
    for r in results.values():
        print(f"== {r.name}: {r.command!r}  status=0x{r.status:X}  {r.duration:.3f} s  "
              f"cursor moves={r.cursor_moves()}")
        print(_framed(r.screen))
        if args.raw:
            print(repr(r.raw))
    run = next(iter(results.values())).run
    print(f"QEMU powered off after {run.elapsed:.2f} s")
    return 0


def _cmd_live(args: argparse.Namespace) -> int:
    cols, rows = args.size
    nsh = "\r\n".join(["@echo -off", "fs0:", f"mode {cols} {rows}", *args.cmd, FIRMWARE.power_off]) + "\r\n"
    run = boot(_files_arg(args.file), nsh, args.timeout, cols=cols, rows=rows, fast_boot=not args.slow_boot,
               live=sys.stdout, check=False)
    if run.timed_out:
        print(f"[qemu_shell: killed QEMU at the {args.timeout:g} s limit]")
        return 1
    print(f"[qemu_shell: QEMU exited with status {run.returncode} after {run.elapsed:.1f} s]")
    return 0 if run.returncode == 0 else 1


def _cmd_shell(args: argparse.Namespace) -> int:
    nsh = "\r\n".join(["@echo -off", "fs0:", *args.cmd]) + "\r\n"
    if FIRMWARE.start_keys:
        print(f"qemu_shell: on {FIRMWARE.name}, type fs0:\\startup.nsh at the first prompt")
    return interactive(_files_arg(args.file), nsh, args.workdir)


def _stats(values: list[float]) -> str:
    values = sorted(values)
    return f"min {values[0]:.3f}  median {values[len(values) // 2]:.3f}  max {values[-1]:.3f} s"


def _cmd_timing(args: argparse.Namespace) -> int:
    """Boots a few times and prints where the time goes."""
    scenarios = [Scenario(f"e{i}", f"echo step{i}") for i in range(args.scenarios)]
    for fast in (True, False):
        shell, first, overhead, off, total = [], [], [], [], []
        for _ in range(args.boots):
            results = run_scenarios(scenarios, timeout=args.timeout, fast_boot=fast)
            run = next(iter(results.values())).run
            rs = list(results.values())
            shell.append(run.time_of(SHELL_BANNER) or float("nan"))
            first.append(rs[0].begin_time)
            # From one scenario's begin marker to the next: four shell lines.
            overhead += [b.begin_time - a.begin_time for a, b in zip(rs, rs[1:])]
            off.append(run.elapsed - (run.time_of(b"@@END " + rs[-1].name.encode()) or 0))
            total.append(run.elapsed)
        print(f"fast_boot={fast} ({args.boots} boots, {args.scenarios} scenarios each)")
        print(f"  QEMU start -> shell banner:      {_stats(shell)}")
        print(f"  QEMU start -> first scenario:    {_stats(first)}")
        print(f"  per scenario (echo + markers):   {_stats(overhead)}")
        print(f"  last marker -> QEMU exited:      {_stats(off)}")
        print(f"  whole run:                       {_stats(total)}")
    return 0


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="mode", required=True)
    for name, help_text in (("run", "run scenarios, print each one's screen and status"),
                            ("live", "show the console live while commands run, then power off"),
                            ("shell", "run commands, then leave the shell to this terminal"),
                            ("timing", "measure boot time and per-scenario overhead")):
        p = sub.add_parser(name, help=help_text)
        if name == "shell":
            p.add_argument("--workdir", required=True, help="where the disk image is kept")
            p.add_argument("--file", action="append", default=[], metavar="SRC[=DEST]")
            p.add_argument("--cmd", action="append", default=[], metavar="COMMAND")
            continue
        p.add_argument("--timeout", type=float, default=120.0, help="wall-clock limit per boot (s)")
        if name == "timing":
            p.add_argument("--boots", type=int, default=3)
            p.add_argument("--scenarios", type=int, default=10)
            continue
        p.add_argument("--file", action="append", default=[], metavar="SRC[=DEST]",
                       help="copy SRC to the test disk (as DEST)")
        p.add_argument("--size", type=_size_arg, default=(80, 25), help="console mode, e.g. 80x25")
        p.add_argument("--slow-boot", action="store_true",
                       help="boot the firmware's shell directly (countdown skipped by a key press)")
        if name == "run":
            p.add_argument("--scenario", action="append", default=[], metavar="[NAME=]COMMAND")
            p.add_argument("--raw", action="store_true", help="also print each scenario's raw bytes")
        else:
            p.add_argument("--cmd", action="append", default=[], metavar="COMMAND",
                           help="shell command line to run (repeatable)")
    args = parser.parse_args(argv)
    try:
        return {"run": _cmd_run, "live": _cmd_live, "shell": _cmd_shell, "timing": _cmd_timing}[args.mode](args)
    except E2EError as e:
        print(f"qemu_shell: {e}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
