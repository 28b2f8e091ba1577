#!/usr/bin/env python3
r"""Compares qalu-cli grid output of the Windows build with the Linux build's.

usage: compare-grid.py LINUX.out WINDOWS.out

The Linux output is first passed through code page 1256 (what the Windows build's 8-bit grid texts
hold: characters it cannot hold become '?'), its escapes (\\, \t, \n, \r kept; \xHH and
\u{XXXX} read back into the character they stand for) taken into account. Then the files must match byte for byte, except in
lines where the only differences are runs of digits: the locale's date forms, where Qt on Linux
writes Arabic-Indic digits (not in code page 1256) and Windows Latin ones. Prints one line: same,
same-but-dates N (N such lines), or differs at line N. Exit 0 for the first two.
"""
import re
import sys

ARABIC_INDIC = re.compile(r'[\u0660-\u0669]')
DIGITS = re.compile(r'[0-9?\u0660-\u0669]+')
TOKEN = re.compile(r'\\\\|\\[tnr]|\\x([0-9A-F]{2})|\\u\{([0-9A-F]{4,6})\}|.', re.S)


def shown(c):
    """The escape qalu-cli writes for a character, or the character itself."""
    o = ord(c)
    if o < 0x20 or 0x7F <= o <= 0x9F:
        return '\\x%02X' % o
    if o in (0x2028, 0x2029) or 0x202A <= o <= 0x202E or 0x2066 <= o <= 0x2069:
        return '\\u{%04X}' % o
    return c


def through_code_page(line):
    """The Linux line as the Windows build writes it: each character through code page 1256."""
    out = []
    for m in TOKEN.finditer(line):
        if m.group(1) or m.group(2):
            c = chr(int(m.group(1) or m.group(2), 16))
            out.append(shown(c.encode('cp1256', 'replace').decode('cp1256')))
        elif len(m.group(0)) == 2 and m.group(0).startswith('\\'):
            out.append(m.group(0))
        else:
            out.append(m.group(0).encode('cp1256', 'replace').decode('cp1256'))
    return ''.join(out)


def main():
    linux_path, windows_path = sys.argv[1], sys.argv[2]
    dates = 0
    with open(linux_path, 'rb') as lf, open(windows_path, 'rb') as wf:
        for number, (l, w) in enumerate(zip(lf, wf), 1):
            expected = through_code_page(l.decode('utf-8', 'replace').removesuffix('\n'))
            got = w.decode('utf-8', 'replace').removesuffix('\n')
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
