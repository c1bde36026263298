#!/usr/bin/env python3
"""Checks the library's cp1252 text functions against Python.

Case mappings, accent folding, UTF-8 and the OEM conversion come from
Python's cp1252 / cp850 codecs and unicodedata; orderings are computed
independently from the collation weights of key_collation.py."""
import base64
import os
import sys
import unicodedata

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
from oracle import Oracle  # noqa: E402
from key_collation import W  # noqa: E402

UNASSIGNED = {0x81, 0x8D, 0x8F, 0x90, 0x9D}   # map to the C1 control of the same value
UNPAIRED = {0xD8, 0xF8}                       # O with stroke: no case pair in the library


o = Oracle("string_text_driver", 1252)
rng = o.rng

def char_of(b):
    return chr(b) if b in UNASSIGNED else bytes([b]).decode("cp1252")


def byte_of(c):
    """The cp1252 byte of one character, None when the page lacks it."""
    if len(c) != 1:
        return None
    if ord(c) in UNASSIGNED:
        return ord(c)
    try:
        return c.encode("cp1252")[0]
    except UnicodeEncodeError:
        return None


def case_map(b, fn):
    if b in UNPAIRED:
        return b
    m = byte_of(fn(char_of(b)))
    return b if m is None else m


def plain_upper(b):
    if b < 0x80:
        return case_map(b, str.upper)
    base = unicodedata.normalize("NFD", char_of(b))[0]
    return ord(base.upper()) if base.isascii() and base.isalpha() else ord("_")


UP = [case_map(b, str.upper) for b in range(256)]


def hexs(bs):
    return bytes(bs).hex() or "-"


# ---------------------------------------------------------------- per-byte tables
for b in range(256):
    utf8 = char_of(b).encode("utf-8").hex() if b else "-"
    oem = byte_of(bytes([b]).decode("cp850")) if b else None
    o.ask(("byte", b), "%s %s %s %s %s %d" % (hexs([case_map(b, str.lower)]), hexs([UP[b]]), hexs([plain_upper(b)]),
                                              utf8, "-" if not b else hexs([oem if oem is not None else ord("?")]),
                                              W[b]))

# ---------------------------------------------------------------- orderings
def wkey(w):
    return [W[x] for x in w]


def sign(v):
    return (v > 0) - (v < 0)


def cmp_model(a, b, fold):
    for i in range(max(len(a), len(b)) + 1):
        x = a[i] if i < len(a) else 0
        y = b[i] if i < len(b) else 0
        if x == y:
            if x == 0:
                return 0
            continue
        if fold and UP[x] == UP[y]:
            continue
        if x == 0:
            return -1
        if y == 0:
            return 1
        return sign(W[x] - W[y])


LETTERS = [b for b in range(0x41, 0x5B)] + [b for b in range(0x61, 0x7B)] + \
          [b for b in range(0xC0, 0x100)] + [0x8A, 0x8C, 0x8E, 0x9A, 0x9C, 0x9E, 0x9F]
OTHERS = [b for b in range(1, 256) if b not in LETTERS]


def random_word():
    n = rng.randint(0, 7)
    return bytes(rng.choice(LETTERS) if rng.random() < 0.85 else rng.choice(OTHERS) for _ in range(n))


def variant(w):
    """The same word with some letters changed to another case, or cut short."""
    out = bytearray(w)
    for i, x in enumerate(out):
        if rng.random() < 0.5:
            out[i] = case_map(x, str.lower) if rng.random() < 0.5 else UP[x]
    if out and rng.random() < 0.2:
        del out[rng.randrange(len(out)):]
    return bytes(out)


def words_line(words):
    return " ".join(w.hex() for w in words)


singles = [bytes([b]) for b in range(1, 256)]
o.ask(["sort"] + [w.hex() for w in rng.sample(singles, len(singles))], words_line(sorted(singles, key=wkey)))
words = sorted({random_word() for _ in range(4000)} - {b""})  # a set of bytes has no fixed order
o.ask(["sort"] + [w.hex() for w in words], words_line(sorted(words, key=wkey)))
pool = [w for w in words[:600] + [variant(w) for w in words[:600]] if w]


def icmp_sorted(answer):
    """A permutation of the pool in which no word comes after a greater one."""
    got = [bytes.fromhex(h) for h in answer.split(" ")]
    return sorted(got) == sorted(pool) and all(cmp_model(x, y, True) <= 0 for x, y in zip(got, got[1:]))


