#!/usr/bin/env python3
"""Checks ZorDyna's stored form against an independent reader and writer
built on Python's struct module.

The model keeps the run as a list of cells (kind, line, column, bytes) plus
an unreadable tail, writes it with struct.pack('<iiiI') and reads the
driver's bytes back with struct.unpack_from. It follows the container's
rules: empty or zero values are not stored, the first cell at a place wins,
a value of a new size is removed and appended, appending drops an
unreadable tail, structural edits (line and column edits on a kind or a
box, sorts, kind changes, compaction) keep the cells' order, copies set the
first cell of each place into the target.

Three parts: a fixed build whose bytes are also written out by hand below,
random operation sequences compared answer by answer and byte by byte (the
container and a copy target), and outside bytes (valid cells, then garbage)
read, checked and repaired.
Usage: cell_container_oracle.py DRIVERS_DIR"""
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from cell_format import pack_cell, read_cells  # noqa: E402
from oracle import Oracle  # noqa: E402

ANY = -2**31
o = Oracle("cell_container_driver", 6101)
rng = o.rng


class Run:
    def __init__(self, raw=b""):
        cells, self.tail = read_cells(raw)
        self.cells = [list(cell) for cell in cells]

    def bytes(self):
        return b"".join(pack_cell(*cell) for cell in self.cells) + self.tail

    def find(self, k, l, c):
        return next((i for i, cell in enumerate(self.cells) if cell[:3] == [k, l, c]), None)

    def get(self, k, l, c):
        i = self.find(k, l, c)
        return "G %d %d %d" % (k, l, c), "1 " + hexs(self.cells[i][3]) if i is not None else "0 -"

    def append(self, k, l, c, data):
        self.tail = b""
        self.cells.append([k, l, c, data])

    def set(self, k, l, c, data):
        i = self.find(k, l, c)
        if i is None:
            return self.ins(k, l, c, data)
        old = self.cells[i][3]
        if len(old) == len(data) and data:
            if old == data:
                return 0
            self.cells[i][3] = data
            return 1
        del self.cells[i]
        if data:
            self.append(k, l, c, data)
        return 1

    def ins(self, k, l, c, data):
        if not data:
            return 0
        self.append(k, l, c, data)
        return 1

    def rewrite(self, rule):
        """rule(cell) -> None to drop, else the new (k, l, c)."""
        changed, kept = False, []
        for cell in self.cells:
            place = rule(*cell[:3])
            if place is None:
                changed = True
                continue
            changed |= list(place) != cell[:3]
            kept.append(list(place) + [cell[3]])
        self.cells = kept
        return int(changed)


def kind_is(want, k):
    return want == ANY or want == k


def structure(run, op, a, b, c, box=None):
    """A line or column edit; box = (kind from, kind to, other from, other to)
    for the range forms, else the kind a (ANY: every kind)."""
    lines = op[1] == "L"
    inside = (lambda k, l, col: box[0] <= k <= box[1] and box[2] <= (col if lines else l) <= box[3]) if box else \
        (lambda k, l, col: kind_is(a, k))

    def along(k, l, col, f):
        v = f(l if lines else col)
        return None if v is None else (k, v, col) if lines else (k, l, v)
    if op[0] in "ID" and c < 1:
        return 0
    if op[0] == "I":
        return run.rewrite(lambda k, l, col: along(k, l, col, lambda v: v + c if inside(k, l, col) and v >= b else v))
    if op[0] == "D":
        return run.rewrite(lambda k, l, col: along(k, l, col, lambda v: v if not inside(k, l, col) or v < b else
                                                   None if v <= b + c - 1 else v - c))
    if b == c:
        return 0
    sw = lambda v: c if v == b else b if v == c else v
    return run.rewrite(lambda k, l, col: along(k, l, col, lambda v: sw(v) if inside(k, l, col) else v))


