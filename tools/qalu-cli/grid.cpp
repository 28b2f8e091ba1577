#include "commands.h"

#include "core/decimal_separator.h"
#include "core/failure_text.h"
#include "intake/price_grid.h"
#include "intake/workbook_reader.h"

#include <cstdio>
#include <string>

namespace qalu::cli {

namespace {

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

int runGrid(const GridOptions &options)
{
    if (options.separator)
        setDecimalSeparator(*options.separator);
    const QString &path = options.workbook;
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
