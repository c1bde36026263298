#!/usr/bin/env python3
"""Compares bool_eval_driver (ZorBoolEval) with a filter language of its own
(tokenizer, recursive descent, printer and one stack machine for values and
trees) over random texts of the grammar, random programs and value sets
that reorder, drop and change variables between evaluations of one object."""
import os
import re
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from oracle import Oracle, catalogue  # noqa: E402

sys.setrecursionlimit(20000)
O = Oracle("bool_eval_driver", 33)
R = O.rng
TEXTS = {k[2]: v[0].encode("cp1252").hex() for k, v in catalogue(1).items() if k[1] == 271}
BIN = {"&": 1, "|": 2, "<": 4, "<=": 5, ">": 6, ">=": 7, "=": 8, "<>": 9}
OPS = {v: k for k, v in BIN.items()}
RELS = ["<", "<=", ">", ">=", "=", "<>"]
TOKEN = re.compile(r"[ \t\n\r]*(?:(<=|>=|<>|[!&|()<>=])|(-?[0-9]{1,10})|(\w+)|([^ \t\n\r]))")
HEADER = b"\x0b\x01\0\0\0"


class Bad(Exception):
    pass


def parse(text, names):
    """Trees: ('var', id), ('num', k), ('!', t), (op, left, right); None for no text."""
    toks = [m.groups() for m in TOKEN.finditer(text)] + [(None, None, None, "end")]
    at = [0]
    peek = lambda: toks[at[0]][0]

    def take():
        at[0] += 1
        return toks[at[0] - 1]

    def deeper(d):
        if d + 1 > 256:
            raise Bad(2)
        return d + 1

    def chain(op, sub, d):
        tree = sub(d)
        while peek() == op:
            take()
            tree = (op, tree, sub(d))
        return tree

    def relation(d):
        left = operand(d)
        if peek() in RELS:
            op = take()[0]
            return (op, left, relation(deeper(d)))
        return left

    def negation(d):
        return ("!", take() and relation(d)) if peek() == "!" else relation(d)

    def operand(d):
        op, num, name, _ = take()
        if op == "(":
            tree = chain("|", lambda e: chain("&", negation, e), deeper(d))
            if take()[0] != ")":
                raise Bad(3)
            return tree
        if num and -2**31 <= int(num) < 2**31:
            return ("num", int(num))
        if name in names:
            return ("var", names[name])
        raise Bad(3)

    if toks[0][3] == "end":
        return None
    tree = chain("|", lambda e: chain("&", negation, e), 0)
    if toks[at[0]][3] != "end":
        raise Bad(3)
    return tree


def postfix(t):
    if t[0] in ("var", "num"):
        return struct.pack("<Bi" if t[0] == "num" else "<BI", 10 if t[0] == "num" else 0, t[1])
    return b"".join(map(postfix, t[1:])) + bytes([3 if t[0] == "!" else BIN[t[0]]])


def show(t, names, parent=None, left=False):
    if t[0] in ("var", "num"):
        return names[t[1]] if t[0] == "var" else str(t[1])
    joins = parent in ("&", "|")
    if t[0] == "!":
        text, wrap = "!" + show(t[1], names, "!", True), parent and not joins
    else:
        text = show(t[1], names, t[0], True) + (" %s " % t[0] if t[0] in "&|" else t[0]) + show(t[2], names, t[0])
        wrap = parent and (parent in RELS and left if t[0] == parent else not (joins and t[0] in RELS))
    return "(%s)" % text if wrap else text


