#!/usr/bin/env python3
"""Reads the built program's load configuration back from the image.

    load_flags_test.py IMAGE.exe

The elevated program links dwmapi.dll at load time, which is no known DLL:
without dependent-load flags Windows would look for it beside the program
first. The image's load configuration must reach the DependentLoadFlags
field and hold LOAD_LIBRARY_SEARCH_SYSTEM32 there alone, which Windows 10
(1607) and later apply to every load-time import.
"""
import struct
import sys

LOAD_CONFIG_ENTRY = 10
DEPENDENT_LOAD_FLAGS_OFFSET = 0x4E  # in the 64-bit load configuration record
LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x800


def file_offset(data, pe, rva):
    section_count, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    table = pe + 24 + optional_size
    for index in range(section_count):
        virtual_size, address, raw_size, raw_offset = struct.unpack_from("<IIII", data, table + 40 * index + 8)
        if address <= rva < address + max(virtual_size, raw_size):
            return raw_offset + rva - address
    return None


def main(image):
    data = open(image, "rb").read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    rva, size = struct.unpack_from("<II", data, pe + 24 + 112 + 8 * LOAD_CONFIG_ENTRY)
    offset = file_offset(data, pe, rva) if rva else None
    if offset is None:
        print(f"FAIL: {image} has no load configuration (entry {rva:#x}, {size} bytes)")
        return 1
    record_size = struct.unpack_from("<I", data, offset)[0]
    if min(size, record_size) < DEPENDENT_LOAD_FLAGS_OFFSET + 2:
        print(f"FAIL: the load configuration ({size} bytes, record {record_size}) ends before its "
              "dependent-load flags")
        return 1
    flags = struct.unpack_from("<H", data, offset + DEPENDENT_LOAD_FLAGS_OFFSET)[0]
    if flags != LOAD_LIBRARY_SEARCH_SYSTEM32:
        print(f"FAIL: dependent-load flags {flags:#x}, expected {LOAD_LIBRARY_SEARCH_SYSTEM32:#x} "
              "(the system folder only)")
        return 1
    print("load-time imports come from the system folder only")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
