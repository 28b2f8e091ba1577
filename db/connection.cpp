#include "db/connection.h"

#include "db/connection_string.h"
#include "db/query.h"
#include "db/sql_failure.h"

#include <QAtomicInt>
#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>

#ifdef Q_OS_UNIX
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#endif

#ifdef _WIN32
#include <windows.h> // the ODBC headers use its types there
#endif
#include <sql.h>
#include <sqlext.h>

namespace qalu::db {

namespace {

// Why `path` cannot be an SQLite database file, or an empty text when it is a regular file.
QString notADatabaseFile(const QString &path)
{
#ifdef Q_OS_UNIX
    const QByteArray native = QFile::encodeName(path);
    struct stat st;
    if (::stat(native.constData(), &st) != 0) {
        const int error = errno;
        struct stat link;
        if (error == ELOOP)
            return QStringLiteral("is a symbolic link loop");
        if (::lstat(native.constData(), &link) == 0 && S_ISLNK(link.st_mode))
            return QStringLiteral("is a symbolic link to a file that does not exist");
        if (error == ENOENT || error == ENOTDIR)
            return QStringLiteral("does not exist");
        return QStringLiteral("cannot be reached: ") + QString::fromLocal8Bit(std::strerror(error));
    }
    if (S_ISREG(st.st_mode))
        return {};
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("is a folder");
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
        return QStringLiteral("is a device");
    if (S_ISFIFO(st.st_mode))
        return QStringLiteral("is a pipe");
    if (S_ISSOCK(st.st_mode))
        return QStringLiteral("is a socket");
    return QStringLiteral("is not a regular file");
#else
    const QFileInfo info(path);
    if (info.isFile())
        return {};
    if (info.isDir())
        return QStringLiteral("is a folder");
    if (info.isSymLink())
        return QStringLiteral("is a symbolic link to a file that does not exist");
    return info.exists() ? QStringLiteral("is not a regular file") : QStringLiteral("does not exist");
#endif
}

// A text the ODBC driver of an open connection reports (SQLGetInfo); empty when it cannot tell.
QString odbcInfo(const QSqlDatabase &db, SQLUSMALLINT what)
{
    const QVariant handle = db.driver()->handle();
    // QODBC hands out its connection handle as a void* (SQLHANDLE).
    if (!handle.isValid() || handle.metaType() != QMetaType::fromType<void *>())
        return QString();
    const SQLHDBC hdbc = *static_cast<const SQLHDBC *>(handle.constData());
    SQLWCHAR buffer[512] {};
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetInfoW(hdbc, what, buffer, SQLSMALLINT(sizeof buffer), &length)))
        return QString();
    const qsizetype chars = qMin(qsizetype(length) / qsizetype(sizeof(SQLWCHAR)), qsizetype(511));
    if constexpr (sizeof(SQLWCHAR) == 2)
        return QString::fromUtf16(reinterpret_cast<const char16_t *>(buffer), chars);
    else
        return QString::fromUcs4(reinterpret_cast<const char32_t *>(buffer), chars);
}

} // namespace

TConnection::TConnection()
{
    static QAtomicInt counter;
    m_qtName = QStringLiteral("qalu_ADOConnection_%1").arg(counter.fetchAndAddRelaxed(1) + 1);
}

TConnection::~TConnection()
{
    Close();
    for (TQuery *query : std::as_const(m_queries))
        query->connectionGone();
    if (m_db.isValid()) {
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_qtName);
    }
}

void TConnection::setConnectionString(const QString &connectionString)
{
    if (Connected())
        Close();
    m_connectionString = connectionString;
}

QString TConnection::connectionString() const
{
    return m_connectionString;
}

void TConnection::setReadOnly(bool readOnly)
{
    if (Connected() && readOnly != m_readOnly)
        Close();
    m_readOnly = readOnly;
}

void TConnection::Open()
{
    if (Connected())
        return;
    const DriverTarget target = mapConnectionString(m_connectionString);
    if (m_db.isValid() && m_db.driverName() != target.driver) {
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_qtName);
    }
    if (!m_db.isValid())
        m_db = QSqlDatabase::addDatabase(target.driver, m_qtName);
    if (!m_db.isValid())
        throw Failure(QStringLiteral("The Qt SQL driver %1 is not available").arg(target.driver));
    m_sqlite = target.driver == u"QSQLITE";
    if (!m_sqlite) {
        if (const QString why = refusedOdbcDriver(odbcDriverOf(target.databaseName)); !why.isEmpty())
            throw Failure(why);
    }

    // QSQLITE would create a missing file as an empty database, and every statement would then
    // fail on missing tables; a mistyped path, or one naming something other than a file, is
    // reported here instead.
    if (m_sqlite && target.databaseName != u":memory:") {
        if (const QString why = notADatabaseFile(target.databaseName); !why.isEmpty())
            throw Failure(QStringLiteral("The database file \"%1\" %2").arg(target.databaseName, why));
    }

    m_db.setDatabaseName(target.databaseName);
    m_db.setConnectOptions(
        m_sqlite && m_readOnly ? QStringLiteral("QSQLITE_OPEN_READONLY") : target.connectOptions);
    if (!m_db.open())
        throw sqlFailure(m_db.lastError());
    if (!m_sqlite) {
        // A data source name hides the driver until the driver manager has loaded it.
        if (const QString why = refusedOdbcDriver(odbcInfo(m_db, SQL_DRIVER_NAME)); !why.isEmpty()) {
            m_db.close();
            throw Failure(why);
        }
    }
    if (m_sqlite) {
        // SQLite reads the file only at the first statement, so any file would open. Reading the
        // schema (which writes nothing) makes a file that is no database fail here, with
        // SQLite's own text.
        QSqlError error;
        {
            QSqlQuery schema(m_db);
            if (!schema.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")))
                error = schema.lastError();
        }
        if (error.isValid()) {
            m_db.close();
            throw sqlFailure(error);
        }
    }
}

bool TConnection::Connected() const
{
    return m_db.isValid() && m_db.isOpen();
}

void TConnection::Close()
{
    for (TQuery *query : std::as_const(m_queries))
        query->releaseStatements();
    if (m_db.isValid() && m_db.isOpen())
        m_db.close();
}

void TConnection::BeginTrans()
{
    if (!Connected())
        Open();
    if (!m_db.transaction())
        throw sqlFailure(m_db.lastError());
}

void TConnection::CommitTrans()
{
    if (!m_db.commit())
        throw sqlFailure(m_db.lastError());
}

void TConnection::RollbackTrans()
{
    if (Connected())
        m_db.rollback();
}

QSqlDatabase TConnection::database() const
{
    return m_db;
}

bool TConnection::isSqlite() const
{
    return m_sqlite;
}

QString TConnection::identity() const
{
    if (!Connected())
        return QString();
    if (m_sqlite) {
        const QString file = m_db.databaseName();
        const QString canonical = QFileInfo(file).canonicalFilePath();
        return canonical.isEmpty() ? file : canonical;
    }
    const QString server = odbcInfo(m_db, SQL_SERVER_NAME);
    const QString database = odbcInfo(m_db, SQL_DATABASE_NAME);
    if (server.isEmpty() && database.isEmpty())
        return QString();
    return QStringLiteral("odbc:%1/%2").arg(server, database);
}

} // namespace qalu::db
