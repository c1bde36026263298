#!/usr/bin/env python3
"""Checks the packed envelope and the one-shot zlib calls against a writer
and a reader of the envelope built here on Python's zlib and struct:

- envelopes written here unpack byte for byte; envelopes the library writes
  are read back here (magics, recorded size, CRC-32 of the stream, stream);
- the 32-byte threshold and the room rule (data + a tenth) for packing;
- flipped bytes, truncations and lying size fields leave the data as it was;
- S_Compress output inflates here, S_Uncompress reads streams made here, and
  a destination one byte short fails.

Usage: envelope_oracle.py <drivers-dir>"""
import os
import random
import struct
import subprocess
import sys
import zlib

rng = random.Random(6202)
failures = []


def check(cond, what):
    if not cond:
        failures.append(what)


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


class Driver:
    def __init__(self, path):
        self.path, self.questions, self.checks = path, [], []

    def ask(self, question, judge, what):
        self.questions.append(question)
        self.checks.append((judge, what))

    def run(self):
        out = subprocess.run([self.path], input='\n'.join(self.questions) + '\n', capture_output=True, text=True,
                             check=True).stdout.split('\n')
        for i, (judge, what) in enumerate(self.checks):
            line = out[i] if i < len(out) else ''
            flag, _, hexdata = line.partition(' ')
            try:
                data = b'' if hexdata == '-' else bytes.fromhex(hexdata)
            except ValueError:
                check(False, '%s: answer %r' % (what, line[:80]))
                continue
            check(judge(flag == '1', data), '%s: got %s %r' % (what, flag, data[:40]))


def hx(b):
    return b.hex() or '-'


def expect(ok, data):
    return lambda got_ok, got: got_ok == ok and got == data


def check_python_to_library(d):
    for size in [32, 33, 100, 1000, 4096, 70000] + [rng.randint(32, 20000) for _ in range(40)]:
        data = sample(size)
        d.ask('unpack ' + hx(envelope(data)), expect(True, data), 'unpack a %d-byte envelope made here' % size)


def check_library_to_python(d):
    sizes = [0, 1, 31, 32, 33, 64, 1000, 65536] + [rng.randint(0, 20000) for _ in range(40)]
    for size in sizes:
        data = sample(size)
        if packable(data):
            d.ask('pack ' + hx(data), lambda ok, got, data=data: ok and read_envelope(got) == data,
                  'pack %d bytes, read here' % size)
        else:
            d.ask('pack ' + hx(data), expect(False, data), 'pack %d bytes left alone' % size)
    d.ask('pack ' + hx(bytes(31)), expect(False, bytes(31)), '31 zero bytes are not packed')
    d.ask('pack ' + hx(bytes(32)), lambda ok, got: ok and read_envelope(got) == bytes(32), '32 zero bytes are packed')


def damaged(env):
    """(description, bytes) variants of a valid envelope that must be refused."""
    z_end = len(env) - 6
    out = []
    for _ in range(6):
        at = rng.randrange(6, z_end)
        out.append(('flip stream byte %d' % at, env[:at] + bytes([env[at] ^ (1 << rng.randrange(8))]) + env[at + 1:]))
    for at in (0, 1, z_end, z_end + 3, len(env) - 1):
        out.append(('flip byte %d' % at, env[:at] + bytes([env[at] ^ 0x20]) + env[at + 1:]))
    for cut in (1, 2, 6, len(env) - 11, len(env) - 1):
        out.append(('cut %d bytes' % cut, env[:-cut]))
    size = struct.unpack('<I', env[2:6])[0]
    for lie in (0, size - 1, size + 1, size * 2, 0x7FFFFFFF, 0xFFFFFFFF):
        out.append(('size field %d' % lie, env[:2] + struct.pack('<I', lie & 0xFFFFFFFF) + env[6:]))
    return out


def check_damage(d):
    for size in (40, 300, 5000):
        env = envelope(sample(size))
        for what, bad in damaged(env):
            check(read_envelope(bad) is None, 'model accepts ' + what)
            d.ask('unpack ' + hx(bad), expect(False, bad), '%d-byte data, %s' % (size, what))
    for raw in (b'', b'pk', b'pk' + bytes(8) + b'kp', sample(100), b'pk' + sample(50) + b'kp'):
        d.ask('unpack ' + hx(raw), expect(False, raw), 'unpack of %r' % raw[:12])
    empty = b'pk' + struct.pack('<I', 0) + zlib.compress(b'') + struct.pack('<I', zlib.crc32(zlib.compress(b''))) + b'kp'
    d.ask('unpack ' + hx(empty), expect(True, b''), 'an envelope of nothing')
    d.ask('zipped ' + hx(b'pk' + bytes(8) + b'kp'), lambda ok, got: ok, 'magics make an envelope look')
    d.ask('zipped ' + hx(b'pk' + bytes(7) + b'kp'), lambda ok, got: not ok, '11 bytes are too short')


def check_one_shot(d):
    for size in [0, 1, 100, 5000, 65537] + [rng.randint(0, 30000) for _ in range(12)]:
        data = sample(size)
        for level in (-1, 0, 1, 9):
            room = len(zlib.compress(data, level)) + 64
            d.ask('compress %d %d %s' % (level, room, hx(data)),
                  lambda ok, got, data=data: ok and zlib.decompress(got) == data,
                  'compress %d bytes at level %d' % (size, level))
            if level == 0:
                continue  # stored blocks follow the output buffer's size: no fixed expected stream
            exact = len(zlib.compress(data, level))
            d.ask('compress %d %d %s' % (level, exact, hx(data)),
                  expect(True, zlib.compress(data, level)), 'compress %d bytes, level %d, exact room' % (size, level))
            d.ask('compress %d %d %s' % (level, exact - 1, hx(data)), expect(False, b''),
                  'compress %d bytes, level %d, one byte short' % (size, level))
        z = zlib.compress(data)
        d.ask('uncompress %d %s' % (size, hx(z)), expect(True, data), 'uncompress %d bytes' % size)
        if size:
            d.ask('uncompress %d %s' % (size - 1, hx(z)), expect(False, b''), 'uncompress one byte short')
            d.ask('uncompress %d %s' % (size, hx(z[:-1])), expect(False, b''), 'uncompress a cut stream')
        raw = zlib.compressobj(6, zlib.DEFLATED, -15)
        d.ask('uncompress %d %s' % (size + 10, hx(raw.compress(data) + raw.flush())), expect(False, b''),
              'a stream without the zlib header')


def main():
    d = Driver(os.path.join(sys.argv[1], 'envelope_driver'))
    check_python_to_library(d)
    check_library_to_python(d)
    check_damage(d)
    check_one_shot(d)
    d.run()
    for f in failures[:30]:
        print('FAIL', f)
    print('%d checks, %d failures' % (len(d.questions), len(failures)))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
