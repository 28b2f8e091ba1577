#include "update/report_json.h"

#include <QJsonArray>
#include <QLocale>

namespace qalu::update {

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
    if (row.kind == RowKind::Update && row.status == RowStatus::Applied) {
        o.insert(QStringLiteral("matched"), row.matched ? QJsonValue(*row.matched) : QJsonValue::Null);
        o.insert(QStringLiteral("changed"), row.changed ? QJsonValue(*row.changed) : QJsonValue::Null);
    }
    return o;
}

QString number(double value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

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

QString jsonPrices(const QList<double> &prices)
{
    if (prices.isEmpty())
        return QStringLiteral("null");
    QStringList items;
    for (double price : prices)
        items << number(price);
    return u'[' + items.join(u',') + u']';
}

QString jsonPrices(const std::optional<Prices> &prices)
{
    return prices ? jsonPrices(QList<double>(prices->cbegin(), prices->cend())) : QStringLiteral("null");
}

QString jsonMarks(unsigned marks)
{
    QStringList items;
    for (const QString &name : reviewMarkNames(marks))
        items << jsonString(name);
    return u'[' + items.join(u',') + u']';
}

QString jsonRow(const RowReport &row)
{
    const QString status = jsonString(reviewStatusName(row.verdict));
    if (!row.isInsert())
        return QStringLiteral("{\"sheet_row\":%1,\"kind\":\"update\",\"guid\":%2,\"name\":%3,\"status\":%4,"
                              "\"old\":%5,\"new\":%6,\"attention\":%7}")
            .arg(QString::number(row.sheetRow), jsonString(row.guid),
                row.oldPrices ? jsonString(row.heldName) : QStringLiteral("null"), status,
                jsonPrices(row.oldPrices), jsonPrices(row.prices), jsonMarks(row.marks));
    const QString categoryStatus = row.categoryStatus == CategoryStatus::Unresolved ? QStringLiteral("null")
        : row.categoryStatus == CategoryStatus::Created ? QStringLiteral("\"new\"")
                                                        : QStringLiteral("\"exists\"");
    return QStringLiteral("{\"sheet_row\":%1,\"kind\":\"insert\",\"mat_num\":%2,\"name\":%3,\"category\":%4,"
                          "\"category_status\":%5,\"status\":%6,\"held_by\":%7,\"new\":%8,\"attention\":%9}")
        .arg(QString::number(row.sheetRow), QString::number(row.matNum), jsonString(row.name),
            jsonString(row.category), categoryStatus, status,
            row.verdict == ReviewStatus::Duplicate ? jsonString(row.heldName) : QStringLiteral("null"),
            jsonPrices(row.prices), jsonMarks(row.marks));
}

} // namespace

QString reviewToJson(const QString &workbook, const ReviewResult &r)
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
    out += r.dropped ? QStringLiteral("{\"first\":%1,\"last\":%2}").arg(r.dropped->first).arg(r.dropped->last)
                     : QStringLiteral("null");
    QStringList categories;
    for (const QString &name : r.newCategories)
        categories << jsonString(name);
    out += QStringLiteral(",\"new_categories\":[%1],\"rows\":[").arg(categories.join(u','));
    for (qsizetype i = 0; i < r.rows.size(); ++i)
        out += (i ? QStringLiteral(",\n") : QStringLiteral("\n")) + jsonRow(r.rows.at(i));
    out += QLatin1StringView("\n],\"summary\":{");
    for (int s = 0; s < reviewStatusCount; ++s) {
        const auto status = ReviewStatus(s);
        out += QStringLiteral("\"%1\":%2,").arg(reviewStatusName(status)).arg(r.count(status));
    }
    out += QStringLiteral("\"dropped\":%1,\"attention\":%2}}").arg(r.droppedCount()).arg(r.marked());
    return out;
}

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
    o.insert(QStringLiteral("rolled_back"), report.rolledBack);
    o.insert(QStringLiteral("new_categories"), QJsonArray::fromStringList(report.newCategories));
    QJsonArray rows;
    for (const RowReport &row : report.rows)
        rows.append(rowJson(row));
    o.insert(QStringLiteral("rows"), rows);
    return o;
}

} // namespace qalu::update
