#include "db/connection.h"

#include "db/query.h"

#include <QAtomicInt>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>

#ifdef Q_OS_UNIX
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#endif

namespace qalu::db {

namespace {

Failure malformed(const QString &why)
{
    return Failure(QStringLiteral("Malformed connection string: ") + why);
}

// Splits "key=value;key=value" the way ADO does: keys compare without regard to case, blanks
// around keys and values are dropped, a value may be quoted with ' or " (the quote doubled inside
// stands for itself), and the last of repeated keys wins.
QHash<QString, QString> parseItems(const QString &text)
{
    QHash<QString, QString> items;
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        while (i < n && (text.at(i).isSpace() || text.at(i) == u';'))
            ++i;
        if (i >= n)
            break;
        const qsizetype eq = text.indexOf(u'=', i);
        const qsizetype semi = text.indexOf(u';', i);
        if (eq < 0 || (semi >= 0 && semi < eq))
            throw malformed(QStringLiteral("the item \"%1\" has no '='")
                                .arg(text.mid(i, (semi < 0 ? n : semi) - i).trimmed()));
        const QString key = text.mid(i, eq - i).trimmed().toLower();
        if (key.isEmpty())
            throw malformed(QStringLiteral("an item has no name"));
        i = eq + 1;
        while (i < n && text.at(i).isSpace() && text.at(i) != u';')
            ++i;
        QString value;
        if (i < n && (text.at(i) == u'"' || text.at(i) == u'\'')) {
            const QChar quote = text.at(i++);
            bool closed = false;
            while (i < n) {
                if (text.at(i) == quote) {
                    if (i + 1 < n && text.at(i + 1) == quote) {
                        value += quote;
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                value += text.at(i++);
            }
            if (!closed)
                throw malformed(QStringLiteral("the value of \"%1\" has no closing quote").arg(key));
            while (i < n && text.at(i).isSpace())
                ++i;
            if (i < n && text.at(i) != u';')
                throw malformed(QStringLiteral("text follows the quoted value of \"%1\"").arg(key));
        } else {
            const qsizetype end = text.indexOf(u';', i);
            value = text.mid(i, (end < 0 ? n : end) - i).trimmed();
            i = end < 0 ? n : end;
        }
        items.insert(key, value);
    }
    return items;
}

// An ODBC attribute value, braced when it holds characters that would end or open one.
QString odbcValue(const QString &value)
{
    if (!value.contains(u';') && !value.contains(u'{') && !value.contains(u'}') && !value.contains(u'=')
        && value.trimmed() == value)
        return value;
    QString escaped = value;
    escaped.replace(QStringLiteral("}"), QStringLiteral("}}"));
    return u'{' + escaped + u'}';
}

bool isTrue(const QString &value)
{
    const QString v = value.toLower();
    return v == u"sspi" || v == u"true" || v == u"yes";
}

bool startsWithKey(const QString &text, QLatin1StringView key)
{
    const QString t = text.trimmed();
    if (!t.startsWith(key, Qt::CaseInsensitive))
        return false;
    const QString rest = t.mid(key.size()).trimmed();
    return rest.startsWith(u'=');
}

DriverTarget mapSqlServer(const QHash<QString, QString> &items, SqlServerOdbc odbc)
{
    QString server = items.value(
        QStringLiteral("data source"), items.value(QStringLiteral("server"), QStringLiteral(".")));
    if (server.isEmpty())
        server = QStringLiteral(".");
    QStringList parts;
    if (odbc == SqlServerOdbc::Windows) {
        parts << QStringLiteral("Driver={SQL Server}");
    } else {
        // FreeTDS does not know "." or "(local)" for the local machine.
        const qsizetype slash = server.indexOf(u'\\');
        const QString host = slash < 0 ? server : server.left(slash);
        if (host == u"." || host.compare(u"(local)", Qt::CaseInsensitive) == 0)
            server = QStringLiteral("localhost") + (slash < 0 ? QString() : server.mid(slash));
        parts << QStringLiteral("Driver=FreeTDS");
    }
    parts << QStringLiteral("Server=") + odbcValue(server);
    const QString catalog
        = items.value(QStringLiteral("initial catalog"), items.value(QStringLiteral("database")));
    if (!catalog.isEmpty())
        parts << QStringLiteral("Database=") + odbcValue(catalog);
    if (isTrue(items.value(QStringLiteral("integrated security")))
        || isTrue(items.value(QStringLiteral("trusted_connection")))) {
        parts << QStringLiteral("Trusted_Connection=Yes");
    } else {
        const QString user = items.value(QStringLiteral("user id"), items.value(QStringLiteral("uid")));
        if (!user.isEmpty()) {
            parts << QStringLiteral("UID=") + odbcValue(user);
            parts << QStringLiteral("PWD=")
                    + odbcValue(items.value(QStringLiteral("password"), items.value(QStringLiteral("pwd"))));
        }
    }
    if (odbc == SqlServerOdbc::FreeTds)
        parts << QStringLiteral("TDS_Version=7.4") << QStringLiteral("ClientCharset=UTF-8");

    // Login timeout as ADO's default (15 s) unless the string names one.
    bool ok = false;
    int loginTimeout
        = items.value(QStringLiteral("connect timeout"), items.value(QStringLiteral("connection timeout")))
              .toInt(&ok);
    if (!ok || loginTimeout < 0)
        loginTimeout = 15;

    DriverTarget t;
    t.driver = QStringLiteral("QODBC");
    t.databaseName = parts.join(u';');
    t.connectOptions
        = QStringLiteral("SQL_ATTR_ODBC_VERSION=SQL_OV_ODBC3;SQL_ATTR_LOGIN_TIMEOUT=%1").arg(loginTimeout);
    return t;
}

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

} // namespace

DriverTarget mapConnectionString(const QString &connectionString)
{
#ifdef Q_OS_WIN
    return mapConnectionString(connectionString, SqlServerOdbc::Windows);
#else
    return mapConnectionString(connectionString, SqlServerOdbc::FreeTds);
#endif
}

DriverTarget mapConnectionString(const QString &connectionString, SqlServerOdbc odbc)
{
    if (connectionString.trimmed().isEmpty())
        throw malformed(QStringLiteral("it is empty"));

    // An ODBC string is handed to the ODBC driver manager as it is.
    if (startsWithKey(connectionString, QLatin1StringView("Driver"))
        || startsWithKey(connectionString, QLatin1StringView("DSN"))) {
        DriverTarget t;
        t.driver = QStringLiteral("QODBC");
        t.databaseName = connectionString;
        t.connectOptions = QStringLiteral("SQL_ATTR_ODBC_VERSION=SQL_OV_ODBC3");
        // QODBC passes a text naming a driver or server on as it is, and puts "DSN=" before any
        // other text; so a data source string loses its own "DSN=".
        if (!startsWithKey(connectionString, QLatin1StringView("Driver"))
            && !connectionString.contains(QLatin1StringView("driver="), Qt::CaseInsensitive)
            && !connectionString.contains(QLatin1StringView("server="), Qt::CaseInsensitive)
            && !connectionString.contains(QLatin1StringView(".dsn"), Qt::CaseInsensitive)) {
            const QString trimmed = connectionString.trimmed();
            t.databaseName = trimmed.mid(trimmed.indexOf(u'=') + 1).trimmed();
        }
        return t;
    }

    const QHash<QString, QString> items = parseItems(connectionString);
    const QString provider = items.value(QStringLiteral("provider"));
    if (provider.isEmpty())
        throw malformed(QStringLiteral("it names no provider"));

    const QString p = provider.toLower();
    if (p.startsWith(u"sqloledb") || p.startsWith(u"msoledbsql") || p.startsWith(u"sqlncli"))
        return mapSqlServer(items, odbc);

    if (p == u"sqlite") {
        const QString file = items.value(QStringLiteral("data source"));
        if (file.isEmpty())
            throw malformed(QStringLiteral("the SQLite provider needs a Data Source (the database file)"));
        DriverTarget t;
        t.driver = QStringLiteral("QSQLITE");
        t.databaseName = file;
        return t;
    }
    throw Failure(QStringLiteral("Unknown provider \"%1\" in the connection string").arg(provider));
}

QString trimErrorText(const QString &description)
{
    qsizetype end = description.size();
    while (end > 0 && (description.at(end - 1).unicode() <= 32 || description.at(end - 1) == u'.'))
        --end;
    return description.left(end);
}

Failure sqlFailure(const QString &description, const QString &nativeCode)
{
    bool ok = false;
    const qint64 code = nativeCode.toLongLong(&ok);
    const QString text = trimErrorText(description);
    if (!text.isEmpty())
        return Failure(text, ok ? code : 0);
    if (nativeCode.isEmpty())
        return Failure(QStringLiteral("Database error"), 0);
    return Failure(QStringLiteral("Database error %1").arg(nativeCode), ok ? code : 0);
}

Failure sqlFailure(const QSqlError &error)
{
    const QString db = error.databaseText();
    return sqlFailure(trimErrorText(db).isEmpty() ? error.driverText() : db, error.nativeErrorCode());
}

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

QSqlDatabase TConnection::database() const
{
    return m_db;
}

bool TConnection::isSqlite() const
{
    return m_sqlite;
}

} // namespace qalu::db
