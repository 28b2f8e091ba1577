// The connection: which Qt driver and ODBC string an ADO-style connection string becomes, the
// clear failures for bad strings and missing databases, the error-text trimming, and the Qt
// connection names.

#include "db/connection.h"
#include "db/connection_string.h"
#include "db/query.h"
#include "db/sql_failure.h"
#include "support/testdb.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace qalu::db;

class TestConnection : public QObject
{
    Q_OBJECT

private slots:
    void mapping_data()
    {
        QTest::addColumn<QString>("connection");
        QTest::addColumn<int>("odbc");
        QTest::addColumn<QString>("driver");
        QTest::addColumn<QString>("database");

        const int win = int(SqlServerOdbc::Windows);
        const int tds = int(SqlServerOdbc::FreeTds);
        const QString program = QStringLiteral("Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist "
                                               "Security Info=False;Initial Catalog=OlvaniM1;"
                                               "Data Source=.\\sqlexpress");
        QTest::newRow("program's string, Windows")
            << program << win << QStringLiteral("QODBC")
            << QStringLiteral(
                   "Driver={SQL Server};Server=.\\sqlexpress;Database=OlvaniM1;Trusted_Connection=Yes");
        QTest::newRow("program's string, FreeTDS: '.' is localhost")
            << program << tds << QStringLiteral("QODBC")
            << QStringLiteral(
                   "Driver=FreeTDS;Server=localhost\\sqlexpress;Database=OlvaniM1;Trusted_Connection=Yes;"
                   "TDS_Version=7.4;ClientCharset=UTF-8");
        QTest::newRow("MSOLEDBSQL with user and password, quoted and blanks")
            << QStringLiteral(" provider = MSOLEDBSQL ; data source=srv,1433; initial catalog='Pharma;DB' ;"
                              "User ID=sa;Password=\"p;w}d\"")
            << win << QStringLiteral("QODBC")
            << QStringLiteral("Driver={SQL Server};Server=srv,1433;Database={Pharma;DB};UID=sa;PWD={p;w}}d}");
        QTest::newRow("SQLNCLI11 without data source is the local server")
            << QStringLiteral("Provider=SQLNCLI11;Integrated Security=SSPI") << tds << QStringLiteral("QODBC")
            << QStringLiteral("Driver=FreeTDS;Server=localhost;Trusted_Connection=Yes;TDS_Version=7.4;"
                              "ClientCharset=UTF-8");
        QTest::newRow("SQLite file") << QStringLiteral("Provider=SQLite;Data Source=/var/lib/x/pharmacy.db")
                                     << tds << QStringLiteral("QSQLITE")
                                     << QStringLiteral("/var/lib/x/pharmacy.db");
        QTest::newRow("SQLite in memory") << QStringLiteral("provider=sqlite;data source=:memory:") << win
                                          << QStringLiteral("QSQLITE") << QStringLiteral(":memory:");
        QTest::newRow("ODBC driver string unchanged")
            << QStringLiteral("Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=5432;Database=x;Uid=u;Pwd=;")
            << tds << QStringLiteral("QODBC")
            << QStringLiteral(
                   "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=5432;Database=x;Uid=u;Pwd=;");
        QTest::newRow("DSN: Qt adds its own DSN=")
            << QStringLiteral("DSN=pharmacy;UID=a") << tds << QStringLiteral("QODBC")
            << QStringLiteral("pharmacy;UID=a");
    }

    void mapping()
    {
        QFETCH(QString, connection);
        QFETCH(int, odbc);
        QFETCH(QString, driver);
        QFETCH(QString, database);
        const DriverTarget t = mapConnectionString(connection, SqlServerOdbc(odbc));
        QCOMPARE(t.driver, driver);
        QCOMPARE(t.databaseName, database);
    }

