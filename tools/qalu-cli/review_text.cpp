#include "review_register.h"

#include "command.h"

namespace qalu::cli {

using update::CategoryStatus;
using update::ReviewResult;
using update::ReviewStatus;
using update::RowReport;

namespace {

QString subject(const RowReport &row)
{
    if (!row.isInsert())
        return oneLine(row.heldName.isEmpty() ? row.guid : row.guid + u' ' + row.heldName);
    QString text = QStringLiteral("%1 %2").arg(row.matNum).arg(row.name);
    if (row.categoryStatus != CategoryStatus::Unresolved)
        text += QStringLiteral(" [%1%2]").arg(row.category,
            row.categoryStatus == CategoryStatus::Created ? QStringLiteral(", new") : QString());
    if (row.verdict == ReviewStatus::Duplicate)
        text += QStringLiteral(" (MatNum held by %1)").arg(row.heldName);
    return oneLine(text);
}

QString summaryText(const ReviewResult &r)
{
    QStringList parts;
    for (int s = 0; s < update::reviewStatusCount; ++s)
        parts << QStringLiteral("%1 %2")
                     .arg(update::reviewStatusName(ReviewStatus(s)))
                     .arg(r.count(ReviewStatus(s)));
    parts << QStringLiteral("dropped %1").arg(r.droppedCount())
          << QStringLiteral("attention %1").arg(r.marked());
    return parts.join(QLatin1StringView(", "));
}

} // namespace

void printReviewText(const QString &workbook, const ReviewResult &r)
{
    printLine(stdout, QStringLiteral("%1: %2 sheet rows").arg(workbook).arg(r.sheetRows));
    qsizetype width = 0;
    for (const RowReport &row : r.rows)
        width = std::max(width, subject(row).size());
    width = std::min<qsizetype>(width, 60);
    if (!r.rows.isEmpty())
        printLine(stdout,
            QStringLiteral("%1  %2  %3  %4")
                .arg(QStringLiteral("row"), 5)
                .arg(QStringLiteral("what"), -12)
                .arg(QStringLiteral("guid name | MatNum name [category]"), int(-width))
                .arg(QStringLiteral("salp price1 salp2 price2: old -> new")));
    for (const RowReport &row : r.rows) {
        QString prices;
        if (row.isInsert() && !row.prices.isEmpty())
            prices = QStringLiteral("-> ") + pricesText(row.prices);
        else if (!row.isInsert() && row.oldPrices)
            prices = pricesText(*row.oldPrices) + QStringLiteral(" -> ") + pricesText(row.prices);
        else if (!row.isInsert() && !row.prices.isEmpty())
            prices = QStringLiteral("? -> ") + pricesText(row.prices);
        QString line = QStringLiteral("%1  %2  %3  %4")
                           .arg(row.sheetRow, 5)
                           .arg(update::reviewStatusName(row.verdict), -12)
                           .arg(subject(row), int(-width))
                           .arg(prices);
        if (row.marks)
            line += QStringLiteral("  !") + update::reviewMarkNames(row.marks).join(QLatin1StringView(" !"));
        while (line.endsWith(u' '))
            line.chop(1);
        printLine(stdout, line);
    }
    if (r.stop)
        printLine(stdout,
            QStringLiteral("stops at sheet row %1%2: %3")
                .arg(r.stop->sheetRow)
                .arg(r.stop->cell.isEmpty()
                        ? QString()
                        : QStringLiteral(", cell %1 \"%2\"").arg(r.stop->cell, oneLine(r.stop->text)))
                .arg(oneLine(r.stop->reason)));
    else
        printLine(stdout, QStringLiteral("completes"));
    if (r.dropped)
        printLine(stdout,
            QStringLiteral("dropped: sheet rows %1-%2 are not read")
                .arg(r.dropped->first)
                .arg(r.dropped->last));
    if (!r.newCategories.isEmpty())
        printLine(stdout, QStringLiteral("new categories: ") + r.newCategories.join(QLatin1StringView(", ")));
    printLine(stdout, QStringLiteral("summary: ") + summaryText(r));
}

} // namespace qalu::cli
