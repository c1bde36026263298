#!/usr/bin/env python3
"""Checks the block file's maintenance routines against an independent
reader of the file format (tests/support/block_file_format.py).

Random files are built through the library, some with copy-on-write
placement, while a model keeps every block's owner, type, compactable flag
and bytes. Each file is then read back raw and compared with the model, and:

- NeedCompact in its three modes is compared with the waste re-derived from
  the raw directory; Compact must keep every block's bytes and tags, leave
  no free extent, no lost space and no overlap, and end the file at the last
  extent (capacities equal to sizes where the mode allows);
- copies damaged on purpose (overlapping or outside extents, lost space in
  the middle and at the end, reserved owner and type values, free entries
  holding data, sizes above capacity, the bad-close bit, unknown block kinds
  in database files) are checked; the report must hold exactly the sections
  and messages re-derived from the raw bytes (texts formatted here from the
  catalogue sources), and a plain open must fail with 32 exactly when the
  directory check finds a fault; the overlapping pairs reported must be
  real ones (brute force over every pair) and name every block involved;
- repairs (lost space at mode 5 and check level 2, free entries holding
  data, bad close, unknown block kinds) are checked on the raw bytes after
  the file is closed; on arbitrary damage they must at least run cleanly."""
import os
import random
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
import block_file_format as bf  # noqa: E402
from oracle import Oracle  # noqa: E402

MSGS = bf.catalogue(239)
# No flush to the disk after each transaction: durability is not what is
# tested here, and it keeps the run short.
TOLERANT, NO_FLUSH, CHECK_BAD_CLOSE, COPY_ON_WRITE = 0x0002, 0x0080, 0x0100, 0x0200
o = Oracle("block_file_format_driver", 0, encoding="utf-8")
faults_seen = [0]


