#!/usr/bin/env python3
"""Compares decimal_driver with two independent models, over generated cases.

1. Rounding and every double computation (ZorRoundDouble, ZorRoundTo, Cmp,
   the typed and business operations, the value a parse produces) against a
   replica written here with Python floats, which are IEEE 754 doubles: the
   replica performs the documented steps in the same order, so results must
   match bit for bit (signed zeros included).
2. Texts (ToKernel, both ToStr forms) against Python's decimal module: the
   exact value of the rounded double, quantized half up to the type's
   decimals, then laid out with the separators. Parsed values are also
   checked against decimal: within one unit of the type's last decimal of
   the text's exact value.
"""
import collections
import math
import os
import struct
import sys
from decimal import ROUND_HALF_UP, Decimal, localcontext

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
from oracle import Oracle  # noqa: E402

FACTOR = {0: 1.0, 1: 10.0, 2: 100.0, 3: 1000.0, 4: 10000.0, 5: 1e8, 7: 1.0, 19: 1.0}
DECIMALS = {0: 0, 1: 1, 2: 2, 3: 3, 4: 4, 5: 8, 7: 0}
UNIT = {0: 1.0, 7: 1.0, 1: 0.1, 2: 0.01, 3: 0.001, 4: 0.0001, 5: 1e-8}
POW2_TEN = [1e1, 1e2, 1e4, 1e8, 1e16, 1e32, 1e64, 1e128, 1e256]
CASES_PER_KIND = 100_000


class Raised(Exception):
    pass


Config = collections.namedtuple("Config", "decimals thousands money euro")
CONFIGS = [Config(",.", " ", 2, 6.55957), Config(".", ",", 4, 1.95583), Config(",.'", " \xa0", 0, 40.3399),
           Config(",", "", 5, 0.0)]

# ---------------------------------------------------------------- the replica


def is_null(v):
    return -1e-9 <= v <= 1e-9


def resolve(t, cfg):
    return cfg.money if t == 6 else t


def round_scaled(s, mode):
    if math.isnan(s) or math.isinf(s):
        return s
    if mode not in (1, 2, 3, 4):  # to nearest, nudged away from zero
        s = s + 1e-8 if s > 0 else s - 1e-8 if s < 0 else s
    r = float({1: math.ceil, 2: math.floor, 3: math.trunc}.get(mode, round)(s))
    return math.copysign(0.0, s) if r == 0 else r


def round_double(v, t, mode, cfg):
    f = FACTOR.get(resolve(t, cfg))
    if f is None:
        raise Raised(25)
    return round_scaled(v * f, mode) / f


def round_to(v, step, t, mode, cfg):
    if is_null(step):
        if t not in UNIT:
            raise Raised(25)
        step = UNIT[t]
    return round_double(round_scaled(v / step, mode) * step, t, 0, cfg)


def compare(a, b, t, mode, cfg):
    r = resolve(t, cfg)
    if r not in FACTOR or r > 7:
        raise Raised(25)
    f = FACTOR[r]
    x, y = round_scaled(a * f, mode), round_scaled(b * f, mode)
    return -1 if x < y else (1 if x > y else 0)


def ht(a, b, t, cfg):
    if is_null(a):
        return 0.0
    if is_null(b):
        return round_double(a, t, 0, cfg)
    d = round_double(100.0 + b, 5, 0, cfg)
    if is_null(d):
        return 0.0
    return round_double(a * 100.0 / d, t, 4, cfg)


