"""The UEFI Shell as an .efi file, taken out of OVMF's firmware volumes.

A firmware that has no shell of its own (U-Boot) boots this one from the
test disk. Debian's OVMF carries the shell as one file of its firmware file
system: inside the main volume, an LZMA-compressed section holds the DXE
volume, and there the shell's file holds its PE32 image in a section.

The walk below follows the firmware storage formats of the PI
specification (volume, file and section headers); it opens
LZMA-compressed sections and nested volumes wherever they are, so it does
not depend on where OVMF's build puts them.

Run as a program it writes the shell to a file:
    shell_image.py OVMF_CODE.fd Shell.efi
"""

from __future__ import annotations

import lzma
import struct
import sys
import uuid
from pathlib import Path
from typing import Iterator

# The shell's file name in EDK II builds.
SHELL_FILE = uuid.UUID("7C04A583-9E3E-4F1C-AD65-E05268D0B4D1")
LZMA_SECTION = uuid.UUID("EE4E5898-3914-4259-9D6E-DC7BD79403CF")

FV_SIGNATURE = b"_FVH"
FV_SIGNATURE_OFFSET = 40  # after ZeroVector[16], FileSystemGuid, FvLength
FFS_ATTRIB_LARGE_FILE = 0x01
FFS_TYPE_PAD = 0xF0
FILE_HEADER_SIZE, FILE_HEADER2_SIZE = 24, 32

EFI_SECTION_GUID_DEFINED = 0x02
EFI_SECTION_PE32 = 0x10
EFI_SECTION_FIRMWARE_VOLUME_IMAGE = 0x17


class ShellImageError(Exception):
    pass


def _align(value: int, alignment: int) -> int:
    return (value + alignment - 1) & ~(alignment - 1)


def _volume(data: bytes, start: int) -> tuple[int, int]:
    """(first file's offset, end) of the volume whose header is at start."""
    length, = struct.unpack_from("<Q", data, start + 32)
    header_length, _, ext_header_offset = struct.unpack_from("<HHH", data, start + 48)
    first = start + header_length
    if ext_header_offset:
        # The extended header: FvName, then its own size.
        ext_size, = struct.unpack_from("<I", data, start + ext_header_offset + 16)
        first = start + ext_header_offset + ext_size
    return _align(first, 8), min(start + length, len(data))


def _files(data: bytes, start: int) -> Iterator[tuple[uuid.UUID, bytes]]:
    """(name, sections) of each file in the volume at start."""
    position, end = _volume(data, start)
    while position + FILE_HEADER_SIZE <= end:
        header = data[position:position + FILE_HEADER_SIZE]
        if header == b"\xff" * FILE_HEADER_SIZE:
            return  # erased: the free space after the last file
        name = uuid.UUID(bytes_le=header[:16])
        kind, attributes = header[18], header[19]
        size = int.from_bytes(header[20:23], "little")
        header_size = FILE_HEADER_SIZE
        if attributes & FFS_ATTRIB_LARGE_FILE:
            size, = struct.unpack_from("<Q", data, position + FILE_HEADER_SIZE)
            header_size = FILE_HEADER2_SIZE
        if size < header_size or position + size > end:
            raise ShellImageError(f"file {name} at {position:#x}: size {size:#x} does not fit its volume")
        if kind != FFS_TYPE_PAD:
            yield name, data[position + header_size:position + size]
        position = _align(position + size, 8)


def _sections(data: bytes) -> Iterator[tuple[int, bytes]]:
    """(type, content) of each section in data, LZMA-compressed ones opened."""
    position = 0
    while position + 4 <= len(data):
        size, kind, header_size = int.from_bytes(data[position:position + 3], "little"), data[position + 3], 4
        if size == 0xFFFFFF:
            size, header_size = struct.unpack_from("<I", data, position + 4)[0], 8
        if size < header_size or position + size > len(data):
            raise ShellImageError(f"section at {position:#x}: size {size:#x} does not fit its file")
        content = data[position + header_size:position + size]
        if kind == EFI_SECTION_GUID_DEFINED:
            definition = uuid.UUID(bytes_le=content[:16])
            data_offset, = struct.unpack_from("<H", content, 16)
            if definition == LZMA_SECTION:
                # The "alone" format: properties, the unpacked size, the stream.
                unpacked = lzma.decompress(data[position + data_offset:position + size], lzma.FORMAT_ALONE)
                yield from _sections(unpacked)
        else:
            yield kind, content
        position = _align(position + size, 4)


def _find_pe32(data: bytes, start: int, file_name: uuid.UUID) -> bytes | None:
    for name, sections in _files(data, start):
        for kind, content in _sections(sections):
            if name == file_name and kind == EFI_SECTION_PE32:
                return content
            if kind == EFI_SECTION_FIRMWARE_VOLUME_IMAGE and content[FV_SIGNATURE_OFFSET:][:4] == FV_SIGNATURE:
                found = _find_pe32(content, 0, file_name)
                if found is not None:
                    return found
    return None


def extract_shell(firmware: bytes) -> bytes:
    """The shell's PE32 image out of a firmware device image such as OVMF_CODE.fd."""
    start = firmware.find(FV_SIGNATURE)
    while start >= 0:
        volume = start - FV_SIGNATURE_OFFSET
        if volume >= 0:
            image = _find_pe32(firmware, volume, SHELL_FILE)
            if image is not None:
                if image[:2] != b"MZ":
                    raise ShellImageError("the shell's PE32 section does not hold a PE image")
                return image
            # The volume's length says where the next one may start.
            start = firmware.find(FV_SIGNATURE, volume + max(struct.unpack_from("<Q", firmware, volume + 32)[0], 1))
        else:
            start = firmware.find(FV_SIGNATURE, start + 1)
    raise ShellImageError(f"no file {SHELL_FILE} with a PE32 section in the firmware's volumes")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__.strip().splitlines()[-1])
    Path(sys.argv[2]).write_bytes(extract_shell(Path(sys.argv[1]).read_bytes()))
