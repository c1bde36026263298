#!/usr/bin/env python3
"""`zorvane bfile info|check|compact|dump` on files written byte by byte by
the independent format writer of tests/support/block_file_format.py.

Usage: bfile_tool_test.py TOOL SCENARIO  (info, dump, check, repair, compact,
usage, truncated, badclose, overlaps, salvage, paths, interrupt). Exits
non-zero with a message on the first mismatch."""
import os
import signal
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import block_file_format as bf  # noqa: E402

TOOL = sys.argv[1]
MSGS = bf.catalogue(239)


def run(*args, top="bfile", rc=None):
    """The exit code, output and errors of the tool; with `rc`, that exit code is required."""
    p = subprocess.run([TOOL] + ([top] if top else []) + list(args), capture_output=True, text=True, timeout=60)
    want(rc is None or p.returncode == rc,
         "%s: exit %d, want %s\n%s%s" % (" ".join(args), p.returncode, rc, p.stdout, p.stderr))
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
    got = fields(run("info", path, rc=0)[1])
    for key, value in (("file type", "2"), ("entries", "4 (used 2, free with space 1, empty slots 1)"),
                       ("file size", str(f.size)), ("data start", "25600"), ("stored bytes", "300"),
                       ("reserved bytes", "550"), ("spare room in blocks", "250"), ("space outside blocks", "500"),
                       ("crash counter", "0"), ("bad close", "no"), ("needs compaction", "no (any: yes, all: yes)")):
        want(got.get(key) == value, "%s: %r, want %r" % (key, got.get(key), value))
    want(open(path, "rb").read() == before, "info changed the file")


def scenario_dump(tmp):
    path, f = sample(tmp)
    lines = run("dump", path, rc=0)[1].splitlines()[1:]
    expected = ["%d\t%d\t%d\t%d\t%d\t%d\t0x%02x" % (e.id, e.owner, e.type, e.size, e.capacity, e.pos, e.flags)
                for e in f.entries]
    want(lines == expected, "dump lines:\n%s\nwant\n%s" % ("\n".join(lines), "\n".join(expected)))


def scenario_check(tmp):
    path, f = sample(tmp)
    rc, out, err = run("check", path, rc=0)
    for title in (6, 9, 10):
        want(bf.form(MSGS[title], path) in out, "section %d missing:\n%s" % (title, out))
    # Block 4 now overlaps block 1, and 100 bytes follow the last extent.
    e = f.entries[3]
    e.pos = f.entries[0].pos + 299
    f.put_entry(e)
    f.resize(f.size + 100)
    f.save(path)
    rc, out, err = run("check", path, rc=1)
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
    rc, out, _ = run("check", path, rc=1)
    before = bytes(f.data)
    rc, out, err = run("check", "--repair", path, rc=0)
    want(open(path + ".bak", "rb").read() == before, "FILE.bak is not the file before the repair")
    want("repair removed 0 of 2 blocks" in out, "removal count missing:\n" + out)
    rc, _, err = run("check", "--repair", path)
    want(rc == 1 and path + ".bak" in err, "a second repair must refuse the existing backup: %d %r" % (rc, err))
    g = bf.BFile.load(path)
    want(g.crash == 0, "crash counter after repair: %d" % g.crash)
    want(g.lost() == [], "lost space after repair: %r" % g.lost())
    want({(e.pos, e.end) for e in g.entries[f.count:]} == set(lost), "reclaimed entries")
    rc, out, _ = run("check", path, rc=0)


def scenario_compact(tmp):
    path, f = sample(tmp)
    rc, out, err = run("compact", "--mode", "3", path, rc=0)
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
    want(rc == 1 and path in err and "check --repair" in err and "salvage" in err,
         "compact of a crashed file: exit %d, stderr %r" % (rc, err))


def scenario_usage(tmp):
    path, _ = sample(tmp)
    want(run()[0] == 2, "bfile without sub-command")
    want(run("compact", "--mode", "7", path)[0] == 2, "bad mode")
    want(run("info")[0] == 2, "missing FILE")
    rc, _, err = run("info", path + ".missing")
    want(rc == 1 and err, "missing file: exit %d" % rc)


def scenario_truncated(tmp):
    """A file cut inside its directory: the checks say so, the repair says
    which entries it dropped and keeps the file as it was in FILE.bak; a
    database file without table descriptions loses every block to a repair,
    which the read-only check announces."""
    path, f = sample(tmp, ftype=2)
    whole = bytes(f.data)
    os.truncate(path, 1000)
    rc, out, _ = run("check", path)
    want(rc == 1 and bf.form(MSGS[16], 4, 0) in out, "check of a cut file: exit %d\n%s" % (rc, out))
    want(os.path.getsize(path) == 1000, "a read-only check changed the file")
    rc, out, err = run("check", "--repair", "--no-backup", path)
    want(rc == 0 and bf.form(MSGS[17], 1, 4) in out, "repair of a cut file: exit %d\n%s%s" % (rc, out, err))
    want(not os.path.exists(path + ".bak") and bf.BFile.load(path).count == 0, "--no-backup or count")
    bf.BFile(whole).save(path)
    rc, out, _ = run("check", path)
    want(rc == 1 and "check --repair would delete 2 of 2 blocks" in out, "announce:\n" + out)
    rc, out, _ = run("check", "--repair", path)
    want("repair removed 2 of 2 blocks" in out and open(path + ".bak", "rb").read() == whole, "removal:\n" + out)


