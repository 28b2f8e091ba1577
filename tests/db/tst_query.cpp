// Query objects on both backends, each case on the ones its table names: real SQLite files, and
// QODBC on the PostgreSQL test server (unixODBC + psqlODBC). Values as they arrive, empty text
// against NULL, reading results, guids, opening on demand, commits that survive a later failure, a
// locked database, the isnull( rewrite on SQLite and the text reaching the ODBC driver verbatim
// (Qt's own placeholder scan kept away from it), prepared statements, timeouts, and a connection
// that went away.

#include "db/connection.h"
#include "db/query.h"
#include "support/testdb.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace qalu::db;

namespace {

const QString sqlite = QStringLiteral("sqlite");
const QString odbc = QStringLiteral("odbc");

// A fresh database of the row's backend: a seeded SQLite file in a folder of its own, or a schema
// of its own on the PostgreSQL test server.
class BackendDatabase
{
public:
    BackendDatabase(const QString &backend, bool seed)
    {
        if (backend == sqlite) {
            m_connectionString = qalu::testdb::createSqliteDatabase(m_dir, seed);
            return;
        }
        m_pg = std::make_unique<qalu::testdb::PgTestDatabase>(seed);
        m_connectionString = m_pg->connectionString();
        m_error = m_pg->error();
    }

    bool isReady() const { return !m_connectionString.isEmpty(); }
    QString error() const { return m_error; }
    QString connectionString() const { return m_connectionString; }
    const QTemporaryDir &dir() const { return m_dir; }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<qalu::testdb::PgTestDatabase> m_pg;
    QString m_connectionString;
    QString m_error;
};

void sqliteRow()
{
    QTest::addColumn<QString>("backend");
    QTest::newRow("sqlite") << sqlite;
}

void odbcRow()
{
    QTest::addColumn<QString>("backend");
    QTest::newRow("odbc") << odbc;
}

QString one(TQuery &q, const QString &select)
{
    q.clearText();
    q.setText(select);
    q.Open();
    return q.firstFieldAsText();
}

// QODBC reports every failing statement through qWarning as well.
void expectDriverWarning()
{
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^QODBCResult::exec")));
}

// How the server holds the statement with this text on the query objects' session: prepared
// statements alive, and executions of them. Empty when the text is not prepared there.
QString preparedOnServer(TQuery &probe, const QString &text)
{
    probe.setText(QStringLiteral("select count(*) || ' ' || coalesce(sum(generic_plans + custom_plans), 0) "
                                 "from pg_prepared_statements "
                                 "where statement = :a0"));
    probe.setString(0, text);
    probe.Open();
    return probe.firstFieldAsText();
}

} // namespace

// Declares `var` as a fresh database of the row's backend (column "backend"); an ODBC row without a
// reachable server skips, or fails when QALU_REQUIRE_ODBC=1.
#define QALU_BACKEND_DATABASE(var, seed)                                                                     \
    QFETCH(QString, backend);                                                                                \
    BackendDatabase var(backend, seed);                                                                      \
    do {                                                                                                     \
        if (!var.isReady()) {                                                                                \
            if (qalu::testdb::odbcRequired())                                                                \
                QFAIL(qPrintable(var.error()));                                                              \
            QSKIP(qPrintable(var.error()));                                                                  \
        }                                                                                                    \
    } while (false)

