#!/usr/bin/env python3
"""Checks string-list resources against a model written here with struct:

- golden bytes: a small group file compiled by the build's converter
  (compile_messages.py --strlist-dir) equals, byte for byte, the cells and
  the direct index that the model lays out; its packed form unpacks (zlib)
  to the same bytes;
- random group files (holes, message 0, empty texts, symbols, escapes,
  cp1252 letters) compile to lists that the library reads as the model says:
  every index entry, "defined" and the symbolic names;
- damaged lists (lying counts, offsets outside the index or past its last
  NUL, truncated runs, duplicate cells) are read as the model of the reader
  says, never past their bytes."""
import os
import struct
import subprocess
import sys
import tempfile
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'support'))
from cell_format import read_cells  # noqa: E402
from oracle import ROOT, Oracle  # noqa: E402

COMPILER = os.path.join(ROOT, 'resources', 'messages', 'compile_messages.py')
UNDEFINED = '<ind\u00e9fini>'.encode('cp1252')  # the kernel's text for numbers without a message
o = Oracle('strlist_driver', 6203)
rng, check = o.rng, o.check


# ------------------------------------------------------------------ writer model

def text_cell(kind, line, col, text):
    return [] if not text else [(kind, line, col, text + b'\0')]


def long_cell(kind, line, col, value):
    return [] if not value else [(kind, line, col, struct.pack('<i', value))]


def index_data(messages):
    """count, offsets, then the undefined text and every text in number order."""
    numbers = sorted(n for n in messages if n >= 1)
    count = numbers[-1] if numbers else 0
    data = bytearray(4 + 4 * count)
    struct.pack_into('<I', data, 0, count)
    undefined_at = len(data)
    data += UNDEFINED + b'\0'
    for n in range(1, count + 1):
        struct.pack_into('<I', data, 4 * n, undefined_at)
    for n in numbers:
        struct.pack_into('<I', data, 4 * n, len(data))
        data += messages[n][0] + b'\0'
    return bytes(data)


def model_list(group, category, description, messages):
    cells = long_cell(1, 1, 1, group) + text_cell(1, 2, 1, category) + text_cell(1, 3, 1, description)
    for n in sorted(messages):
        text, symbol = messages[n]
        cells += long_cell(2, n, 0, 1) + text_cell(2, n, 1, text) + text_cell(2, n, 3, symbol)
    cells.append((0, 0, 0, index_data(messages)))
    return b''.join(struct.pack('<iiiI', k, l, c, len(d)) + d for k, l, c, d in cells)


def unpack_envelope(b):
    assert b[:2] == b'pk' and b[-2:] == b'kp', 'not an envelope'
    z = b[6:-6]
    assert struct.unpack('<I', b[-6:-2])[0] == zlib.crc32(z), 'bad CRC'
    data = zlib.decompress(z)
    assert len(data) == struct.unpack('<I', b[2:6])[0], 'bad size'
    return data


# ------------------------------------------------------------------ reader model

def read_model(raw):
    """(ok, count, group, {id: (text or None, defined, symbol)}) as the library reads."""
    cells = read_cells(raw)[0]
    first = {(k, l, c): d for k, l, c, d in reversed(cells)}  # the first cell at a place wins
    group_cell = first.get((1, 1, 1))
    group = struct.unpack('<i', group_cell[:4])[0] if group_cell and len(group_cell) >= 4 else 0
    index = first.get((0, 0, 0))
    count = struct.unpack('<I', index[:4])[0] if index and len(index) >= 4 else None
    if count is None or count > (len(index) - 4) // 4:
        return False, 0, group, {0: (None, False, b''), 1: (None, False, b'')}
    last_nul = index.rfind(b'\0')
    entries = {}
    for i in range(count + 2):
        text = None
        if 1 <= i <= count:
            off = struct.unpack_from('<I', index, 4 * i)[0]
            if off < len(index) and off <= last_nul:
                text = index[off:index.index(b'\0', off)]
        defined = 1 <= i <= count and any(k == 2 and l == i for k, l, c, d in cells)
        sym = first.get((2, i, 3)) if 1 <= i <= count else None
        symbol = sym[:sym.index(b'\0')] if sym and b'\0' in sym else b''
        entries[i] = (text, defined, symbol)
    return True, count, group, entries


def expected_from_messages(group, messages):
    count = max([n for n in messages if n >= 1], default=0)
    entries = {i: (None, False, b'') for i in (0, count + 1)}
    for i in range(1, count + 1):
        text, symbol = messages.get(i, (UNDEFINED, b''))
        entries[i] = (text, i in messages, symbol)
    return True, count, group, entries


# ------------------------------------------------------------------ group files

def escape(text):
    return text.replace('\\', '\\\\').replace('"', '\\"').replace('\n', '\\n').replace('\t', '\\t').replace('\r', '\\r')


def write_group(directory, group, category, comment, messages):
    """messages: {n: (str text, str symbol)}; returns the cp1252 form."""
    name = 'group%03d%s.txt' % (group, '_' + category if category else '')
    lines = ['# ' + comment] if comment else []
    for n in sorted(messages):
        text, symbol = messages[n]
        lines.append('%d %s"%s"' % (n, symbol + ' ' if symbol else '', escape(text)))
    with open(os.path.join(directory, name), 'w', encoding='utf-8') as f:
        f.write('\n'.join(lines) + '\n')
    return {n: (t.encode('cp1252'), s.encode('ascii')) for n, (t, s) in messages.items()}