    void badStrings_data()
    {
        QTest::addColumn<QString>("connection");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty") << QStringLiteral("  ")
                               << QStringLiteral("Malformed connection string: it is empty");
        QTest::newRow("item without =")
            << QStringLiteral("Provider=SQLite;pharmacy.db")
            << QStringLiteral("Malformed connection string: the item \"pharmacy.db\" has no '='");
        QTest::newRow("unclosed quote")
            << QStringLiteral("Provider=SQLite;Data Source='x.db")
            << QStringLiteral(
                   "Malformed connection string: the value of \"data source\" has no closing quote");
        QTest::newRow("no provider") << QStringLiteral("Data Source=x.db")
                                     << QStringLiteral("Malformed connection string: it names no provider");
        QTest::newRow("unknown provider")
            << QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=x.mdb")
            << QStringLiteral("Unknown provider \"Microsoft.Jet.OLEDB.4.0\" in the connection string");
        QTest::newRow("SQLite without file")
            << QStringLiteral("Provider=SQLite")
            << QStringLiteral("Malformed connection string: the SQLite provider needs a Data Source (the "
                              "database file)");
        QTest::newRow("empty item name") << QStringLiteral(
            "Provider=SQLite;=x") << QStringLiteral("Malformed connection string: an item has no name");
    }

    void badStrings()
    {
        QFETCH(QString, connection);
        QFETCH(QString, message);
        try {
            mapConnectionString(connection, SqlServerOdbc::FreeTds);
            QFAIL("no failure");
        } catch (const qalu::Failure &f) {
            QCOMPARE(f.text(), message);
        }
        // Opening with it fails the same way and leaves the connection closed.
        TConnection c;
        c.setConnectionString(connection);
        QVERIFY_THROWS_EXCEPTION(qalu::Failure, c.Open());
        QVERIFY(!c.Connected());
    }

    // Microsoft's Unicode SQL Server drivers, refused while Qt's ODBC driver counts a text's
    // terminator in the bound length; FreeTDS and PostgreSQL never. A data source names no driver
    // here (it is asked of the driver manager once open).
    void sqlServerDriverGuard_data()
    {
        QTest::addColumn<QString>("connection");
        QTest::addColumn<int>("odbc");
        QTest::addColumn<bool>("microsoft");

        const int win = int(SqlServerOdbc::Windows);
        const int tds = int(SqlServerOdbc::FreeTds);
        const QString program = QStringLiteral("Provider=SQLOLEDB.1;Integrated Security=SSPI;Initial "
                                               "Catalog=OlvaniM1;Data Source=.\\sqlexpress");
        QTest::newRow("program's string, Windows: SQL Server") << program << win << true;
        QTest::newRow("program's string, FreeTDS") << program << tds << false;
        QTest::newRow("ODBC Driver 18")
            << QStringLiteral("Driver={ODBC Driver 18 for SQL Server};Server=srv;Encrypt=no") << tds << true;
        QTest::newRow("Native Client 11.0, lower case")
            << QStringLiteral("driver={sql server native client 11.0};server=srv") << tds << true;
        QTest::newRow("Microsoft's Linux library by path")
            << QStringLiteral("Driver=/opt/microsoft/msodbcsql18/lib64/libmsodbcsql-18.3.so.2.1;Server=srv")
            << tds << true;
        QTest::newRow("FreeTDS by path")
            << QStringLiteral("Driver=/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so;Server=srv") << tds
            << false;
        QTest::newRow("a name that only contains SQL Server")
            << QStringLiteral("Driver={FreeTDS for SQL Server};Server=srv") << tds << false;
        QTest::newRow("PostgreSQL Unicode")
            << QStringLiteral("Driver={PostgreSQL Unicode};Server=127.0.0.1") << tds << false;
        QTest::newRow("data source") << QStringLiteral("DSN=pharmacy") << tds << false;
    }

