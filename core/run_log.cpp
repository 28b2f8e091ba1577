#include "core/run_log.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QLoggingCategory>
#include <QMutex>
#include <QSet>
#include <QStandardPaths>
#include <QSysInfo>

#include <cstring>

namespace qalu::runlog {

namespace {

// Recursive: Qt may report through the handler while a line is being written.
QRecursiveMutex mutex;
QString programName; // empty until open()
QSet<QString> consoleWarnings; // qalu.* categories whose warnings the rules let through
QtMessageHandler previousHandler = nullptr;
QLoggingCategory::CategoryFilter previousFilter = nullptr;

bool isOurs(const char *category)
{
    return category && std::strncmp(category, "qalu.", 5) == 0;
}

void write(Level level, const QString &text)
{
    const QMutexLocker lock(&mutex);
    if (programName.isEmpty())
        return;
    const QString time = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    const QString levelText = level == Level::Info ? QStringLiteral("INFO") : QStringLiteral("WARN");
    append(folder(), time + u' ' + levelText + u' ' + programName + QStringLiteral(": ") + oneLine(text));
}

// Warnings of qalu.* are always let through to the handler, which keeps them off the console
// where the rules would have.
void filter(QLoggingCategory *category)
{
    if (previousFilter)
        previousFilter(category);
    if (!isOurs(category->categoryName()))
        return;
    const QMutexLocker lock(&mutex);
    const QString name = QString::fromLatin1(category->categoryName());
    if (category->isWarningEnabled())
        consoleWarnings.insert(name);
    else
        consoleWarnings.remove(name);
    category->setEnabled(QtWarningMsg, true);
}

void handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (passOn(type, context, message) && previousHandler)
        previousHandler(type, context, message);
}

bool rotate(const QString &dir, int kept)
{
    const auto name = [&dir](int n) {
        const QString base = dir + u'/' + fileName();
        return n == 0 ? base : base + u'.' + QString::number(n);
    };
    QFile::remove(name(kept - 1));
    for (int n = kept - 2; n >= 0; --n) {
        if (QFileInfo::exists(name(n)) && !QFile::rename(name(n), name(n + 1)))
            return false;
    }
    return true;
}

} // namespace

QString folder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/qalu-update");
}

QString oneLine(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7f && u < 0xa0))
            out += QStringLiteral("\\x%1").arg(unsigned(u), 2, 16, QLatin1Char('0'));
        else if (u == 0x2028 || u == 0x2029)
            out += QStringLiteral("\\u{%1}").arg(unsigned(u), 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

bool append(const QString &dir, const QString &line, qint64 cap, int kept)
{
    if (!QDir().mkpath(dir))
        return false;
    const QByteArray bytes = line.toUtf8() + '\n';
    const QFileInfo current(dir + u'/' + fileName());
    if (current.exists() && current.size() > 0 && current.size() + bytes.size() > cap && !rotate(dir, kept))
        return false;
    QFile file(current.filePath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    return file.write(bytes) == bytes.size();
}

void open(const QString &program)
{
    {
        const QMutexLocker lock(&mutex);
        if (!programName.isEmpty())
            return;
        programName = program;
    }
    previousHandler = qInstallMessageHandler(handler);
    previousFilter = QLoggingCategory::installFilter(filter);
}

bool passOn(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtWarningMsg || !isOurs(context.category))
        return true;
    write(Level::Warning, QString::fromLatin1(context.category) + QStringLiteral(": ") + message);
    const QMutexLocker lock(&mutex);
    return consoleWarnings.contains(QString::fromLatin1(context.category));
}

void info(const QString &text)
{
    write(Level::Info, text);
}

void warning(const QString &text)
{
    write(Level::Warning, text);
}

void start(const QString &version, QChar decimalSeparator, const QString &databaseIdentity)
{
    info(QStringLiteral("start %1 on %2; locale %3; decimal separator '%4'; database %5")
             .arg(version, QSysInfo::prettyProductName(), QLocale().name(), QString(decimalSeparator),
                 databaseIdentity.isEmpty() ? QStringLiteral("(none)") : databaseIdentity));
}

} // namespace qalu::runlog
