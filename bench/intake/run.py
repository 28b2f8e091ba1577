#!/usr/bin/env python3
"""Reads the same workbooks with the price-grid reader, its floors (the bare inflate of the sheet part
with libzip and with unzip -p, and inflate plus expat with empty handlers), SheetJS and openpyxl
(read-only), and prints wall time, CPU time, peak memory and ratios side by side.

usage: run.py BENCH_BINARY [--before OLD_BENCH_BINARY] [--floor FLOOR_BINARY] [--work DIR]
              [--rows 50000,100000,200000] [--repeat 3] [--skip-openpyxl]

BENCH_BINARY is the built bench_intake_read (build/default/bench/intake/bench_intake_read); the floor
program bench_xlsx_floor is taken from beside it. The workbooks are written once into the work
folder with xlsxwriter's constant-memory mode. SheetJS comes from `npm install` in this folder.
"""
import argparse
import os
import random
import subprocess
import sys
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))


def write_price_list(path):
    import xlsxwriter
    wb = xlsxwriter.Workbook(path, {'constant_memory': True})
    ws = wb.add_worksheet('Prices')
    ws.write_row(0, 0, ['guid', 'name', 'category', 'price1', 'price2', 'price3', 'price4',
                        'barcode', 'maker', 'unit', 'note'])
    rng = random.Random(1)
    for r in range(1, 1500):
        ws.write_string(r, 0, '{%08X-1234-5678-9ABC-%012X}' % (r, rng.getrandbits(48)) if r % 3 else '')
        ws.write_string(r, 1, 'Medicine %d %dmg' % (r, rng.choice([5, 10, 250, 500])))
        ws.write_string(r, 2, 'Category %d' % rng.randrange(40))
        for c in range(3, 7):
            ws.write_number(r, c, round(rng.uniform(1, 5000), 2))
        ws.write_number(r, 7, rng.randrange(10**12, 10**13))
        ws.write_string(r, 8, 'Maker %d' % rng.randrange(100))
        ws.write_string(r, 9, rng.choice(['box', 'strip', 'bottle']))
        ws.write_string(r, 10, '')
    wb.close()


def write_large(path, rows):
    import xlsxwriter
    wb = xlsxwriter.Workbook(path, {'constant_memory': True})
    ws = wb.add_worksheet()
    rng = random.Random(rows)
    words = ['alpha', 'beta', 'gamma', 'delta', 'epsilon', 'zeta', 'eta', 'theta']
    for r in range(rows):
        for c in range(30):
            if c % 3 == 0:
                ws.write_string(r, c, '%s %d' % (words[(r + c) % 8], r % 1000))
            else:
                ws.write_number(r, c, rng.randrange(100000) / 100)
    wb.close()


def measure(cmd, keep_output=True):
    """Runs cmd; returns (wall seconds, CPU seconds, peak KiB, stdout) or raises on failure."""
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE if keep_output else subprocess.DEVNULL,
                            stderr=subprocess.PIPE)
    out = proc.stdout.read() if keep_output else b''
    err = proc.stderr.read()
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        raise RuntimeError('%s failed: %s' % (cmd[0], err.decode(errors='replace').strip()))
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss, out.decode().strip()


