#include "intake/xlsx_parts.h"

#include "intake/price_grid.h"

#include <charconv>
#include <cstdlib>

namespace qalu::xlsx {

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

RelsHandler::RelsHandler(std::string baseDir)
    : m_baseDir(std::move(baseDir))
{
}

void RelsHandler::start(const char *name, const char **attrs)
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

const Relationship *RelsHandler::byId(const std::string &id) const
{
    const auto it = m_byId.find(id);
    return it == m_byId.end() ? nullptr : &it->second;
}

const Relationship *RelsHandler::firstOfType(std::string_view typeTail) const
{
    for (const auto &id : m_order)
        if (const auto *r = byId(id); r && endsWith(r->type, typeTail))
            return r;
    return nullptr;
}

void WorkbookHandler::start(const char *name, const char **attrs)
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

void StylesHandler::start(const char *name, const char **attrs)
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

void StylesHandler::end(const char *name)
{
    if (is(name, "cellXfs"))
        m_inCellXfs = false;
    else if (is(name, "numFmts"))
        m_inNumFmts = false;
}

std::vector<NumberKind> StylesHandler::kinds() const
{
    std::vector<NumberKind> out;
    out.reserve(m_xfFormats.size());
    for (int id : m_xfFormats) {
        const auto custom = m_custom.find(id);
        out.push_back(custom != m_custom.end() ? custom->second : builtinKind(id));
    }
    return out;
}

namespace {

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

} // namespace

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

void SharedStringsHandler::expect(std::uint64_t partBytes)
{
    // As for the sheet's texts: the strings are a part of the XML, and reserving is address space.
    arena.reserve(size_t(partBytes));
}

void SharedStringsHandler::start(const char *name, const char **)
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

void SharedStringsHandler::end(const char *name)
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

void SharedStringsHandler::text(const char *s, int len)
{
    if (!m_inText)
        return;
    if (m_current.size() + size_t(len) > kMaxStringBytes)
        return abort(QStringLiteral("an oversized text"));
    m_current.append(s, size_t(len));
}

} // namespace qalu::xlsx
