#!/usr/bin/env python3
"""`zorvane messages --group G` prints every message of the catalogue file
of group G (module 1) as "<group> <number> <symbol|-> <text>", the text
escaped as in the file, read here with a parser of its own; without --group
every group's file is listed; a missing group exits 1 with a message.

Usage: messages_tool.py <zorvane tool> <messages module1 dir>"""
import os
import re
import subprocess
import sys

tool, module_dir = sys.argv[1], sys.argv[2]
failures = []


def expected_lines(path, group):
    lines = []
    for raw in open(path, encoding='utf-8'):
        line = raw.strip()
        if not line or line.startswith('#'):
            continue
        head, _, rest = line.partition('"')
        fields = head.split()
        number = int(fields[0])
        if number == 0:
            continue  # number 0 has no place in the direct index
        text = rest[:-1].replace('\\"', '"')
        lines.append((number, '%d %d %s %s' % (group, number, fields[1] if len(fields) > 1 else '-', text)))
    return [line for _, line in sorted(lines)]


everything = []
for name in sorted(os.listdir(module_dir), key=lambda n: int(re.match(r'group(\d+)', n).group(1))):
    group = int(re.match(r'group(\d+)', name).group(1))
    want = expected_lines(os.path.join(module_dir, name), group)
    everything += want
    got = subprocess.run([tool, 'messages', '--group', str(group)], capture_output=True, text=True)
    if got.returncode != 0 or got.stdout.splitlines() != want:
        failures.append('group %d: exit %d, first differences %r' % (
            group, got.returncode, [(a, b) for a, b in zip(got.stdout.splitlines(), want) if a != b][:2]))
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
