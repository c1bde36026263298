"""The collation of text keys and index keys, typed here once for
the oracle scripts: case-insensitive per byte (upper-case pairs of cp1252),
ordered by a weight table, a text before its extensions."""

WEIGHTS = """
00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F  10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F
20 36 37 38 39 3A 3B 31 3C 3D 3E 61 3F 32 40 41  22 23 24 25 26 27 28 29 2A 2B 42 43 62 63 64 44
45 84 94 96 9A 9E AA AC AE B0 BA BC BE C0 C2 C7  D7 D9 DB DD E2 E7 F1 F3 F5 F7 FD 46 47 48 49 4B
4C 83 93 95 99 9D A9 AB AD AF B9 BB BD BF C1 C6  D6 D8 DA DC E1 E6 F0 F2 F4 F6 FC 4D 4E 4F 50 9F
7B 2C 5B A8 5E 79 76 77 4A 7A DF 5F D5 2D FF 2E  2F 59 5A 5C 5D 78 34 35 58 E5 DE 60 D4 30 FE FB
21 51 6A 6B 6C 6D 52 6E 53 6F 82 66 70 33 71 54  72 65 80 81 55 73 74 75 56 7F C5 67 7C 7D 7E 57
88 86 8A 8E 8C 90 92 98 A3 A1 A5 A7 B4 B2 B6 B8  9C C4 CB C9 CD D1 CF 69 D3 EB E9 ED EF F9 E3 E0
87 85 89 8D 8B 8F 91 97 A2 A0 A4 A6 B3 B1 B5 B7  9B C3 CA C8 CC D0 CE 68 D2 EA E8 EC EE F8 E4 FA
"""
W = [int(x, 16) for x in WEIGHTS.split()]
assert sorted(W) == list(range(256))


def upper(b):
    if 0x61 <= b <= 0x7A or 0xE0 <= b <= 0xF6 or 0xF9 <= b <= 0xFE:
        return b - 0x20
    return {0x9A: 0x8A, 0x9C: 0x8C, 0x9E: 0x8E, 0xFF: 0x9F}.get(b, b)


def collate(x, y):
    for a, b in zip(x.encode("latin-1"), y.encode("latin-1")):
        if upper(a) != upper(b):
            return W[a] - W[b]
    return len(x) - len(y)
