#!/usr/bin/env python3
"""`zorvane messages --group G` prints every message of the catalogue file
of group G (module 1) as "<group> <number> <symbol|-> <text>", the text
escaped as in the file; without --group every group's file is listed; a
missing group exits 1 with a message.

Usage: messages_tool.py <zorvane tool>"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'support'))
from oracle import catalogue  # noqa: E402

tool = sys.argv[1]
failures = []
groups = {}
for (_, group, number), (text, symbol) in sorted(catalogue(1).items()):
    if number:  # number 0 has no place in the direct index
        groups.setdefault(group, []).append('%d %d %s %s' % (group, number, symbol or '-', text.replace('\\"', '"')))
for group, want in groups.items():
    got = subprocess.run([tool, 'messages', '--group', str(group)], capture_output=True, text=True)
    if got.returncode != 0 or got.stdout.splitlines() != want:
        failures.append('group %d: exit %d, first differences %r' % (
            group, got.returncode, [(a, b) for a, b in zip(got.stdout.splitlines(), want) if a != b][:2]))
everything = [line for want in groups.values() for line in want]
whole = subprocess.run([tool, 'messages'], capture_output=True, text=True)
if whole.returncode != 0 or whole.stdout.splitlines() != everything:
    failures.append('listing of every group differs (%d lines, want %d)' % (len(whole.stdout.splitlines()),
                                                                            len(everything)))
missing = subprocess.run([tool, 'messages', '--group', '4'], capture_output=True, text=True)
if missing.returncode != 1 or not missing.stderr or missing.stdout:
    failures.append('a missing group: exit %d, stderr %r' % (missing.returncode, missing.stderr))
for f in failures:
    print('FAIL', f)
sys.exit(1 if failures else 0)