    void sqlServerDriverGuard()
    {
        QFETCH(QString, connection);
        QFETCH(int, odbc);
        QFETCH(bool, microsoft);
        const QString odbcString = mapConnectionString(connection, SqlServerOdbc(odbc)).databaseName;
        const QString driver = odbcDriverOf(odbcString);
        QCOMPARE(isMicrosoftSqlServerDriver(driver), microsoft);
        const bool refused = microsoft && QALU_QT_ODBC_BINDS_TERMINATOR;
        QCOMPARE(!refusedOdbcDriver(driver).isEmpty(), refused);
        if (!refused)
            return;
        // Refused before the driver manager is asked (no such driver is installed here), saying
        // what to use instead.
        TConnection c;
        c.setConnectionString(odbcString);
        try {
            c.Open();
            QFAIL("opened");
        } catch (const qalu::Failure &f) {
            QVERIFY2(f.text().contains(QStringLiteral("Driver=FreeTDS;")), qPrintable(f.text()));
        }
    }

    // Every spelling of a credential leaves the string whole, and the rest as written.
    void credentialsRemoved_data()
    {
        QTest::addColumn<QString>("connection");
        QTest::addColumn<QString>("shown");
        const QString rest = QStringLiteral("Provider=SQLOLEDB;Data Source=.\\sqlexpress;");
        QTest::newRow("plain") << QStringLiteral("Uid=sa;Pwd=secret;Server=x")
                               << QStringLiteral("Uid=sa;Server=x");
        QTest::newRow("double quotes around ; }")
            << rest + QStringLiteral("Password=\"p;w}d\";X=1") << rest + QStringLiteral("X=1");
        QTest::newRow("braces, doubled }")
            << QStringLiteral("Driver={D};Pwd={ab}}c};Uid=u") << QStringLiteral("Driver={D};Uid=u");
        QTest::newRow("single quotes, doubled '")
            << QStringLiteral("Pwd='it''s;x';A=b") << QStringLiteral("A=b");
        QTest::newRow("double quotes, doubled \"")
            << QStringLiteral("Pwd=\"a\"\"b;x\";A=b") << QStringLiteral("A=b");
        QTest::newRow("case and blanks around =")
            << QStringLiteral("A=b; pAsSwOrD  =  s3 ;C=d") << QStringLiteral("A=b; C=d");
        QTest::newRow("Jet database password")
            << QStringLiteral("Jet OLEDB:Database Password=zz;A=b") << QStringLiteral("A=b");
        QTest::newRow("last item, no ;") << QStringLiteral("A=b;PWD=zz") << QStringLiteral("A=b;");
        QTest::newRow("unclosed quote hides it all") << QStringLiteral(
            "A=b;Pwd=\"zz") << QStringLiteral("(a connection string that cannot be read, not shown)");
    }
    void credentialsRemoved()
    {
        QFETCH(QString, connection);
        QFETCH(QString, shown);
        QCOMPARE(withoutCredentials(connection), shown);
    }

    void errorText_data()
    {
        QTest::addColumn<QString>("database");
        QTest::addColumn<QString>("driver");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("number");
        QTest::newRow("trailing blanks, controls and full stops")
            << QStringLiteral("Invalid column name 'x'. \r\n.\t") << QString() << QStringLiteral("207")
            << QStringLiteral("Invalid column name 'x'") << qint64(207);
        QTest::newRow("inner full stops stay")
            << QStringLiteral("a. b.c") << QString() << QString() << QStringLiteral("a. b.c") << qint64(0);
        QTest::newRow("driver text when the database says nothing")
            << QStringLiteral(" . ") << QStringLiteral("QODBC: Unable to connect.") << QStringLiteral("08001")
            << QStringLiteral("QODBC: Unable to connect") << qint64(8001);
        QTest::newRow("nothing left: fixed text with the code")
            << QString() << QStringLiteral("...") << QStringLiteral("18456")
            << QStringLiteral("Database error 18456") << qint64(18456);
    }

