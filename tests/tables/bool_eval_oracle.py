#!/usr/bin/env python3
"""Compares bool_eval_driver (ZorBoolEval) with a filter language of its own:
a tokenizer and a recursive descent over the tokens, a tree, the postfix
bytes and the canonical text drawn from the tree, and a stack machine that
runs bytes. Texts come from a random derivation of the grammar with random
blanks (then sometimes mangled); programs are the compiled ones or random
bytes. Judged: the error code and its catalogue text, the program bytes,
the rebuilt text (which must read back to itself), and every evaluation over
value sets that reorder, drop and change the variables between calls on one
object; and Edit through a user interface."""
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from oracle import Oracle, catalogue  # noqa: E402

sys.setrecursionlimit(20000)
O = Oracle("bool_eval_driver", 33)
R = O.rng
TEXTS = {k[2]: v[0] for k, v in catalogue(1).items() if k[1] == 271}
BIN = {"&": 1, "|": 2, "<": 4, "<=": 5, ">": 6, ">=": 7, "=": 8, "<>": 9}
OPS = {v: k for k, v in BIN.items()}
RELS = {"<", "<=", ">", ">=", "=", "<>"}
BLANKS = " \t\n\r"


class Bad(Exception):
    def __init__(self, code):
        self.code = code


def tokens(text):
    """(kind, value) pairs: 'op', 'num' (None when out of range), 'name', 'bad', then 'end'."""
    i, out = 0, []
    while i < len(text):
        c = text[i]
        if c in BLANKS:
            i += 1
        elif text[i:i + 2] in ("<=", ">=", "<>"):
            out.append(("op", text[i:i + 2]))
            i += 2
        elif c in "!&|()<>=":
            out.append(("op", c))
            i += 1
        elif c == "-" or c.isdigit():
            j = i + (c == "-")
            digits = ""
            while j < len(text) and text[j].isdigit() and len(digits) < 10:
                digits += text[j]
                j += 1
            v = int(("-" if c == "-" else "") + digits) if digits else None
            out.append(("num", v if v is not None and -2**31 <= v < 2**31 else None) if digits else ("bad", c))
            i = j
        elif c.isalnum() or c == "_":
            j = i
            while j < len(text) and (text[j].isalnum() or text[j] == "_"):
                j += 1
            out.append(("name", text[i:j]))
            i = j
        else:
            out.append(("bad", c))
            i += 1
    return out + [("end", None)]


class Parser:
    """Trees: ('var', id), ('num', k), ('!', t), (op, left, right)."""

    def __init__(self, text, names):
        self.t, self.at, self.names = tokens(text), 0, names

    def peek(self):
        return self.t[self.at]

    def take(self):
        self.at += 1
        return self.t[self.at - 1]

    def chain(self, op, sub, depth):
        tree = sub(depth)
        while self.peek() == ("op", op):
            self.take()
            tree = (op, tree, sub(depth))
        return tree

    def expr(self, depth):
        return self.chain("|", lambda d: self.chain("&", self.negation, d), depth)

    def negation(self, depth):
        if self.peek() == ("op", "!"):
            self.take()
            return ("!", self.relation(depth))
        return self.relation(depth)

    def relation(self, depth):
        left = self.operand(depth)
        kind, op = self.peek()
        if kind == "op" and op in RELS:
            self.take()
            if depth + 1 > 256:
                raise Bad(2)
            return (op, left, self.relation(depth + 1))
        return left

    def operand(self, depth):
        kind, v = self.take()
        if (kind, v) == ("op", "("):
            if depth + 1 > 256:
                raise Bad(2)
            tree = self.expr(depth + 1)
            if self.take() != ("op", ")"):
                raise Bad(3)
            return tree
        if kind == "num" and v is not None:
            return ("num", v)
        if kind == "name" and v in self.names:
            return ("var", self.names[v])
        raise Bad(3)

    def whole(self):
        if self.peek()[0] == "end":
            return None
        tree = self.expr(0)
        if self.peek()[0] != "end":
            raise Bad(3)
        return tree


