#!/usr/bin/python3
"""Boot entries written straight into an OVMF variable store file.

With Secure Boot on, no shell runs, so nothing inside the machine can
create a boot entry; an operating system would (efibootmgr). The tests do
what it does, before the boot: they add Boot####, Driver####, BootOrder,
DriverOrder and BootNext to the store's file, each an EFI_LOAD_OPTION as
the UEFI specification lays it out, with the tool's arguments as its
optional data (UCS-2, terminated: efibootmgr's unicode optional data).

The store is the firmware volume of EDK II's authenticated variable
format (MdeModulePkg's VariableFormat.h): a VARIABLE_STORE_HEADER after the
volume header, then variables, each a 60-byte header, its name and its
data, on 4-byte boundaries, up to the first header without the start mark.
A variable replaced is marked deleted, as the firmware does.
"""

from __future__ import annotations

import struct
import uuid
from pathlib import Path

GLOBAL_VARIABLE = uuid.UUID("8be4df61-93ca-11d2-aa0d-00e098032b8c")
AUTHENTICATED_STORE = uuid.UUID("aaf32c78-947b-439a-a180-2e144ec37792")

NON_VOLATILE_BOOT_RUNTIME = 0x7          # NV | BS | RT, as every boot variable
LOAD_OPTION_ACTIVE = 0x1

_START_ID = 0x55AA
_VAR_ADDED = 0x3F
_VAR_DELETED = 0xFD                     # cleared bit 1: the variable no longer counts
_HEADER = struct.Struct("<HBBIQ16sIII16s")   # StartId State Reserved Attributes MonotonicCount TimeStamp PubKeyIndex NameSize DataSize VendorGuid
_STORE_HEADER_SIZE = 28


def ucs2(text: str) -> bytes:
    """Text as UCS-2 with its terminator."""
    return (text + "\0").encode("utf-16-le")


def file_path(path: str) -> bytes:
    """A device path of one file-path node: the short form the boot manager
    completes with the first volume that holds the file."""
    name = ucs2(path)
    return struct.pack("<BBH", 4, 4, 4 + len(name)) + name + struct.pack("<BBH", 0x7F, 0xFF, 4)


def load_option(description: str, device_path: bytes, optional_data: bytes = b"",
                attributes: int = LOAD_OPTION_ACTIVE) -> bytes:
    """EFI_LOAD_OPTION: attributes, the path's length, the description, the path, the optional data."""
    return struct.pack("<IH", attributes, len(device_path)) + ucs2(description) + device_path + optional_data


def option_list(*numbers: int) -> bytes:
    """BootOrder, DriverOrder or BootNext: UINT16 option numbers."""
    return struct.pack(f"<{len(numbers)}H", *numbers)


def _store(data: bytearray) -> tuple[int, int]:
    """Where the variables start, and where the store ends."""
    if data[0x28:0x2C] != b"_FVH":
        raise ValueError("not a firmware volume")
    start = struct.unpack_from("<H", data, 0x30)[0]
    if uuid.UUID(bytes_le=bytes(data[start:start + 16])) != AUTHENTICATED_STORE:
        raise ValueError("not an authenticated variable store")
    size = struct.unpack_from("<I", data, start + 16)[0]
    return start + _STORE_HEADER_SIZE, start + size


def _variables(data: bytearray, begin: int):
    """(offset, name, guid, state, end) of each variable header in the store."""
    offset = begin
    while struct.unpack_from("<H", data, offset)[0] == _START_ID:
        fields = _HEADER.unpack_from(data, offset)
        name_size, data_size = fields[7], fields[8]
        name_at = offset + _HEADER.size
        name = bytes(data[name_at:name_at + name_size]).decode("utf-16-le").rstrip("\0")
        end = (name_at + name_size + data_size + 3) & ~3
        yield offset, name, uuid.UUID(bytes_le=fields[9]), fields[1], end
        offset = end


def set_variables(path: Path, variables: dict[str, bytes], guid: uuid.UUID = GLOBAL_VARIABLE) -> None:
    """Sets each name to its data in the store file, as non-volatile boot
    and runtime variables of guid."""
    data = bytearray(path.read_bytes())
    begin, limit = _store(data)
    end = begin
    for offset, name, vendor, state, end in _variables(data, begin):
        if vendor == guid and name in variables and state == _VAR_ADDED:
            data[offset + 2] = state & _VAR_DELETED
    for name, value in variables.items():
        encoded = ucs2(name)
        record = _HEADER.pack(_START_ID, _VAR_ADDED, 0, NON_VOLATILE_BOOT_RUNTIME, 0, bytes(16), 0,
                              len(encoded), len(value), guid.bytes_le) + encoded + value
        if end + len(record) > limit:
            raise ValueError("variable store full")
        data[end:end + len(record)] = record
        end = (end + len(record) + 3) & ~3
    path.write_bytes(bytes(data))


def get_variable(path: Path, name: str, guid: uuid.UUID = GLOBAL_VARIABLE) -> bytes | None:
    """The data of the variable as the store holds it now, None when it is not there."""
    data = bytearray(path.read_bytes())
    found = None
    for offset, vname, vendor, state, _ in _variables(data, _store(data)[0]):
        if vname == name and vendor == guid and state == _VAR_ADDED:
            fields = _HEADER.unpack_from(data, offset)
            value_at = offset + _HEADER.size + fields[7]
            found = bytes(data[value_at:value_at + fields[8]])
    return found
