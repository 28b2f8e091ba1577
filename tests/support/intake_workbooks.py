#!/usr/bin/env python3
"""Writes the workbooks the intake tests read, into the folder given as first argument.

Most come from real writers (xlsxwriter, openpyxl); the packages a writer will not produce
(phonetic runs, odd sheet orders, hostile files) are put together here with zipfile.
Further arguments name the workbooks to write (default: all).
"""
import datetime
import os
import sys
import zipfile
import zlib

import openpyxl
import xlsxwriter

OUT = sys.argv[1]
ONLY = set(sys.argv[2:])

NS = 'xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" ' \
     'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"'
REL = 'http://schemas.openxmlformats.org/officeDocument/2006/relationships/'
HEAD = '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'

# Numbers for the general-format table: (label, value). The test holds the expected texts.
NUMBERS = [
    ('decimal', 12.5), ('integer', 7), ('million', 1234567), ('float sum', 0.1 + 0.2),
    ('smallest plain', 0.0001), ('below plain', 0.00001), ('negative', -2.5),
    ('large scientific', 1.5e17), ('ten to fifteen', 1e15), ('fifteen nines', 999999999999999),
    ('rounds up to 1E15', 999999999999999.9), ('sixteen digits', 1234567890123456),
    ('third', 1 / 3), ('tiny', 1.2345e-300), ('negative small', -0.000012), ('zero', 0),
    ('two thirds negative', -2 / 3), ('price', 1499.99),
]


def path(name):
    return os.path.join(OUT, name)


def wanted(name):
    return not ONLY or name in ONLY


def package(name, parts, workbook_part='xl/workbook.xml'):
    """A zip of the given parts plus the package root relationships."""
    with zipfile.ZipFile(path(name), 'w', zipfile.ZIP_DEFLATED) as z:
        z.writestr('[Content_Types].xml', HEAD + '<Types xmlns="http://schemas.openxmlformats.org/'
                   'package/2006/content-types"><Default Extension="xml" ContentType="application/xml"/>'
                   '</Types>')
        z.writestr('_rels/.rels', HEAD + '<Relationships xmlns="http://schemas.openxmlformats.org/package/'
                   '2006/relationships"><Relationship Id="rId1" Type="' + REL + 'officeDocument" Target="'
                   + workbook_part + '"/></Relationships>')
        for part, data in parts.items():
            z.writestr(part, data)


def raw_workbook(name, sheets, shared=None, styles=None, date1904=False):
    """sheets: [(sheet name, part file name, sheet data xml)] in workbook order."""
    rels, entries, parts = [], [], {}
    for i, (sheet_name, file_name, data) in enumerate(sheets):
        rid = 'rId%d' % (i + 10)
        rels.append('<Relationship Id="%s" Type="%sworksheet" Target="worksheets/%s"/>' % (rid, REL, file_name))
        entries.append('<sheet name="%s" sheetId="%d" r:id="%s"/>' % (sheet_name, i + 1, rid))
        parts['xl/worksheets/' + file_name] = data if data.startswith('<?xml') else \
            HEAD + '<worksheet ' + NS + '><sheetData>' + data + '</sheetData></worksheet>'
    if shared is not None:
        rels.append('<Relationship Id="rId1" Type="%ssharedStrings" Target="sharedStrings.xml"/>' % REL)
        parts['xl/sharedStrings.xml'] = shared if shared.startswith('<?xml') else \
            HEAD + '<sst ' + NS + '>' + shared + '</sst>'
    if styles is not None:
        rels.append('<Relationship Id="rId2" Type="%sstyles" Target="styles.xml"/>' % REL)
        parts['xl/styles.xml'] = HEAD + '<styleSheet ' + NS + '>' + styles + '</styleSheet>'
    parts['xl/workbook.xml'] = HEAD + '<workbook ' + NS + '>' + \
        ('<workbookPr date1904="1"/>' if date1904 else '') + '<sheets>' + ''.join(entries) + '</sheets></workbook>'
    parts['xl/_rels/workbook.xml.rels'] = HEAD + '<Relationships xmlns="http://schemas.openxmlformats.org/' \
        'package/2006/relationships">' + ''.join(rels) + '</Relationships>'
    package(name, parts)


def xlsxwriter_book(name, fill, **options):
    if not wanted(name):
        return
    wb = xlsxwriter.Workbook(path(name), options)
    fill(wb)
    wb.close()


