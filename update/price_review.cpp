#include "update/price_review.h"

#include "core/cell_reference.h"
#include "core/failure_text.h"
#include "core/trim.h"
#include "db/connection.h"
#include "db/query.h"
#include "intake/price_grid.h"

#include <QSet>

#include <cmath>
#include <exception>

namespace qalu::update {

namespace {

using db::TQuery;

// A stop found while looking at a row.
struct Stop
{
    int column = -1; // -1 when no one cell is to blame
    QString reason;
};

// The price cell rule as the run binds it. Throws Stop with the run's own reason.
double priceOf(const TStringGrid &grid, int column, int row, QChar separator)
{
    const PriceCell cell = priceCell(grid, column, row, separator);
    if (!cell.problem.isEmpty())
        throw Stop { column, cell.problem };
    return cell.value;
}

// Runs a select; a failure becomes the row's stop, blamed on `column`.
void openOrFail(TQuery &query, int column)
{
    try {
        query.Open();
    } catch (...) {
        throw Stop { column, failureText(std::current_exception()) };
    }
}

double number(const QVariant &value)
{
    bool ok = false;
    const double d = value.toDouble(&ok);
    return ok ? d : 0;
}

} // namespace

PriceReview::PriceReview(db::TConnection &connection, double changeLimitPercent)
    : m_connection(connection)
    , m_changeLimit(changeLimitPercent)
{
}

ReviewResult PriceReview::review(const TStringGrid &grid, QChar separator)
{
    ReviewResult result;
    result.sheetRows = grid.RowCount();
    if (grid.RowCount() > rowCap)
        result.dropped = SheetRange { rowCap + 1, grid.RowCount() };
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
        RowReport row;
        row.sheetRow = r + 1;
        row.kind = grid.cellText(colGuid, r).isEmpty() ? RowKind::Insert : RowKind::Update;
        if (row.isInsert()) {
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
            if (!row.isInsert()) {
                Prices prices {};
                for (size_t i = 0; i < prices.size(); ++i)
                    prices[i] = priceOf(grid, updatePriceColumns[i], r, separator);
                medicine.setString(0, row.guid);
                openOrFail(medicine, colGuid);
                row.prices = QList<double>(prices.cbegin(), prices.cend());
                if (medicine.RecordCount() == 0) {
                    row.verdict = ReviewStatus::UnknownGuid;
                } else {
                    Prices old {};
                    for (int i = 0; i < 4; ++i)
                        old[size_t(i)] = number(medicine.fieldValue(i));
                    row.oldPrices = old;
                    row.verdict = samePrices(old, prices) ? ReviewStatus::Same : ReviewStatus::Change;
                    for (size_t i = 0; i < prices.size(); ++i) {
                        const double was = old[i];
                        const double now = prices[i];
                        if (was != 0 && now == 0 && grid.cellText(updatePriceColumns[i], r).isEmpty())
                            row.marks |= ToZero;
                        if (was != 0 && std::fabs(now - was) > limit * std::fabs(was))
                            row.marks |= LargeChange;
                    }
                }
            } else {
                const double price1 = priceOf(grid, insertPriceColumns[0], r, separator);
                const double salp = priceOf(grid, insertPriceColumns[1], r, separator);
                row.prices = { salp, price1 };
                if (!createdCategories.contains(row.category)) {
                    category.setString(0, row.category);
                    openOrFail(category, colCategory);
                    if (category.RecordCount() == 0) {
                        row.categoryStatus = CategoryStatus::Created;
                        createdCategories.insert(row.category);
                        result.newCategories << row.category;
                    } else {
                        row.categoryStatus = CategoryStatus::Exists;
                    }
                } else {
                    row.categoryStatus = CategoryStatus::Exists;
                }
                matNum.setInteger(0, row.matNum);
                openOrFail(matNum, -1);
                row.verdict
                    = matNum.firstFieldAsInteger() > 0 ? ReviewStatus::Duplicate : ReviewStatus::Insert;
                name.setString(0, row.name);
                openOrFail(name, colName);
                const QString folded = row.name.toCaseFolded();
                if (name.firstFieldAsInteger() > 0 || insertedNames.contains(folded))
                    row.marks |= SameName;
                insertedNames.insert(folded);
            }
        } catch (const Stop &failure) {
            row.verdict = ReviewStatus::Fails;
            row.marks = 0;
            row.oldPrices.reset();
            row.prices.clear();
            RowFailure stop;
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

} // namespace qalu::update
