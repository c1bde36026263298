#!/usr/bin/env python3
"""Converts the message catalogue from UTF-8 text files to string-list
resources of cp1252 texts.

Layout: resources/messages/module<M>/group<G>[_<anything>].txt holds the
string list G of module M. Each non-blank line that does not start with "#"
is one entry:

    <number> [<symbol>] "<text>"

The text is between double quotes; inside it \\" is a quote, \\\\ a backslash,
\\n a line feed, \\t a TAB and \\r a carriage return. Any character that cp1252
cannot hold is an error, so a bad file stops the build.

Usage: compile_messages.py --strlist-dir OUTDIR MODULEDIR [--raw]

writes each group file of one module directory as a string-list resource
"<group>.StrList" in OUTDIR (and removes other .StrList files there). A
string list is a cell container (resources/cell_container.cpp: cells "<iiiI" kind, line, column, size, then
the data) holding, in this order:

    (1, 1, 1)  long: the group number
    (1, 2, 1)  text: the category (the file name's part after "group<G>_")
    (1, 3, 1)  text: the description (the file's first comment line)
    per message n, ascending:
      (2, n, 0)  long 1 (the message flags)
      (2, n, 1)  text: the message, cp1252 + NUL
      (2, n, 3)  text: its symbolic name
    (0, 0, 0)  the direct index

Empty values are not stored (an empty text, a missing symbol). The index is
a 32-bit count c (the highest message number), then c 32-bit offsets (the
entry of message i at byte 4 * i), then the text for numbers without a
message, then each message's text in number order, all NUL-terminated;
offsets count from the start of the index data. Message 0 has cells but no
place in the index. The text for numbers without a message is the kernel's
catalogue entry UNDEFINED_TEXT.

Without --raw a list of 32 bytes or more is written in the packed envelope:
"pk", the size (32 bits), the zlib stream, its CRC-32, "kp"."""
import os, re, struct, sys, zlib

LINE = re.compile(r'^(\d+)(?:\s+([A-Za-z_][A-Za-z0-9_]*))?\s+"((?:[^"\\]|\\.)*)"\s*$')
ESCAPES = {'"': '"', '\\': '\\', 'n': '\n', 't': '\t', 'r': '\r'}


def unescape(text, where):
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == '\\':
            nxt = text[i + 1] if i + 1 < len(text) else ''
            if nxt not in ESCAPES:
                sys.exit('%s: bad escape \\%s' % (where, nxt))
            out.append(ESCAPES[nxt]); i += 2
        else:
            out.append(c); i += 1
    return ''.join(out)


GROUP_FILE = re.compile(r'group(\d+)(?:_([A-Za-z0-9_]*))?\.txt')
UNDEFINED_TEXT = (100, 16)  # group and number in the kernel's catalogue (module 1)


def read_group(path):
    """({number: (text, symbol)}, first comment line) of one group file."""
    entries, description = {}, None
    with open(path, encoding='utf-8') as f:
        for lineno, line in enumerate(f, 1):
            line = line.rstrip('\n')
            if line.lstrip().startswith('#'):
                if description is None:
                    description = line.lstrip()[1:].strip()
                continue
            if not line.strip():
                continue
            where = '%s:%d' % (path, lineno)
            e = LINE.match(line)
            if not e:
                sys.exit('%s: expected <number> [<symbol>] "<text>"' % where)
            number = int(e.group(1))
            if number in entries:
                sys.exit('%s: entry %d given twice' % (where, number))
            try:
                text = unescape(e.group(3), where).encode('cp1252')
            except UnicodeEncodeError as err:
                sys.exit('%s: not representable in cp1252: %s' % (where, err))
            entries[number] = (text, (e.group(2) or '').encode('ascii'))
    return entries, description or ''


def group_files(module_dir):
    """[(group, category, path)] of a module directory, by group."""
    found = []
    for name in sorted(os.listdir(module_dir)):
        g = GROUP_FILE.fullmatch(name)
        if g:
            found.append((int(g.group(1)), g.group(2) or '', os.path.join(module_dir, name)))
    return sorted(found)


def cell(kind, line, col, data):
    return struct.pack('<iiiI', kind, line, col, len(data)) + data if data else b''


def long_cell(kind, line, col, value):
    return cell(kind, line, col, struct.pack('<i', value) if value else b'')


def direct_index(entries, undefined):
    count = max([n for n in entries if n > 0], default=0)
    offsets, texts = [], [undefined + b'\0']
    at = 4 + 4 * count + len(texts[0])
    for n in range(1, count + 1):
        if n in entries:
            offsets.append(at)
            texts.append(entries[n][0] + b'\0')
            at += len(texts[-1])
        else:
            offsets.append(4 + 4 * count)
    return struct.pack('<%dI' % (count + 1), count, *offsets) + b''.join(texts)


def string_list(group, category, description, entries, undefined):
    """The cells of one string list (layout at the top of this file)."""
    out = [long_cell(1, 1, 1, group), cell(1, 2, 1, category + b'\0' if category else b''),
           cell(1, 3, 1, description + b'\0' if description else b'')]
    for n in sorted(entries):
        text, symbol = entries[n]
        out += [long_cell(2, n, 0, 1), cell(2, n, 1, text + b'\0' if text else b''),
                cell(2, n, 3, symbol + b'\0' if symbol else b'')]
    out.append(cell(0, 0, 0, direct_index(entries, undefined)))
    return b''.join(out)


def envelope(data):
    """The packed envelope, or the data itself when shorter than 32 bytes."""
    if len(data) < 32:
        return data
    z = zlib.compress(data)
    return b'pk' + struct.pack('<I', len(data)) + z + struct.pack('<I', zlib.crc32(z)) + b'kp'


def undefined_text():
    kernel = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'module1')
    group, number = UNDEFINED_TEXT
    for g, _, path in group_files(kernel):
        if g == group:
            entry = read_group(path)[0].get(number)
            if entry:
                return entry[0]
    sys.exit('%s: no text for numbers without a message (group %d, entry %d)' % (kernel, group, number))


def write_if_changed(path, data):
    if os.path.exists(path):
        with open(path, 'rb') as f:
            if f.read() == data:
                return
    with open(path, 'wb') as f:
        f.write(data)


def write_string_lists(out_dir, module_dir, packed):
    undefined = undefined_text()
    os.makedirs(out_dir, exist_ok=True)
    wanted = set()
    for group, category, path in group_files(module_dir):
        entries, description = read_group(path)
        try:
            data = string_list(group, category.encode('cp1252'), description.encode('cp1252'), entries, undefined)
        except UnicodeEncodeError as err:
            sys.exit('%s: comment not representable in cp1252: %s' % (path, err))
        name = '%d.StrList' % group
        if name in wanted:
            sys.exit('%s: group %d given twice' % (path, group))
        wanted.add(name)
        write_if_changed(os.path.join(out_dir, name), envelope(data) if packed else data)
    for stale in set(os.listdir(out_dir)) - wanted:
        if stale.endswith('.StrList'):
            os.remove(os.path.join(out_dir, stale))


def main():
    args = sys.argv[1:]
    if args[:1] != ['--strlist-dir'] or len(args) not in (3, 4) or args[3:] not in ([], ['--raw']):
        sys.exit('usage: compile_messages.py --strlist-dir OUTDIR MODULEDIR [--raw]')
    write_string_lists(args[1], args[2], len(args) == 3)


if __name__ == '__main__':
    main()