def postfix(tree):
    if tree[0] in ("var", "num"):
        return struct.pack("<Bi" if tree[0] == "num" else "<BI", 10 if tree[0] == "num" else 0, tree[1])
    if tree[0] == "!":
        return postfix(tree[1]) + b"\x03"
    return postfix(tree[1]) + postfix(tree[2]) + bytes([BIN[tree[0]]])


def parens(child, parent, left):
    if child[0] in ("var", "num"):
        return False
    joins = parent in "&|"
    if child[0] == "!":
        return not joins
    if child[0] == parent:
        return parent in RELS and left
    return parent == "!" or not (joins and child[0] in RELS)


def show(tree, names, parent=None, left=False):
    if tree[0] == "var":
        text = names[tree[1]]
    elif tree[0] == "num":
        text = str(tree[1])
    elif tree[0] == "!":
        text = "!" + show(tree[1], names, "!", True)
    else:
        op = " %s " % tree[0] if tree[0] in "&|" else tree[0]
        text = show(tree[1], names, tree[0], True) + op + show(tree[2], names, tree[0], False)
    return "(%s)" % text if parent and parens(tree, parent, left) else text


def decode(prog, names):
    """The tree of program bytes, or Bad with the error GetSource raises."""
    stack, at = [], 0
    while at < len(prog):
        op = prog[at]
        if op > 11 or (op in (0, 10, 11) and len(prog) - at < 5):
            raise Bad(5)
        arg = struct.unpack_from("<i" if op == 10 else "<I", prog, at + 1)[0] if op in (0, 10, 11) else None
        at += 5 if arg is not None else 1
        need = 2 if op in OPS else 1 if op == 3 else 0
        if op == 11:
            continue
        if len(stack) < need or (need == 0 and len(stack) == 256):
            raise Bad(2)
        if op == 0 and arg not in names:
            raise Bad(4)
        if op in (0, 10):
            stack.append(("var" if op == 0 else "num", arg))
        elif op == 3:
            stack.append(("!", stack.pop()))
        else:
            right = stack.pop()
            stack.append((OPS[op], stack.pop(), right))
    if len(stack) != 1:
        raise Bad(3)
    return stack[0]


def run(prog, values):
    """The stack machine over bytes: True, False or Bad."""
    stack, at = [], 0
    cmp = {4: int.__lt__, 5: int.__le__, 6: int.__gt__, 7: int.__ge__, 8: int.__eq__, 9: int.__ne__,
           1: lambda a, b: a != 0 and b != 0, 2: lambda a, b: a != 0 or b != 0}
    while at < len(prog):
        op = prog[at]
        if op > 11 or (op in (0, 10, 11) and len(prog) - at < 5):
            raise Bad(5)
        arg = struct.unpack_from("<i" if op == 10 else "<I", prog, at + 1)[0] if op in (0, 10, 11) else None
        at += 5 if arg is not None else 1
        if op == 11:
            continue
        if len(stack) < (2 if op in cmp else 1 if op == 3 else 0) or (op in (0, 10) and len(stack) == 256):
            raise Bad(2)
        if op == 0 and arg not in values:
            raise Bad(4)
        if op in (0, 10):
            stack.append(values[arg] if op == 0 else arg)
        elif op == 3:
            stack.append(int(stack.pop() == 0))
        else:
            b, a = stack.pop(), stack.pop()
            stack.append(int(cmp[op](a, b)))
    if len(stack) != 1:
        raise Bad(3)
    return stack[0] != 0


hx = lambda s: s.encode("latin-1").hex() if s else "-"
bad = lambda code: "E%d:%s" % (code, TEXTS[code].encode("cp1252").hex())


def attempt(fn):
    try:
        return fn()
    except Bad as b:
        return bad(b.code)


