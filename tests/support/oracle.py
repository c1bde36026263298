"""The harness of the oracle scripts (tests/<folder>/<name>_oracle.py).

A script compares the driver program built from <name>_driver.cpp, found in
the folder given as the script's only argument, with a computation of its
own. It queues questions with the answers it expects, sends them in one batch
to one process of the driver, and reports the first mismatches with their
questions; it exits non-zero on any mismatch or when the driver fails. Cases
come from the Oracle's random generator, seeded by the script; the seed is
printed with every summary and ZOR_ORACLE_SEED overrides it, so that a
failure reproduces.

The protocol (tests/support/driver.h): one question per line, fields
separated by TAB, one answer line per question; "E <family> <number>" for a
library error. Lines are bytes read as Latin-1, so a str carries any byte.
"""
import os
import random
import subprocess
import sys

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
SHOWN = 20


def line(question):
    """A question's line: the fields of a tuple or list joined by TABs, truth values as 0 or 1."""
    if not isinstance(question, (tuple, list)):
        return question
    return "\t".join(str(int(x)) if isinstance(x, bool) else str(x) for x in question)


def short(text):
    return text if len(text) < 300 else text[:300] + "..."


class Oracle:
    def __init__(self, driver, seed, encoding="latin-1"):
        self.name, self.encoding = driver, encoding
        self.path = os.path.join(sys.argv[1], driver)
        self.seed = int(os.environ.get("ZOR_ORACLE_SEED", seed))
        self.rng = random.Random(self.seed)
        self.checks, self.failures, self.queue, self.proc = 0, [], [], None

    def ask(self, question, want, what=None):
        """Queues a question. `want` is the expected answer line, or a function
        of the answer line that is true when the answer is right."""
        self.queue.append((line(question), want, what))

    def run(self, *args):
        """Sends the queued questions to one process of the driver, started
        with `args`, and judges every answer."""
        queue, self.queue = self.queue, []
        feed = "".join(q + "\n" for q, _, _ in queue).encode(self.encoding)
        p = subprocess.run([self.path, *args], input=feed, capture_output=True)
        answers = p.stdout.decode(self.encoding).split("\n")[:-1]
        if p.returncode:
            self.check(False, "%s stopped with status %d after %d answers:\n%s"
                       % (self.name, p.returncode, len(answers), p.stderr.decode("latin-1")[-3000:]))
        answers += [None] * (len(queue) - len(answers))
        for (q, want, what), got in zip(queue, answers):
            self.expect(got, want, what or q)

    def call(self, question):
        """Asks one question of a driver process kept running; its answer."""
        if self.proc is None:
            self.proc = subprocess.Popen([self.path], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                         encoding=self.encoding)
        self.proc.stdin.write(line(question) + "\n")
        self.proc.stdin.flush()
        answer = self.proc.stdout.readline()
        if not answer:
            self.check(False, "%s stopped after: %s" % (self.name, line(question)))
            self.finish()
        return answer[:-1]

    def expect(self, got, want, what):
        try:
            ok = got == want if not callable(want) else got is not None and want(got)
        except ValueError:  # an answer the judge cannot read
            ok = False
        self.check(ok, "%s\n   got  %s\n   want %s" % (short(what), short(repr(got)),
                                                          "(judged)" if callable(want) else short(repr(want))))

    def check(self, ok, what):
        self.checks += 1
        if not ok:
            self.failures.append(what)

    def finish(self):
        if self.proc is not None:
            self.proc.stdin.close()
            proc, self.proc = self.proc, None
            self.check(proc.wait() == 0, "%s stopped with status %d" % (self.name, proc.returncode))
        for f in self.failures[:SHOWN]:
            print("MISMATCH", f)
        print("%s (seed %d): %d checks, %d failures" % (self.name, self.seed, self.checks, len(self.failures)))
        sys.exit(1 if self.failures else 0)


def unescape(text):
    return text.replace("\\\\", "\0").replace('\\"', '"').replace("\\n", "\n").replace("\\t", "\t") \
        .replace("\\r", "\r").replace("\0", "\\")


def catalogue(module=None):
    """{(module, group, number): (text as the file writes it, symbol)} read
    from the message catalogue's data files with a parser of its own (not
    the build's converter)."""
    top = os.path.join(ROOT, "resources", "messages")
    entries = {}
    for folder in os.listdir(top):
        if not folder.startswith("module") or module not in (None, int(folder[6:])):
            continue
        for name in os.listdir(os.path.join(top, folder)):
            if not (name.startswith("group") and name.endswith(".txt")):
                continue
            group = int(name[5:].split("_")[0].split(".")[0])
            for raw in open(os.path.join(top, folder, name), encoding="utf-8"):
                text = raw.strip()
                if text and not text.startswith("#"):
                    head, _, rest = text.partition('"')
                    fields = head.split() + [""]
                    entries[(int(folder[6:]), group, int(fields[0]))] = (rest[:-1], fields[1])
    return entries
