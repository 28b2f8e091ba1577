#include "workbook_fixtures.h"

#include <QProcess>
#include <QTest>

// `qalu-cli grid` from the outside: its output format and exit codes are a contract.
class TestCliGrid : public QObject
{
    Q_OBJECT

    WorkbookFixtures m_fixtures;

    struct Run
    {
        int exitCode = -1;
        QByteArray out;
        QByteArray err;
    };

    Run run(const QStringList &args)
    {
        QProcess cli;
        cli.start(QStringLiteral(QALU_CLI), QStringList { QStringLiteral("grid") } + args);
        Run r;
        if (!cli.waitForFinished(60000)) {
            cli.kill();
            cli.waitForFinished();
            return r;
        }
        r.exitCode = cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1;
        r.out = cli.readAllStandardOutput();
        r.err = cli.readAllStandardError();
        return r;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_fixtures.create({ QStringLiteral("cli_small.xlsx"), QStringLiteral("error_value.xlsx"),
            QStringLiteral("not_zip.xlsx"), QStringLiteral("kinds.xlsx") }));
    }

    void printsTheGrid_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("expected");
        // The grid's texts are in the ANSI code page: where it cannot hold a character (code page
        // 1256 on Windows), the grid has '?' in its place.
        const auto held = [](char16_t c, const QByteArray &shown) -> QByteArray {
            const QString text(QChar { c });
            return QString::fromLocal8Bit(text.toLocal8Bit()) == text ? shown : QByteArray("?");
        };
        const QByteArray body = "4\t3\n"
                                "Name\tPrice\tNote\n"
                                "Aspirin\t12.5\ttab\\there\n"
                                "back\\\\slash\t7\t\n"
                                "\tesc\\x1B[2J"
            + held(u'\u202E', "\\u{202E}") + held(u'\u0085', "\\x85") + "\\x7F" + held(u'\u2069', "\\u{2069}")
            + "x\tline\\nfeed\\rret\n";
        QTest::newRow("point") << QStringList { QStringLiteral("--decimal-separator"), QStringLiteral(".") }
                               << body;
        QByteArray comma = body;
        comma.replace("12.5", "12,5");
        QTest::newRow("comma separator")
            << QStringList { QStringLiteral("--decimal-separator"), QStringLiteral(",") } << comma;
        QTest::newRow("comma separator after =")
            << QStringList { QStringLiteral("--decimal-separator=,") } << comma;
        QByteArray arabic = body;
        arabic.replace("12.5", "12" + held(u'\u066B', QStringLiteral("\u066B").toUtf8()) + "5");
        QTest::newRow("Arabic decimal separator")
            << QStringList { QStringLiteral("--decimal-separator=\u066B") } << arabic;
    }
    void printsTheGrid()
    {
        QFETCH(QStringList, options);
        QFETCH(QByteArray, expected);
        const Run r = run(options + QStringList { m_fixtures.path(QStringLiteral("cli_small.xlsx")) });
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, expected);
        QCOMPARE(r.err, QByteArray());
    }

    void textsAreUtf8()
    {
        const Run r = run({ QStringLiteral("--decimal-separator"), QStringLiteral("."),
            m_fixtures.path(QStringLiteral("kinds.xlsx")) });
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.out.startsWith("22\t2\n"));
        QVERIFY(r.out.contains(QStringLiteral(u"arabic\tباراسيتامول\n").toUtf8()));
        QCOMPARE(r.out.count('\n'), 23);
    }

    void failsCleanly_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode"); // 1 unreadable workbook, 64 bad usage
        QTest::newRow("missing workbook")
            << QStringList { m_fixtures.path(QStringLiteral("none.xlsx")) } << 1;
        QTest::newRow("error value") << QStringList { m_fixtures.path(QStringLiteral("error_value.xlsx")) }
                                     << 1;
        QTest::newRow("not a workbook")
            << QStringList { m_fixtures.path(QStringLiteral("not_zip.xlsx")) } << 1;
        QTest::newRow("missing workbook with a line break in its name")
            << QStringList { m_fixtures.path(QStringLiteral("two\nlines.xlsx")) } << 1;
        QTest::newRow("no workbook given") << QStringList() << 64;
        QTest::newRow("two workbooks")
            << QStringList { QStringLiteral("a.xlsx"), QStringLiteral("b.xlsx") } << 64;
        QTest::newRow("separator missing") << QStringList { QStringLiteral("--decimal-separator") } << 64;
        QTest::newRow("separator too long") << QStringList { QStringLiteral("--decimal-separator"),
            QStringLiteral(".."), QStringLiteral("a.xlsx") }
                                            << 64;
        QTest::newRow("unknown option")
            << QStringList { QStringLiteral("--rows"), QStringLiteral("a.xlsx") } << 64;
        // A separator the number rule would read as part of a number, or as its end.
        for (const char16_t c : { u'5', u'-', u'+', u'e', u'E', u' ', u'\t', u'\x1b', u'\u00a0', u'\u0665',
                 u'\u200f', u'\u2003' })
            QTest::addRow("separator U+%04X", unsigned(c)) << QStringList {
                QStringLiteral("--decimal-separator"), QString(QChar(c)), QStringLiteral("a.xlsx")
            } << 64;
    }
    void failsCleanly()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        const Run r = run(args);
        QCOMPARE(r.exitCode, exitCode);
        QCOMPARE(r.out, QByteArray());
        QVERIFY(r.err.startsWith("qalu-cli grid: "));
        QVERIFY(r.err.endsWith('\n'));
        QCOMPARE(r.err.count('\n'), 1);
    }

    void help_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("start");
        const QByteArray usage = "Usage: qalu-cli grid [--decimal-separator C] WORKBOOK\n";
        QTest::newRow("--help") << QStringList { QStringLiteral("--help") } << usage;
        QTest::newRow("-h among other arguments")
            << QStringList { QStringLiteral("a.xlsx"), QStringLiteral("-h") } << usage;
        QTest::newRow("--version") << QStringList { QStringLiteral("--version") }
                                   << QByteArray("qalu-cli " QALU_VERSION "\n");
    }
    void help()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, start);
        const Run r = run(args);
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.out.startsWith(start));
        QCOMPARE(r.err, QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestCliGrid)
#include "tst_cli_grid.moc"
