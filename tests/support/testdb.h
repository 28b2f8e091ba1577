#pragma once

// Test databases for the database layer and everything built on it: a fresh SQLite file made from
// db/sql/sqlite-schema.sql (+ db/sql/seed.sql), and a fresh schema on the PostgreSQL test server
// (reached through unixODBC and psqlODBC) made from tests/db/pg-schema.sql (+ the same seed).
//
//   QTemporaryDir dir;
//   const QString conn = qalu::testdb::createSqliteDatabase(dir);   // "Provider=SQLite;Data Source=..."
//
//   QALU_PG_TEST_DATABASE(pg, true);   // skips, or fails when QALU_REQUIRE_ODBC=1, without a server
//   TConnection c; c.setConnectionString(pg.connectionString());
//
// Failures to build a database throw qalu::Failure (Qt Test reports the exception).

#include "core/failure.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest/QTest>

namespace qalu::testdb {

inline QString sourcePath(const QString &relative)
{
    return QStringLiteral(QALU_SOURCE_DIR "/") + relative;
}

inline QString sqliteSchemaPath()
{
    return sourcePath(QStringLiteral("db/sql/sqlite-schema.sql"));
}
inline QString seedPath()
{
    return sourcePath(QStringLiteral("db/sql/seed.sql"));
}
inline QString pgSchemaPath()
{
    return sourcePath(QStringLiteral("tests/db/pg-schema.sql"));
}

inline QString readTextFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw Failure(QStringLiteral("cannot read %1: %2").arg(path, f.errorString()));
    return QString::fromUtf8(f.readAll());
}

// Splits a script into its statements at semicolons outside quotes and comments. Enough for the
// schema and seed files (no triggers, no dollar quoting).
inline QStringList splitSqlScript(const QString &script)
{
    QStringList statements;
    QString current;
    QChar quote;
    for (qsizetype i = 0; i < script.size(); ++i) {
        const QChar c = script.at(i);
        if (!quote.isNull()) {
            current += c;
            if (c == quote)
                quote = QChar();
            continue;
        }
        if (c == u'-' && i + 1 < script.size() && script.at(i + 1) == u'-') {
            while (i < script.size() && script.at(i) != u'\n')
                ++i;
            current += u'\n';
            continue;
        }
        if (c == u'\'' || c == u'"') {
            quote = c;
            current += c;
            continue;
        }
        if (c == u';') {
            if (!current.trimmed().isEmpty())
                statements << current.trimmed();
            current.clear();
            continue;
        }
        current += c;
    }
    if (!current.trimmed().isEmpty())
        statements << current.trimmed();
    return statements;
}

inline QString uniqueName(const char *prefix)
{
    static QAtomicInt counter;
    return QStringLiteral("%1_%2_%3")
        .arg(QLatin1String(prefix))
        .arg(QCoreApplication::applicationPid())
        .arg(counter.fetchAndAddRelaxed(1));
}

inline void runScript(QSqlDatabase &db, const QString &path)
{
    QSqlQuery q(db);
    for (const QString &statement : splitSqlScript(readTextFile(path))) {
        if (!q.exec(statement))
            throw Failure(QStringLiteral("%1: %2\n%3").arg(path, q.lastError().text(), statement));
    }
}

// Creates a database file in dir from the schema (and the seed, when seed is true) and returns its
// ADO-style connection string.
inline QString createSqliteDatabase(
    const QTemporaryDir &dir, bool seed = true, const QString &fileName = QStringLiteral("pharmacy.db"))
{
    if (!dir.isValid())
        throw Failure(QStringLiteral("temporary directory not available"));
    const QString file = dir.filePath(fileName);
    QFile::remove(file);
    const QString name = uniqueName("qalu_testdb_sqlite");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(file);
        if (!db.open())
            throw Failure(QStringLiteral("cannot create %1: %2").arg(file, db.lastError().text()));
        runScript(db, sqliteSchemaPath());
        if (seed)
            runScript(db, seedPath());
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return QStringLiteral("Provider=SQLite;Data Source=") + file;
}

// The ODBC connection string of the PostgreSQL test server, empty when none is configured.
inline QString testOdbcString()
{
    return qEnvironmentVariable("QALU_TEST_ODBC");
}
inline bool odbcRequired()
{
    return qEnvironmentVariable("QALU_REQUIRE_ODBC") == u"1";
}

// A fresh schema with the pharmacy tables on the PostgreSQL test server, first on the search path
// of every connection made with connectionString(); dropped again on destruction. Each object
// gets its own schema, so test programs running in parallel do not meet.
class PgTestDatabase
{
public:
    explicit PgTestDatabase(bool seed = true)
    {
        const QString base = testOdbcString();
        if (base.isEmpty()) {
            m_error
                = QStringLiteral("QALU_TEST_ODBC is not set (run: eval \"$(scripts/start-test-postgres)\")");
            return;
        }
        m_schema = uniqueName("qalu_t").toLower();
        m_adminName = m_schema + QStringLiteral("_admin");
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), m_adminName);
        db.setDatabaseName(base);
        if (!db.open()) {
            m_error = QStringLiteral("cannot reach the PostgreSQL test server: ") + db.lastError().text();
            return;
        }
        QSqlQuery q(db);
        const auto exec = [&](const QString &sql) {
            if (!q.exec(sql))
                throw Failure(QStringLiteral("%1: %2").arg(sql, q.lastError().text()));
        };
        exec(QStringLiteral("drop schema if exists %1 cascade").arg(m_schema));
        exec(QStringLiteral("create schema %1").arg(m_schema));
        exec(QStringLiteral("set search_path to %1").arg(m_schema));
        m_created = true;
        runScript(db, pgSchemaPath());
        if (seed)
            runScript(db, seedPath());
        exec(QStringLiteral("set search_path to public"));

        QString conn = base;
        if (!conn.endsWith(u';'))
            conn += u';';
        m_connectionString = conn + QStringLiteral("ConnSettings={set search_path to %1}").arg(m_schema);
    }

    ~PgTestDatabase()
    {
        if (m_adminName.isEmpty())
            return;
        {
            QSqlDatabase db = QSqlDatabase::database(m_adminName, false);
            if (m_created && db.isOpen()) {
                QSqlQuery q(db);
                q.exec(QStringLiteral("drop schema if exists %1 cascade").arg(m_schema));
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(m_adminName);
    }

    PgTestDatabase(const PgTestDatabase &) = delete;
    PgTestDatabase &operator=(const PgTestDatabase &) = delete;

    bool isReady() const { return !m_connectionString.isEmpty(); }
    QString error() const { return m_error; }
    // "Driver=...;ConnSettings={set search_path to <schema>}": goes to QODBC unchanged.
    QString connectionString() const { return m_connectionString; }
    QString schema() const { return m_schema; }

private:
    QString m_schema;
    QString m_adminName;
    QString m_connectionString;
    QString m_error;
    bool m_created = false;
};

} // namespace qalu::testdb

// Declares `var` as a fresh PgTestDatabase; without a reachable server the test function skips,
// or fails when QALU_REQUIRE_ODBC=1.
#define QALU_PG_TEST_DATABASE(var, seed)                                                                     \
    qalu::testdb::PgTestDatabase var(seed);                                                                  \
    do {                                                                                                     \
        if (!var.isReady()) {                                                                                \
            if (qalu::testdb::odbcRequired())                                                                \
                QFAIL(qPrintable(var.error()));                                                              \
            QSKIP(qPrintable(var.error()));                                                                  \
        }                                                                                                    \
    } while (false)
