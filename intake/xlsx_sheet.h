#pragma once

#include "intake/number_format.h"
#include "intake/xlsx_stream.h"

#include <deque>
#include <string>
#include <vector>

// The worksheet part: every cell that holds a value, in a compact record, until the rectangle is known.
namespace qalu::xlsx {

struct SharedStrings;

enum class CellKind : quint8 { Number, Currency, Date, Boolean, Text, SharedText, Error };

// A text cell's place in the arena; a named type, since anonymous structs in unions are an
// extension.
struct TextSpan
{
    quint32 offset;
    quint32 length;
};

struct CellRecord
{
    quint32 row; // from 1
    quint16 col; // from 1
    CellKind kind;
    union {
        double number;
        TextSpan text;
        quint32 shared;
    };
};
static_assert(sizeof(CellRecord) == 16);

// Column and row from 1 -> "B7".
QString cellName(int col, int row);

// The value cells of a sheet in document order; texts (Text, Error) point into `arena`, already
// in the grid's encoding.
struct SheetCells
{
    std::deque<CellRecord> cells;
    std::string arena;
    bool sorted = true;
    size_t rowsSeen = 0; // row changes in document order: the rows, when sorted
    int lastRow = 0;
    int lastCol = 0;
};

// Collects the value cells of a sheet. Number texts already in the general format's form are kept
// as texts with `separator` as their decimal separator.
class SheetHandler : public XmlHandler, public SheetCells
{
public:
    SheetHandler(const std::vector<NumberKind> &styles, const SharedStrings &shared, std::string separator);

    void start(const char *name, const char **attrs) override;
    void end(const char *name) override;
    void text(const char *s, int len) override;
    void expect(std::uint64_t partBytes) override;

private:
    void startRow(const char **attrs);
    void startCell(const char **attrs);
    void endCell();
    void store(const CellRecord &rec);
    double parseNumber();
    void storeText(CellRecord &rec, std::string &utf8);

    enum class Type : quint8 { Number, Shared, FormulaText, InlineText, Boolean, Error, IsoDate, Unknown };
    static Type cellType(const char *t);

    const std::vector<NumberKind> &m_styles;
    const SharedStrings &m_shared;
    const std::string m_separator;
    int m_row = 0;
    int m_col = 0;
    int m_cellRow = 0;
    int m_cellCol = 0;
    Type m_type = Type::Number;
    unsigned m_style = 0;
    bool m_inCell = false;
    bool m_inInline = false;
    bool m_capture = false;
    bool m_hasValue = false;
    bool m_hasInline = false;
    int m_skip = 0;
    std::string m_value;
    size_t m_textBytes = 0;
    quint64 m_lastKey = 0;
};

} // namespace qalu::xlsx
