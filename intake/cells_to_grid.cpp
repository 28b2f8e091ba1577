#include "intake/cells_to_grid.h"

#include "intake/cell_text.h"
#include "intake/price_grid.h"
#include "intake/xlsx_parts.h"
#include "intake/xlsx_sheet.h"

#include <QLocale>

#include <algorithm>

namespace qalu::xlsx {

void writeCellsToGrid(TStringGrid &grid, SheetCells &cells, const SharedStrings &shared, bool date1904,
    const std::string &separator)
{
    // The rectangle is known only now: the sheet's own dimension element may lie.
    const int x = std::max(cells.lastRow, 1);
    const int y = std::max(cells.lastCol, 1);
    grid.setRowCount(x);
    grid.setColCount(y);
    if (cells.cells.empty())
        fail(QStringLiteral("the first worksheet is empty"));
    if (x == 1 && y == 1)
        fail(QStringLiteral("only cell A1 of the first worksheet is used"));

    if (!cells.sorted)
        std::stable_sort(
            cells.cells.begin(), cells.cells.end(), [](const CellRecord &a, const CellRecord &b) {
                return a.row != b.row ? a.row < b.row : a.col < b.col;
            });
    // Of several records for one cell the last one counts.
    auto isLastOfItsCell = [&](size_t i) {
        return i + 1 == cells.cells.size() || cells.cells[i + 1].row != cells.cells[i].row
            || cells.cells[i + 1].col != cells.cells[i].col;
    };

    // Cells are written top to bottom, each row left to right, up to an error value. Emptying the
    // block that this order passes before the stop, then writing the values, leaves the same grid.
    const size_t total = cells.cells.size();
    size_t stop = total;
    for (size_t i = 0; i < total; ++i)
        if (cells.cells[i].kind == CellKind::Error && isLastOfItsCell(i)) {
            stop = i;
            break;
        }
    if (stop == total) {
        grid.clearBlock(y, 0, x);
    } else {
        const CellRecord &e = cells.cells[stop];
        grid.clearBlock(y, 0, int(e.row) - 1);
        grid.clearBlock(int(e.col) - 1, int(e.row) - 1, int(e.row));
    }

    const QLocale locale = QLocale::system();
    std::string text;
    grid.reserveRows(qsizetype(cells.rowsSeen));
    quint32 reservedRow = 0;
    for (size_t n = 0; n < stop; ++n) {
        const CellRecord &rec = cells.cells.front();
        if (rec.row != reservedRow) {
            // The row's texts in one go: its records follow each other.
            reservedRow = rec.row;
            qsizetype count = 0;
            qsizetype bytes = 0;
            for (size_t i = 0; i < stop - n && cells.cells[i].row == rec.row; ++i) {
                const CellRecord &r = cells.cells[i];
                ++count;
                bytes += r.kind == CellKind::Text    ? qsizetype(r.text.length)
                    : r.kind == CellKind::SharedText ? qsizetype(shared.strings[r.shared].second)
                                                     : 24;
            }
            grid.reserveRow(int(rec.row) - 1, count, bytes);
        }
        if (isLastOfItsCell(0)) {
            text.clear();
            QByteArrayView view;
            switch (rec.kind) {
            case CellKind::Number:
                appendGeneralNumber(text, rec.number, separator);
                break;
            case CellKind::Currency:
                if (!appendCurrency(text, rec.number, separator))
                    appendGeneralNumber(text, rec.number, separator);
                break;
            case CellKind::Date: {
                const SerialDateTime moment = serialToDateTime(rec.number, date1904);
                // A serial outside the calendar stays the number it is.
                if (moment.valid)
                    text = toGridText(dateTimeText(moment, locale)).toStdString();
                else
                    appendGeneralNumber(text, rec.number, separator);
                break;
            }
            case CellKind::Boolean:
                text = rec.number != 0 ? "True" : "False";
                break;
            case CellKind::Text:
                view = QByteArrayView(cells.arena.data() + rec.text.offset, qsizetype(rec.text.length));
                break;
            case CellKind::SharedText: {
                const auto &s = shared.strings[rec.shared];
                view = QByteArrayView(shared.arena.data() + s.first, qsizetype(s.second));
                break;
            }
            case CellKind::Error:
                break;
            }
            if (view.isNull())
                view = QByteArrayView(text.data(), qsizetype(text.size()));
            grid.setCellBytes(int(rec.col) - 1, int(rec.row) - 1, view);
        }
        // Freeing records as they are copied keeps the peak near one copy of the sheet.
        cells.cells.pop_front();
    }
    if (stop != total) {
        const CellRecord &e = cells.cells.front();
        fail(QStringLiteral("cell %1 holds the error value %2")
                 .arg(cellName(e.col, int(e.row)),
                     QString::fromLocal8Bit(cells.arena.data() + e.text.offset, qsizetype(e.text.length))));
    }
}

} // namespace qalu::xlsx
