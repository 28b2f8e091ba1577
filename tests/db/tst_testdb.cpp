// The test databases other suites build on: the schema and seed load on both engines, the guid
// defaults have the braced form, names compare without regard to case, and each PostgreSQL test
// database is a schema of its own.

#include "support/testdb.h"

#include <QRegularExpression>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

using namespace qalu;

class TestTestDb : public QObject
{
    Q_OBJECT

private slots:
    void scriptSplitterKeepsQuotedSemicolons()
    {
        const QStringList s = testdb::splitSqlScript(
            QStringLiteral("-- it's a comment; not a statement\ncreate table t(a text);\n"
                           "insert into t values('a;b'), (\"c;d\");\n  \n"));
        QCOMPARE(s.size(), 2);
        QCOMPARE(s.at(1), QStringLiteral("insert into t values('a;b'), (\"c;d\")"));
    }

    void sqliteDatabaseIsSeeded()
    {
        QTemporaryDir dir;
        const QString conn = testdb::createSqliteDatabase(dir);
        QVERIFY(conn.startsWith(QStringLiteral("Provider=SQLite;Data Source=")));
        const QString file = conn.mid(conn.indexOf(u'=', conn.indexOf(u';')) + 1);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
            db.setDatabaseName(file);
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec(QStringLiteral("select count(*) from mat00")));
            QVERIFY(q.next());
            QCOMPARE(q.value(0).toInt(), 15);
            QVERIFY(q.exec(QStringLiteral("select guid from Category00 where cname = 'DERMATOLOGY'")));
            QVERIFY(q.next());
            QCOMPARE(q.value(0).toString(), QStringLiteral("{8D116ECE-1738-47D9-BD9C-172411E20B8F}"));
            QVERIFY(
                q.exec(QStringLiteral("insert into Category00(CName,Cnum,nNum,Notes) values('x',9,9,'')")));
            QVERIFY(q.exec(QStringLiteral("select guid from Category00 where nNum = 9")));
            QVERIFY(q.next());
            static const QRegularExpression braced(QStringLiteral(
                "^\\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\\}$"));
            QVERIFY2(braced.match(q.value(0).toString()).hasMatch(), qPrintable(q.value(0).toString()));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("check"));
    }

    void pgDatabasesAreSeparateSchemas()
    {
        QALU_PG_TEST_DATABASE(a, true);
        QALU_PG_TEST_DATABASE(b, false);
        QVERIFY(a.schema() != b.schema());
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), QStringLiteral("pgcheck"));
            db.setDatabaseName(b.connectionString());
            QVERIFY2(db.open(), qPrintable(db.lastError().text()));
            QSqlQuery q(db);
            QVERIFY(q.exec(QStringLiteral("select count(*), isnull(max(nnum), 0) from Category00")));
            QVERIFY(q.next());
            QCOMPARE(q.value(0).toInt(), 0);
            QCOMPARE(q.value(1).toInt(), 0);
            db.close();
            db.setDatabaseName(a.connectionString());
            QVERIFY(db.open());
            QSqlQuery q2(db);
            QVERIFY(q2.exec(QStringLiteral("select count(*) from mat00 where matnameeng = 'ASPIRIN 81 MG'")));
            QVERIFY(q2.next());
            QCOMPARE(q2.value(0).toInt(), 1);
        }
        QSqlDatabase::removeDatabase(QStringLiteral("pgcheck"));
    }
};

QTEST_GUILESS_MAIN(TestTestDb)
#include "tst_testdb.moc"