class TestQuery : public QObject
{
    Q_OBJECT

private slots:
    // The price update as the update run sends it, and what each value kind stores.
    void priceUpdateStoresKinds_data() { sqliteRow(); }
    void priceUpdateStoresKinds()
    {
        QALU_BACKEND_DATABASE(db, true);
        TConnection c;
        c.setConnectionString(db.connectionString());
        c.Open();
        TQuery q(c, QStringLiteral("qgeneral"), 50);
        q.clearText();
        q.setText(
            QStringLiteral("update mat00 set salp= :a0,price1= :a1,salp2= :a2,price2= :a3  where guid= :a4"));
        q.setDouble(0, 26.75);
        q.setDouble(1, 20);
        q.setByte(2, 0);
        q.setInteger(3, 3);
        q.setString(4, QStringLiteral("{90C192CF-D3AC-44AF-8F21-DDB66CAD4A26}"));
        QCOMPARE(q.ExecSQL(), 1);

        TQuery r(c, QStringLiteral("QGeneral4"));
        QCOMPARE(
            one(r,
                QStringLiteral("select typeof(salp)||' '||salp||' '||typeof(salp2)||' '||price2 from mat00 "
                               "where MatNum=1001")),
            QStringLiteral("real 26.75 real 3.0"));

        // Binding straight into an untyped expression shows the kinds themselves.
        r.clearText();
        r.setText(QStringLiteral(
            "select typeof(:a0)||typeof(:a1)||typeof(:a2)||typeof(:a3)||typeof(:a4)||length(:a5)"));
        r.setDouble(0, 1.0);
        r.setInteger(1, 1);
        r.setByte(2, 1);
        r.setString(3, QStringLiteral("x"));
        r.setString(4, QString());
        r.setString(5, QStringLiteral("دواء"));
        r.Open();
        QCOMPARE(r.firstFieldAsText(), QStringLiteral("realintegerintegertexttext4"));
    }

    // The medicine insert: 22 values, empty texts stored as empty texts (not NULL), the guid
    // from the column default.
    void medicineInsertKeepsEmptyTexts_data() { sqliteRow(); }
    void medicineInsertKeepsEmptyTexts()
    {
        QALU_BACKEND_DATABASE(db, true);
        TConnection c;
        c.setConnectionString(db.connectionString());
        TQuery q(c, QStringLiteral("qgeneral"), 50);
        q.clearText();
        q.appendLine(QStringLiteral(
            "insert into "
            "mat00(MatNum,MatName,MatNameEng,MatNamecop,Price1,salp,price2,salp2,Fact2,price3,salp3,"
            "Fact3,CatGuid,unit1,unit2,unit3,MatN,FocN,ShapN,contn,dateupN,ShapPharmN)"));
        q.appendLine(
            QStringLiteral("values(:a0,:a1,:a2,:a3,:a4,:a5,:a6,:a7,:a8,:a9,:a10,:a11,:a12,:a13,:a14,:a15,"
                           ":a16,:a17,:a18,:a19,:a20,:a21)"));
        q.setInteger(0, 2001);
        q.setString(1, QStringLiteral("أوجمنتين 1 جم"));
        q.setString(2, QStringLiteral("Augmentin 1 g"));
        q.setString(3, QStringLiteral(""));
        q.setDouble(4, 80.5);
        q.setByte(5, 0);
        for (int i = 6; i <= 11; ++i)
            q.setByte(i, 0);
        q.setString(12, QStringLiteral("{D23F0824-128B-4F33-8C5C-7FD0A6A3A450}"));
        q.setString(13, QStringLiteral("علبة"));
        q.setString(14, QStringLiteral("شريط"));
        q.setString(15, QStringLiteral("قرص"));
        q.setString(16, QStringLiteral(""));
        q.setString(17, QStringLiteral(""));
        q.setString(18, QStringLiteral("أقراص"));
        q.setString(19, QStringLiteral(""));
        q.setString(20, QStringLiteral("1-1-1800"));
        q.setString(21, QStringLiteral(""));
        QCOMPARE(q.ExecSQL(), 1);
        QVERIFY(c.Connected()); // opened on demand

        TQuery r(c, QStringLiteral("QGeneral6"));
        QCOMPARE(one(r,
                     QStringLiteral("select typeof(MatNamecop)||typeof(MatN)||typeof(contn)||length(MatN)||"
                                    "MatName||dateupN from mat00 where MatNum=2001")),
            QStringLiteral("texttexttext0أوجمنتين 1 جم1-1-1800"));
        const QString guid = one(r, QStringLiteral("select guid from mat00 where MatNum=2001"));
        QCOMPARE(guid.size(), 38);
        QVERIFY(QRegularExpression(QStringLiteral("^\\{[0-9A-F-]{36}\\}$")).match(guid).hasMatch());
    }