def whole(run, op, a, b):
    if op == "X":
        return run.rewrite(lambda k, l, col: (k, col, l) if kind_is(a, k) else (k, l, col))
    if op == "CK":
        if a == b or ANY in (a, b):
            return 0
        moved = {(l, col) for k, l, col, _ in run.cells if k == a}
        return run.rewrite(lambda k, l, col: None if k == b and (l, col) in moved else ((b if k == a else k), l, col)) \
            if moved else 0
    if op == "DK":  # ANY: every kind
        return run.rewrite(lambda k, l, col: None if a in (ANY, k) else ((k - 1 if b and k > a else k), l, col))
    if op == "CP":
        vals = sorted({cell[1] if a else cell[2] for cell in run.cells})
        num = {v: i + 1 for i, v in enumerate(vals)}
        return run.rewrite(lambda k, l, col: (k, num[l], col) if a else (k, l, num[col]))
    raise ValueError(op)


SORT_WIDTH = {3: 2, 4: 4, 5: 8}   # Short, Long, Quad; other types here: the bytes themselves


def sort_lines(run, kind, typ, col, lf, lt, down):
    """Stable sort of the lines of `kind` in [lf, lt] by their first cell in col."""
    keys = {}
    for k, l, c, data in run.cells:
        if kind_is(kind, k) and lf <= l <= lt and keys.get(l) is None:
            keys[l] = data if c == col else None

    def key(line):
        data = keys[line] or b""
        if typ in SORT_WIDTH:
            return int.from_bytes(data.ljust(8, b"\0")[:SORT_WIDTH[typ]], "little", signed=True)
        return data
    numbers = sorted(keys)
    renum = {l: n for l, n in zip(sorted(numbers, key=key, reverse=down), numbers) if l != n}
    if not renum:
        return 0
    return run.rewrite(lambda k, l, c: (k, renum.get(l, l), c) if kind_is(kind, k) else (k, l, c))


def clear_box(run, kf, kt, lf, lt, cf, ct):
    return run.rewrite(lambda k, l, c: None if kf <= k <= kt and lf <= l <= lt and cf <= c <= ct else (k, l, c))


def find_text(run, kind, col, text, start):
    for k, l, c, data in run.cells:
        if kind_is(kind, k) and c == col and l >= start and data and data[-1] == 0 and \
                data[:data.index(0)].lower() == text.encode().lower():
            return l
    return start - 1


def dim(run, kind):
    mine = [cell for cell in run.cells if kind_is(kind, cell[0])]
    return "%d %d %d" % (max([0] + [c[1] for c in mine]), max([0] + [c[2] for c in mine]), len(mine))


def verif(run, repair):
    seen, bad, kept = set(), 0, []
    for cell in run.cells:
        place = tuple(cell[:3])
        if not cell[3] or place in seen:
            bad += 1
        else:
            kept.append(cell)
        seen.add(place)
    items = bad + (1 if run.tail else 0)
    if repair:
        run.cells, run.tail = kept, b""
    return "%d %d" % (int(items == 0), items)


def hexs(b):
    return b.hex() if b else "-"


# ---------------------------------------------------------------- operations

NUMBERS = {"N": ("<i", [0, 0, 1, -1, 7, 2**31 - 1, -2**31]), "Q": ("<q", [0, 1, -5, 2**40, -2**63]),
           "D": ("<d", [0.0, -0.0, 1.5, -2.25, 1e300, 5e-324])}


def typed_value(op):
    """(the command's value field, the bytes stored): zero numbers and empty texts store nothing."""
    if op == "T":
        text = rng.choice(["", "a", "Ab", "abc", "TEXT", "zz"])
        return text or "-", (text.encode() + b"\0") if text else b""
    if op in NUMBERS:
        fmt, choices = NUMBERS[op]
        v = rng.choice(choices)
        return v.hex() if op == "D" else str(v), struct.pack(fmt, v) if v != 0 else b""
    if op == "U":
        b = rng.choice([bytes(16), rng.randbytes(16)])
        return b.hex(), b
    b = rng.randbytes(rng.choice([0, 1, 2, 4, 4, 8, 13]))
    return hexs(b), b


