#include "db/price_review.h"

#include "core/failure.h"
#include "core/failure_text.h"
#include "core/trim.h"
#include "db/connection.h"
#include "db/number_rule.h"
#include "db/query.h"
#include "intake/price_grid.h"

#include <QSet>

#include <cmath>
#include <exception>

namespace qalu::db {

namespace {

// The run's own constants: the grid rows it visits and the base of the MatNum it gives a new
// medicine (grid row + base).
constexpr int rowCap = 1500;
constexpr qint32 matNumBase = 222000;

// Grid columns the run reads.
constexpr int colGuid = 0, colSalp = 1, colPrice1 = 2, colSalp2 = 3, colPrice2 = 4, colName = 5,
              colCategory = 7;

// A stop found while looking at a row.
struct RowFailure
{
    int column = -1; // -1 when no one cell is to blame
    QString reason;
};

// The price cell rule as the run binds it: an empty cell is 0, any other text must pass the
// number rule. Throws RowFailure with the run's own reason.
double priceOf(const TStringGrid &grid, int column, int row, QChar separator)
{
    const QString text = grid.cellText(column, row);
    if (text.isEmpty())
        return 0;
    try {
        return priceFromText(text, separator);
    } catch (...) {
        // The rule the text broke, as the run's report names it.
        const QString problem = priceTextProblem(text, separator);
        throw RowFailure { column, problem.isEmpty() ? failureText(std::current_exception()) : problem };
    }
}

// Runs a select; a failure becomes the row's stop, blamed on `column`.
void openOrFail(TQuery &query, int column)
{
    try {
        query.Open();
    } catch (...) {
        throw RowFailure { column, failureText(std::current_exception()) };
    }
}

double number(const QVariant &value)
{
    bool ok = false;
    const double d = value.toDouble(&ok);
    return ok ? d : 0;
}

} // namespace

QString reviewStatusName(ReviewStatus status)
{
    switch (status) {
    case ReviewStatus::Change:
        return QStringLiteral("change");
    case ReviewStatus::Same:
        return QStringLiteral("same");
    case ReviewStatus::UnknownGuid:
        return QStringLiteral("unknown-guid");
    case ReviewStatus::Insert:
        return QStringLiteral("insert");
    case ReviewStatus::Duplicate:
        return QStringLiteral("duplicate");
    case ReviewStatus::Fails:
        return QStringLiteral("fails");
    case ReviewStatus::NotReached:
        break;
    }
    return QStringLiteral("not-reached");
}

QStringList reviewMarkNames(unsigned marks)
{
    QStringList names;
    if (marks & ToZero)
        names << QStringLiteral("to-zero");
    if (marks & LargeChange)
        names << QStringLiteral("large-change");
    if (marks & SameName)
        names << QStringLiteral("same-name");
    return names;
}

QString cellReference(int column, int sheetRow)
{
    QString letters;
    for (int c = column + 1; c > 0; c = (c - 1) / 26)
        letters.prepend(QChar(u'A' + (c - 1) % 26));
    return letters + QString::number(sheetRow);
}

int ReviewResult::count(ReviewStatus status) const
{
    int n = 0;
    for (const ReviewRow &row : rows)
        n += row.status == status;
    return n;
}

int ReviewResult::marked() const
{
    int n = 0;
    for (const ReviewRow &row : rows)
        n += row.marks != 0;
    return n;
}

bool ReviewResult::needsLook() const
{
    return dropped() > 0 || marked() > 0 || count(ReviewStatus::UnknownGuid) > 0
        || count(ReviewStatus::Duplicate) > 0;
}

PriceReview::PriceReview(TConnection &connection, double changeLimitPercent)
    : m_connection(connection)
    , m_changeLimit(changeLimitPercent)
{
}

ReviewResult PriceReview::review(const TStringGrid &grid, QChar separator)
{
    ReviewResult result;
    result.sheetRows = grid.RowCount();
    if (grid.RowCount() > rowCap) {
        result.droppedFirst = rowCap + 1;
        result.droppedLast = grid.RowCount();
    }
    const int visited = std::min(grid.RowCount(), rowCap);

    TQuery medicine(m_connection, QStringLiteral("QReviewMedicine"));
    medicine.setText(QStringLiteral("select salp,price1,salp2,price2 from mat00 where guid= :a0"));
    TQuery matNum(m_connection, QStringLiteral("QReviewMatNum"));
    matNum.setText(QStringLiteral("select count(*) from mat00 where MatNum= :a0"));
    TQuery name(m_connection, QStringLiteral("QReviewName"));
    name.setText(QStringLiteral("select count(*) from mat00 where MatName= :a0"));
    // The category lookup exactly as the run's resolver sends it.
    TQuery category(m_connection, QStringLiteral("QReviewCategory"));
    category.setText(QStringLiteral("select guid from Category00 where CName= :a0"));

    QSet<QString> createdCategories;
    QSet<QString> insertedNames; // case folded, as the name columns compare
    const double limit = m_changeLimit / 100.0;

    for (int r = 1; r < visited; ++r) {
        ReviewRow row;
        row.sheetRow = r + 1;
        row.insert = grid.cellText(colGuid, r).isEmpty();
        if (row.insert) {
            row.matNum = r + matNumBase;
            row.name = trimRule(grid.cellText(colName, r));
            row.category = trimRule(grid.cellText(colCategory, r));
        } else {
            row.guid = trimRule(grid.cellText(colGuid, r));
        }
        if (result.stop) {
            result.rows << row;
            continue;
        }

        try {
            if (!row.insert) {
                // Binding order of the run: B, C, D, E, then the guid.
                std::array<double, 4> prices {};
                for (int i = 0; i < 4; ++i)
                    prices[size_t(i)] = priceOf(grid, colSalp + i, r, separator);
                medicine.setString(0, row.guid);
                openOrFail(medicine, colGuid);
                if (medicine.RecordCount() == 0) {
                    row.status = ReviewStatus::UnknownGuid;
                    row.newPrices = prices;
                } else {
                    std::array<double, 4> old {};
                    for (int i = 0; i < 4; ++i)
                        old[size_t(i)] = number(medicine.fieldValue(i));
                    row.oldPrices = old;
                    row.newPrices = prices;
                    row.status = old == prices ? ReviewStatus::Same : ReviewStatus::Change;
                    for (int i = 0; i < 4; ++i) {
                        const double was = old[size_t(i)];
                        const double now = prices[size_t(i)];
                        if (was != 0 && now == 0 && grid.cellText(colSalp + i, r).isEmpty())
                            row.marks |= ToZero;
                        if (was != 0 && std::fabs(now - was) > limit * std::fabs(was))
                            row.marks |= LargeChange;
                    }
                }
            } else {
                // Binding order of the run: C (price1) before B (salp), then the category.
                const double price1 = priceOf(grid, colPrice1, r, separator);
                const double salp = priceOf(grid, colSalp, r, separator);
                row.newPrices = std::array<double, 4> { salp, price1, 0, 0 };
                if (createdCategories.contains(row.category)) {
                    row.categoryKnown = true;
                } else {
                    category.setString(0, row.category);
                    openOrFail(category, colCategory);
                    row.categoryKnown = true;
                    row.categoryNew = category.RecordCount() == 0;
                    if (row.categoryNew) {
                        createdCategories.insert(row.category);
                        result.newCategories << row.category;
                    }
                }
                matNum.setInteger(0, row.matNum);
                openOrFail(matNum, -1);
                row.status
                    = matNum.firstFieldAsInteger() > 0 ? ReviewStatus::Duplicate : ReviewStatus::Insert;
                name.setString(0, row.name);
                openOrFail(name, colName);
                const QString folded = row.name.toCaseFolded();
                if (name.firstFieldAsInteger() > 0 || insertedNames.contains(folded))
                    row.marks |= SameName;
                insertedNames.insert(folded);
            }
        } catch (const RowFailure &failure) {
            row.status = ReviewStatus::Fails;
            row.marks = 0;
            row.oldPrices.reset();
            row.newPrices.reset();
            ReviewStop stop;
            stop.sheetRow = row.sheetRow;
            stop.reason = failure.reason;
            if (failure.column >= 0) {
                stop.cell = cellReference(failure.column, row.sheetRow);
                stop.text = grid.cellText(failure.column, r);
            }
            result.stop = stop;
        }
        result.rows << row;
    }
    return result;
}

} // namespace qalu::db
