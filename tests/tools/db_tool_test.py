#!/usr/bin/env python3
"""`zorvane db` against Python's csv module: files that csv writes go in
through `create --csv` and `import-csv`, what `export-csv` writes is read back
by csv and compared row for row; and what a careless user meets.

Usage: db_tool_test.py TOOL SCENARIO  (roundtrip, badcsv, files, check,
interrupt, demo). Exits non-zero with a message on the first mismatch."""
import csv
import os
import random
import re
import signal
import subprocess
import sys
import tempfile
import time
from decimal import ROUND_HALF_UP, Decimal

TOOL = sys.argv[1]
HEADER = ["id", "name", "amount", "day", "note"]


def run(*args, rc=None):
    p = subprocess.run([TOOL, "db"] + list(args), capture_output=True, text=True, timeout=300)
    want(rc is None or p.returncode == rc,
         "%s: exit %d, want %s\n%s%s" % (" ".join(args), p.returncode, rc, p.stdout, p.stderr))
    return p.returncode, p.stdout, p.stderr


def want(cond, what):
    if not cond:
        sys.exit("FAILED: " + what)


def write_csv(path, rows, encoding="utf-8", sep=","):
    with open(path, "w", newline="", encoding=encoding) as f:
        csv.writer(f, delimiter=sep).writerows([HEADER] + rows)


def read_csv(path, encoding="utf-8", sep=","):
    with open(path, newline="", encoding=encoding) as f:
        return list(csv.reader(f, delimiter=sep))


def rows(first, count, rng):
    """Texts with quotes, separators, line breaks, accents and empty fields."""
    bits = ["é", "€", "œ", '"', ",", ";", "\t", "\n", "\r\n", " ", "x", "Zoë", ""]
    out = []
    for i in range(first, first + count):
        name = "".join(rng.choice(bits) for _ in range(rng.randint(0, 6)))
        note = rng.choice(["", "plain", '"quoted"', "a,b;c", "line\nbreak"])
        day = rng.choice(["", "%04d-%02d-%02d" % (rng.randint(1600, 2999), rng.randint(1, 12), rng.randint(1, 28))])
        out.append([str(i * rng.choice([1, -1])), name, "%d.%02d" % (rng.randint(-999, 99999), rng.randint(0, 99)),
                    day, note])
    return out


def table_line(db):
    _, out, _ = run("tables", db, rc=0)
    return out.splitlines()[1].split("\t")


def scenario_roundtrip(tmp):
    rng = random.Random(int(os.environ.get("ZOR_ORACLE_SEED", "1")))
    db, first, second = (os.path.join(tmp, n) for n in ("t.zdb", "a.csv", "b.csv"))
    expected = rows(1, 300, rng)
    write_csv(first, expected, encoding="utf-8-sig")  # with a BOM
    run("create", db, "--csv", first, "--table", "People", "--unique", "id", "--index", "name", rc=0)
    more = rows(301, 200, rng)
    write_csv(second, more, encoding="cp1252", sep=";")
    run("import-csv", db, "--table", "people", second, "--encoding", "cp1252", "--sep", ";", rc=0)
    expected = sorted(expected + more, key=lambda r: int(r[0]))
    want(table_line(db)[1:] == ["0x0000000100010000", "People", "500"], "tables: %r" % table_line(db))
    for encoding, sep, index in (("utf-8", ",", []), ("cp1252", "\t", ["--index", "1"])):
        out = os.path.join(tmp, "out.csv")
        _, said, _ = run("export-csv", db, "--table", "1", out, "--encoding", encoding,
                         "--sep", "tab" if sep == "\t" else sep, *index, rc=0)
        want("exported %d rows" % len(expected) in said, said)
        got = read_csv(out, encoding, sep)
        want(got[0] == HEADER, "export header %r" % got[0])
        for want_row, got_row in zip(expected, got[1:]):
            want(want_row == got_row, "%s export: %r, want %r" % (encoding, got_row, want_row))
        want(len(got) == len(expected) + 1, "%d rows exported, want %d" % (len(got) - 1, len(expected)))
    # Index 2 is (name, hidden row id): every row, duplicate names kept,
    # with tabs and line breaks escaped.
    _, out, _ = run("dump", db, "--table", "People", "--index", "2", rc=0)
    esc = str.maketrans({"\t": "\\t", "\n": "\\n", "\r": "\\r"})
    want(out.splitlines()[0].split("\t") == HEADER and sorted(out.splitlines()[1:]) ==
         sorted("\t".join(v.translate(esc) for v in r) for r in expected), "dump:\n" + out[:300])
    _, out, _ = run("info", db, rc=0)
    want("tables: 1" in out and "enumerations: 0" in out and "signature: 0" in out, "info:\n" + out)


