// `qalu-cli apply` from the outside: real workbooks written by xlsxwriter, real databases, the
// process's exit status and its exact output.

#include "support/cli_run.h"
#include "support/pharmacy_fixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QtTest>

using namespace qalu;
using qalu::testdb::Backend;
using qalu::testdb::PharmacyFixture;

Q_DECLARE_METATYPE(qalu::testdb::Backend)

namespace {

const QString completed = QStringLiteral("تمت عملية التحديث بنجاح");
const QString readFailed = QStringLiteral("حدث خطأ بتحميل الاسعار من الموقع");
const QString rowFailed = QStringLiteral("لم يتم تحديث جميع الاسعار بطريقة صحيحة ..يرجى اعادة التحديث");
const QString noDatabase = QStringLiteral("هناك مشكلة بالارتباط بقاعدة البيانات");

const QString &amoxicillin = testdb::seed::amoxicillin;
const QString &paracetamol = testdb::seed::paracetamol;
const QString &ibuprofen = testdb::seed::ibuprofen;

using Result = testdb::CliResult;
using testdb::priceListHeader;
using testdb::runCli;
using testdb::writeWorkbook;

QString where(const QString &guid)
{
    return QStringLiteral("guid = '%1'").arg(guid);
}

} // namespace

class TestCliApply : public QObject
{
    Q_OBJECT
private slots:
    void help()
    {
        const Result r = runCli({ QStringLiteral("apply"), QStringLiteral("--help") });
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.out.startsWith(QStringLiteral("Usage: qalu-cli apply --connection CONNECTION-STRING")));
        for (const QString &message : { completed, readFailed, rowFailed, noDatabase })
            QVERIFY2(r.out.contains(message), qPrintable(message));
        QVERIFY(r.err.isEmpty());
    }

    // Usage errors: status 64, nothing on standard output, one line on standard error.
    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("args");
        const QString conn = QStringLiteral("Provider=SQLite;Data Source=/tmp/unused.db");
        QTest::newRow("nothing") << QStringList {};
        QTest::newRow("no connection") << QStringList { QStringLiteral("book.xlsx") };
        QTest::newRow("connection without value") << QStringList { QStringLiteral("--connection") };
        QTest::newRow("no workbook") << QStringList { QStringLiteral("--connection"), conn };
        QTest::newRow("two workbooks") << QStringList { QStringLiteral("--connection"), conn,
            QStringLiteral("a.xlsx"), QStringLiteral("b.xlsx") };
        QTest::newRow("unknown option") << QStringList { QStringLiteral("--connection"), conn,
            QStringLiteral("--dry-run"), QStringLiteral("a.xlsx") };
        QTest::newRow("separator of two characters") << QStringList { QStringLiteral("--connection"), conn,
            QStringLiteral("--decimal-separator"), QStringLiteral(".."), QStringLiteral("a.xlsx") };
        QTest::newRow("empty separator") << QStringList { QStringLiteral("--connection"), conn,
            QStringLiteral("--decimal-separator="), QStringLiteral("a.xlsx") };
        QTest::newRow("connection given twice") << QStringList { QStringLiteral("--connection"), conn,
            QStringLiteral("--connection"), conn, QStringLiteral("a.xlsx") };
    }
    void usageErrors()
    {
        QFETCH(QStringList, args);
        const Result r = runCli(QStringList { QStringLiteral("apply") } + args);
        QCOMPARE(r.exitCode, 64);
        QCOMPARE(r.out, QString());
        QCOMPARE(r.err.count(u'\n'), 1);
        QVERIFY(r.err.endsWith(u'\n'));
    }

    // The database cannot be reached: the window's message, then the database's own text, both
    // on standard output; status 1, no workbook read.
    void connectionFailure_data()
    {
        QTest::addColumn<QString>("connection");
        QTest::newRow("missing database file")
            << QStringLiteral("Provider=SQLite;Data Source=%1/missing/x.db");
        QTest::newRow("unknown provider") << QStringLiteral("Provider=Nonsense.1;Data Source=%1");
        QTest::newRow("no provider") << QStringLiteral("Data Source=%1");
        QTest::newRow("file name with a line break")
            << QStringLiteral("Provider=SQLite;Data Source=%1/line\nbreak.db");
        QTest::newRow("the workbook, no database")
            << QStringLiteral("Provider=SQLite;Data Source=%1/prices.xlsx");
        QTest::newRow("server not listening")
            << QStringLiteral("Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=1;Database=x;Uid=x;Pwd=;");
    }
    void connectionFailure()
    {
        QFETCH(QString, connection);
        QTemporaryDir dir;
        const QString workbook = writeWorkbook(dir, QJsonArray { priceListHeader() });
        const Result r = runCli({ QStringLiteral("apply"), QStringLiteral("--connection"),
            connection.contains(QStringLiteral("%1")) ? connection.arg(dir.path()) : connection, workbook });
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.out.startsWith(noDatabase + u'\n'), qPrintable(r.out));
        QVERIFY(!r.out.mid(noDatabase.size() + 1).trimmed().isEmpty());
        QCOMPARE(r.out.count(u'\n'), 2);
        QVERIFY(r.out.endsWith(u'\n'));
        QCOMPARE(r.err, QString());
    }

    // The main path on both engines: update and insert rows from a real workbook, text and
    // number cells, a guid with blanks, a shared new category.
    void appliesWorkbook_data()
    {
        QTest::addColumn<Backend>("backend");
        QTest::newRow("sqlite") << Backend::Sqlite;
        QTest::newRow("postgresql") << Backend::Postgres;
    }
    void appliesWorkbook()
    {
        QFETCH(Backend, backend);
        PharmacyFixture f;
        if (!f.open(backend))
            return;
        QTemporaryDir dir;
        const QJsonArray rows {
            priceListHeader(),
            QJsonArray {
                QStringLiteral("  ") + amoxicillin, 25.5, QStringLiteral("19"), QStringLiteral(""), 3 },
            QJsonArray { QJsonValue(), QStringLiteral("30"), 22.75, 1, 1, QStringLiteral("شراب كحة"),
                QStringLiteral("x"), QStringLiteral("أدوية البرد"), QStringLiteral("Tussin"),
                QStringLiteral("syrup"), QStringLiteral("شراب") },
            QJsonArray { paracetamol, QStringLiteral(" 13.25 "), QStringLiteral("10") },
            QJsonArray { QJsonValue(), 4, 3, QJsonValue(), QJsonValue(), QStringLiteral("Lozenges"),
                QJsonValue(), QStringLiteral("أدوية البرد") },
        };
        const Result r = runCli({ QStringLiteral("apply"), QStringLiteral("--connection"), f.connectionString,
            QStringLiteral("--decimal-separator"), QStringLiteral("."), writeWorkbook(dir, rows) });
        QCOMPARE(r.out, completed + u'\n');
        QCOMPARE(r.exitCode, 0);

        const auto amox = f.rows(
            QStringLiteral("select salp, price1, salp2, price2 from mat00 where ") + where(amoxicillin));
        QCOMPARE(amox.size(), 1);
        QCOMPARE(amox[0][0].toDouble(), 25.5);
        QCOMPARE(amox[0][1].toDouble(), 19.0);
        QCOMPARE(amox[0][2].toDouble(), 0.0);
        QCOMPARE(amox[0][3].toDouble(), 3.0);
        QCOMPARE(
            f.scalar(QStringLiteral("select salp from mat00 where ") + where(paracetamol)).toDouble(), 13.25);
        const auto added = f.rows(QStringLiteral("select MatNum, MatName, Price1, salp, unit1 from mat00"
                                                 " where MatNum > 222000 order by MatNum"));
        QCOMPARE(added.size(), 2);
        QCOMPARE(added[0][0].toInt(), 222002);
        QCOMPARE(added[0][1].toString(), QStringLiteral("شراب كحة"));
        QCOMPARE(added[0][2].toDouble(), 22.75);
        QCOMPARE(added[0][3].toDouble(), 30.0);
        QCOMPARE(added[0][4].toString(), QStringLiteral("وحدة1"));
        QCOMPARE(added[1][0].toInt(), 222004);
        QCOMPARE(f.count(QStringLiteral("Category00"), QStringLiteral("CName = 'أدوية البرد'")), 1);
        QCOMPARE(f.count(QStringLiteral("TreeView"), QStringLiteral("num = 8")), 1);
    }

    // A failing row: status 3 and only its message; rows before stay (none with --atomic), rows
    // after are untouched. Standard error names the sheet row and the guid that matched nothing,
    // and the report says where and why it stopped, and what each update statement matched.
    void rowFailure_data()
    {
        QTest::addColumn<Backend>("backend");
        QTest::addColumn<bool>("atomic");
        QTest::newRow("sqlite") << Backend::Sqlite << false;
        QTest::newRow("postgresql") << Backend::Postgres << false;
        QTest::newRow("sqlite, atomic") << Backend::Sqlite << true;
        QTest::newRow("postgresql, atomic") << Backend::Postgres << true;
    }
    void rowFailure()
    {
        QFETCH(Backend, backend);
        QFETCH(bool, atomic);
        PharmacyFixture f;
        if (!f.open(backend))
            return;
        QTemporaryDir dir;
        const QJsonArray rows {
            priceListHeader(),
            QJsonArray { amoxicillin, QStringLiteral("50"), QStringLiteral("40") },
            QJsonArray { QStringLiteral("{00000000-0000-4000-8000-000000000001}"), 1, 1 },
            QJsonArray { paracetamol, QStringLiteral("12,5"), QStringLiteral("40") },
            QJsonArray { ibuprofen, QStringLiteral("77"), QStringLiteral("66") },
        };
        const QString reportPath = dir.filePath(QStringLiteral("report.json"));
        QStringList args { QStringLiteral("apply"), QStringLiteral("--connection"), f.connectionString,
            QStringLiteral("--decimal-separator=."), QStringLiteral("--report"), reportPath,
            QStringLiteral("--journal-dir"), dir.filePath(QStringLiteral("journal")) };
        if (atomic)
            args << QStringLiteral("--atomic");
        const Result r = runCli(args + QStringList { writeWorkbook(dir, rows) });
        QCOMPARE(r.out, rowFailed + u'\n');
        QCOMPARE(r.exitCode, 3);
        QCOMPARE(r.err,
            QStringLiteral("row 3: guid matches no medicine\n"
                           "row 4: character ',' at position 3 is not allowed there\n"));
        QFile reportFile(reportPath);
        QVERIFY(reportFile.open(QIODevice::ReadOnly));
        const QJsonObject report = QJsonDocument::fromJson(reportFile.readAll()).object();
        QCOMPARE(report.value(QStringLiteral("outcome")).toString(), QStringLiteral("row-failed"));
        QCOMPARE(report.value(QStringLiteral("rolled_back")).toBool(), atomic);
        QCOMPARE(report.value(QStringLiteral("stop")).toObject(),
            (QJsonObject { { QStringLiteral("sheet_row"), 4 },
                { QStringLiteral("cell"), QStringLiteral("B4") },
                { QStringLiteral("text"), QStringLiteral("12,5") },
                { QStringLiteral("reason"),
                    QStringLiteral("character ',' at position 3 is not allowed there") } }));
        QStringList statuses;
        for (const QJsonValue row : report.value(QStringLiteral("rows")).toArray())
            statuses << row.toObject().value(QStringLiteral("status")).toString() + u' '
                    + QString::number(row.toObject().value(QStringLiteral("matched")).toInt(-1)) + u' '
                    + row.toObject().value(QStringLiteral("changed")).toVariant().toString();
        QCOMPARE(statuses,
            QStringList({ atomic ? QStringLiteral("applied 1 false") : QStringLiteral("applied 1 true"),
                QStringLiteral("applied 0 false"), QStringLiteral("failed -1 "),
                QStringLiteral("not-reached -1 ") }));
        QCOMPARE(f.scalar(QStringLiteral("select salp from mat00 where ") + where(amoxicillin)).toDouble(),
            atomic ? 24.0 : 50.0);
        // A rolled-back run's journal changed nothing, so restore has nothing to put back.
        const Result journal = runCli({ QStringLiteral("journal"), QStringLiteral("--format=json"),
            QStringLiteral("--journal-dir"), dir.filePath(QStringLiteral("journal")) });
        QCOMPARE(QJsonDocument::fromJson(journal.out.toUtf8())
                     .array()
                     .at(0)
                     .toObject()
                     .value(QStringLiteral("changed")),
            QJsonValue(atomic ? 0 : 1));
        QCOMPARE(
            f.scalar(QStringLiteral("select salp from mat00 where ") + where(paracetamol)).toDouble(), 12.0);
        QCOMPARE(
            f.scalar(QStringLiteral("select salp from mat00 where ") + where(ibuprofen)).toDouble(), 17.5);
    }

    // A report that cannot be opened is found before the run: one line on standard error, nothing
    // on standard output, status 5, the database untouched.
    void unwritableReport()
    {
        PharmacyFixture f;
        if (!f.open(Backend::Sqlite))
            return;
        QTemporaryDir dir;
        const QJsonArray rows { priceListHeader(),
            QJsonArray { amoxicillin, QStringLiteral("50"), QStringLiteral("40") } };
        const Result r = runCli({ QStringLiteral("apply"), QStringLiteral("--connection"), f.connectionString,
            QStringLiteral("--report=") + dir.filePath(QStringLiteral("no/such/folder/report.json")),
            writeWorkbook(dir, rows) });
        QCOMPARE(r.out, QString());
        QCOMPARE(r.exitCode, 5);
        QCOMPARE(r.err.count(u'\n'), 1);
        QVERIFY2(
            r.err.startsWith(QStringLiteral("qalu-cli apply: cannot write the report")), qPrintable(r.err));
        QCOMPARE(
            f.scalar(QStringLiteral("select salp from mat00 where ") + where(amoxicillin)).toDouble(), 24.0);
    }

    // The separator given on the command line is the one prices are read with.
    void commaSeparator()
    {
        PharmacyFixture f;
        if (!f.open(Backend::Sqlite))
            return;
        QTemporaryDir dir;
        const QJsonArray rows { priceListHeader(), QJsonArray { amoxicillin, QStringLiteral("12,5"), 7.25 } };
        const Result r
            = runCli({ QStringLiteral("apply"), QStringLiteral("--decimal-separator"), QStringLiteral(","),
                QStringLiteral("--connection"), f.connectionString, writeWorkbook(dir, rows) });
        QCOMPARE(r.out, completed + u'\n');
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(
            f.scalar(QStringLiteral("select salp from mat00 where ") + where(amoxicillin)).toDouble(), 12.5);
        QCOMPARE(f.scalar(QStringLiteral("select price1 from mat00 where ") + where(amoxicillin)).toDouble(),
            7.25);
    }

    // A workbook that cannot be read: status 2, the reason on one line of standard error, the
    // database untouched.
    void unreadableWorkbook_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("missing file") << QByteArray();
        QTest::newRow("not a workbook") << QByteArray("guid,salp\n{x},1\n");
    }
    void unreadableWorkbook()
    {
        QFETCH(QByteArray, content);
        PharmacyFixture f;
        if (!f.open(Backend::Sqlite))
            return;
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("F4-7-2021.xlsx"));
        if (!content.isEmpty()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        const int medicines = f.count(QStringLiteral("mat00"));
        const Result r
            = runCli({ QStringLiteral("apply"), QStringLiteral("--connection"), f.connectionString, path });
        QCOMPARE(r.out, readFailed + u'\n');
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.startsWith(QStringLiteral("qalu-cli apply: ")) && r.err.count(u'\n') == 1
                && r.err.size() > 20,
            qPrintable(r.err));
        QCOMPARE(f.count(QStringLiteral("mat00")), medicines);
        QCOMPARE(
            f.scalar(QStringLiteral("select salp from mat00 where ") + where(amoxicillin)).toDouble(), 24.0);
    }

    // Sheet rows after 1500 are not read (standard error says so): a bad price in sheet row 1501
    // does not fail the run.
    void sheetRowsAfter1500AreDropped()
    {
        PharmacyFixture f;
        if (!f.open(Backend::Sqlite, true, true))
            return;
        QTemporaryDir dir;
        QJsonArray rows { priceListHeader() };
        for (int r = 1; r <= 1499; ++r)
            rows.append(QJsonArray { amoxicillin, r, 1 });
        rows.append(QJsonArray { amoxicillin, QStringLiteral("not a price"), 1 });
        rows.append(QJsonArray { amoxicillin, QStringLiteral("also not"), 1 });
        const Result r = runCli({ QStringLiteral("apply"), QStringLiteral("--connection"), f.connectionString,
            QStringLiteral("--decimal-separator"), QStringLiteral("."), writeWorkbook(dir, rows) });
        QCOMPARE(r.out, completed + u'\n');
        QCOMPARE(r.err, QStringLiteral("rows 1501-1502 not read: a price list is read up to row 1500\n"));
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(
            f.scalar(QStringLiteral("select salp from mat00 where ") + where(amoxicillin)).toInt(), 1499);
    }
};

QTEST_GUILESS_MAIN(TestCliApply)
#include "tst_cli_apply.moc"
