#include "intake/price_grid.h"

#include <QTest>

using qalu::TStringGrid;

// The grid's invariants: counts apart from texts, counts never below 1, sparse storage.
class TestPriceGrid : public QObject
{
    Q_OBJECT
private slots:
    void countsClampToOne_data()
    {
        QTest::addColumn<int>("requested");
        QTest::addColumn<int>("expected");
        QTest::newRow("zero") << 0 << 1;
        QTest::newRow("negative") << -5 << 1;
        QTest::newRow("one") << 1 << 1;
        QTest::newRow("large") << 100000 << 100000;
    }
    void countsClampToOne()
    {
        QFETCH(int, requested);
        QFETCH(int, expected);
        TStringGrid grid;
        grid.setRowCount(requested);
        grid.setColCount(requested);
        QCOMPARE(grid.RowCount(), expected);
        QCOMPARE(grid.ColCount(), expected);
    }

    void textsOutsideCountsSurvive()
    {
        TStringGrid grid(30, 10);
        grid.setCells(0, 5, "kept");
        grid.setRowCount(3);
        QCOMPARE(grid.Cells(0, 5), QByteArray("kept"));
        grid.setRowCount(10);
        QCOMPARE(grid.Cells(0, 5), QByteArray("kept"));
    }

    void emptyWriteFreesTheCell()
    {
        TStringGrid grid;
        grid.setCells(3, 4, "x");
        QCOMPARE(grid.storedCellCount(), 1);
        grid.setCells(3, 4, QByteArray());
        QCOMPARE(grid.storedCellCount(), 0);
        QVERIFY(grid.Cells(3, 4).isEmpty());
    }

    void farCellsCostNothingForTheCounts()
    {
        TStringGrid grid;
        grid.setCells(16383, 1048575, "far");
        QCOMPARE(grid.Cells(16383, 1048575), QByteArray("far"));
        QCOMPARE(grid.storedCellCount(), 1);
    }

    void arabicRoundTrip()
    {
        TStringGrid grid;
        const QString name = QStringLiteral(u"باراسيتامول 500");
        grid.setCellText(5, 1, name);
        QCOMPARE(grid.cellText(5, 1), name);
        QVERIFY(!grid.cellText(6, 1).isNull());
    }
};

QTEST_GUILESS_MAIN(TestPriceGrid)
#include "tst_price_grid.moc"
