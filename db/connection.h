#pragma once

#include <QList>
#include <QSqlDatabase>
#include <QString>

namespace qalu::db {

class TQuery;

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

    // A transaction over the following statements of every query object on this connection.
    // The update run never starts one; restore and the trial runs do. Throw qalu::Failure.
    void BeginTrans();
    void CommitTrans();
    // Never throws: it runs on the way out of a failure.
    void RollbackTrans();

    // The open Qt database for the query objects.
    QSqlDatabase database() const;
    bool isSqlite() const;
    // The database as it names itself, so two spellings of one database give the same text: a
    // SQLite file's canonical absolute path, or an ODBC server's "SERVER/DATABASE" as the driver
    // reports them (asked of the open connection, no statement sent). Never credentials. Empty
    // when not connected or the driver cannot tell.
    QString identity() const;
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
