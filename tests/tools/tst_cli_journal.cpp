// The run's journal and `qalu-cli restore`: real runs of qalu-cli apply on both engines, then the
// journal put back, and the four prices of mat00 compared with what they were.

#include "support/cli_run.h"
#include "support/pharmacy_fixture.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using namespace qalu;
using qalu::testdb::Backend;
using qalu::testdb::PharmacyFixture;
using qalu::testdb::runCli;

Q_DECLARE_METATYPE(qalu::testdb::Backend)

namespace {

const QString completed = QStringLiteral("تمت عملية التحديث بنجاح");
const QString &amoxicillin = testdb::seed::amoxicillin;
const QString &paracetamol = testdb::seed::paracetamol;
const QString &ibuprofen = testdb::seed::ibuprofen;
const QString unknownGuid = QStringLiteral("{00000000-0000-0000-0000-0000000000AA}");

// The four prices of every seeded medicine, one text per medicine, keyed by its guid.
QMap<QString, QString> prices(const PharmacyFixture &f)
{
    QMap<QString, QString> out;
    for (const QVariantList &row :
        f.rows(QStringLiteral("select guid, salp, price1, salp2, price2 from mat00 where MatNum < 222000"))) {
        QStringList values;
        for (int i = 1; i <= 4; ++i)
            values << QString::number(row[i].toDouble(), 'g', 17);
        out.insert(testdb::normalGuid(row[0].toString()), values.join(u' '));
    }
    return out;
}

// Update rows for three medicines and one unknown guid, an insert row; with `failing` the
// second medicine's price is not a number, so the run stops there.
QString priceList(const QTemporaryDir &dir, bool failing)
{
    const QJsonArray rows {
        testdb::priceListHeader(),
        QJsonArray { amoxicillin, 25.5, 19.25, 2.5, 1.75 },
        QJsonArray { unknownGuid, 1, 1, 1, 1 },
        QJsonArray { QJsonValue(), 30, 22.75, 1, 1, QStringLiteral("شراب كحة"), QJsonValue(),
            QStringLiteral("أدوية البرد") },
        QJsonArray { paracetamol, failing ? QStringLiteral("1,2,3") : QStringLiteral("13.125"), 10 },
        QJsonArray { ibuprofen, 7.5, 6, 0.5, 0.25 },
    };
    return testdb::writeWorkbook(dir, rows);
}

testdb::CliResult apply(const PharmacyFixture &f, const QString &journalDir, const QString &workbook)
{
    return runCli({ QStringLiteral("apply"), QStringLiteral("--connection"), f.connectionString,
        QStringLiteral("--decimal-separator"), QStringLiteral("."), QStringLiteral("--journal-dir"),
        journalDir, workbook });
}

QString onlyJournal(const QString &folder)
{
    const QStringList files = QDir(folder).entryList({ QStringLiteral("run-*.json") }, QDir::Files);
    return files.size() == 1 ? QDir(folder).filePath(files.constFirst()) : QString();
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestCliJournal : public QObject
{
    Q_OBJECT
private slots:
    void restore_data()
    {
        QTest::addColumn<Backend>("backend");
        QTest::addColumn<bool>("failing");
        QTest::addColumn<QString>("tamper"); // a medicine someone changes after the run
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<bool>("backToBefore"); // else the prices stay as the run left them
        QTest::addColumn<bool>("refuse"); // the database refuses the last medicine's update
        for (const Backend backend : { Backend::Sqlite, Backend::Postgres }) {
            const char *engine = backend == Backend::Sqlite ? "sqlite" : "postgresql";
            const auto row = [&](const char *name) { return &QTest::addRow("%s: %s", engine, name); };
            *row("round trip") << backend << false << QString() << QStringList {} << 0 << true << false;
            *row("changed since: left alone")
                << backend << false << amoxicillin << QStringList {} << 4 << true << false;
            *row("changed since: forced") << backend << false << amoxicillin
                                          << QStringList { QStringLiteral("--force") } << 0 << true << false;
            *row("dry run") << backend << false << QString() << QStringList { QStringLiteral("--dry-run") }
                            << 0 << false << false;
            // Ibuprofen comes after the failing row: the run never touched it.
            *row("failing run") << backend << true << ibuprofen << QStringList {} << 0 << true << false;
            // All or nothing: the medicines restored before the refusal are rolled back.
            if (backend == Backend::Sqlite)
                *row("database refuses")
                    << backend << false << QString() << QStringList {} << 3 << false << true;
        }
    }
    void restore()
    {
        QFETCH(Backend, backend);
        QFETCH(bool, failing);
        QFETCH(QString, tamper);
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(bool, backToBefore);
        QFETCH(bool, refuse);
        PharmacyFixture f;
        if (!f.open(backend))
            return;
        QTemporaryDir dir;
        const QString journals = dir.filePath(QStringLiteral("journals"));
        const QMap<QString, QString> before = prices(f);

        const testdb::CliResult applied = apply(f, journals, priceList(dir, failing));
        QCOMPARE(applied.exitCode, failing ? 3 : 0);
        const QString journal = onlyJournal(journals);
        QVERIFY2(!journal.isEmpty(), qPrintable(applied.err));
        const QMap<QString, QString> afterRun = prices(f);
        QVERIFY(afterRun != before);
        if (!tamper.isEmpty())
            f.exec(QStringLiteral("update mat00 set salp = 99 where guid = '%1'").arg(tamper));
        const QMap<QString, QString> tampered = prices(f);
        if (refuse)
            f.exec(QStringLiteral("create trigger refuse before update on mat00 when old.guid = '%1' "
                                  "begin select raise(abort, 'refused'); end")
                       .arg(ibuprofen));

        const testdb::CliResult r = runCli(QStringList { QStringLiteral("restore"),
                                               QStringLiteral("--connection"), f.connectionString, journal }
            + args);
        QVERIFY2(r.exitCode == exitCode, qPrintable(r.out + r.err));
        QVERIFY2(refuse || r.out.contains(QStringLiteral("MatNum 222003  شراب كحة")), qPrintable(r.out));

        QMap<QString, QString> expected = backToBefore ? before : afterRun;
        if (!tamper.isEmpty() && exitCode == 4)
            expected[testdb::normalGuid(tamper)] = tampered.value(testdb::normalGuid(tamper));
        if (failing)
            expected[testdb::normalGuid(tamper)] = tampered.value(testdb::normalGuid(tamper));
        QCOMPARE(prices(f), expected);
        // The new medicine is listed, never deleted.
        QCOMPARE(f.count(QStringLiteral("mat00"), QStringLiteral("MatNum = 222003")), 1);

        if (args.isEmpty() && tamper.isEmpty()) {
            const testdb::CliResult list
                = runCli({ QStringLiteral("journal"), QStringLiteral("--journal-dir"), journals });
            QCOMPARE(list.exitCode, 0);
            QVERIFY2(list.out.contains(QStringLiteral("completed       3 changed     1 inserted")),
                qPrintable(list.out));
            const testdb::CliResult show
                = runCli({ QStringLiteral("journal"), QStringLiteral("show"), QStringLiteral("--journal-dir"),
                    journals, QStringLiteral("--format"), QStringLiteral("json"), QStringLiteral("latest") });
            QCOMPARE(show.exitCode, 0);
            QCOMPARE(QJsonDocument::fromJson(show.out.toUtf8()).object(),
                QJsonDocument::fromJson(readAll(journal)).object());
        }
    }

    // A journal is input: whatever is wrong with it, restore says so and changes nothing.
    void badJournal_data()
    {
        QTest::addColumn<QString>("fault");
        for (const char *fault : { "truncated", "not an object", "price as text", "infinite price",
                 "missing rows", "unknown guid", "hostile guid", "guid with a line feed", "unknown version" })
            QTest::newRow(fault) << QString::fromLatin1(fault);
    }
    void badJournal()
    {
        QFETCH(QString, fault);
        PharmacyFixture f;
        if (!f.open(Backend::Sqlite))
            return;
        QTemporaryDir dir;
        QCOMPARE(apply(f, dir.path(), priceList(dir, false)).exitCode, 0);
        const QString path = onlyJournal(dir.path());
        const QByteArray text = readAll(path);
        QJsonObject j = QJsonDocument::fromJson(text).object();
        QJsonArray snapshot = j[QStringLiteral("snapshot")].toArray();
        QJsonObject first = snapshot[0].toObject();
        QJsonObject report = j[QStringLiteral("report")].toObject();
        const auto renameGuid = [&](const QString &to) {
            QJsonArray rows = report[QStringLiteral("rows")].toArray();
            for (qsizetype i = 0; i < rows.size(); ++i) {
                QJsonObject row = rows[i].toObject();
                if (row[QStringLiteral("guid")] == first[QStringLiteral("guid")])
                    row[QStringLiteral("guid")] = to;
                rows[i] = row;
            }
            report[QStringLiteral("rows")] = rows;
            first[QStringLiteral("guid")] = to;
        };
        QByteArray bad;
        if (fault == u"truncated") {
            bad = text.left(text.size() / 2);
        } else if (fault == u"not an object") {
            bad = "[1, 2]";
        } else {
            if (fault == u"price as text")
                first[QStringLiteral("old")] = QJsonArray { QStringLiteral("58"), 1, 1, 1 };
            else if (fault == u"infinite price")
                first[QStringLiteral("old")] = QJsonArray { 123456789, 1, 1, 1 };
            else if (fault == u"missing rows")
                report.remove(QStringLiteral("rows"));
            else if (fault == u"unknown guid")
                renameGuid(unknownGuid.toLower());
            else if (fault == u"hostile guid")
                renameGuid(QStringLiteral("x' or '1'='1"));
            else if (fault == u"guid with a line feed")
                renameGuid(first[QStringLiteral("guid")].toString() + u'\n');
            else if (fault == u"unknown version")
                j[QStringLiteral("journal")] = 2;
            snapshot[0] = first;
            j[QStringLiteral("snapshot")] = snapshot;
            j[QStringLiteral("report")] = report;
            bad = QJsonDocument(j).toJson().replace("123456789", "1e999");
        }
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(bad);
        out.close();

        const QMap<QString, QString> afterRun = prices(f);
        const testdb::CliResult r = runCli({ QStringLiteral("restore"), QStringLiteral("--connection"),
            f.connectionString, QStringLiteral("--force"), path });
        QVERIFY2(r.exitCode == 2, qPrintable(r.out + r.err));
        QCOMPARE(r.out, QString());
        QCOMPARE(r.err.count(u'\n'), 1);
        QCOMPARE(prices(f), afterRun);
    }

    // The journal never changes the run: its message and exit status stay the run's own.
    void journalNotWritten_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("err");
        QTest::newRow("folder cannot be made")
            << QStringList { QStringLiteral("--journal-dir"), QStringLiteral("%1/file/journals") }
            << QStringLiteral("qalu-cli apply: no journal of this run: cannot create the folder");
        QTest::newRow("no journal asked for") << QStringList { QStringLiteral("--no-journal"),
            QStringLiteral("--journal-dir"), QStringLiteral("%1/j") }
                                              << QString();
    }
    void journalNotWritten()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, err);
        PharmacyFixture f;
        if (!f.open(Backend::Sqlite))
            return;
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("file")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        for (QString &arg : args)
            arg.replace(QStringLiteral("%1"), dir.path());
        const testdb::CliResult r
            = runCli(QStringList { QStringLiteral("apply"), QStringLiteral("--connection"),
                         f.connectionString, QStringLiteral("--decimal-separator"), QStringLiteral(".") }
                + args + QStringList { priceList(dir, false) });
        QCOMPARE(r.out, completed + u'\n');
        QCOMPARE(r.exitCode, 0);
        // The list's unknown guid is named first.
        const QString unknown = QStringLiteral("row 3: guid matches no medicine\n");
        QVERIFY2(r.err.startsWith(unknown), qPrintable(r.err));
        const QString rest = r.err.mid(unknown.size());
        QVERIFY2(err.isEmpty() ? rest.isEmpty() : rest.startsWith(err) && rest.count(u'\n') == 1,
            qPrintable(r.err));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
            QStringList(
                { QStringLiteral("file"), QStringLiteral("prices.json"), QStringLiteral("prices.xlsx") }));
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("args");
        const QString conn = QStringLiteral("--connection=Provider=SQLite;Data Source=/tmp/unused.db");
        QTest::newRow("journal: unknown subcommand")
            << QStringList { QStringLiteral("journal"), QStringLiteral("list") };
        QTest::newRow("journal show: no run")
            << QStringList { QStringLiteral("journal"), QStringLiteral("show") };
        QTest::newRow("journal: bad format")
            << QStringList { QStringLiteral("journal"), QStringLiteral("--format"), QStringLiteral("xml") };
        QTest::newRow("restore: no connection")
            << QStringList { QStringLiteral("restore"), QStringLiteral("j.json") };
        QTest::newRow("restore: no journal") << QStringList { QStringLiteral("restore"), conn };
        QTest::newRow("restore: two journals") << QStringList { QStringLiteral("restore"), conn,
            QStringLiteral("a.json"), QStringLiteral("b.json") };
    }
    void usageErrors()
    {
        QFETCH(QStringList, args);
        const testdb::CliResult r = runCli(args);
        QCOMPARE(r.exitCode, 64);
        QCOMPARE(r.out, QString());
        QCOMPARE(r.err.count(u'\n'), 1);
    }

    // Text output shows control characters as escapes, whatever line carries them (here a usage
    // error quoting an argument); printable text, Arabic included, as it is.
    void showsControlCharactersEscaped_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("C0") << QStringLiteral("\x1b[2J\t\n\x01") << QStringLiteral("\\x1B[2J\\x09\\x0A\\x01");
        QTest::newRow("DEL, C1") << QStringLiteral("\x7f\u0085\u009b") << QStringLiteral("\\x7F\\x85\\x9B");
        QTest::newRow("line, paragraph, bidi")
            << QStringLiteral("\u2028\u2029\u202a\u202e1\u2066\u2069")
            << QStringLiteral("\\u{2028}\\u{2029}\\u{202A}\\u{202E}1\\u{2066}\\u{2069}");
        QTest::newRow("printable") << QStringLiteral("سعر\u200f \u00a0\\x")
                                   << QStringLiteral("سعر\u200f \u00a0\\x");
    }
    void showsControlCharactersEscaped()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        const testdb::CliResult r = runCli({ QStringLiteral("journal"), QStringLiteral("--format"), text });
        QCOMPARE(r.err,
            QStringLiteral(
                "qalu-cli journal: '--format' is text or json, not '%1' (try 'qalu-cli journal --help')\n")
                .arg(shown));
    }

    // The newest 50 journals stay; other files of the folder are not the journal's business; the
    // password never reaches the file nor the screen.
    void retention()
    {
        PharmacyFixture f;
        if (!f.open(Backend::Sqlite))
            return;
        QTemporaryDir dir;
        const QDir journals(dir.filePath(QStringLiteral("j")));
        QVERIFY(journals.mkpath(QStringLiteral(".")));
        for (int i = 0; i < 52; ++i) {
            QFile old(journals.filePath(
                QStringLiteral("run-20000101T000000.000Z-%1.json").arg(i, 2, 10, QLatin1Char('0'))));
            QVERIFY(old.open(QIODevice::WriteOnly));
        }
        QFile other(journals.filePath(QStringLiteral("notes.json")));
        QVERIFY(other.open(QIODevice::WriteOnly));
        other.close();
        const testdb::CliResult r = runCli({ QStringLiteral("apply"), QStringLiteral("--connection"),
            f.connectionString + QStringLiteral(";PassWord=s3cret"), QStringLiteral("--journal-dir"),
            journals.path(), priceList(dir, false) });
        QCOMPARE(r.exitCode, 0);
        const QStringList left = journals.entryList(QDir::Files, QDir::Name);
        QCOMPARE(left.size(), 51);
        QCOMPARE(left.constFirst(), QStringLiteral("notes.json"));
        QCOMPARE(left[1], QStringLiteral("run-20000101T000000.000Z-03.json"));
        const QByteArray newest = readAll(journals.filePath(left.constLast()));
        QVERIFY(newest.contains("\"snapshot\""));
        QVERIFY(!newest.contains("s3cret"));

        // An older journal may hold a password's tail: show never prints it; restore's connection
        // failure is one line.
        const QString path = journals.filePath(left.constLast());
        QFile older(path);
        QVERIFY(older.open(QIODevice::WriteOnly | QIODevice::Truncate));
        older.write(QByteArray(newest).replace("Data Source=", "Pwd={ab}}c};Data Source="));
        older.close();
        for (const char *format : { "text", "json" })
            QVERIFY(!runCli({ QStringLiteral("journal"), QStringLiteral("show"), QStringLiteral("--format"),
                                QString::fromLatin1(format), path })
                         .out.contains(QStringLiteral("}c}")));
        const testdb::CliResult r2 = runCli({ QStringLiteral("restore"), QStringLiteral("--connection"),
            QStringLiteral("Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=1;Uid=x;Pwd=;"), path });
        QCOMPARE(r2.out.count(u'\n'), 2);
    }
};

QTEST_GUILESS_MAIN(TestCliJournal)
#include "tst_cli_journal.moc"
