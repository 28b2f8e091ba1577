#include "intake/price_grid.h"

#include <algorithm>

namespace qalu {

TStringGrid::TStringGrid(int colCount, int rowCount)
    : m_colCount(std::max(colCount, 1))
    , m_rowCount(std::max(rowCount, 1))
{
}

// The copies drop the written-row cache: it points into the source's map.
TStringGrid::TStringGrid(const TStringGrid &other)
    : m_colCount(other.m_colCount)
    , m_rowCount(other.m_rowCount)
    , m_stored(other.m_stored)
    , m_rows(other.m_rows)
{
}

TStringGrid &TStringGrid::operator=(const TStringGrid &other)
{
    if (this != &other) {
        m_colCount = other.m_colCount;
        m_rowCount = other.m_rowCount;
        m_stored = other.m_stored;
        m_rows = other.m_rows;
        m_lastRow = -1;
        m_lastRowData = nullptr;
    }
    return *this;
}

TStringGrid::TStringGrid(TStringGrid &&other) noexcept
    : m_colCount(other.m_colCount)
    , m_rowCount(other.m_rowCount)
    , m_stored(other.m_stored)
    , m_rows(std::move(other.m_rows))
{
    other.m_rows.clear();
    other.m_stored = 0;
    other.m_lastRow = -1;
    other.m_lastRowData = nullptr;
}

TStringGrid &TStringGrid::operator=(TStringGrid &&other) noexcept
{
    if (this != &other) {
        m_colCount = other.m_colCount;
        m_rowCount = other.m_rowCount;
        m_stored = other.m_stored;
        m_rows = std::move(other.m_rows);
        m_lastRow = -1;
        m_lastRowData = nullptr;
        other.m_rows.clear();
        other.m_stored = 0;
        other.m_lastRow = -1;
        other.m_lastRowData = nullptr;
    }
    return *this;
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
    const auto it = m_rows.find(row);
    if (it == m_rows.end())
        return QByteArray();
    const Row &r = it->second;
    const auto e = std::lower_bound(
        r.entries.begin(), r.entries.end(), col, [](const Entry &a, int c) { return a.col < c; });
    if (e == r.entries.end() || e->col != col)
        return QByteArray();
    return QByteArray(r.text.data() + e->offset, qsizetype(e->length));
}

void TStringGrid::setCells(int col, int row, const QByteArray &text)
{
    setCellBytes(col, row, QByteArrayView(text));
}

void TStringGrid::setCellBytes(int col, int row, QByteArrayView text)
{
    if (col < 0 || row < 0)
        return;
    Row *rowData = row == m_lastRow ? m_lastRowData : nullptr;
    if (!rowData) {
        auto it = m_rows.find(row);
        if (it == m_rows.end()) {
            // An empty text is stored as no entry at all: it reads the same and costs nothing.
            if (text.isEmpty())
                return;
            it = m_rows.emplace(row, Row()).first;
        }
        rowData = &it->second;
        m_lastRow = row;
        m_lastRowData = rowData;
    }
    Row &r = *rowData;
    auto e = r.entries.end();
    // Rows are mostly written left to right: appending needs no search.
    if (!r.entries.empty() && r.entries.back().col >= col)
        e = std::lower_bound(
            r.entries.begin(), r.entries.end(), col, [](const Entry &a, int c) { return a.col < c; });
    const bool found = e != r.entries.end() && e->col == col;

    if (text.isEmpty()) {
        if (!found)
            return;
        r.garbage += e->length;
        r.entries.erase(e);
        --m_stored;
        if (r.entries.empty()) {
            m_rows.erase(row);
            m_lastRow = -1;
            m_lastRowData = nullptr;
        } else if (r.garbage > 4096 && r.garbage > r.text.size() / 2)
            compact(r);
        return;
    }

    if (found && size_t(text.size()) <= e->length) {
        std::copy(text.begin(), text.end(), r.text.begin() + e->offset);
        r.garbage += e->length - size_t(text.size());
        e->length = quint32(text.size());
        return;
    }
    const auto offset = quint32(r.text.size());
    r.text.append(text.data(), size_t(text.size()));
    if (found) {
        r.garbage += e->length;
        e->offset = offset;
        e->length = quint32(text.size());
        if (r.garbage > 4096 && r.garbage > r.text.size() / 2)
            compact(r);
    } else {
        r.entries.insert(e, Entry { col, offset, quint32(text.size()) });
        ++m_stored;
    }
}

void TStringGrid::reserveRow(int row, qsizetype cells, qsizetype bytes)
{
    if (row < 0 || cells <= 0)
        return;
    // A reserved row that gets no text reads empty and is dropped by the next clear over it.
    Row &r = m_rows[row];
    r.entries.reserve(r.entries.size() + size_t(cells));
    r.text.reserve(r.text.size() + size_t(std::max<qsizetype>(bytes, 0)));
    m_lastRow = row;
    m_lastRowData = &r;
}

void TStringGrid::compact(Row &row)
{
    std::string text;
    text.reserve(row.text.size() - row.garbage);
    for (Entry &e : row.entries) {
        const auto offset = quint32(text.size());
        text.append(row.text, e.offset, e.length);
        e.offset = offset;
    }
    row.text.swap(text);
    row.garbage = 0;
}

void TStringGrid::clearBlock(int cols, int rowBegin, int rowEnd)
{
    if (cols <= 0 || rowBegin >= rowEnd)
        return;
    for (auto it = m_rows.begin(); it != m_rows.end();) {
        if (it->first < rowBegin || it->first >= rowEnd) {
            ++it;
            continue;
        }
        Row &r = it->second;
        const auto end = std::lower_bound(
            r.entries.begin(), r.entries.end(), cols, [](const Entry &a, int c) { return a.col < c; });
        const auto removed = end - r.entries.begin();
        if (r.entries.empty()) {
            if (it->first == m_lastRow) {
                m_lastRow = -1;
                m_lastRowData = nullptr;
            }
            it = m_rows.erase(it);
            continue;
        }
        if (removed == 0) {
            ++it;
            continue;
        }
        m_stored -= removed;
        if (end == r.entries.end()) {
            if (it->first == m_lastRow) {
                m_lastRow = -1;
                m_lastRowData = nullptr;
            }
            it = m_rows.erase(it);
            continue;
        }
        for (auto e = r.entries.begin(); e != end; ++e)
            r.garbage += e->length;
        r.entries.erase(r.entries.begin(), end);
        if (r.garbage > 4096 && r.garbage > r.text.size() / 2)
            compact(r);
        ++it;
    }
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

bool gridTextIsUtf8()
{
    static const bool utf8 = [] {
        const QString probe = QStringLiteral(u"\u00e9\u0645\u20ac");
        return probe.toLocal8Bit() == probe.toUtf8();
    }();
    return utf8;
}

} // namespace qalu
