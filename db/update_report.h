#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace qalu::db {

enum class UpdateOutcome {
    Completed, // every visited row applied
    ReadFailed, // clearing or reading the workbook raised
    RowFailed, // a row failed; the rows before it stay applied
};

enum class RowKind { Update, Insert };
enum class RowStatus { Applied, Failed, NotReached };
// Whether an insert row's category was found or created by this row; Unresolved when the row
// failed before its category was resolved, or was not reached.
enum class CategoryStatus { Unresolved, Exists, Created };

// What the run did with one grid row below the header.
struct RowReport
{
    int sheetRow = 0; // 1-based, as a spreadsheet shows it
    RowKind kind = RowKind::Update;
    RowStatus status = RowStatus::NotReached;
    QString guid; // update rows: the trimmed guid bound
    qint32 matNum = 0; // insert rows: the MatNum bound
    QString name; // insert rows: the trimmed name
    QString category; // insert rows: the trimmed category name
    CategoryStatus categoryStatus = CategoryStatus::Unresolved;
    // The prices bound, in binding order: salp, price1, salp2, price2 for an update row; salp,
    // price1 for an insert row. Empty when the row's prices were not all bound.
    QList<double> prices;
};

// Where and why the run stopped.
struct RowFailure
{
    int sheetRow = 0;
    QString cell; // e.g. "C17" when a cell is to blame, else empty
    QString text; // that cell's text, else empty
    QString reason; // the number-rule rule broken, or the database's own error text
};

struct SheetRange
{
    int first = 0;
    int last = 0;
};

struct UpdateReport
{
    QString workbook;
    int sheetRows = 0; // rows the workbook read gave, header included, before the cap
    UpdateOutcome outcome = UpdateOutcome::Completed;
    QString readFailure; // the reading failure's text when outcome is ReadFailed
    std::optional<RowFailure> stop;
    std::optional<SheetRange> dropped; // sheet rows cut off by the row cap
    QStringList newCategories; // in creation order
    QList<RowReport> rows;
};

// The one message that ends a run with this outcome.
QString updateMessage(UpdateOutcome outcome);

// The report as the JSON document qalu-cli writes and other tools read.
QJsonObject reportToJson(const UpdateReport &report);

// "A" for column 0, "AA" for column 26.
QString columnName(int col);

} // namespace qalu::db
