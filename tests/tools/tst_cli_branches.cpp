// `qalu-cli apply|review|restore --branches` from the outside: many real databases in one run, each
// branch in its own process, the combined register against each branch's own run.

#include "intake/workbook_reader.h"
#include "support/cli_run.h"
#include "support/pharmacy_fixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

#include <zip.h>

using namespace qalu;
using qalu::testdb::Backend;
using qalu::testdb::PharmacyFixture;
using testdb::runCli;

namespace {

const QString &amoxicillin = testdb::seed::amoxicillin;
const QString &paracetamol = testdb::seed::paracetamol;

QString writeWorkbook(const QTemporaryDir &dir)
{
    return testdb::writeWorkbook(dir,
        QJsonArray { testdb::priceListHeader(), QJsonArray { amoxicillin, QStringLiteral("50"), 40 },
            QJsonArray { paracetamol, 13.25, 10 },
            QJsonArray { QJsonValue(), 4, 3, QJsonValue(), QJsonValue(), QStringLiteral("Lozenges"),
                QJsonValue(), QStringLiteral("أدوية البرد") } });
}

QString writeText(const QTemporaryDir &dir, const QString &name, const QString &text)
{
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0)
        throw Failure(QStringLiteral("cannot write ") + file.fileName());
    return file.fileName();
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QJsonArray branchesOf(const testdb::CliResult &r)
{
    return QJsonDocument::fromJson(r.out.toUtf8()).object().value(QStringLiteral("branches")).toArray();
}

// A report without what legitimately differs between two runs on two databases.
QJsonObject comparable(QJsonObject report)
{
    report.remove(QStringLiteral("workbook"));
    return report;
}

void refuseParacetamol(const PharmacyFixture &f)
{
    f.exec(QStringLiteral("create trigger refuse before update on mat00 when new.guid = '%1' "
                          "begin select raise(abort, 'price frozen'); end")
               .arg(paracetamol));
}

} // namespace

class TestCliBranches : public QObject
{
    Q_OBJECT
private slots:
    // 20 SQLite files and 3 PostgreSQL databases (one unreachable) in one run; one SQLite
    // branch's trigger refuses a row. Each branch's report is the one its own apply gives on a
    // twin database.
    void manyBranches()
    {
        QTemporaryDir dir;
        const QString workbook = writeWorkbook(dir);
        std::vector<std::unique_ptr<PharmacyFixture>> branches, twins;
        QString list = QStringLiteral("# name, tab, connection\n\n");
        QStringList names;
        for (int i = 0; i < 22; ++i) {
            const Backend backend = i < 20 ? Backend::Sqlite : Backend::Postgres;
            for (auto *set : { &branches, &twins }) {
                set->push_back(std::make_unique<PharmacyFixture>());
                if (!set->back()->open(backend))
                    return;
                if (i == 7)
                    refuseParacetamol(*set->back());
            }
            names << QStringLiteral("branch-%1").arg(i + 1, 2, 10, QChar(u'0'));
            list += names.last() + u'\t' + branches.back()->connectionString + u'\n';
        }
        names.insert(21, QStringLiteral("unreachable"));
        list.replace(QStringLiteral("branch-22\t"),
            QStringLiteral(
                "unreachable\tDriver={PostgreSQL Unicode};Server=127.0.0.1;Port=1;Database=x;Uid=x;"
                "Pwd=secret;\nbranch-22\t"));
        const testdb::CliResult r = runCli({ QStringLiteral("apply"), QStringLiteral("--branches"),
            writeText(dir, QStringLiteral("branches.txt"), list), QStringLiteral("--format=json"),
            QStringLiteral("--jobs=3"), QStringLiteral("--decimal-separator=."),
            QStringLiteral("--journal-dir"), dir.filePath(QStringLiteral("j")), workbook });
        QCOMPARE(r.exitCode, 3);
        const QJsonArray combined = branchesOf(r);
        QCOMPARE(combined.size(), 23);
        for (qsizetype i = 0, twin = 0; i < combined.size(); ++i) {
            const QJsonObject b = combined.at(i).toObject();
            QCOMPARE(b.value(QStringLiteral("name")).toString(), names.at(i));
            if (names.at(i) == u"unreachable") {
                QCOMPARE(b.value(QStringLiteral("exit")).toInt(), 1);
                QVERIFY(b.value(QStringLiteral("report")).isNull());
                QVERIFY(!b.value(QStringLiteral("error")).toString().isEmpty());
                QVERIFY(!r.out.contains(QStringLiteral("secret")));
                continue;
            }
            QCOMPARE(b.value(QStringLiteral("exit")).toInt(), names.at(i) == u"branch-08" ? 3 : 0);
            const QString reportPath = dir.filePath(QStringLiteral("twin.json"));
            const testdb::CliResult own = runCli({ QStringLiteral("apply"), QStringLiteral("--connection"),
                twins.at(size_t(twin++))->connectionString, QStringLiteral("--decimal-separator=."),
                QStringLiteral("--journal-dir"), dir.filePath(QStringLiteral("twin-j")),
                QStringLiteral("--report"), reportPath, workbook });
            QCOMPARE(b.value(QStringLiteral("exit")).toInt(), own.exitCode);
            QCOMPARE(comparable(b.value(QStringLiteral("report")).toObject()),
                comparable(QJsonDocument::fromJson(fileBytes(reportPath)).object()));
        }
    }

