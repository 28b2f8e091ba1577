#include "db/update_report.h"

#include "core/messages.h"

#include <QJsonArray>

namespace qalu::db {

QString updateMessage(UpdateOutcome outcome)
{
    switch (outcome) {
    case UpdateOutcome::Completed:
        return messages::updateCompleted();
    case UpdateOutcome::ReadFailed:
        return messages::readProblem();
    case UpdateOutcome::RowFailed:
        break;
    }
    return messages::updateIncomplete();
}

QString columnName(int col)
{
    QString name;
    for (int n = col + 1; n > 0; n = (n - 1) / 26)
        name.prepend(QChar(u'A' + (n - 1) % 26));
    return name;
}

namespace {

QString outcomeName(UpdateOutcome outcome)
{
    switch (outcome) {
    case UpdateOutcome::Completed:
        return QStringLiteral("completed");
    case UpdateOutcome::ReadFailed:
        return QStringLiteral("read-failed");
    case UpdateOutcome::RowFailed:
        break;
    }
    return QStringLiteral("row-failed");
}

QString statusName(RowStatus status)
{
    switch (status) {
    case RowStatus::Applied:
        return QStringLiteral("applied");
    case RowStatus::Failed:
        return QStringLiteral("failed");
    case RowStatus::NotReached:
        break;
    }
    return QStringLiteral("not-reached");
}

QJsonValue pricesJson(const QList<double> &prices)
{
    if (prices.isEmpty())
        return QJsonValue::Null;
    QJsonArray array;
    for (double price : prices)
        array.append(price);
    return array;
}

QJsonObject rowJson(const RowReport &row)
{
    QJsonObject o;
    o.insert(QStringLiteral("sheet_row"), row.sheetRow);
    if (row.kind == RowKind::Update) {
        o.insert(QStringLiteral("kind"), QStringLiteral("update"));
        o.insert(QStringLiteral("guid"), row.guid);
    } else {
        o.insert(QStringLiteral("kind"), QStringLiteral("insert"));
        o.insert(QStringLiteral("mat_num"), row.matNum);
        o.insert(QStringLiteral("name"), row.name);
        o.insert(QStringLiteral("category"), row.category);
        switch (row.categoryStatus) {
        case CategoryStatus::Unresolved:
            o.insert(QStringLiteral("category_status"), QJsonValue::Null);
            break;
        case CategoryStatus::Exists:
            o.insert(QStringLiteral("category_status"), QStringLiteral("exists"));
            break;
        case CategoryStatus::Created:
            o.insert(QStringLiteral("category_status"), QStringLiteral("new"));
            break;
        }
    }
    o.insert(QStringLiteral("status"), statusName(row.status));
    o.insert(QStringLiteral("new"), pricesJson(row.prices));
    return o;
}

} // namespace

QJsonObject reportToJson(const UpdateReport &report)
{
    QJsonObject o;
    o.insert(QStringLiteral("workbook"), report.workbook);
    o.insert(QStringLiteral("sheet_rows"), report.sheetRows);
    o.insert(QStringLiteral("outcome"), outcomeName(report.outcome));
    o.insert(QStringLiteral("read_failure"),
        report.outcome == UpdateOutcome::ReadFailed ? QJsonValue(report.readFailure) : QJsonValue::Null);
    if (report.stop) {
        const RowFailure &stop = *report.stop;
        o.insert(QStringLiteral("stop"),
            QJsonObject { { QStringLiteral("sheet_row"), stop.sheetRow },
                { QStringLiteral("cell"), stop.cell.isEmpty() ? QJsonValue::Null : QJsonValue(stop.cell) },
                { QStringLiteral("text"), stop.text }, { QStringLiteral("reason"), stop.reason } });
    } else {
        o.insert(QStringLiteral("stop"), QJsonValue::Null);
    }
    if (report.dropped)
        o.insert(QStringLiteral("dropped"),
            QJsonObject { { QStringLiteral("first"), report.dropped->first },
                { QStringLiteral("last"), report.dropped->last } });
    else
        o.insert(QStringLiteral("dropped"), QJsonValue::Null);
    o.insert(QStringLiteral("new_categories"), QJsonArray::fromStringList(report.newCategories));
    QJsonArray rows;
    for (const RowReport &row : report.rows)
        rows.append(rowJson(row));
    o.insert(QStringLiteral("rows"), rows);
    return o;
}

} // namespace qalu::db