def numbers(wb):
    ws = wb.add_worksheet()
    for row, (label, value) in enumerate(NUMBERS):
        ws.write_string(row, 0, label)
        ws.write_number(row, 1, value)


def kinds(wb):
    ws = wb.add_worksheet('Prices')
    bold = wb.add_format({'bold': True})
    date = wb.add_format({'num_format': 'dd/mm/yyyy'})
    datetime_format = wb.add_format({'num_format': 'yyyy-mm-dd hh:mm:ss'})
    time = wb.add_format({'num_format': 'hh:mm'})
    elapsed = wb.add_format({'num_format': '[h]:mm'})
    quoted_d = wb.add_format({'num_format': '0.00" dz"'})
    currency = wb.add_format({'num_format': '"$"#,##0.00'})
    builtin_currency = wb.add_format({'num_format': 7})
    euro = wb.add_format({'num_format': '[$\u20ac-407] #,##0.00'})
    locale_tag = wb.add_format({'num_format': '[$-409]#,##0.00'})
    grouped = wb.add_format({'num_format': '#,##0.00'})
    rows = [
        ('text', lambda r: ws.write_string(r, 1, 'Paracetamol 500mg')),
        ('blanks kept', lambda r: ws.write_string(r, 1, '  spaced  ')),
        ('arabic', lambda r: ws.write_string(r, 1, '\u0628\u0627\u0631\u0627\u0633\u064a\u062a\u0627\u0645\u0648\u0644')),
        ('rich text', lambda r: ws.write_rich_string(r, 1, 'Amo', bold, 'xicillin', ' 250')),
        ('true', lambda r: ws.write_boolean(r, 1, True)),
        ('false', lambda r: ws.write_boolean(r, 1, False)),
        ('formula number', lambda r: ws.write_formula(r, 1, '=2*3', None, 6)),
        ('formula text', lambda r: ws.write_formula(r, 1, '="a"&"b"', None, 'ab')),
        ('formula boolean', lambda r: ws.write_formula(r, 1, '=1=1', None, True)),
        ('date', lambda r: ws.write_datetime(r, 1, datetime.datetime(2021, 7, 4), date)),
        ('date and time', lambda r: ws.write_datetime(r, 1, datetime.datetime(2021, 7, 4, 13, 30, 15), datetime_format)),
        ('time alone', lambda r: ws.write_number(r, 1, 0.5625, time)),
        ('elapsed time', lambda r: ws.write_number(r, 1, 0.25, elapsed)),
        ('early 1900 date', lambda r: ws.write_number(r, 1, 1, date)),
        ('quoted d is no date', lambda r: ws.write_number(r, 1, 2.5, quoted_d)),
        ('currency', lambda r: ws.write_number(r, 1, 1234.56789, currency)),
        ('currency whole', lambda r: ws.write_number(r, 1, 1500, currency)),
        ('currency negative', lambda r: ws.write_number(r, 1, -0.5, builtin_currency)),
        ('currency euro', lambda r: ws.write_number(r, 1, 1e15, euro)),
        ('locale tag is no currency', lambda r: ws.write_number(r, 1, 2.123456, locale_tag)),
        ('grouped number', lambda r: ws.write_number(r, 1, 1234567.891, grouped)),
        ('control characters', lambda r: ws.write_string(r, 1, 'a\tb\nc\\d\re')),
    ]
    for row, (label, write) in enumerate(rows):
        ws.write_string(row, 0, label)
        write(row)
    ws.write_blank(len(rows) + 3, 5, None, bold)  # formatting alone does not make a cell used


def dates1904(wb):
    ws = wb.add_worksheet()
    date = wb.add_format({'num_format': 'dd/mm/yyyy'})
    ws.write_string(0, 0, 'date')
    ws.write_datetime(0, 1, datetime.datetime(2021, 7, 4), date)
    ws.write_string(1, 0, 'first day')
    ws.write_number(1, 1, 0, date)


def error_value(wb):
    ws = wb.add_worksheet()
    for r in range(4):
        ws.write_string(r, 0, 'row%d' % (r + 1))
        ws.write_number(r, 1, r + 1)
    ws.write_formula(2, 1, '=NA()', None, '#N/A')
    ws.write_string(2, 2, 'after')


def empty(wb):
    wb.add_worksheet()
    wb.add_worksheet().write_string(0, 0, 'second sheet')


def only_a1(wb):
    wb.add_worksheet().write_string(0, 0, 'header')


