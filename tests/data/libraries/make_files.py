"""Writes the crafted library files of this folder: small files shaped as
an ELF shared library or a Windows DLL, whole or damaged in one way each,
with no code in them. su55if-host and the Python package judge each the
same way, as verdicts.txt says (both test suites read it). Run it from
this folder after changing it: /usr/bin/python3 make_files.py"""

import struct

PT_LOAD, PT_DYNAMIC, PT_NOTE = 1, 2, 4


def elf(kind=3, segments=((PT_LOAD, 0, 0x100), (PT_DYNAMIC, 0x80, 0x40)), sections=(0xC0, 2), size=0x140):
    """An ELF64 little-endian file of `size` bytes: type `kind` (3 a shared
    library), program headers at 64 for `segments` (type, offset, size in
    the file), `sections` (offset, count) of 64-byte section headers."""
    header = bytearray(64)
    header[:16] = b"\x7fELF" + bytes([2, 1, 1]) + bytes(9)
    struct.pack_into("<HHI", header, 16, kind, 62, 1)
    struct.pack_into("<QQ", header, 0x20, 64, sections[0])  # e_phoff, e_shoff
    struct.pack_into("<HHHHHH", header, 0x34, 64, 56, len(segments), 64, sections[1], 0)
    table = b"".join(struct.pack("<IIQQQQQQ", kind_, 4, offset, 0, 0, filesz, filesz, 8)
                     for kind_, offset, filesz in segments)
    data = bytes(header) + table
    return data + bytes(max(0, size - len(data)))


def pe(dll=True, optional=0xF0, sections=((0x200, 0x100),), size=0x300):
    """A PE file of `size` bytes: the DOS header pointing at the PE header
    at 0x40, an optional header of `optional` bytes, `sections` (raw
    offset, raw size)."""
    dos = bytearray(64)
    dos[:2] = b"MZ"
    struct.pack_into("<I", dos, 0x3C, 0x40)
    coff = b"PE\0\0" + struct.pack("<HHIIIHH", 0x8664, len(sections), 0, 0, 0, optional, 0x2022 if dll else 0x0022)
    table = b"".join(struct.pack("<8sIIII12xI", b".text", size_, offset, size_, offset, 0x60000020)
                     for offset, size_ in sections)
    data = bytes(dos) + coff + bytes(optional) + table
    return data + bytes(max(0, size - len(data)))


FILES = {
    "elf-whole.so": elf(),
    "elf-header-cut.so": elf()[:40],
    "elf-program-headers-cut.so": elf()[:100],
    "elf-load-segment-cut.so": elf(segments=((PT_LOAD, 0, 0x200),)),
    "elf-note-segment-cut.so": elf(segments=((PT_LOAD, 0, 0x100), (PT_NOTE, 0x120, 0x80))),
    "elf-section-headers-cut.so": elf(sections=(0x120, 2)),
    "elf-executable.so": elf(kind=2),
    "pe-whole.dll": pe(),
    "pe-optional-header-cut.dll": pe(optional=0x400, sections=())[:0x200],
    "pe-section-cut.dll": pe(sections=((0x200, 0x200),)),
    "pe-not-a-dll.dll": pe(dll=False),
    "text.so": b"not a library\n",
}

for name, data in FILES.items():
    with open(name, "wb") as out:
        out.write(data)
