#pragma once

#include <QChar>
#include <QString>

namespace qalu {

class TStringGrid;

// Empties every cell inside the grid's current row and column counts, row by row.
void ClearGrid(TStringGrid &grid);

// Reads the first worksheet of the .xlsx workbook at `path` into the grid: cell (c, r) gets the
// text of sheet row r+1, column c+1, for the rectangle from A1 to the last used row and column,
// numbers written with `decimalSeparator`; the counts end as that rectangle's size. Failures
// (missing, unreadable or hostile file, no workbook, empty sheet or only A1 used, an error value)
// are raised as qalu::Failure; the cells written before a failure stay.
void LoadWorkbookToGrid(TStringGrid &grid, const QString &path, QChar decimalSeparator);

} // namespace qalu