def header_row(wb):
    ws = wb.add_worksheet()
    for c in range(11):
        ws.write_string(0, c, 'H%d' % (c + 1))


def far_cell(wb):
    wb.add_worksheet().write_string(1048575, 16383, 'far')


def offset_start(wb):
    ws = wb.add_worksheet()
    ws.write_string(2, 3, 'C')
    ws.write_number(4, 2, 5)


def chart_first(wb):
    chart = wb.add_chart({'type': 'line'})
    data = wb.add_worksheet('Data')
    data.write_column(0, 0, [1, 2, 3])
    data.write_string(0, 1, 'data sheet')
    chart.add_series({'values': '=Data!$A$1:$A$3'})
    cs = wb.add_chartsheet('Chart')
    cs.set_chart(chart)
    cs.activate()
    # xlsxwriter keeps the order of creation; put the chart sheet first.
    wb.worksheets_objs.insert(0, wb.worksheets_objs.pop())


def cli_small(wb):
    ws = wb.add_worksheet()
    ws.write_row(0, 0, ['Name', 'Price', 'Note'])
    ws.write_row(1, 0, ['Aspirin', 12.5, 'tab\there'])
    ws.write_row(2, 0, ['back\\slash', 7])
    ws.write_string(3, 1, 'esc\x1b[2J\u202e\u0085\x7f\u2069x')
    ws.write_string(3, 2, 'line\nfeed\rret')


def openpyxl_price_list():
    if not wanted('openpyxl_k300.xlsx'):
        return
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = 'Prices'
    for c in range(1, 12):
        ws.cell(row=1, column=c, value='H%d' % c)
    for r in range(2, 301):
        ws.cell(row=r, column=1, value='{%08d-0000-0000-0000-000000000000}' % r)
        ws.cell(row=r, column=2, value='Medicine %d' % r)
        ws.cell(row=r, column=11, value=r * 1.25)
    # Styled cells without values beyond the data do not count as used, nor does a formula that
    # openpyxl stores without a computed result.
    ws.cell(row=400, column=14).font = openpyxl.styles.Font(bold=True)
    ws.cell(row=5, column=12, value='=A5&B5')
    ws.cell(row=10, column=3, value=None).number_format = '0.00'
    other = wb.create_sheet('Other')
    other['A1'] = 'not read'
    wb.save(path('openpyxl_k300.xlsx'))