    void errorText()
    {
        QFETCH(QString, database);
        QFETCH(QString, driver);
        QFETCH(QString, code);
        QFETCH(QString, text);
        QFETCH(qint64, number);
        const qalu::Failure f = sqlFailure(QSqlError(driver, database, QSqlError::StatementError, code));
        QCOMPARE(f.text(), text);
        QCOMPARE(f.code(), number);
    }

    void missingSqliteFileIsNotCreated()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("absent.db"));
        TConnection c;
        c.setConnectionString(QStringLiteral("Provider=SQLite;Data Source=") + file);
        QVERIFY_THROWS_EXCEPTION(qalu::Failure, c.Open());
        QVERIFY(!c.Connected());
        QVERIFY(!QFile::exists(file));
    }

    // Something other than an SQLite database at the path: the connection fails, names what is
    // there, and leaves it as it was.
    void notADatabase_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("text");
        QTest::newRow("text file") << "text"
                                   << "file is not a database";
        QTest::newRow("folder") << "folder"
                                << "is a folder";
#ifndef Q_OS_WIN // devices, pipes and symbolic links in the file system are POSIX's
        QTest::newRow("device") << "/dev/null"
                                << "is a device";
        QTest::newRow("pipe") << "pipe"
                              << "is a pipe";
        QTest::newRow("dangling link") << "dangling"
                                       << "symbolic link to a file that does not exist";
        QTest::newRow("link loop") << "loop"
                                   << "symbolic link loop";
#endif
    }

    void notADatabase()
    {
        QFETCH(QString, kind);
        QFETCH(QString, text);
        QTemporaryDir dir;
        const QString path = kind.startsWith(u'/') ? kind : dir.filePath(QStringLiteral("pharmacy.db"));
        const QString other = dir.filePath(QStringLiteral("other.db"));
        const QByteArray content("guid;salp\n{x};1\n");
        QFile file(path);
        if (kind == u"text")
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        file.close();
        if (kind == u"folder")
            QVERIFY(QDir(dir.path()).mkdir(path));
#ifndef Q_OS_WIN
        if (kind == u"pipe")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
#endif
        if (kind == u"dangling" || kind == u"loop")
            QVERIFY(QFile::link(other, path));
        if (kind == u"loop")
            QVERIFY(QFile::link(path, other));

        TConnection c;
        c.setConnectionString(QStringLiteral("Provider=SQLite;Data Source=") + path);
        try {
            c.Open();
            QFAIL("opened");
        } catch (const qalu::Failure &f) {
            QVERIFY2(f.text().contains(text), qPrintable(f.text()));
        }
        QVERIFY(!c.Connected());
        if (kind == u"text") {
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), content);
            QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                QStringList { QStringLiteral("pharmacy.db") });
        }
    }

    void unreachableServerFailsWithDriverText()
    {
        // Nothing listens on port 1 of the loopback: the driver's own error comes back, trimmed.
        TConnection c;
        c.setConnectionString(QStringLiteral(
            "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=1;Database=x;Uid=postgres;Pwd=;"));
        try {
            c.Open();
            QFAIL("opened");
        } catch (const qalu::Failure &f) {
            QVERIFY2(!f.text().isEmpty(), "empty failure text");
            QVERIFY2(f.text().back().unicode() > 32 && f.text().back() != u'.', qPrintable(f.text()));
        }
        QVERIFY(!c.Connected());
    }

    void connectionNamesAreUniqueAndRemoved()
    {
        QString first;
        {
            TConnection a;
            TConnection b;
            QVERIFY(a.qtConnectionName() != b.qtConnectionName());
            a.setConnectionString(QStringLiteral("Provider=SQLite;Data Source=:memory:"));
            a.Open();
            QVERIFY(a.Connected());
            first = a.qtConnectionName();
            QVERIFY(QSqlDatabase::contains(first));
        }
        QVERIFY(!QSqlDatabase::contains(first));
    }
};

QTEST_GUILESS_MAIN(TestConnection)
#include "tst_connection.moc"
