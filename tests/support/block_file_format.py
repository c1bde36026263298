"""An independent reader and writer of the block file format, built on
Python's struct module, and what the maintenance checks derive from the raw
bytes: waste, overlapping extents, lost space, directory faults, blocks of
unknown owner and type. Shared by block_file_format_oracle.py and
tests/tools/bfile_tool_test.py.

Layout: a 980-byte header (magic "ZorBFile", version, crash counter, state
bits, bad-open count, data start, directory count, update counter, file type,
identifier, signature, user release, creation string, user array), then
24-byte directory entries (position low, capacity, size, owner, cache slot,
type, flags, position bits 32-39), then the blocks' extents from data start.
"""
import re
import struct

import oracle

HEADER = struct.Struct("<8siIIIII Q iiii 36s")
ENTRY = struct.Struct("<IIIiIhBB")
HEADER_SIZE, ENTRY_SIZE, DATA_START, MAX_BLOCK = 980, 24, 25600, 104857600
FREE, NO_COMPACT = 0x01, 0x02
ANY_OWNER, ANY_TYPE, KEEP_TYPE = 0x7FFFFFFF, 0x7FFF, 0x7FFE
STATE_BAD_CLOSE, STATE_OPEN = 0x2, 0x4


class Entry:
    def __init__(self, id, pos=0, capacity=0, size=0, owner=0, type=0, flags=0):
        self.id, self.pos, self.capacity, self.size = id, pos, capacity, size
        self.owner, self.type, self.flags = owner, type, flags

    @property
    def free(self):
        return bool(self.flags & FREE)

    @property
    def end(self):
        return self.pos + self.capacity

    def pack(self):
        return ENTRY.pack(self.pos & 0xFFFFFFFF, self.capacity, self.size, self.owner, 0, self.type,
                          self.flags, self.pos >> 32)


