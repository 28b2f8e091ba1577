#pragma once

#include <QChar>
#include <QString>

#include <array>

namespace qalu {
class TStringGrid;
}

namespace qalu::update {

// The rules of the price update run, in one place: the run applies them, and the review, the
// journal and restore reason with them, so none of them can come to disagree with the run.

// Grid columns the run reads; column A is 0.
enum Column : int {
    colGuid = 0,
    colSalp = 1,
    colPrice1 = 2,
    colSalp2 = 3,
    colPrice2 = 4,
    colName = 5,
    colCategory = 7,
    colMatNamecop = 8,
    colShapPharmN = 9,
    colShapN = 10,
};

// The run visits grid rows 1 to rowCap - 1; sheet rows after rowCap are not read.
inline constexpr int rowCap = 1500;
// A new medicine's MatNum is its grid row plus this base.
inline constexpr qint32 matNumBase = 222000;
// A price that moves by more than this percentage of the old one is marked for a look.
inline constexpr double defaultChangeLimit = 50;

// salp, price1, salp2, price2: the order the update statement binds them in.
using Prices = std::array<double, 4>;
// An update row's price cells in binding order: B, C, D, E, then the guid.
inline constexpr std::array<int, 4> updatePriceColumns { colSalp, colPrice1, colSalp2, colPrice2 };
// An insert row binds C (price1) before B (salp), then the category.
inline constexpr std::array<int, 2> insertPriceColumns { colPrice1, colSalp };

// The statements on qgeneral: the update (five parameters) and the insert (two lines, 22).
QString updateStatement();
QString insertColumns();
QString insertValues();

// The price cell rule: an empty cell stands for 0 (bound as the byte 0); any other text,
// untrimmed, must pass the number rule and is bound as a double.
struct PriceCell
{
    QString text; // the cell as the grid holds it
    double value = 0;
    QString problem; // the rule the text breaks; empty when the cell passes

    bool empty() const { return text.isEmpty(); }
};
PriceCell priceCell(const TStringGrid &grid, int column, int row, QChar decimalSeparator);

// Whether two prices are the same, allowing for the last bit lost in a driver's round trip.
bool samePrice(double a, double b);
bool samePrices(const Prices &a, const Prices &b);

} // namespace qalu::update
