#include "db/update_run.h"

#include "core/decimal_separator.h"
#include "core/failure_text.h"
#include "core/logging.h"
#include "core/trim.h"
#include "db/number_rule.h"
#include "db/query.h"
#include "intake/price_grid.h"

namespace qalu::db {

namespace {

constexpr int rowCap = 1500;
constexpr qint32 matNumBase = 222000;

const QString updateStatement
    = QStringLiteral("update mat00 set salp= :a0,price1= :a1,salp2= :a2,price2= :a3  where guid= :a4");
const QString insertColumns = QStringLiteral(
    "insert into mat00(MatNum,MatName,MatNameEng,MatNamecop,Price1,salp,price2,salp2,Fact2,price3,"
    "salp3,Fact3,CatGuid,unit1,unit2,unit3,MatN,FocN,ShapN,contn,dateupN,ShapPharmN)");
const QString insertValues = QStringLiteral(
    "values(:a0,:a1,:a2,:a3,:a4,:a5,:a6,:a7,:a8,:a9,:a10,:a11,:a12,:a13,:a14,:a15,:a16,:a17,:a18,"
    ":a19,:a20,:a21)");

// A price cell that breaks the number rule; the walk turns it into the report's stop.
struct CellProblem
{
    int col;
    QString text;
    QString reason;
};

// The price cell rule: an empty cell is the byte 0; any other text, untrimmed, must pass the
// number rule and is bound as a double. Returns the value bound.
double bindPrice(TQuery &query, int position, const TStringGrid &grid, int col, int row)
{
    const QString text = grid.cellText(col, row);
    if (text.isEmpty()) {
        query.setByte(position, 0);
        return 0;
    }
    double value = 0;
    if (!parsePriceText(text, decimalSeparator(), &value))
        throw CellProblem { col, text, priceTextProblem(text, decimalSeparator()) };
    query.setDouble(position, value);
    return value;
}

} // namespace

UpdateRun::UpdateRun(TStringGrid &grid, TQuery &qgeneral, Steps steps)
    : m_grid(grid)
    , m_qgeneral(qgeneral)
    , m_steps(std::move(steps))
{
}

UpdateReport UpdateRun::run()
{
    UpdateReport report;
    try {
        m_steps.ClearGrid();
        m_steps.LoadWorkbookToGrid();
    } catch (...) {
        report.outcome = UpdateOutcome::ReadFailed;
        report.readFailure = failureText(std::current_exception());
        qCWarning(lcUpdate) << "reading the price list failed:" << report.readFailure;
        return report;
    }

    // The reader starts at A1, so grid row r is sheet row r + 1.
    report.sheetRows = m_grid.RowCount();
    if (m_grid.RowCount() > rowCap) {
        report.dropped = SheetRange { rowCap + 1, m_grid.RowCount() };
        m_grid.setRowCount(rowCap);
    }

    if (m_steps.AfterRead) {
        try {
            m_steps.AfterRead(m_grid);
        } catch (...) {
            qCWarning(lcUpdate) << "the after-read step failed, the run goes on:"
                                << failureText(std::current_exception());
        }
    }

    const int rowCount = m_grid.RowCount();
    report.rows.reserve(qMax(0, rowCount - 1));
    for (int r = 1; r < rowCount; ++r) {
        RowReport row;
        row.sheetRow = r + 1;
        if (!m_grid.cellText(0, r).isEmpty()) {
            row.kind = RowKind::Update;
            row.guid = trimRule(m_grid.cellText(0, r));
        } else {
            row.kind = RowKind::Insert;
            row.matNum = r + matNumBase;
            row.name = trimRule(m_grid.cellText(5, r));
            row.category = trimRule(m_grid.cellText(7, r));
        }
        report.rows.append(row);
    }

    int r = 1;
    try {
        for (; r < rowCount; ++r) {
            RowReport &row = report.rows[r - 1];
            if (row.kind == RowKind::Update) {
                m_qgeneral.clearText();
                m_qgeneral.setText(updateStatement);
                QList<double> prices;
                for (int position = 0; position < 4; ++position)
                    prices << bindPrice(m_qgeneral, position, m_grid, position + 1, r);
                row.prices = prices;
                m_qgeneral.setString(4, row.guid);
                m_qgeneral.ExecSQL();
                row.status = RowStatus::Applied;
                continue;
            }

            m_qgeneral.clearText();
            m_qgeneral.appendLine(insertColumns);
            m_qgeneral.appendLine(insertValues);
            m_qgeneral.setInteger(0, row.matNum);
            m_qgeneral.setString(1, row.name);
            m_qgeneral.setString(2, row.name);
            m_qgeneral.setString(3, trimRule(m_grid.cellText(8, r)));
            const double price1 = bindPrice(m_qgeneral, 4, m_grid, 2, r);
            const double salp = bindPrice(m_qgeneral, 5, m_grid, 1, r);
            row.prices = { salp, price1 };
            for (int position = 6; position <= 11; ++position)
                m_qgeneral.setByte(position, 0);
            // Resolution runs on other query objects, so what is bound here so far stays.
            const CategoryResolution category = m_steps.FindOrAddCategory(row.category);
            row.categoryStatus = category.created ? CategoryStatus::Created : CategoryStatus::Exists;
            if (category.created)
                report.newCategories << row.category;
            m_qgeneral.setString(12, trimRule(category.guid));
            m_qgeneral.setString(13, QStringLiteral("وحدة1"));
            m_qgeneral.setString(14, QStringLiteral("وحدة2"));
            m_qgeneral.setString(15, QStringLiteral("وحدة3"));
            m_qgeneral.setString(16, QStringLiteral(""));
            m_qgeneral.setString(17, QStringLiteral(""));
            m_qgeneral.setString(18, trimRule(m_grid.cellText(10, r)));
            m_qgeneral.setString(19, QStringLiteral(""));
            m_qgeneral.setString(20, QStringLiteral("1-1-1800"));
            m_qgeneral.setString(21, trimRule(m_grid.cellText(9, r)));
            m_qgeneral.ExecSQL();
            row.status = RowStatus::Applied;
        }
    } catch (const CellProblem &problem) {
        report.stop = RowFailure { r + 1, columnName(problem.col) + QString::number(r + 1), problem.text,
            problem.reason };
    } catch (...) {
        report.stop = RowFailure { r + 1, QString(), QString(), failureText(std::current_exception()) };
    }
    if (report.stop) {
        report.outcome = UpdateOutcome::RowFailed;
        report.rows[r - 1].status = RowStatus::Failed;
        qCWarning(lcUpdate).noquote()
            << "sheet row" << report.stop->sheetRow << "failed:" << report.stop->reason;
    }
    return report;
}

} // namespace qalu::db