def expected(prog, names, own, sets):
    """The answer of "P" for a program over the variables."""
    def src():
        tree = decode(prog, names)
        return hx(show(tree, names))
    out = ["P", prog.hex() or "-", attempt(src) if prog else "-"]
    for s in sets:
        values = own if s == "*" else s
        if not prog or values is None:
            out.append(bad(12))
        else:
            out.append(attempt(lambda: "1" if run(prog, values) else "0"))
    return " ".join(out)


# ------------------------------------------------------------------ generation

POOL = ["a", "A", "b", "B", "ab", "aB", "x_1", "_", "z9", "\xe9t\xe9", "Long_name_of_thirty_five_characters"]


def variables():
    names = R.sample(POOL, R.randint(0, 6))
    ids = R.sample([1, 2, 3, 7, 100, 2**31 - 1, 2**31, 2**32 - 1], len(names))
    return {n: (i, R.choice([0, 1, -1, 5, R.randint(-2**31, 2**31 - 1)])) for n, i in zip(names, ids)}


def ws(p=0.3):
    return "".join(R.choice(BLANKS) for _ in range(R.randint(1, 2))) if R.random() < p else ""


def number():
    if R.random() < 0.03:
        return str(R.choice([2**31, -2**31 - 1, R.randint(10**10, 10**11)]))
    return str(R.choice([0, 1, 3, -1, -7, 2**31 - 1, -2**31, 1234567890, R.randint(-9, 9), R.randint(-2**31, 2**31 - 1)]))


def operand(d, names):
    r = R.random()
    if d > 0 and r < 0.25:
        return "(" + ws() + gen(d - 1, names) + ws() + ")"
    return R.choice(names) if names and r < 0.7 else number()


def relation(d, names):
    text = operand(d, names)
    if d > 0 and R.random() < 0.4:
        text += ws(0.1) + R.choice(sorted(RELS)) + ws() + relation(d - 1, names)
    return text


def gen(d, names):
    def join(sep, sub):
        return (ws() + sep + ws()).join(sub() for _ in range(R.choice([1, 1, 2, 3])))
    negation = lambda: ("!" + ws() if R.random() < 0.3 else "") + relation(d, names)
    return join("|", lambda: join("&", negation))


def mangle(text):
    at = R.randint(0, len(text))
    return text[:at] + R.choice(["!", "!!", "(", ")", "#", "-", "&", " q", "1", "<", "= ", ""]) + text[at + 1:]


def value_sets(vs):
    """Value sets for one object, each a dict id -> value (or "*")."""
    ids = [i for i, _ in vs.values()] + [5]
    sets, order = [], R.sample(ids, len(ids))
    for _ in range(R.randint(1, 5)):
        r = R.random()
        if r < 0.15:
            sets.append("*")
            continue
        if r < 0.4:
            order = R.sample(ids, len(ids))
        elif r < 0.55 and order:
            order = order[:-1]
        sets.append([(i, R.randint(-3, 3)) for i in order])
    return sets


def spec(vs):
    return "-" if vs is None else ",".join("%s:%d:%d" % (hx(n), i, v) for n, (i, v) in vs.items())


def sets_spec(sets):
    return ";".join(s if s == "*" else ",".join("%d:%d" % p for p in s) for s in sets)


def ask_text(vs, text):
    names = {n: i for n, (i, _) in vs.items()}
    sets = value_sets(vs)
    own = {i: v for i, v in vs.values()}
    try:
        tree = Parser(text, names).whole()
    except Bad as b:
        want = "C %d %s" % (b.code, TEXTS[b.code].encode("cp1252").hex())
    else:
        prog = b"\x0b\x01\0\0\0" + postfix(tree) if tree else b""
        want = expected(prog, {i: n for n, i in names.items()}, own, [s if s == "*" else dict(s) for s in sets])
        if tree:  # the rebuilt text reads back to the same text
            again = show(Parser(show(tree, {i: n for n, i in names.items()}), names).whole(), {i: n for n, i in names.items()})
            O.check(again == show(tree, {i: n for n, i in names.items()}), "rebuilt text is not stable: " + repr(text))
    O.ask(("text", spec(vs), hx(text), sets_spec(sets)), want, "text %r vars %r sets %r" % (text, vs, sets))
    return want


