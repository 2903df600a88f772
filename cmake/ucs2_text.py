#!/usr/bin/python3
"""Writes a text file as the UEFI shell reads its manual pages: UCS-2,
little-endian, with a byte-order mark and CR LF line ends.

Usage: ucs2_text.py SOURCE DEST

SOURCE is plain ASCII with LF (or CR LF) line ends. A line wider than the
console's 80 columns would wrap in the middle of a word, and a character
outside ASCII may have no glyph in the firmware's font: both are refused.
"""

import sys

COLUMNS = 80


def convert(source: str, dest: str) -> None:
    data = open(source, "rb").read()
    try:
        text = data.decode("ascii")
    except UnicodeDecodeError as error:
        sys.exit(f"{source}: not ASCII at byte {error.start}")
    lines = text.replace("\r\n", "\n").split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    for number, line in enumerate(lines, 1):
        if len(line) >= COLUMNS or "\t" in line:
            sys.exit(f"{source}:{number}: wider than {COLUMNS - 1} columns, or a tab")
    with open(dest, "wb") as out:
        out.write(b"\xff\xfe" + "".join(line + "\r\n" for line in lines).encode("utf-16-le"))


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    convert(sys.argv[1], sys.argv[2])
