#pragma once

#include <QList>
#include <QString>

namespace qalu::db {

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

// The driver an ODBC connection string names in its Driver= item; empty for a data source name.
QString odbcDriverOf(const QString &odbcConnectionString);

// Whether an ODBC driver, by its registered name or its library's file name, is one of
// Microsoft's Unicode SQL Server drivers: "ODBC Driver NN for SQL Server" (msodbcsql*),
// "SQL Server Native Client NN.N" (sqlncli*), Windows' own "SQL Server" (sqlsrv32.dll). FreeTDS is
// not: it binds 8-bit texts.
bool isMicrosoftSqlServerDriver(const QString &driver);

// Why this build does not connect through that driver, or an empty text. Only when Qt's ODBC driver
// counts a text's terminating U+0000 in the bound length (QALU_QT_ODBC_BINDS_TERMINATOR): such a
// driver would store it at the end of every text the program writes.
QString refusedOdbcDriver(const QString &driver);

// The database file a SQLite connection string names; empty for any other string, or one that
// cannot be read.
QString sqliteFileOf(const QString &connectionString);

// One "key=value" item of a connection string, where it stands in the text.
struct ConnectionItem
{
    QString key; // trimmed, lower case
    QString value; // unquoted
    qsizetype begin = 0; // the item's text, its separating ';' included
    qsizetype end = 0;
};

// How values may be quoted: ADO's ' and " (a doubled quote stands for itself), and with
// OdbcBraces also ODBC's {...} (a doubled } stands for itself).
enum class ValueQuoting { Ado, AdoAndOdbcBraces };

// Splits "key=value;key=value". Throws qalu::Failure for an item without '=' or name, an
// unclosed quote, or text after a quoted value.
QList<ConnectionItem> connectionItems(const QString &text, ValueQuoting quoting = ValueQuoting::Ado);

// The connection string with every credential item taken out (Pwd, Password, and Jet's
// "Database Password" keys, in any case), for display and storage. The rest is kept as written.
// A string too malformed to split is replaced whole, since a password could hide anywhere in it.
QString withoutCredentials(const QString &connectionString);

} // namespace qalu::db