def scenario_badcsv(tmp):
    """Malformed CSV names the file, the line and the column; a value that
    the field's type refuses names its line and keeps the rows before it;
    nothing half-made is left by create."""
    db, path = os.path.join(tmp, "t.zdb"), os.path.join(tmp, "bad.csv")
    good = "id,name\n1,a\n"
    for body, where in ((b'"open\n', "line 3, column 1"), (b'"x"y,z\n', "line 3, column 4"),
                        (b"2,b,c\n", "line 3, column 5"), (b"2,a\xe9\n", "line 3, column 4: invalid UTF-8"),
                        ("2,a中\n".encode(), "line 3, column 4: the character 中 has no cp1252"),
                        (b"2,a\x00\n", "line 3, column 4")):
        with open(path, "wb") as f:
            f.write(good.encode() + body)
        rc, _, err = run("create", db, "--csv", path, "--table", "T")
        want(rc == 1 and path in err and where in err and not os.path.exists(db),
             "%r: exit %d, stderr %r" % (body, rc, err))
    with open(path, "w") as f:
        f.write("id,name,day,amount\n1,a,2024-01-31,1.50\n")
    run("create", db, "--csv", path, "--table", "T", "--unique", "id", rc=0)
    for body, what in (("id,colour\n", 'no field "colour"'), ("id,name\n5,e\nx,f\n", "line 3"),
                       ("id\n1\n", "line 2"), ("id,name\n7,bb\n", '"name"'), ("id,day\n7,2023-02-29\n", '"day"'),
                       ("id,day\n7,2024-1-05\n", '"day"'), ("id,amount\n7,1e3\n", '"amount"')):
        with open(path, "w") as f:
            f.write(body)
        rc, _, err = run("import-csv", db, "--table", "T", path)
        want(rc == 1 and what in err, "import %r: exit %d, %r" % (body, rc, err))
    want(table_line(db)[3] == "2", "rows before the refused one stay: %r" % table_line(db))
    for args in ([], ["info"], ["export-csv", db, "--table", "T"], ["dump", db, "--table", "T", "--index", "9"],
                 ["export-csv", db, "--table", "T", path, "--sep", "|"], ["check", db, "--no-backup"]):
        want(run(*args)[0] == 2, "usage %r" % args)
    rc, _, err = run("dump", db, "--table", "Nope")
    want(rc == 1 and "tables" in err, "unknown table: %r" % err)


def scenario_files(tmp):
    """Foreign, truncated and special files: one message naming the file."""
    db, path = os.path.join(tmp, "t.zdb"), os.path.join(tmp, "a.csv")
    write_csv(path, [["1", "a", "1.00", "", ""]])
    run("create", db, "--csv", path, "--table", "T", rc=0)
    fifo, foreign, cut = (os.path.join(tmp, n) for n in ("pipe", "foreign.zdb", "cut.zdb"))
    os.mkfifo(fifo)
    with open(foreign, "wb") as f:
        f.write(os.urandom(30000))
    with open(db, "rb") as f, open(cut, "wb") as g:
        g.write(f.read()[:20000])
    for args in (["info", fifo], ["tables", foreign], ["dump", cut, "--table", "1"], ["import-csv", db, "--table",
                 "T", fifo], ["create", db], ["check", foreign]):
        rc, out, err = run(*args)
        want(rc == 1 and err.count("\n") <= 3 and any(a in err for a in args[1:]) and "Sanitizer" not in err,
             "%r: exit %d, stderr %r" % (args, rc, err))
    if os.geteuid() == 0:
        return  # root writes into read-only folders
    os.chmod(tmp, 0o500)
    try:
        rc, _, err = run("create", os.path.join(tmp, "new.zdb"))
        want(rc == 1 and "new.zdb" in err, "read-only folder: %d %r" % (rc, err))
    finally:
        os.chmod(tmp, 0o700)


def scenario_check(tmp):
    """A sound database checks clean; bytes past the last block are lost
    space: check says so (exit 1) without changing the file, --repair keeps a
    copy and fixes it."""
    db, path = os.path.join(tmp, "t.zdb"), os.path.join(tmp, "a.csv")
    write_csv(path, rows(1, 50, random.Random(2)))
    run("create", db, "--csv", path, "--table", "T", "--index", "name", rc=0)
    run("check", db, rc=0)
    with open(db, "ab") as f:
        f.write(b"\0" * 100)
    before = open(db, "rb").read()
    run("check", db, rc=1)
    want(open(db, "rb").read() == before, "a read-only check changed the file")
    run("check", "--repair", db, rc=0)
    want(open(db + ".bak", "rb").read() == before, "backup")
    run("check", db, rc=0)
    run("compact", db, rc=0)
    run("check", db, rc=0)
    want(table_line(db)[3] == "50", "records after repair and compaction")
    # Cut inside its directory: every step still reports, the check ends
    # with exit 1.
    with open(db, "r+b") as f:
        f.truncate(20000)
    rc, out, err = run("check", db, rc=1)
    want(db in out and out.count("\n") > 10 and not err, "cut file:\n" + out + err)


