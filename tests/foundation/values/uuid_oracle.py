#!/usr/bin/env python3
"""Checks ZorUuid against Python's uuid module.

The stored bytes are uuid.UUID's bytes_le: texts must equal str(UUID) in
upper case, with and without braces; GUID order must be the order of
UUID.int; parsing must accept exactly the texts that are 36 characters of hex
and dashes in the right places (braces optional); new identifiers must be
distinct version-4 UUIDs of the standard variant."""
import os
import re
import sys
import uuid

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
from oracle import Oracle  # noqa: E402

VALID = re.compile(r"(\{%s\}|%s)$" % ((r"[0-9A-Fa-f]{8}(-[0-9A-Fa-f]{4}){3}-[0-9A-Fa-f]{12}",) * 2))
o = Oracle("uuid_driver", 2024)
rng = o.rng


def value():
    kind = rng.randrange(4)
    if kind == 0:
        return bytes(rng.choice([0, 1, 0x7F, 0x80, 0xFF]) for _ in range(16))
    if kind == 1:  # differ only in one field, so each level of the order is reached
        base = bytearray(b"\x11" * 16)
        base[rng.randrange(16)] = rng.randrange(256)
        return bytes(base)
    return rng.randbytes(16)


def mangle(text):
    i = rng.randrange(len(text))
    return rng.choice([text.lower(), "{" + text + "}", text[:i] + rng.choice("g-{} 0xZ") + text[i + 1:],
                       text[:-1], text + "0", "{" + text, text.replace("-", ""), text])


for _ in range(3000):
    a, b = value(), value()
    if rng.randrange(10) == 0:
        b = a
    s = str(uuid.UUID(bytes_le=a)).upper()
    o.ask(("text", a.hex()), "{%s} %s" % (s, s))
    x, y = uuid.UUID(bytes_le=a).int, uuid.UUID(bytes_le=b).int
    o.ask(("cmp", a.hex(), b.hex()), "%d %d" % ((x > y) - (x < y), x == y))
    text = mangle(str(uuid.UUID(bytes_le=a)))
    o.ask(("parse", text), uuid.UUID(text.strip("{}")).bytes_le.hex() if VALID.match(text) else "-")
o.ask(("parse", ""), "-")
seen = set()


def new_identifier(answer):
    u = uuid.UUID(bytes_le=bytes.fromhex(answer))
    fresh = answer not in seen
    seen.add(answer)
    return fresh and u.version == 4 and u.variant == uuid.RFC_4122


for _ in range(500):
    o.ask("new", new_identifier)
o.run()
o.finish()
