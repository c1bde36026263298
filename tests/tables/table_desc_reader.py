"""An independent reader of stored table descriptions, written from their
layouts: the cell container (cells "<iiiI" kind, line, column, size, then the
data), the 146-byte header, the 48-byte field descriptors and the 80-byte
index definitions, with the record layout rules recomputed (layout()).
"""
import struct

from cell_format import pack_cell, read_cells

HDR = struct.Struct("<I q I I 26s 26s 6s 6s i h H i I q H h h i 3i q q")
HDR_KEYS = ("version tid storage flags name abr cprefix tag handler hil unic release type typeid "
            "nbindex defindex blobrefs maxdata recname1 recname2 recname3 ws eng").split()
TFI = struct.Struct("<26s B B B B I H I I H H")
TFI_KEYS = "name phys log nature reserved flags len d1 d2 offset size".split()
KEY = struct.Struct("<B 9B B 9B I 9I H 9h")
assert HDR.size == 146 and TFI.size == 48 and KEY.size == 80

VALID, VIRTUAL, DYNA, ARRAY, USER, UNICID, INDEXED = 0x1, 0x8, 0x10, 0x20, 0x40, 0x80, 0x100
RDONLY, ENUM, ALIAS, STRLIST, USERNAMED, RECID, SCRIPT = 0x400, 0x20000, 0x40000, 0x100000, 0x800000, \
    0x4000000, 0x8000000
AS_VPREC, AS_USER, AS_DYNA, COM_ENABLED, COM_WROK = 0x20000000, 0x40000000, 0x80000000, 0x80, 0x100


# ---------------------------------------------------------------- containers
def cells(raw):
    """[(kind, line, col, bytes)] in storage order; an unreadable tail is dropped."""
    return read_cells(raw)[0]


def cell(raw, k, l, c):
    for ck, cl, cc, data in cells(raw):
        if (ck, cl, cc) == (k, l, c):
            return data
    return None


def pack(cell_list):
    return b"".join(pack_cell(k, l, c, d) for k, l, c, d in cell_list if d)


# ---------------------------------------------------------------- records
def read_header(raw):
    return dict(zip(HDR_KEYS, HDR.unpack((cell(raw, 0, 1, 1) or b"").ljust(146, b"\0")[:146])))


def write_header(h):
    return HDR.pack(*(h[k] for k in HDR_KEYS))


def read_fields(raw):
    data = cell(raw, 0, 2, 1) or b""
    return [dict(zip(TFI_KEYS, TFI.unpack_from(data, i * 48))) for i in range(len(data) // 48)]


def write_fields(fields):
    return b"".join(TFI.pack(*(f[k] for k in TFI_KEYS)) for f in fields)


def read_key(data):
    v = KEY.unpack(data.ljust(80, b"\0")[:80])
    return {"nb": v[0], "types": list(v[1:10]), "len": v[10], "lens": list(v[11:20]), "out": v[20],
            "offsets": list(v[21:30]), "nb2": v[30], "fields": list(v[31:40])}


def write_key(k):
    return KEY.pack(k["nb"], *k["types"], k["len"], *k["lens"], k["out"], *k["offsets"], k["nb2"], *k["fields"])


def read_indexes(raw):
    """{line: (key dict, name bytes, value)} of the index container."""
    inner = cell(raw, 0, 5, 1) or b""
    out = {}
    for k, l, c, data in cells(inner):
        if k == 0 and c == 1 and l not in out:
            out[l] = (read_key(data), cell(inner, 0, l, 3), cell(inner, 0, l, 4))
    return out


def vprec(raw, n):
    sub = cell(raw, 0, 3, n)
    v = cell(sub, 0, 1, 5) if sub else None
    return struct.unpack("<i", v[:4].ljust(4, b"\0"))[0] if v else 0


# ---------------------------------------------------------------- layout rules
def phys_size(t, length):
    fixed = {1: 1, 2: 2, 3: 2, 4: 4, 5: 8, 8: 8, 9: 8, 10: 8, 12: 16}
    if t in fixed:
        return fixed[t]
    return {6: length + 1, 7: 2 * length + 2, 11: length, 13: length}.get(t, 0)


def layout(h, fields, vprecs, keys):
    """Recomputes what validation derives: returns (fits, header, fields,
    keys) for inputs as read above (keys: {line: key dict})."""
    h, fields, keys = dict(h), [dict(f) for f in fields], {i: dict(k) for i, k in keys.items()}
    flags = h["flags"] & ~(AS_VPREC | AS_USER | AS_DYNA)
    if not flags & COM_ENABLED:
        flags &= ~COM_WROK
    offset, users, blobrefs, unic, fits, seen = 0, 0, 0, 0, True, False
    for n, f in enumerate(fields, 1):
        f["name"] = f["name"][:25] + b"\0"
        if not seen and vprecs.get(n, 0):
            seen, flags = True, flags | AS_VPREC
        f["phys"] = {254: 1, 255: 6}.get(f["phys"], f["phys"])
        ff, size = f["flags"], 0
        if ff & USER:
            flags, users = flags | AS_USER, users + 1
            if ff & SCRIPT:
                ff |= VIRTUAL | RDONLY
            else:
                ff, flags = ff | DYNA, flags | AS_DYNA
            if not ff & USERNAMED:
                f["name"] = (b"?" * 15 + b" %d" % users).ljust(26, b"\0")
        elif not ff or ff & VIRTUAL:
            pass  # nothing in the record
        elif ff & DYNA:
            flags |= AS_DYNA
        else:
            size = phys_size(f["phys"], f["len"])
            if ff & UNICID:
                if f["phys"] == 4 and f["log"] == 7 and not unic:
                    unic = n
                ff |= RECID
            if ff & ARRAY:
                size *= (f["d1"] + 1) * (f["d2"] + 1)
            if ff & ENUM:
                size = 2
            if ff & ALIAS:
                size = 0
            if ff & STRLIST:
                size = 2
            if f["phys"] == 13:
                size, blobrefs = 4, blobrefs + 1
            if f["phys"] == 11 and f["log"] == 18:
                size = 52
        if offset + size > 0xFFFF:
            fits, size = False, 0
        f["offset"], f["size"], f["flags"] = offset, size, ff & ~INDEXED
        offset += size
    for k in keys.values():
        k["nb"] = k["nb2"] = k["len"] = 0
        k["offsets"] = [0] * 9
        for p in range(9):
            fld = k["fields"][p]
            if not (1 <= fld <= len(fields) and fields[fld - 1]["flags"]):
                break
            k["nb"] = k["nb2"] = k["nb"] + 1
            k["len"] = (k["len"] + k["lens"][p]) & 0xFF
            k["offsets"][p] = fields[fld - 1]["offset"]
            fields[fld - 1]["flags"] |= INDEXED
    h.update(flags=flags, unic=unic, blobrefs=blobrefs, nbindex=max(keys, default=0))
    return fits, h, fields, keys
