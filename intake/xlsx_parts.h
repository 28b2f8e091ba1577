#pragma once

#include "intake/number_format.h"
#include "intake/xlsx_stream.h"

#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

// The package parts around the sheet: relationships, the workbook, styles and shared strings.
namespace qalu::xlsx {

struct Relationship
{
    std::string type;
    std::string target; // part name, resolved
};

// "xl/workbook.xml" -> "xl/"
std::string directoryOf(const std::string &part);

// A relationship target resolved against the folder of its source part, "." and ".." removed.
std::string resolvePart(const std::string &baseDir, std::string_view target);

// A relationships part: internal relationships by id, in document order.
class RelsHandler : public XmlHandler
{
public:
    explicit RelsHandler(std::string baseDir);
    void start(const char *name, const char **attrs) override;
    void end(const char *) override { }

    const Relationship *byId(const std::string &id) const;
    const Relationship *firstOfType(std::string_view typeTail) const;

private:
    std::string m_baseDir;
    std::vector<std::string> m_order;
    std::unordered_map<std::string, Relationship> m_byId;
};

// The workbook part: the sheets in the workbook's own order and the date system.
class WorkbookHandler : public XmlHandler
{
public:
    void start(const char *name, const char **attrs) override;
    void end(const char *) override { }

    bool date1904 = false;
    std::vector<std::string> sheetIds;
};

// Styles: which cell formats make a number a date or a currency value.
class StylesHandler : public XmlHandler
{
public:
    void start(const char *name, const char **attrs) override;
    void end(const char *name) override;

    // The number kind of each cell format, by its index (a cell's s attribute).
    std::vector<NumberKind> kinds() const;

private:
    bool m_inCellXfs = false;
    bool m_inNumFmts = false;
    std::vector<int> m_xfFormats;
    std::unordered_map<int, NumberKind> m_custom;
};

// Decodes the _xHHHH_ escapes, then appends the UTF-8 text to `arena` in the grid's encoding.
void appendGridText(std::string &arena, std::string &utf8);

// The shared string table, in the grid's encoding: each string's offset and length in `arena`.
struct SharedStrings
{
    std::string arena;
    std::vector<std::pair<quint32, quint32>> strings;
};

// Shared strings: runs joined, phonetic runs left out.
class SharedStringsHandler : public XmlHandler, public SharedStrings
{
public:
    void start(const char *name, const char **) override;
    void end(const char *name) override;
    void text(const char *s, int len) override;
    void expect(std::uint64_t partBytes) override;

private:
    bool m_inItem = false;
    bool m_inText = false;
    int m_skip = 0;
    std::string m_current;
};

} // namespace qalu::xlsx
