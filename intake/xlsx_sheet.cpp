#include "intake/xlsx_sheet.h"

#include "core/cell_reference.h"
#include "intake/cell_text.h"
#include "intake/xlsx_parts.h"

#include <QDateTime>
#include <QLocale>

#include <algorithm>
#include <charconv>
#include <cmath>

namespace qalu::xlsx {

QString cellName(int col, int row)
{
    return cellReference(col - 1, row);
}

namespace {

// "XFD1048576" -> column and row from 1; false when malformed or beyond the sheet's edges.
bool parseCellRef(const char *ref, int &col, int &row)
{
    int c = 0;
    const char *p = ref;
    while (*p >= 'A' && *p <= 'Z') {
        c = c * 26 + (*p - 'A' + 1);
        if (c > kMaxCol)
            return false;
        ++p;
    }
    if (p == ref)
        return false;
    int r = 0;
    const char *digits = p;
    while (*p >= '0' && *p <= '9') {
        r = r * 10 + (*p - '0');
        if (r > kMaxRow)
            return false;
        ++p;
    }
    if (p == digits || *p || r == 0)
        return false;
    col = c;
    row = r;
    return true;
}

bool parseRowNumber(const char *s, int &row)
{
    int r = 0;
    const auto res = std::from_chars(s, s + std::strlen(s), r);
    if (res.ec != std::errc() || *res.ptr || r < 1 || r > kMaxRow)
        return false;
    row = r;
    return true;
}

} // namespace

SheetHandler::SheetHandler(
    const std::vector<NumberKind> &styles, const SharedStrings &shared, std::string separator)
    : m_styles(styles)
    , m_shared(shared)
    , m_separator(std::move(separator))
{
}

void SheetHandler::expect(std::uint64_t partBytes)
{
    // The texts are a part of the XML and stay under their limit. Reserving that much is address
    // space, not memory, until written, and spares the arena's copies as it doubles.
    arena.reserve(size_t(std::min<std::uint64_t>(partBytes, kMaxTextBytes)));
}

void SheetHandler::start(const char *name, const char **attrs)
{
    const char *local = localName(name);
    switch (local[0]) {
    case 'c':
        if (local[1] == 0)
            return startCell(attrs);
        break;
    case 'v':
        if (local[1] == 0 && m_inCell) {
            m_hasValue = true;
            m_capture = true;
        }
        return;
    case 'r':
        if (std::strcmp(local, "row") == 0)
            return startRow(attrs);
        if (std::strcmp(local, "rPh") == 0)
            ++m_skip;
        return;
    case 'i':
        if (m_inCell && std::strcmp(local, "is") == 0) {
            m_inInline = true;
            m_hasInline = true;
        }
        return;
    case 't':
        if (local[1] == 0 && m_inInline && m_skip == 0)
            m_capture = true;
        return;
    }
}

void SheetHandler::end(const char *name)
{
    const char *local = localName(name);
    if (local[0] && local[1] == 0) {
        if (local[0] == 'c' && m_inCell)
            return endCell();
        if (local[0] == 'v' || local[0] == 't')
            m_capture = false;
        return;
    }
    if (std::strcmp(local, "is") == 0)
        m_inInline = false;
    else if (std::strcmp(local, "rPh") == 0)
        --m_skip;
}

void SheetHandler::text(const char *s, int len)
{
    if (!m_capture)
        return;
    if (m_value.size() + size_t(len) > kMaxStringBytes)
        return abort(QStringLiteral("an oversized cell text"));
    m_value.append(s, size_t(len));
}

void SheetHandler::startRow(const char **attrs)
{
    const char *r = attribute(attrs, "r");
    int row = m_row + 1;
    if (r && !parseRowNumber(r, row))
        return abort(QStringLiteral("a bad row number"));
    if (!r && row > kMaxRow)
        return abort(QStringLiteral("too many rows"));
    m_row = row;
    m_col = 0;
}

void SheetHandler::startCell(const char **attrs)
{
    const char *ref = nullptr;
    const char *type = nullptr;
    const char *style = nullptr;
    for (int i = 0; attrs[i]; i += 2) {
        const char *a = attrs[i][0] && !attrs[i][1] ? attrs[i] : localName(attrs[i]);
        if (!a[0] || a[1] != 0)
            continue;
        if (a[0] == 'r')
            ref = attrs[i + 1];
        else if (a[0] == 't')
            type = attrs[i + 1];
        else if (a[0] == 's')
            style = attrs[i + 1];
    }
    int col = m_col + 1;
    int row = m_row == 0 ? 1 : m_row;
    if (ref) {
        if (!parseCellRef(ref, col, row))
            return abort(QStringLiteral("a bad cell reference"));
    } else if (col > kMaxCol) {
        return abort(QStringLiteral("too many columns"));
    }
    m_col = col;
    m_row = row;
    m_cellCol = col;
    m_cellRow = row;
    m_type = cellType(type);
    m_style = 0;
    for (const char *p = style; p && *p >= '0' && *p <= '9' && m_style < 1000000; ++p)
        m_style = m_style * 10 + unsigned(*p - '0');
    m_inCell = true;
    m_hasValue = false;
    m_hasInline = false;
    m_value.clear();
}

void SheetHandler::endCell()
{
    m_inCell = false;
    m_capture = false;
    m_inInline = false;
    CellRecord rec;
    rec.row = quint32(m_cellRow);
    rec.col = quint16(m_cellCol);
    if (m_type == Type::Number) {
        if (!m_hasValue || m_value.empty())
            return;
        const NumberKind kind = m_style < m_styles.size() ? m_styles[m_style] : NumberKind::General;
        // Most numbers are stored in the general format's own form already: keep the text.
        if (kind == NumberKind::General) {
            const auto offset = arena.size();
            if (appendCanonicalNumber(arena, m_value, m_separator)) {
                rec.kind = CellKind::Text;
                rec.text.offset = quint32(offset);
                rec.text.length = quint32(arena.size() - offset);
                m_textBytes += rec.text.length;
                return store(rec);
            }
        }
        rec.number = parseNumber();
        if (m_error.size())
            return;
        rec.kind = kind == NumberKind::Date ? CellKind::Date
            : kind == NumberKind::Currency  ? CellKind::Currency
                                            : CellKind::Number;
    } else if (m_type == Type::Shared) {
        if (!m_hasValue || m_value.empty())
            return;
        unsigned index = 0;
        const auto res = std::from_chars(m_value.data(), m_value.data() + m_value.size(), index);
        if (res.ec != std::errc() || res.ptr != m_value.data() + m_value.size()
            || index >= m_shared.strings.size())
            return abort(QStringLiteral("a bad shared string index"));
        rec.kind = CellKind::SharedText;
        rec.shared = index;
        m_textBytes += m_shared.strings[index].second;
    } else if (m_type == Type::FormulaText || m_type == Type::InlineText) {
        if (m_type == Type::FormulaText ? !m_hasValue : !m_hasInline)
            return;
        rec.kind = CellKind::Text;
        storeText(rec, m_value);
    } else if (m_type == Type::Boolean) {
        if (!m_hasValue || m_value.empty())
            return;
        rec.kind = CellKind::Boolean;
        rec.number = (m_value == "1" || m_value == "true") ? 1 : 0;
    } else if (m_type == Type::Error) {
        if (!m_hasValue)
            return;
        rec.kind = CellKind::Error;
        storeText(rec, m_value);
    } else if (m_type == Type::IsoDate) {
        if (!m_hasValue || m_value.empty())
            return;
        // ISO 8601 dates of strict workbooks, written in the locale's forms like serial dates.
        const QString iso = QString::fromUtf8(m_value.data(), qsizetype(m_value.size()));
        SerialDateTime moment;
        if (iso.contains(QLatin1Char('T')) || iso.contains(QLatin1Char('-'))) {
            const QDateTime dt = QDateTime::fromString(iso, Qt::ISODate);
            moment.date = dt.date();
            moment.time = dt.time();
            moment.valid = dt.isValid();
        } else {
            moment.time = QTime::fromString(iso, Qt::ISODate);
            moment.valid = moment.time.isValid();
        }
        if (!moment.valid)
            return abort(QStringLiteral("a bad date"));
        std::string text = dateTimeText(moment, QLocale::system()).toStdString();
        rec.kind = CellKind::Text;
        storeText(rec, text);
    } else {
        return abort(QStringLiteral("an unknown cell type"));
    }
    if (!m_error.isEmpty())
        return;
    store(rec);
}

void SheetHandler::store(const CellRecord &rec)
{
    if (cells.size() >= kMaxCells)
        return abort(QStringLiteral("too many cells"));
    if (m_textBytes > kMaxTextBytes)
        return abort(QStringLiteral("too much text"));
    const quint64 key = (quint64(rec.row) << 16) | rec.col;
    if (key <= m_lastKey)
        sorted = false;
    if (rec.row != m_lastKey >> 16)
        ++rowsSeen;
    m_lastKey = key;
    lastRow = std::max(lastRow, int(rec.row));
    lastCol = std::max(lastCol, int(rec.col));
    cells.push_back(rec);
}

double SheetHandler::parseNumber()
{
    double v = 0;
    const char *begin = m_value.data();
    const char *end = begin + m_value.size();
    // Blanks around the number and a plus sign are harmless; from_chars takes neither.
    while (begin < end && (*begin == ' ' || *begin == '\t' || *begin == '\n' || *begin == '\r'))
        ++begin;
    while (end > begin && (end[-1] == ' ' || end[-1] == '\t' || end[-1] == '\n' || end[-1] == '\r'))
        --end;
    if (begin < end && *begin == '+')
        ++begin;
    const auto res = std::from_chars(begin, end, v);
    if (res.ec != std::errc() || res.ptr != end || !std::isfinite(v)) {
        abort(QStringLiteral("a bad number in cell %1").arg(cellName(m_cellCol, m_cellRow)));
        return 0;
    }
    return v;
}

void SheetHandler::storeText(CellRecord &rec, std::string &utf8)
{
    const auto offset = arena.size();
    appendGridText(arena, utf8);
    rec.text.offset = quint32(offset);
    rec.text.length = quint32(arena.size() - offset);
    m_textBytes += rec.text.length;
}

SheetHandler::Type SheetHandler::cellType(const char *t)
{
    if (!t || std::strcmp(t, "n") == 0)
        return Type::Number;
    if (std::strcmp(t, "s") == 0)
        return Type::Shared;
    if (std::strcmp(t, "str") == 0)
        return Type::FormulaText;
    if (std::strcmp(t, "inlineStr") == 0)
        return Type::InlineText;
    if (std::strcmp(t, "b") == 0)
        return Type::Boolean;
    if (std::strcmp(t, "e") == 0)
        return Type::Error;
    if (std::strcmp(t, "d") == 0)
        return Type::IsoDate;
    return Type::Unknown;
}

} // namespace qalu::xlsx
