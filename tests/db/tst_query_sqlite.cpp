// Query objects on real SQLite files: values as they arrive, empty text against NULL, reading
// results, guids, opening on demand, commits that survive a later failure, a locked database,
// and the isnull( rewrite doing its job.

#include "db/connection.h"
#include "db/query.h"
#include "support/testdb.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace qalu::db;

namespace {

QString one(TQuery &q, const QString &select)
{
    q.clearText();
    q.setText(select);
    q.Open();
    return q.firstFieldAsText();
}

} // namespace

class TestQuerySqlite : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_conn;

private slots:
    void init() { m_conn = qalu::testdb::createSqliteDatabase(m_dir); }

    // The price update as the update run sends it, and what each value kind stores.
    void priceUpdateStoresKinds()
    {
        TConnection c;
        c.setConnectionString(m_conn);
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
    void medicineInsertKeepsEmptyTexts()
    {
        TConnection c;
        c.setConnectionString(m_conn);
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

    void readingResults_data()
    {
        QTest::addColumn<QString>("select");
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("asInteger");
        QTest::addColumn<QString>("asText");
        QTest::newRow("no row") << QStringLiteral("select nNum from Category00 where CName='nothing'") << 0
                                << 0 << QString();
        QTest::newRow("NULL: max over no rows")
            << QStringLiteral("select max(nnum) from Category00 where nNum<0") << 1 << 0 << QString();
        QTest::newRow("next category number, trailing blank")
            << QStringLiteral("select max(nnum)+1 from Category00 ") << 1 << 7 << QStringLiteral("7");
        QTest::newRow("isnull call runs on SQLite")
            << QStringLiteral("select isnull(max(nnum),0) from Category00") << 1 << 6 << QStringLiteral("6");
        QTest::newRow("isnull inside quotes untouched")
            << QStringLiteral("select 'isnull(x)'") << 1 << -1 << QStringLiteral("isnull(x)");
        QTest::newRow("several rows, first is read")
            << QStringLiteral("select nNum from Category00 order by nNum desc") << 6 << 6
            << QStringLiteral("6");
        QTest::newRow("name compared without case")
            << QStringLiteral("select guid,cname from Category00 where CName='dermatology'") << 1 << -1
            << QStringLiteral("{8D116ECE-1738-47D9-BD9C-172411E20B8F}");
        QTest::newRow("real rounds to integer")
            << QStringLiteral("select 2.5e0 * 3") << 1 << 8 << QStringLiteral("7.5");
        QTest::newRow("colons kept in quotes and from ::")
            << QStringLiteral("select ':a0' || '::' || `x:y` from (select 1 as `x:y`)") << 1 << -1
            << QStringLiteral(":a0::1");
    }

    void readingResults()
    {
        QFETCH(QString, select);
        QFETCH(int, rows);
        QFETCH(int, asInteger);
        QFETCH(QString, asText);
        TConnection c;
        c.setConnectionString(m_conn);
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

    void integerOutOfRangeFails()
    {
        TConnection c;
        c.setConnectionString(m_conn);
        TQuery q(c, QStringLiteral("QGeneral4"));
        q.setText(QStringLiteral("select 4294967296"));
        q.Open();
        QVERIFY_THROWS_EXCEPTION(qalu::Failure, q.firstFieldAsInteger());
    }

    // 16 raw bytes in a uniqueidentifier column are in Windows layout.
    void rawGuidBytesReadBraced()
    {
        TConnection c;
        c.setConnectionString(m_conn);
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
    // a second connection.
    void failureLeavesEarlierCommitted()
    {
        {
            TConnection c;
            c.setConnectionString(m_conn);
            TQuery q(c, QStringLiteral("QInsertN"));
            q.setText(QStringLiteral("insert into Category00(CName,Cnum,nNum,Notes)values(:a0,:a1,:a2,:a3)"));
            q.setString(0, QStringLiteral("مراهم"));
            q.setInteger(1, 7);
            q.setInteger(2, 7);
            q.setString(3, QStringLiteral(""));
            QCOMPARE(q.ExecSQL(), 1);
            q.clearText();
            q.setText(QStringLiteral("insert into Category00(CName,Cnum,nNum,Nopes)values(:a0,:a1,:a2,:a3)"));
            q.setString(0, QStringLiteral("x"));
            q.setInteger(1, 8);
            q.setInteger(2, 8);
            q.setString(3, QStringLiteral(""));
            try {
                q.ExecSQL();
                QFAIL("no failure");
            } catch (const qalu::Failure &f) {
                QCOMPARE(f.text(), QStringLiteral("table Category00 has no column named Nopes"));
                QCOMPARE(f.code(), qint64(1));
            }
            // A failing constraint undoes only its own statement.
            q.clearText();
            q.setText(QStringLiteral("update Category00 set guid= :a0 where nNum >= 6"));
            q.setString(0, QStringLiteral("{X}"));
            QVERIFY_THROWS_EXCEPTION(qalu::Failure, q.ExecSQL());
        }
        TConnection other;
        other.setConnectionString(m_conn);
        TQuery r(other, QStringLiteral("QGeneral4"));
        QCOMPARE(one(r, QStringLiteral("select count(*)||','||max(nNum) from Category00 where guid<>'{X}'")),
            QStringLiteral("7,7"));
    }

    // A text may hold several statements: they run in order and take the parameters in order; a
    // ';' in quotes, in a comment or in a trigger's body ends no statement.
    void severalStatements_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("stored");
        QTest::newRow("two") << QStringLiteral("insert into t values(:a0);\r\ninsert into t values(:a1);\r\n")
                             << QStringLiteral("1|2");
        QTest::newRow("quotes and comments") << QStringLiteral(
            "insert into t values(';' || :a0); -- a; b\ninsert into t values(:a1 || '/*;*/')")
                                             << QStringLiteral(";1|2/*;*/");
        QTest::newRow("trigger body") << QStringLiteral(
            "create trigger tr after insert on t when new.a = 1 begin insert into t values('t;' || new.a); "
            "end;insert into t values(:a0);insert into t values(:a1)")
                                      << QStringLiteral("1|t;1|2");
    }
    void severalStatements()
    {
        QFETCH(QString, text);
        QFETCH(QString, stored);
        TConnection c;
        c.setConnectionString(m_conn);
        TQuery q(c, QStringLiteral("qgeneral"), 50);
        q.setText(QStringLiteral("create table t(a)"));
        q.ExecSQL();
        q.setText(text);
        q.setInteger(0, 1);
        q.setInteger(1, 2);
        q.ExecSQL();
        QCOMPARE(one(q, QStringLiteral("select group_concat(a, '|') from t")), stored);
    }

    void parameterMistakesFailClearly()
    {
        TConnection c;
        c.setConnectionString(m_conn);
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
    void lockedDatabase()
    {
        TConnection locker;
        locker.setConnectionString(m_conn);
        locker.Open();
        TQuery lock(locker, QStringLiteral("lock"));

        TConnection c;
        c.setConnectionString(m_conn);
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
    void databaseGoneAfterOpening()
    {
        TConnection c;
        c.setConnectionString(m_conn);
        c.Open();
        const QString file = m_conn.mid(m_conn.indexOf(QStringLiteral("Data Source=")) + 12);
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

    void openingOnDemandReportsFailure()
    {
        TConnection c;
        c.setConnectionString(
            QStringLiteral("Provider=SQLite;Data Source=") + m_dir.filePath(QStringLiteral("none.db")));
        TQuery q(c, QStringLiteral("QGeneral4"));
        q.setText(QStringLiteral("select 1 where 1= :a0"));
        q.setInteger(0, 1);
        QVERIFY_THROWS_EXCEPTION(qalu::Failure, q.Open());
        QVERIFY(!c.Connected());
        // The database appears: the next statement opens the connection itself.
        c.setConnectionString(m_conn);
        q.Open();
        QVERIFY(c.Connected());
        QCOMPARE(q.firstFieldAsInteger(), 1);
    }
};

QTEST_GUILESS_MAIN(TestQuerySqlite)
#include "tst_query_sqlite.moc"
