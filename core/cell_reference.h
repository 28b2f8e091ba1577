#pragma once

#include <QString>

namespace qalu {

// A worksheet column's letters: "A" for column 0, "AA" for column 26.
QString columnName(int column);

// A cell as a spreadsheet names it: the 0-based column's letters, then the 1-based sheet row.
QString cellReference(int column, int sheetRow);

} // namespace qalu
