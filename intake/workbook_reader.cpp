#include "intake/workbook_reader.h"

#include "core/decimal_separator.h"
#include "core/failure.h"
#include "intake/cell_text.h"
#include "intake/price_grid.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <expat.h>
#include <zip.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qalu {

void ClearGrid(TStringGrid &grid)
{
    // Writing the empty text into every cell inside the counts, row by row, leaves exactly the
    // stored cells inside the counts removed; the sparse grid does that without visiting the rest.
    const int rows = grid.RowCount();
    grid.clearBlock(grid.ColCount(), 0, rows);
}

namespace {

// The workbook comes from the network, so every part is read under limits: a zip bomb, an
// absurd sheet or a giant string ends in a Failure with bounded memory and time.
constexpr zip_uint64_t kMaxSmallPart = 16u << 20; // relationships, workbook, styles
constexpr zip_uint64_t kMaxSharedStrings = 128u << 20;
constexpr zip_uint64_t kMaxSheet = 512u << 20;
constexpr long long kMaxPendingXml = 16 << 20; // one XML token (a tag, a comment)
constexpr size_t kMaxStringBytes = 1 << 20; // one cell text
constexpr size_t kMaxCells = 8'000'000; // value cells of the sheet
constexpr size_t kMaxTextBytes = 96u << 20; // all texts of the sheet together
constexpr int kMaxRow = 1048576;
constexpr int kMaxCol = 16384;

[[noreturn]] void fail(const QString &why)
{
    throw Failure(QStringLiteral("Cannot read the workbook: ") + why);
}

QString fromUtf8(std::string_view s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// The name without its namespace prefix: the parts use different prefixes for the same names.
const char *localName(const char *name)
{
    if (name[0] && !name[1]) // the sheet's hot names: c, v, t
        return name;
    const char *colon = std::strrchr(name, ':');
    return colon ? colon + 1 : name;
}

bool is(const char *name, const char *local)
{
    return std::strcmp(localName(name), local) == 0;
}

const char *attribute(const char **attrs, const char *local)
{
    for (int i = 0; attrs[i]; i += 2)
        if (is(attrs[i], local))
            return attrs[i + 1];
    return nullptr;
}

bool endsWith(std::string_view s, std::string_view tail)
{
    return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

// ---------------------------------------------------------------------------------------------
// XML through expat, fed in chunks. Handlers never throw through the C parser: they record why
// and stop it.

class XmlHandler
{
public:
    virtual ~XmlHandler() = default;
    virtual void start(const char *name, const char **attrs) = 0;
    virtual void end(const char *name) = 0;
    virtual void text(const char *, int) { }

    void abort(const QString &why)
    {
        if (m_error.isEmpty())
            m_error = why;
        XML_StopParser(m_parser, XML_FALSE);
    }
    XML_Parser m_parser = nullptr;
    QString m_error;
};

class XmlStream
{
public:
    XmlStream(XmlHandler &handler, QString part)
        : m_handler(handler)
        , m_part(std::move(part))
    {
        m_parser = XML_ParserCreate(nullptr);
        if (!m_parser)
            fail(QStringLiteral("out of memory"));
        handler.m_parser = m_parser;
        XML_SetUserData(m_parser, &handler);
        XML_SetElementHandler(
            m_parser,
            [](void *h, const XML_Char *name, const XML_Char **attrs) {
                static_cast<XmlHandler *>(h)->start(name, attrs);
            },
            [](void *h, const XML_Char *name) { static_cast<XmlHandler *>(h)->end(name); });
        XML_SetCharacterDataHandler(m_parser,
            [](void *h, const XML_Char *s, int len) { static_cast<XmlHandler *>(h)->text(s, len); });
        // No part of a workbook has a document type. Refusing it refuses every entity
        // declaration, so neither entity expansion nor a local file can reach the grid.
        XML_SetStartDoctypeDeclHandler(
            m_parser, [](void *h, const XML_Char *, const XML_Char *, const XML_Char *, int) {
                static_cast<XmlHandler *>(h)->abort(QStringLiteral("a document type declaration"));
            });
        XML_SetEntityDeclHandler(m_parser,
            [](void *h, const XML_Char *, int, const XML_Char *, int, const XML_Char *, const XML_Char *,
                const XML_Char *, const XML_Char *) {
                static_cast<XmlHandler *>(h)->abort(QStringLiteral("an entity declaration"));
            });
        XML_SetParamEntityParsing(m_parser, XML_PARAM_ENTITY_PARSING_NEVER);
    }
    ~XmlStream() { XML_ParserFree(m_parser); }
    XmlStream(const XmlStream &) = delete;
    XmlStream &operator=(const XmlStream &) = delete;

    // Expat's own input buffer, to read into without a copy.
    char *buffer(int len)
    {
        void *b = XML_GetBuffer(m_parser, len);
        if (!b)
            fail(QStringLiteral("out of memory"));
        return static_cast<char *>(b);
    }

    // Parses `len` bytes just read into buffer().
    void feed(int len, bool final)
    {
        if (XML_ParseBuffer(m_parser, len, final ? XML_TRUE : XML_FALSE) != XML_STATUS_OK)
            raise();
        m_fed += len;
        // Outside a handler the byte index is just past the last complete event: what lies beyond
        // is one token that expat buffers whole, so it must stay small.
        if (!final && m_fed - XML_GetCurrentByteIndex(m_parser) > kMaxPendingXml)
            fail(QStringLiteral("oversized XML markup in %1").arg(m_part));
    }

private:
    [[noreturn]] void raise()
    {
        if (!m_handler.m_error.isEmpty())
            fail(QStringLiteral("%1 in %2").arg(m_handler.m_error, m_part));
        fail(QStringLiteral("malformed XML in %1 (line %2: %3)")
                 .arg(m_part)
                 .arg(XML_GetCurrentLineNumber(m_parser))
                 .arg(QString::fromUtf8(XML_ErrorString(XML_GetErrorCode(m_parser)))));
    }

    XmlHandler &m_handler;
    QString m_part;
    XML_Parser m_parser = nullptr;
    long long m_fed = 0;
};

// ---------------------------------------------------------------------------------------------
// The archive.

class Archive
{
public:
    explicit Archive(const QString &path)
    {
#ifdef Q_OS_WIN
        const QByteArray name = path.toUtf8();
#else
        const QByteArray name = QFile::encodeName(path);
#endif
        int error = 0;
        m_zip = zip_open(name.constData(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
        if (!m_zip) {
            zip_error_t ze;
            zip_error_init_with_code(&ze, error);
            const QString detail = QString::fromUtf8(zip_error_strerror(&ze));
            zip_error_fini(&ze);
            if (error == ZIP_ER_NOZIP || error == ZIP_ER_INCONS)
                fail(QStringLiteral("not a workbook (%1)").arg(detail));
            fail(QStringLiteral("cannot open %1 (%2)").arg(path, detail));
        }
    }
    ~Archive()
    {
        zip_discard(m_zip);
    }
    Archive(const Archive &) = delete;
    Archive &operator=(const Archive &) = delete;

    bool has(const std::string &part) const
    {
        return zip_name_locate(m_zip, part.c_str(), ZIP_FL_NOCASE) >= 0;
    }

    // Streams a part through the handler, chunk by chunk, never holding it whole.
    void parse(const std::string &part, zip_uint64_t cap, XmlHandler &handler)
    {
        const QString name = fromUtf8(part);
        const zip_int64_t index = zip_name_locate(m_zip, part.c_str(), ZIP_FL_NOCASE);
        if (index < 0)
            fail(QStringLiteral("not a workbook (%1 is missing)").arg(name));
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(m_zip, zip_uint64_t(index), 0, &st) != 0 || !(st.valid & ZIP_STAT_SIZE))
            fail(QStringLiteral("damaged archive entry %1").arg(name));
        if (st.size > cap)
            fail(QStringLiteral("%1 is too large (%2 bytes)").arg(name).arg(st.size));
        std::unique_ptr<zip_file_t, int (*)(zip_file_t *)> file(
            zip_fopen_index(m_zip, zip_uint64_t(index), 0), zip_fclose);
        if (!file)
            fail(QStringLiteral("cannot read %1 (%2)").arg(name, QString::fromUtf8(zip_strerror(m_zip))));
        XmlStream xml(handler, name);
        constexpr int chunk = 256 * 1024;
        zip_uint64_t total = 0;
        for (;;) {
            const zip_int64_t n = zip_fread(file.get(), xml.buffer(chunk), chunk);
            if (n < 0)
                fail(QStringLiteral("cannot read %1 (%2)")
                         .arg(name, QString::fromUtf8(zip_file_strerror(file.get()))));
            if (n == 0)
                break;
            total += zip_uint64_t(n);
            // The declared size is checked above; an entry that inflates beyond it is forged.
            if (total > st.size || total > cap)
                fail(QStringLiteral("%1 is larger than declared").arg(name));
            xml.feed(int(n), false);
        }
        if (total != st.size)
            fail(QStringLiteral("%1 is truncated").arg(name));
        xml.feed(0, true);
    }

private:
    zip_t *m_zip = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Package relationships.

struct Relationship
{
    std::string type;
    std::string target; // part name, resolved
};

std::string directoryOf(const std::string &part)
{
    const auto slash = part.rfind('/');
    return slash == std::string::npos ? std::string() : part.substr(0, slash + 1);
}

std::string resolvePart(const std::string &baseDir, std::string_view target)
{
    std::string joined = !target.empty() && target.front() == '/' ? std::string(target.substr(1))
                                                                  : baseDir + std::string(target);
    std::vector<std::string> segments;
    size_t start = 0;
    while (start <= joined.size()) {
        auto end = joined.find('/', start);
        if (end == std::string::npos)
            end = joined.size();
        const std::string segment = joined.substr(start, end - start);
        if (segment == "..") {
            if (!segments.empty())
                segments.pop_back();
        } else if (!segment.empty() && segment != ".") {
            segments.push_back(segment);
        }
        start = end + 1;
    }
    std::string out;
    for (const auto &s : segments) {
        if (!out.empty())
            out += '/';
        out += s;
    }
    return out;
}

class RelsHandler : public XmlHandler
{
public:
    explicit RelsHandler(std::string baseDir)
        : m_baseDir(std::move(baseDir))
    {
    }
    void start(const char *name, const char **attrs) override
    {
        if (!is(name, "Relationship"))
            return;
        const char *id = attribute(attrs, "Id");
        const char *type = attribute(attrs, "Type");
        const char *target = attribute(attrs, "Target");
        const char *mode = attribute(attrs, "TargetMode");
        if (!id || !type || !target || (mode && std::strcmp(mode, "External") == 0))
            return;
        m_order.push_back(id);
        m_byId.emplace(id, Relationship { type, resolvePart(m_baseDir, target) });
    }
    void end(const char *) override { }

    const Relationship *byId(const std::string &id) const
    {
        const auto it = m_byId.find(id);
        return it == m_byId.end() ? nullptr : &it->second;
    }
    const Relationship *firstOfType(std::string_view typeTail) const
    {
        for (const auto &id : m_order)
            if (const auto *r = byId(id); r && endsWith(r->type, typeTail))
                return r;
        return nullptr;
    }

private:
    std::string m_baseDir;
    std::vector<std::string> m_order;
    std::unordered_map<std::string, Relationship> m_byId;
};

// ---------------------------------------------------------------------------------------------
// The workbook part: the sheets in the workbook's own order and the date system.

class WorkbookHandler : public XmlHandler
{
public:
    void start(const char *name, const char **attrs) override
    {
        if (is(name, "workbookPr")) {
            if (const char *v = attribute(attrs, "date1904"))
                date1904 = std::strcmp(v, "1") == 0 || std::strcmp(v, "true") == 0;
        } else if (is(name, "sheet")) {
            // The relationship id is the only prefixed "id" attribute of a sheet.
            for (int i = 0; attrs[i]; i += 2)
                if (std::strchr(attrs[i], ':') && is(attrs[i], "id"))
                    sheetIds.emplace_back(attrs[i + 1]);
        }
    }
    void end(const char *) override { }

    bool date1904 = false;
    std::vector<std::string> sheetIds;
};

// ---------------------------------------------------------------------------------------------
// Styles: which cell formats make a number a date or a currency value.

enum class NumberKind : quint8 { General, Date, Currency };

// Built-in formats. Dates and times: 14-22 and 45-47, and 27-36 and 50-58, the East Asian
// locales' date forms. Currency: 5-8 (currency with symbol) and 42 and 44 (accounting with
// symbol); 37-41 and 43 group digits without a currency symbol and stay plain numbers.
NumberKind builtinKind(int id)
{
    if ((id >= 14 && id <= 22) || (id >= 45 && id <= 47) || (id >= 27 && id <= 36) || (id >= 50 && id <= 58))
        return NumberKind::Date;
    if ((id >= 5 && id <= 8) || id == 42 || id == 44)
        return NumberKind::Currency;
    return NumberKind::General;
}

// A custom format is a date or time format when it has a d, m, y, h or s token outside quoted
// text, escapes, fills, paddings and brackets (an elapsed-time bracket like [h] counts too).
// Otherwise it is a currency format when it shows a currency sign: a bracketed currency such as
// [$EUR-407] (not a bare locale tag [$-409]) or one of $ € £ ¥ anywhere, quoted or not.
NumberKind customKind(const QString &code)
{
    bool currency = false;
    for (qsizetype i = 0; i < code.size(); ++i) {
        const QChar c = code.at(i);
        switch (c.unicode()) {
        case '"': {
            const qsizetype close = code.indexOf(QLatin1Char('"'), i + 1);
            const qsizetype end = close < 0 ? code.size() : close;
            for (qsizetype j = i + 1; j < end; ++j)
                if (QStringView(u"$\u20ac\u00a3\u00a5").contains(code.at(j)))
                    currency = true;
            i = end;
            break;
        }
        case '\\':
            if (i + 1 < code.size() && QStringView(u"$\u20ac\u00a3\u00a5").contains(code.at(i + 1)))
                currency = true;
            ++i;
            break;
        case '_':
        case '*':
            ++i;
            break;
        case '[': {
            const qsizetype close = code.indexOf(QLatin1Char(']'), i + 1);
            const qsizetype end = close < 0 ? code.size() : close;
            const QString inner = code.mid(i + 1, end - i - 1);
            if (inner.startsWith(QLatin1Char('$'))) {
                const qsizetype dash = inner.indexOf(QLatin1Char('-'));
                if ((dash < 0 ? inner.size() : dash) > 1)
                    currency = true;
            } else if (!inner.isEmpty()) {
                bool elapsed = true;
                for (const QChar t : inner)
                    elapsed = elapsed && QStringView(u"hHmMsS").contains(t);
                if (elapsed)
                    return NumberKind::Date;
            }
            i = end;
            break;
        }
        default:
            if (QStringView(u"dDmMyYhHsS").contains(c))
                return NumberKind::Date;
            if (QStringView(u"$\u20ac\u00a3\u00a5").contains(c))
                currency = true;
        }
    }
    return currency ? NumberKind::Currency : NumberKind::General;
}

class StylesHandler : public XmlHandler
{
public:
    void start(const char *name, const char **attrs) override
    {
        const char *local = localName(name);
        // Differential formats (dxfs) carry numFmt elements too; only the numFmts list defines ids.
        if (std::strcmp(local, "numFmts") == 0) {
            m_inNumFmts = true;
        } else if (m_inNumFmts && std::strcmp(local, "numFmt") == 0) {
            const char *id = attribute(attrs, "numFmtId");
            const char *code = attribute(attrs, "formatCode");
            if (id && code)
                m_custom[std::atoi(id)] = customKind(QString::fromUtf8(code));
        } else if (std::strcmp(local, "cellXfs") == 0) {
            m_inCellXfs = true;
        } else if (m_inCellXfs && std::strcmp(local, "xf") == 0) {
            const char *id = attribute(attrs, "numFmtId");
            m_xfFormats.push_back(id ? std::atoi(id) : 0);
        }
    }
    void end(const char *name) override
    {
        if (is(name, "cellXfs"))
            m_inCellXfs = false;
        else if (is(name, "numFmts"))
            m_inNumFmts = false;
    }

    // The number kind of each cell format, by its index (a cell's s attribute).
    std::vector<NumberKind> kinds() const
    {
        std::vector<NumberKind> out;
        out.reserve(m_xfFormats.size());
        for (int id : m_xfFormats) {
            const auto custom = m_custom.find(id);
            out.push_back(custom != m_custom.end() ? custom->second : builtinKind(id));
        }
        return out;
    }

private:
    bool m_inCellXfs = false;
    bool m_inNumFmts = false;
    std::vector<int> m_xfFormats;
    std::unordered_map<int, NumberKind> m_custom;
};

// ---------------------------------------------------------------------------------------------
// Texts.

// Decodes the _xHHHH_ escapes that spreadsheet writers use for control characters.
void decodeEscapes(std::string &s)
{
    if (s.find("_x") == std::string::npos)
        return;
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        if (s[i] == '_' && i + 7 <= s.size() && s[i + 1] == 'x' && s[i + 6] == '_') {
            unsigned code = 0;
            const auto r = std::from_chars(s.data() + i + 2, s.data() + i + 6, code, 16);
            if (r.ec == std::errc() && r.ptr == s.data() + i + 6) {
                out += QString(QChar(char16_t(code))).toStdString();
                i += 7;
                continue;
            }
        }
        out += s[i++];
    }
    s.swap(out);
}

// Appends UTF-8 text to `arena` in the grid's encoding.
void appendGridText(std::string &arena, std::string &utf8)
{
    decodeEscapes(utf8);
    if (gridTextIsUtf8()) {
        arena += utf8;
        return;
    }
    const QByteArray local = toGridText(QString::fromUtf8(utf8.data(), qsizetype(utf8.size())));
    arena.append(local.constData(), size_t(local.size()));
}

// Shared strings: runs joined, phonetic runs left out.
class SharedStringsHandler : public XmlHandler
{
public:
    void start(const char *name, const char **) override
    {
        const char *local = localName(name);
        if (std::strcmp(local, "si") == 0) {
            m_inItem = true;
            m_current.clear();
        } else if (std::strcmp(local, "rPh") == 0) {
            ++m_skip;
        } else if (m_inItem && m_skip == 0 && std::strcmp(local, "t") == 0) {
            m_inText = true;
        }
    }
    void end(const char *name) override
    {
        const char *local = localName(name);
        if (std::strcmp(local, "t") == 0) {
            m_inText = false;
        } else if (std::strcmp(local, "rPh") == 0) {
            --m_skip;
        } else if (std::strcmp(local, "si") == 0) {
            m_inItem = false;
            const auto offset = arena.size();
            appendGridText(arena, m_current);
            strings.emplace_back(quint32(offset), quint32(arena.size() - offset));
        }
    }
    void text(const char *s, int len) override
    {
        if (!m_inText)
            return;
        if (m_current.size() + size_t(len) > kMaxStringBytes)
            return abort(QStringLiteral("an oversized text"));
        m_current.append(s, size_t(len));
    }

    std::string arena;
    std::vector<std::pair<quint32, quint32>> strings;

private:
    bool m_inItem = false;
    bool m_inText = false;
    int m_skip = 0;
    std::string m_current;
};

// ---------------------------------------------------------------------------------------------
// The sheet: every cell that holds a value, in a compact record, until the rectangle is known.

enum class CellKind : quint8 { Number, Currency, Date, Boolean, Text, SharedText, Error };

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

QString cellName(int col, int row)
{
    QString letters;
    for (int c = col; c > 0; c = (c - 1) / 26)
        letters.prepend(QChar(u'A' + (c - 1) % 26));
    return letters + QString::number(row);
}

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

class SheetHandler : public XmlHandler
{
public:
    SheetHandler(
        const std::vector<NumberKind> &styles, const SharedStringsHandler &shared, std::string separator)
        : m_styles(styles)
        , m_shared(shared)
        , m_separator(std::move(separator))
    {
    }

    void start(const char *name, const char **attrs) override
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

    void end(const char *name) override
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

    void text(const char *s, int len) override
    {
        if (!m_capture)
            return;
        if (m_value.size() + size_t(len) > kMaxStringBytes)
            return abort(QStringLiteral("an oversized cell text"));
        m_value.append(s, size_t(len));
    }

    std::deque<CellRecord> cells;
    std::string arena;
    bool sorted = true;
    size_t rowsSeen = 0; // row changes in document order: the rows, when sorted
    int lastRow = 0;
    int lastCol = 0;

private:
    void startRow(const char **attrs)
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

    void startCell(const char **attrs)
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

    void endCell()
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

    void store(const CellRecord &rec)
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

    double parseNumber()
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

    void storeText(CellRecord &rec, std::string &utf8)
    {
        const auto offset = arena.size();
        appendGridText(arena, utf8);
        rec.text.offset = quint32(offset);
        rec.text.length = quint32(arena.size() - offset);
        m_textBytes += rec.text.length;
    }

    const std::vector<NumberKind> &m_styles;
    const SharedStringsHandler &m_shared;
    const std::string m_separator;
    int m_row = 0;
    int m_col = 0;
    int m_cellRow = 0;
    int m_cellCol = 0;
    enum class Type : quint8 { Number, Shared, FormulaText, InlineText, Boolean, Error, IsoDate, Unknown };
    static Type cellType(const char *t)
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

} // namespace

bool LoadWorkbookToGrid(TStringGrid &grid, const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        fail(QStringLiteral("%1 does not exist").arg(path));
    if (!info.isFile())
        fail(QStringLiteral("%1 is not a file").arg(path));

    Archive archive(path);

    RelsHandler rootRels { std::string() };
    if (!archive.has("_rels/.rels"))
        fail(QStringLiteral("not a workbook (no package relationships)"));
    archive.parse("_rels/.rels", kMaxSmallPart, rootRels);
    const Relationship *office = rootRels.firstOfType("/officeDocument");
    if (!office)
        fail(QStringLiteral("not a workbook (no main document)"));
    const std::string workbookPart = office->target;

    WorkbookHandler workbook;
    archive.parse(workbookPart, kMaxSmallPart, workbook);

    const std::string workbookDir = directoryOf(workbookPart);
    RelsHandler workbookRels { workbookDir };
    const std::string relsPart = workbookDir + "_rels/" + workbookPart.substr(workbookDir.size()) + ".rels";
    archive.parse(relsPart, kMaxSmallPart, workbookRels);

    // The first worksheet in the workbook's own order; chart sheets are not worksheets.
    const Relationship *sheet = nullptr;
    for (const auto &id : workbook.sheetIds) {
        const Relationship *r = workbookRels.byId(id);
        if (r && endsWith(r->type, "/worksheet")) {
            sheet = r;
            break;
        }
    }
    if (!sheet)
        fail(QStringLiteral("the workbook has no worksheet"));

    std::vector<NumberKind> styles;
    if (const Relationship *r = workbookRels.firstOfType("/styles"); r && archive.has(r->target)) {
        StylesHandler handler;
        archive.parse(r->target, kMaxSmallPart, handler);
        styles = handler.kinds();
    }
    SharedStringsHandler shared;
    if (const Relationship *r = workbookRels.firstOfType("/sharedStrings"); r && archive.has(r->target))
        archive.parse(r->target, kMaxSharedStrings, shared);

    const std::string separator = toGridText(QString(decimalSeparator())).toStdString();
    SheetHandler cells(styles, shared, separator);
    archive.parse(sheet->target, kMaxSheet, cells);

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
                bytes += r.kind == CellKind::Text         ? qsizetype(r.text.length)
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
                const SerialDateTime moment = serialToDateTime(rec.number, workbook.date1904);
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
    return true;
}

} // namespace qalu
