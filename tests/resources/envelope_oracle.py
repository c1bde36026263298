#!/usr/bin/env python3
"""Checks the packed envelope and the one-shot zlib calls against a writer
and a reader of the envelope built here on Python's zlib and struct:

- envelopes written here unpack byte for byte; envelopes the library writes
  are read back here (magics, recorded size, CRC-32 of the stream, stream);
- the 32-byte threshold and the room rule (data + a tenth) for packing;
- flipped bytes, truncations and lying size fields leave the data as it was;
- S_Compress output inflates here, S_Uncompress reads streams made here, and
  a destination one byte short fails.
"""
import os
import struct
import sys
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'support'))
from oracle import Oracle  # noqa: E402

o = Oracle('envelope_driver', 6202)
rng = o.rng


def envelope(data):
    z = zlib.compress(data)
    return b'pk' + struct.pack('<I', len(data)) + z + struct.pack('<I', zlib.crc32(z)) + b'kp'


def read_envelope(b):
    """The data of a valid envelope, else None."""
    if len(b) < 12 or b[:2] != b'pk' or b[-2:] != b'kp':
        return None
    z = b[6:-6]
    if struct.unpack('<I', b[-6:-2])[0] != zlib.crc32(z):
        return None
    size = struct.unpack('<I', b[2:6])[0]
    d = zlib.decompressobj()
    try:
        out = d.decompress(z, size + 1)
    except zlib.error:
        return None
    return out if d.eof and len(out) == size else None


def packable(data):
    return len(data) >= 32 and len(zlib.compress(data)) <= len(data) + len(data) // 10


def sample(size):
    kind = rng.randrange(4)
    if kind == 0:
        return bytes(rng.randrange(256) for _ in range(size))
    if kind == 1:
        return bytes(rng.choice(b'ab') for _ in range(size))
    if kind == 2:
        return bytes(size)
    words = [bytes(rng.choice(b'abcdefghij') for _ in range(rng.randint(1, 8))) for _ in range(20)]
    out = b''
    while len(out) < size:
        out += rng.choice(words) + b' '
    return out[:size]


def ask(question, judge):
    """judge(ok, data) of the answer's result and bytes."""
    def read(answer):
        flag, _, data = answer.partition(' ')
        return judge(flag == '1', b'' if data == '-' else bytes.fromhex(data))
    o.ask(question, read)


def hx(b):
    return b.hex() or '-'


def expect(ok, data):
    return '%d %s' % (ok, hx(data))


def check_python_to_library():
    for size in [32, 33, 100, 1000, 4096, 70000] + [rng.randint(32, 20000) for _ in range(40)]:
        data = sample(size)
        o.ask(('unpack', hx(envelope(data))), expect(True, data))


def check_library_to_python():
    for size in [0, 1, 31, 32, 33, 64, 1000, 65536] + [rng.randint(0, 20000) for _ in range(40)]:
        data = sample(size)
        if packable(data):
            ask(('pack', hx(data)), lambda ok, got, data=data: ok and read_envelope(got) == data)
        else:
            o.ask(('pack', hx(data)), expect(False, data))
    o.ask(('pack', hx(bytes(31))), expect(False, bytes(31)))  # too short to be packed
    ask(('pack', hx(bytes(32))), lambda ok, got: ok and read_envelope(got) == bytes(32))


def damaged(env):
    """(description, bytes) variants of a valid envelope that must be refused."""
    z_end = len(env) - 6
    out = []
    for _ in range(6):
        at = rng.randrange(6, z_end)
        out.append(('flip stream byte %d' % at, env[:at] + bytes([env[at] ^ (1 << rng.randrange(8))]) + env[at + 1:]))
    out += [('flip byte %d' % at, env[:at] + bytes([env[at] ^ 0x20]) + env[at + 1:])
            for at in (0, 1, z_end, z_end + 3, len(env) - 1)]
    out += [('cut %d bytes' % cut, env[:-cut]) for cut in (1, 2, 6, len(env) - 11, len(env) - 1)]
    size = struct.unpack('<I', env[2:6])[0]
    return out + [('size field %d' % lie, env[:2] + struct.pack('<I', lie & 0xFFFFFFFF) + env[6:])
                  for lie in (0, size - 1, size + 1, size * 2, 0x7FFFFFFF, 0xFFFFFFFF)]


def check_damage():
    for size in (40, 300, 5000):
        env = envelope(sample(size))
        for what, bad in damaged(env):
            o.check(read_envelope(bad) is None, 'model accepts ' + what)
            o.ask(('unpack', hx(bad)), expect(False, bad), '%d-byte data, %s' % (size, what))
    for raw in (b'', b'pk', b'pk' + bytes(8) + b'kp', sample(100), b'pk' + sample(50) + b'kp'):
        o.ask(('unpack', hx(raw)), expect(False, raw))
    o.ask(('unpack', hx(envelope(b''))), expect(True, b''))
    o.ask(('zipped', hx(b'pk' + bytes(8) + b'kp')), '1 -')  # the magics make an envelope look
    o.ask(('zipped', hx(b'pk' + bytes(7) + b'kp')), '0 -')  # 11 bytes are too short


def check_one_shot():
    for size in [0, 1, 100, 5000, 65537] + [rng.randint(0, 30000) for _ in range(12)]:
        data = sample(size)
        for level in (-1, 0, 1, 9):
            z = zlib.compress(data, level)
            ask(('compress', level, len(z) + 64, hx(data)),
                lambda ok, got, data=data: ok and zlib.decompress(got) == data)
            if level != 0:  # stored blocks follow the output buffer's size: no fixed expected stream
                o.ask(('compress', level, len(z), hx(data)), expect(True, z))
                o.ask(('compress', level, len(z) - 1, hx(data)), expect(False, b''))
        z = zlib.compress(data)
        o.ask(('uncompress', size, hx(z)), expect(True, data))
        if size:
            o.ask(('uncompress', size - 1, hx(z)), expect(False, b''))  # one byte short
            o.ask(('uncompress', size, hx(z[:-1])), expect(False, b''))  # a cut stream
        raw = zlib.compressobj(6, zlib.DEFLATED, -15)  # without the zlib header
        o.ask(('uncompress', size + 10, hx(raw.compress(data) + raw.flush())), expect(False, b''))


for part in (check_python_to_library, check_library_to_python, check_damage, check_one_shot):
    part()
o.run()
o.finish()
