#!/usr/bin/env python3
"""Compares table_values_driver (the values of a table's current record)
with Python's integers, decimal, datetime, uuid and cp1252 codec, over
generated values for a field of every kind, in two document configurations:
typed setters and their range rules, the bytes they leave in the record,
text forms both ways, values read from arbitrary record bytes, text edits
and the key-order extremes."""
import datetime
import math
import os
import struct
import sys
import uuid
from decimal import ROUND_HALF_UP, Decimal

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from oracle import Oracle  # noqa: E402

O = Oracle("table_values_driver", 19)
R = O.rng
CONFIGS = [dict(dec=",", th=" ", money=2, datefmt="%d/%m/%Y", tsep=":"),
           dict(dec=".", th=",", money=4, datefmt="%Y-%m-%d", tsep=".")]
INT = {1: (1, False), 2: (2, False), 3: (2, True), 4: (4, True), 5: (8, True)}  # width, signed
DECIMALS = {0: 0, 1: 1, 2: 2, 3: 3, 4: 4, 5: 8, 7: 0}
DAY0 = datetime.date(1600, 1, 1)

F = {}
for i, item in enumerate(O.call("fields").split(","), 1):
    name, *nums = item.split(":")
    F[name] = dict(zip(("phys", "log", "flags", "len", "offset", "size"), map(int, nums)), no=i)
word = lambda f: f["flags"] & 0x120000
dyna = lambda f: f["flags"] & 0x10
is_int = lambda f: word(f) or f["phys"] in INT
is_char = lambda f: f["phys"] in (1, 2) and not word(f) and f["log"] > 7 and f["log"] != 19
hx = lambda b: b.hex() if b else "-"
cp = lambda b: bytes([b]).decode("cp1252") if b not in (0x81, 0x8D, 0x8F, 0x90, 0x9D) else chr(b)
unicp = lambda text: "".join(map(cp, text.encode("latin-1")))


def int_range(f):
    if word(f):
        return 0, 0xFFFF
    w, signed = INT[f["phys"]]
    return (-(1 << (8 * w - 1)), (1 << (8 * w - 1)) - 1) if signed else (0, (1 << (8 * w)) - 1)


def int_text(f, v):
    if f["log"] == 19:
        return "1" if v else ""
    if is_char(f):
        return "" if v == 0 else chr(v) if f["phys"] == 1 else to_cp(chr(v))
    return str(v)


def to_cp(ch):
    try:
        return ch.encode("cp1252").decode("latin-1")
    except UnicodeEncodeError:
        return chr(ord(ch)) if ord(ch) in (0x81, 0x8D, 0x8F, 0x90, 0x9D) else "?"


def ltype(f, cfg):
    t = f["log"] if f["log"] <= 7 else 5
    return cfg["money"] if t == 6 else t


def num_text(q, t, cfg):
    """decimal's display form: grouped (but type 7), the type's decimals (type 5 trimmed), empty for 0."""
    if q == 0:
        return "0" if t == 7 else ""
    whole, _, frac = ("%.*f" % (DECIMALS[t], abs(q))).partition(".")
    if t != 7:
        whole = format(int(whole), ",").replace(",", cfg["th"])
    frac = frac.rstrip("0") if t == 5 else frac
    return ("-" if q < 0 else "") + whole + (cfg["dec"] + frac if frac else "")


def quantize(text_value, t):
    return Decimal(text_value).quantize(Decimal(1).scaleb(-DECIMALS[t]), ROUND_HALF_UP)


