#!/usr/bin/env python3
"""Compares qalu-cli grid output of the Windows build with the Linux build's.

usage: compare-grid.py LINUX.out WINDOWS.out

The Linux output is first passed through code page 1256 (what the Windows build's 8-bit grid texts
hold: characters it cannot hold become '?'). Then the files must match byte for byte, except in
lines where the only differences are runs of digits: the locale's date forms, where Qt on Linux
writes Arabic-Indic digits (not in code page 1256) and Windows Latin ones. Prints one line: same,
same-but-dates N (N such lines), or differs at line N. Exit 0 for the first two.
"""
import re
import sys

ARABIC_INDIC = re.compile(r'[\u0660-\u0669]')
DIGITS = re.compile(r'[0-9?\u0660-\u0669]+')


def main():
    linux_path, windows_path = sys.argv[1], sys.argv[2]
    dates = 0
    with open(linux_path, 'rb') as lf, open(windows_path, 'rb') as wf:
        for number, (l, w) in enumerate(zip(lf, wf), 1):
            expected = l.decode('utf-8', 'replace').encode('cp1256', 'replace').decode('cp1256')
            got = w.decode('utf-8', 'replace')
            if expected == got:
                continue
            if ARABIC_INDIC.search(l.decode('utf-8', 'replace')) and DIGITS.sub('#', expected) == DIGITS.sub('#', got):
                dates += 1
                continue
            print(f'differs at line {number}')
            return 1
        if lf.read(1) or wf.read(1):
            print('differs in length')
            return 1
    print(f'same-but-dates {dates}' if dates else 'same')
    return 0


sys.exit(main())
