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
      "  backslash, tab, line feed and carriage return are written as \\\\, \\t, \\n, \\r.\n"
      "\n"
      "Options (--opt=value and --opt value are the same):\n"
      "  --decimal-separator C   write numbers with the one character C (default: the\n"
      "                          locale's decimal separator, '.' when it is not one character)\n"
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
    void appendEscaped(const char *data, size_t len)
    {
        for (size_t i = 0; i < len; ++i) {
            switch (data[i]) {
            case '\\':
                m_buffer += "\\\\";
                break;
            case '\t':
                m_buffer += "\\t";
                break;
            case '\n':
                m_buffer += "\\n";
                break;
            case '\r':
                m_buffer += "\\r";
                break;
            default:
                m_buffer += data[i];
            }
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
