#include "core/failure.h"
#include "intake/cell_text.h"
#include "intake/price_grid.h"
#include "intake/workbook_reader.h"

#include "workbook_fixtures.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QTest>

#include <cmath>
#include <limits>

using qalu::TStringGrid;

namespace {

QString localDate(int y, int m, int d)
{
    return QLocale::system().toString(QDate(y, m, d), QLocale::ShortFormat);
}

QString localTime(int h, int m, int s)
{
    // The reader writes the locale's long time form without a time zone.
    QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    format.remove(QLatin1Char('t'));
    return QLocale::system().toString(QTime(h, m, s), format.trimmed());
}

} // namespace

// The .xlsx reader against workbooks from real writers and hostile packages.
class TestWorkbookReader : public QObject
{
    Q_OBJECT

    WorkbookFixtures m_fixtures;

    QString book(const char *name) const { return m_fixtures.path(QString::fromLatin1(name)); }

    // Reads a workbook that must load, into a fresh grid cleared as the update run clears it.
    void load(TStringGrid &grid, const char *name, QChar separator = QLatin1Char('.'))
    {
        qalu::ClearGrid(grid);
        try {
            qalu::LoadWorkbookToGrid(grid, book(name), separator);
        } catch (const qalu::Failure &f) {
            QFAIL(qPrintable(QStringLiteral("unexpected failure: ") + f.text()));
        }
    }

    // The row whose column A holds `label`, or -1.
    static int rowOf(const TStringGrid &grid, const QString &label)
    {
        for (int r = 0; r < grid.RowCount(); ++r)
            if (grid.cellText(0, r) == label)
                return r;
        return -1;
    }

private slots:
    void initTestCase() { QVERIFY(m_fixtures.create()); }

