#!/usr/bin/env python3
"""Sorts of random items with random key definitions (integer, text, double
and date parts, ascending and descending, with and without the sequence
part), in memory and external, against Python's sorted on the decoded
values. The driver answers the item numbers in the order it reads them;
without a sequence part equal keys may come in any order, with one they keep
the order of addition."""
import functools
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from oracle import Oracle  # noqa: E402
from key_collation import W, collate  # noqa: E402

SHORT, LONG, QUAD, TEXT, DOUBLE, DATE = 3, 4, 5, 6, 8, 10
LETTERS = "aAbBeE09 -\xe9\xc9\xff\x9f"

o = Oracle("sort_driver", 36)
rng = o.rng


def value(kind):
    if kind == SHORT:
        return rng.randint(-3, 3) * rng.choice([1, 1000])
    if kind == LONG:
        return rng.choice([rng.randint(-5, 5), rng.randint(-2**31, 2**31 - 1)])
    if kind == QUAD:
        return rng.choice([rng.randint(-5, 5), rng.randint(-2**62, 2**62)])
    if kind == TEXT:
        return "".join(rng.choice(LETTERS) for _ in range(rng.randint(0, 6)))
    return rng.randint(0, 40) / 4  # doubles and dates: quarters, exact in the key


def wire(kind, v):
    return (v.encode("latin-1").hex() or "-") if kind == TEXT else repr(v)


# A descending part's bytes: the byte of weight 255 - w for a byte of weight
# w, 0x00 for 0x00 and 0xFF. Case pairs do not stay pairs, so a descending
# text part is not the mirror of the case-insensitive ascending order.
BY_WEIGHT = {w: b for b, w in enumerate(W)}
REVERT = [0 if b in (0, 0xFF) else BY_WEIGHT[255 - W[b]] for b in range(256)]


def part_key(kind, length, desc, v):
    """What the key part keeps of a value, as a comparable."""
    if kind == TEXT:
        text = v[:length]
        if desc:  # the stored form: cut, filled with 0x01, reverted byte by byte
            text = "".join(chr(REVERT[ord(c)]) for c in text.ljust(length, "\x01"))
        return text
    return int(v) if kind == DATE else v


def compare(parts, a, b):
    for (kind, length, desc), x, y in zip(parts, a, b):
        x, y = part_key(kind, length, desc, x), part_key(kind, length, desc, y)
        c = collate(x, y) if kind == TEXT else ((x > y) - (x < y)) * (-1 if desc else 1)
        if c:
            return c
    return 0


def judge(parts, seq, items, method):
    item_size = sum(length for _, length, _ in parts) + (8 if seq else 0) + 4
    memory = method <= 20000 and item_size * method <= 0x400000 if method >= 0 else method != -3

    def ok(answer):
        flags, _, rest = answer.partition(" ")
        got = [int(x) for x in rest.split()]
        merged = 8 if items else 0  # an external sort merges at its first read
        if int(flags) != (1 if memory else merged) or sorted(got) != list(range(len(items))):
            return False
        for a, b in zip(got, got[1:]):
            c = compare(parts, items[a], items[b])
            if c > 0 or (c == 0 and seq and a > b):
                return False
        return True
    return ok


def one_sort(count, method):
    parts = []
    for _ in range(rng.randint(1, 3)):
        kind = rng.choice([SHORT, LONG, QUAD, TEXT, DOUBLE, DATE])
        length = {SHORT: 4, LONG: 8, QUAD: 16, DOUBLE: 16, DATE: 8}.get(kind) or rng.randint(1, 6)
        parts.append((kind, length, rng.random() < 0.4))
    seq = rng.random() < 0.5
    items = [[value(kind) for kind, _, _ in parts] for _ in range(count)]
    parts_text = ",".join("%d:%d:%s" % (k, n, "d" if d else "a") for k, n, d in parts)
    text = ";".join(",".join(wire(k, v) for (k, _, _), v in zip(parts, item)) for item in items)
    o.ask(("sort", method, seq, parts_text, text), judge(parts, seq, items, method), "sort %s seq=%d method=%d n=%d"
          % (parts_text, seq, method, count))


for _ in range(300):
    one_sort(rng.choice([0, 1, 2, rng.randint(3, 40), rng.randint(40, 400)]), rng.choice([-1, -2, -3, -4, -5, 100]))
for method in (-3, 30000):  # external, spilling several runs
    for _ in range(3):
        one_sort(rng.randint(9000, 14000), method)
o.run()
o.finish()