def copy_cells(run, other, select, kind, replace):  # kind: the cells' new kind, ANY to keep theirs
    """CopyTo / CopyToRange into other: the first cell at each selected place,
    after clearing what `replace` names (a callable answering the change)."""
    seen, picked = set(), []
    for k, l, c, data in run.cells:
        if select(k, l, c) and (k, l, c) not in seen:
            seen.add((k, l, c))
            picked.append((k if kind == ANY else kind, l, c, data))
    changed = replace([p[0] for p in picked]) if replace else 0
    for p in picked:
        changed |= other.set(*p)
    return changed


def random_box(kinds, n):
    return sorted([rng.choice(kinds), rng.choice(kinds)]) + sorted([n(), n()]) + sorted([n(), n()])


def random_op(run, other):
    kinds = [0, 1, 2, 3]
    k = lambda: rng.choice(kinds + [ANY]) if rng.random() < 0.1 else rng.choice(kinds)
    n = lambda: rng.randrange(-2, 9)
    r = rng.random()
    if r < 0.45:
        op = rng.choice("SSSTNQDUI")
        kk, l, c = rng.choice(kinds), n(), n()
        text, data = typed_value(op)
        expect = run.ins(kk, l, c, data) if op == "I" else run.set(kk, l, c, data)
        return "%s %d %d %d %s" % (op, kk, l, c, text), str(expect)
    if r < 0.52:
        return run.get(rng.choice(kinds), n(), n())
    if r < 0.72:
        op = rng.choice(["IL", "IC", "DL", "DC", "SL", "SC"])
        a, b, c = k(), n(), rng.randrange(-1, 4)
        if rng.random() < 0.5:
            return "%s %d %d %d" % (op, a, b, c), str(structure(run, op, a, b, c))
        box = random_box(kinds, n)
        return "%sR %d %d %s" % (op, b, c, " ".join(map(str, box))), str(structure(run, op, a, b, c, box))
    if r < 0.8:
        op = rng.choice(["X", "CK", "DK", "CP"])
        a = rng.randrange(2) if op == "CP" else k()
        b = rng.choice(kinds) if op == "CK" else rng.randrange(2)
        return "%s %d %d" % (op, a, b), str(whole(run, op, a, b))
    if r < 0.84:
        kk, typ, col, lf = k(), rng.choice([3, 4, 5, 11]), n(), n()
        lt, down = lf + rng.randrange(10), rng.randrange(2)
        return "ST %d %d %d %d %d %d" % (kk, typ, col, lf, lt, down), str(sort_lines(run, kk, typ, col, lf, lt, down))
    if r < 0.87:
        box = random_box(kinds, n)
        return "CB " + " ".join(map(str, box)), str(clear_box(run, *box))
    if r < 0.9:
        kk, dk, rep = k(), rng.choice(kinds), rng.randrange(2)
        replace = (lambda ks: whole(other, "DK", dk, 0)) if kk != ANY else \
            (lambda ks: max([whole(other, "DK", x, 0) for x in ks], default=0))
        return "CT %d %d %d" % (kk, dk, rep), str(copy_cells(run, other, lambda *p: kind_is(kk, p[0]), kk if kk == ANY else dk,
                                                          replace if rep else None))
    if r < 0.92:
        box, rep = random_box(kinds, n), rng.randrange(2)
        inside = lambda k, l, c: box[0] <= k <= box[1] and box[2] <= l <= box[3] and box[4] <= c <= box[5]
        return "CR %s %d" % (" ".join(map(str, box)), rep), str(copy_cells(
            run, other, inside, ANY, (lambda ks: clear_box(other, *box)) if rep else None))
    if r < 0.96:
        kk, c, start = k(), n(), n()
        text = rng.choice(["a", "AB", "abc", "text", "ZZ"])
        return "F %d %d %s %d" % (kk, c, text, start), str(find_text(run, kk, c, text, start))
    kk = k()
    return "M %d" % kk, dim(run, kk)


