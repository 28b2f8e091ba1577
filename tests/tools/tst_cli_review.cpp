// `qalu-cli review` from the outside: written workbooks over the seeded pharmacy database, the
// register it prints, its exit status, and that it changes nothing.

#include "support/cli_run.h"
#include "support/pharmacy_fixture.h"

#include <QCryptographicHash>
#include <QJsonObject>
#include <QRegularExpression>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

Q_DECLARE_METATYPE(qalu::testdb::Backend)

using namespace qalu;
using namespace qalu::testdb;

namespace {

const QString &amoxicillin = seed::amoxicillin;
const QString &paracetamol = seed::paracetamol;
const QString &ibuprofen = seed::ibuprofen;
const QString coldMedicines = QStringLiteral("أدوية البرد");
const QString painkillers = QStringLiteral("مسكنات");
const QString amoxicillinName = QStringLiteral("أموكسيسيلين 500 مجم");

QJsonArray updateRow(const QString &guid, const QJsonValue &salp, const QJsonValue &price1 = QJsonValue())
{
    return QJsonArray { guid, salp, price1 };
}

QJsonArray insert(
    const QJsonValue &salp, const QJsonValue &price1, const QString &name, const QString &category)
{
    return QJsonArray { QJsonValue(), salp, price1, QJsonValue(), QJsonValue(), name, QJsonValue(),
        category };
}

CliResult review(const QString &connection, const QString &workbook, const QStringList &extra = {})
{
    QStringList args { QStringLiteral("review"), QStringLiteral("--connection"), connection };
    if (extra.filter(QStringLiteral("--decimal-separator")).isEmpty())
        args << QStringLiteral("--decimal-separator=.");
    return runCli(args + extra + QStringList { workbook });
}

// The register in one line: "SHEETROW STATUS[+MARK...][ CATEGORY-STATUS], ..." then the stop,
// the new categories and the dropped rows.
QString compact(const QString &json)
{
    QJsonParseError error;
    const QJsonObject doc = QJsonDocument::fromJson(json.toUtf8(), &error).object();
    if (error.error != QJsonParseError::NoError)
        return QStringLiteral("not JSON: ") + error.errorString();
    QStringList rows;
    for (const QJsonValue &v : doc.value(QStringLiteral("rows")).toArray()) {
        const QJsonObject row = v.toObject();
        QString s = QStringLiteral("%1 %2")
                        .arg(row.value(QStringLiteral("sheet_row")).toInt())
                        .arg(row.value(QStringLiteral("status")).toString());
        for (const QJsonValue &mark : row.value(QStringLiteral("attention")).toArray())
            s += u'+' + mark.toString();
        if (row.value(QStringLiteral("category_status")).isString())
            s += u' ' + row.value(QStringLiteral("category_status")).toString();
        if (row.value(QStringLiteral("held_by")).isString())
            s += QStringLiteral(" held by ") + row.value(QStringLiteral("held_by")).toString();
        rows << s;
    }
    QString out = rows.join(QStringLiteral(", "));
    if (const QJsonObject stop = doc.value(QStringLiteral("stop")).toObject(); !stop.isEmpty())
        out += QStringLiteral(" / stop %1 %2")
                   .arg(stop.value(QStringLiteral("cell")).toString(),
                       stop.value(QStringLiteral("text")).toString());
    QStringList created;
    for (const QJsonValue &name : doc.value(QStringLiteral("new_categories")).toArray())
        created << name.toString();
    if (!created.isEmpty())
        out += QStringLiteral(" / new ") + created.join(u',');
    if (const QJsonObject dropped = doc.value(QStringLiteral("dropped")).toObject(); !dropped.isEmpty())
        out += QStringLiteral(" / dropped %1-%2")
                   .arg(dropped.value(QStringLiteral("first")).toInt())
                   .arg(dropped.value(QStringLiteral("last")).toInt());
    return out;
}

QByteArray fileHash(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

QString sqliteFile(const QString &connection)
{
    return connection.mid(connection.indexOf(QStringLiteral("Data Source=")) + 12);
}

// A list touching every kind of statement the review sends.
QJsonArray mixedList()
{
    return QJsonArray { priceListHeader(), updateRow(amoxicillin, 30, 18.5), updateRow(paracetamol, 12, 9.25),
        updateRow(QStringLiteral("{00000000-0000-4000-8000-000000000001}"), 1, 1),
        insert(5, 6, QStringLiteral("Lozenges"), coldMedicines),
        insert(7, 8, QStringLiteral("Syrup"), coldMedicines), updateRow(ibuprofen, QStringLiteral("12,5"), 1),
        insert(1, 1, QStringLiteral("Gel"), painkillers) };
}

QJsonArray caseCategories()
{
    return QJsonArray { priceListHeader(), insert(1, 1, QStringLiteral("A"), QStringLiteral("Vitamins")),
        insert(1, 1, QStringLiteral("B"), QStringLiteral("VITAMINS")),
        insert(1, 1, QStringLiteral("C"), QStringLiteral("vitamins")) };
}

QJsonArray repeatedGuids()
{
    return QJsonArray { priceListHeader(), updateRow(amoxicillin, 30, 18.5), updateRow(amoxicillin, 30, 18.5),
        updateRow(amoxicillin, 24, 18.5) };
}

QJsonArray blankRows()
{
    return QJsonArray { priceListHeader(), updateRow(amoxicillin, 24, 18.5), QJsonArray {},
        insert(5, QJsonValue(), QStringLiteral("Cream"), painkillers) };
}

// The medicines table as rows of text, for comparing before and after.
QString dump(PharmacyFixture &f)
{
    QStringList lines;
    for (const char *table : { "mat00", "Category00" })
        for (const QVariantList &row :
            f.rows(QStringLiteral("select * from %1 order by guid").arg(QLatin1StringView(table)))) {
            QStringList cells;
            for (const QVariant &cell : row)
                cells << cell.toString();
            lines << cells.join(u'|');
        }
    return lines.join(u'\n');
}

// Refuses a salp above 1000 on update.
void addRefusingTrigger(PharmacyFixture &f, Backend backend)
{
    if (backend == Backend::Sqlite) {
        f.exec(QStringLiteral("create trigger refuse_high before update on mat00 when new.salp > 1000"
                              " begin select raise(abort, 'salp above 1000'); end"));
        return;
    }
    f.exec(QStringLiteral("create function refuse_high() returns trigger language plpgsql as $$ begin"
                          " if new.salp > 1000 then raise exception 'salp above 1000'; end if;"
                          " return new; end $$"));
    f.exec(QStringLiteral(
        "create trigger refuse_high before update on mat00 for each row execute function refuse_high()"));
}

} // namespace

class TestCliReview : public QObject
{
    Q_OBJECT
private slots:
    void predictsEachRow_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QJsonArray>("rows");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("expected");
        const QJsonArray h = priceListHeader();
        const QString none;

