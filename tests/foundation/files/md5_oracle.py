#!/usr/bin/env python3
"""Checks ZorMD5 against Python's hashlib: messages of every length around
the 55/56/64-byte padding boundaries, random ones up to a few blocks and a
few large ones, each fed in pieces cut at random offsets, empty ones too."""
import hashlib
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
from oracle import Oracle  # noqa: E402

o = Oracle("md5_driver", 1321)
rng = o.rng
for n in list(range(200)) + [rng.randint(0, 5000) for _ in range(300)] + [rng.randint(60000, 300000) for _ in range(4)]:
    data = rng.randbytes(n)
    cuts = sorted(rng.randint(0, n) for _ in range(rng.choice([0, 1, 2, 3, 8, 40])))
    o.ask(("md5", data.hex() or "-", ",".join(map(str, cuts)) or "-"), hashlib.md5(data).hexdigest())
o.run()
o.finish()
