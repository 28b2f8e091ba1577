#include "update/price_review.h"

#include "core/cell_reference.h"
#include "core/failure_text.h"
#include "core/trim.h"
#include "db/connection.h"
#include "db/query.h"
#include "intake/price_grid.h"
#include "update/update_session.h"

#include <QHash>
#include <QMap>
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

// A row with nothing in any cell: the run inserts it as a nameless medicine.
bool isBlankRow(const TStringGrid &grid, int row)
{
    for (int col = 0; col < grid.ColCount(); ++col)
        if (!grid.cellText(col, row).isEmpty())
            return false;
    return true;
}

double number(const QVariant &value)
{
    bool ok = false;
    const double d = value.toDouble(&ok);
    return ok ? d : 0;
}

} // namespace

// The queries and what earlier rows wrote, kept from one row to the next.
struct PriceReview::State
{
    explicit State(db::TConnection &connection)
        : medicine(connection, QStringLiteral("QReviewMedicine"))
        , same(connection, QStringLiteral("QReviewSame"))
        , matNum(connection, QStringLiteral("QReviewMatNum"))
        , name(connection, QStringLiteral("QReviewName"))
        , category(connection, QStringLiteral("QReviewCategory"))
    {
        medicine.setText(
            QStringLiteral("select salp,price1,salp2,price2,MatName from mat00 where guid= :a0"));
        // "Same" is decided as the database compares: each price column with the value bound.
        same.setText(QStringLiteral("select count(*) from mat00 where guid= :a0 and salp= :a1 and price1= :a2"
                                    " and salp2= :a3 and price2= :a4"));
        matNum.setText(QStringLiteral("select MatName from mat00 where MatNum= :a0"));
        name.setText(QStringLiteral("select count(*) from mat00 where MatName= :a0"));
        // The category lookup exactly as the run's resolver sends it.
        category.setText(QStringLiteral("select guid from Category00 where CName= :a0"));
    }

    TQuery medicine;
    TQuery same;
    TQuery matNum;
    TQuery name;
    TQuery category;
    // Keys are case folded: the guid and name columns compare without case.
    QSet<QString> createdCategories;
    QSet<QString> insertedNames;
    // What earlier rows of the list wrote, by guid: a later row for the same medicine sees it.
    QHash<QString, Prices> written;
    QSet<QString> unknownGuids;
};

PriceReview::PriceReview(db::TConnection &connection, double changeLimitPercent, bool inTrial)
    : m_connection(connection)
    , m_changeLimit(changeLimitPercent)
    , m_inTrial(inTrial)
    , m_state(std::make_unique<State>(connection))
{
}

PriceReview::~PriceReview() = default;

ReviewResult PriceReview::review(const TStringGrid &grid, QChar separator)
{
    ReviewResult result;
    result.sheetRows = grid.RowCount();
    if (grid.RowCount() > rowCap)
        result.dropped = SheetRange { rowCap + 1, grid.RowCount() };
    const int visited = std::min(grid.RowCount(), rowCap);
    for (int r = 1; r < visited; ++r) {
        if (result.stop) {
            RowReport row = predictRow(grid, r, separator, nullptr);
            result.rows << row;
            continue;
        }
        std::optional<RowFailure> stop;
        result.rows << predictRow(grid, r, separator, &stop);
        if (stop)
            result.stop = stop;
        if (result.rows.last().categoryStatus == CategoryStatus::Created)
            result.newCategories << result.rows.last().category;
    }
    return result;
}

