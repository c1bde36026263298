#!/usr/bin/env python3
"""Checks `date` against Python's datetime and small calendar models.

Every case goes to the date_driver program in bulk (one command per line) and
its answers are compared with what datetime says: day numbers are datetime
ordinals shifted so that 1 January 1600 is day 5, weekdays and days of the
year come from datetime, Easter from the Clavius/Lilius computus (a different
method from the one that built the library's table), month moves from
calendar.monthrange. Parsing and formatting are compared with models written
from the rules of the date texts."""
import calendar
import datetime
import functools
import math
import os
import re
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'support'))
from oracle import Oracle  # noqa: E402

OFFSET = 5 - datetime.date(1600, 1, 1).toordinal()
FIRST, LAST = 5, datetime.date(9999, 12, 31).toordinal() + OFFSET
MOVE_LAST = 3068038
HALF = 1.0 / 172800.0
oracle = Oracle('date_driver', 1505)
rng, ask = oracle.rng, oracle.ask


def cfg(order=1, two_digit=1, pivot=50, eom=0, week=1, seps='/-.', work=0.0, date_sep='', time_sep=':'):
    return ('cfg', order, two_digit, pivot, eom, week, seps, repr(float(work)), date_sep, time_sep)


def to_date(n):
    return datetime.date.fromordinal(n - OFFSET)


def day_of(d):
    return d.toordinal() + OFFSET


def g17(v):
    return '%.17g' % v


def fraction(seconds):
    return (seconds / 86400.0 + 3068038.0) - 3068038.0