def date_text(v, cfg):
    day, secs = int(v), round((v - int(v)) * 86400)
    d = DAY0 + datetime.timedelta(days=day - 5)
    out = d.strftime(cfg["datefmt"])
    if secs:
        out += " " + cfg["tsep"].join("%02d" % x for x in (secs // 3600, secs // 60 % 60, secs % 60))
    return out


def after(f, ok, text, raw):
    return "%d %s %s" % (ok, hx(text.encode("latin-1")), "-" if dyna(f) or f["size"] == 0 else hx(raw))


def pack_int(f, v, at=0):
    w = 2 if word(f) else INT[f["phys"]][0]
    raw = bytearray(f["size"])
    raw[at * w:at * w + w] = (v & ((1 << (8 * w)) - 1)).to_bytes(w, "little")
    return bytes(raw)


def integers(cfg):
    for name in ("C8", "CT", "CB", "U", "UT", "S", "L", "Q", "E", "Al", "YL", "Lk", "T", "F", "Day"):
        f = F[name]
        target = F["L"] if name == "Al" else f
        for _ in range(60):
            v = R.choice([R.randint(-2**63, 2**63 - 1), R.randint(-70000, 70000), R.choice([-1, 0, 1, 255, 256, 32767,
                         32768, -32768, -32769, 65535, 65536, 2**31 - 1, -2**31, 2**31])])
            for cmd in ("long", "quad"):
                if cmd == "long" and not -2**31 <= v < 2**31:
                    continue
                ok = is_int(target) and int_range(target)[0] <= v <= int_range(target)[1]
                got = v if ok else 0
                long_ = got if -2**31 <= got < 2**31 else 0
                raw = pack_int(target, got) if is_int(target) else bytes(f["size"])
                O.ask((cmd, f["no"], 0, 0, v), after(f, ok, int_text(target, got) if is_int(target) else "", raw)
                      + " %d %d" % (long_, got))
            # the same value as text, with blanks, a sign or grouping
            forms = [str(v), " %d " % v, ("+%d" % v) if v >= 0 else str(v), "x%d" % v, ""]
            if abs(v) < 2**50:  # decimal's reading is exact below 2^53
                forms.append(format(v, ",").replace(",", cfg["th"]))
            if abs(v) < 2**24:  # where decimal's nudge still moves a tie
                forms.append("%d%s5" % (v, cfg["dec"]))
            text = R.choice(forms)
            if is_char(f):
                want_v, ok = ord((unicp if f["phys"] == 2 else str)(text[:1])) if text else 0, True
            else:
                clean = text.strip().replace(cfg["th"], "").replace(cfg["dec"], ".") if text.strip() else "0"
                try:
                    want_v = int(quantize(clean, 7)) if clean.lstrip("+-").replace(".", "").isdigit() else None
                except ArithmeticError:
                    want_v = None
                if want_v is not None and f["log"] == 19:
                    want_v = int(want_v != 0)
                ok = is_int(target) and want_v is not None and int_range(target)[0] <= want_v <= int_range(target)[1]
            if not is_int(target):
                continue
            got = want_v if ok else 0
            O.ask(("set", f["no"], 0, 0, hx(text.encode("latin-1"))), after(f, ok, int_text(target, got),
                  pack_int(target, got)) + " 0")
    arr = F["A"]
    for line in range(-1, 4):
        for col in range(-1, 3):
            v = R.randint(-32768, 32767)
            ok = 0 <= line <= 2 and 0 <= col <= 1
            raw = pack_int(arr, v, line * 2 + col) if ok else bytes(arr["size"])
            O.ask(("long", arr["no"], line, col, v), after(arr, ok, str(v) if ok else "", raw) +
                  " %d %d" % ((v, v) if ok else (0, 0)))
            O.ask(("set", arr["no"], line, col, hx(str(v).encode())), after(arr, ok, str(v) if ok else "", raw) + " 0")
    for name in ("Lk", "L", "G", "T", "YL", None):
        f = F.get(name, dict(no=99))
        ud, b = R.choice([0, R.randint(1, 2**32 - 1)]), bytes(R.randint(0, 255) for _ in range(16))
        link, guid = name == "Lk", name == "G"
        O.ask(("misc", f["no"], ud, hx(b)), "%d %d %d %d %d 0 %s" % (link, ud if link else 0, guid, (link and ud != 0)
              or (guid and any(b)), name is not None, hx(b if guid else bytes(16))))


def grid_value(decimals):
    n = R.choice([0, R.randint(-10**6, 10**6), R.randint(-10**15, 10**15) // 10**(8 - decimals)])
    return Decimal(n).scaleb(-decimals)


def reals(cfg):
    for name in ("F", "D0", "D1", "D2", "D3", "D4", "DF", "DM", "DI", "YD", "L", "Day"):
        f = F[name]
        real = f["phys"] in (8, 9)
        t = ltype(f, cfg)
        for _ in range(80):
            exact = grid_value(R.randint(0, 8))
            while abs((exact.scaleb(DECIMALS[t]) % 1).copy_abs() - Decimal("0.5")) < Decimal("1e-6"):
                exact = grid_value(8)  # decimal takes what lies within 1e-8 below a tie as the tie
            q = quantize(exact, t) if real else Decimal(0)
            raw = struct.pack("<d", float(q)) if real else bytes(f["size"])
            O.ask(("dec", f["no"], "%.17g" % float(exact)), after(f, real, num_text(q, t, cfg), raw) + " %.17g" % (float(q) + 0.0))
            shown = num_text(exact, 5, cfg) if R.random() < 0.5 else format(exact, "f").replace(".", cfg["dec"])
            if real:
                O.ask(("set", f["no"], 0, 0, hx(shown.encode())), after(f, True, num_text(q, t, cfg), raw) +
                      " %.17g" % (float(q) + 0.0))
            if real and not dyna(f):
                v = float(quantize(grid_value(DECIMALS[t]), t))
                O.ask(("raw", f["no"], hx(struct.pack("<d", v))),
                      "%s 0 0 %.17g 0" % (hx(num_text(Decimal(v), t, cfg).encode()), v))
        for bad in ("1%s2%s3" % (cfg["dec"], cfg["dec"]), "12a", "--1"):
            if real:
                O.ask(("set", f["no"], 0, 0, hx(bad.encode())), after(f, False, num_text(0, t, cfg), bytes(8)) + " 0")


def dates(cfg):
    f = F["Day"]
    for _ in range(300):
        day, secs = R.randint(5, 3068041), R.choice([0, R.randint(0, 86399)])
        v = day + secs / 86400
        want = date_text(v, cfg)
        judge = lambda a, want=want, day=day, secs=secs: a.startswith("1 %s " % hx(want.encode())) and \
            int(float(a.split()[-1])) == day and abs((float(a.split()[-1]) - day) * 86400 - secs) < 1e-3
        O.ask(("date", f["no"], repr(v)), judge)
        O.ask(("set", f["no"], 0, 0, hx(want.encode())), judge)
        O.ask(("raw", f["no"], hx(struct.pack("<d", v))),
              lambda a, want=want, v=v: a.split()[0] == hx(want.encode()) and float(a.split()[-1]) == v)
    for v in (3.0, 4e6, -1.0):
        O.ask(("date", f["no"], repr(v)), after(f, False, "", bytes(8)) + " 0")
    for bad in ("31/02/2020", "2020-02-31", "32/01/2021", "12:30", "01/01/2020 25:00", "x"):
        O.ask(("set", f["no"], 0, 0, hx(bad.encode())), after(f, False, "", bytes(8)) + " 0")


def texts(cfg):
    for name in ("T", "W", "YT", "R"):
        f = F[name]
        for _ in range(150):
            text = "".join(chr(R.choice([R.randint(1, 255), R.randint(32, 126)])) for _ in range(R.randint(0, 16)))
            kept = text if dyna(f) or f["phys"] == 13 else text[:f["len"]]
            if f["phys"] == 13:
                raw = bytes(4)
            elif f["phys"] == 7:
                units = unicp(kept).encode("utf-16-le")
                raw = units + bytes(f["size"] - len(units))
            else:
                raw = kept.encode("latin-1") + bytes(max(0, f["size"] - len(kept)))
            O.ask(("set", f["no"], 0, 0, hx(text.encode("latin-1"))), after(f, True, kept, raw) + " 0")
            garbage = bytes(R.randint(0, 255) for _ in range(f["size"])) if f["phys"] in (6, 7) and not dyna(f) else b""
            if f["phys"] == 6 and garbage:
                O.ask(("raw", f["no"], hx(garbage)), "%s 0 0 0 0" % hx(garbage[:f["len"]].split(b"\0")[0]))
            elif garbage:
                units = [int.from_bytes(garbage[i:i + 2], "little") for i in range(0, 2 * f["len"], 2)]
                units = units[:units.index(0)] if 0 in units else units
                O.ask(("raw", f["no"], hx(garbage)), "%s 0 0 0 0" % hx("".join(to_cp(chr(u)) if not 0xD800 <= u < 0xE000
                                                                          else "?" for u in units).encode("latin-1")))
    g = F["G"]
    for _ in range(100):
        b = bytes(R.randint(0, 255) for _ in range(16)) if R.random() < 0.9 else bytes(16)
        text = str(uuid.UUID(bytes_le=b)).upper() if any(b) else ""
        O.ask(("raw", g["no"], hx(b)), "%s 0 0 0 0" % hx(text.encode()))
        O.ask(("set", g["no"], 0, 0, hx(text.lower().encode())), after(g, True, text, b) + " 0")
    O.ask(("set", g["no"], 0, 0, hx(b"{12}")), after(g, False, "", bytes(16)) + " 0")


def handles_and_sums(cfg):
    for name in ("B", "P", "R", "YL", "L", "G"):
        f = F[name]
        for n in (0, 1, 4, 6, 7, 52, 53):
            b = bytes(R.randint(0, 255) for _ in range(n))
            got = True
            if name == "YL":
                ok = n == 4
                kept = b if ok else bytes(4)
                text = str(int.from_bytes(kept, "little", signed=True))
            elif f["phys"] in (11, 13):
                ok = f["phys"] == 13 or n <= f["size"]
                kept = (b + bytes(f["size"] - n) if f["phys"] == 11 else b) if ok else bytes(f["size"])
                text = kept.split(b"\0")[0].decode("latin-1")
            else:
                ok, got, kept, text = False, False, b"", "0" if name == "L" else ""
            raw = kept if f["phys"] == 11 else bytes(f["size"])
            O.ask(("handle", f["no"], hx(b)), after(f, ok, text, raw) + " %d %d %s" % (got, any(kept), hx(kept)))
    for name in ("D2", "DI", "YD", "L", "C8", "T"):
        f = F[name]
        for _ in range(40):
            t = ltype(f, cfg)
            a, b = grid_value(DECIMALS[t]), grid_value(DECIMALS[t])
            if is_int(f):
                a, b = int(a), int(b) if R.random() < 0.5 else R.randint(-300, 300)
                lo, hi = int_range(f)
                start = a if lo <= a <= hi else 0
                ok = lo <= start + b <= hi
                O.ask(("add", f["no"], a, b), after(f, ok, str(start + b if ok else start),
                                                    pack_int(f, start + b if ok else start)))
            else:
                real = f["phys"] == 9
                total = quantize(a + b, t) if real else 0
                O.ask(("add", f["no"], "%.17g" % float(a), "%.17g" % float(b)),
                      after(f, real, num_text(total, t, cfg) if real else "",
                            struct.pack("<d", float(total)) if real else bytes(f["size"])))


def changes(_cfg):
    alphabet = "abcdeyzABCDYZ \u00e0\u00e9\u00e8\u00e7\u00f4\u00fb\u00c9\u00c0\u0161\u0153\u017e\u0160\u0152'-.19"
    for name in ("T", "YT", "RO", "L"):
        f = F[name]
        for how in range(0, 7):
            text = "".join(R.choice(alphabet) for _ in range(R.randint(0, 14))) if name != "L" else "x"
            kept = (text if dyna(f) else text[:f["len"]]) if f["phys"] == 6 else ""
            out = {1: kept.strip(" "), 2: kept.upper(), 3: kept.lower(), 5: kept.lower()[:1].upper() + kept.lower()[1:],
                   4: "".join(c.upper() if i == 0 or not kept[i - 1].isalpha() else c.lower()
                              for i, c in enumerate(kept))}.get(how, kept)
            ok = f["phys"] == 6 and not f["flags"] & 0x400 and 1 <= how <= 5
            out = out if ok else kept
            out = out.encode("cp1252").decode("latin-1")
            raw = out.encode("latin-1") + bytes(f["size"] - len(out)) if f["phys"] == 6 and not dyna(f) else \
                bytes(f["size"])
            O.ask(("chg", f["no"], how, hx(text.encode("cp1252"))), after(f, ok, out if f["phys"] == 6 else "0", raw))


def extremes(cfg):
    signed = lambda w, top: (b"\xff" * (w - 1) + b"\x7f") if top else (b"\0" * (w - 1) + b"\x80")
    for name in ("C8", "U", "S", "L", "Q", "T", "W", "F", "D2", "Day", "G", "B", "E", "YL", "P"):
        f = F[name]
        for top in (0, 1):
            if word(f):
                raw = b"\xff\xff" if top else b"\0\0"
            elif f["phys"] in INT:
                raw = signed(INT[f["phys"]][0], top)
            elif f["phys"] == 10:
                raw = struct.pack("<d", 3068041 + 86399 / 86400 if top else 0.0)
            elif f["phys"] in (8, 9):
                raw = struct.pack("<d", math.nextafter(2.0**31, 0) if top else math.nextafter(-2.0**31 - 1, 0))
            else:
                end = {6: 1, 7: 2}.get(f["phys"], 0)
                raw = (b"\xff" if top else b"\0") * (f["size"] - end) + b"\0" * end
            ok = not dyna(f)
            O.ask(("minmax", f["no"], top), lambda a, f=f, ok=ok, raw=raw: a.split()[0] == str(int(ok)) and
                  a.split()[-1] == ("-" if not ok else hx(raw)))


for n, cfg in enumerate(CONFIGS):
    O.ask(("conf", n), "ok")
    for part in (integers, reals, dates, texts, changes, handles_and_sums, extremes):
        part(cfg)
O.run()
O.finish()