def ask(cmd, want, what=None):
    """Queues one command (fields separated by spaces); a run's bytes must
    also parse as whole cells."""
    if cmd in ("P", "PO"):
        o.ask(cmd, lambda got: got == want and (got == "-" or (lambda raw: Run(raw).bytes() == raw and not Run(raw).tail)(
            bytes.fromhex(got))), what)
    else:
        o.ask(cmd.replace(" ", "\t"), want, what)


# ---------------------------------------------------------------- 1. fixed build

fixed = ["T 1 1 1 Hello", "N 1 1 2 42", "Q 2 0 0 -2", "D 1 2 1 " + (0.5).hex(), "S 3 -1 7 00ff",
         "N 1 1 2 0", "T 1 1 1 Hi", "U 4 1 1 " + bytes(range(16)).hex(), "T 1 1 1 Hi", "P"]
golden = (struct.pack("<iiiI", 1, 1, 1, 6) + b"Hello\0"
          + struct.pack("<iiiIq", 2, 0, 0, 8, -2)
          + struct.pack("<iiiId", 1, 2, 1, 8, 0.5)
          + struct.pack("<iiiI", 3, -1, 7, 2) + b"\x00\xff")
golden = golden[22:] + struct.pack("<iiiI", 1, 1, 1, 3) + b"Hi\0" + struct.pack("<iiiI", 4, 1, 1, 16) + bytes(range(16))
for cmd, want in zip(["R"] + fixed, ["1", "1", "1", "1", "1", "1", "1", "1", "1", "0", golden.hex()]):
    ask(cmd, want, "fixed build: " + cmd)

# ---------------------------------------------------------------- 2. random sequences

for seq in range(60):
    run, other = Run(), Run()
    other.set(9, 9, 9, b"old\0")
    ask("R", "1")
    for _ in range(rng.randrange(20, 160)):
        cmd, e = random_op(run, other)
        ask(cmd, e, "sequence %d: %s" % (seq, cmd))
        if rng.random() < 0.15:
            ask("P", hexs(run.bytes()))
    ask("P", hexs(run.bytes()))
    ask("PO", hexs(other.bytes()))

# ---------------------------------------------------------------- 3. outside bytes

for case in range(300):
    cells = [[rng.randrange(3), rng.randrange(3), rng.randrange(3), rng.randbytes(rng.choice([0, 1, 4, 9]))]
             for _ in range(rng.randrange(6))]
    raw = b"".join(pack_cell(*c) for c in cells)
    damage = rng.randrange(4)
    if damage == 1:
        raw += rng.randbytes(rng.randrange(1, 16))
    elif damage == 2:
        raw += struct.pack("<iiiI", 1, 1, 1, rng.choice([1, 100, 0xFFFFFFFF])) + rng.randbytes(rng.randrange(0, 3))
    elif damage == 3 and raw:
        raw = raw[:rng.randrange(len(raw))]
    run = Run(raw)
    what = "outside bytes %s" % hexs(raw)
    ask("A " + hexs(raw), "1", what)
    for _ in range(4):
        ask(*run.get(rng.randrange(3), rng.randrange(3), rng.randrange(3)), what)
    ask("M %d" % ANY, dim(run, ANY), what)
    if rng.random() < 0.3:
        k, l, c = rng.randrange(3), rng.randrange(3), rng.randrange(3)
        ask("S %d %d %d 0a0b0c" % (k, l, c), str(run.set(k, l, c, b"\x0a\x0b\x0c")), what)
    repair = rng.randrange(2)
    ask("V %d" % repair, verif(run, repair), what)
    o.ask("P", hexs(run.bytes()), what)  # an unrepaired tail stays
o.run()
o.finish()
