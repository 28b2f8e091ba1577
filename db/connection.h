#pragma once

#include "core/failure.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>

class QSqlError;

namespace qalu::db {

class TQuery;

// What an ADO-style connection string maps to.
struct DriverTarget
{
    QString driver; // "QSQLITE" or "QODBC"
    QString databaseName; // the file for QSQLITE, the ODBC connection string for QODBC
    QString connectOptions; // Qt connect options (busy timeout, ODBC version, login timeout)
};

// Maps the ADO-style connection string to a Qt SQL driver. Throws qalu::Failure with a clear text
// for an unknown provider or a malformed string.
DriverTarget mapConnectionString(const QString &connectionString);

// Which SQL Server ODBC driver a SQL Server provider maps to: Windows' own "{SQL Server}", or
// FreeTDS elsewhere. The one-argument form uses the platform the program runs on.
enum class SqlServerOdbc { Windows, FreeTds };
DriverTarget mapConnectionString(const QString &connectionString, SqlServerOdbc odbc);

// The text a failure carries for a driver's error description: trailing characters of code 32 or
// below and trailing full stops removed.
QString trimErrorText(const QString &description);

// The failure for a Qt SQL error: its database text (the driver's text when there is none),
// trimmed as above, or "Database error <code>" when that leaves nothing. Carries the native code.
Failure sqlFailure(const QSqlError &error);
// The same from a description and a native error code.
Failure sqlFailure(const QString &description, const QString &nativeCode);

// The database connection (`ADOConnection1`). Holds the ADO-style connection string, opens
// synchronously on demand (never a login dialog), and never starts a transaction: every statement
// commits by itself. Owns its Qt connection name; the query objects run on it.
class TConnection
{
public:
    TConnection();
    ~TConnection();
    TConnection(const TConnection &) = delete;
    TConnection &operator=(const TConnection &) = delete;

    void setConnectionString(const QString &connectionString);
    QString connectionString() const;
    // For readers that must not change anything: a SQLite file is then opened read-only, so
    // even a stray write fails. Takes effect at the next Open(). ODBC connections are unaffected.
    void setReadOnly(bool readOnly);

    // Opens the connection; throws qalu::Failure with the driver's trimmed error text.
    void Open();
    bool Connected() const;
    void Close();

    // The open Qt database for the query objects.
    QSqlDatabase database() const;
    bool isSqlite() const;
    // The Qt connection name, unique to this object; removed from QSqlDatabase on destruction.
    QString qtConnectionName() const { return m_qtName; }

private:
    friend class TQuery;
    // The query objects on this connection, so their statements are freed before it closes.
    void attach(TQuery *query) { m_queries.append(query); }
    void detach(TQuery *query) { m_queries.removeOne(query); }

    QString m_connectionString;
    QList<TQuery *> m_queries;
    QString m_qtName;
    QSqlDatabase m_db;
    bool m_sqlite = false;
    bool m_readOnly = false;
};

} // namespace qalu::db
