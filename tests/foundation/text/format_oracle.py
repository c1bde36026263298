#!/usr/bin/env python3
"""Compares the message formatter with a model built on Python's own
formatting ("%d", "%X", uuid) of the same values, on thousands of random
patterns: every integer, text, 64-bit, GUID, size and four-value type, with
and without justification and width, malformed placeholders, patterns cut in
the middle of a placeholder, and bad arguments (null, unreadable and marker
pointers, characters above 255).

The placeholder grammar, the justification rules and the error rules are
re-implemented here from the description of the format, independently of
the C++ code."""
import os
import sys
import uuid

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'support'))
from oracle import Oracle  # noqa: E402

INT_TYPES = b'iIxapbwoO'
QUAD_TYPES = b'qQXA'
TEXT_TYPES = b'sS'
GUID_TYPES = b'gG'
RECT_TYPES = b'y'
VALUE_TYPES = b'fFmMdDtThH'   # decimals and dates: not modelled here
ALL_TYPES = INT_TYPES + QUAD_TYPES + TEXT_TYPES + GUID_TYPES + RECT_TYPES + VALUE_TYPES
JUST = b'CLRZclrz'
DIGITS = b'0123456789'
UNITS = ['octet', 'octets', 'Ko', 'Mo', 'Go', 'To', 'Po']
BAD_POINTERS = ('p:low', 'p:noaccess')


def scan(pattern, at):
    """Placeholder at pattern[at] == '^': ('caret'|'ph'|'bad', length, fields)."""
    p = pattern + b'\0'
    if p[at + 1:at + 2] == b'^':
        return 'caret', 2, None
    i = at + 1

    def bad(i):
        return 'bad', (i - at) + (0 if p[i] == 0 else 1), None

    if p[i] not in DIGITS:
        return bad(i)
    index = p[i] - 48
    i += 1
    just, width = ord('l'), None
    if p[i] in JUST:
        just = p[i] | 0x20
        i += 1
        digits = b''
        while p[i] in DIGITS and len(digits) < 2:
            digits += bytes([p[i]])
            i += 1
        width = int(digits) if digits else None
    kind = p[i]
    if kind == 0 or kind not in ALL_TYPES + b'.!':
        return bad(i)
    i += 1
    if kind in b'.!':
        if p[i] == 0 or p[i] not in b'01234567':
            return bad(i)
        i += 1
    return 'ph', i - at, (index, just, width, kind)


def size_text(n):
    v = abs(n)
    unit = 1 if v <= 1 else 2
    rem = 0
    while v >= 1024:
        rem, v, unit = v % 1024, v // 1024, unit + 1
    frac = rem * 100 // 1024
    text = '%d %s' % (v, UNITS[unit - 1]) if frac == 0 else \
        '%d.%s %s' % (v, ('%02d' % frac).rstrip('0'), UNITS[unit - 1])
    return ('-' if n < 0 else '') + text


def render(kind, arg):
    """The text of one placeholder, or None for a bad argument."""
    tag, value = arg
    if tag in BAD_POINTERS:
        return None
    if kind in INT_TYPES:
        u = value & 0xFFFFFFFF
        s = u - (1 << 32) if u & 0x80000000 else u
        if kind == ord('w'):
            return None if u > 255 else bytes([max(u, 32)])
        return {'i': b'%d' % s, 'I': b'%d' % s, 'x': b'0x%08X' % u, 'a': b'%08X' % u, 'p': b'%X' % u,
                'b': b'%02x' % (u & 0xFF), 'o': size_text(s).encode(),
                'O': size_text(s).encode() + b' [%d]' % s}[chr(kind)]
    if kind in QUAD_TYPES:
        return b'%d' % value if kind in b'qQ' else \
            (b'0x' if kind == ord('X') else b'') + b'%X' % (value & 0xFFFFFFFFFFFFFFFF)
    if kind in TEXT_TYPES:
        return None if tag in ('s:null', 's:bug') else value
    if kind in GUID_TYPES:
        text = str(uuid.UUID(bytes_le=value)).upper().encode()
        return b'{' + text + b'}' if kind == ord('g') else text
    if tag == 'y:null':
        return b'{NULL}'
    return b'(%s)' % b','.join(b'%d' % v for v in value)