class BFile:
    """The raw bytes of a file, parsed; `data` stays the whole file."""

    def __init__(self, data):
        self.data = bytearray(data)
        (self.magic, self.version, self.crash, self.state, self.bad_open, self.data_start, self.count,
         self.update, self.ftype, self.guid, self.signature, self.user_rel, crea) = HEADER.unpack_from(data, 0)
        self.crea = crea.split(b"\0")[0]
        self.entries = []
        # Entries the header counts past the end of the file.
        held = max(0, (len(data) - HEADER_SIZE) // ENTRY_SIZE)
        self.missing = max(0, self.count - held)
        for i in range(self.count - self.missing):
            pos, cap, size, owner, _slot, typ, flags, hi = ENTRY.unpack_from(data, HEADER_SIZE + i * ENTRY_SIZE)
            self.entries.append(Entry(i + 1, pos | (hi << 32), cap, size, owner, typ, flags))

    @staticmethod
    def load(path):
        with open(path, "rb") as f:
            return BFile(f.read())

    def save(self, path):
        with open(path, "wb") as f:
            f.write(self.data)

    @property
    def size(self):
        return len(self.data)

    def used(self):
        return [e for e in self.entries if not e.free]

    def block(self, e):
        return bytes(self.data[e.pos:e.pos + e.size]) if e.pos else b""

    # ------------------------------------------------------------ editing
    def put_entry(self, e):
        at = HEADER_SIZE + (e.id - 1) * ENTRY_SIZE
        self.data[at:at + ENTRY_SIZE] = e.pack()
        self.entries[e.id - 1] = e

    def put_state(self, state):
        self.state = state
        struct.pack_into("<I", self.data, 16, state)

    def resize(self, n):
        self.data[n:] = b"\0" * max(0, n - len(self.data))

    # ------------------------------------------------------------ derivations
    def waste(self, mode):
        total = 0
        for e in self.entries:
            if not e.pos:
                continue
            if e.free:
                total += e.capacity
            elif not (e.flags & NO_COMPACT) or mode == 3:
                total += max(0, e.capacity - e.size)
        return total

    def need_compact(self, mode):
        w = self.waste(mode)
        if mode == 1:
            # Waste counted in whole hundredths of the file.
            hundredth = self.size // 100
            return w // hundredth >= 10 if hundredth else w != 0
        return w != 0 if mode in (2, 3) else False

    def overlaps(self):
        """Every intersecting pair, by brute force."""
        ext = [(e.pos, e.end, e.id) for e in self.entries if e.pos and e.capacity]
        pairs = set()
        for i, (p1, e1, a) in enumerate(ext):
            for p2, e2, b in ext[i + 1:]:
                if p1 < e2 and p2 < e1:
                    pairs.add((min(a, b), max(a, b)))
        return sorted(pairs)

    def overlap_report(self, cap=1000):
        """What the cross-block check reports: extents taken by position
        (then id); one that starts before the furthest end reached so far is
        paired with the first extent that reached it. Pairs lower id first,
        in id order; beyond `cap` pairs only their number (the second
        result)."""
        furthest, pairs = None, []
        for e in sorted((e for e in self.entries if e.pos and e.capacity), key=lambda e: (e.pos, e.id)):
            if furthest and e.pos < furthest.end:
                pairs.append((min(e.id, furthest.id), max(e.id, furthest.id)))
            if furthest is None or e.end > furthest.end:
                furthest = e
        pairs.sort()
        return pairs[:cap], max(0, len(pairs) - cap)

    def lost(self):
        """Byte ranges of [data start, end of file) that no extent covers."""
        covered = bytearray(max(0, self.size - self.data_start))
        for e in self.entries:
            if e.pos and e.capacity:
                lo, hi = max(e.pos, self.data_start), min(e.end, self.size)
                if lo < hi:
                    covered[lo - self.data_start:hi - self.data_start] = b"\1" * (hi - lo)
        ranges, i = [], covered.find(0)
        while i >= 0:
            j = covered.find(1, i)
            j = len(covered) if j < 0 else j
            ranges.append((i + self.data_start, j + self.data_start))
            i = covered.find(0, j)
        return ranges

    def dir_faults(self):
        """(message id, block id) in report order; 12 without a block id."""
        out = []
        for e in self.entries:
            # One "outside" item per entry, for its size or its extent.
            bad_size = not e.free and (e.size > e.capacity or e.size > MAX_BLOCK)
            bad_extent = e.pos and not (e.free and e.capacity == 0) and \
                (e.pos < self.data_start or e.end > self.size)
            if bad_size or bad_extent:
                out.append((5, e.id))
            if not e.pos:
                continue
            if e.free and e.capacity == 0:
                out.append((12, None))
                continue
            if e.free:
                continue
            if e.owner == ANY_OWNER:
                out.append((3, e.id))
            if e.type in (ANY_TYPE, KEEP_TYPE):
                out.append((4, e.id))
        return out

    def bad_kinds(self):
        """Used blocks whose owner and type make no sense in a database file."""
        if self.ftype != 2:
            return []
        described = {e.owner for e in self.used() if e.type == 100}

        def ok(e):
            if e.owner in (-2, -3):
                return e.type == 0
            return e.owner > 0 and (e.type < 18 or 100 <= e.type <= 103) and e.owner in described
        return [e.id for e in self.used() if not ok(e)]


def new_file(ftype=0, signature=0, crea=b""):
    """A fresh file as creation writes it (identifier 0)."""
    head = HEADER.pack(b"ZorBFile", 1, 0, 0, 0, DATA_START, 0, 0, ftype, 0, signature, 0, crea)
    return BFile(head + b"\0" * (DATA_START - len(head)))


def build(blocks, ftype=0, gap_after=None):
    """A file holding `blocks`, a list of (owner, type, data, capacity, flags),
    laid out in order from data start; gap_after maps a block index to the
    bytes left unused after its extent."""
    f = new_file(ftype)
    gap_after = gap_after or {}
    at = DATA_START
    f.entries = []
    for i, (owner, typ, data, cap, flags) in enumerate(blocks):
        e = Entry(i + 1, at if cap else 0, cap, 0 if flags & FREE else len(data), owner, typ, flags)
        f.entries.append(e)
        f.resize(at + cap)
        f.data[at:at + len(data)] = data
        at += cap + gap_after.get(i, 0)
        f.resize(at)
    f.count = len(f.entries)
    struct.pack_into("<I", f.data, 28, f.count)
    for e in f.entries:
        f.put_entry(e)
    return f


# ---------------------------------------------------------------- messages
def catalogue(group):
    """Texts of list `group` of module 1, read from the catalogue sources."""
    return {n: oracle.unescape(t) for (_, g, n), (t, _) in oracle.catalogue(1).items() if g == group}


def form(pattern, *args):
    """The formatter for the placeholders these lists use: ^<n>s and ^<n>i
    (a 32-bit signed integer)."""
    return re.sub(r"\^(\d)([si])", lambda m: str(args[int(m.group(1))]) if m.group(2) == "s"
                  else str((args[int(m.group(1))] + (1 << 31) & 0xFFFFFFFF) - (1 << 31)), pattern)


def expected_report(f, path, msgs, check_bad_close=False, repair=False, lost_repair=False):
    """The report lines of the four checks run in the order dir, cross, lost,
    owner/type: ("S", title) per section, ("E", text) per fault and ("R",
    text) per repaired fault. With `repair`, free entries holding data, the
    bad-close bit and unknown block kinds are repaired; lost space only with
    `lost_repair` as well."""
    fixed = "R" if repair else "E"
    out = [("S", form(msgs[6], path))]
    for msg, bid in f.dir_faults():
        out.append((fixed, msgs[12]) if msg == 12 else ("E", form(msgs[msg], bid)))
    if f.missing:
        held = f.count - f.missing
        out.append(("R", form(msgs[17], held + 1, f.count)) if repair else ("E", form(msgs[16], f.count, held)))
    if check_bad_close and f.state & STATE_BAD_CLOSE:
        out.append((fixed, msgs[11] if repair else msgs[1]))
    out.append(("S", form(msgs[10], path)))
    ent = {e.id: e for e in f.entries}
    pairs, more = f.overlap_report()
    for a, b in pairs:
        x, y = ent[a], ent[b]
        out.append(("E", form(msgs[8], a, x.pos, x.capacity, b, y.pos, y.capacity)))
    if more:
        out.append(("E", form(msgs[18], more)))
    out.append(("S", form(msgs[9], path)))
    for lo, hi in f.lost():
        out.append(("R" if repair and lost_repair else "E", form(msgs[7], lo, hi)))
    if f.ftype == 2:
        out.append(("S", form(msgs[13], path)))
        for bid in f.bad_kinds():
            out.append((fixed, form(msgs[15 if repair else 14], bid)))
    return out