def compile_dir(module_dir, out_dir, raw):
    subprocess.run([sys.executable, COMPILER, '--strlist-dir', out_dir, module_dir] + (['--raw'] if raw else []),
                   check=True)


def random_text():
    letters = 'abc XYZ 019 \u00e9\u00e8\u00e0\u00e7\u20ac\u0153 "\\\n\t^0s:'
    return ''.join(rng.choice(letters) for _ in range(rng.choice((0, 1, 3, 10, 40))))


def random_messages():
    top = rng.choice((1, 2, 5, 30, 300))
    numbers = rng.sample(range(0, top + 1), rng.randint(1, top + 1))
    return {n: (random_text(), rng.choice(('', '', 'Sym%d' % n, 'a_B9'))) for n in numbers}


# ------------------------------------------------------------------ checks

def check_golden(tmp):
    module = os.path.join(tmp, 'golden', 'module7')
    os.makedirs(module)
    messages = write_group(module, 5, 'things', 'Things to say.',
                           {1: ('Bonjour', 'Hello'), 3: ('\u00e0 bient\u00f4t\n', ''), 4: ('', 'Empty')})
    for raw in (True, False):
        out = os.path.join(tmp, 'golden', 'raw' if raw else 'packed')
        compile_dir(module, out, raw)
        got = open(os.path.join(out, '5.StrList'), 'rb').read()
        if not raw:
            got = unpack_envelope(got)
        want = model_list(5, b'things', b'Things to say.', messages)
        check(got == want, 'golden list (%s): %r\n  want %r' % ('raw' if raw else 'packed', got, want))
    # The layout written out by hand: the index of that list.
    index = (struct.pack('<5I', 4, 31, 20, 39, 50) + UNDEFINED + b'\0' + b'Bonjour\0' + '\u00e0 bient\u00f4t\n'.encode('cp1252')
             + b'\0' + b'\0')
    check(index_data(messages) == index, 'hand-written index')


def answer(ok, count, group, entries):
    """The driver's answer line for what a model reads."""
    items = [' %s:%d:%s' % ('~' if t is None else t.hex() or '-', d, s.hex() or '-') for _, (t, d, s) in sorted(entries.items())]
    return '%d %d %d' % (ok, count, group) + ''.join(items)


def check_random_lists(tmp):
    for round_ in range(40):
        module = os.path.join(tmp, 'random%d' % round_, 'module9')
        os.makedirs(module)
        group = rng.randint(1, 999)
        messages = write_group(module, group, rng.choice(('', 'cat')), rng.choice(('', 'About it')), random_messages())
        out = os.path.join(tmp, 'random%d' % round_, 'out')
        compile_dir(module, out, rng.random() < 0.5)
        data = open(os.path.join(out, '%d.StrList' % group), 'rb').read()
        o.ask(('list', data.hex() or '-'), answer(*expected_from_messages(group, messages)), 'random list %d' % round_)
        raw = unpack_envelope(data) if data[:2] == b'pk' else data
        check(read_model(raw) == expected_from_messages(group, messages), 'reader model on random list %d' % round_)
        for what, bad in damaged(raw):
            o.ask(('list', bad.hex() or '-'), answer(*read_model(bad)), 'random list %d, %s' % (round_, what))


def damaged(raw):
    cells = read_cells(raw)[0]
    out = []
    at = raw.rfind(struct.pack('<iii', 0, 0, 0))
    if at >= 0:
        data_at = at + 16
        count = struct.unpack_from('<I', raw, data_at)[0]
        for lie in (count + 1, count * 3 + 7, 0xFFFFFFFF, 0):
            out.append(('count %d' % lie, raw[:data_at] + struct.pack('<I', lie) + raw[data_at + 4:]))
        size = struct.unpack_from('<I', raw, at + 12)[0]
        for _ in range(3):
            if count:
                i = rng.randint(1, count)
                off = rng.choice((size, size - 1, size + 100, 0xFFFFFFFF, rng.randrange(size), 4 * count + 5))
                out.append(('offset %d -> %d' % (i, off),
                            raw[:data_at + 4 * i] + struct.pack('<I', off & 0xFFFFFFFF) + raw[data_at + 4 * i + 4:]))
        out.append(('index without final NUL', raw[:data_at + size - 1] + b'x'))  # the last text loses its NUL
    out.append(('cut', raw[:rng.randrange(len(raw) + 1)]))
    if cells:
        out.append(('empty index first', struct.pack('<iiiI', 0, 0, 0, 4) + struct.pack('<I', 0) + raw))
        out.append(('symbol shadowed', struct.pack('<iiiI', 2, 1, 3, 2) + b'Z\0' + raw))
        out.append(('message text first', struct.pack('<iiiI', 2, 1, 1, 4) + b'Zz\0\0' + raw))
    out.append(('garbage', bytes(rng.randrange(256) for _ in range(rng.randint(0, 64)))))
    return out


with tempfile.TemporaryDirectory() as tmp:
    check_golden(tmp)
    check_random_lists(tmp)
o.run()
o.finish()
