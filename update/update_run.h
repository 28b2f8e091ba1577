#pragma once

#include "update/category_resolver.h"
#include "update/update_report.h"

#include <QChar>
#include <QString>

#include <functional>

namespace qalu {
class TStringGrid;
}

namespace qalu::db {
class TConnection;
class TQuery;
} // namespace qalu::db

namespace qalu::update {

// The price update run: reads the workbook into the grid, caps it at rowCap rows and applies
// grid rows 1..N-1 to mat00 through `qgeneral`, one self-committing statement per row, parsing
// prices with the decimal separator the reader wrote them with. The window and qalu-cli both run
// it; they turn the report's outcome into the message.
class UpdateRun
{
public:
    struct Steps
    {
        std::function<void()> ClearGrid;
        std::function<void()> LoadWorkbookToGrid;
        std::function<CategoryResolution(const QString &)> FindOrAddCategory;
        // Optional: called once with the capped grid after a successful read, before the first
        // row statement. A failure raised here is logged and the run goes on unchanged, except
        // JournalRefused, which leaves the run before any row statement.
        std::function<void(const TStringGrid &)> AfterRead;
        // Optional: called with the grid row before each row's statement (the review's trial
        // predicts the row there). A failure raised here fails the row.
        std::function<void(const TStringGrid &, int)> BeforeRow;
    };

    // `atomic`: the row statements run in one transaction on qgeneral's connection, committed
    // when every row applied and rolled back when one fails (the window never asks for it).
    UpdateRun(TStringGrid &grid, db::TQuery &qgeneral, Steps steps, QChar decimalSeparator,
        db::TConnection *atomic = nullptr);
    // The report's workbook is left empty: the steps know the file, the run does not.
    UpdateReport run();

private:
    TStringGrid &m_grid;
    db::TQuery &m_qgeneral;
    Steps m_steps;
    QChar m_separator;
    db::TConnection *m_atomic;
};

} // namespace qalu::update
