#include "update/update_run.h"

#include "core/cell_reference.h"
#include "core/failure_text.h"
#include "core/logging.h"
#include "core/trim.h"
#include "db/connection.h"
#include "db/query.h"
#include "intake/price_grid.h"
#include "update/run_journal.h"

namespace qalu::update {

namespace {

// A price cell that breaks the number rule; the walk turns it into the report's stop.
struct CellProblem
{
    int col;
    QString text;
    QString reason;
};

// Binds a price cell by the price cell rule. Returns the value bound.
double bindPrice(db::TQuery &query, int position, const TStringGrid &grid, int col, int row, QChar separator)
{
    const PriceCell cell = priceCell(grid, col, row, separator);
    if (cell.empty()) {
        query.setByte(position, 0);
        return 0;
    }
    if (!cell.problem.isEmpty())
        throw CellProblem { col, cell.text, cell.problem };
    query.setDouble(position, cell.value);
    return cell.value;
}

} // namespace

UpdateRun::UpdateRun(
    TStringGrid &grid, db::TQuery &qgeneral, Steps steps, QChar decimalSeparator, db::TConnection *atomic)
    : m_grid(grid)
    , m_qgeneral(qgeneral)
    , m_steps(std::move(steps))
    , m_separator(decimalSeparator)
    , m_atomic(atomic)
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
        } catch (const JournalRefused &) {
            throw;
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
        if (!m_grid.cellText(colGuid, r).isEmpty()) {
            row.kind = RowKind::Update;
            row.guid = trimRule(m_grid.cellText(colGuid, r));
        } else {
            row.kind = RowKind::Insert;
            row.matNum = r + matNumBase;
            row.name = trimRule(m_grid.cellText(colName, r));
            row.category = trimRule(m_grid.cellText(colCategory, r));
        }
        report.rows.append(row);
    }

    int r = 1;
    try {
        if (m_atomic)
            m_atomic->BeginTrans();
        for (; r < rowCount; ++r) {
            RowReport &row = report.rows[r - 1];
            if (m_steps.BeforeRow)
                m_steps.BeforeRow(m_grid, r);
            if (row.kind == RowKind::Update) {
                m_qgeneral.clearText();
                m_qgeneral.setText(updateStatement());
                QList<double> prices;
                for (int position = 0; position < 4; ++position)
                    prices << bindPrice(
                        m_qgeneral, position, m_grid, updatePriceColumns[size_t(position)], r, m_separator);
                row.prices = prices;
                m_qgeneral.setString(4, row.guid);
                const int affected = m_qgeneral.ExecSQL();
                if (affected >= 0)
                    row.matched = affected;
                row.status = RowStatus::Applied;
                continue;
            }

            m_qgeneral.clearText();
            m_qgeneral.appendLine(insertColumns());
            m_qgeneral.appendLine(insertValues());
            m_qgeneral.setInteger(0, row.matNum);
            m_qgeneral.setString(1, row.name);
            m_qgeneral.setString(2, row.name);
            m_qgeneral.setString(3, trimRule(m_grid.cellText(colMatNamecop, r)));
            const double price1 = bindPrice(m_qgeneral, 4, m_grid, insertPriceColumns[0], r, m_separator);
            const double salp = bindPrice(m_qgeneral, 5, m_grid, insertPriceColumns[1], r, m_separator);
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
            m_qgeneral.setString(18, trimRule(m_grid.cellText(colShapN, r)));
            m_qgeneral.setString(19, QStringLiteral(""));
            m_qgeneral.setString(20, QStringLiteral("1-1-1800"));
            m_qgeneral.setString(21, trimRule(m_grid.cellText(colShapPharmN, r)));
            m_qgeneral.ExecSQL();
            row.status = RowStatus::Applied;
        }
        if (m_atomic)
            m_atomic->CommitTrans();
    } catch (const CellProblem &problem) {
        report.stop = RowFailure { r + 1, cellReference(problem.col, r + 1), problem.text, problem.reason };
    } catch (...) {
        report.stop = RowFailure { r + 1, QString(), QString(), failureText(std::current_exception()) };
    }
    if (report.stop) {
        report.outcome = UpdateOutcome::RowFailed;
        // A failed commit blames no row: the stop stays on the row after the last.
        if (r < rowCount)
            report.rows[r - 1].status = RowStatus::Failed;
        if (m_atomic) {
            m_atomic->RollbackTrans();
            report.rolledBack = true;
        }
        qCWarning(lcUpdate).noquote()
            << "sheet row" << report.stop->sheetRow << "failed:" << report.stop->reason;
    }
    return report;
}

} // namespace qalu::update
