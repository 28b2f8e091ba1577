#pragma once

#include "update/run_rules.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace qalu::update {

enum class UpdateOutcome {
    Completed, // every visited row applied
    ReadFailed, // clearing or reading the workbook raised
    RowFailed, // a row failed; the rows before it stay applied
};

enum class RowKind { Update, Insert };
// What the run did with a row.
enum class RowStatus { Applied, Failed, NotReached };
// Whether an insert row's category was found or created by this row; Unresolved when the row
// failed before its category was resolved, or was not reached.
enum class CategoryStatus { Unresolved, Exists, Created };

// What the review predicts the run would do with a row.
enum class ReviewStatus {
    Change, // update row: prices change
    Same, // update row: the four prices are already the database's
    UnknownGuid, // update row: the guid matches no medicine, nothing changes
    Insert, // insert row: a new medicine
    Duplicate, // insert row: a medicine with its MatNum is there already
    Fails, // the run stops at this row
    NotReached, // a row after the one that fails
};
inline constexpr int reviewStatusCount = 7;
// "change", "same", "unknown-guid", "insert", "duplicate", "fails", "not-reached"
QString reviewStatusName(ReviewStatus status);

// Marks on a row that would be applied, as bits.
enum ReviewMark : unsigned {
    ToZero = 1, // an empty price cell overwrites a non-zero price with 0
    LargeChange = 2, // a price moves by more than the change limit
    SameName = 4, // a new medicine whose name a medicine already has
    Repeated = 8, // an update row whose guid an earlier row of the list has
    BlankRow = 16, // an insert row with every cell empty: a nameless medicine
    EmptyPrice = 32, // an insert row with an empty price cell: the new medicine costs 0
};
// The names of the marks set in `marks`, in the order above: "to-zero", "large-change",
// "same-name", "repeated", "blank-row", "empty-price".
QStringList reviewMarkNames(unsigned marks);

// What happens to one grid row below the header. The run's report and the review's prediction
// share it: the run fills `status`, the review `verdict`, `marks` and `oldPrices`.
struct RowReport
{
    int sheetRow = 0; // 1-based, as a spreadsheet shows it
    RowKind kind = RowKind::Update;
    RowStatus status = RowStatus::NotReached;
    ReviewStatus verdict = ReviewStatus::NotReached;
    unsigned marks = 0;
    QString guid; // update rows: the trimmed guid bound
    qint32 matNum = 0; // insert rows: the MatNum bound
    QString name; // insert rows: the trimmed name
    QString category; // insert rows: the trimmed category name
    CategoryStatus categoryStatus = CategoryStatus::Unresolved;
    // The name the database holds: for an update row the review found, its medicine's; for a
    // duplicate insert row, the medicine's that already has the MatNum.
    QString heldName;
    // Update rows the run applied: the statement's row count (unset where the driver cannot
    // tell) and whether the stored prices now differ from before (unset when not known).
    std::optional<int> matched;
    std::optional<bool> changed;
    // Update rows the review found: the medicine's prices before the run.
    std::optional<Prices> oldPrices;
    // The new prices: salp, price1, salp2, price2 for an update row; salp, price1 for an insert
    // row. Empty when the row's prices were not all bound.
    QList<double> prices;

    bool isInsert() const { return kind == RowKind::Insert; }
};

// Where and why the run stops.
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

    int count() const { return last - first + 1; }
};

struct UpdateReport
{
    QString workbook;
    int sheetRows = 0; // rows the workbook read gave, header included, before the cap
    UpdateOutcome outcome = UpdateOutcome::Completed;
    QString readFailure; // the reading failure's text when outcome is ReadFailed
    std::optional<RowFailure> stop;
    std::optional<SheetRange> dropped; // sheet rows cut off by the row cap
    bool rolledBack = false; // the run was one transaction and a row failure undid it all
    QStringList newCategories; // in creation order
    QList<RowReport> rows;
};

// The review's prediction: the same rows, stop and dropped rows, with the verdicts filled in.
struct ReviewResult
{
    int sheetRows = 0; // rows the sheet has, header and dropped rows included
    std::optional<RowFailure> stop;
    std::optional<SheetRange> dropped;
    QStringList newCategories; // in the order the run would create them
    QList<RowReport> rows;

    int droppedCount() const { return dropped ? dropped->count() : 0; }
    int count(ReviewStatus status) const;
    int marked() const; // rows with at least one mark
    // The run would complete, but an unknown guid, a duplicate, dropped rows or a mark want a look.
    bool needsLook() const;
};

// The one message that ends a run with this outcome.
QString updateMessage(UpdateOutcome outcome);

} // namespace qalu::update