def pattern(size, seed):
    return bytes((seed * 131 + i * 7 + i // 251) & 0xFF for i in range(size))


def drv(*question):
    return o.call(question)


def report(*question):
    """The items (kind, text) of a report and the four results; an error's
    answer and None when the checks raise one."""
    answer = drv(*question)
    if "\t" not in answer:
        return answer, None
    fields = answer.split("\t")
    return [(f[0], f[1:]) for f in fields[:-1]], [int(x) for x in fields[-1].split()]


def fail(case, what):
    o.check(False, "%s: %s" % (case, what))


def expect(case, what, got, want):
    o.check(got == want, "%s: %s: got %r, want %r" % (case, what, got, want))


# ---------------------------------------------------------------- building
def random_kind(rng, ftype):
    if ftype == 2 and rng.random() < 0.8:
        return rng.choice([(-2, 0), (-3, 0), (7, 100), (7, 3), (7, 101), (9, 5), (9, 100), (11, 4), (12, 200)])
    return rng.randint(-5, 1000), rng.randint(0, 300)


def build_random(rng, path, ftype, flags):
    """Builds a file through the library; returns the model {id: [owner, type, compact, bytes]}."""
    drv("create", path, ftype, flags)
    model = {}
    for _ in range(rng.randint(5, 60)):
        in_tx = rng.random() < 0.3
        if in_tx:
            drv("begin")
        for _ in range(rng.randint(1, 4)):
            r = rng.random()
            if r < 0.5 or not model:
                owner, typ = random_kind(rng, ftype)
                size = rng.choice([0, rng.randint(1, 3000), rng.randint(1, 3000), rng.randint(3000, 90000)])
                reserve = rng.choice([0, 0, size + rng.randint(0, 4000), rng.randint(0, 2048)])
                compact, seed = rng.random() < 0.7, rng.randint(0, 255)
                bid = int(drv("new", owner, typ, size, reserve, compact, seed))
                model[bid] = [owner, typ, compact, pattern(size, seed)]
            elif r < 0.8:
                bid = rng.choice(sorted(model))
                size, seed = rng.randint(0, 8000), rng.randint(0, 255)
                drv("write", bid, size, rng.choice([0, 100, 5000]), seed)
                model[bid][3] = pattern(size, seed)
            else:
                bid = rng.choice(sorted(model))
                drv("del", bid)
                del model[bid]
        if in_tx:
            drv("end")
    drv("close")
    return model


def compare_with_model(case, f, model):
    expect(case, "magic", f.magic, b"ZorBFile")
    expect(case, "crash counter", f.crash, 0)
    expect(case, "used ids", sorted(e.id for e in f.used()), sorted(model))
    for e in f.used():
        if e.id not in model:
            continue
        owner, typ, compact, data = model[e.id]
        expect(case, "block %d tags" % e.id, (e.owner, e.type, not (e.flags & bf.NO_COMPACT)), (owner, typ, compact))
        expect(case, "block %d size" % e.id, e.size, len(data))
        if f.block(e) != data:
            fail(case, "block %d bytes differ" % e.id)


def check_sound(case, f):
    expect(case, "directory faults", f.dir_faults(), [])
    expect(case, "overlaps", f.overlaps(), [])
    expect(case, "lost space", f.lost(), [])


# ---------------------------------------------------------------- compaction
def check_compacted(case, f, mode, before):
    check_sound(case, f)
    expect(case, "free extents", [e.id for e in f.entries if e.free and (e.pos or e.capacity)], [])
    ends = [e.end for e in f.entries if e.pos]
    expect(case, "file end", f.size, max(ends) if ends else f.data_start)
    expect(case, "directory count", f.count, before.count)
    old = {e.id: e for e in before.entries}
    for e in f.used():
        if mode == 3 or not (e.flags & bf.NO_COMPACT):
            expect(case, "block %d capacity" % e.id, e.capacity, e.size)
            if e.size == 0:
                expect(case, "block %d position" % e.id, e.pos, 0)
        else:
            expect(case, "block %d kept capacity" % e.id, e.capacity, old[e.id].capacity)


def round_compact(rng, case, path, model, flags):
    before = bf.BFile.load(path)
    drv("open", path, flags)
    need = [x == "1" for x in drv("need").split()]
    expect(case, "NeedCompact 1 2 3", need, [before.need_compact(m) for m in (1, 2, 3)])
    mode = rng.choice([1, 2, 3])
    done = drv("compact", mode) == "1"
    expect(case, "Compact(%d)" % mode, done, need[mode - 1])
    drv("close")
    after = bf.BFile.load(path)
    compare_with_model(case, after, model)
    if not done:
        expect(case, "untouched file (but for the header)", after.data[980:], before.data[980:])
        return
    check_compacted(case + " compact %d" % mode, after, mode, before)


# ---------------------------------------------------------------- damage
def damage(rng, f):
    """Applies one to three random faults to the raw file; returns their names."""
    done = []
    for _ in range(rng.randint(1, 3)):
        used = [e for e in f.used() if e.pos and e.capacity]
        kind = rng.choice(["overlap", "tail", "middle", "outside", "below", "hipos", "owner", "type", "freedata",
                           "size", "huge", "truncate", "badclose", "kind"])
        if kind in ("overlap", "middle", "outside", "below", "hipos", "owner", "type", "freedata", "size", "huge") \
                and len(used) < 2:
            continue
        e = rng.choice(used) if used else None
        if kind == "overlap":
            x = rng.choice([u for u in used if u is not e])
            e.pos = x.pos + rng.randint(0, x.capacity - 1)
        elif kind == "tail":
            f.resize(f.size + rng.choice([100, rng.randint(1, 5000)]))
        elif kind == "middle":
            if e.capacity < 2:
                continue
            e.capacity = rng.randint(1, e.capacity - 1)
            e.size = min(e.size, e.capacity)
        elif kind == "outside":
            e.pos = f.size - rng.randint(0, e.capacity // 2) if e.capacity > 1 else f.size
        elif kind == "below":
            e.pos = rng.choice([980, 1000, f.data_start - 1])
        elif kind == "hipos":
            e.pos |= rng.randint(1, 255) << 32
        elif kind == "owner":
            e.owner = bf.ANY_OWNER
        elif kind == "type":
            e.type = rng.choice([bf.ANY_TYPE, bf.KEEP_TYPE])
        elif kind == "freedata":
            e.flags, e.capacity = bf.FREE, 0
        elif kind == "size":
            e.size = e.capacity + rng.randint(1, 1000)
        elif kind == "huge":
            # No extent, but a size that a read would allocate.
            e.pos, e.capacity, e.size = 0, 0xFFFFFFFF, 0xFFFFFFF0
        elif kind == "truncate":
            f.resize(max(f.data_start, f.size - rng.randint(1, 2000)))
        elif kind == "badclose":
            f.put_state(f.state | bf.STATE_BAD_CLOSE)
        elif kind == "kind":
            if f.ftype != 2 or not used:
                continue
            e.owner, e.type = rng.choice([(0, 1), (5, 50), (-2, 1), (123456, 2)])
        if e is not None:
            f.put_entry(e)
        done.append(kind)
    return done


def round_damage(rng, case, path, tmp):
    f = bf.BFile.load(path)
    kinds = damage(rng, f)
    case = "%s damaged %s" % (case, "+".join(kinds))
    bad = os.path.join(tmp, "bad.zbf")
    f.save(bad)
    plain = drv("open", bad, NO_FLUSH)
    expect(case, "plain open", plain, "E 1 32" if f.dir_faults() else "ok")
    drv("close")
    f.save(bad)  # the plain open may have marked it open
    expect(case, "tolerant open", drv("open", bad, TOLERANT | CHECK_BAD_CLOSE | NO_FLUSH), "ok")
    items, results = report("check", 0, 0, 0)
    want = bf.expected_report(f, bad, MSGS, check_bad_close=True)
    expect(case, "report", items, want)
    # The overlaps reported are real ones and name every block involved in
    # one (brute force over every pair).
    reported, truth = set(f.overlap_report(cap=len(f.entries))[0]), set(f.overlaps())
    expect(case, "reported overlaps are real", reported - truth, set())
    expect(case, "blocks in overlaps", {i for p in reported for i in p}, {i for p in truth for i in p})
    faults_seen[0] += sum(1 for kind, _ in want if kind != "S")
    quick = [int(x) for x in drv("quick").split()]
    expect(case, "results without verifier",
           quick, [int(not f.dir_faults()), int(not f.overlaps()), int(not f.lost()), int(not f.bad_kinds())])
    expect(case, "results with verifier", results,
           [int(not f.dir_faults() and not f.state & bf.STATE_BAD_CLOSE), quick[1], quick[2], quick[3]])
    # Every repair allowed on whatever the damage is: no library error, no
    # crash (the driver runs under the sanitizers), and the file still opens.
    repaired, _ = report("check", 1, 5, 2)
    expect(case, "full repair", isinstance(repaired, list), True)
    drv("close")
    expect(case, "open after repair", drv("open", bad, TOLERANT | NO_FLUSH), "ok")
    drv("close")


def repairable_damage(rng, f):
    used = [e for e in f.used() if e.pos and e.capacity > 1]
    for kind in rng.sample(["tail", "middle", "freedata", "badclose", "kind"], rng.randint(1, 3)):
        if kind == "tail":
            f.resize(f.size + rng.randint(1, 3000))
        elif kind == "badclose":
            f.put_state(f.state | bf.STATE_BAD_CLOSE)
        # The others change one used block; a free entry needs another one left.
        elif len(used) > (kind == "freedata") and (kind != "kind" or f.ftype == 2):
            e = used.pop(rng.randrange(len(used)))
            if kind == "middle":
                e.capacity = rng.randint(max(1, e.size), e.capacity) if e.size < e.capacity else e.capacity
            elif kind == "freedata":
                e.flags, e.capacity, e.size = bf.FREE, 0, 0
            else:
                e.owner, e.type = 0, 1
            f.put_entry(e)


def round_repair(rng, case, path, tmp, model):
    f = bf.BFile.load(path)
    repairable_damage(rng, f)
    bad = os.path.join(tmp, "repair.zbf")
    f.save(bad)
    case += " repair"
    mode, level = rng.choice([(5, 2), (4, 2), (5, 1), (9, 3)])
    reclaim = mode > 4 and level >= 2
    expect(case, "open", drv("open", bad, TOLERANT | CHECK_BAD_CLOSE | NO_FLUSH), "ok")
    items, _ = report("check", 1, mode, level)
    want = bf.expected_report(f, bad, MSGS, check_bad_close=True, repair=True, lost_repair=reclaim)
    expect(case, "report (mode %d level %d)" % (mode, level), items, want)
    drv("close")
    g = bf.BFile.load(bad)
    expect(case, "bad close after repair", g.state & bf.STATE_BAD_CLOSE, 0)
    expect(case, "directory faults after repair", g.dir_faults(), [])
    expect(case, "unknown kinds after repair", g.bad_kinds(), [])
    deleted = set(f.bad_kinds())
    survivors = {bid: m for bid, m in model.items()
                 if bid not in deleted and not f.entries[bid - 1].free}
    for e in g.used():
        if e.id in survivors and g.block(e) != survivors[e.id][3][:e.size]:
            fail(case, "block %d bytes differ after repair" % e.id)
    if deleted:
        # The deletions are followed by a compaction.
        expect(case, "lost space after compaction", g.lost(), [])
    elif reclaim:
        expect(case, "lost space after repair", g.lost(), [])
        old = {(lo, hi) for lo, hi in f.lost()}
        new = {(e.pos, e.end) for e in g.entries[f.count:] if e.free}
        expect(case, "reclaimed ranges", new, old)
    else:
        expect(case, "lost space kept", g.lost(), f.lost())


def main():
    seeds = range(o.seed, o.seed + int(os.environ.get("ZOR_BFILE_ORACLE_SEEDS", "40")))
    tmp = tempfile.mkdtemp(prefix="bfile_oracle.")
    try:
        for seed in seeds:
            rng = random.Random(seed)
            ftype = rng.choice([0, 2, 2, 5])
            flags = NO_FLUSH | (COPY_ON_WRITE if rng.random() < 0.3 else 0)
            path = os.path.join(tmp, "f%d.zbf" % seed)
            case = "seed %d (type %d, flags %#x)" % (seed, ftype, flags)
            model = build_random(rng, path, ftype, flags)
            f = bf.BFile.load(path)
            compare_with_model(case, f, model)
            check_sound(case, f)
            for _ in range(3):
                round_damage(rng, case, path, tmp)
            round_repair(rng, case, path, tmp, model)
            round_compact(rng, case, path, model, flags)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    print("%d files, %d faults compared" % (len(seeds), faults_seen[0]))
    o.finish()


if __name__ == "__main__":
    main()
