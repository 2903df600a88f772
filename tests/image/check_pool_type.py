#!/usr/bin/python3
"""Checks in a built image that every AllocatePool passes EfiBootServicesData.

The host tests cannot see this: the simulated firmware runs the host build,
and a pool type misnumbered in platform/ gets into the image unnoticed. So
the image itself is disassembled, and at each call of the pointer at offset
0x40 of the boot-services table (AllocatePool), through the table or after
loading the pointer into a register, the value of ecx, the pool type, must
be a constant 4 loaded in the same straight run of code.

The table is known by the address of gBS, which the linker's map gives. A
register holds the table from its load out of gBS until it is overwritten,
a call clobbers it (rax, rcx, rdx, r8-r11), or control could arrive from
elsewhere (a branch target, a function start, after jmp or ret): there
everything is forgotten. So a call the tracking loses is not passed but
missed; the count of calls found must reach the number of AllocatePool
calls in the image's sources, or the check fails and says so.

Run: check_pool_type.py OBJDUMP IMAGE.efi IMAGE.map SOURCE...
"""

from __future__ import annotations

import re
import subprocess
import sys
from pathlib import Path

# EfiBootServicesData as firmware numbers it, not as platform/ declares it:
# the enum is what is in doubt (tests/facts/ holds it against gnu-efi).
BOOT_SERVICES_DATA = 4
ALLOCATE_POOL_OFFSET = 0x40

VOLATILE = {"rax", "rcx", "rdx", "r8", "r9", "r10", "r11"}
# What an instruction does to the general registers, as far as this check
# needs to know: nothing, its first operand only, or (anything else, and
# whatever this list does not name) more than can be followed here.
NO_WRITE = {"cmp", "test", "push", "bt", "nop"}
FIRST_OPERAND_WRITE = {
    "mov", "movabs", "movzx", "movsx", "movsxd", "lea", "add", "sub", "adc", "sbb", "and", "or", "xor",
    "shl", "shr", "sar", "rol", "ror", "inc", "dec", "neg", "not", "pop", "bswap", "imul", "movd", "movq",
}
VECTOR = {"movdqu", "movdqa", "movaps", "movups", "xorps", "pxor", "punpcklbw", "pshuflw", "pshufd", "pcmpeqd"}


def canonical(name: str) -> str | None:
    """The 64-bit general register that NAME is part of, or None."""
    name = name.strip()
    legacy = {"a": "rax", "b": "rbx", "c": "rcx", "d": "rdx"}
    match = re.fullmatch(r"r(\d+)[dwb]?", name)
    if match and 8 <= int(match.group(1)) <= 15:
        return f"r{match.group(1)}"
    match = re.fullmatch(r"[re]?([abcd])x|([abcd])[lh]", name)
    if match:
        return legacy[match.group(1) or match.group(2)]
    match = re.fullmatch(r"[re]?(si|di|bp|sp)l?", name)
    if match:
        return "r" + match.group(1)
    return None


def gbs_address(map_file: Path) -> int:
    """Where gBS lies in the image, from the linker's map."""
    for line in map_file.read_text().splitlines():
        fields = line.split()
        if len(fields) >= 3 and fields[1].startswith("?gBS@@"):
            return int(fields[2], 16)
    sys.exit(f"{map_file}: no gBS in the map")


def function_starts(map_file: Path) -> set[int]:
    """The code symbols' addresses: control arrives there from elsewhere."""
    starts = set()
    for line in map_file.read_text().splitlines():
        fields = line.split()
        if len(fields) >= 3 and fields[0].startswith("0001:") and re.fullmatch(r"[0-9a-f]{16}", fields[2]):
            starts.add(int(fields[2], 16))
    return starts


def expected_calls(sources: list[str]) -> int:
    """AllocatePool calls the sources make, comments left out."""
    count = 0
    for source in sources:
        for line in Path(source).read_text().splitlines():
            code = line.split("//")[0]
            count += len(re.findall(r"\bgBS\s*->\s*AllocatePool\s*\(", code))
    return count


def code_extent(objdump: str, image: Path) -> list[str]:
    """objdump's address bounds of the code when the image's map is beside it.

    The images keep their read-only data in .text, after the code (a section
    the less, and data no firmware may write): read as instructions, the
    strings would be noise. The map's line for the .text contributions gives
    where the code ends.
    """
    map_file = image.with_suffix(".map")
    if not map_file.exists():
        return []
    length = None
    for line in map_file.read_text().splitlines():
        fields = line.split()
        if len(fields) >= 4 and fields[0] == "0001:00000000" and fields[2] == ".text" and fields[3] == "CODE":
            length = int(fields[1].rstrip("H"), 16)
            break
    headers = subprocess.run([objdump, "-h", str(image)], check=True, capture_output=True, text=True).stdout
    start = next((int(fields[3], 16) for fields in (line.split() for line in headers.splitlines())
                  if len(fields) >= 4 and fields[1] == ".text"), None)
    if length is None or start is None:
        sys.exit(f"{map_file}: the code's extent is not in the map or the headers")
    return [f"--start-address={start:#x}", f"--stop-address={start + length:#x}"]


