#!/usr/bin/env python3
"""Which library lines does each test reach, and which only it reaches?

Builds the tree with clang's source-based coverage in build-cov/ (Release,
no sanitizers), runs every ctest entry alone with its own profile, and
writes build-cov/coverage_by_test.json: for each test, the library lines
(file:line) it executes. Then prints, for each test, its size in lines and
how many of its lines no other test reaches. A test that reaches no line of
its own is a candidate for removal, not a verdict: it may still be the only
one to check what those lines do. scripts/mutants_pair.py measures that.

Usage: scripts/test_coverage.py [--only-report] [-R REGEX]"""
import argparse
import collections
import glob
import json
import os
import re
import shutil
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build-cov")
OUT = os.path.join(BUILD, "coverage_by_test.json")
FLAGS = "-fprofile-instr-generate -fcoverage-mapping"


def run(cmd, **kw):
    return subprocess.run(cmd, capture_output=True, text=True, **kw)


def build():
    env = dict(os.environ, CC="clang", CXX="clang++")
    cfg = ["cmake", "-S", ROOT, "-B", BUILD, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release", "-DZOR_BUILD_BENCH=OFF",
           "-DCMAKE_CXX_FLAGS=" + FLAGS, "-DCMAKE_C_FLAGS=" + FLAGS,
           "-DCMAKE_EXE_LINKER_FLAGS=-fprofile-instr-generate", "-DCMAKE_SHARED_LINKER_FLAGS=-fprofile-instr-generate"]
    for cmd in (cfg, ["cmake", "--build", BUILD]):
        r = run(cmd, env=env)
        if r.returncode:
            sys.exit(r.stdout[-3000:] + r.stderr[-3000:])


def covered_lines(profdata):
    """file:line of the library that the merged profile executed."""
    out = run(["llvm-cov", "export", "-format=lcov", "-skip-functions", os.path.join(BUILD, "libzorvane.so"),
               "-instr-profile=" + profdata]).stdout
    lines, current = [], None
    for line in out.split("\n"):
        if line.startswith("SF:"):
            current = os.path.relpath(line[3:], ROOT)
        elif line.startswith("DA:"):
            no, hits = line[3:].split(",")[:2]
            if int(hits) > 0:
                lines.append("%s:%s" % (current, no))
    return lines


def collect(regex):
    listing = run(["ctest", "--test-dir", BUILD, "-N"] + (["-R", regex] if regex else [])).stdout
    names = re.findall(r"Test\s+#\d+: (\S+)", listing)
    profiles = os.path.join(BUILD, "profiles")
    result = {}
    for i, name in enumerate(names):
        folder = os.path.join(profiles, str(i))
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        env = dict(os.environ, LLVM_PROFILE_FILE=os.path.join(folder, "%p-%m.profraw"))
        run(["ctest", "--test-dir", BUILD, "-R", "^" + re.escape(name) + "$"], env=env)
        raws = glob.glob(os.path.join(folder, "*.profraw"))
        merged = os.path.join(folder, "merged.profdata")
        if raws and run(["llvm-profdata", "merge", "-sparse", "-failure-mode=all", *raws, "-o", merged]).returncode == 0:
            result[name] = covered_lines(merged)
        else:
            result[name] = []
        print("%d/%d %s: %d lines" % (i + 1, len(names), name, len(result[name])), flush=True)
    json.dump(result, open(OUT, "w"))


def test_sizes():
    """Non-blank lines of each GoogleTest case, by Suite.Name."""
    sizes = {}
    for path in glob.glob(os.path.join(ROOT, "tests", "**", "*_test.cpp"), recursive=True):
        lines = open(path, encoding="latin-1").read().split("\n")
        starts = [(i, m) for i, l in enumerate(lines) for m in [re.match(r"TEST(?:_F|_P)?\((\w+),\s*(\w+)\)", l)] if m]
        for k, (i, m) in enumerate(starts):
            end = starts[k + 1][0] if k + 1 < len(starts) else len(lines)
            sizes[m.group(1) + "." + m.group(2)] = sum(1 for l in lines[i:end] if l.strip())
    return sizes


def report():
    cov = json.load(open(OUT))
    reach = collections.Counter(l for lines in cov.values() for l in set(lines))
    sizes = test_sizes()
    rows = []
    for name, lines in cov.items():
        key = re.sub(r"^\w+/|/\d+$|/\(.*$", "", name)
        own = sum(1 for l in set(lines) if reach[l] == 1)
        rows.append((own, -sizes.get(key, 0), name, sizes.get(key, 0), len(set(lines))))
    print("%-8s %-6s %-8s %s" % ("own", "size", "reached", "test"))
    for own, _, name, size, total in sorted(rows):
        print("%-8d %-6d %-8d %s" % (own, size, total, name))


if __name__ == "__main__":
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--only-report", action="store_true")
    ap.add_argument("-R", dest="regex")
    a = ap.parse_args()
    if not a.only_report:
        build()
        collect(a.regex)
    report()
