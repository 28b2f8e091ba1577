"""Peer: openpyxl in read-only mode reads the first worksheet's values as texts."""
import sys

import openpyxl

wb = openpyxl.load_workbook(sys.argv[1], read_only=True, data_only=True)
ws = wb.worksheets[0]
rows = cells = 0
for row in ws.iter_rows(values_only=True):
    texts = ['' if v is None else str(v) for v in row]
    rows += 1
    cells += len(texts)
print('%d\t%d' % (rows, cells))
