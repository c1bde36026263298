#!/usr/bin/env python3
"""Checks how path texts become ZorFsa paths against Python's posixpath and
ntpath normalisation: random POSIX and drive-letter texts with ".", "..",
empty and space-padded components and both separators, plus texts that must
be refused (relative, too short, unknown root markers)."""
import ntpath
import os
import posixpath
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
from oracle import Oracle  # noqa: E402

NAMES = ["a", "B", "data", "Mixed.Case", "f.txt", ".", "..", "", "x  ", " lead", "..x", "n.", "%p"]
o = Oracle("path_text_driver", 20240611)
rng = o.rng


def components():
    return [rng.choice(NAMES) for _ in range(rng.randint(0, 6))]


def join(parts):
    return "".join(rng.choice("/\\") + p for p in parts)


def trimmed(parts):
    return [p.rstrip(" ") for p in parts]


def posix_case():
    parts = components()
    if parts and parts[0].rstrip(" ") in ("", ".", ".."):
        parts[0] = "top"  # a leading empty component would make a share name
    norm = posixpath.normpath("/" + "/".join(trimmed(parts)))
    return join(parts) or rng.choice("/\\"), "%s\t!Cos!%s" % (norm, "" if norm == "/" else norm)


def drive_case():
    drive = rng.choice("CdZ") + ":"
    parts = components()
    norm = ntpath.normpath(drive + "\\" + "\\".join(trimmed(parts))).replace("\\", "/")
    return drive + (join(parts) or rng.choice("/\\")), "%s\t!Cos!%s" % (norm, norm.rstrip("/"))


def refused_case():
    text = rng.choice(["", "a", "a/b", "C:", "C:x\\y", "./x", "..\\x", "1:/x", "!Abc!x/y", "!Cos", "!zzz!",
                       "http://h/x"])
    return text, "E 1 %d" % (15 if text.startswith("!") and len(text) >= 5 and text[4] == "!" else 38)


for _ in range(20000):
    text, want = rng.choice([posix_case, drive_case, refused_case])()
    o.ask(("path", text), want)
o.run()
o.finish()