    void valuesArriveAsBound_data() { odbcRow(); }
    void valuesArriveAsBound()
    {
        QALU_BACKEND_DATABASE(db, true);
        TConnection c;
        c.setConnectionString(db.connectionString());
        c.Open();
        TQuery q(c, QStringLiteral("qgeneral"), 50);
        q.setText(
            QStringLiteral("create table kinds (d double precision, i integer, b smallint, t varchar(20), "
                           "e varchar(20))"));
        q.ExecSQL();
        q.clearText();
        q.setText(QStringLiteral("insert into kinds values(:a0,:a1,:a2,:a3,:a4)"));
        q.setDouble(0, 26.75);
        q.setInteger(1, -2147483647);
        q.setByte(2, 1);
        q.setString(3, QStringLiteral("بنادول"));
        q.setString(4, QStringLiteral(""));
        QCOMPARE(q.ExecSQL(), 1);
        TQuery r(c, QStringLiteral("QGeneral4"));
        QCOMPARE(
            one(r,
                QStringLiteral("select d || ' ' || i || ' ' || b || ' ' || t || ' ' || (e is null) || ' ' || "
                               "length(e) from kinds")),
            QStringLiteral("26.75 -2147483647 1 بنادول false 0"));
    }

    void priceUpdateAndGuids_data() { odbcRow(); }
    void priceUpdateAndGuids()
    {
        QALU_BACKEND_DATABASE(db, true);
        TConnection c;
        c.setConnectionString(db.connectionString());
        TQuery q(c, QStringLiteral("qgeneral"), 50);
        q.clearText();
        q.setText(
            QStringLiteral("update mat00 set salp= :a0,price1= :a1,salp2= :a2,price2= :a3  where guid= :a4"));
        q.setDouble(0, 30.5);
        q.setDouble(1, 25);
        q.setByte(2, 0);
        q.setByte(3, 0);
        q.setString(4, QStringLiteral("{0CB1E29C-658C-4A14-95E6-0AF593BD04CF}"));
        QCOMPARE(q.ExecSQL(), 1);
        QVERIFY(c.Connected());

        TQuery r(c, QStringLiteral("QFindNewCat"));
        r.setText(QStringLiteral("select guid from Category00 where CName= :a0"));
        r.setString(0, QStringLiteral("DERMATOLOGY"));
        r.Open();
        QCOMPARE(r.RecordCount(), 1);
        // uuid arrives as 36 characters; the query object gives the braced upper-case form.
        QCOMPARE(r.firstFieldAsText(), QStringLiteral("{8D116ECE-1738-47D9-BD9C-172411E20B8F}"));
        QCOMPARE(one(r, QStringLiteral("select salp from mat00 where MatNum=1004")), QStringLiteral("30.5"));
    }

