#!/usr/bin/env python3
"""Writes the seed corpus of bfile_open_fuzz (and of bfile_salvage_fuzz,
given fuzz/corpus/bfile_salvage): small block files built byte by byte from
the file layout (980-byte header, 24-byte directory entries, block extents),
independently of the library. Usage: fuzz/make_bfile_corpus.py [output-dir]
(default: fuzz/corpus/bfile_open next to this script).

Seeds:
  empty          a fresh file: header, empty directory, 25,600 bytes
  blocks         five blocks after the standard reserved area
  free_extents   used blocks, reusable free extents, empty slots, a block
                 marked not compactable and one of size 0
  small_start    a data start just past the directory: the blocks follow at
                 once (a short file the fuzzer mutates cheaply)
  crashed        small_start with the crash counter at 1 and the open marker
                 and bad-close bit set (opens only when tolerated)
  overlap        two extents sharing bytes and lost space at the end
"""
import os
import random
import struct
import sys

HEADER = 980
ENTRY = 24
FREE, NO_COMPACT = 0x01, 0x02


def header(count, data_start, crash=0, state=0, bad_open=0, counter=1, file_type=7, guid=0x1234567,
           signature=0x5A4F52, user_rel=3, crea=b"seed"):
    h = bytearray(HEADER)
    h[0:8] = b"ZorBFile"
    struct.pack_into("<iiiiii", h, 8, 1, crash, state, bad_open, data_start, count)
    struct.pack_into("<Q", h, 32, counter)
    struct.pack_into("<iiii", h, 40, file_type, guid, signature, user_rel)
    h[56:56 + len(crea)] = crea
    for i in range(0, 64, 7):
        struct.pack_into("<i", h, 92 + 4 * i, i * 1000 - 5)
    return h


def entry(pos=0, capacity=0, size=0, owner=0, typ=0, flags=0):
    return struct.pack("<IIIiIhBB", pos & 0xFFFFFFFF, capacity, size, owner, 0, typ, flags, pos >> 32)


class Builder:
    """Blocks are (owner, type, data, spare, flags); None is an empty slot,
    ("free", capacity) a free extent."""

    def __init__(self, data_start=None):
        self.items = []
        self.data_start = data_start

    def block(self, owner, typ, data, spare=0, flags=0):
        self.items.append((owner, typ, data, spare, flags))

    def free(self, capacity):
        self.items.append(("free", capacity))

    def slot(self):
        self.items.append(None)

    def build(self, lost_tail=0, **hdr):
        count = len(self.items)
        start = self.data_start if self.data_start is not None else 25600
        start = max(start, HEADER + count * ENTRY)
        directory = bytearray()
        body = bytearray()
        for item in self.items:
            pos = start + len(body)
            if item is None:
                directory += entry(flags=FREE)
            elif item[0] == "free":
                directory += entry(pos, item[1], 0, 0, 0, FREE)
                body += bytes(item[1])
            else:
                owner, typ, data, spare, flags = item
                cap = len(data) + spare
                directory += entry(pos, cap, len(data), owner, typ, flags)
                body += data + bytes(spare)
        image = header(count, start, **hdr) + directory
        image += bytes(start - len(image))
        return bytes(image + body + bytes(lost_tail))


def rnd(gen, n):
    return bytes(gen.randrange(256) for _ in range(n))


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                              "corpus", "bfile_open")
    os.makedirs(out, exist_ok=True)
    gen = random.Random(2026)
    seeds = {}

    seeds["empty"] = Builder().build()

    b = Builder()
    for i in range(5):
        b.block(513, i + 1, rnd(gen, 40 + 97 * i))
    seeds["blocks"] = b.build()

    b = Builder()
    b.block(513, 100, rnd(gen, 300), spare=50)
    b.free(700)
    b.slot()
    b.block(514, 2, rnd(gen, 120), flags=NO_COMPACT, spare=200)
    b.block(-2, 0, b"", spare=64)
    b.free(1500)
    b.slot()
    b.block(513, 3, rnd(gen, 900))
    seeds["free_extents"] = b.build()

    b = Builder(data_start=HEADER + 6 * ENTRY)
    b.block(513, 1, rnd(gen, 60))
    b.block(513, 2, rnd(gen, 30), spare=10)
    b.free(80)
    b.slot()
    b.block(600, 100, rnd(gen, 16))
    b.block(600, 7, rnd(gen, 8), flags=NO_COMPACT, spare=8)
    seeds["small_start"] = b.build()
    seeds["crashed"] = b.build(crash=1, state=0x6, bad_open=2)

    # Entry 2 starts inside entry 1's extent; 100 bytes after the last one
    # belong to nobody.
    image = bytearray(Builder(data_start=HEADER + 2 * ENTRY).build())
    start = HEADER + 2 * ENTRY
    struct.pack_into("<i", image, 28, 2)
    image[HEADER:HEADER + 2 * ENTRY] = entry(start, 64, 64, 513, 1) + entry(start + 63, 32, 32, 513, 2)
    image += rnd(gen, 95) + bytes(100)
    seeds["overlap"] = bytes(image)

    for name, data in seeds.items():
        assert len(data) < 64 * 1024, name
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
