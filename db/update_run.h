#pragma once

#include <QString>

#include <functional>

namespace qalu {
class TStringGrid;
}

namespace qalu::db {

class TQuery;

enum class UpdateOutcome {
    Completed,   // every visited row applied
    ReadFailed,  // clearing or reading the workbook raised
    RowFailed,   // a row failed; the rows before it stay applied
};

// The one message that ends a run with this outcome.
QString updateMessage(UpdateOutcome outcome);

// The price update run: reads the workbook into the grid, caps it at 1500 rows and applies grid
// rows 1..N-1 to mat00 through `qgeneral`, one self-committing statement per row. The window and
// qalu-cli both run it; they turn the outcome into the message.
class UpdateRun
{
public:
    struct Steps
    {
        std::function<void()> ClearGrid;
        std::function<void()> LoadWorkbookToGrid;
        std::function<QString(const QString &)> FindOrAddCategory;
    };

    UpdateRun(TStringGrid &grid, TQuery &qgeneral, Steps steps);
    UpdateOutcome run();

private:
    TStringGrid &m_grid;
    TQuery &m_qgeneral;
    Steps m_steps;
};

} // namespace qalu::db
