#include "intake/price_grid.h"

#include <algorithm>

namespace qalu {

TStringGrid::TStringGrid(int colCount, int rowCount)
    : m_colCount(std::max(colCount, 1)), m_rowCount(std::max(rowCount, 1))
{
}

void TStringGrid::setRowCount(int rows)
{
    m_rowCount = std::max(rows, 1);
}

void TStringGrid::setColCount(int cols)
{
    m_colCount = std::max(cols, 1);
}

QByteArray TStringGrid::Cells(int col, int row) const
{
    if (col < 0 || row < 0)
        return QByteArray();
    return m_cells.value(key(col, row));
}

void TStringGrid::setCells(int col, int row, const QByteArray &text)
{
    if (col < 0 || row < 0)
        return;
    // An empty text is stored as no entry at all: it reads the same and costs nothing.
    if (text.isEmpty())
        m_cells.remove(key(col, row));
    else
        m_cells.insert(key(col, row), text);
}

QString TStringGrid::cellText(int col, int row) const
{
    return fromGridText(Cells(col, row));
}

void TStringGrid::setCellText(int col, int row, const QString &text)
{
    setCells(col, row, toGridText(text));
}

QString fromGridText(const QByteArray &text)
{
    return text.isEmpty() ? QStringLiteral("") : QString::fromLocal8Bit(text);
}

QByteArray toGridText(const QString &text)
{
    return text.toLocal8Bit();
}

} // namespace qalu
