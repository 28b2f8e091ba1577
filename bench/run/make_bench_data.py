#!/usr/bin/env python3
"""Builds the price update benchmark's inputs.

Usage: make_bench_data.py SOURCE_DIR OUT_DIR [UPDATES INSERTS NEW_CATEGORIES]

OUT_DIR/pharmacy.db  the schema and seed plus one medicine per update row
OUT_DIR/prices.xlsx  header + UPDATES update rows + INSERTS insert rows (interleaved), the insert
                     rows spread over NEW_CATEGORIES new categories and the seeded ones
OUT_DIR/prices.tsv   the same cells as tab-separated text, for the sqlite3 floor program
"""
import os
import random
import sqlite3
import sys
import uuid

import xlsxwriter


def split_script(text):
    statements, current, quote = [], [], None
    i = 0
    while i < len(text):
        c = text[i]
        if quote:
            current.append(c)
            if c == quote:
                quote = None
        elif c == '-' and text[i:i + 2] == '--':
            while i < len(text) and text[i] != '\n':
                i += 1
            current.append('\n')
        elif c in "'\"":
            quote = c
            current.append(c)
        elif c == ';':
            s = ''.join(current).strip()
            if s:
                statements.append(s)
            current = []
        else:
            current.append(c)
        i += 1
    s = ''.join(current).strip()
    if s:
        statements.append(s)
    return statements


def main():
    if len(sys.argv) not in (3, 6):
        sys.stderr.write(__doc__)
        return 2
    source, out = sys.argv[1], sys.argv[2]
    updates, inserts, new_categories = (1300, 199, 20) if len(sys.argv) == 3 else map(int, sys.argv[3:6])
    os.makedirs(out, exist_ok=True)
    rng = random.Random(20210704)

    db_path = os.path.join(out, 'pharmacy.db')
    if os.path.exists(db_path):
        os.remove(db_path)
    db = sqlite3.connect(db_path)
    for name in ('db/sql/sqlite-schema.sql', 'db/sql/seed.sql'):
        with open(os.path.join(source, name), encoding='utf-8') as f:
            for statement in split_script(f.read()):
                db.execute(statement)
    guids = []
    for i in range(updates):
        g = '{%s}' % str(uuid.UUID(int=rng.getrandbits(128), version=4)).upper()
        guids.append(g)
        db.execute('insert into mat00(guid, MatNum, MatName, MatNameEng, salp, Price1, CatGuid) '
                   "values(?, ?, ?, ?, ?, ?, '{9531985D-5D9D-49F8-9818-E811892F902B}')",
                   (g, 5000 + i, 'دواء %d' % i, 'Medicine %d' % i, 10.0, 8.0))
    db.commit()
    db.close()

    categories = ['فئة جديدة %d' % i for i in range(new_categories)] + ['مسكنات', 'فيتامينات']
    rows = [['guid', 'salp', 'price1', 'salp2', 'price2', 'name', 'barcode', 'category', 'cop',
             'pharm', 'form']]
    kinds = ['u'] * updates + ['i'] * inserts
    rng.shuffle(kinds)
    u = 0
    for n, kind in enumerate(kinds):
        price = round(rng.uniform(1, 900), 2)
        if kind == 'u':
            rows.append([guids[u], price, round(price * 0.8, 2), 0, 0])
            u += 1
        else:
            rows.append([None, price, round(price * 0.8, 2), None, None, 'دواء جديد %d' % n,
                         '622%010d' % n, categories[n % len(categories)], 'Brand %d' % n,
                         'tablets', 'أقراص'])

    book = xlsxwriter.Workbook(os.path.join(out, 'prices.xlsx'))
    sheet = book.add_worksheet('Prices')
    with open(os.path.join(out, 'prices.tsv'), 'w', encoding='utf-8') as tsv:
        for r, row in enumerate(rows):
            cells = []
            for c, v in enumerate(row):
                if v is None:
                    cells.append('')
                    continue
                if isinstance(v, str):
                    sheet.write_string(r, c, v)
                    cells.append(v)
                else:
                    sheet.write_number(r, c, v)
                    cells.append(repr(float(v)).rstrip('0').rstrip('.') if v != int(v) else str(int(v)))
            tsv.write('\t'.join(cells) + '\n')
    book.close()
    return 0


if __name__ == '__main__':
    sys.exit(main())