def machine(prog, values, tree):
    """Runs bytes over values (id -> value): the result, or with `tree` the
    tree they encode; Bad with the first error met."""
    stack, at = [], 0
    while at < len(prog):
        op = prog[at]
        if op > 11 or (op in (0, 10, 11) and len(prog) - at < 5):
            raise Bad(5)
        arg = struct.unpack_from("<I" if op == 0 else "<i", prog, at + 1)[0] if op in (0, 10, 11) else None
        at += 1 if arg is None else 5
        if op == 11:
            continue
        if len(stack) < (2 if op in OPS else op == 3) or (op in (0, 10) and len(stack) == 256):
            raise Bad(2)
        if op == 0 and arg not in values:
            raise Bad(4)
        if op in (0, 10):
            stack.append((("var", "num")[op > 0], arg) if tree else values[arg] if op == 0 else arg)
        elif op == 3:
            stack.append(("!", stack.pop()) if tree else int(stack.pop() == 0))
        else:
            b, a = stack.pop(), stack.pop()
            stack.append((OPS[op], a, b) if tree else int({
                1: a != 0 and b != 0, 2: a != 0 or b != 0, 4: a < b, 5: a <= b, 6: a > b, 7: a >= b, 8: a == b,
                9: a != b}[op]))
    if len(stack) != 1:
        raise Bad(3)
    return stack[0] if tree else "01"[stack[0] != 0]


def attempt(fn):
    try:
        return fn()
    except Bad as b:
        return "E%d:%s" % (b.args[0], TEXTS[b.args[0]])


hx = lambda s: s.encode("latin-1").hex() or "-"


def expected(prog, vs, sets):
    """The driver's "P" answer for a program over the variables vs (None: no list)."""
    names = {i: n for n, (i, _) in (vs or {}).items()}
    out = ["P", prog.hex() or "-", attempt(lambda: hx(show(machine(prog, names, True), names))) if prog else "-"]
    for s in sets:
        values = ({i: v for i, v in vs.values()} if vs is not None else None) if s == "*" else dict(s)
        out.append(attempt(lambda: machine(prog, values, False)) if prog and values is not None else "E12:" + TEXTS[12])
    return " ".join(out)


# ------------------------------------------------------------------ generation

POOL = ["a", "A", "b", "B", "ab", "aB", "x_1", "_", "z9", "\xe9t\xe9", "Long_name_of_thirty_five_characters"]
ws = lambda p=0.3: "".join(R.choice(" \t\n\r") for _ in range(R.randint(1, 2))) if R.random() < p else ""


def variables():
    names = R.sample(POOL, R.randint(0, 6))
    ids = R.sample([1, 2, 3, 7, 100, 2**31 - 1, 2**31, 2**32 - 1], len(names))
    return {n: (i, R.choice([0, 1, -1, 5, R.randint(-2**31, 2**31 - 1)])) for n, i in zip(names, ids)}


def number():
    if R.random() < 0.03:
        return str(R.choice([2**31, -2**31 - 1, R.randint(10**10, 10**11)]))
    return str(R.choice([0, 1, 3, -1, -7, 2**31 - 1, -2**31, 1234567890, R.randint(-9, 9), R.randint(-2**31, 2**31)]))


def gen(d, names):
    def operand():
        if d > 0 and R.random() < 0.25:
            return "(" + ws() + gen(d - 1, names) + ws() + ")"
        return R.choice(names) if names and R.random() < 0.7 else number()

    def relation(k):
        return operand() + (ws(0.1) + R.choice(RELS) + ws() + relation(k - 1) if k and R.random() < 0.4 else "")

    def join(sep, sub):
        return (ws() + sep + ws()).join(sub() for _ in range(R.choice([1, 1, 2, 3])))
    return join("|", lambda: join("&", lambda: ("!" + ws() if R.random() < 0.3 else "") + relation(d)))


def value_sets(vs):
    """Value sets evaluated in turn on one object: "*" (the Init list) or (id, value) lists."""
    ids = [i for i, _ in vs.values()] + [5]
    sets, order = [], R.sample(ids, len(ids))
    for _ in range(R.randint(1, 5)):
        r = R.random()
        order = R.sample(ids, len(ids)) if r < 0.4 else order[:-1] if r < 0.55 else order
        sets.append("*" if r > 0.85 else [(i, R.randint(-3, 3)) for i in order])
    return sets