o.ask(["isort"] + [w.hex() for w in pool], icmp_sorted)

pairs = []
for _ in range(6000):
    a = random_word()
    r = rng.random()
    b = variant(a) if r < 0.5 else (a + random_word() if r < 0.6 else random_word())
    pairs.append((a, b) if rng.random() < 0.5 else (b, a))
limits = [rng.choice([0, 1, 3, 8, 40]) for _ in pairs]  # the "N" forms stop at a terminator first
for (a, b), n in zip(pairs, limits):
    icmp_n = cmp_model(a[:n], b[:n], True)
    within = min(n, len(a) + 32, len(b) + 32)  # ZorStrEqN reads past the terminators, into the junk
    pa, pb = a + b"\0" + b"x" * 31, b + b"\0" + b"Y" * 31
    want = "%d %d %d %d %d %d %d" % (cmp_model(a, b, False), cmp_model(a, b, True),
                                     1 if len(a) == len(b) and all(UP[x] == UP[y] for x, y in zip(a, b)) else 0,
                                     icmp_n, 1 if icmp_n == 0 else 0, icmp_n, 1 if pa[:within] == pb[:within] else 0)
    o.ask(("cmp", hexs(a), hexs(b), n), want)


def key_model(a, b):
    """Index keys: every byte counts, 0 included."""
    for x, y in zip(a, b):
        if UP[x] != UP[y]:
            return sign(W[x] - W[y])
    return 0


for _ in range(6000):
    a = bytes(rng.choice([0, 0, rng.randrange(256), rng.choice(LETTERS)]) for _ in range(rng.randint(1, 12)))
    b = variant(a).ljust(len(a), b"\0")[:len(a)] if rng.random() < 0.7 else bytes(rng.randrange(256) for _ in a)
    o.ask(("key", a.hex(), b.hex()), str(key_model(a, b)))

# ---------------------------------------------------------------- UTF-8
def expected_decode(data):
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError:
        return "-"
    return hexs([byte_of(c) if byte_of(c) is not None else ord("?") for c in text])


def random_text():
    out = []
    for _ in range(rng.randint(1, 6)):
        r = rng.random()
        out.append(char_of(rng.randint(1, 255)) if r < 0.4 else chr(rng.randint(0x100, 0xD7FF)) if r < 0.7 else
                   chr(rng.randint(0xE000, 0xFFFF)) if r < 0.85 else chr(rng.randint(0x10000, 0x10FFFF)))
    return "".join(out).encode("utf-8")


def mutate(data):
    b = bytearray(data)
    r = rng.random()
    if r < 0.3 and b:
        del b[rng.randrange(len(b)):]                       # truncated sequence
    elif r < 0.6:
        b.insert(rng.randrange(len(b) + 1), rng.randint(0x80, 0xFF))
    elif r < 0.8 and b:
        b[rng.randrange(len(b))] = rng.randint(1, 255)
    return bytes(b)


SPECIAL = [b"\xc0\x80", b"\xc1\xbf", b"\xe0\x80\xaf", b"\xed\xa0\x80", b"\xed\xbf\xbf", b"\xf4\x90\x80\x80",
           b"\xf8\x88\x80\x80\x80", b"\xff", b"\xfe", b"\x80", b"a\xe2\x82", b"\xef\xbb\xbfA", b"\xf0\x9f\x98\x80",
           b"\xc2\x81\xc2\x8d", b"\xe2\x82\xac\xc5\x93", b"\xf0\x80\x80\x80"]
cases = SPECIAL + [random_text() for _ in range(1500)] + [mutate(random_text()) for _ in range(1500)]
cases = [c.replace(b"\x00", b"\x01") for c in cases if c]
for data in cases:
    o.ask(("utf8dec", data.hex()), expected_decode(data))
for u in range(0x10000):
    o.ask(("code", u), "-" if u == 0 else ("efbfbd" if 0xD800 <= u <= 0xDFFF else chr(u).encode("utf-8").hex()))

# ---------------------------------------------------------------- Base64
blobs = [bytes(rng.randint(0, 255) for _ in range(n)) for n in list(range(12)) + [rng.randint(12, 300) for _ in range(200)]]
for blob in blobs:
    o.ask(("b64", hexs(blob)), "%s %s" % (base64.b64encode(blob).decode() or "-", hexs(blob)))
o.run()
o.finish()
