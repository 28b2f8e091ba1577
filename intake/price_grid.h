#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <string>
#include <unordered_map>
#include <vector>

namespace qalu {

// The price grid: a table of 8-bit texts (the locale's 8-bit encoding) addressed by (column, row)
// from 0, with a row count and a column count kept apart from the texts. Setting a count never
// creates, moves or drops a text; a cell outside the counts can be written and read; a cell never
// written reads empty. Cells are stored sparsely, row by row, so memory and time follow the cells
// that hold text, never RowCount x ColCount.
class TStringGrid
{
public:
    TStringGrid(int colCount = 30, int rowCount = 1500);
    TStringGrid(const TStringGrid &other);
    TStringGrid &operator=(const TStringGrid &other);
    TStringGrid(TStringGrid &&other) noexcept;
    TStringGrid &operator=(TStringGrid &&other) noexcept;

    int RowCount() const { return m_rowCount; }
    int ColCount() const { return m_colCount; }
    // A count below 1 becomes 1.
    void setRowCount(int rows);
    void setColCount(int cols);

    // The 8-bit text of a cell; empty when never written or last written empty.
    QByteArray Cells(int col, int row) const;
    void setCells(int col, int row, const QByteArray &text);
    // The same without a QByteArray, for writers that hold the bytes elsewhere.
    void setCellBytes(int col, int row, QByteArrayView text);

    // The same cell widened from / narrowed to the locale's 8-bit encoding.
    QString cellText(int col, int row) const;
    void setCellText(int col, int row, const QString &text);

    // Room for `cells` texts of `bytes` bytes in all in `row`, and for `rows` rows, ahead of a
    // writer that knows them: spares the buffers' step-by-step growth. Changes no text.
    void reserveRow(int row, qsizetype cells, qsizetype bytes);
    void reserveRows(qsizetype rows) { m_rows.reserve(size_t(rows)); }

    // Writes the empty text into every cell (c, r) with c < cols and rowBegin <= r < rowEnd.
    // Costs the stored cells, whatever the size of the block.
    void clearBlock(int cols, int rowBegin, int rowEnd);

    // Calls f(col, QByteArrayView text) for each non-empty cell of `row`, by increasing column.
    // The views are valid until the grid changes.
    template <class F> void forEachCellInRow(int row, F f) const
    {
        const auto it = m_rows.find(row);
        if (it == m_rows.end())
            return;
        const Row &r = it->second;
        for (const Entry &e : r.entries)
            f(e.col, QByteArrayView(r.text.data() + e.offset, e.length));
    }

    // Number of cells that hold a non-empty text (whatever the counts).
    qsizetype storedCellCount() const { return m_stored; }

private:
    struct Entry
    {
        int col;
        quint32 offset;
        quint32 length;
    };
    // One row's texts live in one buffer; entries stay sorted by column. Rewritten or removed texts
    // leave garbage in the buffer that is compacted once it outweighs the live text.
    struct Row
    {
        std::vector<Entry> entries;
        std::string text;
        size_t garbage = 0;
    };

    static void compact(Row &row);

    int m_colCount;
    int m_rowCount;
    qsizetype m_stored = 0;
    std::unordered_map<int, Row> m_rows;
    // The row last written: writers go row by row. Map nodes stay put, so only erasing the row
    // invalidates it.
    int m_lastRow = -1;
    Row *m_lastRowData = nullptr;
};

// Widens an 8-bit grid text to Unicode with the locale's encoding, and back. A character that the
// encoding cannot hold becomes its replacement character.
QString fromGridText(const QByteArray &text);
QByteArray toGridText(const QString &text);

// True when the grid's 8-bit encoding is UTF-8, so UTF-8 text needs no conversion.
bool gridTextIsUtf8();

} // namespace qalu
