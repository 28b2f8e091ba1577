#include "review_register.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <xlsxwriter.h>

#include <filesystem>

namespace qalu::cli {

using update::CategoryStatus;
using update::ReviewResult;
using update::ReviewStatus;
using update::RowReport;

namespace {

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
        static const char *const titles[]
            = { "Sheet row", "Kind", "Status", "Attention", "Guid", "MatNum", "Name", "Category",
                  "Category status", "Old salp", "New salp", "Old price1", "New price1", "Old salp2",
                  "New salp2", "Old price2", "New price2", "Cell", "Text", "Reason", "MatNum held by" };
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
        worksheet_set_column(sheet, 20, 20, 30, nullptr);

        lxw_row_t line = 1;
        for (const RowReport &row : r.rows) {
            worksheet_write_number(sheet, line, 0, row.sheetRow, nullptr);
            text(sheet, line, 1, row.isInsert() ? QStringLiteral("insert") : QStringLiteral("update"));
            text(sheet, line, 2, update::reviewStatusName(row.verdict), statusFormat(row));
            text(sheet, line, 3, update::reviewMarkNames(row.marks).join(u' '));
            if (!row.isInsert()) {
                text(sheet, line, 4, row.guid);
                text(sheet, line, 6, row.heldName);
            } else {
                worksheet_write_number(sheet, line, 5, row.matNum, nullptr);
                text(sheet, line, 6, row.name);
                text(sheet, line, 7, row.category);
                if (row.categoryStatus != CategoryStatus::Unresolved)
                    text(sheet, line, 8,
                        row.categoryStatus == CategoryStatus::Created ? QStringLiteral("new")
                                                                      : QStringLiteral("exists"));
                if (row.verdict == ReviewStatus::Duplicate)
                    text(sheet, line, 20, row.heldName);
            }
            // Old and new side by side, price by price; an insert row has only salp and price1.
            const int prices = row.isInsert() ? 2 : 4;
            for (int i = 0; i < prices; ++i) {
                const auto c = lxw_col_t(9 + 2 * i);
                if (row.oldPrices)
                    worksheet_write_number(sheet, line, c, (*row.oldPrices)[size_t(i)], nullptr);
                if (i < row.prices.size())
                    worksheet_write_number(sheet, line, lxw_col_t(c + 1), row.prices.at(i), bold);
            }
            if (row.verdict == ReviewStatus::Fails && r.stop) {
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
        if (r.dropped)
            pair(QStringLiteral("Dropped"),
                QStringLiteral("sheet rows %1-%2").arg(r.dropped->first).arg(r.dropped->last));
        pair(QStringLiteral("New categories"), r.newCategories.join(QLatin1StringView(", ")));
        ++s;
        for (int i = 0; i < update::reviewStatusCount; ++i) {
            RowReport probe;
            probe.verdict = ReviewStatus(i);
            count(update::reviewStatusName(probe.verdict), r.count(probe.verdict), statusFormat(probe));
        }
        count(QStringLiteral("dropped"), r.droppedCount(), nullptr);
        RowReport marked;
        marked.verdict = ReviewStatus::Change;
        marked.marks = update::ToZero;
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
    lxw_format *statusFormat(const RowReport &row)
    {
        int kind = 0;
        switch (row.verdict) {
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

} // namespace

QString writeFileAtomically(const QString &path, const std::function<QString(const QString &)> &write)
{
    const QFileInfo target(path);
    QTemporaryFile temp(
        target.absoluteDir().filePath(QStringLiteral(".%1.XXXXXX.xlsx").arg(target.fileName())));
    if (!temp.open())
        return temp.errorString();
    temp.close();
    const QString tempPath = temp.fileName();
    if (const QString error = write(tempPath); !error.isEmpty())
        return error;
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

QString writeReviewXlsx(const QString &path, const QString &workbook, const ReviewResult &r)
{
    return writeFileAtomically(path, [&](const QString &tempPath) {
        XlsxRegister book(tempPath);
        return book.write(workbook, r);
    });
}

} // namespace qalu::cli