        QTest::newRow("change, same, unknown guid, guid with blanks")
            << none
            << QJsonArray { h, updateRow(amoxicillin, 30, 18.5),
                   updateRow(paracetamol, QStringLiteral("12"), 9.25),
                   updateRow(QStringLiteral("{00000000-0000-4000-8000-000000000001}"), 1, 1),
                   updateRow(QStringLiteral("  ") + ibuprofen + u' ', 17.5, QStringLiteral("14")) }
            << QStringList() << 4 << QStringLiteral("2 change, 3 same, 4 unknown-guid, 5 same");
        QTest::newRow("empty price cell over a non-zero price")
            << none << QJsonArray { h, updateRow(amoxicillin, 24) } << QStringList() << 4
            << QStringLiteral("2 change+to-zero+large-change");
        QTest::newRow("a written 0 is no empty cell")
            << none << QJsonArray { h, updateRow(amoxicillin, 24, 0) } << QStringList() << 4
            << QStringLiteral("2 change+large-change");
        QTest::newRow("two thirds up, default limit")
            << none << QJsonArray { h, updateRow(amoxicillin, 40, 18.5) } << QStringList() << 4
            << QStringLiteral("2 change+large-change");
        QTest::newRow("two thirds up, limit 70")
            << none << QJsonArray { h, updateRow(amoxicillin, 40, 18.5) }
            << QStringList { QStringLiteral("--change-limit=70") } << 0 << QStringLiteral("2 change");
        QTest::newRow("category created by an earlier row")
            << none
            << QJsonArray { h, insert(5, 6, QStringLiteral("Lozenges"), coldMedicines),
                   insert(7, 8, QStringLiteral("Syrup"), QStringLiteral(" ") + coldMedicines),
                   insert(1, 2, QStringLiteral("Gel"), painkillers) }
            << QStringList() << 0
            << QStringLiteral("2 insert new, 3 insert exists, 4 insert exists / new ") + coldMedicines;
        QTest::newRow("repeated run, known names")
            << QStringLiteral("update mat00 set MatNum = 222001 where MatNum = 1001")
            << QJsonArray { h, insert(1, 1, QStringLiteral("New one"), painkillers),
                   insert(1, 1, QStringLiteral("باراسيتامول 500 مجم"), painkillers),
                   insert(1, 1, QStringLiteral("new ONE"), painkillers) }
            << QStringList() << 4
            << QStringLiteral(
                   "2 duplicate exists held by %1, 3 insert+same-name exists, 4 insert+same-name exists")
                   .arg(amoxicillinName);
        QTest::newRow("stop at a failing cell, later rows not reached")
            << none
            << QJsonArray { h, updateRow(amoxicillin, 30, 18.5),
                   updateRow(paracetamol, QStringLiteral("12,5"), 9), updateRow(ibuprofen, 1, 1),
                   insert(1, 1, QStringLiteral("X"), QStringLiteral("new category")) }
            << QStringList() << 3
            << QStringLiteral("2 change, 3 fails, 4 not-reached, 5 not-reached / stop B3 12,5");
        QTest::newRow("insert reads price1 before salp, category never reached")
            << none
            << QJsonArray { h,
                   insert(QStringLiteral("x"), QStringLiteral("y"), QStringLiteral("X"), coldMedicines) }
            << QStringList() << 3 << QStringLiteral("2 fails / stop C2 y");
        QTest::newRow("a blank price cell is no empty cell")
            << none << QJsonArray { h, updateRow(amoxicillin, QStringLiteral(" "), 18.5) } << QStringList()
            << 3 << QStringLiteral("2 fails / stop B2  ");
        QTest::newRow("category names differ only in case")
            << none << caseCategories() << QStringList() << 0
            << QStringLiteral("2 insert new, 3 insert exists, 4 insert exists / new Vitamins");
        QTest::newRow("a repeated guid sees what the earlier row writes")
            << none << repeatedGuids() << QStringList() << 4
            << QStringLiteral("2 change, 3 same+repeated, 4 change+repeated");
        QTest::newRow("blank row, insert with an empty price")
            << none << blankRows() << QStringList() << 4
            << QStringLiteral("2 same, 3 insert+blank-row new, 4 insert+empty-price exists / new ");
        QTest::newRow("comma separator")
            << none << QJsonArray { h, updateRow(amoxicillin, QStringLiteral("24,0"), 18.5) }
            << QStringList { QStringLiteral("--decimal-separator"), QStringLiteral(",") } << 0
            << QStringLiteral("2 same");
    }
    void predictsEachRow()
    {
        QFETCH(QString, setup);
        QFETCH(QJsonArray, rows);
        QFETCH(QStringList, options);
        QFETCH(int, exitCode);
        QFETCH(QString, expected);
        PharmacyFixture f;
        if (!f.open(Backend::Sqlite))
            return;
        if (!setup.isEmpty())
            f.exec(setup);
        QTemporaryDir dir;
        const CliResult r = review(f.connectionString, writeWorkbook(dir, rows),
            QStringList { QStringLiteral("--format"), QStringLiteral("json") } + options);
        QCOMPARE(compact(r.out), expected);
        QCOMPARE(r.exitCode, exitCode);
        QCOMPARE(r.err, QString());
    }

