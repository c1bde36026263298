#!/usr/bin/env python3
"""`zorvane bfile info|check|compact|dump` on files written byte by byte by
the independent format writer of tests/storage/bfile_format.py.

Usage: bfile_tool_test.py TOOL SCENARIO  (info, dump, check, repair, compact,
usage). Exits non-zero with a message on the first mismatch."""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "storage"))
import bfile_format as bf  # noqa: E402

TOOL = sys.argv[1]
MSGS = bf.catalogue(239)


def run(*args):
    p = subprocess.run([TOOL, "bfile"] + list(args), capture_output=True, text=True)
    return p.returncode, p.stdout, p.stderr


def want(cond, what):
    if not cond:
        sys.exit("FAILED: " + what)


def sample(tmp, name="f.zbf", ftype=0):
    """Two used blocks (one with spare room, one not compactable), a free
    extent between them, an empty slot."""
    f = bf.build([(7, 3, b"a" * 100, 300, 0), (0, 0, b"", 500, bf.FREE), (0, 0, b"", 0, bf.FREE),
                  (8, 4, b"b" * 200, 250, bf.NO_COMPACT)], ftype=ftype)
    path = os.path.join(tmp, name)
    f.save(path)
    return path, f


def fields(stdout):
    return dict(line.split(": ", 1) for line in stdout.splitlines() if ": " in line)


def scenario_info(tmp):
    path, f = sample(tmp, ftype=2)
    before = open(path, "rb").read()
    rc, out, err = run("info", path)
    want(rc == 0, "info exit %d: %s" % (rc, err))
    got = fields(out)
    want(got.get("file type") == "2", "file type: %r" % got.get("file type"))
    want(got.get("entries") == "4 (used 2, free with space 1, empty slots 1)", "entries: %r" % got.get("entries"))
    want(got.get("file size") == str(f.size), "file size: %r" % got.get("file size"))
    want(got.get("data start") == "25600", "data start")
    want(got.get("stored bytes") == "300" and got.get("reserved bytes") == "550", "byte sums: %r" % got)
    want(got.get("spare room in blocks") == "250", "spare room")
    want(got.get("space outside blocks") == "500", "space outside blocks")
    want(got.get("crash counter") == "0" and got.get("bad close") == "no", "counters")
    want(got.get("needs compaction") == "no (any: yes, all: yes)", "needs compaction: %r" % got.get("needs compaction"))
    want(open(path, "rb").read() == before, "info changed the file")


def scenario_dump(tmp):
    path, f = sample(tmp)
    rc, out, err = run("dump", path)
    want(rc == 0, "dump exit %d: %s" % (rc, err))
    lines = out.splitlines()[1:]
    expected = ["%d\t%d\t%d\t%d\t%d\t%d\t0x%02x" % (e.id, e.owner, e.type, e.size, e.capacity, e.pos, e.flags)
                for e in f.entries]
    want(lines == expected, "dump lines:\n%s\nwant\n%s" % ("\n".join(lines), "\n".join(expected)))


def scenario_check(tmp):
    path, f = sample(tmp)
    rc, out, err = run("check", path)
    want(rc == 0, "check of a sound file: exit %d\n%s%s" % (rc, out, err))
    for title in (6, 9, 10):
        want(bf.form(MSGS[title], path) in out, "section %d missing:\n%s" % (title, out))
    # Block 4 now overlaps block 1, and 100 bytes follow the last extent.
    e = f.entries[3]
    e.pos = f.entries[0].pos + 299
    f.put_entry(e)
    f.resize(f.size + 100)
    f.save(path)
    rc, out, err = run("check", path)
    want(rc == 1, "check of a damaged file: exit %d" % rc)
    overlap = bf.form(MSGS[8], 1, 25600, 300, 4, 25899, 250)
    want(overlap in out, "overlap message missing:\n" + out)
    for lo, hi in f.lost():
        want(bf.form(MSGS[7], lo, hi) in out, "lost space %d..%d missing:\n%s" % (lo, hi, out))


def scenario_repair(tmp):
    path, f = sample(tmp)
    f.resize(f.size + 100)
    f.data[12:16] = (1).to_bytes(4, "little")  # an interrupted rearrangement
    f.save(path)
    lost = f.lost()
    rc, out, _ = run("check", path)
    want(rc == 1, "check before repair: exit %d" % rc)
    rc, out, err = run("check", "--repair", path)
    want(rc == 0, "check --repair: exit %d\n%s%s" % (rc, out, err))
    g = bf.BFile.load(path)
    want(g.crash == 0, "crash counter after repair: %d" % g.crash)
    want(g.lost() == [], "lost space after repair: %r" % g.lost())
    want({(e.pos, e.end) for e in g.entries[f.count:]} == set(lost), "reclaimed entries")
    rc, out, _ = run("check", path)
    want(rc == 0, "check after repair: exit %d\n%s" % (rc, out))


def scenario_compact(tmp):
    path, f = sample(tmp)
    rc, out, err = run("compact", "--mode", "3", path)
    want(rc == 0, "compact exit %d: %s" % (rc, err))
    g = bf.BFile.load(path)
    want(g.block(g.entries[0]) == b"a" * 100 and g.block(g.entries[3]) == b"b" * 200, "block bytes")
    want(all(e.capacity == e.size for e in g.used()), "capacities after mode 3")
    want(g.size == 25600 + 300, "file size %d" % g.size)
    want(g.overlaps() == [] and g.lost() == [], "compacted layout")
    rc, out, err = run("compact", path)
    want(rc == 0 and "compactage" in err, "second compact: exit %d, stderr %r" % (rc, err))
    g.data[12:16] = (1).to_bytes(4, "little")
    g.save(path)
    rc, out, err = run("compact", path)
    want(rc == 1 and err, "compact of a crashed file: exit %d, stderr %r" % (rc, err))


def scenario_usage(tmp):
    path, _ = sample(tmp)
    want(run()[0] == 2, "bfile without sub-command")
    want(run("compact", "--mode", "7", path)[0] == 2, "bad mode")
    want(run("info")[0] == 2, "missing FILE")
    rc, _, err = run("info", path + ".missing")
    want(rc == 1 and err, "missing file: exit %d" % rc)


if __name__ == "__main__":
    with tempfile.TemporaryDirectory() as tmp:
        globals()["scenario_" + sys.argv[2]](tmp)