def random_program(vs):
    """Random instructions, or a compiled text with a byte changed."""
    ids = [i for i, _ in vs.values()] + [5]
    try:
        if R.random() < 0.5:
            out = bytearray(b"\x0b\x01\0\0\0" + postfix(Parser(gen(3, list(vs)), {n: i for n, (i, _) in vs.items()}).whole()))
            out[R.randrange(len(out))] = R.choice([0, 1, 3, 9, 11, 12, 255])
            return bytes(out)
    except Bad:
        pass
    out = bytearray(b"\x0b\x01\0\0\0" if R.random() < 0.8 else b"")
    for _ in range(R.randint(0, 12)):
        op = R.choice([0, 0, 10, 10, 1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 200])
        out.append(op)
        if op in (0, 10, 11):
            out += struct.pack("<I", R.choice(ids) if op == 0 else R.randint(0, 2**32 - 1))
    return bytes(out[:R.randint(len(out) - 3, len(out))] if R.random() < 0.1 else out)


def ask_prog(vs, prog):
    names = {i: n for n, (i, _) in vs.items()} if vs is not None else {}
    sets = value_sets(vs or {})
    own = {i: v for i, v in vs.values()} if vs is not None else None
    want = expected(prog, names, own, [s if s == "*" else dict(s) for s in sets])
    O.ask(("prog", spec(vs), prog.hex() or "-", sets_spec(sets)), want,
          "prog %s vars %r sets %r" % (prog.hex(), vs, sets))


for _ in range(3000):
    vs = variables()
    text = gen(R.randint(0, 4), list(vs))
    if R.random() < 0.25:
        text = mangle(text)
    ask_text(vs, ws() + text + ws())
for _ in range(1500):
    vs = variables() if R.random() < 0.95 else None
    ask_prog(vs, random_program(vs or {}))

# Pinned shapes: the limits of numbers, names, nesting and the stack.
V = {"a": (1, 2), "b": (2, 0), "c": (3, 7)}
for text in ["", "  \t", "a<3 & !b", "a | b & c", "(a | b) & c", "a<b<c", "(a<b)<c", "!(!a)", "a<(!b)", "x",
             "12345678901", "-", "a <b", "a < b <= c", "a<-2147483648", "a=2147483648", "!!a", "a b", "(a", "a)",
             "a" * 255, "(" * 256 + "a" + ")" * 256, "(" * 257 + "a" + ")" * 257,
             "<".join(["a"] * 257), "<".join(["a"] * 258), "a&" * 300 + "a"]:
    ask_text(V, text)
ask_prog(V, b"\x0b\x01\0\0\0" + b"\x0a\0\0\0\0" * 257)
ask_prog(V, b"\x0b\x01\0\0\0" + b"\x0a\0\0\0\0" * 256 + b"\x01" * 255)

# Edit: the text offered is the rebuilt source; a cancelled edit changes nothing.
for old, new in [("a<3 &  !b", "a | c=7"), ("a", "a |"), ("b", None), ("", "c")]:
    names = {n: i for n, (i, _) in V.items()}
    ids = {i: n for n, i in names.items()}
    shown = lambda t: hx(show(Parser(t, names).whole(), ids)) if Parser(t, names).whole() else "-"
    if new is None:
        want = "- 0 %s" % shown(old)
    else:
        try:
            want = "%s 1 %s" % (shown(old), shown(new))
        except Bad:
            want = "%s 0 -" % shown(old)
    O.ask(("edit", spec(V), hx(old), hx(new) if new is not None else "-"), want)
O.run()
O.finish()
