#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

namespace qalu {

// The price grid: a table of 8-bit texts (the locale's 8-bit encoding) addressed by (column, row)
// from 0, with a row count and a column count kept apart from the texts. Setting a count never
// creates, moves or drops a text; a cell outside the counts can be written and read; a cell never
// written reads empty. Cells are stored sparsely, so memory follows the cells that hold text.
class TStringGrid
{
public:
    TStringGrid(int colCount = 30, int rowCount = 1500);

    int RowCount() const { return m_rowCount; }
    int ColCount() const { return m_colCount; }
    // A count below 1 becomes 1.
    void setRowCount(int rows);
    void setColCount(int cols);

    // The 8-bit text of a cell; empty when never written or last written empty.
    QByteArray Cells(int col, int row) const;
    void setCells(int col, int row, const QByteArray &text);

    // The same cell widened from / narrowed to the locale's 8-bit encoding.
    QString cellText(int col, int row) const;
    void setCellText(int col, int row, const QString &text);

    // Number of cells that hold a non-empty text (whatever the counts).
    qsizetype storedCellCount() const { return m_cells.size(); }

private:
    static quint64 key(int col, int row)
    {
        return (quint64(quint32(col)) << 32) | quint32(row);
    }

    int m_colCount;
    int m_rowCount;
    QHash<quint64, QByteArray> m_cells;
};

// Widens an 8-bit grid text to Unicode with the locale's encoding, and back. A character that the
// encoding cannot hold becomes its replacement character.
QString fromGridText(const QByteArray &text);
QByteArray toGridText(const QString &text);

} // namespace qalu