def operate(name, t, a, b, cfg):
    R = lambda v: round_double(v, t, 0, cfg)
    R5 = lambda v: round_double(v, 5, 0, cfg)
    if name == "add": return R(a + b)
    if name == "sub": return R(a - b)
    if name == "mul": return R(a * b)
    if name in ("div", "over"):
        if is_null(b):
            raise Raised(17)
        return R(a / b) if name == "div" else R5(a / b)
    if name == "divq": return 0.0 if is_null(b) else R(a / b)
    if name == "perc": return R(a * b / 100.0)
    if name == "addperc": return R(a + a * b / 100.0)
    if name == "subperc": return R(a + a * -b / 100.0)
    if name == "ttc": return R(a * b / 100.0 + a)
    if name == "ht": return ht(a, b, t, cfg)
    if name == "tvaperc": return 0.0 if (a == b or is_null(a)) else R((b - a) * 100.0 / a)
    if name == "tvafromht": return R(a * b / 100.0)
    if name == "tvafromttc": return R(a - ht(a, b, t, cfg))
    if name == "ratio":
        if is_null(b):
            raise Raised(16)
        return R(a * 100.0 / b)
    if name in ("toeuro", "toeurocfg"):
        rate = b if name == "toeuro" else cfg.euro
        return round_double(a if is_null(rate) else a / rate, 2, 4, cfg)
    if name == "tomoney": return round_double(a * b, 6, 0, cfg)
    if name == "plus": return R5(a + b)
    if name == "minus": return R5(a - b)
    if name == "times": return R5(a * b)
    if name == "roundto": return round_to(a, b, t, 0, cfg)
    raise ValueError(name)


def scale(v, e):
    divide, e, i = e < 0, abs(e), 0
    while e:
        if e & 1:
            v = v / POW2_TEN[i] if divide else v * POW2_TEN[i]
        e >>= 1
        i += 1
    return v


