#include "update/run_rules.h"

#include "intake/price_grid.h"
#include "update/number_rule.h"

#include <algorithm>
#include <cmath>

namespace qalu::update {

QString updateStatement()
{
    return QStringLiteral("update mat00 set salp= :a0,price1= :a1,salp2= :a2,price2= :a3  where guid= :a4");
}

QString insertColumns()
{
    return QStringLiteral(
        "insert into mat00(MatNum,MatName,MatNameEng,MatNamecop,Price1,salp,price2,salp2,Fact2,price3,"
        "salp3,Fact3,CatGuid,unit1,unit2,unit3,MatN,FocN,ShapN,contn,dateupN,ShapPharmN)");
}

QString insertValues()
{
    return QStringLiteral(
        "values(:a0,:a1,:a2,:a3,:a4,:a5,:a6,:a7,:a8,:a9,:a10,:a11,:a12,:a13,:a14,:a15,:a16,:a17,:a18,"
        ":a19,:a20,:a21)");
}

PriceCell priceCell(const TStringGrid &grid, int column, int row, QChar decimalSeparator)
{
    PriceCell cell;
    cell.text = grid.cellText(column, row);
    if (cell.empty())
        return cell;
    const PriceText parsed = parsePrice(cell.text, decimalSeparator);
    cell.value = parsed.value;
    cell.problem = parsed.problem;
    return cell;
}

bool samePrice(double a, double b)
{
    return std::abs(a - b) <= 1e-9 * std::max({ 1.0, std::abs(a), std::abs(b) });
}

bool samePrices(const Prices &a, const Prices &b)
{
    for (size_t i = 0; i < a.size(); ++i) {
        if (!samePrice(a[i], b[i]))
            return false;
    }
    return true;
}

} // namespace qalu::update