    // The documented shape, key order included, and the text register of the same list.
    void printsTheRegister()
    {
        PharmacyFixture f;
        if (!f.open(Backend::Sqlite))
            return;
        QTemporaryDir dir;
        const QString workbook = writeWorkbook(dir,
            QJsonArray { priceListHeader(), QJsonArray { amoxicillin, 30, 18.5, QJsonValue(), 2 },
                insert(5, 6.5, QStringLiteral(" Lozenges "), coldMedicines),
                updateRow(paracetamol, QStringLiteral("x")) });
        const CliResult json = review(f.connectionString, workbook, { QStringLiteral("--format=json") });
        QCOMPARE(json.exitCode, 3);
        QCOMPARE(json.out,
            QStringLiteral(
                "{\"workbook\":\"%1\",\"sheet_rows\":4,\"outcome\":\"stops\",\"stop\":{\"sheet_row\":4,"
                "\"cell\":\"B4\","
                "\"text\":\"x\",\"reason\":\"character 'x' at position 1 is not allowed "
                "there\"},\"dropped\":null,"
                "\"new_categories\":[\"%2\"],\"rows\":[\n"
                "{\"sheet_row\":2,\"kind\":\"update\",\"guid\":\"%3\",\"name\":\"%5\",\"status\":\"change\","
                "\"old\":[24,18.5,"
                "0,0],"
                "\"new\":[30,18.5,0,2],\"attention\":[]},\n"
                "{\"sheet_row\":3,\"kind\":\"insert\",\"mat_num\":222002,\"name\":\"Lozenges\",\"category\":"
                "\"%2\","
                "\"category_status\":\"new\",\"status\":\"insert\",\"held_by\":null,\"new\":[5,6.5],"
                "\"attention\":[]},\n"
                "{\"sheet_row\":4,\"kind\":\"update\",\"guid\":\"%4\",\"name\":null,\"status\":\"fails\","
                "\"old\":null,"
                "\"new\":null,"
                "\"attention\":[]}\n"
                "],\"summary\":{\"change\":1,\"same\":0,\"unknown-guid\":0,\"insert\":1,\"duplicate\":0,"
                "\"fails\":1,"
                "\"not-reached\":0,\"dropped\":0,\"attention\":0}}\n")
                .arg(workbook, coldMedicines, amoxicillin, paracetamol, amoxicillinName));

        const CliResult text = review(f.connectionString, workbook);
        QCOMPARE(text.exitCode, 3);
        const QStringList lines = text.out.split(u'\n');
        QCOMPARE(lines.size(), 9);
        QCOMPARE(lines.at(2),
            QStringLiteral("    2  change        %1 %2  24 18.5 0 0 -> 30 18.5 0 2")
                .arg(amoxicillin, amoxicillinName));
        QCOMPARE(lines.at(3).simplified(),
            QStringLiteral("3 insert 222002 Lozenges [%1, new] -> 5 6.5").arg(coldMedicines));
        QCOMPARE(lines.at(5),
            QStringLiteral(
                "stops at sheet row 4, cell B4 \"x\": character 'x' at position 1 is not allowed there"));
        QCOMPARE(lines.at(7),
            QStringLiteral(
                "summary: change 1, same 0, unknown-guid 0, insert 1, duplicate 0, fails 1, not-reached 0, "
                "dropped 0, attention 0"));
    }

