"""The stored form of a cell container, for the oracles that read or write
one: cells of kind, line, column (int32), size (uint32) and the bytes,
little-endian, end to end."""
import struct


def read_cells(raw):
    """[(kind, line, col, bytes)] in storage order, and the unreadable tail."""
    out, at = [], 0
    while len(raw) - at >= 16:
        k, l, c, s = struct.unpack_from("<iiiI", raw, at)
        if s > len(raw) - at - 16:
            break
        out.append((k, l, c, raw[at + 16:at + 16 + s]))
        at += 16 + s
    return out, raw[at:]


def pack_cell(k, l, c, data):
    return struct.pack("<iiiI", k, l, c, len(data)) + data
