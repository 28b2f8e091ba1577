#!/usr/bin/env python3
"""Writes a price list workbook (.xlsx) for the tests and the benchmark.

Usage: make_workbook.py OUT.xlsx ROWS.json
ROWS.json is a list of rows for the first worksheet, starting with the header row. Each cell is
null (left unwritten), a string (written as text) or a number (written as a number cell).
"""
import json
import sys

import xlsxwriter


def main():
    if len(sys.argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    out, rows_path = sys.argv[1], sys.argv[2]
    with open(rows_path, encoding="utf-8") as f:
        rows = json.load(f)
    book = xlsxwriter.Workbook(out, {"strings_to_numbers": False, "strings_to_formulas": False,
                                     "strings_to_urls": False})
    sheet = book.add_worksheet("Prices")
    for r, row in enumerate(rows):
        for c, value in enumerate(row):
            if value is None:
                continue
            if isinstance(value, str):
                sheet.write_string(r, c, value)
            else:
                sheet.write_number(r, c, value)
    book.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