    // Sheet rows after 1500 are dropped, so a bad price there stops nothing.
    void sheetRowsAfter1500AreDropped()
    {
        PharmacyFixture f;
        if (!f.open(Backend::Sqlite))
            return;
        QJsonArray rows { priceListHeader() };
        for (int r = 2; r <= 1500; ++r)
            rows.append(updateRow(amoxicillin, 24, 18.5));
        rows.append(updateRow(amoxicillin, QStringLiteral("bad"), 1));
        rows.append(updateRow(amoxicillin, QStringLiteral("bad"), 1));
        QTemporaryDir dir;
        const CliResult r
            = review(f.connectionString, writeWorkbook(dir, rows), { QStringLiteral("--format=json") });
        QCOMPARE(r.exitCode, 4);
        QVERIFY(compact(r.out).endsWith(QStringLiteral("1500 same+repeated / dropped 1501-1502")));
        QVERIFY(r.out.contains(QStringLiteral("\"sheet_rows\":1502,\"outcome\":\"completes\"")));
    }

    // The SQLite file stays byte for byte as it was; --xlsx writes a register workbook that the
    // program's own reader reads back, one row per sheet row, and leaves nothing else behind.
    void changesNothingButTheRegisterFile()
    {
        PharmacyFixture f;
        if (!f.open(Backend::Sqlite))
            return;
        QTemporaryDir dir;
        const QString workbook = writeWorkbook(dir, mixedList());
        const QString database = sqliteFile(f.connectionString);
        const QByteArray before = fileHash(database);
        const QString xlsx = dir.filePath(QStringLiteral("out/register.xlsx"));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("out")));
        const CliResult r = review(f.connectionString, workbook, { QStringLiteral("--xlsx"), xlsx });
        QCOMPARE(r.exitCode, 3);
        QCOMPARE(fileHash(database), before);
        QCOMPARE(QDir(dir.filePath(QStringLiteral("out"))).entryList(QDir::Files | QDir::Hidden),
            QStringList { QStringLiteral("register.xlsx") });

        const CliResult grid = runCli({ QStringLiteral("grid"), xlsx });
        QCOMPARE(grid.exitCode, 0);
        const QStringList lines = grid.out.split(u'\n');
        QVERIFY(lines.first().startsWith(QStringLiteral("8\t")));
        QStringList statuses;
        for (qsizetype i = 2; i < 9; ++i)
            statuses << lines.at(i).section(u'\t', 2, 2);
        QCOMPARE(
            statuses.join(u' '), QStringLiteral("change same unknown-guid insert insert fails not-reached"));
    }

    // The exit status is the first of 64, 1, 2, 3, 73, 4, 0 that applies.
    void failures_data()
    {
        QTest::addColumn<QString>("connection");
        QTest::addColumn<QJsonValue>("salp"); // null: no workbook
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");
        const QString missingDb = QStringLiteral("Provider=SQLite;Data Source=/nonexistent/pharmacy.db");
        const QStringList noFolder { QStringLiteral("--xlsx=/nonexistent/r.xlsx") };
        const QJsonValue none, twelve(12), stops(QStringLiteral("1,2,3"));
        QTest::newRow("no database") << missingDb << twelve << QStringList() << 1
                                     << QStringLiteral("هناك مشكلة بالارتباط بقاعدة البيانات\n");
        QTest::newRow("no database, bad format")
            << missingDb << none << QStringList { QStringLiteral("--format=xml") } << 64 << QString();
        QTest::newRow("unreadable workbook")
            << QString() << none << noFolder << 2 << QStringLiteral("حدث خطأ بتحميل الاسعار من الموقع\n");
        QTest::newRow("register into a missing folder")
            << QString() << twelve << noFolder << 73 << QStringLiteral("completes\n");
        QTest::newRow("a stop outranks the register file")
            << QString() << stops << noFolder << 3 << QStringLiteral("stops at sheet row 2");
        QTest::newRow("bad format") << QString() << twelve << QStringList { QStringLiteral("--format=xml") }
                                    << 64 << QString();
        QTest::newRow("negative limit")
            << QString() << twelve << QStringList { QStringLiteral("--change-limit"), QStringLiteral("-5") }
            << 64 << QString();
    }
    void failures()
    {
        QFETCH(QString, connection);
        QFETCH(QJsonValue, salp);
        QFETCH(QStringList, options);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        PharmacyFixture f;
        if (!f.open(Backend::Sqlite))
            return;
        QTemporaryDir dir;
        const QString workbook = !salp.isNull()
            ? writeWorkbook(dir, QJsonArray { priceListHeader(), updateRow(paracetamol, salp, 9.25) })
            : dir.filePath(QStringLiteral("missing.xlsx"));
        const CliResult r = review(connection.isEmpty() ? f.connectionString : connection, workbook, options);
        QCOMPARE(r.exitCode, exitCode);
        if (exitCode == 64)
            QCOMPARE(r.out, QString());
        else if (exitCode == 73 || exitCode == 3)
            QVERIFY2(r.out.contains(out), qPrintable(r.out));
        else
            QVERIFY2(r.out.startsWith(out) && r.out.count(u'\n') == 2, qPrintable(r.out));
        QCOMPARE(r.err.count(u'\n'), exitCode <= 2 ? 0 : 1);
    }

    // An output file that is the workbook, the database (by any name) or not a regular file is
    // refused before anything is read or written, by each command that writes one.
    void refusesToOverwrite_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("file"); // %d the database, %D another spelling of it, %w the workbook
        for (const char *option : { "review --xlsx=", "apply --no-journal --report=" })
            for (const char *file : { "%d", "%D", "%t/link-to-db", "%w", "%t", "%t/fifo", "/dev/null" })
                QTest::addRow("%s%s", option, file)
                    << QString::fromLatin1(option) << QString::fromLatin1(file);
    }
    void refusesToOverwrite()
    {
        QFETCH(QString, option);
        QFETCH(QString, file);
        PharmacyFixture f;
        if (!f.open(Backend::Sqlite))
            return;
        QTemporaryDir dir;
        const QString workbook = writeWorkbook(dir, mixedList());
        const QFileInfo db(sqliteFile(f.connectionString));
        QVERIFY(QFile::link(db.filePath(), dir.filePath(QStringLiteral("link-to-db"))));
#ifdef Q_OS_UNIX
        QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("fifo"))).constData(), 0600), 0);
