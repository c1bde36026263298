#!/usr/bin/env python3
"""Checks the message catalogue and the error texts against the UTF-8 data
files, read here with a parser of their own (not the build's converter):

- every entry of every file loads byte for byte (cp1252), its symbolic name
  too; numbers next to the entries load as the list's "undefined" text
  inside the list's range and as empty texts past it or at 0;
- keyed look-ups find each "<key>:<text>" entry of the keyed lists;
- the text of every error code follows the family rules (library, special,
  operating system with the pattern (1, 104, 108), other modules, fallbacks);
- message references against a model of their grammar, on random texts;
- every Windows number of the errno table has a system text;
- the build's converter refuses malformed data files.

The catalogue is read through the library's string-list resources; their
byte layout has an oracle of its own (strlist_oracle.py)."""
import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'support'))
from oracle import ROOT, Oracle, catalogue, unescape  # noqa: E402

MESSAGES = os.path.join(ROOT, 'resources', 'messages')
SYSTEM_GROUP = 990
o = Oracle('messages_driver', 1234)


def ask(question, expected):
    o.ask(question, expected.hex() or '-')


UNDEFINED = (1, 100, 16)


def text(entries, m, g, n):
    return entries.get((m, g, n), (b'', ''))[0]


def loaded(entries, m, g, n):
    """What ZorLoadString gives: the entry, the undefined text for a hole in
    1..highest number, else nothing (number 0 has no place in the index)."""
    highest = max((k[2] for k in entries if k[:2] == (m, g)), default=0)
    if n < 1 or n > highest:
        return b''
    return entries[(m, g, n)][0] if (m, g, n) in entries else entries[UNDEFINED][0]


def error_text(entries, family, number):
    """The text of a code, by the family rules."""
    if number == 0:
        result = text(entries, 1, 104, 261)
    elif family == -1:
        system = text(entries, 1, SYSTEM_GROUP, number) or text(entries, 1, 2, 13)
        result = text(entries, 1, 104, 108).replace(b'^0s', system).replace(b'^1x', b'0x%08X' % number)
    elif family == 1 and number >= 1000:
        result = text(entries, 1, 103, number - 999)
    else:
        result = text(entries, family, 2, number)
    return result or text(entries, 1, 2, 15)


def ref_model(t):
    m = re.fullmatch(r'\]([0-9]+),([0-9]+),([0-9]+)', t)
    if not m or any(int(x) == 0 or int(x) > 0x7FFFFFFF for x in m.groups()):
        return None
    return tuple(int(x) for x in m.groups())


def check_catalogue(entries):
    for (m, g, n), (data, symbol) in sorted(entries.items()):
        ask(('load', m, g, n), loaded(entries, m, g, n))
        ask(('cst', m, g, n), symbol.encode() if n else b'')
        for gap in (n - 1, n + 1):
            if (m, g, gap) not in entries:
                ask(('load', m, g, gap), loaded(entries, m, g, gap))
        key = re.match(rb'(-?\d+):', data)
        if key:
            ask(('index', m, g, key.group(1).decode()), keyed(entries, m, g, int(key.group(1))))
    ask(('index', 1, 117, 20), b'')  # an absent key
    ask(('index', 1, 2, 1), keyed(entries, 1, 2, 1))  # a list without keys
    ask(('load', 1, 2, 1000000), b'')  # past the end
    ask(('load', 424242, 2, 1), b'')  # a module without a catalogue


def keyed(entries, m, g, key):
    place = 1
    while place <= 1000 and text(entries, m, g, place):
        t = text(entries, m, g, place)
        k = re.match(rb'(-?\d+):', t)
        if k and int(k.group(1)) == key:
            return t[k.end():]
        place += 1
    return b''


def check_error_texts(entries):
    system_numbers = [n for (m, g, n) in entries if (m, g) == (1, SYSTEM_GROUP)]
    cases = [(1, n) for n in range(0, 131)] + [(1, n) for n in range(999, 1010)] + [(1, 0xFFFFFFFF)]
    cases += [(-1, n) for n in system_numbers + [0, 7, 9999, 0x80004005]]
    cases += [(7, 0), (7, 1), (-2, 5)]
    for family, number in cases:
        ask(('err', family, number), error_text(entries, family, number))


def check_references(entries):
    rng = o.rng
    samples = [']1,104,339', ']0,104,339', ']1,104', ']1,0,5', ']1,104,339x', ' ]1,104,339', ']01,0104,0339',
               ']1,2,2147483647', ']1,2,2147483648', ']1,235,0', ']1,235,8', ']', '', 'plain text', ']1,,3', ']-1,2,3']
    numbers = ['0', '1', '2', '00', '01', '104', '235', '339', '2147483647', '4294967297', '', '-3']
    for _ in range(3000):
        if rng.random() < 0.5:
            samples.append(''.join(rng.choice(']]0123456789,,,-x') for _ in range(rng.randint(0, 14))))
        else:
            parts = [rng.choice(numbers) for _ in range(rng.choice((2, 3, 3, 3, 4)))]
            samples.append(']' + ','.join(parts) + rng.choice(('', '', '', ' ', 'x')))
    for t in samples:
        parsed = ref_model(t)
        expected = loaded(entries, *parsed) if parsed else t.encode()
        ask(('ref', t.encode().hex() or '-'), expected)


def check_errno_table(entries):
    source = open(os.path.join(ROOT, 'platform', 'os_error.cpp')).read()
    numbers = {int(n) for n in re.findall(r'\{E[A-Z0-9]+, (\d+)\}', source)}
    o.check(len(numbers) > 20, 'errno table not found in os_error.cpp')
    numbers |= {int(n) for n in re.findall(r'kWinErr\w+ = (\d+)', open(os.path.join(ROOT, 'platform', 'os_error.h')).read())}
    for n in sorted(numbers):
        o.check(text(entries, 1, SYSTEM_GROUP, n), 'Windows error %d has no system text' % n)


def check_converter():
    script = os.path.join(MESSAGES, 'compile_messages.py')
    cases = {
        'good': ('1 Sym "a \\"b\\" \u00e9"\n# comment\n\n2 "x"\n', True),
        'no quotes': ('1 text without quotes\n', False),
        'bad escape': ('1 "a \\q"\n', False),
        'not cp1252': ('1 "\u4e00"\n', False),
        'twice': ('1 "a"\n1 "b"\n', False),
        'bad symbol': ('1 9sym "a"\n', False),
    }
    for name, (content, ok) in cases.items():
        with tempfile.TemporaryDirectory() as tmp:
            os.makedirs(os.path.join(tmp, 'module3'))
            with open(os.path.join(tmp, 'module3', 'group7_test.txt'), 'w', encoding='utf-8') as f:
                f.write(content)
            out = os.path.join(tmp, 'out')
            result = subprocess.run([sys.executable, script, '--strlist-dir', out, os.path.join(tmp, 'module3'),
                                     '--raw'], capture_output=True, text=True)
            o.check((result.returncode == 0) == ok, 'converter on %s: exit %d' % (name, result.returncode))
            if ok and result.returncode == 0:
                generated = open(os.path.join(out, '7.StrList'), 'rb').read()
                o.check(b'a "b" \xe9\0' in generated and b'Sym\0' in generated, 'converter output: %r' % generated)


def main():
    entries = {k: (unescape(t).encode('cp1252'), sym) for k, (t, sym) in catalogue().items()}
    check_catalogue(entries)
    check_error_texts(entries)
    check_references(entries)
    o.run()
    check_errno_table(entries)
    check_converter()
    o.finish()


if __name__ == '__main__':
    main()
