#!/usr/bin/env python3
"""Writes the seed corpus of xbfuzz_dbf into the directory given.

Each seed is one fuzz input: two bytes (little-endian) giving the table
file's length, the table file, then the memo file. The tables are small
but well formed, so that the fuzzer starts from files that open and read:
every field type, memos in one and in two blocks, a deleted record, an
empty table, a 300-character C field (16-bit length), a table without a
memo file, and the header length other writers use (32 x fields + 33).

    python3 tools/fuzz/make_dbf_seeds.py DIR
"""
import os
import struct
import sys

BLOCK = 512


def field(name, kind, length, decimals=0):
    return (name, kind, length, decimals)


def encode(kind, length, decimals, value):
    if kind == "C":
        return value.encode("cp1252").ljust(length, b" ")[:length]
    if kind == "N":
        text = "" if value is None else f"{value:.{decimals}f}"
        return text.encode().rjust(length, b" ")
    if kind == "D":
        return (value or "").encode().ljust(8, b" ")
    if kind == "L":
        return b"T" if value else b"F"
    if kind == "M":
        return (b"" if value is None else str(value).encode()).rjust(10, b" ")
    raise ValueError(kind)


def table(fields, rows, memo_file, deleted=(), header_extra=2):
    """rows: lists of values; an M value is its block number (or None)."""
    lengths = [f[2] for f in fields]
    reclen = 1 + sum(lengths)
    hdrlen = 32 * len(fields) + 32 + header_extra
    version = 0x83 if memo_file else 0x03
    out = bytearray(struct.pack("<B3BIHH20x", version, 126, 12, 9, len(rows), hdrlen, reclen))
    for name, kind, length, decimals in fields:
        if kind == "C" and length > 255:
            lo, hi = length & 0xFF, length >> 8
        else:
            lo, hi = length, decimals
        out += struct.pack("<11sc4xBB14x", name.encode(), kind.encode(), lo, hi)
    out += b"\x0d"
    out += b"\x00" * (hdrlen - len(out))
    for i, row in enumerate(rows):
        out += b"*" if i in deleted else b" "
        for (name, kind, length, decimals), value in zip(fields, row):
            out += encode(kind, length, decimals, value)
    out += b"\x1a"
    return bytes(out)


def memos(texts):
    """A memo file holding the texts; returns (bytes, first block of each)."""
    blocks, data, next_block = [], bytearray(BLOCK), 1
    for text in texts:
        blocks.append(next_block)
        body = text.encode("cp1252") + b"\x1a"
        body += b"\x1a" + b"\x00" * (-(len(body) + 1) % BLOCK)
        data += body
        next_block += len(body) // BLOCK
    data[0:4] = struct.pack("<I", next_block)
    return bytes(data), blocks


def seed(tab, memo=b""):
    assert len(tab) <= 0xFFFF
    return struct.pack("<H", len(tab)) + tab + memo


def main(directory):
    os.makedirs(directory, exist_ok=True)
    seeds = {}
    all_types = [field("NAME", "C", 12), field("AMOUNT", "N", 10, 2), field("BORN", "D", 8),
                 field("OK", "L", 1), field("NOTES", "M", 10)]
    memo, (b1, b2) = memos(["short memo", "x" * 700])
    seeds["all_types"] = seed(table(all_types, [
        ["Ana", 12.5, "19991231", True, b1],
        ["Bo\xf1o", -3.25, "", False, None],
        ["Carla", None, "20240229", True, b2],
    ], True, deleted={1}), memo)
    seeds["empty"] = seed(table(all_types, [], True), memos([])[0])
    seeds["no_memo"] = seed(table([field("CODE", "C", 4), field("QTY", "N", 5)],
                                  [["A1", 7], ["B2", 12345]], False))
    seeds["long_char"] = seed(table([field("TEXT", "C", 300)], [["y" * 300], ["z"]], False))
    seeds["other_header"] = seed(table([field("ID", "N", 3), field("MEMO", "M", 10)],
                                       [[1, b1]], True, header_extra=1), memo[:1024])
    for name, data in seeds.items():
        with open(os.path.join(directory, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])
