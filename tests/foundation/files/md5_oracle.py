#!/usr/bin/env python3
"""Checks ZorMD5 against Python's hashlib.

Messages of random lengths (every length around the 55/56/64-byte padding
boundaries, then random ones up to a few blocks and a few large ones), each
fed to the driver in pieces cut at random offsets, including empty pieces.
Usage: md5_oracle.py DRIVERS_DIR"""
import hashlib, os, random, subprocess, sys

DRIVER = os.path.join(sys.argv[1], "md5_driver")
rng = random.Random(1321)


def random_cuts(n):
    k = rng.choice([0, 1, 2, 3, 8, 40])
    cuts = sorted(rng.randint(0, n) for _ in range(k))
    return cuts


lengths = list(range(0, 200)) + [rng.randint(0, 5000) for _ in range(300)]
lengths += [rng.randint(60000, 300000) for _ in range(4)]
cases = []
for n in lengths:
    data = bytes(rng.getrandbits(8) for _ in range(n)) if n < 10000 else rng.randbytes(n)
    cases.append((data, random_cuts(n)))

lines = ["%s %s" % (d.hex() or "-", ",".join(map(str, c)) or "-") for d, c in cases]
out = subprocess.run([DRIVER], input="\n".join(lines) + "\n", capture_output=True, text=True, check=True)
got = out.stdout.split("\n")[:-1]
if len(got) != len(cases):
    sys.exit("md5_oracle: %d answers for %d cases" % (len(got), len(cases)))
failures = 0
for (data, cuts), answer in zip(cases, got):
    want = hashlib.md5(data).hexdigest()
    if answer != want:
        failures += 1
        if failures <= 10:
            print("length %d cuts %s: got %s, want %s" % (len(data), cuts, answer, want))
if failures:
    sys.exit("md5_oracle: %d of %d digests differ" % (failures, len(cases)))
print("md5_oracle: %d digests agree" % len(cases))
