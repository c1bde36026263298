#!/usr/bin/env python3
"""Checks ZorUuid against Python's uuid module.

The stored bytes are uuid.UUID's bytes_le: texts must equal str(UUID) in
upper case (with and without braces, and through the formatter's g and G),
GUID order must be the order of UUID.int, parsing must accept exactly the
texts that are 36 characters of hex and dashes in the right places (braces
optional), and new identifiers must be distinct version-4 UUIDs of the
standard variant. Usage: uuid_oracle.py DRIVERS_DIR"""
import os, random, re, subprocess, sys, uuid

DRIVER = os.path.join(sys.argv[1], "uuid_driver")
rng = random.Random(2024)


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
    choice = rng.randrange(8)
    if choice == 0:
        return text.lower()
    if choice == 1:
        return "{" + text + "}"
    if choice == 2:
        i = rng.randrange(len(text))
        return text[:i] + rng.choice("g-{} 0xZ") + text[i + 1:]
    if choice == 3:
        return text[:-1]
    if choice == 4:
        return text + "0"
    if choice == 5:
        return "{" + text
    if choice == 6:
        return text.replace("-", "")
    return text


cases, lines = [], []
for _ in range(3000):
    a, b = value(), value()
    if rng.randrange(10) == 0:
        b = a
    lines.append("T " + a.hex())
    cases.append(("T", a))
    lines.append("C %s %s" % (a.hex(), b.hex()))
    cases.append(("C", a, b))
    text = mangle(str(uuid.UUID(bytes_le=a)))
    lines.append("P " + text)
    cases.append(("P", text))
for _ in range(500):
    lines.append("N")
    cases.append(("N",))
lines.append("P")
cases.append(("P", ""))

out = subprocess.run([DRIVER], input="\n".join(lines) + "\n", capture_output=True, text=True, check=True)
got = out.stdout.split("\n")[:-1]
if len(got) != len(cases):
    sys.exit("uuid_oracle: %d answers for %d cases" % (len(got), len(cases)))

VALID = re.compile(r"^(\{[0-9A-Fa-f]{8}(-[0-9A-Fa-f]{4}){3}-[0-9A-Fa-f]{12}\}|[0-9A-Fa-f]{8}(-[0-9A-Fa-f]{4}){3}-[0-9A-Fa-f]{12})$")
failures, seen = 0, set()
for case, answer in zip(cases, got):
    op = case[0]
    if op == "T":
        s = str(uuid.UUID(bytes_le=case[1])).upper()
        want = "{%s} %s {%s} %s" % (s, s, s, s)
    elif op == "C":
        x, y = uuid.UUID(bytes_le=case[1]).int, uuid.UUID(bytes_le=case[2]).int
        want = "%d %d" % ((x > y) - (x < y), int(x == y))
    elif op == "P":
        text = case[1]
        want = uuid.UUID(text.strip("{}")).bytes_le.hex() if VALID.match(text) else "-"
    else:
        u = uuid.UUID(bytes_le=bytes.fromhex(answer))
        ok = u.version == 4 and u.variant == uuid.RFC_4122 and answer not in seen
        seen.add(answer)
        want = answer if ok else "a distinct version-4 identifier"
    if answer != want:
        failures += 1
        if failures <= 10:
            print("%s: got %r, want %r" % (case, answer, want))
if failures:
    sys.exit("uuid_oracle: %d of %d answers differ" % (failures, len(cases)))
print("uuid_oracle: %d answers agree" % len(cases))