def split(v):
    r = v + (-HALF if v < 0 else HALF)
    day = int(r // 1)
    return day, min(int((r - day) * 86400.0), 86399)


def with_time(day, v):
    return float(day) + (v - split(v)[0])


def clock(s):
    """Hours, minutes, seconds, minute and second of the day."""
    return '%d %d %d %d %d' % (s // 3600, s // 60 % 60, s % 60, s // 60, s)


def readable(v):
    """A value whose parts can be read: its day, rounded to the second, is in the calendar."""
    return math.isfinite(v) and FIRST <= split(v)[0] <= LAST


def sunday_index(d):
    return (d.weekday() + 1) % 7


def week_number(d, rule):
    w = sunday_index(datetime.date(d.year, 1, 1))
    add = {0: 6, 1: 7, 2: 8, 3: 9, 4: 10 if rule else 3, 5: 4, 6: 5}[w]
    return (d.timetuple().tm_yday + add) // 7


def easter(y):
    if not 1600 <= y <= 9999:
        return None
    if not 1901 <= y <= 2100:
        return datetime.date(y, 4, 15)
    g = y % 19 + 1
    c = y // 100 + 1
    x = 3 * c // 4 - 12
    z = (8 * c + 5) // 25 - 5
    d = 5 * y // 4 - x - 10
    e = (11 * g + 20 + z - x) % 30
    if (e == 25 and g > 11) or e == 24:
        e += 1
    n = 44 - e
    if n < 21:
        n += 30
    n = n + 7 - (d + n) % 7
    return datetime.date(y, 4, n - 31) if n > 31 else datetime.date(y, 3, n)


def random_day():
    return rng.randint(FIRST, LAST)


# ------------------------------------------------------------------ day parts

def check_anchors():
    anchors = [((1, 1, 1600), 5), ((1, 1, 1900), 109578), ((1, 1, 2000), 146102),
               ((1, 1, 2024), 154868), ((31, 12, 9999), 3068041)]
    for (d, m, y), n in anchors:
        ask(('set', d, m, y), '1 %s' % g17(n))
        assert day_of(datetime.date(y, m, d)) == n, 'oracle offset'


def check_day_parts():
    days = [FIRST, LAST, FIRST + 1, LAST - 1] + [random_day() for _ in range(120000)]
    for rule in (1, 0):
        ask(cfg(week=rule), 'ok')
        for n in days if rule else days[:20000]:
            d = to_date(n)
            leap = calendar.isleap(d.year)
            ask(('day', n), '%d %d %d %d %d %d %d %d %d %d %d' % (
                d.day, d.month, d.year, d.timetuple().tm_yday, sunday_index(d), week_number(d, rule),
                (d.month + 2) // 3, (d.month + 5) // 6, 366 if leap else 365,
                calendar.monthrange(d.year, d.month)[1], 1 if leap else 0))


def check_set_parts():
    for _ in range(100000):
        y = rng.choice([rng.randint(1590, 10010), rng.randint(1600, 9999), 1900, 2000, 2023, 2024])
        m, d = rng.randint(-1, 13), rng.randint(-1, 32)
        try:
            ok = 1600 <= y <= 9999 and d >= 1 and m >= 1
            n = day_of(datetime.date(y, m, d)) if ok else 0
        except ValueError:
            n = 0
        ask(('set', d, m, y), '%d %s' % (1 if n else 0, g17(n)))


# Values that are no moment of the calendar (day 0 included: a time without a
# date) and values at its rims that round into it.
OUT_OF_CALENDAR = [float('nan'), float('inf'), float('-inf'), -1e9, 1e300, -1e300, -1.0, 0.25, 4.0,
                   FIRST - 0.5, LAST + 1.0, LAST + 1 - HALF / 4, 1e8, 5e7, -5e-7]
IN_CALENDAR_EDGES = [FIRST - HALF / 4, float(FIRST), LAST + 0.5, LAST + 1 - 3 * HALF]


def check_out_of_calendar():
    """Every part reads as 0 and every text is empty, as for the empty date."""
    ask(cfg(), 'ok')
    for v in OUT_OF_CALENDAR:
        assert not readable(v)
        ask(('day', g17(v)), ' '.join(['0'] * 11))
        ask(('sec', g17(v), -1), '%s 0 0 0 0 0' % g17(v))
    for v in IN_CALENDAR_EDGES:
        assert readable(v)
        ask(('sec', g17(v), -1), '%s %s' % (g17(v), clock(split(v)[1])))


def check_seconds():
    n = random_day()
    for s in range(86400):
        ask(('sec', n, s), '%s %s' % (g17(n + fraction(s)), clock(s)))


# ------------------------------------------------------------------ moves

def add_months(d, n, keep_end):
    y, m = divmod(d.year * 12 + d.month - 1 + n, 12)
    m += 1
    if not 1600 <= y <= 9999:
        return None
    last = calendar.monthrange(y, m)[1]
    was_last = d.day == calendar.monthrange(d.year, d.month)[1]
    return datetime.date(y, m, last if (keep_end and was_last) or d.day > last else d.day)


def add_years(d, n):
    y = d.year + n
    if not 1600 <= y <= 9999:
        return None
    if d.month == 2 and d.day == 29 and not calendar.isleap(y):
        return datetime.date(y, 3, 1)
    return datetime.date(y, d.month, d.day)


@functools.lru_cache(maxsize=None)
def holidays(y):
    e = easter(y)
    fixed = [(1, 1), (5, 1), (5, 8), (7, 14), (8, 15), (11, 1), (11, 11), (12, 25)]
    days = {datetime.date(y, m, d) for m, d in fixed}
    return days | {e + datetime.timedelta(k) for k in (1, 39, 50)}


def day_off(n, saturday=True, holiday=True):
    d = to_date(n)
    wd = sunday_index(d)
    if wd == 0 or (wd == 6 and saturday):
        return True
    return holiday and d in holidays(d.year)


def search(n, step, want_off):
    while FIRST <= n <= MOVE_LAST:
        if day_off(n) == want_off:
            return n
        n += step
    return None


def period(d, months):
    first = (d.month - 1) // months * months + 1
    last = first + months - 1
    return datetime.date(d.year, first, 1), datetime.date(d.year, last, calendar.monthrange(d.year, last)[1])


def part(d, width, parts):
    index = min((d.day - 1) // width, parts - 1)
    end = calendar.monthrange(d.year, d.month)[1] if index == parts - 1 else (index + 1) * width
    return datetime.date(d.year, d.month, index * width + 1), datetime.date(d.year, d.month, end)


def move_day(code, n, k):
    """The new day number of a calendar move, None for 'no such day'."""
    d = to_date(n)
    ymd = lambda mm, dd: day_of(datetime.date(d.year, mm, dd))
    if code in (-7, -6, -5):
        return day_of(easter(d.year)) + {-7: 49, -6: 39, -5: 0}[code]
    simple = {2: 1, 3: 2, 4: -1, 5: -2, 20: 7, 21: -7, 56: k, 59: 7 * k}
    if code in simple:
        return n + simple[code]
    if 6 <= code <= 12:
        m = n + 1
        while to_date(m).weekday() != code - 6:
            m += 1
        return m
    if 13 <= code <= 19:
        m = n - 1
        while m >= FIRST - 7 and to_date(m).weekday() != code - 13:
            m -= 1
        return m if FIRST <= m <= MOVE_LAST else None
    months = {22: (1, False), 23: (-1, False), 57: (k, False), 60: (k, True)}
    if code in months:
        r = add_months(d, *months[code])
        return day_of(r) if r else None
    if code in (24, 25, 58):
        r = add_years(d, {24: 1, 25: -1, 58: k}[code])
        return day_of(r) if r else None
    if code in (26, 27):
        return n - d.weekday() + (6 if code == 27 else 0)
    searches = {28: (0, 1, False), 29: (1, 1, False), 30: (0, -1, False), 31: (-1, -1, False),
                32: (0, 1, True), 33: (1, 1, True), 34: (0, -1, True), 35: (-1, -1, True)}
    if code in searches:
        start, step, off = searches[code]
        return search(n + start, step, off)
    fixed = {38: (1, 1), 48: (1, 1), 54: (1, 1), 39: (3, 31), 40: (4, 1), 41: (6, 30), 49: (6, 30),
             42: (7, 1), 50: (7, 1), 43: (9, 30), 44: (10, 1), 45: (12, 31), 51: (12, 31), 55: (12, 31)}
    if code in fixed:
        return ymd(*fixed[code])
    starts = {36: (period, 1), 46: (period, 3), 52: (period, 6), 66: (part, 10, 3), 68: (part, 15, 2)}
    span, *args = starts.get(code) or starts[code - 1]  # the first day of a span, its last day one code after
    first, last = span(d, *args)
    return day_of(first if code in starts else last)


def in_calendar(v):
    return FIRST <= v < LAST + 1


def move(code, v, k):
    if v == 0:
        return 0.0
    if code in (61, 62, 63):
        r = v + k * {61: 0.04166666651144624, 62: 0.00069444440305233, 63: 1.157401129603386e-5}[code]
    elif code == 64:
        r = float(split(v)[0])
    elif code == 65:
        r = split(v)[0] + fraction(86399)
    else:
        day = move_day(code, split(v)[0], k)
        r = 0.0 if day is None else with_time(day, v)
    return r if in_calendar(r) else 0.0


def random_value():
    return random_day() + fraction(rng.randint(0, 86399)) * rng.choice([0, 1])


def check_moves():
    codes = [c for c in range(-7, 70) if c not in (-4, -3, -2, -1, 0, 1)]
    for _ in range(100000):
        code = rng.choice(codes)
        v = random_value()
        k = rng.choice([rng.randint(-3, 3), rng.randint(-400, 400), rng.randint(-100000, 100000)])
        ask(('move', code, g17(v), k), g17(move(code, v, k)))
    edges = [(57, (31, 1, 2024), 1), (58, (29, 2, 2024), 1), (60, (30, 4, 2024), 1), (60, (28, 2, 2023), 12),
             (-5, (1, 6, 2024), 0), (-5, (1, 1, 1850), 0), (13, (1, 1, 1600), 0), (28, (28, 12, 9999), 0),
             (19, (5, 1, 1600), 0), (30, (3, 1, 1600), 0), (2, (31, 12, 9999), 0), (56, (1, 1, 2024), -150000)]
    for code, (d, m, y), k in edges:
        v = float(day_of(datetime.date(y, m, d)))
        ask(('move', code, g17(v), k), g17(move(code, v, k)))
    for code in (-11, -10, 1, 70, 71, 1000):
        ask(('move', code, g17(154868.0), 0), 'E 1 23')


def check_easter():
    years = list(range(1600, 1605)) + list(range(1895, 2106)) + list(range(9995, 10000))
    for y in years:
        start = day_of(datetime.date(y, 1, 1))
        for code in (-5, -6, -7):
            v = start + rng.randint(0, 364) + fraction(rng.randint(0, 86399))
            ask(('move', code, g17(v), 0), g17(move(code, v, 0)))
        e = day_of(easter(y))
        for n in (e + 1, e + 39, e + 50, e - 2):
            ask(('off', n), '%d %d %d' % (day_off(n), day_off(n, saturday=False), day_off(n, holiday=False)))


def check_month_moves():
    for _ in range(100000):
        code = rng.choice([22, 23, 57, 60])
        n = random_day()
        if rng.random() < 0.5:  # month ends are the interesting days
            d = to_date(n)
            n = day_of(datetime.date(d.year, d.month, calendar.monthrange(d.year, d.month)[1])) - rng.randint(0, 3)
        k = rng.randint(-30, 30) if rng.random() < 0.8 else rng.randint(-100000, 100000)
        ask(('move', code, n, k), g17(move(code, float(n), k)))


def check_days_off():
    days = [day_of(datetime.date(y, 1, 1)) + k for y in (1999, 2024, 2100, 2101, 1900) for k in range(366)]
    days += [random_day() for _ in range(20000)]
    for n in days:
        ask(('off', n), '%d %d %d' % (day_off(n), day_off(n, saturday=False), day_off(n, holiday=False)))
    for _ in range(3000):
        a = random_day()
        b = a + rng.randint(-5, 400)
        ask(('work', a, b), str(sum(1 for n in range(a, b + 1) if not day_off(n))))


# ------------------------------------------------------------------ parsing

WIDTHS = {1: (2, 2, 4), 4: (2, 2, 4), 2: (2, 4, 2), 6: (2, 4, 2), 3: (4, 2, 2), 5: (4, 2, 2)}
ROLES = {1: 'dmy', 2: 'dym', 3: 'ydm', 4: 'mdy', 5: 'ymd', 6: 'myd'}


def decode(text, seps, order):
    fields, cur, after_full = [], '', False
    for ch in text:
        if '0' <= ch <= '9':
            if len(fields) == 3:
                return None
            cur += ch
            after_full = len(cur) == WIDTHS[order][len(fields)]
            if after_full:
                fields.append(int(cur))
                cur = ''
        elif ch in seps:
            if cur:
                fields.append(int(cur))
                cur = ''
            elif not after_full:
                return None
            after_full = False
        else:
            return None
    if cur:
        fields.append(int(cur))
    if text and text[-1] in seps:
        return None
    return fields


def parse(text, order, seps, two_digit, pivot, eom, ref, work):
    if text == '':
        return True, 0
    fields = decode(text, seps, order)
    if not fields:
        return False, 0
    roles = {1: 'd', 2: 'dm' if order <= 3 else 'md', 3: ROLES[order]}[len(fields)]
    got = dict(zip(roles, fields))
    if got['d'] == 0 or got.get('m', 1) == 0:
        return False, 0
    source = to_date(int(ref or work))
    y = got.get('y')
    if y == 0 and not two_digit:
        y = None
    if y is not None and two_digit and y <= 99:
        y += 1900 if y > pivot else 2000
    if y is None:
        y = source.year
    m = got.get('m', source.month)
    d = got['d']
    if not (d <= 31 and 1 <= m <= 12 and 1600 <= y <= 9999):
        return False, 0
    last = calendar.monthrange(y, m)[1]
    if d > last:
        if not (eom and d >= 29):
            return False, 0
        d = last
    return True, day_of(datetime.date(y, m, d))


def random_text(order, seps):
    def num(width):
        return str(rng.randint(0, 10 ** width - 1)).zfill(rng.choice([1, width, width]))
    w = WIDTHS[order]
    count = rng.choice([1, 2, 3, 3, 3, 3])
    kind = rng.random()
    if kind < 0.35:  # with separators
        parts = [num(rng.choice([1, 2, w[i]])) for i in range(count)]
        return ''.join(p + (rng.choice(seps) if i < count - 1 else '') for i, p in enumerate(parts))
    if kind < 0.6:  # full widths, no separators
        return ''.join(str(rng.randint(0, 10 ** w[i] - 1)).zfill(w[i]) for i in range(count))
    if kind < 0.8:  # plausible dates
        d = to_date(random_day())
        values = {'d': d.day, 'm': d.month, 'y': d.year if rng.random() < 0.5 else d.year % 100}
        pieces = [str(values[r]).zfill(rng.choice([1, 2])) for r in ROLES[order][:count]]
        return rng.choice(seps + ['']).join(pieces)
    alphabet = '0123456789' * 3 + ''.join(seps) + 'a ,:' + '\xe9'
    return ''.join(rng.choice(alphabet) for _ in range(rng.randint(0, 11)))


def check_parsing():
    work = float(day_of(datetime.date(2023, 6, 15)))
    for round_ in range(24):
        order = round_ % 6 + 1
        seps = rng.choice([['/'], ['/', '-', '.'], ['-'], ['.', ' ']])
        two_digit, pivot, eom = rng.randint(0, 1), rng.choice([0, 30, 50, 99]), rng.randint(0, 1)
        ask(cfg(order, two_digit, pivot, eom, 1, ''.join(seps), work), 'ok')
        for _ in range(5000):
            text = random_text(order, seps)
            ref = rng.choice([0, 0, random_day()])
            explicit = rng.choice([0, order])
            ok, n = parse(text, order, seps, two_digit, pivot, eom, ref, work)
            ask(('parse', explicit, text, ref), '%d %s' % (ok, g17(n)))
    # The kernel form: day-month-year and "/" whatever the configured order and separators.
    ask(cfg(5, 1, 50, 0, 1, '-.', work), 'ok')
    for _ in range(5000):
        text = random_text(1, ['/'] if rng.random() < 0.8 else ['-'])
        ok, n = parse(text, 1, ['/'], 1, 50, 0, 0, work)
        ask(('kparse', text), '%d %s' % (ok, g17(n)))


# ------------------------------------------------------------------ formatting

LONG_DAYS = ['Dimanche', 'Lundi', 'Mardi', 'Mercredi', 'Jeudi', 'Vendredi', 'Samedi']
SHORT_DAYS = [x[:3] for x in LONG_DAYS]
LONG_MONTHS = ['Janvier', 'F\xe9vrier', 'Mars', 'Avril', 'Mai', 'Juin', 'Juillet', 'Ao\xfbt', 'Septembre',
               'Octobre', 'Novembre', 'D\xe9cembre']
SHORT_MONTHS = ['Jan', 'Fev', 'Mar', 'Avr', 'Mai', 'Jun', 'Jul', 'Aou', 'Sep', 'Oct', 'Nov', 'Dec']


def format_model(v, pattern, date_sep, time_sep, pivot):
    if not readable(v):
        return ''
    n, s = split(v)
    t = to_date(n)
    dt = datetime.datetime(t.year, t.month, t.day, s // 3600, s // 60 % 60, s % 60)
    h = dt.hour
    pieces = {
        ' ': ' ', '/': date_sep, ':': time_sep,
        'D': dt.strftime('%d'), 'd': str(dt.day), 'M': dt.strftime('%m'), 'm': str(dt.month),
        'H': dt.strftime('%H'), 'h': str(h), 'I': dt.strftime('%M'), 'i': str(dt.minute),
        'S': dt.strftime('%S'), 's': str(dt.second), 'C': str(dt.year // 100), 'Y': '%02d' % (dt.year % 100),
        'y': str(dt.year % 10), 'c': '' if 1900 + pivot < dt.year <= 2000 + pivot else str(dt.year // 100),
        'V': '%02d' % (h % 12), 'v': str(h % 12), 'W': '%02d' % week_number(t, 1), 'w': str(week_number(t, 1)),
        'T': '%d/4' % ((t.month + 2) // 3), 't': str((t.month + 2) // 3),
        'E': '%d/2' % ((t.month + 5) // 6), 'e': str((t.month + 5) // 6), 'x': str(t.timetuple().tm_yday),
        'J': LONG_DAYS[sunday_index(t)], 'j': SHORT_DAYS[sunday_index(t)],
        'O': LONG_MONTHS[t.month - 1], 'o': SHORT_MONTHS[t.month - 1],
        'Z': 'PM' if h > 12 else 'AM', 'z': 'pm' if h > 12 else 'am',
    }
    # '' is a quote; a quoted run ends at a lone quote or with the pattern, '' inside it is a quote.
    return ''.join("'" if m[0] == "''" else m[1].replace("''", "'") if m[1] is not None else pieces.get(m[0], '')
                   for m in re.finditer(r"''|'((?:[^']|'')*)'?|.", pattern, re.S))


def check_formatting():
    letters = "DdMmHhIiSsCYycVvWwTtEexJjOoZz /:"
    others = "ABFGKLNPQRUXabfgklnpqru0123456789-.,;!#\x7f\xe9"
    for date_sep, time_sep, pivot in (('/', ':', 50), ('-', 'h', 30), ('.', '.', 0)):
        ask(cfg(1, 1, pivot, 0, 1, '/-.', 0, date_sep, time_sep), 'ok')
        for _ in range(12000):
            v = random_value() if rng.random() < 0.97 else 0.0
            pattern = ''
            for _ in range(rng.randint(0, 14)):
                r = rng.random()
                pattern += rng.choice(letters) if r < 0.8 else rng.choice(others) if r >= 0.9 else \
                    "'" + ''.join(rng.choice(letters + others + "'") for _ in range(rng.randint(0, 4)))
            pattern = pattern.replace('\t', '')
            ask(('fmt', g17(v), pattern), format_model(v, pattern, date_sep, time_sep, pivot))
    for v in OUT_OF_CALENDAR + IN_CALENDAR_EDGES:
        for pattern in ('D/M/CY H:I:S', 'J j O o x W T E c y Z', 'DMY'):
            ask(('fmt', g17(v), pattern), format_model(v, pattern, '.', '.', 0))
    long_pattern = "J D O CY H:I:S " * 40
    v = random_value()
    ask(('fmt', g17(v), long_pattern), format_model(v, long_pattern, '.', '.', 0))


# ------------------------------------------------------------------ stamps, comparisons

def check_stamps():
    epoch = datetime.datetime(1970, 1, 1)
    for _ in range(20000):
        v = random_value()
        n, s = split(v)
        t = to_date(n)
        text = '%04d-%02d-%02dT%02d:%02d:%02d' % (t.year, t.month, t.day, s // 3600, s // 60 % 60, s % 60)
        ask(('ts', g17(v)), '%s 1 %s' % (text, g17(n + fraction(s))))
        secs = rng.randint(-11644473600, 253402300799)
        moment = epoch + datetime.timedelta(seconds=secs)
        day = day_of(moment.date())
        sod = moment.hour * 3600 + moment.minute * 60 + moment.second
        ask(('unix', secs), '%s %d' % (g17(day + fraction(sod)), secs))


def compare_model(a, b, mask):
    def parts(v):
        if v == 0:
            return (0,) * 6
        n, s = split(v)
        t = to_date(n)
        return (t.year, t.month, t.day, s // 3600, s // 60 % 60, s % 60)
    pa, pb = parts(a), parts(b)
    for i in range(6):
        if mask & (1 << i) and pa[i] != pb[i]:
            return 1 if pa[i] > pb[i] else -1
    return 0


def diff_model(a, b, kind):
    (na, sa), (nb, sb) = split(a), split(b)
    trunc = lambda x, y: -(-x // y) if x < 0 else x // y
    if kind == 0:
        return na - nb
    if kind == 1:
        return trunc(na - nb, 7)
    if kind in (2, 3):
        ta, tb = to_date(na), to_date(nb)
        months = (ta.year * 12 + ta.month) - (tb.year * 12 + tb.month)
        if months > 0 and ta.day < tb.day:
            months -= 1
        if months < 0 and ta.day > tb.day:
            months += 1
        return months if kind == 2 else trunc(months, 12)
    total = (na * 86400 + sa) - (nb * 86400 + sb)
    return trunc(total, {4: 3600, 5: 60, 6: 1}[kind])


def check_comparisons():
    for _ in range(30000):
        a = random_value()
        b = rng.choice([random_value(), a, with_time(split(a)[0] + rng.randint(-40, 40), a),
                        split(a)[0] + fraction(rng.randint(0, 86399))])
        mask, kind = rng.randint(0, 63), rng.randint(0, 6)
        ask(('pair', g17(a), g17(b), mask, kind), '%d %d' % (compare_model(a, b, mask), diff_model(a, b, kind)))


def main():
    for check in (check_anchors, check_day_parts, check_set_parts, check_seconds, check_out_of_calendar,
                  check_moves, check_month_moves, check_easter, check_days_off, check_parsing, check_formatting,
                  check_stamps, check_comparisons):
        check()
    oracle.run()
    oracle.finish()


if __name__ == '__main__':
    main()
