#include "command.h"

#include "core/decimal_separator.h"
#include "core/failure_text.h"
#include "intake/price_grid.h"
#include "intake/workbook_reader.h"

#include <cstdio>
#include <string>

namespace qalu::cli {

namespace {

const char help[]
    = "Usage: qalu-cli grid [--decimal-separator C] WORKBOOK\n"
      "\n"
      "Reads the first worksheet of the .xlsx file WORKBOOK into a fresh price grid, as the\n"
      "update button does (the grid emptied, then filled from A1 to the last used cell), and\n"
      "prints it in UTF-8:\n"
      "  line 1: RowCount<TAB>ColCount\n"
      "  then RowCount lines of ColCount cell texts separated by tabs; inside a text a\n"
      "  backslash, tab, line feed and carriage return are written as \\\\, \\t, \\n, \\r,\n"
      "  the other control characters as \\xHH (C0, DEL, C1) and the line, paragraph and\n"
      "  bidirectional controls as \\u{XXXX} (U+2028-U+202E, U+2066-U+2069); all other\n"
      "  bytes as they are.\n"
      "\n"
      "Options (--opt=value and --opt value are the same):\n"
      "  --decimal-separator C   write numbers with the one character C (default: the\n"
      "                          locale's decimal separator, '.' when it is not one character;\n"
      "                          not a digit, sign, e, E, blank or control character)\n"
      "  -h, --help              show this text\n"
      "  --version               show the program's version\n"
      "\n"
      "Exit status: 0 when the workbook was read; 1 when it could not be read (the reason on\n"
      "standard error, nothing on standard output); 64 on bad usage (one line on standard error).\n";

class Output
{
public:
    ~Output() { flush(); }
    void append(const char *data, size_t len)
    {
        m_buffer.append(data, len);
        if (m_buffer.size() >= (1u << 20))
            flush();
    }
    void append(char c)
    {
        m_buffer += c;
        if (m_buffer.size() >= (1u << 20))
            flush();
    }
    // The UTF-8 bytes of one cell text: backslash, tab, line feed and carriage return as \\ \t \n
    // \r; the other C0 controls, DEL and the C1 controls as \xHH, and the line, paragraph and
    // bidirectional controls as \u{XXXX}, as the other commands show them; every other byte as it
    // is. A backslash is always doubled, so an escape cannot be mistaken for cell text.
    void appendEscaped(const char *data, size_t len)
    {
        const auto byte = [&](size_t i) { return i < len ? static_cast<unsigned char>(data[i]) : 0u; };
        for (size_t i = 0; i < len; ++i) {
            const unsigned char c = static_cast<unsigned char>(data[i]);
            switch (c) {
            case '\\':
                m_buffer += "\\\\";
                continue;
            case '\t':
                m_buffer += "\\t";
                continue;
            case '\n':
                m_buffer += "\\n";
                continue;
            case '\r':
                m_buffer += "\\r";
                continue;
            default:
                break;
            }
            char escape[12] = {};
            if (c < 0x20 || c == 0x7f) {
                std::snprintf(escape, sizeof escape, "\\x%02X", unsigned(c));
            } else if (c == 0xc2 && byte(i + 1) >= 0x80 && byte(i + 1) <= 0x9f) {
                std::snprintf(escape, sizeof escape, "\\x%02X", byte(i + 1));
                i += 1;
            } else if (c == 0xe2
                && ((byte(i + 1) == 0x80 && byte(i + 2) >= 0xa8 && byte(i + 2) <= 0xae)
                    || (byte(i + 1) == 0x81 && byte(i + 2) >= 0xa6 && byte(i + 2) <= 0xa9))) {
                std::snprintf(escape, sizeof escape, "\\u{%04X}",
                    0x2000u + (byte(i + 1) - 0x80u) * 0x40u + (byte(i + 2) - 0x80u));
                i += 2;
            } else {
                m_buffer += char(c);
                continue;
            }
            m_buffer += escape;
        }
        if (m_buffer.size() >= (1u << 20))
            flush();
    }
    void flush()
    {
        if (!m_buffer.empty())
            std::fwrite(m_buffer.data(), 1, m_buffer.size(), stdout);
        m_buffer.clear();
    }

private:
    std::string m_buffer;
};

void printGrid(const TStringGrid &grid)
{
    Output out;
    const std::string header
        = std::to_string(grid.RowCount()) + '\t' + std::to_string(grid.ColCount()) + '\n';
    out.append(header.data(), header.size());
    const int cols = grid.ColCount();
    const bool utf8 = gridTextIsUtf8();
    for (int r = 0; r < grid.RowCount(); ++r) {
        int col = 0; // tabs written up to this column
        grid.forEachCellInRow(r, [&](int c, QByteArrayView text) {
            if (c >= cols)
                return;
            for (; col < c; ++col)
                out.append('\t');
            if (utf8) {
                out.appendEscaped(text.data(), size_t(text.size()));
            } else {
                const QByteArray u = fromGridText(text.toByteArray()).toUtf8();
                out.appendEscaped(u.constData(), size_t(u.size()));
            }
        });
        for (; col < cols - 1; ++col)
            out.append('\t');
        out.append('\n');
    }
}

} // namespace

int runGrid(const QStringList &args)
{
    CommandLine line("grid", QString::fromUtf8(help));
    line.takeDecimalSeparator();
    if (const std::optional<int> done = line.parse(args))
        return *done;
    const QChar separator = line.decimalSeparator().value_or(systemDecimalSeparator());
    const QString path = line.onePositional("WORKBOOK");
    if (const std::optional<int> error = line.error())
        return *error;

    TStringGrid grid;
    try {
        ClearGrid(grid);
        LoadWorkbookToGrid(grid, path, separator);
    } catch (...) {
        printLine(stderr, QStringLiteral("qalu-cli grid: ") + oneLine(failureText(std::current_exception())));
        return 1;
    }
    printGrid(grid);
    std::fflush(stdout);
    return 0;
}

} // namespace qalu::cli
