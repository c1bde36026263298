#!/usr/bin/env python3
"""Checks stored table descriptions with the independent reader of
table_desc_reader.py.
- golden: the reference descriptions the driver builds must equal the files
  of golden/ byte for byte (ZOR_UPDATE_GOLDEN=1 rewrites them); read back
  here, they must be a fixed point of the layout rules and hold what their
  builders put in.
- random: descriptions made here from random fields, flags, lengths,
  precisions, names and index parts are validated by the driver and compared
  with the layout rules recomputed by the reader.
Usage: table_desc_oracle.py DRIVERS_DIR"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
sys.path.insert(0, HERE)
from oracle import Oracle, catalogue, unescape  # noqa: E402
import table_desc_reader as R  # noqa: E402

o = Oracle("table_desc_driver", 3101)
rng = o.rng
GOLDEN = os.path.join(HERE, "golden")


def fixed_point(raw):
    """Problems found when the layout rules are applied to stored bytes."""
    h, fields, idx = R.read_header(raw), R.read_fields(raw), R.read_indexes(raw)
    keys = {i: k for i, (k, _, _) in idx.items()}
    vprecs = {n: R.vprec(raw, n) for n in range(1, len(fields) + 1)}
    fits, h2, f2, k2 = R.layout(h, fields, vprecs, keys)
    out = [] if fits else ["does not fit"]
    out += ["header %s %r != %r" % (k, h[k], h2[k]) for k in R.HDR_KEYS if h[k] != h2[k]]
    out += ["field %d %s" % (n, k) for n, (a, b) in enumerate(zip(fields, f2), 1) for k in a if a[k] != b[k]]
    out += ["index %d %s" % (i, k) for i in keys for k in keys[i] if keys[i][k] != k2[i][k]]
    return out


def name(f):
    return f["name"].split(b"\0")[0]


def customers(h, fields, idx):
    yield "header", (h["version"], h["tid"], h["storage"], h["name"][:8], h["abr"][:4], h["type"]) == \
        (3, 7 << 32 | 3 << 16, 3, b"Clients\0", b"Cli\0", 0)
    yield "template names", [name(f) for f in fields[:4]] == [b"Order", b"Code", b"Lastname", b"Firstname"]
    yield "dev name", R.cell(R.cell(raw_of["customers"], 0, 3, 2), 0, 1, 2) == b"CliCode\0"
    yield "vprec", R.vprec(raw_of["customers"], 11) == 3
    yield "indexes", sorted(idx) == [1, 2] and idx[2][1] == b"ByName\0" and idx[1][1] == b"Ix 1\0"
    yield "index parts", idx[2][0]["fields"][:3] == [3, 10, 0] and idx[2][0]["lens"][:2] == [10, 8]
    yield "record name", (h["recname1"], h["recname2"], h["defindex"]) == (3, 4, 1)


def enumeration(h, fields, idx):
    yield "header", (h["tid"], h["typeid"], h["type"], h["abr"][:5], h["cprefix"]) == \
        (0x20000, 9 << 32 | 12, 2, b"Enum\0", b"_Enum\0")
    yield "uuid", R.cell(raw_of["enum"], 3, 4, 1) == bytes(range(1, 17))


def task(h, fields, idx):
    yield "header", (h["tid"], h["flags"], h["abr"][:5], h["cprefix"]) == (0x10000, 0x30, b"Task\0", b"_Task\0")
    yield "invisible", fields[2]["flags"] & 6 == 0


def mixed(h, fields, idx):
    yield "new table", (h["name"][:6], h["abr"][:4], h["cprefix"], h["tag"][:4]) == \
        (b"Table\0", b"Tbl\0", b"KeTbl\0", b"Mem\0")
    yield "deleted", fields[9]["flags"] == 0 and name(fields[9]) == "**SUPPRIMÉE**".encode("cp1252")
    yield "inserted index", idx[1][0]["fields"][:2] == [14, 4] and idx[1][2] == struct.pack("<i", 0x11)
    yield "descending part", idx[3][0]["types"][:2] == [6, 110] and idx[3][0]["fields"][:2] == [4, 11]
    yield "default index follows", h["defindex"] == 2 and h["nbindex"] == 3


# Field templates: id -> (physical, logical, length, nature, flags added).
STD, DYN, AS, TXT = 0x1806, 0x1816, 6, 9
TEMPLATES = {1: (1, 7, 0, 0, STD), 2: (1, 9, 0, 0, STD), 3: (3, 7, 0, 0, STD), 4: (4, 7, 0, 0, STD),
             5: (5, 7, 0, 0, STD), 6: (AS, TXT, 35, 0, STD), 7: (AS, TXT, 255, 0, DYN), 8: (AS, TXT, 35, 1, STD),
             9: (AS, TXT, 35, 2, STD), 10: (AS, TXT, 35, 4, STD), 11: (AS, TXT, 35, 5, STD),
             12: (AS, TXT, 10, 6, STD), 13: (AS, TXT, 35, 7, STD), 14: (AS, TXT, 35, 3, STD),
             19: (AS, TXT, 127, 12, DYN), 20: (AS, TXT, 127, 13, DYN), 21: (AS, TXT, 35, 0, STD | R.STRLIST),
             22: (AS, TXT, 35, 0, STD | R.ENUM), 23: (1, 19, 0, 0, STD), 24: (10, 8, 0, 0, STD),
             25: (9, 6, 0, 0, STD), 26: (13, 13, 0, 0, 0x806), 27: (11, 15, 0, 0, DYN),
             28: (11, 12, 15, 0, 0x80000 | R.DYNA), 29: (AS, TXT, 35, 34, STD), 30: (AS, TXT, 34, 37, DYN),
             31: (AS, TXT, 11, 38, DYN), 32: (AS, TXT, 35, 0, 0x800040E), 33: (12, TXT, 36, 0, STD),
             34: (AS, TXT, 50, 1, STD), 1001: (4, 7, 0, 0, R.UNICID), 1002: (AS, TXT, 25, 0, STD),
             1003: (AS, TXT, 35, 0, 0x240E), 1004: (4, 7, 0, 28, 0), 1005: (AS, TXT, 18, 29, R.STRLIST)}
TEMPLATES.update({15 + i: (AS, TXT, 25, 8 + i, STD) for i in range(4)})
TEMPLATES.update({35 + i: (AS, TXT, 35, 40 + i, STD) for i in range(4)})
RENAMED = {27: "Commentaire", 1004: "Source", 1005: "RwMode"}


def templates(h, fields, idx):
    labels = {int(t.split(":")[0]): t.split(":", 1)[1] for (m, g, _), (t, _) in catalogue(1).items() if g == 131}
    for f, tid in zip(fields, sorted(TEMPLATES)):
        label = RENAMED.get(tid, unescape(labels[tid]))
        want = TEMPLATES[tid][:4] + (TEMPLATES[tid][4] | R.VALID | 0x400000,)
        yield "template %d" % tid, (f["phys"], f["log"], f["len"], f["nature"], f["flags"] & ~R.RECID) == want
        yield "template %d name" % tid, name(f) == label.encode("cp1252")[:25]
    yield "count", len(fields) == len(TEMPLATES) and (fields[-1]["d1"], fields[-1]["d2"]) == (1, 140)


raw_of = {}
update = os.environ.get("ZOR_UPDATE_GOLDEN") == "1"
for ref, checks in (("customers", customers), ("enum", enumeration), ("task", task), ("mixed", mixed),
                    ("templates", templates)):
    built = bytes.fromhex(o.call(("build", ref)))
    path = os.path.join(GOLDEN, ref + ".tdesc")
    if update:
        os.makedirs(GOLDEN, exist_ok=True)
        open(path, "wb").write(built)
    raw_of[ref] = open(path, "rb").read()
    o.check(built == raw_of[ref], "%s: built bytes differ from %s" % (ref, path))
    o.check(not fixed_point(raw_of[ref]), "%s: layout %s" % (ref, fixed_point(raw_of[ref])))
    for what, ok in checks(R.read_header(raw_of[ref]), R.read_fields(raw_of[ref]), R.read_indexes(raw_of[ref])):
        o.check(ok, "%s: %s" % (ref, what))


# ---------------------------------------------------------------- random descriptions
FLAG_BITS = [R.VALID, 0x2, 0x4, R.VIRTUAL, R.DYNA, R.ARRAY, R.USER, R.UNICID, R.INDEXED, 0x200, R.RDONLY,
             R.ENUM, R.ALIAS, 0x80000, R.STRLIST, R.USERNAMED, R.RECID, R.SCRIPT]


def random_field():
    flags = 0 if rng.random() < 0.1 else R.VALID
    for bit in FLAG_BITS:
        if rng.random() < 0.12:
            flags |= bit
    raw_name = bytes(rng.choice(b"abcXYZ09 ?") for _ in range(rng.randint(0, 26)))
    big = rng.random() < 0.05
    return {"name": raw_name.ljust(26, b"\0"), "phys": rng.choice([1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 254,
                                                                     255, 0, 77]),
            "log": rng.randint(0, 20), "nature": rng.randint(0, 45), "reserved": 0, "flags": flags,
            "len": rng.randint(0, 0xFFFF) if big else rng.randint(0, 300),
            "d1": rng.randint(0, 2**32 - 1) if big else rng.randint(0, 4), "d2": rng.randint(0, 3),
            "offset": rng.randint(0, 0xFFFF), "size": rng.randint(0, 0xFFFF)}


def random_key(n):
    k = R.read_key(bytes(rng.randint(0, 255) for _ in range(80)))
    k["out"] = 0
    k["fields"] = [rng.choice([0, -1, n + 1, rng.randint(1, max(n, 1))]) for _ in range(9)]
    k["fields"] = [f if rng.random() < 0.8 else 0 for f in k["fields"]]
    return k


def random_description():
    fields = [random_field() for _ in range(rng.randint(0, 12))]
    h = dict(zip(R.HDR_KEYS, R.HDR.unpack(bytes(rng.randint(0, 255) for _ in range(146)))))
    vprecs = {n: rng.choice([0, 0, 0, 2, -1]) for n in range(1, len(fields) + 1)}
    keys = {i: random_key(len(fields)) for i in range(1, rng.randint(0, 4) + 1)}
    subs = [(0, 3, n, R.pack([(0, 1, 5, struct.pack("<i", v))])) for n, v in vprecs.items() if v]
    inner = R.pack([(0, i, 1, R.write_key(k)) for i, k in keys.items()])
    raw = R.pack([(0, 1, 1, R.write_header(h)), (0, 2, 1, R.write_fields(fields))] + subs + [(0, 5, 1, inner)])
    return raw, R.layout(h, fields, vprecs, keys)


for _ in range(400):
    raw, (fits, h, fields, keys) = random_description()

    def judge(answer, fits=fits, h=h, fields=fields, keys=keys):
        ok, hexed = answer.split(" ")
        out = bytes.fromhex(hexed) if hexed != "-" else b""
        got_keys = {i: k for i, (k, _, _) in R.read_indexes(out).items()}
        return (ok == str(int(fits)) and R.read_header(out) == h and R.read_fields(out) == fields
                and got_keys == keys)
    o.ask(("validate", raw.hex()), judge, "validate %s" % raw.hex())
o.run()
o.finish()