    void generalNumberFormat_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("expected");
        QTest::newRow("decimal") << 12.5 << "12.5";
        QTest::newRow("integer") << 7.0 << "7";
        QTest::newRow("no grouping") << 1234567.0 << "1234567";
        QTest::newRow("binary noise rounded away") << 0.1 + 0.2 << "0.3";
        QTest::newRow("smallest plain") << 0.0001 << "0.0001";
        QTest::newRow("below plain") << 0.00001 << "1E-5";
        QTest::newRow("negative") << -2.5 << "-2.5";
        QTest::newRow("1.5E17") << 1.5e17 << "1.5E17";
        QTest::newRow("ten to fifteen") << 1e15 << "1E15";
        QTest::newRow("largest plain") << 999999999999999.0 << "999999999999999";
        QTest::newRow("rounding reaches 1E15") << 999999999999999.9 << "1E15";
        QTest::newRow("15 digits kept") << 123456789012345.6 << "123456789012346";
        QTest::newRow("zero") << 0.0 << "0";
        QTest::newRow("negative zero") << -0.0 << "0";
        QTest::newRow("third") << 1.0 / 3 << "0.333333333333333";
        QTest::newRow("negative scientific") << -0.000012 << "-1.2E-5";
        QTest::newRow("three digit exponent") << 1e100 << "1E100";
        QTest::newRow("denormal") << 5e-324 << "4.94065645841247E-324";
        QTest::newRow("largest double") << std::numeric_limits<double>::max() << "1.79769313486232E308";
        QTest::newRow("trailing zeros of integer") << 1500.0 << "1500";
        QTest::newRow("fraction below one") << 0.05 << "0.05";
    }
    void generalNumberFormat()
    {
        QFETCH(double, value);
        QFETCH(QString, expected);
        QCOMPARE(qalu::generalNumberText(value, QLatin1Char('.')), expected);
        QString comma = expected;
        comma.replace(QLatin1Char('.'), QLatin1Char(','));
        QCOMPARE(qalu::generalNumberText(value, QLatin1Char(',')), comma);
        // A price text survives the trip back through the same separator.
        if (value != 0 && std::fabs(value) < 1e308)
            QVERIFY(std::fabs(expected.toDouble() - value) <= std::fabs(value) * 1e-14);
    }

    // Number texts taken over without a detour through double must match the detour exactly.
    void canonicalNumberTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("takenOver");
        QTest::newRow("price") << "602.15" << true;
        QTest::newRow("integer") << "7" << true;
        QTest::newRow("zero") << "0" << true;
        QTest::newRow("negative zero") << "-0" << false;
        QTest::newRow("negative fraction") << "-0.5" << true;
        QTest::newRow("smallest plain") << "0.0001" << true;
        QTest::newRow("below plain") << "0.00001" << false;
        QTest::newRow("fifteen digits") << "123456789.012345" << true;
        QTest::newRow("sixteen digits") << "1234567890.123456" << false;
        QTest::newRow("fifteen after leading zeros") << "0.000123456789012345" << true;
        QTest::newRow("sixteen after leading zeros") << "0.0001234567890123456" << false;
        QTest::newRow("ten to fifteen") << "1000000000000000" << false;
        QTest::newRow("trailing zero") << "2.50" << false;
        QTest::newRow("leading zero") << "007" << false;
        QTest::newRow("exponent") << "1E5" << false;
        QTest::newRow("bare point") << "5." << false;
        QTest::newRow("plus sign") << "+5" << false;
    }
    void canonicalNumberTexts()
    {
        QFETCH(QString, text);
        QFETCH(bool, takenOver);
        const std::string bytes = text.toStdString();
        std::string fast;
        QCOMPARE(qalu::appendCanonicalNumber(fast, bytes, ","), takenOver);
        if (takenOver)
            QCOMPARE(
                QString::fromStdString(fast), qalu::generalNumberText(text.toDouble(), QLatin1Char(',')));
        else
            QVERIFY(fast.empty());
    }

    void currencyFormat_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("expected");
        QTest::newRow("four digits kept") << 1234.5678 << "1234.5678";
        QTest::newRow("rounded to four") << 1234.56789 << "1234.5679";
        QTest::newRow("whole") << 1500.0 << "1500";
        QTest::newRow("trailing zeros dropped") << 2.5 << "2.5";
        QTest::newRow("negative") << -0.5 << "-0.5";
        QTest::newRow("rounds to zero, no sign") << -0.00001 << "0";
        QTest::newRow("beyond the currency range") << 1e15 << "1E15";
    }
    void currencyFormat()
    {
        QFETCH(double, value);
        QFETCH(QString, expected);
        QCOMPARE(qalu::currencyText(value, QLatin1Char('.')), expected);
    }

    void serialDates_data()
    {
        QTest::addColumn<double>("serial");
        QTest::addColumn<bool>("date1904");
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QTime>("time");
        QTest::addColumn<bool>("valid");
        QTest::newRow("1900 first day") << 1.0 << false << QDate(1900, 1, 1) << QTime(0, 0) << true;
        QTest::newRow("1900 before the phantom leap day")
            << 59.0 << false << QDate(1900, 2, 28) << QTime(0, 0) << true;
        QTest::newRow("1900 after the phantom leap day")
            << 61.0 << false << QDate(1900, 3, 1) << QTime(0, 0) << true;
        QTest::newRow("1900 price list date") << 44381.0 << false << QDate(2021, 7, 4) << QTime(0, 0) << true;
        QTest::newRow("time rounds to the second")
            << 44381.5000001 << false << QDate(2021, 7, 4) << QTime(12, 0) << true;
        QTest::newRow("time alone") << 0.75 << false << QDate() << QTime(18, 0) << true;
        QTest::newRow("1904 first day") << 0.0 << true << QDate(1904, 1, 1) << QTime(0, 0) << true;
        QTest::newRow("1904 price list date") << 42919.0 << true << QDate(2021, 7, 4) << QTime(0, 0) << true;
        QTest::newRow("negative") << -1.0 << false << QDate() << QTime() << false;
        QTest::newRow("after 9999") << 2958466.0 << false << QDate() << QTime() << false;
    }
    void serialDates()
    {
        QFETCH(double, serial);
        QFETCH(bool, date1904);
        QFETCH(QDate, date);
        QFETCH(QTime, time);
        QFETCH(bool, valid);
        const auto moment = qalu::serialToDateTime(serial, date1904);
        QCOMPARE(moment.valid, valid);
        if (valid) {
            QCOMPARE(moment.date, date);
            QCOMPARE(moment.time, time);
        }
    }

    void numbersThroughTheGrid_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("expected");
        QTest::newRow("decimal") << "decimal"
                                 << "12.5";
        QTest::newRow("integer") << "integer"
                                 << "7";
        QTest::newRow("million") << "million"
                                 << "1234567";
        QTest::newRow("float sum") << "float sum"
                                   << "0.3";
        QTest::newRow("smallest plain") << "smallest plain"
                                        << "0.0001";
        QTest::newRow("below plain") << "below plain"
                                     << "1E-5";
        QTest::newRow("negative") << "negative"
                                  << "-2.5";
        QTest::newRow("large scientific") << "large scientific"
                                          << "1.5E17";
        QTest::newRow("rounds up to 1E15") << "rounds up to 1E15"
                                           << "1E15";
        QTest::newRow("sixteen digits") << "sixteen digits"
                                        << "1.23456789012346E15";
        QTest::newRow("tiny") << "tiny"
                              << "1.2345E-300";
        QTest::newRow("zero") << "zero"
                              << "0";
        QTest::newRow("price") << "price"
                               << "1499.99";
    }
    void numbersThroughTheGrid()
    {
        QFETCH(QString, label);
        QFETCH(QString, expected);
        for (const QChar separator : { QLatin1Char('.'), QLatin1Char(',') }) {
            TStringGrid grid;
            load(grid, "numbers.xlsx", separator);
            const int row = rowOf(grid, label);
            QVERIFY2(row >= 0, qPrintable(label));
            QString text = expected;
            text.replace(QLatin1Char('.'), separator);
            QCOMPARE(grid.cellText(1, row), text);
        }
    }

    void cellKinds_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("expected");
        QTest::newRow("text") << "text"
                              << "Paracetamol 500mg";
        QTest::newRow("blanks kept") << "blanks kept"
                                     << "  spaced  ";
        QTest::newRow("arabic") << "arabic" << QStringLiteral(u"باراسيتامول");
        QTest::newRow("rich text runs joined") << "rich text"
                                               << "Amoxicillin 250";
        QTest::newRow("true") << "true"
                              << "True";
        QTest::newRow("false") << "false"
                               << "False";
        QTest::newRow("formula: stored number") << "formula number"
                                                << "6";
        QTest::newRow("formula: stored text") << "formula text"
                                              << "ab";
        QTest::newRow("formula: stored boolean") << "formula boolean"
                                                 << "True";
        QTest::newRow("date at midnight") << "date" << localDate(2021, 7, 4);
        QTest::newRow("date and time")
            << "date and time" << localDate(2021, 7, 4) + QLatin1Char(' ') + localTime(13, 30, 15);
        QTest::newRow("time alone") << "time alone" << localTime(13, 30, 0);
        QTest::newRow("elapsed time format") << "elapsed time" << localTime(6, 0, 0);
        QTest::newRow("serial 1 is 1900-01-01") << "early 1900 date" << localDate(1900, 1, 1);
        QTest::newRow("d inside quotes is no date") << "quoted d is no date"
                                                    << "2.5";
        QTest::newRow("currency: four digits") << "currency"
                                               << "1234.5679";
        QTest::newRow("currency: whole") << "currency whole"
                                         << "1500";
        QTest::newRow("built-in currency: negative") << "currency negative"
                                                     << "-0.5";
        QTest::newRow("bracketed currency beyond range") << "currency euro"
                                                         << "1E15";
        QTest::newRow("locale tag is no currency") << "locale tag is no currency"
                                                   << "2.123456";
        QTest::newRow("grouping format: plain number") << "grouped number"
                                                       << "1234567.891";
        QTest::newRow("control characters") << "control characters"
                                            << "a\tb\nc\\d\re";
    }
    void cellKinds()
    {
        QFETCH(QString, label);
        QFETCH(QString, expected);
        TStringGrid grid;
        load(grid, "kinds.xlsx");
        // A cell with formatting alone lies below and right of the data and does not count.
        QCOMPARE(grid.RowCount(), 22);
        QCOMPARE(grid.ColCount(), 2);
        const int row = rowOf(grid, label);
        QVERIFY2(row >= 0, qPrintable(label));
        // The grid holds 8-bit texts: under code page 1256 Windows maps Arabic-Indic digits to
        // Latin ones on the way in.
        QCOMPARE(grid.cellText(1, row), qalu::fromGridText(qalu::toGridText(expected)));
    }

    void dateSystem1904()
    {
        TStringGrid grid;
        load(grid, "dates1904.xlsx");
        QCOMPARE(grid.cellText(1, 0), localDate(2021, 7, 4));
        QCOMPARE(grid.cellText(1, 1), localDate(1904, 1, 1));
    }

    void sharedStringRunsAndEscapes()
    {
        TStringGrid grid;
        load(grid, "phonetic.xlsx");
        QCOMPARE(grid.cellText(0, 0), QStringLiteral("Kan ji")); // the phonetic run left out
        QCOMPARE(grid.cellText(1, 0), QStringLiteral("x\ry"));
    }

    void rectangle_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("cols");
        QTest::addColumn<int>("col");
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("text");
        QTest::newRow("header row only") << "header_row.xlsx" << 1 << 11 << 10 << 0 << "H11";
        QTest::newRow("data away from A1: leading cells empty")
            << "offset_start.xlsx" << 5 << 4 << 3 << 2 << "C";
        QTest::newRow("openpyxl K300, styled cells and uncomputed formula ignored")
            << "openpyxl_k300.xlsx" << 300 << 11 << 10 << 299 << "375";
        QTest::newRow("chart sheet first: first worksheet read")
            << "chart_first.xlsx" << 3 << 2 << 1 << 0 << "data sheet";
        QTest::newRow("workbook order, not file name")
            << "sheet_order.xlsx" << 1 << 2 << 0 << 0 << "first in order";
        QTest::newRow("dimension element not trusted")
            << "no_dimension_trust.xlsx" << 1 << 2 << 1 << 0 << "2";
        QTest::newRow("prefixed elements, blanks around a number")
            << "prefixed.xlsx" << 2 << 2 << 1 << 1 << "42";
        QTest::newRow("streamed zip, workbook by absolute target")
            << "streamed.xlsx" << 1 << 3 << 2 << 0 << "streamed";
        QTest::newRow("rows out of order") << "unordered.xlsx" << 3 << 2 << 1 << 2 << "3";
        QTest::newRow("sheet inflated beside the parse: last chunk read")
            << "many_rows.xlsx" << 40000 << 2 << 1 << 39999 << "r40000";
        QTest::newRow("duplicate cell: last wins") << "unordered.xlsx" << 3 << 2 << 0 << 0 << "11";
        QTest::newRow("row and cells without references") << "unordered.xlsx" << 3 << 2 << 1 << 1 << "True";
    }
    void rectangle()
    {
        QFETCH(QString, file);
        QFETCH(int, rows);
        QFETCH(int, cols);
        QFETCH(int, col);
        QFETCH(int, row);
        QFETCH(QString, text);
        TStringGrid grid;
        load(grid, file.toLatin1().constData());
        QCOMPARE(grid.RowCount(), rows);
        QCOMPARE(grid.ColCount(), cols);
        QCOMPARE(grid.cellText(col, row), text);
    }

    void farCellIsSparse()
    {
        TStringGrid grid;
        QElapsedTimer timer;
        timer.start();
        load(grid, "far_cell.xlsx");
        QCOMPARE(grid.RowCount(), 1048576);
        QCOMPARE(grid.ColCount(), 16384);
        QCOMPARE(grid.cellText(16383, 1048575), QStringLiteral("far"));
        QCOMPARE(grid.storedCellCount(), 1);
        // Clearing the huge rectangle costs the stored cells only.
        qalu::ClearGrid(grid);
        QCOMPARE(grid.storedCellCount(), 0);
    }

    void reloadEmptiesTheRectangleKeepsTheRest()
    {
        TStringGrid grid;
        grid.setCells(2, 1, "inside, no value in the sheet");
        grid.setCells(3, 0, "right of the rectangle");
        grid.setCells(0, 40, "below the rectangle");
        qalu::LoadWorkbookToGrid(grid, book("cli_small.xlsx"), QLatin1Char('.'));
        QCOMPARE(grid.RowCount(), 4);
        QCOMPARE(grid.ColCount(), 3);
        QCOMPARE(grid.Cells(2, 1), QByteArray("tab\there"));
        QCOMPARE(grid.Cells(2, 2), QByteArray());
        QCOMPARE(grid.Cells(3, 0), QByteArray("right of the rectangle"));
        QCOMPARE(grid.Cells(0, 40), QByteArray("below the rectangle"));
    }

    void errorValueFailsAfterEarlierCells()
    {
        TStringGrid grid(5, 10);
        for (int r = 0; r < 6; ++r)
            for (int c = 0; c < 5; ++c)
                grid.setCells(c, r, "old");
        QVERIFY_THROWS_EXCEPTION(
            qalu::Failure, qalu::LoadWorkbookToGrid(grid, book("error_value.xlsx"), QLatin1Char('.')));
        // Counts were set once the rectangle was known; rows before the error and the cell to its
        // left were written; the error cell and everything after it keep their texts.
        QCOMPARE(grid.RowCount(), 4);
        QCOMPARE(grid.ColCount(), 3);
        QCOMPARE(grid.Cells(0, 0), QByteArray("row1"));
        QCOMPARE(grid.Cells(1, 1), QByteArray("2"));
        QCOMPARE(grid.Cells(2, 1), QByteArray()); // inside, no value: written empty
        QCOMPARE(grid.Cells(0, 2), QByteArray("row3"));
        QCOMPARE(grid.Cells(1, 2), QByteArray("old"));
        QCOMPARE(grid.Cells(2, 2), QByteArray("old"));
        QCOMPARE(grid.Cells(0, 3), QByteArray("old"));
        QCOMPARE(grid.Cells(4, 0), QByteArray("old")); // outside the rectangle
    }

    void failures_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("rowsAfter"); // 0: the counts stay as they were
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing file") << "no-such.xlsx" << 0 << "does not exist";
        QTest::newRow("a folder") << "." << 0 << "not a file";
        QTest::newRow("not a zip") << "not_zip.xlsx" << 0 << "not a workbook";
        QTest::newRow("truncated archive") << "truncated.xlsx" << 0 << "not a workbook";
        QTest::newRow("malformed XML") << "malformed.xlsx" << 0 << "malformed XML";
        QTest::newRow("billion laughs") << "billion_laughs.xlsx" << 0 << "document type";
        QTest::newRow("external entity") << "external_entity.xlsx" << 0 << "document type";
        QTest::newRow("zip bomb") << "zip_bomb.xlsx" << 0 << "too large";
        QTest::newRow("forged entry size") << "forged_size.xlsx" << 0 << "larger than declared";
        QTest::newRow("forged entry size, inflated beside the parse")
            << "forged_size_large.xlsx" << 0 << "larger than declared";
        QTest::newRow("entry shorter than declared") << "short_entry.xlsx" << 0 << "is truncated";
        QTest::newRow("giant tag") << "huge_tag.xlsx" << 0 << "oversized XML markup";
        QTest::newRow("reference beyond XFD") << "bad_reference.xlsx" << 0 << "bad cell reference";
        QTest::newRow("number that is no number") << "bad_number.xlsx" << 0 << "bad number";
        QTest::newRow("empty first worksheet") << "empty.xlsx" << 1 << "empty";
        QTest::newRow("only A1 used") << "only_a1.xlsx" << 1 << "only cell A1";
    }
    void failures()
    {
        QFETCH(QString, file);
        QFETCH(int, rowsAfter);
        QFETCH(QString, reason);
        TStringGrid grid;
        grid.setCells(0, 0, "before");
        QString text;
        try {
            qalu::LoadWorkbookToGrid(grid, m_fixtures.path(file), QLatin1Char('.'));
            QFAIL("the read succeeded");
        } catch (const qalu::Failure &f) {
            text = f.text();
        }
        QVERIFY2(text.contains(reason), qPrintable(text));
        QCOMPARE(grid.RowCount(), rowsAfter ? rowsAfter : 1500);
        QCOMPARE(grid.ColCount(), rowsAfter ? 1 : 30);
        QCOMPARE(grid.Cells(0, 0), QByteArray("before"));
        QCOMPARE(grid.storedCellCount(), 1);
    }
};

QTEST_GUILESS_MAIN(TestWorkbookReader)
#include "tst_workbook_reader.moc"