    void readingResults_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("select");
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("asInteger");
        QTest::addColumn<QString>("asText");
        QTest::newRow("sqlite: no row")
            << sqlite << QStringLiteral("select nNum from Category00 where CName='nothing'") << 0 << 0
            << QString();
        QTest::newRow("sqlite: NULL: max over no rows")
            << sqlite << QStringLiteral("select max(nnum) from Category00 where nNum<0") << 1 << 0
            << QString();
        QTest::newRow("sqlite: next category number, trailing blank")
            << sqlite << QStringLiteral("select max(nnum)+1 from Category00 ") << 1 << 7
            << QStringLiteral("7");
        QTest::newRow("sqlite: isnull call runs on SQLite")
            << sqlite << QStringLiteral("select isnull(max(nnum),0) from Category00") << 1 << 6
            << QStringLiteral("6");
        QTest::newRow("sqlite: isnull inside quotes untouched")
            << sqlite << QStringLiteral("select 'isnull(x)'") << 1 << -1 << QStringLiteral("isnull(x)");
        QTest::newRow("sqlite: several rows, first is read")
            << sqlite << QStringLiteral("select nNum from Category00 order by nNum desc") << 6 << 6
            << QStringLiteral("6");
        QTest::newRow("sqlite: name compared without case")
            << sqlite << QStringLiteral("select guid,cname from Category00 where CName='dermatology'") << 1
            << -1 << QStringLiteral("{8D116ECE-1738-47D9-BD9C-172411E20B8F}");
        QTest::newRow("sqlite: real rounds to integer")
            << sqlite << QStringLiteral("select 2.5e0 * 3") << 1 << 8 << QStringLiteral("7.5");
        QTest::newRow("sqlite: colons kept in quotes and from ::")
            << sqlite << QStringLiteral("select ':a0' || '::' || `x:y` from (select 1 as `x:y`)") << 1 << -1
            << QStringLiteral(":a0::1");
        QTest::newRow("odbc: no row")
            << odbc << QStringLiteral("select nNum from Category00 where CName='nothing'") << 0 << 0
            << QString();
        QTest::newRow("odbc: NULL maximum")
            << odbc << QStringLiteral("select max(nnum) from Category00 where nNum<0") << 1 << 0 << QString();
        QTest::newRow("odbc: next number, trailing blank")
            << odbc << QStringLiteral("select max(nnum)+1 from Category00 ") << 1 << 7 << QStringLiteral("7");
        // PostgreSQL has no ifnull: this only runs if the text reached the server unchanged.
        QTest::newRow("odbc: isnull sent verbatim")
            << odbc << QStringLiteral("select isnull(max(nnum),0) from Category00") << 1 << 6
            << QStringLiteral("6");
        QTest::newRow("odbc: bigint count")
            << odbc << QStringLiteral("select count(*) from mat00") << 1 << 15 << QStringLiteral("15");
        // "::" reaches the server as ":"; Qt's prepare would take ":3" for a placeholder (it
        // does not treat brackets as quotes for PostgreSQL), so this runs unprepared.
        QTest::newRow("odbc: array slice from :: without parameters runs as written")
            << odbc << QStringLiteral("select array_to_string((array[1,2,3])[2::3], ',')") << 1 << -1
            << QStringLiteral("2,3");
        QTest::newRow("odbc: colons in quotes")
            << odbc << QStringLiteral("select ':a0' || ':x'") << 1 << -1 << QStringLiteral(":a0:x");
    }

    void readingResults()
    {
        QFETCH(QString, select);
        QFETCH(int, rows);
        QFETCH(int, asInteger);
        QFETCH(QString, asText);
        QALU_BACKEND_DATABASE(db, true);
        TConnection c;
        c.setConnectionString(db.connectionString());
        TQuery q(c, QStringLiteral("QGeneral6"));
        q.clearText();
        q.setText(select);
        q.Open();
        QVERIFY(q.isOpen());
        QCOMPARE(q.RecordCount(), rows);
        if (asInteger >= 0)
            QCOMPARE(q.firstFieldAsInteger(), asInteger);
        const QString text = q.firstFieldAsText();
        QCOMPARE(text, asText);
        QVERIFY(!text.isNull());
        q.clearText();
        QVERIFY(!q.isOpen());
        QVERIFY_THROWS_EXCEPTION(qalu::Failure, q.RecordCount());
    }

    void integerOutOfRangeFails_data() { sqliteRow(); }
    void integerOutOfRangeFails()
    {
        QALU_BACKEND_DATABASE(db, true);
        TConnection c;
        c.setConnectionString(db.connectionString());
        TQuery q(c, QStringLiteral("QGeneral4"));
        q.setText(QStringLiteral("select 4294967296"));
        q.Open();
        QVERIFY_THROWS_EXCEPTION(qalu::Failure, q.firstFieldAsInteger());
    }

    // 16 raw bytes in a uniqueidentifier column are in Windows layout.
    void rawGuidBytesReadBraced_data() { sqliteRow(); }
    void rawGuidBytesReadBraced()
    {
        QALU_BACKEND_DATABASE(db, true);
        TConnection c;
        c.setConnectionString(db.connectionString());
        TQuery q(c, QStringLiteral("QGeneral6"));
        q.setText(QStringLiteral("create table g (id UNIQUEIDENTIFIER, t UNIQUEIDENTIFIER)"));
        q.ExecSQL();
        q.setText(QStringLiteral("insert into g values (x'0E2713659E26374DB2A74DE452E6B438', "
                                 "'6513270e-269e-4d37-b2a7-4de452e6b438')"));
        q.ExecSQL();
        q.setText(QStringLiteral("select id from g"));
        q.Open();
        QCOMPARE(q.firstFieldAsText(), QStringLiteral("{6513270E-269E-4D37-B2A7-4DE452E6B438}"));
        q.setText(QStringLiteral("select t from g"));
        q.Open();
        QCOMPARE(q.firstFieldAsText(), QStringLiteral("{6513270E-269E-4D37-B2A7-4DE452E6B438}"));
    }

    // Each statement commits by itself: a failing one leaves the earlier ones in place, seen from
    // a second connection. A failing constraint undoes only its own statement.
    void failureLeavesEarlierCommitted_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("failing");
        QTest::addColumn<QVariantList>("values");
        QTest::addColumn<QString>("failure"); // pattern the failure's text matches; empty: not checked
        QTest::addColumn<qint64>("code"); // -1: not checked
        QTest::addColumn<QString>("check"); // read from a second connection afterwards
        QTest::addColumn<QString>("checked");
        const QString sqliteCheck
            = QStringLiteral("select count(*)||','||max(nNum) from Category00 where guid<>'{X}'");
        QTest::newRow("sqlite: unknown column")
            << sqlite
            << QStringLiteral("insert into Category00(CName,Cnum,nNum,Nopes)values(:a0,:a1,:a2,:a3)")
            << QVariantList { QStringLiteral("x"), 8, 8, QStringLiteral("") }
            << QStringLiteral("^table Category00 has no column named Nopes$") << qint64(1) << sqliteCheck
            << QStringLiteral("7,7");
        QTest::newRow("sqlite: constraint on several rows")
            << sqlite << QStringLiteral("update Category00 set guid= :a0 where nNum >= 6")
            << QVariantList { QStringLiteral("{X}") } << QString() << qint64(-1) << sqliteCheck
            << QStringLiteral("7,7");
        QTest::newRow("odbc: invalid uuid")
            << odbc << QStringLiteral("update mat00 set guid= :a0 where MatNum= :a1")
            << QVariantList { QStringLiteral("not a guid"), 1001 }
            << QStringLiteral("invalid input syntax for type uuid") << qint64(-1)
            << QStringLiteral("select count(*) from Category00 where nNum=7 and Notes=''")
            << QStringLiteral("1");
    }
    void failureLeavesEarlierCommitted()
    {
        QFETCH(QString, failing);
        QFETCH(QVariantList, values);
        QFETCH(QString, failure);
        QFETCH(qint64, code);
        QFETCH(QString, check);
        QFETCH(QString, checked);
        QALU_BACKEND_DATABASE(db, true);
        {
            TConnection c;
            c.setConnectionString(db.connectionString());
            TQuery q(c, QStringLiteral("QInsertN"));
            q.setText(QStringLiteral("insert into Category00(CName,Cnum,nNum,Notes)values(:a0,:a1,:a2,:a3)"));
            q.setString(0, QStringLiteral("مراهم"));
            q.setInteger(1, 7);
            q.setInteger(2, 7);
            q.setString(3, QStringLiteral(""));
            QCOMPARE(q.ExecSQL(), 1);
            q.clearText();
            q.setText(failing);
            for (int i = 0; i < values.size(); ++i) {
                if (values.at(i).typeId() == QMetaType::Int)
                    q.setInteger(i, values.at(i).toInt());
                else
                    q.setString(i, values.at(i).toString());
            }
            if (backend == odbc)
                expectDriverWarning();
            try {
                q.ExecSQL();
                QFAIL("no failure");
            } catch (const qalu::Failure &f) {
                if (!failure.isEmpty()) {
                    QVERIFY2(f.text().contains(QRegularExpression(failure)), qPrintable(f.text()));
                    QVERIFY2(f.text().back().unicode() > 32 && f.text().back() != u'.', qPrintable(f.text()));
                }
                if (code >= 0)
                    QCOMPARE(f.code(), code);
            }
        }
        TConnection other;
        other.setConnectionString(db.connectionString());
        TQuery r(other, QStringLiteral("QGeneral4"));
        QCOMPARE(one(r, check), checked);
    }

    // A text may hold several statements: they run in order and take the parameters in order; a
    // ';' in quotes, in a comment or in a trigger's body ends no statement.
    void severalStatements_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("stored");
        QTest::newRow("sqlite: two") << sqlite
                                     << QStringLiteral(
                                            "insert into t values(:a0);\r\ninsert into t values(:a1);\r\n")
                                     << QStringLiteral("1|2");
        QTest::newRow("sqlite: quotes and comments")
            << sqlite
            << QStringLiteral(
                   "insert into t values(';' || :a0); -- a; b\ninsert into t values(:a1 || '/*;*/')")
            << QStringLiteral(";1|2/*;*/");
        QTest::newRow("sqlite: trigger body")
            << sqlite
            << QStringLiteral("create trigger tr after insert on t when new.a = 1 begin insert into t "
                              "values('t;' || new.a); "
                              "end;insert into t values(:a0);insert into t values(:a1)")
            << QStringLiteral("1|t;1|2");
    }

    void severalStatements()
    {
        QFETCH(QString, text);
        QFETCH(QString, stored);
        QALU_BACKEND_DATABASE(db, true);
        TConnection c;
        c.setConnectionString(db.connectionString());
        TQuery q(c, QStringLiteral("qgeneral"), 50);
        q.setText(QStringLiteral("create table t(a)"));
        q.ExecSQL();
        q.setText(text);
        q.setInteger(0, 1);
        q.setInteger(1, 2);
        q.ExecSQL();
        QCOMPARE(one(q, QStringLiteral("select group_concat(a, '|') from t")), stored);
    }

    void parameterMistakesFailClearly_data() { sqliteRow(); }
    void parameterMistakesFailClearly()
    {
        QALU_BACKEND_DATABASE(db, true);
        TConnection c;
        c.setConnectionString(db.connectionString());
        TQuery q(c, QStringLiteral("QGeneral4"));
        q.setText(QStringLiteral("select :a0 + :a1"));
        q.setInteger(0, 1);
        try {
            q.Open();
            QFAIL("no failure");
        } catch (const qalu::Failure &f) {
            QCOMPARE(f.text(), QStringLiteral("The parameter a1 (position 1) has no value"));
        }
        // A literal '?' in the text is a placeholder SQLite sees but no marker made.
        q.setText(QStringLiteral("select ? + :a0"));
        q.setInteger(0, 1);
        QVERIFY_THROWS_EXCEPTION(qalu::Failure, q.Open());
    }

    void inMemoryDatabase_data() { sqliteRow(); }
    void inMemoryDatabase()
    {
        TConnection c;
        c.setConnectionString(QStringLiteral("Provider=SQLite;Data Source=:memory:"));
        TQuery q(c, QStringLiteral("qgeneral"), 50);
        q.setText(QStringLiteral("create table t(a)"));
        q.ExecSQL();
        q.setText(QStringLiteral("insert into t values(:a0)"));
        q.setString(0, QStringLiteral(""));
        q.ExecSQL();
        QCOMPARE(
            one(q, QStringLiteral("select typeof(a) from t where a is not null")), QStringLiteral("text"));
    }

    // Another program holds the write lock: setting the text raises nothing, executing raises the
    // driver's error once the busy timeout runs out; the connection stays usable afterwards.
    void lockedDatabase_data() { sqliteRow(); }
    void lockedDatabase()
    {
        QALU_BACKEND_DATABASE(db, true);
        TConnection locker;
        locker.setConnectionString(db.connectionString());
        locker.Open();
        TQuery lock(locker, QStringLiteral("lock"));

        TConnection c;
        c.setConnectionString(db.connectionString());
        c.Open();
        TQuery q(c, QStringLiteral("QGeneral4"), 1);

        lock.setText(QStringLiteral("begin exclusive"));
        lock.ExecSQL();
        q.setText(QStringLiteral("update mat00 set salp= :a0 where MatNum=1001"));
        q.setDouble(0, 1.0);
        try {
            q.ExecSQL();
            QFAIL("no failure");
        } catch (const qalu::Failure &f) {
            QCOMPARE(f.text(), QStringLiteral("database is locked"));
        }
        lock.setText(QStringLiteral("commit"));
        lock.ExecSQL();
        QCOMPARE(q.ExecSQL(), 1);
    }

    // The file was replaced by garbage after opening: the next statement fails with SQLite's
    // own message, nothing crashes.
    void databaseGoneAfterOpening_data() { sqliteRow(); }
    void databaseGoneAfterOpening()
    {
        QALU_BACKEND_DATABASE(db, true);
        TConnection c;
        c.setConnectionString(db.connectionString());
        c.Open();
        const QString file
            = db.connectionString().mid(db.connectionString().indexOf(QStringLiteral("Data Source=")) + 12);
        {
            QFile f(file);
            QVERIFY(f.open(QIODevice::ReadWrite));
            f.write(QByteArray(4096, 'x'));
        }
        TQuery q(c, QStringLiteral("QGeneral6"));
        q.setText(QStringLiteral("select max(nnum)+1 from Category00 "));
        try {
            q.Open();
            QFAIL("no failure");
        } catch (const qalu::Failure &f) {
            QCOMPARE(f.text(), QStringLiteral("file is not a database"));
        }
        QVERIFY(!q.isOpen());
    }

    void openingOnDemandReportsFailure_data() { sqliteRow(); }
    void openingOnDemandReportsFailure()
    {
        QALU_BACKEND_DATABASE(db, true);
        TConnection c;
        c.setConnectionString(
            QStringLiteral("Provider=SQLite;Data Source=") + db.dir().filePath(QStringLiteral("none.db")));
        TQuery q(c, QStringLiteral("QGeneral4"));
        q.setText(QStringLiteral("select 1 where 1= :a0"));
        q.setInteger(0, 1);
        QVERIFY_THROWS_EXCEPTION(qalu::Failure, q.Open());
        QVERIFY(!c.Connected());
        // The database appears: the next statement opens the connection itself.
        c.setConnectionString(db.connectionString());
        q.Open();
        QVERIFY(c.Connected());
        QCOMPARE(q.firstFieldAsInteger(), 1);
    }

    // Qt's QSqlQuery::prepare would turn ":3" (left by "::") into a placeholder of its own and
    // send "[2?]" to the driver; with parameters bound that cannot be avoided, so it is refused.
    void qtPlaceholderScanIsRefused_data() { odbcRow(); }
    void qtPlaceholderScanIsRefused()
    {
        QALU_BACKEND_DATABASE(db, true);
        TConnection c;
        c.setConnectionString(db.connectionString());
        TQuery q(c, QStringLiteral("QGeneral6"));
        q.setText(QStringLiteral("select array_length((array[1,2,3])[2::3], 1) + :a0"));
        q.setInteger(0, 1);
        try {
            q.Open();
            QFAIL("no failure");
        } catch (const qalu::Failure &f) {
            QCOMPARE(f.text(),
                QStringLiteral(
                    "The statement text holds a colon that Qt's SQL layer would take for a placeholder"));
        }
        // A colon inside quotes is left alone by both scans.
        q.setText(QStringLiteral("select :a0 || ':x'"));
        q.setInteger(0, 1);
        q.Open();
        QCOMPARE(q.firstFieldAsText(), QStringLiteral("1:x"));
    }

    // The run sets the same text again before every row, and alternates its update and insert
    // texts on one object: each text is prepared once and then only executed; a new text prepares
    // anew; the statements go when the object goes.
    void statementPreparedOncePerText_data() { odbcRow(); }
    void statementPreparedOncePerText()
    {
        QALU_BACKEND_DATABASE(db, true);
        TConnection c;
        c.setConnectionString(db.connectionString());
        TQuery probe(c, QStringLiteral("probe"));
        const QString select = QStringLiteral("select salp from mat00 where MatNum= :a0");
        {
            TQuery q(c, QStringLiteral("qgeneral"), 50);
            for (int i = 0; i < 5; ++i) {
                q.clearText();
                q.setText(QStringLiteral("update mat00 set salp= :a0 where MatNum= :a1"));
                // The kind bound may change between executions, as a price's does.
                if (i % 2)
                    q.setDouble(0, 10.5 + i);
                else
                    q.setByte(0, 0);
                q.setInteger(1, 1001);
                QCOMPARE(q.ExecSQL(), 1);
                q.setText(select);
                q.setInteger(0, 1001);
                q.Open();
                QCOMPARE(q.firstFieldAsText(), QString::number(i % 2 ? 10.5 + i : 0));
            }
            QCOMPARE(
                preparedOnServer(probe, QStringLiteral("update mat00 set salp= $1 where MatNum= $2\r\n")),
                QStringLiteral("1 5"));
            QCOMPARE(preparedOnServer(probe, QStringLiteral("select salp from mat00 where MatNum= $1\r\n")),
                QStringLiteral("1 5"));
        }
        QCOMPARE(preparedOnServer(probe, QStringLiteral("update mat00 set salp= $1 where MatNum= $2\r\n")),
            QStringLiteral("0 0"));
    }

    // A statement that fails after it was reused: the failure is the server's, and the object
    // goes on with another text and with the same one.
    void failureOnReusedStatement_data() { odbcRow(); }
    void failureOnReusedStatement()
    {
        QALU_BACKEND_DATABASE(db, true);
        TConnection c;
        c.setConnectionString(db.connectionString());
        TQuery q(c, QStringLiteral("qgeneral"), 50);
        const QString guid = QStringLiteral("{0CB1E29C-658C-4A14-95E6-0AF593BD04CF}");
        for (const QString &value : { guid, guid, QStringLiteral("not a guid"), guid }) {
            q.clearText();
            q.setText(QStringLiteral("update mat00 set salp= :a0 where guid= :a1"));
            q.setDouble(0, 2);
            q.setString(1, value);
            if (value == guid) {
                QCOMPARE(q.ExecSQL(), 1);
                continue;
            }
            expectDriverWarning();
            QVERIFY_THROWS_EXCEPTION(qalu::Failure, q.ExecSQL());
            QCOMPARE(one(q, QStringLiteral("select count(*) from mat00 where salp=2")), QStringLiteral("1"));
        }
    }

    void commandTimeout_data() { odbcRow(); }
    void commandTimeout()
    {
        QALU_BACKEND_DATABASE(db, false);
        TConnection c;
        c.setConnectionString(db.connectionString());
        TQuery q(c, QStringLiteral("short"), 1);
        q.setText(QStringLiteral("select pg_sleep(:a0)"));
        q.setInteger(0, 30);
        expectDriverWarning();
        try {
            q.Open();
            QFAIL("no timeout");
        } catch (const qalu::Failure &f) {
            QVERIFY2(f.text().contains(QStringLiteral("statement timeout")), qPrintable(f.text()));
        }
    }

    // The server ends the session after the connection was opened: setting a text raises nothing,
    // executing raises the driver's failure. Nothing is retried.
    void connectionGoneAfterOpening_data() { odbcRow(); }
    void connectionGoneAfterOpening()
    {
        QALU_BACKEND_DATABASE(db, true);
        TConnection c;
        c.setConnectionString(db.connectionString());
        c.Open();
        TQuery q(c, QStringLiteral("QGeneral4"));
        QString pid = one(q, QStringLiteral("select pg_backend_pid()"));

        TConnection admin;
        admin.setConnectionString(db.connectionString());
        TQuery kill(admin, QStringLiteral("kill"));
        kill.setText(QStringLiteral("select pg_terminate_backend(:a0)"));
        kill.setInteger(0, pid.toInt());
        kill.Open();
        QCOMPARE(kill.firstFieldAsText(), QStringLiteral("1"));

        q.clearText();
        q.setText(QStringLiteral("update mat00 set salp= :a0 where MatNum=1001"));
        q.setDouble(0, 1.0);
        QVERIFY(c.Connected());
        expectDriverWarning();
        QVERIFY_THROWS_EXCEPTION(qalu::Failure, q.ExecSQL());
    }
};

QTEST_GUILESS_MAIN(TestQuery)
#include "tst_query.moc"