def parse(text, t, allow_sign, thousands, decimals, cfg):
    """(ok, value, digits text for the decimal check)."""
    text = text.split("\0")[0]
    p = 0
    while p < len(text) and text[p] in " \t\n\r":
        p += 1
    negative = False
    if allow_sign and p < len(text) and text[p] in "+-":
        negative = text[p] == "-"
        p += 1
    kept, after, m, sig, e, clean = 0, False, 0, 0, 0, ""
    while p < len(text) and kept < 253:
        c = text[p]
        p += 1
        if c in thousands:
            continue
        if c in decimals:
            if after:
                return False, 0.0, None
            after = True
            clean += "."
        elif "0" <= c <= "9":
            clean += c
            d = ord(c) - 48
            if sig == 0 and d == 0:
                e -= after
            elif sig < 18:
                m, sig, e = m * 10 + d, sig + 1, e - after
            elif not after:
                e += 1
        else:
            return False, 0.0, None
        kept += 1
    v = scale(float(m // 10**9) * 1e9 + float(m % 10**9), e)
    if negative:
        v = -v
    if resolve(t, cfg) not in FACTOR:
        return False, 0.0, None
    return True, round_double(v, t, 0, cfg), ("-" if negative else "") + clean


# ---------------------------------------------------------------- texts from the decimal module


def digits_of(v, n):
    """Integer and fraction digits of |v| rounded half up to n decimals."""
    with localcontext() as ctx:
        ctx.prec = 80
        q = Decimal(abs(v)).quantize(Decimal(1).scaleb(-n), rounding=ROUND_HALF_UP)
    whole, _, frac = format(q, "f").partition(".")
    return whole, frac


def layout(v, n, trim, thousands, point):
    if not abs(v) < 9.2e18:
        return ""
    whole, frac = digits_of(v, n)
    if thousands:
        whole = format(int(whole), ",").replace(",", thousands)
    if trim:
        frac = frac.rstrip("0")
    return ("-" if v < 0 else "") + whole + ((point + frac) if frac else "")


def kernel(x, t, cfg):
    r = resolve(t, cfg)
    return layout(round_double(x, r, 0, cfg), DECIMALS[r], r == 5, "", ".") if r in DECIMALS else ""


def sep_char(code, configured):
    return configured[:1] if code == 1 else chr(code) if code else ""


def to_str(x, t, show, th, dec, cfg):
    r = resolve(t, cfg)
    if r not in DECIMALS:
        return ""
    n = DECIMALS[r]
    thousands = "" if r == 7 else sep_char(th, cfg.thousands)
    point = sep_char(dec, cfg.decimals)
    v = round_double(x, r, 0, cfg)
    if is_null(v):
        if not show:
            return ""
        if n == 0 or r == 5:
            return "0"
        return "0" + point + "0" * n if point else "0" * (n + 1)
    return layout(v, n, r == 5, thousands, point)


def check_parse_with_decimal(value, clean, t, cfg):
    """The parsed value lies within one unit of the exact text's value."""
    if not any(c.isdigit() for c in clean):
        return value == 0
    n = DECIMALS.get(resolve(t, cfg), 0)
    with localcontext() as ctx:
        ctx.prec = 400
        exact = Decimal(clean.rstrip(".") or "0")
    if abs(exact) > Decimal("1e300"):
        return True
    tolerance = 10.0 ** -n + abs(value) * 1e-15
    return abs(value - float(exact)) <= tolerance * 1.0000001


# ---------------------------------------------------------------- case generation


def hext(text):
    return text.encode("latin-1").hex() or "-"


def hexf(v):
    return v.hex() if not math.isnan(v) else "nan"


def random_double(rng):
    kind = rng.random()
    if kind < 0.30:  # a half or a near-half at the decimals of some type
        n = rng.choice([0, 1, 2, 3, 4, 8])
        k = rng.randrange(0, 10 ** rng.randint(1, 15))
        v = (k + 0.5) / 10**n
        if rng.random() < 0.3:
            v = math.nextafter(v, rng.choice([math.inf, -math.inf]))
    elif kind < 0.55:  # a short decimal text's double
        v = float("%d.%0*d" % (rng.randrange(0, 10**rng.randint(1, 12)), 3, rng.randrange(1000)))
    elif kind < 0.80:  # any magnitude
        v = rng.uniform(0, 1) * 10.0 ** rng.randint(-12, 19)
    elif kind < 0.93:  # any bit pattern
        v = struct.unpack("<d", struct.pack("<Q", rng.getrandbits(64)))[0]
    else:
        v = rng.choice([0.0, -0.0, 1e-9, 1e-10, 0.5, 1.5, 2.5, 0.125, 2.675, 1.005, 4503599627370400.0,
                        4503599627370496.0, 9007199254740993.0, 9.2e18, 1e19, math.inf, -math.inf, math.nan])
    return -v if rng.random() < 0.4 else v


def random_type(rng):
    return rng.choice([0, 1, 2, 3, 4, 5, 6, 7, 19] if rng.random() < 0.9 else [-1, 8, 9, 10, 12, 18, 20, 25])


def random_mode(rng):
    return rng.choice([0, 0, 1, 2, 3, 4, 5, -1])


def random_number_text(rng, cfg_thousands, cfg_decimals):
    """A text of mostly valid number syntax with the given separators."""
    whole = str(rng.randrange(0, 10 ** rng.randint(1, 20)))
    if rng.random() < 0.1:
        whole = "0" * rng.randint(1, 5) + whole
    if cfg_thousands and rng.random() < 0.4:
        sep, head = rng.choice(cfg_thousands), len(whole) % 3 or 3
        whole = sep.join([whole[:head]] + [whole[i:i + 3] for i in range(head, len(whole), 3)])
    text = whole
    if cfg_decimals and rng.random() < 0.7:
        text += rng.choice(cfg_decimals) + str(rng.randrange(0, 10 ** rng.randint(0, 12))).zfill(rng.randint(0, 6))
    r = rng.random()
    if r < 0.03:
        text = "9" * rng.randint(200, 300) + text  # past the 253 characters looked at
    elif r < 0.06:
        text = "0." + "0" * rng.randint(10, 40) + text.replace(",", "").replace(".", "")
    elif r < 0.12:
        pos = rng.randrange(len(text) + 1)
        text = text[:pos] + rng.choice("a-+e ,.'\t\xa0") + text[pos:]
    elif r < 0.15:
        text = ""
    sign = rng.choice(["", "", "-", "+", "--"])
    lead = rng.choice(["", "", " ", "\t ", "\r\n"])
    return lead + sign + text


def same_double(text, expected):
    if text is None:
        return False
    got = float.fromhex(text) if text != "nan" else math.nan
    if math.isnan(expected):
        return math.isnan(got)
    return struct.pack("<d", got) == struct.pack("<d", expected)


def answer(model, *args):
    """The judge of an answer that is a double, or the library error the model raises."""
    try:
        v = model(*args)
    except Raised as e:
        return "E 1 %d" % e.args[0]
    return v if isinstance(v, str) else lambda got: same_double(got, v)


def separators(form, th, dec, cfg):
    """The thousands and decimal separators of a parse form: the configured ones, the kernel's, or the given ones."""
    if form == "c":
        return cfg.thousands, cfg.decimals
    if form == "k":
        return "", "."
    return cfg.thousands if th == 1 else sep_char(th, ""), cfg.decimals if dec == 1 else sep_char(dec, "")


def parse_judge(text, t, form, sign, th, dec, cfg):
    thousands, decimals = separators(form, th, dec, cfg)
    ok, value, clean = parse(text, t, sign or form != "x", thousands, decimals, cfg)

    def judge(got):
        flag, _, num = (got or "").partition(" ")
        return flag == str(int(ok)) and same_double(num, value) and \
            (not ok or check_parse_with_decimal(value, clean, t, cfg))
    return judge


NAMES = ["add", "sub", "mul", "div", "divq", "perc", "addperc", "subperc", "ttc", "ht", "tvaperc", "tvafromht",
         "tvafromttc", "ratio", "toeuro", "toeurocfg", "tomoney", "plus", "minus", "times", "over", "roundto"]


def generate(rng, cfg):
    """(question, expected answer or judge) of every kind, for one configuration."""
    n = CASES_PER_KIND // len(CONFIGS)
    cases = []
    for _ in range(n):
        t, mode, x = random_type(rng), random_mode(rng), random_double(rng)
        cases.append((("round", t, mode, hexf(x)), answer(round_double, x, t, mode, cfg)))
    for _ in range(n // 4):
        t, mode = random_type(rng), random_mode(rng)
        a, b = random_double(rng), rng.choice([0.0, 0.05, 0.25, 5.0, 0.01, 1e-10, random_double(rng)])
        cases.append((("roundto", t, mode, hexf(a), hexf(b)), answer(round_to, a, b, t, mode, cfg)))
        t, mode = random_type(rng), random_mode(rng)
        a, b = random_double(rng), random_double(rng)
        if rng.random() < 0.5:
            b = math.nextafter(a, math.inf) if rng.random() < 0.5 else a + 0.005
        cases.append((("cmp", t, mode, hexf(a), hexf(b)), answer(lambda: str(compare(a, b, t, mode, cfg)))))
    for _ in range(n):
        name = rng.choice(NAMES)
        if rng.random() < 0.7:  # amounts and rates as a user types them
            a = round(rng.uniform(-1e6, 1e6), rng.randint(0, 4))
            b = rng.choice([0.0, 5.5, 10.0, 19.6, 20.0, -100.0, round(rng.uniform(-50, 150), 2), a])
        else:
            a, b = random_double(rng), random_double(rng)
        t = random_type(rng)
        cases.append((("op", name, t, hexf(a), hexf(b)), answer(operate, name, t, a, b, cfg)))
    for _ in range(n):
        x, t, r = random_double(rng), random_type(rng), rng.random()
        if r < 0.4:
            cases.append((("kernel", t, hexf(x)), "|" + kernel(x, t, cfg)))
        elif r < 0.6:
            cases.append((("str", t, hexf(x)), "|" + to_str(x, t, resolve(t, cfg) == 7, 1, 1, cfg)))
        else:
            th, dec = rng.choice([0, 1, 32, 39, 46, 160]), rng.choice([0, 1, 44, 46])
            if rng.random() < 0.3:
                x = rng.choice([0.0, -0.0, 1e-10, 0.004, -0.004])
            show = int(rng.random() < 0.5)
            cases.append((("strx", t, show, th, dec, hexf(x)), "|" + to_str(x, t, show, th, dec, cfg)))
    for _ in range(n):
        form, t = rng.choice("ckx"), random_type(rng)
        sign = int(rng.random() < 0.7)
        th, dec = rng.choice([0, 1, 32, 39, 46]), rng.choice([0, 1, 44, 46])
        text = random_number_text(rng, *separators(form, th, dec, cfg))
        cases.append((("parse", form, t, sign, th, dec, hext(text)),
                      parse_judge(text, t, form, sign, th, dec, cfg)))
    rng.shuffle(cases)
    return cases


def main():
    o = Oracle("decimal_driver", 20240601)
    for cfg in CONFIGS:
        o.ask(("cfg", hext(cfg.decimals), hext(cfg.thousands), cfg.money, cfg.euro.hex()), "ok")
        for question, want in generate(o.rng, cfg):
            o.ask(question, want)
    o.run()
    o.finish()


if __name__ == "__main__":
    main()
