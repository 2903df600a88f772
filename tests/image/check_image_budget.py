#!/usr/bin/python3
"""Checks a firmware image against its size budget, and that no section of
it is both writable and executable.

The budget is what a technician's tooling and this project allow the tool;
the next message line must not break it unseen. A firmware that maps each
section by its characteristics (code read-only, data never executable)
refuses or faults on a section that is both: the images join read-only data
to their code, never writable data.

Run: check_image_budget.py IMAGE.efi BUDGET_BYTES
"""

from __future__ import annotations

import struct
import sys
from pathlib import Path

SCN_MEM_EXECUTE = 0x20000000
SCN_MEM_WRITE = 0x80000000
PE_SIGNATURE = b"PE\0\0"


def sections(image: bytes) -> list[tuple[str, int]]:
    """(name, characteristics) of every section of a PE image."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != PE_SIGNATURE:
        raise ValueError("no PE signature")
    count, = struct.unpack_from("<H", image, pe + 6)
    optional_size, = struct.unpack_from("<H", image, pe + 20)
    table = pe + 24 + optional_size
    found = []
    for index in range(count):
        entry = table + 40 * index
        name = image[entry:entry + 8].rstrip(b"\0").decode("ascii", "replace")
        characteristics, = struct.unpack_from("<I", image, entry + 36)
        found.append((name, characteristics))
    return found


def check(path: Path, budget: int) -> list[str]:
    image = path.read_bytes()
    problems = []
    if len(image) > budget:
        problems.append(f"{path.name} is {len(image)} bytes, over its budget of {budget} bytes "
                        f"by {len(image) - budget}")
    for name, characteristics in sections(image):
        if characteristics & SCN_MEM_EXECUTE and characteristics & SCN_MEM_WRITE:
            problems.append(f"{path.name}: section {name} is both writable and executable")
    print(f"{path.name}: {len(image)} bytes of {budget}, sections "
          + ", ".join(f"{name} {characteristics:#010x}" for name, characteristics in sections(image)))
    return problems


def main() -> int:
    if len(sys.argv) != 3:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    problems = check(Path(sys.argv[1]), int(sys.argv[2]))
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
