#pragma once

#include <string>

namespace qalu {
class TStringGrid;
}

namespace qalu::xlsx {

struct SheetCells;
struct SharedStrings;

// Sizes the grid to the rectangle from A1 to the sheet's last used row and column and writes the
// cells' texts into it, top to bottom, each row left to right, up to an error value. Raises the
// reader's Failure for an empty sheet, a sheet with only A1 used and an error value (the cells
// before it written). Consumes `cells`' records as it goes.
void writeCellsToGrid(TStringGrid &grid, SheetCells &cells, const SharedStrings &shared, bool date1904,
    const std::string &separator);

} // namespace qalu::xlsx