def ask(kind, vs, data, sets, want):
    vars_text = "-" if vs is None else ",".join("%s:%d:%d" % (hx(n), i, v) for n, (i, v) in vs.items())
    sets_spec = ";".join(s if s == "*" else ",".join("%d:%d" % p for p in s) for s in sets)
    O.ask((kind, vars_text, data, sets_spec), want)


def ask_text(vs, text):
    sets = value_sets(vs)
    try:
        tree = parse(text, {n: i for n, (i, _) in vs.items()})
        prog = HEADER + postfix(tree) if tree else b""
        if prog:
            machine(prog, {i: 0 for i, _ in vs.values()}, True)  # a program the stack cannot hold does not compile
        ask("text", vs, hx(text), sets, expected(prog, vs, sets))
    except Bad as b:
        ask("text", vs, hx(text), sets, "C %d %s" % (b.args[0], TEXTS[b.args[0]]))


for _ in range(3000):
    vs = variables()
    text = gen(R.randint(0, 4), list(vs))
    if R.random() < 0.25:
        at = R.randint(0, len(text))
        text = text[:at] + R.choice(["!", "!!", "(", ")", "#", "-", "&", " q", "1", "<", "= ", ""]) + text[at + 1:]
    ask_text(vs, ws() + text + ws())
for _ in range(1500):  # random instructions, at times cut
    vs = variables() if R.random() < 0.95 else None
    prog = bytearray(HEADER if R.random() < 0.8 else b"")
    for op in R.choices([0, 10, 1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 200], [2, 2] + [1] * 12, k=R.randint(0, 12)):
        arg = R.choice([i for i, _ in (vs or {}).values()] + [5]) if op == 0 else R.randint(0, 2**32 - 1)
        prog += bytes([op]) + (struct.pack("<I", arg) if op in (0, 10, 11) else b"")
    prog, sets = bytes(prog[:len(prog) - R.choice([0] * 9 + [1, 3])]), value_sets(vs or {})
    ask("prog", vs, prog.hex() or "-", sets, expected(prog, vs, sets))

# Pinned shapes: the limits of numbers, names, nesting and the stack.
V = {"a": (1, 2), "b": (2, 0), "c": (3, 7)}
for text in ["", "  \t", "a<3 & !b", "a | b & c", "(a | b) & c", "a<b<c", "(a<b)<c", "!(!a)", "a<(!b)", "x",
             "12345678901", "a=00000000007", "-", "a <b", "a < b <= c", "a<-2147483648", "a=2147483648", "!!a",
             "a b", "(a", "a)", "a" * 255, "(" * 256 + "a" + ")" * 256, "(" * 257 + "a" + ")" * 257,
             "<".join(["a"] * 257), "<".join(["a"] * 258), "a&" * 300 + "a"]:
    ask_text(V, text)
for prog in [HEADER + b"\x0a\0\0\0\0" * 257, HEADER + b"\x0a\0\0\0\0" * 256 + b"\x01" * 255]:
    ask("prog", V, prog.hex(), ["*"], expected(prog, V, ["*"]))

# Edit offers the rebuilt text; headless ("-") cancels and changes nothing.
IDS = {i: n for n, (i, _) in V.items()}
shown = lambda t: hx(show(parse(t, {n: i for n, (i, _) in V.items()}), IDS))
for old, new, want in [("a<3 &  !b", "a | c=7", "1"), ("a", "a |", "0"), ("b", None, "0")]:
    after = shown(new if new and want == "1" else old) if want == "1" or new is None else "-"
    O.ask(("edit", ",".join("%s:%d:%d" % (hx(n), i, v) for n, (i, v) in V.items()), hx(old), hx(new or "")),
          "%s %s %s" % (shown(old) if new else "-", want, after))
O.run()
O.finish()