def justify(text, just, width, kind):
    if width is None:
        return text
    if len(text) > width:
        if kind in TEXT_TYPES:
            return (text[:max(width - 3, 0)] + b'...')[:width]
        return b'#' * width
    pad = width - len(text)
    left = {ord('r'): pad, ord('z'): pad, ord('c'): pad // 2}.get(just, 0)
    return (b'0' if just == ord('z') else b' ') * left + text + b' ' * (pad - left)


def model(pattern, args):
    """Expected (result, number of debug messages), or None when the pattern
    uses a type this model does not cover."""
    out, debug, at = b'', 0, 0
    while True:
        caret = pattern.find(b'^', at)
        if caret < 0:
            return out + pattern[at:], debug
        out += pattern[at:caret]
        what, length, fields = scan(pattern, caret)
        if what == 'caret':
            out += b'^'
        elif what == 'bad' or fields[0] >= len(args):  # malformed, or past the arguments given: kept as written
            debug += 1
            out += pattern[caret:caret + length]
        else:
            index, just, width, kind = fields
            if kind in VALUE_TYPES + b'.!' or kind not in types_for(args[index]):
                return None
            text = render(kind, args[index])
            if text is None:
                return out + pattern[caret:], debug + 1
            out += justify(text, just, width, kind)
        at = caret + length


# ---------------------------------------------------------------- random cases

def random_int(rng):
    return rng.choice([
        rng.randint(-9, 9), rng.randint(0, 300), rng.randint(-2**31, 2**31 - 1),
        rng.randint(0, 1 << 20), rng.choice([0, 1, 1023, 1024, 1025, 1535, 1536, 2**31 - 1, -2**31]),
        rng.randint(1024, 1 << 30)])


def random_text(rng):
    alphabet = bytes(range(1, 256))
    n = rng.choice([0, 1, 2, 3, 5, 8, 20, 60])
    return bytes(rng.choice(alphabet) for _ in range(rng.randint(0, n)))


def random_arg(rng):
    r = rng.random()
    if r < 0.35:
        return ('n', random_int(rng))
    if r < 0.5:
        return ('q', rng.choice([rng.randint(-2**63, 2**63 - 1), rng.randint(-999, 999)]))
    if r < 0.75:
        return ('s', random_text(rng))
    if r < 0.85:
        return ('g', bytes(rng.randrange(256) for _ in range(16)))
    if r < 0.93:
        return ('y', [rng.randint(-2**31, 2**31 - 1) for _ in range(4)])
    return (rng.choice(['s:null', 's:bug', 'y:null', 'p:low', 'p:noaccess']), None)


TYPES_OF = {'n': INT_TYPES, 'q': QUAD_TYPES, 's': TEXT_TYPES, 's:null': TEXT_TYPES, 's:bug': TEXT_TYPES,
            'g': GUID_TYPES, 'y': RECT_TYPES, 'y:null': RECT_TYPES}


def types_for(arg):
    """The types an argument fits; a bad pointer fits any pointer type."""
    return TYPES_OF.get(arg[0], TEXT_TYPES + QUAD_TYPES + GUID_TYPES + RECT_TYPES)


def random_placeholder(rng, args):
    index = rng.randrange(10)
    out = b'^%d' % index
    if rng.random() < 0.6:
        out += bytes([rng.choice(JUST)])
        out += str(rng.randint(0, 99)).encode()[:rng.choice([0, 1, 2, 2])]
    kinds = types_for(args[index]) if index < len(args) else ALL_TYPES
    return out + bytes([rng.choice(kinds)])


def random_malformed(rng):
    return rng.choice([b'^k', b'^0k', b'^', b'^x', b'^ ', b'^0L123s', b'^0.8', b'^0!9', b'^9z',
                       b'^10s', b'^0Lq', b'^0Rz5', b'^0c1%'])


def random_literal(rng):
    alphabet = bytes(b for b in range(1, 256) if b != ord('^'))
    return bytes(rng.choice(alphabet) for _ in range(rng.randint(0, 6)))


def random_pattern(rng, args):
    parts = []
    for _ in range(rng.randint(0, 8)):
        r = rng.random()
        parts.append(random_placeholder(rng, args) if r < 0.45 else random_literal(rng) if r < 0.75 else
                     b'^^' if r < 0.85 else random_malformed(rng))
    pattern = b''.join(parts)
    if pattern and rng.random() < 0.15:  # cut in the middle of something
        pattern = pattern[:rng.randrange(len(pattern))]
    return pattern


def encode_arg(arg):
    tag, value = arg
    if tag in ('s', 'g'):
        value = value.hex()
    elif tag == 'y':
        value = ','.join(map(str, value))
    return tag if value is None else '%s:%s' % (tag, value)


def fixed_cases():
    """Cases whose answer is stated outright, so the model itself is checked."""
    n = lambda v: ('n', v)
    s = lambda t: ('s', t)
    filler = [n(0)] * 10
    return [
        (b'^0s and ^0s', [s(b'A')] + filler[1:], b'A and A'),
        (b'^0z5i', [n(42)] + filler[1:], b'00042'),
        (b'^0L3s', [s(b'abcdef')] + filler[1:], b'...'),
        (b'^0L5s', [s(b'abcdef')] + filler[1:], b'ab...'),
        (b'^0r3i', [n(12345)] + filler[1:], b'###'),
        (b'a^^b', filler, b'a^b'),
        (b'^0c6s', [s(b'ab')] + filler[1:], b'  ab  '),
        (b'x^0k', filler, b'x^0k'),
        (b'x ^0s y', [('s:null', None)] + filler[1:], b'x ^0s y'),
        (b'^1o|^0O', [n(1536), n(-1048576)] + filler[2:], b'-1 Mo|1.5 Ko [1536]'),
        (b'H=^0s', [], b'H=^0s'),
        (b'^0s^5s^9i|^1L4s', [s(b'a'), s(b'b')], b'a^5s^9i|b   '),
    ]


def main():
    o = Oracle('format_driver', 1909)
    for p, a, stated in fixed_cases():
        assert model(p, a)[0] == stated, (p, model(p, a), stated)
    cases = [(p, a, model(p, a)) for p, a, _ in fixed_cases()]
    while len(cases) < 20000:
        args = [random_arg(o.rng) for _ in range(o.rng.choice([10, 10, 10, o.rng.randint(0, 9)]))]
        pattern = random_pattern(o.rng, args)
        expected = model(pattern, args)
        if expected is not None:
            cases.append((pattern, args, expected))
    for pattern, args, (want, debug) in cases:
        o.ask(['fmt', pattern.hex()] + [encode_arg(x) for x in args], '%s\t%d' % (want.hex(), debug))
    o.run()
    o.finish()


if __name__ == '__main__':
    main()