RowReport PriceReview::predictRow(
    const TStringGrid &grid, int r, QChar separator, std::optional<RowFailure> *stop)
{
    State &st = *m_state;
    const double limit = m_changeLimit / 100.0;
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
    if (!stop)
        return row;

    try {
        if (!row.isInsert()) {
            Prices prices {};
            for (size_t i = 0; i < prices.size(); ++i)
                prices[i] = priceOf(grid, updatePriceColumns[i], r, separator);
            const QString key = row.guid.toCaseFolded();
            const bool repeated = st.written.contains(key) || st.unknownGuids.contains(key);
            st.medicine.setString(0, row.guid);
            openOrFail(st.medicine, colGuid);
            row.prices = QList<double>(prices.cbegin(), prices.cend());
            if (st.medicine.RecordCount() == 0) {
                row.verdict = ReviewStatus::UnknownGuid;
                st.unknownGuids.insert(key);
            } else {
                Prices old {};
                for (int i = 0; i < 4; ++i)
                    old[size_t(i)] = number(st.medicine.fieldValue(i));
                row.heldName = st.medicine.fieldValue(4).toString();
                bool unchanged = false;
                if (repeated && !m_inTrial) {
                    // Only the bound values are known here; --trial asks the database.
                    old = st.written.value(key);
                    unchanged = old == prices;
                } else {
                    st.same.setString(0, row.guid);
                    for (int i = 0; i < 4; ++i)
                        st.same.setDouble(i + 1, prices[size_t(i)]);
                    openOrFail(st.same, -1);
                    unchanged = st.same.firstFieldAsInteger() > 0;
                }
                st.written.insert(key, prices);
                row.oldPrices = old;
                row.verdict = unchanged ? ReviewStatus::Same : ReviewStatus::Change;
                for (size_t i = 0; i < prices.size(); ++i) {
                    const double was = old[i];
                    const double now = prices[i];
                    if (was != 0 && now == 0 && grid.cellText(updatePriceColumns[i], r).isEmpty())
                        row.marks |= ToZero;
                    if (was != 0 && std::fabs(now - was) > limit * std::fabs(was))
                        row.marks |= LargeChange;
                }
            }
            if (repeated)
                row.marks |= Repeated;
        } else {
            const double price1 = priceOf(grid, insertPriceColumns[0], r, separator);
            const double salp = priceOf(grid, insertPriceColumns[1], r, separator);
            row.prices = { salp, price1 };
            const QString categoryKey = row.category.toCaseFolded();
            if (!st.createdCategories.contains(categoryKey)) {
                st.category.setString(0, row.category);
                openOrFail(st.category, colCategory);
                if (st.category.RecordCount() == 0) {
                    row.categoryStatus = CategoryStatus::Created;
                    st.createdCategories.insert(categoryKey);
                } else {
                    row.categoryStatus = CategoryStatus::Exists;
                }
            } else {
                row.categoryStatus = CategoryStatus::Exists;
            }
            st.matNum.setInteger(0, row.matNum);
            openOrFail(st.matNum, -1);
            if (st.matNum.RecordCount() > 0) {
                row.verdict = ReviewStatus::Duplicate;
                row.heldName = st.matNum.firstFieldAsText();
            } else {
                row.verdict = ReviewStatus::Insert;
            }
            st.name.setString(0, row.name);
            openOrFail(st.name, colName);
            const QString folded = row.name.toCaseFolded();
            if (st.name.firstFieldAsInteger() > 0 || st.insertedNames.contains(folded))
                row.marks |= SameName;
            st.insertedNames.insert(folded);
            if (isBlankRow(grid, r))
                row.marks |= BlankRow;
            else if (grid.cellText(colSalp, r).isEmpty() || grid.cellText(colPrice1, r).isEmpty())
                row.marks |= EmptyPrice;
        }
    } catch (const Stop &thrown) {
        row.verdict = ReviewStatus::Fails;
        row.marks = 0;
        row.heldName.clear();
        row.oldPrices.reset();
        row.prices.clear();
        RowFailure failure;
        failure.sheetRow = row.sheetRow;
        failure.reason = thrown.reason;
        if (thrown.column >= 0) {
            failure.cell = cellReference(thrown.column, row.sheetRow);
            failure.text = grid.cellText(thrown.column, r);
        }
        *stop = failure;
    }
    return row;
}

void markChanged(db::TConnection &connection, const QMap<QString, Prices> &oldPrices, UpdateReport &report)
{
    TQuery same(connection, QStringLiteral("QReportSame"));
    same.setText(QStringLiteral("select count(*) from mat00 where guid= :a0 and salp= :a1 and price1= :a2"
                                " and salp2= :a3 and price2= :a4"));
    for (RowReport &row : report.rows) {
        if (row.isInsert() || row.status != RowStatus::Applied)
            continue;
        if (row.matched == 0) {
            row.changed = false;
            continue;
        }
        const auto old = oldPrices.constFind(row.guid);
        if (old == oldPrices.cend())
            continue;
        same.setString(0, row.guid);
        for (int i = 0; i < 4; ++i)
            same.setDouble(i + 1, (*old)[size_t(i)]);
        same.Open();
        row.changed = same.firstFieldAsInteger() == 0;
    }
}

ReviewResult trialReview(UpdateSession &session, const QString &workbook, QChar separator,
    double changeLimitPercent, QString *readFailure, const TStringGrid *preRead)
{
    PriceReview predictor(session.ADOConnection1, changeLimitPercent, true);
    QMap<int, RowReport> predicted; // by grid row
    UpdateRun::Steps steps = session.steps(workbook, separator, preRead);
    steps.BeforeRow = [&](const TStringGrid &grid, int r) {
        std::optional<RowFailure> ignored; // the run's own failure is the one that counts
        predicted.insert(r, predictor.predictRow(grid, r, separator, &ignored));
    };
    session.ADOConnection1.BeginTrans();
    UpdateReport report;
    try {
        report = session.run(workbook, separator, std::move(steps));
    } catch (...) {
        session.ADOConnection1.RollbackTrans();
        throw;
    }
    session.ADOConnection1.RollbackTrans();

    ReviewResult result;
    if (report.outcome == UpdateOutcome::ReadFailed) {
        if (readFailure)
            *readFailure = report.readFailure;
        return result;
    }
    result.sheetRows = report.sheetRows;
    result.dropped = report.dropped;
    result.stop = report.stop;
    result.newCategories = report.newCategories;
    for (qsizetype i = 0; i < report.rows.size(); ++i) {
        const RowReport &done = report.rows.at(i);
        RowReport row = predicted.value(int(i) + 1, done);
        switch (done.status) {
        case RowStatus::Applied:
            row.categoryStatus = done.categoryStatus;
            if (done.matched == 0)
                row.verdict = ReviewStatus::UnknownGuid;
            break;
        case RowStatus::Failed:
            row.verdict = ReviewStatus::Fails;
            row.marks = 0;
            row.heldName.clear();
            row.oldPrices.reset();
            row.prices.clear();
            row.categoryStatus = done.categoryStatus;
            break;
        case RowStatus::NotReached:
            row = done;
            row.verdict = ReviewStatus::NotReached;
            break;
        }
        result.rows << row;
    }
    return result;
}

} // namespace qalu::update