def disassemble(objdump: str, image: Path) -> list[tuple[int, str, str]]:
    """(address, mnemonic, operands) of every instruction of the image's code."""
    text = subprocess.run([objdump, "-d", "--no-show-raw-insn", "-M", "intel", *code_extent(objdump, image),
                           str(image)],
                          check=True, capture_output=True, text=True).stdout
    instructions = []
    for line in text.splitlines():
        match = re.match(r"\s*([0-9a-f]+):\s+(\S+)\s*(.*)$", line)
        if match:
            instructions.append((int(match.group(1), 16), match.group(2), match.group(3).strip()))
    return instructions


def check(objdump: str, image: Path, map_file: Path, sources: list[str]) -> list[str]:
    gbs = gbs_address(map_file)
    instructions = disassemble(objdump, image)
    entries = function_starts(map_file)
    for _, mnemonic, operands in instructions:
        target = re.match(r"0x([0-9a-f]+)\b", operands)
        if target and (mnemonic.startswith("j") or mnemonic == "call"):
            entries.add(int(target.group(1), 16))

    problems, found = [], 0
    holds_gbs: set[str] = set()
    holds_allocate_pool: set[str] = set()
    ecx: int | None = None
    for address, mnemonic, operands in instructions:
        if address in entries:
            holds_gbs, holds_allocate_pool, ecx = set(), set(), None
        slot = re.fullmatch(r"qword ptr \[(\w+) \+ (\d+)\]", operands.split(",")[-1].strip())
        through_gbs = slot is not None and canonical(slot.group(1)) in holds_gbs \
            and int(slot.group(2)) == ALLOCATE_POOL_OFFSET
        if mnemonic in ("call", "jmp") and (through_gbs and "," not in operands or operands in holds_allocate_pool):
            found += 1
            if ecx != BOOT_SERVICES_DATA:
                what = "not a constant loaded before the call" if ecx is None else str(ecx)
                problems.append(f"{address:#x}: AllocatePool with pool type {what}, not {BOOT_SERVICES_DATA}")

        first = operands.split(",")[0]
        destination = canonical(first)
        if mnemonic == "call":
            holds_gbs -= VOLATILE
            holds_allocate_pool -= VOLATILE
            ecx = None
        elif (mnemonic.startswith("j") and mnemonic != "jmp") or mnemonic in NO_WRITE:
            pass
        elif mnemonic in FIRST_OPERAND_WRITE | VECTOR and (re.fullmatch(r"[xy]mm\d+", first) or "ptr [" in first):
            pass
        elif mnemonic == "imul" and "," not in operands:
            holds_gbs, holds_allocate_pool, ecx = set(), set(), None
        elif (mnemonic in FIRST_OPERAND_WRITE or mnemonic.startswith(("cmov", "set"))) and destination is not None:
            holds_gbs.discard(destination)
            holds_allocate_pool.discard(destination)
            if mnemonic == "mov" and through_gbs and first.startswith("r"):
                holds_allocate_pool.add(destination)
            if destination == "rcx":
                ecx = None
            source = operands.split(",", 1)[-1].strip()
            load = re.fullmatch(r"qword ptr \[rip \+ -?\d+\]\s+# 0x([0-9a-f]+)", source)
            if mnemonic == "mov" and load and int(load.group(1), 16) == gbs:
                holds_gbs.add(destination)
            if mnemonic == "mov" and first in ("ecx", "rcx") and re.fullmatch(r"-?\d+", source):
                ecx = int(source)
            if mnemonic == "xor" and operands in ("ecx, ecx", "rcx, rcx"):
                ecx = 0
        else:
            holds_gbs, holds_allocate_pool, ecx = set(), set(), None

    expected = expected_calls(sources)
    if found < expected:
        problems.append(f"found {found} AllocatePool calls in the image, the sources make {expected}: "
                        "the code no longer has the shape this check follows; look at the disassembly")
    print(f"{image.name}: {found} AllocatePool calls, {expected} in the sources, "
          f"pool type {BOOT_SERVICES_DATA} required")
    return problems


def main() -> int:
    if len(sys.argv) < 4:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    objdump, image, map_file, sources = sys.argv[1], Path(sys.argv[2]), Path(sys.argv[3]), sys.argv[4:]
    problems = check(objdump, image, map_file, sources)
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
