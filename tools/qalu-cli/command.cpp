#include "command.h"

#include "core/decimal_separator.h"
#include "core/failure_text.h"
#include "core/messages.h"
#include "db/connection_string.h"

#include <QFileInfo>
#include <QLocale>

#include <filesystem>

namespace qalu::cli {

QString versionLine()
{
    return QStringLiteral("qalu-cli " QALU_VERSION);
}

QString oneLine(QString text)
{
    text.replace(QLatin1StringView("\r\n"), QLatin1StringView(" "));
    return text.replace(u'\n', u' ').replace(u'\r', u' ');
}

QString pricesText(const QList<double> &prices)
{
    QStringList items;
    for (double price : prices)
        items << QString::number(price, 'g', QLocale::FloatingPointShortest);
    return items.join(u' ');
}

QString pricesText(const update::Prices &prices)
{
    return pricesText(QList<double>(prices.cbegin(), prices.cend()));
}

void printLine(FILE *stream, const QString &text)
{
    std::fputs(text.toUtf8().constData(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

int connectionFailure(std::exception_ptr failure, bool textOnOneLine)
{
    printLine(stdout, messages::databaseProblem());
    const QString text = failureText(failure);
    printLine(stdout, textOnOneLine ? oneLine(text) : text);
    return exitConnection;
}

CommandLine::CommandLine(const char *command, QString help)
    : m_command(QString::fromLatin1(command))
    , m_help(std::move(help))
{
    m_parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    m_parser.addOption(m_helpOption);
    m_parser.addOption(m_versionOption);
}

void CommandLine::takeConnection()
{
    m_parser.addOption(m_connection);
}

void CommandLine::takeDecimalSeparator()
{
    m_parser.addOption(m_separator);
}

void CommandLine::takeJournalDir()
{
    m_parser.addOption(m_journalDir);
}

void CommandLine::takeFormat()
{
    m_parser.addOption(m_format);
}

QCommandLineOption CommandLine::addValue(const char *name, const char *valueName)
{
    const QCommandLineOption option(QString::fromLatin1(name), QString(), QString::fromLatin1(valueName));
    m_parser.addOption(option);
    return option;
}

QCommandLineOption CommandLine::addFlag(const char *name)
{
    const QCommandLineOption option(QString::fromLatin1(name));
    m_parser.addOption(option);
    return option;
}

std::optional<int> CommandLine::parse(const QStringList &args)
{
    if (!m_parser.parse(QStringList { QStringLiteral("qalu-cli") } + args))
        return usageError(m_parser.errorText());
    if (m_parser.isSet(m_helpOption)) {
        std::fputs(m_help.toUtf8().constData(), stdout);
        return 0;
    }
    if (m_parser.isSet(m_versionOption)) {
        printLine(stdout, versionLine());
        return 0;
    }
    return std::nullopt;
}

std::optional<QString> CommandLine::single(const QCommandLineOption &option)
{
    if (m_error)
        return std::nullopt;
    const QStringList values = m_parser.values(option);
    if (values.size() > 1)
        usageError(QStringLiteral("option '--%1' given twice").arg(option.names().constLast()));
    if (values.isEmpty() || m_error)
        return std::nullopt;
    return values.constFirst();
}

QString CommandLine::connection()
{
    const std::optional<QString> value = single(m_connection);
    if (m_error)
        return QString();
    if (!value || value->trimmed().isEmpty()) {
        usageError(QStringLiteral("'--connection CONNECTION-STRING' is required"));
        return QString();
    }
    return *value;
}

std::optional<QChar> CommandLine::decimalSeparator()
{
    const std::optional<QString> value = single(m_separator);
    if (!value)
        return std::nullopt;
    if (value->size() != 1) {
        usageError(
            QStringLiteral("the decimal separator must be exactly one character, not '%1'").arg(*value));
        return std::nullopt;
    }
    if (!isUsableDecimalSeparator(value->at(0))) {
        usageError(QStringLiteral("the decimal separator cannot be '%1': a digit, sign, e, E, blank or "
                                  "control character would be read as part of the number")
                       .arg(*value));
        return std::nullopt;
    }
    return value->at(0);
}

QString CommandLine::journalDir()
{
    return single(m_journalDir).value_or(QString());
}

OutputFormat CommandLine::format()
{
    const std::optional<QString> value = single(m_format);
    if (!value || *value == u"text")
        return OutputFormat::Text;
    if (*value == u"json")
        return OutputFormat::Json;
    usageError(QStringLiteral("'--format' is text or json, not '%1'").arg(*value));
    return OutputFormat::Text;
}

QString CommandLine::onePositional(const char *what)
{
    if (m_error)
        return QString();
    const QStringList values = m_parser.positionalArguments();
    if (values.size() != 1) {
        usageError(values.isEmpty() ? QStringLiteral("no %1 given").arg(QLatin1StringView(what))
                                    : QStringLiteral("exactly one %1 expected").arg(QLatin1StringView(what)));
        return QString();
    }
    return values.constFirst();
}

int CommandLine::usageError(QString text)
{
    if (m_error)
        return *m_error;
    // One line, whatever an argument quoted in it holds; Qt's own texts end in a full stop.
    text = oneLine(text);
    if (text.endsWith(u'.'))
        text.chop(1);
    std::fprintf(stderr, "qalu-cli %s: %s (try 'qalu-cli %s --help')\n", m_command.toUtf8().constData(),
        text.toUtf8().constData(), m_command.toUtf8().constData());
    m_error = exitUsage;
    return exitUsage;
}

} // namespace qalu::cli
