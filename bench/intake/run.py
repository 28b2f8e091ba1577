#!/usr/bin/env python3
"""Reads the same workbooks with the price-grid reader, SheetJS and openpyxl (read-only) and prints
wall time, peak memory and ratios side by side.

usage: run.py BENCH_BINARY [--work DIR] [--rows 50000,100000,200000] [--skip-openpyxl]

BENCH_BINARY is the built bench_intake_read (build/default/bench/intake/bench_intake_read). The
workbooks are written once into the work folder with xlsxwriter's constant-memory mode. SheetJS
comes from `npm install` in this folder.
"""
import argparse
import os
import random
import subprocess
import sys
import time

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


def measure(cmd):
    """Runs cmd; returns (wall seconds, peak KiB, stdout) or raises on failure."""
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    out = proc.stdout.read()
    err = proc.stderr.read()
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        raise RuntimeError('%s failed: %s' % (cmd[0], err.decode(errors='replace').strip()))
    return wall, usage.ru_maxrss, out.decode().strip()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('bench')
    ap.add_argument('--work', default=os.path.join(HERE, '..', '..', 'build', 'bench-intake'))
    ap.add_argument('--rows', default='50000,100000,200000')
    ap.add_argument('--skip-openpyxl', action='store_true')
    args = ap.parse_args()
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

    header = '%-24s %10s %10s %10s %10s %10s %10s %9s %9s %9s' % (
        'workbook', 'qalu s', 'sheetjs s', 'openpyxl s', 'qalu MiB', 'sheetjs MiB', 'opxl MiB',
        'x sheetjs', 'x opxl', 'us/cell')
    print(header)
    print('-' * len(header))
    for label, path, _, n in books:
        q_wall, q_mem, q_out = measure([args.bench, path])
        rows, cols = int(q_out.split('\t')[1]), int(q_out.split('\t')[2])
        s_wall, s_mem, _ = measure(node + [path])
        if args.skip_openpyxl:
            o_wall, o_mem = float('nan'), float('nan')
        else:
            o_wall, o_mem, _ = measure(python + [path])
        print('%-24s %10.3f %10.3f %10.3f %10.0f %10.0f %10.0f %9.1f %9.1f %9.3f' % (
            label, q_wall, s_wall, o_wall, q_mem / 1024, s_mem / 1024, o_mem / 1024,
            s_wall / q_wall, o_wall / q_wall, q_wall * 1e6 / (rows * cols)))
        sys.stdout.flush()
    print('\nwall time and peak resident memory of each whole process; x = times faster than the peer')


if __name__ == '__main__':
    main()
