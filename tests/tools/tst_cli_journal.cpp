// The run's journal and `qalu-cli restore`: real runs of qalu-cli apply on both engines, then the
// journal put back, and the four prices of mat00 compared with what they were.

#include "support/cli_run.h"
#include "support/pharmacy_fixture.h"

#include "db/connection.h"
#include "db/query.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <cmath>

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
        QTest::addColumn<QString>("counts");
        for (const Backend backend : { Backend::Sqlite, Backend::Postgres }) {
            const char *engine = backend == Backend::Sqlite ? "sqlite" : "postgresql";
            const auto row = [&](const char *name) { return &QTest::addRow("%s: %s", engine, name); };
            const QString all = QStringLiteral("3 medicines restored, 0 already back, 0 left alone");
            *row("round trip") << backend << false << QString() << QStringList {} << 0 << true << false
                               << all;
            *row("changed since: left alone")
                << backend << false << amoxicillin << QStringList {} << 4 << true << false
                << QStringLiteral("2 medicines restored, 0 already back, 1 left alone");
            *row("changed since: forced")
                << backend << false << amoxicillin << QStringList { QStringLiteral("--force") } << 0 << true
                << false << all;
            *row("dry run") << backend << false << QString() << QStringList { QStringLiteral("--dry-run") }
                            << 0 << false << false
                            << QStringLiteral("3 medicines would be restored, 0 already back, 0 left alone");
            // Ibuprofen comes after the failing row: the run never touched it.
            *row("failing run") << backend << true << ibuprofen << QStringList {} << 0 << true << false
                                << QStringLiteral("1 medicines restored, 0 already back, 0 left alone");
            // The run wrote the old prices back itself: nothing to write.
            *row("already back") << backend << false << QStringLiteral("old") << QStringList {} << 0 << true
                                 << false
                                 << QStringLiteral("2 medicines restored, 1 already back, 0 left alone");
            // A hair above the old price is not the old price, nor what the run wrote.
            *row("next to the old price")
                << backend << false << QStringLiteral("near old") << QStringList {} << 4 << true << false
                << QStringLiteral("2 medicines restored, 0 already back, 1 left alone");
            // All or nothing: the medicines restored before the refusal are rolled back.
            if (backend == Backend::Sqlite)
                *row("database refuses")
                    << backend << false << QString() << QStringList {} << 3 << false << true << QString();
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
        QFETCH(QString, counts);
        PharmacyFixture f;
        if (!f.open(backend))
            return;
        QTemporaryDir dir;
        const QString journals = dir.filePath(QStringLiteral("journals"));
        // "old": ibuprofen's old prices written back by hand after the run; "near old": nearly.
        const QString putBack = tamper == u"old" || tamper == u"near old" ? tamper : QString();
        if (!putBack.isEmpty())
            tamper.clear();
        const QMap<QString, QString> before = prices(f);

        const testdb::CliResult applied = apply(f, journals, priceList(dir, failing));
        QCOMPARE(applied.exitCode, failing ? 3 : 0);
        const QString journal = onlyJournal(journals);
        QVERIFY2(!journal.isEmpty(), qPrintable(applied.err));
        const QMap<QString, QString> afterRun = prices(f);
        QVERIFY(afterRun != before);
        if (!tamper.isEmpty())
            f.exec(QStringLiteral("update mat00 set salp = 99 where guid = '%1'").arg(tamper));
        if (!putBack.isEmpty()) {
            QStringList old = before.value(testdb::normalGuid(ibuprofen)).split(u' ');
            if (putBack == u"near old")
                old[0] = QString::number(std::nextafter(old[0].toDouble(), 1e9), 'g', 17);
            f.exec(QStringLiteral(
                "update mat00 set salp = %1, price1 = %2, salp2 = %3, price2 = %4 where guid = '%5'")
                       .arg(old[0], old[1], old[2], old[3], ibuprofen));
        }
        const QMap<QString, QString> tampered = prices(f);
        if (putBack == u"near old")
            tamper = ibuprofen;
        if (refuse)
            f.exec(QStringLiteral("create trigger refuse before update on mat00 when old.guid = '%1' "
                                  "begin select raise(abort, 'refused'); end")
                       .arg(ibuprofen));

        const testdb::CliResult r = runCli(QStringList { QStringLiteral("restore"),
                                               QStringLiteral("--connection"), f.connectionString, journal }
            + args);
        QVERIFY2(r.exitCode == exitCode, qPrintable(r.out + r.err));
        QVERIFY2(refuse || r.out.contains(QStringLiteral("MatNum 222003  شراب كحة")), qPrintable(r.out));
        QVERIFY2(r.out.contains(counts), qPrintable(r.out));

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
                 "missing rows", "unknown guid", "hostile guid", "guid with a line feed", "unknown version",
                 "duplicate snapshot keys", "missing snapshot entry" })
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
                j[QStringLiteral("journal")] = 3;
            snapshot[0] = first;
            if (fault == u"duplicate snapshot keys")
                snapshot.append(first);
            else if (fault == u"missing snapshot entry")
                snapshot.removeAt(0);
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
        QTest::addColumn<int>("exitCode");
        QTest::newRow("folder cannot be made")
            << QStringList { QStringLiteral("--journal-dir"), QStringLiteral("%1/file/journals") }
            << QStringLiteral("qalu-cli apply: no journal of this run: cannot create the folder") << 0;
        QTest::newRow("no journal asked for") << QStringList { QStringLiteral("--no-journal"),
            QStringLiteral("--journal-dir"), QStringLiteral("%1/j") }
                                              << QString() << 0;
        // Nothing written at all: the database as before, no message.
        QTest::newRow("journal required")
            << QStringList { QStringLiteral("--require-journal"), QStringLiteral("--journal-dir"),
                   QStringLiteral("%1/file/journals") }
            << QStringLiteral(
                   "qalu-cli apply: not started, the journal cannot be written: cannot create the folder")
            << 5;
    }
    void journalNotWritten()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, err);
        QFETCH(int, exitCode);
        PharmacyFixture f;
        if (!f.open(Backend::Sqlite))
            return;
        const QMap<QString, QString> before = prices(f);
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
        QCOMPARE(r.out, exitCode == 0 ? completed + u'\n' : QString());
        QCOMPARE(r.exitCode, exitCode);
        QCOMPARE(prices(f) == before, exitCode != 0);
        // The list's unknown guid is named first, when the run ran.
        const QString unknown
            = exitCode == 0 ? QStringLiteral("row 3: guid matches no medicine\n") : QString();
        QVERIFY2(r.err.startsWith(unknown), qPrintable(r.err));
        const QString rest = r.err.mid(unknown.size());
        QVERIFY2(err.isEmpty() ? rest.isEmpty() : rest.startsWith(err) && rest.count(u'\n') == 1,
            qPrintable(r.err));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
            QStringList(
                { QStringLiteral("file"), QStringLiteral("prices.json"), QStringLiteral("prices.xlsx") }));
    }

    // Entries of the journal folder that are no journal are listed with the reason and never read
    // whole; 'latest' of the database is still found behind them.
    void hostileFolderEntries_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("listed");
        QTest::newRow("symlink to /dev/zero")
            << QStringLiteral("zero") << QStringLiteral("skipped: a device");
        QTest::newRow("FIFO") << QStringLiteral("fifo") << QStringLiteral("skipped: a FIFO");
        QTest::newRow("directory") << QStringLiteral("dir") << QStringLiteral("skipped: a folder");
        QTest::newRow("oversize file")
            << QStringLiteral("huge") << QStringLiteral("skipped: larger than 64 MiB");
        QTest::newRow("broken JSON") << QStringLiteral("broken") << QStringLiteral("unreadable: ");
    }
    void hostileFolderEntries()
    {
        QFETCH(QString, entry);
        QFETCH(QString, listed);
        PharmacyFixture f;
        if (!f.open(Backend::Sqlite))
            return;
        QTemporaryDir dir;
        const QMap<QString, QString> before = prices(f);
        QCOMPARE(apply(f, dir.path(), priceList(dir, false)).exitCode, 0);
        const QString hostile = dir.filePath(QStringLiteral("run-99991231T000000.000Z-00.json"));
        if (entry == u"zero") {
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), hostile));
        } else if (entry == u"fifo") {
            QVERIFY(QProcess::execute(QStringLiteral("mkfifo"), { hostile }) == 0);
        } else if (entry == u"dir") {
            QVERIFY(QDir().mkdir(hostile));
        } else {
            QFile out(hostile);
            QVERIFY(out.open(QIODevice::WriteOnly));
            if (entry == u"huge")
                QVERIFY(out.resize(64 * 1024 * 1024 + 1)); // sparse: no disk used
            else
                out.write("{\"journal\": 2, ");
        }
        const testdb::CliResult list
            = runCli({ QStringLiteral("journal"), QStringLiteral("--journal-dir"), dir.path() });
        QCOMPARE(list.exitCode, 0);
        QVERIFY2(list.out.startsWith(QFileInfo(hostile).fileName() + QStringLiteral("  ") + listed),
            qPrintable(list.out));
        const testdb::CliResult r = runCli({ QStringLiteral("restore"), QStringLiteral("--connection"),
            f.connectionString, QStringLiteral("--journal-dir"), dir.path(), QStringLiteral("latest") });
        QVERIFY2(r.exitCode == 0, qPrintable(r.out + r.err));
        QCOMPARE(prices(f), before);
    }

    // A journal belongs to its database: another database's, or one that does not say, needs
    // --other-database; 'latest' and the list keep to the database named.
    void otherDatabase_data()
    {
        QTest::addColumn<QString>("journal"); // which: "a", "b", "latest", "first format", "a respelled"
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<bool>("restored"); // database a has its old prices back
        QTest::newRow("own journal") << QStringLiteral("a") << QStringList {} << 0 << true;
        QTest::newRow("own journal, the file spelled otherwise")
            << QStringLiteral("a respelled") << QStringList {} << 0 << true;
        QTest::newRow("another database's") << QStringLiteral("b") << QStringList {} << 2 << false;
        // The same seed on both: b's old prices are a's.
        QTest::newRow("another database's, allowed")
            << QStringLiteral("b") << QStringList { QStringLiteral("--other-database") } << 0 << true;
        QTest::newRow("latest of this database") << QStringLiteral("latest") << QStringList {} << 0 << true;
        QTest::newRow("first format") << QStringLiteral("first format") << QStringList {} << 2 << false;
        QTest::newRow("first format, allowed")
            << QStringLiteral("first format") << QStringList { QStringLiteral("--other-database") } << 0
            << true;
    }
    void otherDatabase()
    {
        QFETCH(QString, journal);
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(bool, restored);
        PharmacyFixture a, b;
        if (!a.open(Backend::Sqlite) || !b.open(Backend::Sqlite))
            return;
        QTemporaryDir dir;
        const QString journals = dir.filePath(QStringLiteral("j"));
        const QMap<QString, QString> before = prices(a);
        QCOMPARE(apply(a, journals, priceList(dir, false)).exitCode, 0);
        const QString journalA = onlyJournal(journals);
        const QMap<QString, QString> afterRun = prices(a);
        QCOMPARE(apply(b, journals, priceList(dir, false)).exitCode, 0);
        // Named by time: b's journal is the newest.
        const QStringList files
            = QDir(journals).entryList({ QStringLiteral("run-*.json") }, QDir::Files, QDir::Name);
        const QString name = journal == u"latest" ? journal : journal == u"b" ? files.constLast() : journalA;
        QString connection = a.connectionString;
        if (journal == u"a respelled")
            connection.insert(connection.lastIndexOf(u'/'), QStringLiteral("/."));
        if (journal == u"first format") {
            QJsonObject j = QJsonDocument::fromJson(readAll(journalA)).object();
            j[QStringLiteral("journal")] = 1;
            j.remove(QStringLiteral("database_id"));
            QFile out(journalA);
            QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
            out.write(QJsonDocument(j).toJson());
        }
        const testdb::CliResult list = runCli({ QStringLiteral("journal"), QStringLiteral("--journal-dir"),
            journals, QStringLiteral("--connection"), a.connectionString });
        QCOMPARE(list.exitCode, 0);
        QCOMPARE(list.out.count(u'\n'), 1);
        const testdb::CliResult r
            = runCli(QStringList { QStringLiteral("restore"), QStringLiteral("--connection"), connection,
                         QStringLiteral("--journal-dir"), journals, name }
                + args);
        QVERIFY2(r.exitCode == exitCode, qPrintable(r.out + r.err));
        QCOMPARE(prices(a), restored ? before : afterRun);
    }

    // A run killed once a second connection sees one of its rows written: its journal is on disk,
    // running while the run holds its lock, interrupted after, and restore gives back the
    // database as it was.
    void killedRun_data()
    {
        QTest::addColumn<Backend>("backend");
        QTest::newRow("sqlite") << Backend::Sqlite;
        QTest::newRow("postgresql") << Backend::Postgres;
    }
    void killedRun()
    {
        QFETCH(Backend, backend);
        PharmacyFixture f;
        if (!f.open(backend))
            return;
        const auto dump = [&f] {
            QStringList lines;
            for (const QVariantList &row : f.rows(QStringLiteral("select * from mat00 order by MatNum"))) {
                QStringList values;
                for (const QVariant &v : row)
                    values << v.toString();
                lines << values.join(u'|');
            }
            return lines;
        };
        const QStringList before = dump();
        QTemporaryDir dir;
        const QString journals = dir.filePath(QStringLiteral("j"));
        // Rows cycle over three medicines, each writing 1000 + its number; vitamin D in the middle,
        // held locked on PostgreSQL so the run waits there. SQLite locks the whole file, so there
        // the run is killed as soon as the row is seen: in WAL mode a reader sees each commit at
        // once instead of queueing behind the writer.
        const QString medicines[] = { amoxicillin, paracetamol, ibuprofen };
        QJsonArray rows { testdb::priceListHeader() };
        for (int r = 1; r < 1400; ++r) {
            const double v = 1000 + r;
            rows.append(QJsonArray { r == 60 ? testdb::seed::vitaminD : medicines[r % 3], v, v, v, v });
        }
        const QString workbook = testdb::writeWorkbook(dir, rows);

        db::TConnection holder;
        db::TQuery hold(holder, QStringLiteral("hold"));
        if (f.isPostgres()) {
            holder.setConnectionString(f.connectionString);
            holder.BeginTrans();
            hold.setText(QStringLiteral("select salp from mat00 where guid= :a0 for update"));
            hold.setString(0, testdb::seed::vitaminD);
            hold.Open();
        } else {
            f.exec(QStringLiteral("pragma journal_mode=wal"));
        }
        QProcess run;
        run.start(QStringLiteral(QALU_CLI_PATH),
            { QStringLiteral("apply"), QStringLiteral("--connection"), f.connectionString,
                QStringLiteral("--decimal-separator"), QStringLiteral("."), QStringLiteral("--journal-dir"),
                journals, workbook });
        // Row 30 wrote amoxicillin 1030; later rows of it write more.
        const QString seen = QStringLiteral("select salp from mat00 where guid = '%1'").arg(amoxicillin);
        // A busy answer is one more look.
        const auto written = [&] {
            try {
                return f.scalar(seen).toDouble() >= 1030;
            } catch (const Failure &) {
                return false;
            }
        };
        while (!written())
            QVERIFY2(!run.waitForFinished(20), qPrintable(QString::fromUtf8(run.readAllStandardError())));
        const QStringList restoreArgs { QStringLiteral("restore"), QStringLiteral("--connection"),
            f.connectionString, QStringLiteral("--journal-dir"), journals, QStringLiteral("latest") };
        if (f.isPostgres()) {
            const testdb::CliResult running
                = runCli({ QStringLiteral("journal"), QStringLiteral("--journal-dir"), journals });
            QVERIFY2(running.out.contains(QStringLiteral("  running  ")), qPrintable(running.out));
            QCOMPARE(runCli(restoreArgs).exitCode, 2);
        }
        run.kill();
        QVERIFY(run.waitForFinished());
        if (f.isPostgres()) {
            // The killed client's server process still waits for the lock; it goes before the
            // lock does, so its statement never runs.
            hold.clearText();
            hold.setText(QStringLiteral("select pg_terminate_backend(pid, 60000) from pg_stat_activity "
                                        "where pg_backend_pid() = any(pg_blocking_pids(pid))"));
            hold.Open();
            holder.RollbackTrans();
        }
        QVERIFY(dump() != before);

        const testdb::CliResult listed
            = runCli({ QStringLiteral("journal"), QStringLiteral("--journal-dir"), journals });
        QVERIFY2(listed.out.contains(QStringLiteral("  interrupted  ")), qPrintable(listed.out));
        const testdb::CliResult r = runCli(restoreArgs);
        QVERIFY2(r.exitCode == 0, qPrintable(r.out + r.err));
        QCOMPARE(dump(), before);
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        const QString conn = QStringLiteral("--connection=Provider=SQLite;Data Source=/tmp/unused.db");
        QTest::newRow("journal: missing folder") << QStringList { QStringLiteral("journal"),
            QStringLiteral("--journal-dir"), QStringLiteral("/nonexistent/qalu-journals") }
                                                 << 2;
        QTest::newRow("apply: no journal and required") << QStringList { QStringLiteral("apply"), conn,
            QStringLiteral("--no-journal"), QStringLiteral("--require-journal"), QStringLiteral("w.xlsx") }
                                                        << 64;
        QTest::newRow("journal: unknown subcommand")
            << QStringList { QStringLiteral("journal"), QStringLiteral("list") } << 64;
        QTest::newRow("journal show: no run")
            << QStringList { QStringLiteral("journal"), QStringLiteral("show") } << 64;
        QTest::newRow("journal: bad format")
            << QStringList { QStringLiteral("journal"), QStringLiteral("--format"), QStringLiteral("xml") }
            << 64;
        QTest::newRow("restore: no connection")
            << QStringList { QStringLiteral("restore"), QStringLiteral("j.json") } << 64;
        QTest::newRow("restore: no journal") << QStringList { QStringLiteral("restore"), conn } << 64;
        QTest::newRow("restore: two journals") << QStringList { QStringLiteral("restore"), conn,
            QStringLiteral("a.json"), QStringLiteral("b.json") }
                                               << 64;
    }
    void usageErrors()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        const testdb::CliResult r = runCli(args);
        QCOMPARE(r.exitCode, exitCode);
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
        const QString file
            = f.connectionString.mid(f.connectionString.indexOf(QStringLiteral("Data Source=")) + 12);
        const QString tag = QString::fromLatin1(
            QCryptographicHash::hash(QFileInfo(file).canonicalFilePath().toUtf8(), QCryptographicHash::Sha256)
                .toHex()
                .left(8));
        // This database's 52 older journals, and another database's, which are not its to prune.
        for (int i = 0; i < 52; ++i) {
            for (const QString &t : { tag, QStringLiteral("00000000") }) {
                QFile old(journals.filePath(QStringLiteral("run-20000101T000000.000Z-%1-%2.json")
                                                .arg(i, 2, 10, QLatin1Char('0'))
                                                .arg(t)));
                QVERIFY(old.open(QIODevice::WriteOnly));
            }
        }
        QFile other(journals.filePath(QStringLiteral("notes.json")));
        QVERIFY(other.open(QIODevice::WriteOnly));
        other.close();
        const testdb::CliResult r = runCli({ QStringLiteral("apply"), QStringLiteral("--connection"),
            f.connectionString + QStringLiteral(";PassWord=s3cret"), QStringLiteral("--journal-dir"),
            journals.path(), priceList(dir, false) });
        QCOMPARE(r.exitCode, 0);
        const QStringList left = journals.entryList(QDir::Files, QDir::Name);
        QCOMPARE(left.size(), 51 + 52);
        QCOMPARE(left.constFirst(), QStringLiteral("notes.json"));
        QVERIFY(!left.contains(QStringLiteral("run-20000101T000000.000Z-02-%1.json").arg(tag)));
        QVERIFY(left.contains(QStringLiteral("run-20000101T000000.000Z-03-%1.json").arg(tag)));
        QVERIFY(left.contains(QStringLiteral("run-20000101T000000.000Z-00-00000000.json")));
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