#else
        if (file.contains(QLatin1StringView("fifo")) || file.startsWith(QLatin1StringView("/dev/")))
            QSKIP("FIFOs and /dev are POSIX's");
#endif
        file.replace(QStringLiteral("%d"), db.filePath())
            .replace(QStringLiteral("%D"), db.path() + QStringLiteral("/./") + db.fileName())
            .replace(QStringLiteral("%w"), workbook)
            .replace(QStringLiteral("%t"), dir.path());
        const QByteArray before = fileHash(db.filePath()) + fileHash(workbook);
        QStringList args = option.split(u' ');
        args.last() += file;
        const CliResult r = runCli(args << QStringLiteral("--connection") << f.connectionString << workbook);
        QCOMPARE(r.exitCode, 64);
        QCOMPARE(r.out, QString());
        QVERIFY2(
            r.err.contains(QStringLiteral("will not write")) && r.err.count(u'\n') == 1, qPrintable(r.err));
        QCOMPARE(fileHash(db.filePath()) + fileHash(workbook), before);
    }

    // The prediction, the trial and a real run's report name the same stop, categories and rows;
    // the trial leaves the database as it was, and alone foresees what a trigger refuses.
    void agreesWithTheRunsReport_data()
    {
        QTest::addColumn<Backend>("backend");
        QTest::addColumn<QJsonArray>("rows");
        QTest::addColumn<bool>("trigger");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("trialRegister"); // empty: the prediction's
        const QJsonArray refused { priceListHeader(), updateRow(amoxicillin, 30, 18.5),
            updateRow(paracetamol, 2000, 1), updateRow(ibuprofen, 1, 1) };
        for (const Backend backend : { Backend::Sqlite, Backend::Postgres }) {
            const char *name = backend == Backend::Sqlite ? "sqlite" : "postgres";
            QTest::addRow("%s, mixed list", name) << backend << mixedList() << false << 3 << QString();
            QTest::addRow("%s, case-different categories", name)
                << backend << caseCategories() << false << 0 << QString();
            QTest::addRow("%s, repeated guids", name)
                << backend << repeatedGuids() << false << 4 << QString();
            QTest::addRow("%s, blank rows", name) << backend << blankRows() << false << 4 << QString();
            QTest::addRow("%s, trigger refusal", name)
                << backend << refused << true << 3
                << QStringLiteral("2 change, 3 fails, 4 not-reached / stop  ");
        }
    }
    void agreesWithTheRunsReport()
    {
        QFETCH(Backend, backend);
        QFETCH(QJsonArray, rows);
        QFETCH(bool, trigger);
        QFETCH(int, exitCode);
        QFETCH(QString, trialRegister);
        PharmacyFixture f;
        if (!f.open(backend))
            return;
        if (trigger)
            addRefusingTrigger(f, backend);
        QTemporaryDir dir;
        const QString workbook = writeWorkbook(dir, rows);
        const QByteArray fileBefore
            = backend == Backend::Sqlite ? fileHash(sqliteFile(f.connectionString)) : "";
        const QString before = dump(f);
        const CliResult predicted = review(f.connectionString, workbook, { QStringLiteral("--format=json") });
        const CliResult trial = review(
            f.connectionString, workbook, { QStringLiteral("--format=json"), QStringLiteral("--trial") });
        QCOMPARE(compact(trial.out), trialRegister.isEmpty() ? compact(predicted.out) : trialRegister);
        QCOMPARE(trial.exitCode, exitCode);
        QCOMPARE(dump(f), before);
        if (backend == Backend::Sqlite)
            QCOMPARE(fileHash(sqliteFile(f.connectionString)), fileBefore);

        const QString reportPath = dir.filePath(QStringLiteral("report.json"));
        const CliResult ran
            = runCli({ QStringLiteral("apply"), QStringLiteral("--connection"), f.connectionString,
                QStringLiteral("--decimal-separator=."), QStringLiteral("--report"), reportPath, workbook });
        QCOMPARE(ran.exitCode, exitCode == 3 ? 3 : 0);
        QFile file(reportPath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject report = QJsonDocument::fromJson(file.readAll()).object();
        const QJsonObject register_ = QJsonDocument::fromJson(trial.out.toUtf8()).object();

        QCOMPARE(report.value(QStringLiteral("stop")), register_.value(QStringLiteral("stop")));
        QCOMPARE(report.value(QStringLiteral("new_categories")),
            register_.value(QStringLiteral("new_categories")));
        const QJsonArray done = report.value(QStringLiteral("rows")).toArray();
        const QJsonArray foreseen = register_.value(QStringLiteral("rows")).toArray();
        QCOMPARE(done.size(), foreseen.size());
        for (qsizetype i = 0; i < done.size(); ++i) {
            const QString status = foreseen.at(i)[QStringLiteral("status")].toString();
            const QString expected = status == u"fails" ? QStringLiteral("failed")
                : status == u"not-reached"              ? status
                                                        : QStringLiteral("applied");
            QCOMPARE(done.at(i)[QStringLiteral("sheet_row")], foreseen.at(i)[QStringLiteral("sheet_row")]);
            QCOMPARE(done.at(i)[QStringLiteral("status")].toString(), expected);
        }
    }

    // On PostgreSQL through ODBC: the same register as on SQLite, and the server's statement log
    // shows that the review's session sent selects only (besides the driver's plan housekeeping and
    // the connection string's own settings).
    void postgresSeesOnlySelects()
    {
        PharmacyFixture pg;
        if (!pg.open(Backend::Postgres))
            return;
        PharmacyFixture lite;
        if (!lite.open(Backend::Sqlite))
            return;
        if (pg.scalar(QStringLiteral("select size from pg_stat_file('server.log', true)")).isNull())
            QSKIP("the test server does not log to server.log in its data folder");
        const qint64 logStart
            = pg.scalar(QStringLiteral("select size from pg_stat_file('server.log')")).toLongLong();

        QTemporaryDir dir;
        const QString workbook = writeWorkbook(dir, mixedList());
        QString connection = pg.connectionString;
        connection.replace(
            QStringLiteral("ConnSettings={"), QStringLiteral("ConnSettings={set log_statement to 'all';"));
        const CliResult onPg = review(connection, workbook, { QStringLiteral("--format=json") });
        const CliResult onSqlite
            = review(lite.connectionString, workbook, { QStringLiteral("--format=json") });
        QCOMPARE(onPg.exitCode, 3);
        QCOMPARE(compact(onPg.out), compact(onSqlite.out));

        const QString log
            = pg.scalar(QStringLiteral("select pg_read_file('server.log', %1, 100000000)").arg(logStart))
                  .toString();
        static const QRegularExpression line(
            QStringLiteral(R"(\[(\d+)\] LOG:  (?:statement|execute [^:]+): (.*))"));
        QMultiHash<QString, QString> bySession;
        for (const QString &text : log.split(u'\n')) {
            const QRegularExpressionMatch m = line.match(text);
            if (m.hasMatch())
                bySession.insert(m.captured(1), m.captured(2));
        }
        QStringList sessions;
        for (const QString &pid : bySession.uniqueKeys()) {
            if (bySession.values(pid).filter(QStringLiteral("from mat00 where guid=")).size())
                sessions << pid;
        }
        QCOMPARE(sessions.size(), 1);
        const QStringList statements = bySession.values(sessions.first());
        QVERIFY(statements.size() > 10);
        const QString ownSettings = connection.section(QStringLiteral("'all';"), 1).chopped(1);
        for (const QString &statement : statements)
            QVERIFY2(statement.startsWith(QStringLiteral("select "), Qt::CaseInsensitive)
                    || statement.startsWith(QStringLiteral("DEALLOCATE \"_PLAN")) || statement == ownSettings,
                qPrintable(statement));
    }
};

QTEST_GUILESS_MAIN(TestCliReview)
#include "tst_cli_review.moc"