def raw_books():
    if wanted('sheet_order.xlsx'):
        raw_workbook('sheet_order.xlsx', [
            ('First', 'sheet2.xml', '<row r="1"><c r="A1" t="inlineStr"><is><t>first in order</t></is></c>'
                                    '<c r="B1"><v>2</v></c></row>'),
            ('Second', 'sheet1.xml', '<row r="1"><c r="A1" t="inlineStr"><is><t>sheet1.xml</t></is></c>'
                                     '<c r="B1"><v>1</v></c></row>'),
        ])
    if wanted('phonetic.xlsx'):
        raw_workbook('phonetic.xlsx', [('S', 'sheet1.xml',
                                        '<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" t="s"><v>1</v></c></row>')],
                     shared='<si><r><t>Ka</t></r><r><rPr><b/></rPr><t xml:space="preserve">n ji</t></r>'
                            '<rPh sb="0" eb="1"><t>KANA</t></rPh><phoneticPr fontId="1"/></si>'
                            '<si><t>x_x000D_y</t></si>')
    if wanted('unordered.xlsx'):
        raw_workbook('unordered.xlsx', [('S', 'sheet1.xml',
                                         '<row r="3"><c r="B3"><v>3</v></c><c r="A3"><v>2</v></c></row>'
                                         '<row r="1"><c r="A1"><v>1</v></c><c r="A1"><v>11</v></c></row>'
                                         '<row><c><v>4</v></c><c t="b"><v>1</v></c></row>')])
    if wanted('no_dimension_trust.xlsx'):
        raw_workbook('no_dimension_trust.xlsx', [('S', 'sheet1.xml', HEAD + '<worksheet ' + NS +
                                                  '><dimension ref="A1:Z999"/><sheetData><row r="1">'
                                                  '<c r="A1"><v>1</v></c><c r="B1"><v>2</v></c>'
                                                  '<c r="C1" s="0"/></row></sheetData></worksheet>')])
    if wanted('prefixed.xlsx'):
        # Writers built on the Open XML SDK prefix every element.
        raw_workbook('prefixed.xlsx', [('S', 'sheet1.xml', HEAD + '<x:worksheet xmlns:x="http://schemas.'
                                        'openxmlformats.org/spreadsheetml/2006/main"><x:sheetData><x:row r="2">'
                                        '<x:c r="A2" t="inlineStr"><x:is><x:t>prefixed</x:t></x:is></x:c>'
                                        '<x:c r="B2"><x:v> 42 </x:v></x:c></x:row></x:sheetData></x:worksheet>')])
    if wanted('streamed.xlsx'):
        # Streaming writers put the sizes after the data (data descriptors).
        import io

        class Unseekable(io.RawIOBase):
            def __init__(self, f):
                self.f = f

            def writable(self):
                return True

            def write(self, b):
                return self.f.write(b)

        with open(path('streamed.xlsx'), 'wb') as raw, zipfile.ZipFile(Unseekable(raw), 'w', zipfile.ZIP_DEFLATED) as z:
            z.writestr('_rels/.rels', HEAD + '<Relationships xmlns="http://schemas.openxmlformats.org/package/'
                       '2006/relationships"><Relationship Id="rId1" Type="' + REL + 'officeDocument" '
                       'Target="/xl/workbook.xml"/></Relationships>')
            z.writestr('xl/workbook.xml', HEAD + '<workbook ' + NS + '><sheets><sheet name="S" sheetId="1" '
                       'r:id="rId1"/></sheets></workbook>')
            z.writestr('xl/_rels/workbook.xml.rels', HEAD + '<Relationships xmlns="http://schemas.openxmlformats.'
                       'org/package/2006/relationships"><Relationship Id="rId1" Type="' + REL + 'worksheet" '
                       'Target="worksheets/../worksheets/data.xml"/></Relationships>')
            with z.open('xl/worksheets/data.xml', 'w') as f:
                f.write((HEAD + '<worksheet ' + NS + '><sheetData><row r="1"><c r="A1"><v>1</v></c>'
                         '<c r="C1" t="inlineStr"><is><t>streamed</t></is></c></row></sheetData></worksheet>').encode())
    # Hostile files.
    if wanted('billion_laughs.xlsx'):
        lol = '<!DOCTYPE lolz [<!ENTITY lol "lol">' + ''.join(
            '<!ENTITY lol%d "%s">' % (i, ('&lol%d;' % (i - 1) if i else '&lol;') * 10) for i in range(10)) + ']>'
        raw_workbook('billion_laughs.xlsx', [('S', 'sheet1.xml', HEAD + lol + '<worksheet ' + NS +
                                              '><sheetData><row r="1"><c r="A1" t="inlineStr"><is><t>&lol9;</t>'
                                              '</is></c><c r="B1"><v>1</v></c></row></sheetData></worksheet>')])
    if wanted('external_entity.xlsx'):
        raw_workbook('external_entity.xlsx', [('S', 'sheet1.xml',
                                               '<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1"><v>1</v></c></row>')],
                     shared=HEAD + '<!DOCTYPE sst [<!ENTITY xxe SYSTEM "file:///etc/passwd">]><sst ' + NS +
                     '><si><t>&xxe;</t></si></sst>')
    if wanted('malformed.xlsx'):
        raw_workbook('malformed.xlsx', [('S', 'sheet1.xml', '<row r="1"><c r="A1"><v>1</v></c><c r="B1"><v>2</row>')])
    if wanted('bad_reference.xlsx'):
        raw_workbook('bad_reference.xlsx', [('S', 'sheet1.xml', '<row r="1"><c r="A1"><v>1</v></c>'
                                             '<c r="XFE1"><v>2</v></c></row>')])
    if wanted('bad_number.xlsx'):
        raw_workbook('bad_number.xlsx', [('S', 'sheet1.xml', '<row r="1"><c r="A1"><v>1</v></c>'
                                          '<c r="B1"><v>nan</v></c></row>')])
    if wanted('huge_tag.xlsx'):
        raw_workbook('huge_tag.xlsx', [('S', 'sheet1.xml', '<row r="1"><c r="A1" x="' + 'a' * (20 << 20) +
                                        '"><v>1</v></c><c r="B1"><v>2</v></c></row>')])
    if wanted('not_zip.xlsx'):
        with open(path('not_zip.xlsx'), 'w') as f:
            f.write('Name,Price\nAspirin,12.5\n')
    if wanted('truncated.xlsx'):
        numbers_path = path('numbers.xlsx')
        if not os.path.exists(numbers_path):
            wb = xlsxwriter.Workbook(numbers_path)
            numbers(wb)
            wb.close()
        data = open(numbers_path, 'rb').read()
        with open(path('truncated.xlsx'), 'wb') as f:
            f.write(data[:len(data) * 2 // 3])
    if wanted('zip_bomb.xlsx'):
        zip_bomb()
    if wanted('forged_size.xlsx'):
        forged_size()
    # Parts over a megabyte are inflated on a helper thread: its end, its errors.
    if wanted('forged_size_large.xlsx'):
        forged_size('forged_size_large.xlsx', lambda actual: 2 << 20)
    if wanted('short_entry.xlsx'):
        forged_size('short_entry.xlsx', lambda actual: actual + 1000)
    if wanted('many_rows.xlsx'):
        raw_workbook('many_rows.xlsx', [('S', 'sheet1.xml', ''.join(
            '<row r="%d"><c r="A%d"><v>%d</v></c><c r="B%d" t="inlineStr"><is><t>r%d</t></is></c></row>'
            % (r, r, r, r, r) for r in range(1, 40001)))])


def zip_bomb():
    """A sheet that inflates to 1.1 GiB of repeated cells, honestly declared."""
    raw_workbook('zip_bomb.xlsx', [('S', 'sheet1.xml', '<row r="1"><c r="A1"><v>1</v></c></row>')])
    chunk = ('<c r="B1"><v>1</v></c>' * 50000).encode()
    # Rebuild the package with the sheet streamed in: zipfile cannot replace an entry.
    src = path('zip_bomb.xlsx')
    tmp = src + '.tmp'
    with zipfile.ZipFile(src) as zin, zipfile.ZipFile(tmp, 'w', zipfile.ZIP_DEFLATED, compresslevel=1) as zout:
        for item in zin.infolist():
            if item.filename != 'xl/worksheets/sheet1.xml':
                zout.writestr(item.filename, zin.read(item))
        info = zipfile.ZipInfo('xl/worksheets/sheet1.xml')
        info.compress_type = zipfile.ZIP_DEFLATED
        with zout.open(info, 'w', force_zip64=True) as f:
            f.write((HEAD + '<worksheet ' + NS + '><sheetData><row r="1">').encode())
            written = 0
            while written < (1100 << 20):
                f.write(chunk)
                written += len(chunk)
            f.write(b'</row></sheetData></worksheet>')
    os.replace(tmp, src)


def forged_size(name='forged_size.xlsx', declared=lambda actual: 1000):
    """A sheet whose declared size differs from what its data inflates to (small by default)."""
    raw_workbook(name, [('S', 'sheet1.xml', '<row r="1"><c r="A1"><v>1</v></c>'
                         + '<c r="B1"><v>1</v></c>' * 200000 + '</row>')])
    data = bytearray(open(path(name), 'rb').read())
    part = b'xl/worksheets/sheet1.xml'
    # Local header: uncompressed size at offset 22; central directory entry: at offset 24.
    pos = 0
    while True:
        pos = data.find(part, pos)
        if pos < 0:
            break
        if data[pos - 30:pos - 26] == b'PK\x03\x04':
            size = declared(int.from_bytes(data[pos - 30 + 22:pos - 30 + 26], 'little'))
            data[pos - 30 + 22:pos - 30 + 26] = size.to_bytes(4, 'little')
        elif data[pos - 46:pos - 42] == b'PK\x01\x02':
            size = declared(int.from_bytes(data[pos - 46 + 24:pos - 46 + 28], 'little'))
            data[pos - 46 + 24:pos - 46 + 28] = size.to_bytes(4, 'little')
        pos += len(part)
    open(path(name), 'wb').write(bytes(data))


xlsxwriter_book('numbers.xlsx', numbers)
xlsxwriter_book('kinds.xlsx', kinds)
xlsxwriter_book('dates1904.xlsx', dates1904, date_1904=True)
xlsxwriter_book('error_value.xlsx', error_value)
xlsxwriter_book('empty.xlsx', empty)
xlsxwriter_book('only_a1.xlsx', only_a1)
xlsxwriter_book('header_row.xlsx', header_row)
xlsxwriter_book('far_cell.xlsx', far_cell)
xlsxwriter_book('offset_start.xlsx', offset_start)
xlsxwriter_book('chart_first.xlsx', chart_first)
xlsxwriter_book('cli_small.xlsx', cli_small)
openpyxl_price_list()
raw_books()
