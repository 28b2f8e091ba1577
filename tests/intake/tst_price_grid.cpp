#include "intake/price_grid.h"
#include "intake/workbook_reader.h"

#include <QHash>
#include <QRandomGenerator>
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

    void clearGridEmptiesInsideTheCountsOnly()
    {
        TStringGrid grid; // 30 columns, 1500 rows, as the window creates it
        grid.setCells(0, 0, "corner");
        grid.setCells(29, 1499, "last inside");
        grid.setCells(30, 0, "right of the columns");
        grid.setCells(0, 1500, "below the rows");
        qalu::ClearGrid(grid);
        QCOMPARE(grid.Cells(0, 0), QByteArray());
        QCOMPARE(grid.Cells(29, 1499), QByteArray());
        QCOMPARE(grid.Cells(30, 0), QByteArray("right of the columns"));
        QCOMPARE(grid.Cells(0, 1500), QByteArray("below the rows"));
        QCOMPARE(grid.storedCellCount(), 2);
        QCOMPARE(grid.RowCount(), 1500);
        QCOMPARE(grid.ColCount(), 30);
    }

    void clearGridKeepsTextsBeyondLoweredCounts()
    {
        TStringGrid grid(30, 10);
        grid.setCells(0, 5, "kept");
        grid.setCells(0, 2, "cleared");
        grid.setRowCount(3);
        qalu::ClearGrid(grid);
        QCOMPARE(grid.Cells(0, 2), QByteArray());
        grid.setRowCount(10);
        QCOMPARE(grid.Cells(0, 5), QByteArray("kept"));
    }

    void clearGridOnAHugeGridIsSparse()
    {
        TStringGrid grid(16384, 1048576);
        grid.setCells(16383, 1048575, "x");
        grid.setCells(5, 7, "y");
        qalu::ClearGrid(grid); // visits 2 cells, not 17 billion
        QCOMPARE(grid.storedCellCount(), 0);
    }

    // Random writes, rewrites, erasures and block clears against a plain map: the row buffers,
    // in-place rewrites and compaction must never mix up texts.
    void matchesAPlainMap()
    {
        TStringGrid grid;
        QHash<quint64, QByteArray> model;
        QRandomGenerator rng(20210704);
        for (int step = 0; step < 200000; ++step) {
            const int col = int(rng.bounded(40));
            const int row = int(rng.bounded(30));
            const quint64 key = (quint64(col) << 32) | quint32(row);
            const auto op = rng.bounded(100);
            if (op < 70) {
                const QByteArray text
                    = op < 10 ? QByteArray() : QByteArray::number(step).repeated(1 + int(rng.bounded(30)));
                grid.setCells(col, row, text);
                if (text.isEmpty())
                    model.remove(key);
                else
                    model.insert(key, text);
            } else if (op == 71) {
                // A copy and the original go separate ways.
                TStringGrid copy = grid;
                copy.setCells(col, row, "copy only");
                grid = std::move(copy);
                grid.setCells(col, row, model.value(key));
                grid = TStringGrid(grid);
            } else if (op == 72) {
                grid.reserveRow(row, 5, 50); // room only: reads and counts stay
            } else if (op < 71) {
                const int cols = int(rng.bounded(45));
                const int begin = int(rng.bounded(30));
                const int end = begin + int(rng.bounded(10));
                grid.clearBlock(cols, begin, end);
                for (auto it = model.begin(); it != model.end();) {
                    const int c = int(it.key() >> 32);
                    const int r = int(quint32(it.key()));
                    if (c < cols && r >= begin && r < end)
                        it = model.erase(it);
                    else
                        ++it;
                }
            } else {
                QCOMPARE(grid.Cells(col, row), model.value(key));
            }
        }
        QCOMPARE(grid.storedCellCount(), model.size());
        for (auto it = model.cbegin(); it != model.cend(); ++it)
            QCOMPARE(grid.Cells(int(it.key() >> 32), int(quint32(it.key()))), it.value());
        int visited = 0;
        for (int r = 0; r < 30; ++r) {
            int lastCol = -1;
            grid.forEachCellInRow(r, [&](int c, QByteArrayView text) {
                QVERIFY(c > lastCol);
                lastCol = c;
                QCOMPARE(text.toByteArray(), model.value((quint64(c) << 32) | quint32(r)));
                ++visited;
            });
        }
        QCOMPARE(visited, model.size());
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
