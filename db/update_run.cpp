#include "db/update_run.h"

#include "db/number_rule.h"
#include "db/query.h"
#include "db/trim.h"
#include "intake/decimal_separator.h"
#include "intake/price_grid.h"

namespace qalu::db {

namespace {

constexpr int rowCap = 1500;
constexpr qint32 matNumBase = 222000;

const QString updateStatement = QStringLiteral(
    "update mat00 set salp= :a0,price1= :a1,salp2= :a2,price2= :a3  where guid= :a4");
const QString insertColumns = QStringLiteral(
    "insert into mat00(MatNum,MatName,MatNameEng,MatNamecop,Price1,salp,price2,salp2,Fact2,price3,"
    "salp3,Fact3,CatGuid,unit1,unit2,unit3,MatN,FocN,ShapN,contn,dateupN,ShapPharmN)");
const QString insertValues = QStringLiteral(
    "values(:a0,:a1,:a2,:a3,:a4,:a5,:a6,:a7,:a8,:a9,:a10,:a11,:a12,:a13,:a14,:a15,:a16,:a17,:a18,"
    ":a19,:a20,:a21)");

} // namespace

QString updateMessage(UpdateOutcome outcome)
{
    switch (outcome) {
    case UpdateOutcome::Completed:
        return QStringLiteral("تمت عملية التحديث بنجاح");
    case UpdateOutcome::ReadFailed:
        return QStringLiteral("حدث خطأ بتحميل الاسعار من الموقع");
    case UpdateOutcome::RowFailed:
        break;
    }
    return QStringLiteral("لم يتم تحديث جميع الاسعار بطريقة صحيحة ..يرجى اعادة التحديث");
}

UpdateRun::UpdateRun(TStringGrid &grid, TQuery &qgeneral, Steps steps)
    : m_grid(grid), m_qgeneral(qgeneral), m_steps(std::move(steps))
{
}

namespace {

// The price cell rule: an empty cell is the byte 0; any other text, untrimmed, must pass the
// number rule and is bound as a double.
void bindPrice(TQuery &query, int position, const TStringGrid &grid, int col, int row)
{
    const QString text = grid.cellText(col, row);
    if (text.isEmpty())
        query.setByte(position, 0);
    else
        query.setDouble(position, priceFromText(text, decimalSeparator()));
}

} // namespace

UpdateOutcome UpdateRun::run()
{
    try {
        m_steps.ClearGrid();
        m_steps.LoadWorkbookToGrid();
    } catch (...) {
        return UpdateOutcome::ReadFailed;
    }

    if (m_grid.RowCount() > rowCap)
        m_grid.setRowCount(rowCap);

    try {
        const int rowCount = m_grid.RowCount();
        for (int r = 1; r < rowCount; ++r) {
            if (!m_grid.cellText(0, r).isEmpty()) {
                m_qgeneral.clearText();
                m_qgeneral.setText(updateStatement);
                bindPrice(m_qgeneral, 0, m_grid, 1, r);
                bindPrice(m_qgeneral, 1, m_grid, 2, r);
                bindPrice(m_qgeneral, 2, m_grid, 3, r);
                bindPrice(m_qgeneral, 3, m_grid, 4, r);
                m_qgeneral.setString(4, trimRule(m_grid.cellText(0, r)));
                m_qgeneral.ExecSQL();
                continue;
            }

            m_qgeneral.clearText();
            m_qgeneral.appendLine(insertColumns);
            m_qgeneral.appendLine(insertValues);
            m_qgeneral.setInteger(0, r + matNumBase);
            m_qgeneral.setString(1, trimRule(m_grid.cellText(5, r)));
            m_qgeneral.setString(2, trimRule(m_grid.cellText(5, r)));
            m_qgeneral.setString(3, trimRule(m_grid.cellText(8, r)));
            bindPrice(m_qgeneral, 4, m_grid, 2, r);
            bindPrice(m_qgeneral, 5, m_grid, 1, r);
            for (int position = 6; position <= 11; ++position)
                m_qgeneral.setByte(position, 0);
            // Resolution runs on other query objects, so what is bound here so far stays.
            m_qgeneral.setString(12,
                                 trimRule(m_steps.FindOrAddCategory(trimRule(m_grid.cellText(7, r)))));
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
        }
    } catch (...) {
        return UpdateOutcome::RowFailed;
    }
    return UpdateOutcome::Completed;
}

} // namespace qalu::db
