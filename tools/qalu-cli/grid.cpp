#include "commands.h"

#include "core/decimal_separator.h"
#include "core/failure_text.h"
#include "intake/price_grid.h"
#include "intake/workbook_reader.h"

#include <cstdio>
#include <string>

namespace qalu::cli {

namespace {

const char gridUsage[]
    = "Usage: qalu-cli grid [--decimal-separator C] WORKBOOK\n"
      "\n"
      "Reads the first worksheet of the .xlsx file WORKBOOK into a fresh price grid, as the\n"
      "update button does (the grid emptied, then filled from A1 to the last used cell), and\n"
      "prints it in UTF-8:\n"
      "  line 1: RowCount<TAB>ColCount\n"
      "  then RowCount lines of ColCount cell texts separated by tabs; inside a text a\n"
      "  backslash, tab, line feed and carriage return are written as \\\\, \\t, \\n, \\r.\n"
      "\n"
      "Options:\n"
      "  --decimal-separator C   write numbers with the one character C (default: the\n"
      "                          locale's decimal separator, '.' when it is not one character)\n"
      "  --help                  show this text\n"
      "\n"
      "Exit status: 0 when the workbook was read; 1 when it could not be read (the reason on\n"
      "standard error, nothing on standard output) or on bad usage.\n";

int usageError(const char *what)
{
    std::fprintf(stderr, "qalu-cli grid: %s (try 'qalu-cli grid --help')\n", what);
    return 1;
}

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
    QString path;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &a = args.at(i);
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            std::fputs(gridUsage, stdout);
            return 0;
        }
        if (a == QLatin1String("--decimal-separator")) {
            if (i + 1 >= args.size())
                return usageError("--decimal-separator needs a character");
            const QString sep = args.at(++i);
            if (sep.size() != 1)
                return usageError("the decimal separator must be exactly one character");
            setDecimalSeparator(sep.at(0));
        } else if (a.startsWith(QLatin1String("--"))) {
            std::fprintf(
                stderr, "qalu-cli grid: unknown option '%s' (try 'qalu-cli grid --help')\n", qPrintable(a));
            return 1;
        } else if (!path.isEmpty()) {
            return usageError("only one WORKBOOK may be given");
        } else {
            path = a;
        }
    }
    if (path.isEmpty())
        return usageError("no WORKBOOK given");

    TStringGrid grid;
    try {
        ClearGrid(grid);
        LoadWorkbookToGrid(grid, path);
    } catch (...) {
        // One line, even when the reason quotes a file name with a line break in it.
        QString reason = failureText(std::current_exception());
        reason.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
        std::fprintf(stderr, "qalu-cli grid: %s\n", reason.toUtf8().constData());
        return 1;
    }
    printGrid(grid);
    std::fflush(stdout);
    return 0;
}

} // namespace qalu::cli
