#!/usr/bin/env python3
"""Checks how path texts become ZorFsa paths against Python's posixpath and
ntpath normalisation: random POSIX and drive-letter texts with ".", "..",
empty and space-padded components and both separators, plus texts that must
be refused (relative, too short, unknown root markers).
Usage: fsa_path_oracle.py DRIVERS_DIR"""
import ntpath, os, posixpath, random, subprocess, sys

DRIVER = os.path.join(sys.argv[1], "path_text_driver")
NAMES = ["a", "B", "data", "Mixed.Case", "f.txt", ".", "..", "", "x  ", " lead", "..x", "n.", "%p"]


def components(rng):
    return [rng.choice(NAMES) for _ in range(rng.randint(0, 6))]


def join(parts, rng):
    out = ""
    for p in parts:
        out += rng.choice("/\\") + p
    return out


def trimmed(parts):
    return [p.rstrip(" ") for p in parts]


def posix_case(rng):
    parts = components(rng)
    if parts and parts[0].rstrip(" ") in ("", ".", ".."):
        parts[0] = "top"  # a leading empty component would make a share name
    text = join(parts, rng) or rng.choice("/\\")
    norm = posixpath.normpath("/" + "/".join(trimmed(parts)))
    return text, ("OK", norm, "!Cos!" + ("" if norm == "/" else norm))


def drive_case(rng):
    drive = rng.choice("CdZ") + ":"
    parts = components(rng)
    text = drive + (join(parts, rng) or rng.choice("/\\"))
    norm = ntpath.normpath(drive + "\\" + "\\".join(trimmed(parts))).replace("\\", "/")
    internal = "!Cos!" + (norm[:-1] if norm.endswith("/") else norm)
    return text, ("OK", norm, internal)


def refused_case(rng):
    text = rng.choice(["", "a", "a/b", "C:", "C:x\\y", "./x", "..\\x", "1:/x", "!Abc!x/y", "!Cos",
                       "!zzz!", "http://h/x"])
    number = 15 if text.startswith("!") and len(text) >= 5 and text[4] == "!" else 38
    return text, ("ERR", "1 %d" % number)


def main():
    rng = random.Random(20240611)
    cases = [rng.choice([posix_case, drive_case, refused_case])(rng) for _ in range(20000)]
    cases = [c for c in cases if "\n" not in c[0]]
    feed = "".join(text + "\n" for text, _ in cases)
    out = subprocess.run([DRIVER], input=feed.encode("latin-1"), capture_output=True, check=True)
    lines = out.stdout.decode("latin-1").split("\n")
    failures = 0
    for (text, want), got in zip(cases, lines):
        if want[0] == "OK":
            ok = got == "OK %s\t%s" % (want[1], want[2])
        else:
            ok = got == "ERR " + want[1]
        if not ok:
            failures += 1
            if failures <= 20:
                print("text %r: got %r, want %r" % (text, got, want))
    if len(lines) < len(cases):
        print("driver stopped after %d lines" % len(lines))
        return 1
    print("%d path texts checked, %d failures" % (len(cases), failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
