#!/usr/bin/env python3
"""Checks ZorFileCheckSum against a re-implementation with hashlib.

Random trees (nested directories, empty files, files around the 16384-byte
block size, a hidden file, a checksum file at the top that must be left out
and one lower down that must be counted, case twins such as "zorvane.chk"
and "ZORVANE.CHK", two files on a case-sensitive file system) are summed
with every combination of NoFileName, NoSize and NoContent, as trees and as
single files. The digest layout: for each file, depth first with the files
of a directory (sorted by name case-insensitively, lower case first) before
its sub-directories, the path relative to the tree (or the file's name), its
size as 8 little-endian bytes, its content. Names are letters and digits,
which the library's collation orders as Python orders them lower-cased."""
import hashlib
import itertools
import os
import struct
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
from oracle import Oracle  # noqa: E402

CHECKSUM_FILE = "zorvane.chk"
BLOCK = 16384
o = Oracle("file_checksum_driver", 16384)
rng = o.rng


def put(path, data):
    with open(path, "wb") as f:
        f.write(data)


def random_name():
    first = rng.choice("abcdefghijklmnopqrstuvwxyz")
    return first + "".join(rng.choice("abcdefghijklmnopqrstuvwxyz0123456789") for _ in range(rng.randint(0, 6)))


def random_size():
    return rng.choice([0, 1, 7, BLOCK - 1, BLOCK, BLOCK + 1, 2 * BLOCK, rng.randint(0, 3 * BLOCK),
                       rng.randint(0, 300)])


def build(top, depth):
    for _ in range(rng.randint(0, 5)):
        put(os.path.join(top, random_name()), rng.randbytes(random_size()))
    if depth < 3:
        for _ in range(rng.randint(0, 3)):
            sub = os.path.join(top, "d" + random_name())
            if os.path.isfile(sub):
                continue
            os.makedirs(sub, exist_ok=True)
            build(sub, depth + 1)


def files_in_order(top, rel=""):
    here = os.path.join(top, rel)
    # The collation puts a lower-case letter before its capital.
    names = sorted(os.listdir(here), key=lambda n: (n.lower(), n.swapcase()))
    out = []
    for n in names:
        if os.path.isfile(os.path.join(here, n)) and not (rel == "" and n == CHECKSUM_FILE):
            out.append(rel + n)
    for n in names:
        if os.path.isdir(os.path.join(here, n)):
            out += files_in_order(top, rel + n + "/")
    return out


def expected(top, names, no_name, no_size, no_content):
    md5 = hashlib.md5()
    for rel in names:
        with open(os.path.join(top, rel), "rb") as f:
            data = f.read()
        if not no_name:
            md5.update(rel.encode("cp1252"))
        if not no_size:
            md5.update(struct.pack("<Q", len(data)))
        if not no_content:
            md5.update(data)
    return md5.hexdigest()


def option_sets():
    for flags in itertools.product([False, True], repeat=3):
        yield flags, " ".join("-" + n for n, on in zip(("NoFileName", "NoSize", "NoContent"), flags) if on)


def ask_tree(top):
    names = files_in_order(top)
    for flags, options in option_sets():
        o.ask(("sum", top, "dir", options), "%s %d" % (expected(top, names, *flags), len(names)))
    twins = [n for n in names if n != n.lower()]
    for rel in names[:3] + twins:
        path = os.path.join(top, rel)
        for flags, options in option_sets():
            want = expected(os.path.dirname(path), [os.path.basename(path)], *flags)
            o.ask(("sum", path, "file", options), want + " 1")


with tempfile.TemporaryDirectory(prefix="zor_chk_oracle_") as root:
    for i in range(6):
        top = os.path.join(root, "t%d" % i)
        os.makedirs(top)
        build(top, 0)
        if i % 2 == 0:
            put(os.path.join(top, CHECKSUM_FILE), b"-ChkSum='left out'\n")
            if os.path.isfile(os.path.join(top, "dz")):
                os.remove(os.path.join(top, "dz"))
            os.makedirs(os.path.join(top, "dz"), exist_ok=True)
            put(os.path.join(top, "dz", CHECKSUM_FILE), b"counted\n")
            put(os.path.join(top, ".hidden"), b"hidden files are counted")
        for name in [random_name(), CHECKSUM_FILE]:
            if os.path.isdir(os.path.join(top, name)):
                continue
            for twin in (name, name.upper()):
                put(os.path.join(top, twin), twin.encode() * rng.randint(1, 3))
        ask_tree(top)
    o.run()
o.finish()