def median_of(n, cmd, keep_output=True):
    """The run with the median wall time of n runs."""
    runs = sorted((measure(cmd, keep_output) for _ in range(n)), key=lambda r: r[0])
    return runs[len(runs) // 2]


def sheet_part(path):
    """The first worksheet's part name (the writers used here name it sheet1.xml)."""
    with zipfile.ZipFile(path) as z:
        names = z.namelist()
    for name in ['xl/worksheets/sheet1.xml'] + sorted(names):
        if name in names and name.startswith('xl/worksheets/') and name.endswith('.xml'):
            return name
    raise RuntimeError('%s has no worksheet part' % path)


COLUMNS = [  # key, heading
    ('before', 'before'), ('qalu', 'qalu'), ('inflate', 'inflate'), ('unzip', 'unzip -p'),
    ('expat', 'expat'), ('sheetjs', 'sheetjs'), ('openpyxl', 'openpyxl'),
]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('bench')
    ap.add_argument('--floor', help='bench_xlsx_floor (default: beside BENCH_BINARY)')
    ap.add_argument('--before', help='an earlier build of bench_intake_read, measured beside this one')
    ap.add_argument('--work', default=os.path.join(HERE, '..', '..', 'build', 'bench-intake'))
    ap.add_argument('--rows', default='50000,100000,200000')
    ap.add_argument('--repeat', type=int, default=3, help='runs of the C++ programs; the median counts')
    ap.add_argument('--skip-openpyxl', action='store_true')
    args = ap.parse_args()
    floor = args.floor or os.path.join(os.path.dirname(os.path.abspath(args.bench)), 'bench_xlsx_floor')
    os.makedirs(args.work, exist_ok=True)

    books = [('price list 1,500 x 11', os.path.join(args.work, 'price_list.xlsx'), write_price_list, None)]
    for n in [int(x) for x in args.rows.split(',')]:
        books.append(('%s x 30' % format(n, ','), os.path.join(args.work, 'rows_%d.xlsx' % n), write_large, n))
    for _, path, writer, n in books:
        if not os.path.exists(path):
            print('writing %s ...' % os.path.basename(path), file=sys.stderr)
            writer(path) if n is None else writer(path, n)

    node = ['node', os.path.join(HERE, 'sheetjs_read.js')]
    if not os.path.isdir(os.path.join(HERE, 'node_modules', 'xlsx')):
        sys.exit('run.py: SheetJS missing: run `npm install` in %s' % HERE)
    python = [sys.executable, os.path.join(HERE, 'openpyxl_read.py')]

    results = []
    for label, path, _, n in books:
        print('reading %s ...' % label, file=sys.stderr)
        part = sheet_part(path)
        r = {}
        if args.before:
            r['before'] = median_of(args.repeat, [args.before, path])
        r['qalu'] = median_of(args.repeat, [args.bench, path])
        r['inflate'] = median_of(args.repeat, [floor, path, part])
        r['unzip'] = median_of(args.repeat, ['unzip', '-p', path, part], keep_output=False)
        r['expat'] = median_of(args.repeat, [floor, path, part, 'expat'])
        r['sheetjs'] = measure(node + [path])
        if not args.skip_openpyxl:
            r['openpyxl'] = measure(python + [path])
        results.append((label, r))

    columns = [(k, h) for k, h in COLUMNS if k != 'before' or args.before]
    nan = float('nan')

    def table(title, index, scale, fmt):
        head = '%-22s | ' % title + ' '.join('%8s' % h for _, h in columns)
        print(head)
        print('-' * len(head))
        for label, r in results:
            print('%-22s | ' % label + ' '.join(
                fmt % (r[k][index] / scale) if k in r else '%8s' % '-' for k, _ in columns))
        print()

    table('wall seconds', 0, 1, '%8.3f')
    table('CPU seconds (user+sys)', 1, 1, '%8.3f')
    table('peak MiB (max RSS)', 2, 1024, '%8.0f')

    def ratio(r, a, b, index=0):
        return r[a][index] / r[b][index] if a in r and b in r else nan

    head = '%-22s | %9s %9s | %9s %9s | %9s %9s' % (
        'ratios (wall)', 'qalu/infl', 'qalu/expt', 'sjs/qalu', 'opxl/qalu', 'before/q', 'cpu sjs/q')
    print(head)
    print('-' * len(head))
    for label, r in results:
        print('%-22s | %9.2f %9.2f | %9.1f %9.1f | %9.2f %9.1f' % (
            label, ratio(r, 'qalu', 'inflate'), ratio(r, 'qalu', 'expat'), ratio(r, 'sheetjs', 'qalu'),
            ratio(r, 'openpyxl', 'qalu'), ratio(r, 'before', 'qalu'), ratio(r, 'sheetjs', 'qalu', 1)))
    print('\nEach figure covers the whole process (start-up included); the C++ programs are the median of %d'
          ' runs, the peers one run.' % args.repeat)
    print('inflate: libzip inflating the first sheet part only; unzip -p: the same with Info-ZIP to /dev/null;')
    print('expat: inflating plus expat with empty handlers, one thread. qalu/infl is the reader over that floor;')
    print('sjs/qalu and opxl/qalu are how many times faster the reader is than the peer.')


if __name__ == '__main__':
    main()