    // A branch whose statement hangs past --branch-timeout is ended and counted as 3; its journal
    // stays (interrupted) and restores; the other branch finishes normally.
    void slowBranch()
    {
        PharmacyFixture slow, quick;
        if (!slow.open(Backend::Postgres) || !quick.open(Backend::Sqlite))
            return;
        slow.exec(QStringLiteral("create function slow() returns trigger as $$ begin perform pg_sleep(120); "
                                 "return new; end $$ language plpgsql"));
        slow.exec(QStringLiteral(
            "create trigger slow before update on mat00 for each row execute function slow()"));
        QTemporaryDir dir;
        const QString journals = dir.filePath(QStringLiteral("j"));
        const testdb::CliResult r = runCli({ QStringLiteral("apply"), QStringLiteral("--branches"),
            writeText(dir, QStringLiteral("b.txt"),
                QStringLiteral("slow\t%1\nquick\t%2\n").arg(slow.connectionString, quick.connectionString)),
            QStringLiteral("--branch-timeout=3"), QStringLiteral("--journal-dir"), journals,
            QStringLiteral("--decimal-separator=."), writeWorkbook(dir) });
        QCOMPARE(r.exitCode, 3);
        const QStringList lines = r.out.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines[0].startsWith(QStringLiteral("slow  time-limit  exit 3"))
                && lines[0].contains(QStringLiteral("time limit")),
            qPrintable(r.out));
        QVERIFY2(lines[1].startsWith(QStringLiteral("quick  completed  exit 0  changed 2  inserted 1")),
            qPrintable(r.out));
        slow.exec(QStringLiteral(
            "select pg_terminate_backend(pid) from pg_stat_activity where wait_event = 'PgSleep'"));
        slow.exec(QStringLiteral("drop trigger slow on mat00"));
        QVERIFY2(runCli({ QStringLiteral("journal"), QStringLiteral("--journal-dir"), journals })
                     .out.contains(QStringLiteral("  interrupted  ")),
            qPrintable(r.err));
        const testdb::CliResult restored = runCli({ QStringLiteral("restore"), QStringLiteral("--connection"),
            slow.connectionString, QStringLiteral("--journal-dir"), journals, QStringLiteral("latest") });
        QVERIFY2(restored.exitCode == 0, qPrintable(restored.out + restored.err));
    }

    // Bad usage: 64, one line on standard error naming the problem, no database touched.
    void usageErrors_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("needle");
        const QString ok = QStringLiteral("a\t%1\n");
        QTest::newRow("missing tab") << ok + QStringLiteral("b %1\n") << QStringList()
                                     << QStringLiteral("line 2");
        QTest::newRow("sheet name character")
            << QStringLiteral("# x\na/b\t%1\n") << QStringList() << QStringLiteral("line 2");
        QTest::newRow("long name") << QStringLiteral("%2\t%1\n").arg(QString(32, u'n')) << QStringList()
                                   << QStringLiteral("line 1");
        QTest::newRow("duplicate") << ok + QStringLiteral("A\t%1\n") << QStringList()
                                   << QStringLiteral("line 2");
        QTest::newRow("summary") << QStringLiteral("Summary\t%1\n") << QStringList()
                                 << QStringLiteral("line 1");
        QTest::newRow("no connection")
            << QStringLiteral("# %1\na\t \n") << QStringList() << QStringLiteral("line 2");
        QTest::newRow("unreadable") << QString() << QStringList() << QStringLiteral("cannot read");
        QTest::newRow("with --connection")
            << ok << QStringList { QStringLiteral("--connection=x") } << QStringLiteral("exclude");
        QTest::newRow("jobs 0") << ok << QStringList { QStringLiteral("--jobs=0") }
                                << QStringLiteral("--jobs");
        QTest::newRow("jobs 65") << ok << QStringList { QStringLiteral("--jobs=65") }
                                 << QStringLiteral("--jobs");
        QTest::newRow("timeout 0") << ok << QStringList { QStringLiteral("--branch-timeout=0") }
                                   << QStringLiteral("--branch-timeout");
        QTest::newRow("report") << ok << QStringList { QStringLiteral("--report=r.json") }
                                << QStringLiteral("--report");
        QTest::newRow("xlsx is a database")
            << ok << QStringList { QStringLiteral("--xlsx=%1") } << QStringLiteral("database file");
    }
    void usageErrors()
    {
        QFETCH(QString, file);
        QFETCH(QStringList, args);
        QFETCH(QString, needle);
        PharmacyFixture f;
        if (!f.open(Backend::Sqlite))
            return;
        const QString database = f.connectionString.section(u'=', -1);
        const QByteArray before = fileBytes(database);
        QTemporaryDir dir;
        const QString branches = file.isEmpty()
            ? dir.filePath(QStringLiteral("none"))
            : writeText(dir, QStringLiteral("b"), file.arg(f.connectionString));
        args.replaceInStrings(QStringLiteral("%1"), database);
        const testdb::CliResult r
            = runCli(QStringList { QStringLiteral("apply"), QStringLiteral("--branches"), branches } + args
                + QStringList { writeWorkbook(dir) });
        QCOMPARE(r.exitCode, 64);
        QCOMPARE(r.out, QString());
        QCOMPARE(r.err.count(u'\n'), 1);
        QVERIFY2(r.err.contains(needle), qPrintable(r.err));
        QCOMPARE(fileBytes(database), before);
    }

    // The workbook is read once, before any branch: unreadable, no branch is touched.
    void unreadableWorkbook()
    {
        PharmacyFixture f;
        if (!f.open(Backend::Sqlite))
            return;
        QTemporaryDir dir;
        const QByteArray before = fileBytes(f.connectionString.section(u'=', -1));
        const testdb::CliResult r = runCli({ QStringLiteral("apply"), QStringLiteral("--branches"),
            writeText(dir, QStringLiteral("b"), QStringLiteral("a\t%1\n").arg(f.connectionString)),
            QStringLiteral("--journal-dir"), dir.filePath(QStringLiteral("j")),
            dir.filePath(QStringLiteral("no.xlsx")) });
        QCOMPARE(r.exitCode, 2);
        QCOMPARE(r.err.count(u'\n'), 1);
        QCOMPARE(fileBytes(f.connectionString.section(u'=', -1)), before);
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("j"))));
    }

    // review and restore take --branches too: the review's register per branch, a sheet per
    // branch in --xlsx; restore latest puts back each branch's own newest run.
    void reviewAndRestore()
    {
        PharmacyFixture a, b;
        if (!a.open(Backend::Sqlite) || !b.open(Backend::Sqlite))
            return;
        QTemporaryDir dir;
        const QString workbook = writeWorkbook(dir);
        const QString list = writeText(dir, QStringLiteral("b"),
            QStringLiteral("North\t%1\nمدينة نصر\t%2\n").arg(a.connectionString, b.connectionString));
        const QString journals = QStringLiteral("--journal-dir=") + dir.filePath(QStringLiteral("j"));
        const QString xlsx = dir.filePath(QStringLiteral("register.xlsx"));
        const testdb::CliResult review = runCli(
            { QStringLiteral("review"), QStringLiteral("--branches"), list, QStringLiteral("--format=json"),
                QStringLiteral("--xlsx"), xlsx, QStringLiteral("--decimal-separator=."), workbook });
        QCOMPARE(review.exitCode, 4); // the large changes
        for (const QJsonValue branch : branchesOf(review))
            QCOMPARE(
                branch.toObject().value(QStringLiteral("counts")).toObject().value(QStringLiteral("change")),
                QJsonValue(2));
        TStringGrid summary;
        LoadWorkbookToGrid(summary, xlsx, u'.');
        QCOMPARE(summary.cellText(0, 2), QStringLiteral("مدينة نصر"));
        int error = 0;
        zip_t *zip = zip_open(QFile::encodeName(xlsx).constData(), ZIP_RDONLY, &error);
        QVERIFY(zip);
        zip_file_t *part = zip_fopen(zip, "xl/workbook.xml", 0);
        QByteArray xml(1 << 16, '\0');
        xml.truncate(qsizetype(zip_fread(part, xml.data(), zip_uint64_t(xml.size()))));
        zip_fclose(part);
        zip_close(zip);
        for (const char *sheet : { "name=\"summary\"", "name=\"North\"", "name=\"مدينة نصر\"" })
            QVERIFY2(xml.contains(sheet), xml.constData());

        QCOMPARE(runCli({ QStringLiteral("apply"), QStringLiteral("--branches"), list, journals,
                            QStringLiteral("--decimal-separator=."), workbook })
                     .exitCode,
            0);
        const testdb::CliResult restore = runCli({ QStringLiteral("restore"), QStringLiteral("--branches"),
            list, journals, QStringLiteral("--format=json"), QStringLiteral("latest") });
        QCOMPARE(restore.exitCode, 0);
        for (const QJsonValue branch : branchesOf(restore))
            QCOMPARE(branch.toObject()
                         .value(QStringLiteral("counts"))
                         .toObject()
                         .value(QStringLiteral("restored")),
                QJsonValue(2));
        for (const PharmacyFixture *f : { &a, &b })
            QCOMPARE(f->scalar(QStringLiteral("select salp from mat00 where guid = '%1'").arg(amoxicillin))
                         .toDouble(),
                24.0);
    }
};

QTEST_GUILESS_MAIN(TestCliBranches)
#include "tst_cli_branches.moc"
