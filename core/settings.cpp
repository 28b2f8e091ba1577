#include "core/settings.h"

#include "core/decimal_separator.h"
#include "core/literal_ini.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>

#include <cmath>

namespace qalu {

namespace {

constexpr const char *keyNames[Settings::keyCount]
    = { "database/connection", "download/address", "download/workbook", "price-list/date",
          "price-list/decimal-separator", "journal/folder", "review/change-limit" };

// The built-in address and workbook path name the list's date ("F4-7-2021.xlsx"): a date set
// elsewhere is put in its place.
QString withDate(const QString &builtIn, const QString &builtInDate, const QString &date)
{
    QString text = builtIn;
    return text.replace(QStringLiteral("F%1.xlsx").arg(builtInDate), QStringLiteral("F%1.xlsx").arg(date));
}

} // namespace

QString Settings::keyName(Key key)
{
    return QString::fromLatin1(keyNames[key]);
}

QString Settings::sourceName(Source source)
{
    switch (source) {
    case Source::BuiltIn:
        return QStringLiteral("built-in");
    case Source::Machine:
        return QStringLiteral("machine");
    case Source::User:
        return QStringLiteral("user");
    case Source::Environment:
        return QStringLiteral("QALU_SETTINGS");
    case Source::Option:
        break;
    }
    return QStringLiteral("option");
}

QString Settings::machineFile()
{
    const QString named = qEnvironmentVariable("QALU_MACHINE_SETTINGS");
    if (!named.isEmpty())
        return named;
#ifdef Q_OS_WIN
    return QDir::fromNativeSeparators(qEnvironmentVariable("ProgramData"))
        + QStringLiteral("/qalu-update/qalu-update.ini");
#else
    return QStringLiteral("/etc/qalu-update/qalu-update.conf");
#endif
}

QString Settings::userFile()
{
#ifdef Q_OS_WIN
    return QDir::fromNativeSeparators(qEnvironmentVariable("APPDATA"))
        + QStringLiteral("/qalu-update/qalu-update.ini");
#else
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/qalu-update/qalu-update.conf");
#endif
}

Settings Settings::load(const BuiltIns &builtIns, QStringList *problems)
{
    Settings s;
    s.m_builtIns = builtIns;
    s.m_values[Connection].value = builtIns.connection;
    s.m_values[DownloadAddress].value = builtIns.downloadAddress;
    s.m_values[Workbook].value = builtIns.workbook;
    s.m_values[PriceListDate].value = builtIns.priceListDate;
    s.m_values[DecimalSeparator].value = QString(systemDecimalSeparator());
    s.m_values[JournalFolder].value = builtIns.journalFolder;
    s.m_values[ChangeLimit].value = builtIns.changeLimit;
    // Absent files are the usual case: only a file that is there and cannot be read is a problem.
    if (QFileInfo::exists(machineFile()))
        s.readFile(machineFile(), Source::Machine, problems);
    if (QFileInfo::exists(userFile()))
        s.readFile(userFile(), Source::User, problems);
    const QString named = qEnvironmentVariable("QALU_SETTINGS");
    if (!named.isEmpty())
        s.readFile(named, Source::Environment, problems);
    return s;
}

void Settings::readFile(const QString &path, Source source, QStringList *problems)
{
    const auto report = [&](const QString &text) {
        if (problems)
            *problems << QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), text);
    };
    const QFileInfo info(path);
    if (!info.exists()) {
        report(QStringLiteral("does not exist"));
        return;
    }
    if (!info.isFile() || !info.isReadable()) {
        report(QStringLiteral("cannot be read"));
        return;
    }
    QSettings file(path, literalIniFormat());
    if (file.status() != QSettings::NoError) {
        report(QStringLiteral("cannot be read"));
        return;
    }
    for (const QString &key : file.allKeys()) {
        const QString value = file.value(key).toString();
        if (key.startsWith(QLatin1StringView(invalidLineGroup) + u'/')) {
            report(QStringLiteral("line %1 is neither [section], key=value nor a comment: %2")
                       .arg(key.mid(qsizetype(sizeof invalidLineGroup)), value));
            continue;
        }
        int known = -1;
        for (int k = 0; k < keyCount; ++k) {
            if (key.compare(QLatin1StringView(keyNames[k]), Qt::CaseInsensitive) == 0)
                known = k;
        }
        if (known < 0) {
            report(QStringLiteral("'%1' is not a known key").arg(key));
            continue;
        }
        if (const QString why = problemWith(Key(known), value); !why.isEmpty()) {
            report(QStringLiteral("%1: %2").arg(keyName(Key(known)), why));
            continue;
        }
        set(Key(known), value, source);
    }
}

QString Settings::builtIn(Key key) const
{
    switch (key) {
    case DownloadAddress:
        return withDate(m_builtIns.downloadAddress, m_builtIns.priceListDate, value(PriceListDate));
    case Workbook:
        return withDate(m_builtIns.workbook, m_builtIns.priceListDate, value(PriceListDate));
    case Connection:
        return m_builtIns.connection;
    case PriceListDate:
        return m_builtIns.priceListDate;
    case DecimalSeparator:
        return QString(systemDecimalSeparator());
    case JournalFolder:
        return m_builtIns.journalFolder;
    case ChangeLimit:
        break;
    }
    return m_builtIns.changeLimit;
}

QString Settings::setOption(Key key, const QString &value)
{
    const QString why = problemWith(key, value);
    if (why.isEmpty())
        set(key, value, Source::Option);
    return why;
}

void Settings::set(Key key, const QString &value, Source source)
{
    m_values[key] = { value, source };
    // The built-in address and workbook path follow the date, unless set themselves.
    if (key == PriceListDate) {
        if (!isSet(DownloadAddress))
            m_values[DownloadAddress].value
                = withDate(m_builtIns.downloadAddress, m_builtIns.priceListDate, value);
        if (!isSet(Workbook))
            m_values[Workbook].value = withDate(m_builtIns.workbook, m_builtIns.priceListDate, value);
    }
}

QString Settings::problemWith(Key key, const QString &value)
{
    if (value.isEmpty())
        return QStringLiteral("is empty");
    switch (key) {
    case Connection:
    case JournalFolder:
        return {};
    case DownloadAddress: {
        const QUrl url(value, QUrl::StrictMode);
        if (!url.isValid() || (url.scheme() != u"http" && url.scheme() != u"https") || url.host().isEmpty())
            return QStringLiteral("'%1' is not an http or https address").arg(value);
        return {};
    }
    case Workbook:
        if (QFileInfo(value).isRelative())
            return QStringLiteral("'%1' is not an absolute path").arg(value);
        return {};
    case PriceListDate:
        for (const QChar c : value) {
            if (c.unicode() < 32 || c == u'/' || c == u'\\' || c == u':')
                return QStringLiteral("'%1' cannot be part of a file name").arg(value);
        }
        return {};
    case DecimalSeparator:
        return decimalSeparatorProblem(value);
    case ChangeLimit: {
        bool ok = false;
        const double percent = value.toDouble(&ok);
        if (!ok || !std::isfinite(percent) || percent < 0)
            return QStringLiteral("'%1' is not a percentage of 0 or more").arg(value);
        return {};
    }
    }
    return {};
}

} // namespace qalu
