#!/usr/bin/python3
"""Checks that a firmware image uses the general registers only: no SSE,
AVX or MMX instruction anywhere in its code.

Whether the vector registers work when an application starts is the
firmware's choice: one that leaves SSE off (CR4.OSFXSR clear, as U-Boot's
x86_64 build does) stops the image at its first such instruction, with no
message. The compiler puts them in on its own (a structure cleared or
copied sixteen bytes at a time), so the images are built with
-mgeneral-regs-only and this check holds them to it.

An instruction is refused when an operand names an xmm, ymm, zmm or mm
register or an AVX-512 mask register, or when its mnemonic is one of those
that work on the vector state without naming a register (the MXCSR loads
and stores, emms, the AVX instructions, all spelt with a leading "v").

Run: check_general_registers.py OBJDUMP FILE...
"""

from __future__ import annotations

import re
import sys
from pathlib import Path

sys.dont_write_bytecode = True
sys.path.insert(0, str(Path(__file__).resolve().parent))
from check_pool_type import disassemble  # noqa: E402

VECTOR_REGISTER = re.compile(r"\b(?:[xyz]mm\d+|mm[0-7]|k[0-7])\b")
VECTOR_STATE_MNEMONICS = {"ldmxcsr", "stmxcsr", "emms", "femms", "fxsave", "fxrstor", "fxsave64", "fxrstor64"}
# General-register instructions whose names start with "v" as AVX ones do.
NOT_AVX = {"verr", "verw", "vmcall", "vmlaunch", "vmresume", "vmxoff", "vmxon", "vmread", "vmwrite",
           "vmptrld", "vmptrst", "vmclear", "vmfunc"}
SHOWN = 20


def operands_only(operands: str) -> str:
    """The operands without the disassembler's "<symbol>" and "# address" notes."""
    return re.sub(r"<[^>]*>", "", operands.split("#")[0])


def is_vector(mnemonic: str, operands: str) -> bool:
    return (VECTOR_REGISTER.search(operands_only(operands)) is not None
            or mnemonic in VECTOR_STATE_MNEMONICS
            or (mnemonic.startswith("v") and mnemonic not in NOT_AVX))


def check(objdump: str, image: Path) -> list[str]:
    instructions = disassemble(objdump, image)
    found = [f"{image.name} {address:#x}: {mnemonic} {operands}" for address, mnemonic, operands in instructions
             if is_vector(mnemonic, operands)]
    print(f"{image.name}: {len(instructions)} instructions, {len(found)} SSE, AVX or MMX")
    if not instructions:
        return [f"{image.name}: no code found: the disassembly has a form this check does not read"]
    if len(found) > SHOWN:
        found = found[:SHOWN] + [f"... and {len(found) - SHOWN} more"]
    return found


def main() -> int:
    if len(sys.argv) < 3:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    problems = [problem for image in sys.argv[2:] for problem in check(sys.argv[1], Path(image))]
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