def scenario_interrupt(tmp):
    """Ctrl-C during an import: exit 130, the rows read so far committed,
    the file checks clean."""
    db, path = os.path.join(tmp, "t.zdb"), os.path.join(tmp, "a.csv")
    write_csv(path, [["1", "n000000", "1.00", "", ""]])
    run("create", db, "--csv", path, "--table", "T", "--unique", "id", rc=0)
    with open(path, "w", newline="") as f:
        f.write("id,name\n" + "".join("%d,n%d\n" % (i, i) for i in range(2, 400002)))
    p = subprocess.Popen([TOOL, "db", "import-csv", db, "--table", "T", path, "--batch", "1000"],
                         stderr=subprocess.PIPE)
    # Interrupt as soon as the first batches reach the file: a fast build
    # imports the whole file in about a second.
    start, deadline = os.path.getsize(db), time.time() + 60
    while os.path.getsize(db) == start and p.poll() is None and time.time() < deadline:
        time.sleep(0.005)
    p.send_signal(signal.SIGINT)
    _, err = p.communicate(timeout=120)
    want(p.returncode == 130 and b"interrupted" in err, "exit %d, %r" % (p.returncode, err))
    count = int(table_line(db)[3])
    want(1 < count < 400001, "%d records after the interruption" % count)
    run("check", db, rc=0)


def scenario_demo(tmp):
    """`zorvane demo`: the totals it prints (of the invoices shown and of
    the whole run) against Python's decimal over the dumped lines and items
    (cents rounded half away from zero, as the library rounds), a clean
    check, a second run over its own file; files it did not make are refused
    and left as they were."""
    db = os.path.join(tmp, "demo.zdb")

    def demo(out, rc):
        p = subprocess.run([TOOL, "demo", "--out", out, "--invoices", "60"], capture_output=True, text=True,
                           timeout=300)
        want(p.returncode == rc, "demo --out %s: exit %d, want %d\n%s%s" % (out, p.returncode, rc, p.stdout, p.stderr))
        return p

    demo(db, 0)
    out = demo(db, 0).stdout  # replaces its own database

    def french(amount):  # thousands by spaces, decimal comma
        return "{:,.2f}".format(amount).replace(",", " ").replace(".", ",")

    def dump(table):
        return [line.split("\t") for line in run("dump", db, "--table", table, rc=0)[1].splitlines()[1:]]

    items = {code: (Decimal(price), Decimal(rate)) for code, _, price, rate in dump("Articles")}
    cent, totals = Decimal("0.01"), {}
    for invoice, _, item, quantity, price in dump("Lignes"):
        want(Decimal(price) == items[item][0], "invoice %s sells %s at %s" % (invoice, item, price))
        ht = (Decimal(quantity) * Decimal(price)).quantize(cent, ROUND_HALF_UP)
        tva = (ht * items[item][1] / 100).quantize(cent, ROUND_HALF_UP)
        for key in (int(invoice), 0):  # 0: the whole run
            h, t = totals.get(key, (0, 0))
            totals[key] = (h + ht, t + tva)
    shown = re.findall(r"^Facture (\d+) du .*\n(?:  .*%\n)+  HT (.+?)   TVA (.+?)   TTC (.+)$", out, re.M)
    shown += [("0",) + g for g in re.findall(r"^Total of 60 invoices: HT (.+?)   TVA (.+?)   TTC (.+)$", out, re.M)]
    want(len(shown) == 4 and db in out, "demo output:\n" + out)
    for number, *texts in shown:
        h, t = totals[int(number)]
        python = [french(h), french(t), french(h + t)]
        want(texts == python, "invoice %s: %r, Python %r" % (number, texts, python))
    run("check", db, rc=0)
    other, notes, fifo = (os.path.join(tmp, n) for n in ("other.zdb", "notes.txt", "pipe"))
    write_csv(notes, [["1", "a", "1.00", "", ""]])
    run("create", other, "--csv", notes, "--table", "T", rc=0)
    os.mkfifo(fifo)
    for path in (other, notes, fifo):
        before = None if path == fifo else open(path, "rb").read()
        err = demo(path, 1).stderr
        want(path in err and err.count("\n") == 1, "refusal of %s: %r" % (path, err))
        want(before is None or open(path, "rb").read() == before, path + " changed")


if __name__ == "__main__":
    with tempfile.TemporaryDirectory() as tmp:
        globals()["scenario_" + sys.argv[2]](tmp)
