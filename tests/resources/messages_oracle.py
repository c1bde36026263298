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
byte layout has an oracle of its own (strlist_oracle.py).

Usage: messages_oracle.py <drivers-dir>"""
import os
import random
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, '..', '..'))
MESSAGES = os.path.join(ROOT, 'resources', 'messages')
SYSTEM_GROUP = 990
failures = []


def check(cond, what):
    if not cond:
        failures.append(what)


def read_catalogue():
    """{(module, group, number): (text bytes, symbol)} from the data files."""
    entries = {}
    for mod_dir in os.listdir(MESSAGES):
        if not mod_dir.startswith('module'):
            continue
        module = int(mod_dir[6:])
        for name in os.listdir(os.path.join(MESSAGES, mod_dir)):
            m = re.match(r'group(\d+)', name)
            if not m or not name.endswith('.txt'):
                continue
            with open(os.path.join(MESSAGES, mod_dir, name), encoding='utf-8') as f:
                for raw in f:
                    line = raw.strip()
                    if not line or line.startswith('#'):
                        continue
                    head, _, rest = line.partition('"')
                    fields = head.split()
                    text = rest[:-1].replace('\\\\', '\0').replace('\\"', '"').replace('\\n', '\n') \
                        .replace('\\t', '\t').replace('\\r', '\r').replace('\0', '\\')
                    symbol = fields[1] if len(fields) > 1 else ''
                    entries[(module, int(m.group(1)), int(fields[0]))] = (text.encode('cp1252'), symbol)
    return entries


class Driver:
    def __init__(self):
        self.questions, self.expected = [], []

    def ask(self, question, expected, what):
        self.questions.append(question)
        self.expected.append((expected, what))

    def run(self, path):
        out = subprocess.run([path], input='\n'.join(self.questions) + '\n', capture_output=True,
                             text=True, check=True).stdout.split('\n')
        for i, (expected, what) in enumerate(self.expected):
            got = out[i] if i < len(out) else '<missing>'
            got = b'' if got == '-' else bytes.fromhex(got) if got != '<missing>' else None
            check(got == expected, '%s: expected %r, got %r' % (what, expected, got))


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


def check_catalogue(d, entries):
    for (m, g, n), (data, symbol) in sorted(entries.items()):
        d.ask('load %d %d %d' % (m, g, n), loaded(entries, m, g, n), 'load %d,%d,%d' % (m, g, n))
        d.ask('cst %d %d %d' % (m, g, n), symbol.encode() if n else b'', 'symbol %d,%d,%d' % (m, g, n))
        for gap in (n - 1, n + 1):
            if (m, g, gap) not in entries:
                d.ask('load %d %d %d' % (m, g, gap), loaded(entries, m, g, gap), 'missing %d,%d,%d' % (m, g, gap))
        key = re.match(rb'(-?\d+):', data)
        if key:
            d.ask('index %d %d %s' % (m, g, key.group(1).decode()), keyed(entries, m, g, int(key.group(1))),
                  'keyed %d,%d key %s' % (m, g, key.group(1).decode()))
    d.ask('index 1 117 20', b'', 'absent key')
    d.ask('load 1 2 1000000', b'', 'past the end')


def keyed(entries, m, g, key):
    place = 1
    while place <= 1000 and text(entries, m, g, place):
        t = text(entries, m, g, place)
        k = re.match(rb'(-?\d+):', t)
        if k and int(k.group(1)) == key:
            return t[k.end():]
        place += 1
    return b''


def check_error_texts(d, entries):
    system_numbers = [n for (m, g, n) in entries if (m, g) == (1, SYSTEM_GROUP)]
    cases = [(1, n) for n in range(0, 131)] + [(1, n) for n in range(999, 1010)] + [(1, 0xFFFFFFFF)]
    cases += [(-1, n) for n in system_numbers + [0, 7, 9999, 0x80004005]]
    cases += [(7, 0), (7, 1), (-2, 5)]
    for family, number in cases:
        d.ask('err %d %d' % (family, number), error_text(entries, family, number),
              'error text (%d, %d)' % (family, number))


def check_references(d, entries):
    rng = random.Random(1234)
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
        d.ask('ref %s' % (t.encode().hex() or '00'), expected, 'reference %r' % t)


def check_errno_table(entries):
    with open(os.path.join(ROOT, 'platform', 'os_error.cpp')) as f:
        source = f.read()
    numbers = {int(n) for n in re.findall(r'\{E[A-Z0-9]+, (\d+)\}', source)}
    check(len(numbers) > 20, 'errno table not found in os_error.cpp')
    numbers |= {int(n) for n in re.findall(r'kWinErr\w+ = (\d+)', open(os.path.join(ROOT, 'platform', 'os_error.h')).read())}
    for n in sorted(numbers):
        check(text(entries, 1, SYSTEM_GROUP, n), 'Windows error %d has no system text' % n)


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
            check((result.returncode == 0) == ok, 'converter on %s: exit %d' % (name, result.returncode))
            if ok and result.returncode == 0:
                generated = open(os.path.join(out, '7.StrList'), 'rb').read()
                check(b'a "b" \xe9\0' in generated and b'Sym\0' in generated, 'converter output: %r' % generated)


def main():
    driver = os.path.join(sys.argv[1], 'messages_driver')
    entries = read_catalogue()
    d = Driver()
    check_catalogue(d, entries)
    check_error_texts(d, entries)
    check_references(d, entries)
    d.run(driver)
    check_errno_table(entries)
    check_converter()
    for f in failures[:30]:
        print('FAIL', f)
    print('%d checks, %d failures' % (len(d.questions), len(failures)))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
