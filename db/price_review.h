#pragma once

#include <QChar>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

namespace qalu {
class TStringGrid;
}

namespace qalu::db {

class TConnection;

// What the update run would do with one visited grid row.
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
};
// The names of the marks set in `marks`, in the order above: "to-zero", "large-change", "same-name".
QStringList reviewMarkNames(unsigned marks);

struct ReviewRow
{
    int sheetRow = 0; // 1-based, as a spreadsheet shows it
    bool insert = false;
    ReviewStatus status = ReviewStatus::NotReached;
    unsigned marks = 0;
    // Update rows: the trimmed guid; old and new salp, price1, salp2, price2 where known.
    QString guid;
    std::optional<std::array<double, 4>> oldPrices;
    // Update rows: salp, price1, salp2, price2. Insert rows: salp, price1 (the other two are 0).
    std::optional<std::array<double, 4>> newPrices;
    // Insert rows: what the run would bind; categoryKnown is false where the run would not get
    // as far as resolving the category.
    qint32 matNum = 0;
    QString name;
    QString category;
    bool categoryKnown = false;
    bool categoryNew = false;
};

struct ReviewStop
{
    int sheetRow = 0;
    QString cell; // "C17", empty when no one cell is to blame
    QString text; // the cell's text as the grid holds it
    QString reason; // the rule it breaks, or the database's own text
};

struct ReviewResult
{
    int sheetRows = 0; // rows the sheet has, header and dropped rows included
    std::optional<ReviewStop> stop;
    int droppedFirst = 0; // sheet rows droppedFirst..droppedLast are not read; 0 when none
    int droppedLast = 0;
    QStringList newCategories; // in the order the run would create them
    QList<ReviewRow> rows;

    int dropped() const { return droppedFirst > 0 ? droppedLast - droppedFirst + 1 : 0; }
    int count(ReviewStatus status) const;
    int marked() const; // rows with at least one mark
    // The run would complete, but an unknown guid, a duplicate, dropped rows or a mark want a look.
    bool needsLook() const;
};

// Predicts, row by row, what the price update run would do with a grid, without changing
// anything: it follows the run's rules (row cap, update or insert by column A, the price number
// rule in the run's binding order, the trim rule, MatNum numbering, category lookup by name) and
// sends only SELECT statements. Refusals by the database itself cannot be foreseen.
class PriceReview
{
public:
    explicit PriceReview(TConnection &connection, double changeLimitPercent = 50);

    ReviewResult review(const TStringGrid &grid, QChar decimalSeparator);

private:
    TConnection &m_connection;
    double m_changeLimit;
};

// "A".."Z", "AA".. for a 0-based column, followed by the 1-based sheet row.
QString cellReference(int column, int sheetRow);

} // namespace qalu::db
