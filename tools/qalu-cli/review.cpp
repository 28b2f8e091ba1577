#include "commands.h"

#include "core/decimal_separator.h"
#include "core/failure_text.h"
#include "core/messages.h"
#include "db/connection.h"
#include "db/price_review.h"
#include "db/update_run.h"
#include "intake/price_grid.h"
#include "intake/workbook_reader.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

#include <xlsxwriter.h>

#include <cstdio>
#include <filesystem>

namespace qalu::cli {

namespace {

using db::ReviewResult;
using db::ReviewRow;
using db::ReviewStatus;

constexpr int exitCompletes = 0;
constexpr int exitConnection = 1;
constexpr int exitUnreadable = 2;
constexpr int exitStops = 3;
constexpr int exitLook = 4;
// The register was printed but the --xlsx file could not be written (BSD's EX_CANTCREAT).
constexpr int exitCannotWrite = 73;

void printLine(const QString &text)
{
    std::fputs(text.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
}

// A database's error text may run over several lines; a register line may not.
QString oneLine(QString text)
{
    text.replace(QLatin1StringView("\r\n"), QLatin1StringView(" "));
    text.replace(u'\n', u' ').replace(u'\r', u' ');
    return text;
}

// The ODBC driver also warns about every statement the database refuses; the register names
// the refusal already, so the warning would only repeat it.
void quietDriverWarnings(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg && message.startsWith(QLatin1StringView("QODBC")))
        return;
    std::fputs(qFormatLogMessage(type, context, message).toLocal8Bit().constData(), stderr);
    std::fputc('\n', stderr);
}

QString number(double value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

// --- JSON, written by hand so the keys keep the documented order.

QString jsonString(const QString &text)
{
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'"':
            out += QLatin1StringView("\\\"");
            break;
        case u'\\':
            out += QLatin1StringView("\\\\");
            break;
        case u'\n':
            out += QLatin1StringView("\\n");
            break;
        case u'\r':
            out += QLatin1StringView("\\r");
            break;
        case u'\t':
            out += QLatin1StringView("\\t");
            break;
        default:
            if (c.unicode() < 0x20)
                out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    return out + u'"';
}

QString jsonPrices(const std::optional<std::array<double, 4>> &prices, int count)
{
    if (!prices)
        return QStringLiteral("null");
    QStringList items;
    for (int i = 0; i < count; ++i)
        items << number((*prices)[size_t(i)]);
    return u'[' + items.join(u',') + u']';
}

QString jsonMarks(unsigned marks)
{
    QStringList items;
    for (const QString &name : db::reviewMarkNames(marks))
        items << jsonString(name);
    return u'[' + items.join(u',') + u']';
}

QString jsonRow(const ReviewRow &row)
{
    const QString status = jsonString(db::reviewStatusName(row.status));
    if (!row.insert)
        return QStringLiteral("{\"sheet_row\":%1,\"kind\":\"update\",\"guid\":%2,\"status\":%3,\"old\":%4,"
                              "\"new\":%5,\"attention\":%6}")
            .arg(QString::number(row.sheetRow), jsonString(row.guid), status, jsonPrices(row.oldPrices, 4),
                jsonPrices(row.newPrices, 4), jsonMarks(row.marks));
    const QString categoryStatus = !row.categoryKnown ? QStringLiteral("null")
        : row.categoryNew                             ? QStringLiteral("\"new\"")
                                                      : QStringLiteral("\"exists\"");
    return QStringLiteral("{\"sheet_row\":%1,\"kind\":\"insert\",\"mat_num\":%2,\"name\":%3,\"category\":%4,"
                          "\"category_status\":%5,\"status\":%6,\"new\":%7,\"attention\":%8}")
        .arg(QString::number(row.sheetRow), QString::number(row.matNum), jsonString(row.name),
            jsonString(row.category), categoryStatus, status, jsonPrices(row.newPrices, 2),
            jsonMarks(row.marks));
}

void printJson(const QString &workbook, const ReviewResult &r)
{
    QString out = QStringLiteral("{\"workbook\":%1,\"sheet_rows\":%2,\"outcome\":\"%3\",\"stop\":")
                      .arg(jsonString(workbook), QString::number(r.sheetRows),
                          r.stop ? QStringLiteral("stops") : QStringLiteral("completes"));
    if (r.stop)
        out += QStringLiteral("{\"sheet_row\":%1,\"cell\":%2,\"text\":%3,\"reason\":%4}")
                   .arg(QString::number(r.stop->sheetRow),
                       r.stop->cell.isEmpty() ? QStringLiteral("null") : jsonString(r.stop->cell),
                       jsonString(r.stop->text), jsonString(r.stop->reason));
    else
        out += QLatin1StringView("null");
    out += QLatin1StringView(",\"dropped\":");
    out += r.dropped() ? QStringLiteral("{\"first\":%1,\"last\":%2}").arg(r.droppedFirst).arg(r.droppedLast)
                       : QStringLiteral("null");
    QStringList categories;
    for (const QString &name : r.newCategories)
        categories << jsonString(name);
    out += QStringLiteral(",\"new_categories\":[%1],\"rows\":[").arg(categories.join(u','));
    for (qsizetype i = 0; i < r.rows.size(); ++i)
        out += (i ? QStringLiteral(",\n") : QStringLiteral("\n")) + jsonRow(r.rows.at(i));
    out += QLatin1StringView("\n],\"summary\":{");
    for (int s = 0; s < db::reviewStatusCount; ++s) {
        const auto status = ReviewStatus(s);
        out += QStringLiteral("\"%1\":%2,").arg(db::reviewStatusName(status)).arg(r.count(status));
    }
    out += QStringLiteral("\"dropped\":%1,\"attention\":%2}}").arg(r.dropped()).arg(r.marked());
    printLine(out);
}

// --- Text: one aligned line per row, then the stop and the summary.

QString pricesText(const std::optional<std::array<double, 4>> &prices, int count)
{
    if (!prices)
        return QString();
    QStringList items;
    for (int i = 0; i < count; ++i)
        items << number((*prices)[size_t(i)]);
    return items.join(u' ');
}

QString subject(const ReviewRow &row)
{
    if (!row.insert)
        return oneLine(row.guid);
    QString text = QStringLiteral("%1 %2").arg(row.matNum).arg(row.name);
    if (row.categoryKnown)
        text += QStringLiteral(" [%1%2]").arg(
            row.category, row.categoryNew ? QStringLiteral(", new") : QString());
    return oneLine(text);
}

QString summaryText(const ReviewResult &r)
{
    QStringList parts;
    for (int s = 0; s < db::reviewStatusCount; ++s)
        parts << QStringLiteral("%1 %2")
                     .arg(db::reviewStatusName(ReviewStatus(s)))
                     .arg(r.count(ReviewStatus(s)));
    parts << QStringLiteral("dropped %1").arg(r.dropped()) << QStringLiteral("attention %1").arg(r.marked());
    return parts.join(QLatin1StringView(", "));
}

void printText(const QString &workbook, const ReviewResult &r)
{
    printLine(QStringLiteral("%1: %2 sheet rows").arg(workbook).arg(r.sheetRows));
    qsizetype width = 0;
    for (const ReviewRow &row : r.rows)
        width = std::max(width, subject(row).size());
    width = std::min<qsizetype>(width, 60);
    if (!r.rows.isEmpty())
        printLine(QStringLiteral("%1  %2  %3  %4")
                      .arg(QStringLiteral("row"), 5)
                      .arg(QStringLiteral("what"), -12)
                      .arg(QStringLiteral("guid | MatNum name [category]"), int(-width))
                      .arg(QStringLiteral("salp price1 salp2 price2: old -> new")));
    for (const ReviewRow &row : r.rows) {
        QString prices;
        if (row.insert && row.newPrices)
            prices = QStringLiteral("-> ") + pricesText(row.newPrices, 2);
        else if (!row.insert && row.oldPrices)
            prices = pricesText(row.oldPrices, 4) + QStringLiteral(" -> ") + pricesText(row.newPrices, 4);
        else if (!row.insert && row.newPrices)
            prices = QStringLiteral("? -> ") + pricesText(row.newPrices, 4);
        QString line = QStringLiteral("%1  %2  %3  %4")
                           .arg(row.sheetRow, 5)
                           .arg(db::reviewStatusName(row.status), -12)
                           .arg(subject(row), int(-width))
                           .arg(prices);
        if (row.marks)
            line += QStringLiteral("  !") + db::reviewMarkNames(row.marks).join(QLatin1StringView(" !"));
        while (line.endsWith(u' '))
            line.chop(1);
        printLine(line);
    }
    if (r.stop)
        printLine(QStringLiteral("stops at sheet row %1%2: %3")
                      .arg(r.stop->sheetRow)
                      .arg(r.stop->cell.isEmpty()
                              ? QString()
                              : QStringLiteral(", cell %1 \"%2\"").arg(r.stop->cell, oneLine(r.stop->text)))
                      .arg(oneLine(r.stop->reason)));
    else
        printLine(QStringLiteral("completes"));
    if (r.dropped())
        printLine(
            QStringLiteral("dropped: sheet rows %1-%2 are not read").arg(r.droppedFirst).arg(r.droppedLast));
    if (!r.newCategories.isEmpty())
        printLine(QStringLiteral("new categories: ") + r.newCategories.join(QLatin1StringView(", ")));
    printLine(QStringLiteral("summary: ") + summaryText(r));
}

// --- The register as a workbook.

class XlsxRegister
{
public:
    explicit XlsxRegister(const QString &path)
        : m_book(workbook_new(QFile::encodeName(path).constData()))
    {
    }
    ~XlsxRegister()
    {
        // A workbook not closed by write() is freed without being written.
        if (m_book) {
            lxw_workbook_free(m_book);
        }
    }
    XlsxRegister(const XlsxRegister &) = delete;
    XlsxRegister &operator=(const XlsxRegister &) = delete;

    // Fills and closes the workbook; returns the failure's text, empty on success.
    QString write(const QString &workbook, const ReviewResult &r)
    {
        if (!m_book)
            return QStringLiteral("cannot create the workbook");
        lxw_format *header = format(0xD9D9D9);
        format_set_bold(header);
        lxw_format *bold = workbook_add_format(m_book);
        format_set_bold(bold);

        lxw_worksheet *sheet = workbook_add_worksheet(m_book, "Register");
        static const char *const titles[] = { "Sheet row", "Kind", "Status", "Attention", "Guid", "MatNum",
            "Name", "Category", "Category status", "Old salp", "New salp", "Old price1", "New price1",
            "Old salp2", "New salp2", "Old price2", "New price2", "Cell", "Text", "Reason" };
        constexpr lxw_col_t columns = sizeof titles / sizeof *titles;
        for (lxw_col_t c = 0; c < columns; ++c)
            worksheet_write_string(sheet, 0, c, titles[c], header);
        worksheet_set_column(sheet, 0, 2, 13, nullptr);
        worksheet_set_column(sheet, 3, 3, 26, nullptr);
        worksheet_set_column(sheet, 4, 4, 40, nullptr);
        worksheet_set_column(sheet, 6, 7, 30, nullptr);
        worksheet_set_column(sheet, 8, 8, 15, nullptr);
        worksheet_set_column(sheet, 9, 16, 11, nullptr);
        worksheet_set_column(sheet, 19, 19, 45, nullptr);

        lxw_row_t line = 1;
        for (const ReviewRow &row : r.rows) {
            worksheet_write_number(sheet, line, 0, row.sheetRow, nullptr);
            text(sheet, line, 1, row.insert ? QStringLiteral("insert") : QStringLiteral("update"));
            text(sheet, line, 2, db::reviewStatusName(row.status), statusFormat(row));
            text(sheet, line, 3, db::reviewMarkNames(row.marks).join(u' '));
            if (!row.insert) {
                text(sheet, line, 4, row.guid);
            } else {
                worksheet_write_number(sheet, line, 5, row.matNum, nullptr);
                text(sheet, line, 6, row.name);
                text(sheet, line, 7, row.category);
                if (row.categoryKnown)
                    text(sheet, line, 8, row.categoryNew ? QStringLiteral("new") : QStringLiteral("exists"));
            }
            // Old and new side by side, price by price; an insert row has only salp and price1.
            const int prices = row.insert ? 2 : 4;
            for (int i = 0; i < prices; ++i) {
                const auto c = lxw_col_t(9 + 2 * i);
                if (row.oldPrices)
                    worksheet_write_number(sheet, line, c, (*row.oldPrices)[size_t(i)], nullptr);
                if (row.newPrices)
                    worksheet_write_number(sheet, line, lxw_col_t(c + 1), (*row.newPrices)[size_t(i)], bold);
            }
            if (row.status == ReviewStatus::Fails && r.stop) {
                text(sheet, line, 17, r.stop->cell);
                text(sheet, line, 18, r.stop->text);
                text(sheet, line, 19, r.stop->reason);
            }
            ++line;
        }
        worksheet_freeze_panes(sheet, 1, 0);
        // Printed, the register is one page wide with its header on every page.
        worksheet_set_landscape(sheet);
        worksheet_fit_to_pages(sheet, 1, 0);
        worksheet_repeat_rows(sheet, 0, 0);
        worksheet_autofilter(sheet, 0, 0, line > 1 ? line - 1 : 0, columns - 1);

        lxw_worksheet *summary = workbook_add_worksheet(m_book, "Summary");
        lxw_format *left = workbook_add_format(m_book);
        format_set_align(left, LXW_ALIGN_LEFT);
        worksheet_set_column(summary, 0, 0, 18, bold);
        worksheet_set_column(summary, 1, 1, 70, left);
        worksheet_fit_to_pages(summary, 1, 0);
        lxw_row_t s = 0;
        const auto pair = [&](const QString &key, const QString &value) {
            text(summary, s, 0, key, bold);
            text(summary, s++, 1, value, left);
        };
        const auto count = [&](const QString &key, int value, lxw_format *fmt) {
            text(summary, s, 0, key, fmt ? fmt : bold);
            worksheet_write_number(summary, s++, 1, value, left);
        };
        pair(QStringLiteral("Workbook"), workbook);
        count(QStringLiteral("Sheet rows"), r.sheetRows, nullptr);
        pair(QStringLiteral("Outcome"), r.stop ? QStringLiteral("stops") : QStringLiteral("completes"));
        if (r.stop) {
            pair(QStringLiteral("Stops at"),
                QStringLiteral("sheet row %1 %2 \"%3\": %4")
                    .arg(r.stop->sheetRow)
                    .arg(r.stop->cell, r.stop->text, r.stop->reason));
        }
        if (r.dropped())
            pair(QStringLiteral("Dropped"),
                QStringLiteral("sheet rows %1-%2").arg(r.droppedFirst).arg(r.droppedLast));
        pair(QStringLiteral("New categories"), r.newCategories.join(QLatin1StringView(", ")));
        ++s;
        for (int i = 0; i < db::reviewStatusCount; ++i) {
            ReviewRow probe;
            probe.status = ReviewStatus(i);
            count(db::reviewStatusName(probe.status), r.count(probe.status), statusFormat(probe));
        }
        count(QStringLiteral("dropped"), r.dropped(), nullptr);
        ReviewRow marked;
        marked.status = ReviewStatus::Change;
        marked.marks = db::ToZero;
        count(QStringLiteral("attention"), r.marked(), statusFormat(marked));

        const lxw_error error = workbook_close(m_book);
        m_book = nullptr;
        return error == LXW_NO_ERROR ? QString() : QString::fromUtf8(lxw_strerror(error));
    }

private:
    lxw_workbook *m_book;
    lxw_format *m_formats[7] = {};

    lxw_format *format(lxw_color_t fill)
    {
        lxw_format *f = workbook_add_format(m_book);
        format_set_bg_color(f, fill);
        format_set_pattern(f, LXW_PATTERN_SOLID);
        return f;
    }

    // One colour per outcome: change, same, attention, unknown guid or duplicate, fails, not
    // reached; a new medicine has its own.
    lxw_format *statusFormat(const ReviewRow &row)
    {
        int kind = 0;
        switch (row.status) {
        case ReviewStatus::Change:
            kind = 0;
            break;
        case ReviewStatus::Same:
            kind = 1;
            break;
        case ReviewStatus::Insert:
            kind = 2;
            break;
        case ReviewStatus::UnknownGuid:
        case ReviewStatus::Duplicate:
            kind = 3;
            break;
        case ReviewStatus::Fails:
            kind = 4;
            break;
        case ReviewStatus::NotReached:
            kind = 5;
            break;
        }
        if (row.marks && kind <= 3)
            kind = 6;
        static const lxw_color_t fills[7]
            = { 0xC6EFCE, 0xEDEDED, 0xDDEBF7, 0xFFEB9C, 0xFFC7CE, 0xBFBFBF, 0xF4B084 };
        if (!m_formats[kind])
            m_formats[kind] = format(fills[kind]);
        return m_formats[kind];
    }

    static void text(
        lxw_worksheet *sheet, lxw_row_t row, lxw_col_t col, const QString &value, lxw_format *fmt = nullptr)
    {
        if (!value.isEmpty())
            worksheet_write_string(sheet, row, col, value.toUtf8().constData(), fmt);
    }
};

// Writes the register next to FILE first and renames it over FILE, so FILE is either the old
// file or the whole new register.
QString writeXlsx(const QString &path, const QString &workbook, const ReviewResult &r)
{
    const QFileInfo target(path);
    QTemporaryFile temp(
        target.absoluteDir().filePath(QStringLiteral(".%1.XXXXXX.xlsx").arg(target.fileName())));
    if (!temp.open())
        return temp.errorString();
    temp.close();
    const QString tempPath = temp.fileName();
    {
        XlsxRegister book(tempPath);
        const QString error = book.write(workbook, r);
        if (!error.isEmpty())
            return error;
    }
    // A new file gets the usual rights, not the temporary file's owner-only ones.
    const QFile::Permissions rights = target.exists()
        ? QFile::permissions(path)
        : QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
    QFile::setPermissions(tempPath, rights);
    std::error_code error;
    std::filesystem::rename(
        QFile::encodeName(tempPath).constData(), QFile::encodeName(path).constData(), error);
    if (error)
        return QString::fromLocal8Bit(error.message());
    temp.setAutoRemove(false);
    return QString();
}

} // namespace

int runReview(const ReviewOptions &options)
{
    qInstallMessageHandler(quietDriverWarnings);
    if (options.separator)
        setDecimalSeparator(*options.separator);

    // As apply: the connection first, then the workbook.
    db::TConnection connection;
    connection.setReadOnly(true);
    try {
        connection.setConnectionString(options.connection);
        connection.Open();
    } catch (...) {
        printLine(messages::databaseProblem());
        printLine(failureText(std::current_exception()).replace(u'\n', u' ').replace(u'\r', u' '));
        return exitConnection;
    }

    TStringGrid grid;
    try {
        ClearGrid(grid);
        LoadWorkbookToGrid(grid, options.workbook);
    } catch (...) {
        printLine(db::updateMessage(db::UpdateOutcome::ReadFailed));
        QString reason = failureText(std::current_exception());
        printLine(reason.replace(u'\n', u' ').replace(u'\r', u' '));
        return exitUnreadable;
    }

    db::PriceReview review(connection, options.changeLimit);
    const ReviewResult result = review.review(grid, decimalSeparator());
    connection.Close();

    if (options.format == ReviewFormat::Json)
        printJson(options.workbook, result);
    else
        printText(options.workbook, result);
    std::fflush(stdout);

    if (!options.xlsx.isEmpty()) {
        const QString error = writeXlsx(options.xlsx, options.workbook, result);
        if (!error.isEmpty()) {
            std::fprintf(stderr, "qalu-cli review: cannot write %s: %s\n", options.xlsx.toUtf8().constData(),
                error.toUtf8().constData());
            return exitCannotWrite;
        }
    }
    if (result.stop)
        return exitStops;
    return result.needsLook() ? exitLook : exitCompletes;
}

} // namespace qalu::cli
