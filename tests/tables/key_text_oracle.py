#!/usr/bin/env python3
"""Checks the order of two-part text keys against SQLite's ORDER BY with a
collation of its own: case-insensitive per byte (upper-case pairs of cp1252
as the key collation defines them), ordered by the weight table of
key_collation, a text before its extensions, each part cut to its length.
Byte 0x01 (the fill byte) and 0x00 never occur inside the texts."""
import os
import sqlite3
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from oracle import Oracle  # noqa: E402
from key_collation import W, collate, upper  # noqa: E402

o = Oracle("table_desc_driver", 18)
rng = o.rng
db = sqlite3.connect(":memory:")
db.create_collation("zkey", collate)
# Case pairs, accented letters, digits and punctuation near each other.
COMMON = [ord(c) for c in "aAbBeEzZ09 -_."] + [0xE9, 0xC9, 0xE8, 0xFF, 0x9F, 0x9A, 0x8A, 0xF8, 0xD8, 0xDF]
LOWER = {upper(b): b for b in range(256) if upper(b) != b}


def text(n):
    return "".join(chr(rng.choice(COMMON) if rng.random() < 0.8 else rng.randint(2, 255)) for _ in range(n))


def variant(t):
    """t with its case changed, cut short, or extended."""
    r = rng.random()
    if r < 0.4:
        return "".join(chr(LOWER.get(ord(c), upper(ord(c)))) for c in t)
    return t[:rng.randrange(len(t) + 1)] if r < 0.7 else t + text(rng.randrange(1, 3))


for batch in range(30):
    l1, l2 = rng.randint(1, 12), rng.randint(1, 6)
    items = [(text(rng.randint(0, l1 + 3)), text(rng.randint(0, l2 + 3)))]
    while len(items) < 150:
        a, b = rng.choice(items)
        items.append((variant(a), b) if rng.random() < 0.4 else (a, variant(b)) if rng.random() < 0.6
                     else (text(rng.randint(0, l1 + 3)), text(rng.randint(0, l2 + 3))))
    db.execute("DROP TABLE IF EXISTS t")
    db.execute("CREATE TABLE t(id INTEGER, a TEXT, b TEXT)")
    db.executemany("INSERT INTO t VALUES (?, ?, ?)", [(i, a[:l1], b[:l2]) for i, (a, b) in enumerate(items)])
    want = ",".join(str(r[0]) for r in db.execute("SELECT id FROM t ORDER BY a COLLATE zkey, b COLLATE zkey, id"))
    hexes = ",".join("/".join(s.encode("latin-1").hex() or "-" for s in pair) for pair in items)
    o.ask(("sort", l1, l2, hexes), want, "sort %d %d %r" % (l1, l2, items))
o.run()
o.finish()
