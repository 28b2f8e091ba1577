#include "db/connection_string.h"

#include "core/failure.h"

#include <QHash>
#include <QRegularExpression>
#include <QStringList>

namespace qalu::db {

namespace {

Failure malformed(const QString &why)
{
    return Failure(QStringLiteral("Malformed connection string: ") + why);
}

// The items as a map, the last of repeated keys winning, as ADO does.
QHash<QString, QString> parseItems(const QString &text)
{
    QHash<QString, QString> items;
    for (const ConnectionItem &item : connectionItems(text))
        items.insert(item.key, item.value);
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

} // namespace

// Blanks around keys and values are dropped; keys compare without regard to case.
QList<ConnectionItem> connectionItems(const QString &text, ValueQuoting quoting)
{
    QList<ConnectionItem> items;
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        while (i < n && (text.at(i).isSpace() || text.at(i) == u';'))
            ++i;
        if (i >= n)
            break;
        ConnectionItem item;
        item.begin = i;
        const qsizetype eq = text.indexOf(u'=', i);
        const qsizetype semi = text.indexOf(u';', i);
        if (eq < 0 || (semi >= 0 && semi < eq))
            throw malformed(QStringLiteral("the item \"%1\" has no '='")
                                .arg(text.mid(i, (semi < 0 ? n : semi) - i).trimmed()));
        item.key = text.mid(i, eq - i).trimmed().toLower();
        if (item.key.isEmpty())
            throw malformed(QStringLiteral("an item has no name"));
        i = eq + 1;
        while (i < n && text.at(i).isSpace() && text.at(i) != u';')
            ++i;
        const QChar open = i < n ? text.at(i) : QChar();
        const bool braced = quoting == ValueQuoting::AdoAndOdbcBraces && open == u'{';
        if (open == u'"' || open == u'\'' || braced) {
            const QChar close = braced ? QChar(u'}') : open;
            ++i;
            bool closed = false;
            while (i < n) {
                if (text.at(i) == close) {
                    if (i + 1 < n && text.at(i + 1) == close) {
                        item.value += close;
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                item.value += text.at(i++);
            }
            if (!closed)
                throw malformed(QStringLiteral("the value of \"%1\" has no closing quote").arg(item.key));
            while (i < n && text.at(i).isSpace())
                ++i;
            if (i < n && text.at(i) != u';')
                throw malformed(QStringLiteral("text follows the quoted value of \"%1\"").arg(item.key));
        } else {
            const qsizetype end = text.indexOf(u';', i);
            item.value = text.mid(i, (end < 0 ? n : end) - i).trimmed();
            i = end < 0 ? n : end;
        }
        if (i < n)
            ++i; // the ';' belongs to the item it ends
        item.end = i;
        items.append(item);
    }
    return items;
}

QString odbcDriverOf(const QString &odbcConnectionString)
{
    try {
        QString driver;
        for (const ConnectionItem &item :
            connectionItems(odbcConnectionString, ValueQuoting::AdoAndOdbcBraces))
            if (item.key == u"driver")
                driver = item.value;
        return driver;
    } catch (const Failure &) {
        return {}; // the driver manager reports such a string itself
    }
}

bool isMicrosoftSqlServerDriver(const QString &driver)
{
    const QString name = driver.trimmed().toLower();
    const QString file = name.mid(qMax(name.lastIndexOf(u'/'), name.lastIndexOf(u'\\')) + 1);
    static const QRegularExpression names(QStringLiteral(
        "^(sql server|odbc driver \\d+ for sql server|sql server native client \\d+(\\.\\d+)?)$"));
    return names.match(name).hasMatch() || file.startsWith(u"msodbcsql") || file.startsWith(u"libmsodbcsql")
        || file.startsWith(u"sqlncli") || file == u"sqlsrv32.dll";
}

QString refusedOdbcDriver(const QString &driver)
{
    if (!QALU_QT_ODBC_BINDS_TERMINATOR || !isMicrosoftSqlServerDriver(driver))
        return {};
    return QStringLiteral(
        "Not connecting through the ODBC driver \"%1\": the Qt %2 this program runs on binds every "
        "text with its terminating NUL character counted in the length, and a SQL Server driver "
        "of Microsoft's would store that character at the end of every text written. Connect "
        "through FreeTDS (Driver=FreeTDS;...;TDS_Version=7.4;ClientCharset=UTF-8), whose texts "
        "are not affected, or use a build of this program on a Qt without that fault")
        .arg(driver, QString::fromLatin1(qVersion()));
}

QString sqliteFileOf(const QString &connectionString)
{
    try {
        const DriverTarget target = mapConnectionString(connectionString);
        if (target.driver == u"QSQLITE")
            return target.databaseName;
    } catch (const Failure &) {
        // A string that cannot be read names no file; it fails on its own when opened.
    }
    return {};
}

QString withoutCredentials(const QString &connectionString)
{
    QList<ConnectionItem> items;
    try {
        items = connectionItems(connectionString, ValueQuoting::AdoAndOdbcBraces);
    } catch (const Failure &) {
        return QStringLiteral("(a connection string that cannot be read, not shown)");
    }
    QString text = connectionString;
    for (qsizetype k = items.size() - 1; k >= 0; --k) {
        const ConnectionItem &item = items.at(k);
        if (item.key == u"pwd" || item.key.endsWith(QLatin1StringView("password")))
            text.remove(item.begin, item.end - item.begin);
    }
    return text;
}

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

} // namespace qalu::db
