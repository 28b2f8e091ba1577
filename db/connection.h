#pragma once

#include <QSqlDatabase>
#include <QString>

namespace qalu::db {

// What an ADO-style connection string maps to.
struct DriverTarget
{
    QString driver;        // "QSQLITE" or "QODBC"
    QString databaseName;  // the file for QSQLITE, the ODBC connection string for QODBC
    QString connectOptions; // Qt connect options (busy timeout, ODBC version, login timeout)
};

// Maps the ADO-style connection string to a Qt SQL driver. Throws qalu::Failure with a clear text
// for an unknown provider or a malformed string.
DriverTarget mapConnectionString(const QString &connectionString);

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

    // Opens the connection; throws qalu::Failure with the driver's trimmed error text.
    void Open();
    bool Connected() const;
    void Close();

    // The open Qt database for the query objects.
    QSqlDatabase database() const;
    bool isSqlite() const;

private:
    QString m_connectionString;
    QString m_qtName;
    bool m_sqlite = false;
};

} // namespace qalu::db
