#!/usr/bin/env python3
"""Kill rates before and after dropping tests, in one pass over one sample.

Draws the same mutants as ../shared/tools/mutants for the same --files and
--seed (its rules and its order), builds each in build-mutants/, and runs
every ctest entry but the dropped ones ("after"); only when that set lets
the mutant live are the dropped tests run ("before"), each alone when they
kill it, so that the report names the test that held the kill.

    scripts/mutants_pair.py --drop dropped.txt --files 'storage/block_file/*.cpp' -n 30 --seed 1

--drop: a file of ctest names, one a line ('#' starts a comment); none
gives the rate of the whole suite. --reached-by-dropped draws the mutants
from the library lines the dropped tests execute, as recorded by
scripts/test_coverage.py (build-cov/coverage_by_test.json). Prints one line
a mutant and "before K of N, after K' of N"."""
import argparse
import collections
import glob
import importlib.machinery
import json
import os
import random
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = "build-mutants"
TOOL = os.path.join(ROOT, "..", "shared", "tools", "mutants")
SKIP = {"install_consumer", "layers"}  # neither runs library code that a mutant changes


def ctest(ids, stop):
    cmd = ["ctest", "--test-dir", BUILD, "-j2", "--timeout", "300", "-I", "0,0,0," + ",".join(map(str, sorted(ids)))]
    if stop:
        cmd.append("--stop-on-failure")
    return subprocess.run(cmd, capture_output=True, text=True).returncode != 0


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--drop")
    ap.add_argument("--files", action="append", default=[])
    ap.add_argument("--reached-by-dropped", action="store_true")
    ap.add_argument("-n", type=int, default=30)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--json")
    a = ap.parse_args()
    os.chdir(ROOT)
    tool = importlib.machinery.SourceFileLoader("mutants", TOOL).load_module()
    dropped = [l.split("#")[0].strip() for l in open(a.drop)] if a.drop else []
    dropped = [d for d in dropped if d]

    for cmd in (["cmake", "-S", ".", "-B", BUILD, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                 "-DCMAKE_LINK_DEPENDS_NO_SHARED=ON"], ["cmake", "--build", BUILD]):
        if subprocess.run(cmd, capture_output=True).returncode:
            sys.exit("mutants_pair: %s failed" % " ".join(cmd))
    listing = subprocess.run(["ctest", "--test-dir", BUILD, "-N"], capture_output=True, text=True).stdout
    number = {n: int(i) for i, n in re.findall(r"Test\s+#(\d+): (\S+)", listing)}
    unknown = [d for d in dropped if d not in number]
    if unknown:
        sys.exit("mutants_pair: no such test: " + ", ".join(unknown))
    after = [number[n] for n in number if n not in dropped and n not in SKIP]
    if ctest(after + [number[d] for d in dropped], stop=False):
        sys.exit("mutants_pair: the unmutated tree fails its tests")

    if a.reached_by_dropped:
        cov = json.load(open(os.path.join("build-cov", "coverage_by_test.json")))
        reached = {l for d in dropped for l in cov.get(d, [])}
        files = sorted({f for f in (l.rsplit(":", 1)[0] for l in reached) if f.endswith(".cpp")})
        pool = [c for f in files for c in tool.candidates(f) if "%s:%d" % (f, c[1]) in reached]
    else:
        files = sorted({f for g in a.files for f in glob.glob(g, recursive=True) if f.endswith((".cpp", ".cc"))})
        pool = [c for f in files for c in tool.candidates(f)]
    random.Random(a.seed).shuffle(pool)

    results, tried = [], 0
    for path, no, start, end, new in pool:
        if tried >= a.n:
            break
        original = open(path, "rb").read()
        mutated, _, shown = tool.apply(path, no, start, end, new)
        try:
            open(path, "w", encoding="utf-8", errors="surrogateescape").write(mutated)
            if subprocess.run(["cmake", "--build", BUILD], capture_output=True).returncode:
                continue
            tried += 1
            held_by = []
            if ctest(after, stop=True):
                verdict = "killed"
            elif dropped and ctest([number[d] for d in dropped], stop=True):
                verdict = "lost"
                held_by = [d for d in dropped if ctest([number[d]], stop=True)]
            else:
                verdict = "survived"
            results.append(dict(file=path, line=no, mutant=shown, verdict=verdict, held_by=held_by))
            print("%d %s %s:%d: %s %s" % (tried, verdict, path, no, shown, " ".join(held_by)), flush=True)
        finally:
            open(path, "wb").write(original)
    subprocess.run(["cmake", "--build", BUILD], capture_output=True)
    count = collections.Counter(r["verdict"] for r in results)
    print("before %d of %d, after %d of %d" % (count["killed"] + count["lost"], tried, count["killed"], tried))
    if a.json:
        json.dump(results, open(a.json, "w"), indent=1)


if __name__ == "__main__":
    main()