def scenario_badclose(tmp):
    """A writer that never closed: a read-only look sees the bad close."""
    path, f = sample(tmp)
    f.put_state(bf.STATE_OPEN)
    f.save(path)
    rc, out, _ = run("info", path)
    want(fields(out).get("bad close") == "yes", "info: %r" % fields(out).get("bad close"))
    rc, out, _ = run("check", path)
    want(rc == 1 and MSGS[1] in out, "read-only check: exit %d\n%s" % (rc, out))
    want(bf.BFile.load(path).data == f.data, "a read-only look changed the file")


def scenario_overlaps(tmp):
    """2,000 identical extents: 1,000 items and one that counts the rest."""
    f = bf.new_file()
    f.data_start, n = 49152, 2000
    f.resize(f.data_start + 100)
    for i in range(n):
        f.entries.append(bf.Entry(i + 1, f.data_start, 100, 10, 7, 3, 0))
    f.data[24:32] = f.data_start.to_bytes(4, "little") + n.to_bytes(4, "little")
    f.count = n
    for e in f.entries:
        f.put_entry(e)
    path = os.path.join(tmp, "same.zbf")
    f.save(path)
    rc, out, _ = run("check", path)
    lines = out.splitlines()
    want(rc == 1 and sum(1 for l in lines if "se chevauche" in l) == 1000, "overlap items: %d" % len(lines))
    want(bf.form(MSGS[18], n - 1 - 1000) in out, "count of the rest missing")
    first = next(l for l in lines if "se chevauche" in l)
    want(bf.form(MSGS[8], 1, f.data_start, 100, 2, f.data_start, 100) in first, "first pair: " + first)


def scenario_salvage(tmp):
    """Damage without a repair path: the sound blocks keep their ids, tags,
    flags and bytes in a new file; the others become empty slots."""
    blocks = [(7, 3, bytes([i + 1]) * (300 + i), 600, bf.NO_COMPACT if i == 4 else 0) for i in range(8)]
    f = bf.build(blocks)
    f.entries[2].pos = f.size + 100                            # outside the file
    f.entries[5].size = 700                                    # above the capacity
    f.entries[6].flags, f.entries[6].size = bf.FREE, 0
    f.entries[7].owner = bf.ANY_OWNER                          # a reserved value, and the last id
    for e in f.entries[2:]:
        f.put_entry(e)
    f.data[12:16] = (2).to_bytes(4, "little")                   # crash counter 2
    src, dst = os.path.join(tmp, "bad.zbf"), os.path.join(tmp, "new.zbf")
    f.save(src)
    rc, out, err = run("salvage", src, dst)
    want(rc == 0 and "kept 4 blocks and dropped 3" in out, "salvage: exit %d\n%s%s" % (rc, out, err))
    for text in (bf.form(MSGS[21], src, dst), bf.form(MSGS[5], 3), bf.form(MSGS[5], 6), bf.form(MSGS[3], 8),
                 bf.form(MSGS[20], 4, 3)):
        want(text in out, "%r missing from the report:\n%s" % (text, out))
    g = bf.BFile.load(dst)
    want(g.count == 8 and g.crash == 0 and g.overlaps() == [] and g.lost() == [], "layout of the new file")
    for old, new in zip(f.entries, g.entries):
        if old.id in (3, 6, 7, 8):
            want(new.free and new.pos == 0 and new.capacity == 0, "id %d must be an empty slot" % old.id)
        else:
            want((new.owner, new.type, new.flags, new.capacity, g.block(new)) ==
                 (old.owner, old.type, old.flags, old.capacity, f.block(old)), "block %d differs" % old.id)
    want(run("check", dst)[0] == 0, "the new file must check clean")
    rc, _, err = run("salvage", src, dst)
    want(rc == 1 and dst in err, "an existing OUT must be refused: %d %r" % (rc, err))
    want(bf.BFile.load(src).data == f.data, "salvage changed its input")


def scenario_paths(tmp):
    """What is neither a regular file nor a directory is refused before any
    open (a FIFO would block for good); every error names its path."""
    fifo = os.path.join(tmp, "pipe")
    os.mkfifo(fifo)
    path, _ = sample(tmp)
    for args in (["bfile", "info", fifo], ["checksum", fifo], ["rsrc", "pack", fifo, path + ".x"],
                 ["rsrc", "pack", path, fifo], ["bfile", "salvage", fifo, path + ".y"]):
        rc, _, err = run(*args, top=None)
        want(rc == 1 and fifo in err and "FIFO" in err, "%r: exit %d, stderr %r" % (args, rc, err))
    rc, _, err = run("info", "")
    want(rc == 2 and '""' in err and "filesystem" not in err, "empty path: %d %r" % (rc, err))
    before = open(path, "rb").read()
    rc, _, err = run("stress", path)
    want(rc == 1 and path in err and "--force" in err and open(path, "rb").read() == before,
         "stress over an existing file: exit %d, stderr %r" % (rc, err))


def scenario_interrupt(tmp):
    """Ctrl-C cancels long work with exit 130: dump blocks on a full pipe,
    the signal lands, the listing stops."""
    f = bf.build([(1, 1, b"", 0, bf.FREE)] * 20000)
    path = os.path.join(tmp, "long.zbf")
    f.save(path)
    p = subprocess.Popen([TOOL, "bfile", "dump", path], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    p.stdout.readline()
    p.send_signal(signal.SIGINT)
    rest, err = p.communicate(timeout=60)
    want(p.returncode == 130 and rest.count(b"\n") < 19999 and b"interrupted" in err,
         "exit %d after %d lines, stderr %r" % (p.returncode, rest.count(b"\n"), err))


if __name__ == "__main__":
    with tempfile.TemporaryDirectory() as tmp:
        globals()["scenario_" + sys.argv[2]](tmp)
