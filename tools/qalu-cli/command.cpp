#include "command.h"

#include "core/decimal_separator.h"
#include "core/failure_text.h"
#include "core/messages.h"
#include "core/output_file.h"
#include "core/run_log.h"
#include "db/connection_string.h"

#include <QFileInfo>
#include <QLocale>

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

QString shownText(QStringView text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7f && u <= 0x9f))
            shown += QStringLiteral("\\x") + QString::number(uint(u), 16).toUpper().rightJustified(2, u'0');
        else if ((u >= 0x2028 && u <= 0x202e) || (u >= 0x2066 && u <= 0x2069))
            shown += QStringLiteral("\\u{%1}").arg(QString::number(uint(u), 16).toUpper());
        else
            shown += c;
    }
    return shown;
}

namespace {

void writeLine(FILE *stream, const QString &text)
{
    std::fputs(text.toUtf8().constData(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

} // namespace

void printLine(FILE *stream, const QString &text)
{
    writeLine(stream, shownText(text));
}

void printJsonLine(FILE *stream, const QString &json)
{
    writeLine(stream, json);
}

int connectionFailure(std::exception_ptr failure, FILE *stream)
{
    printLine(stream, messages::databaseProblem());
    printLine(stream, oneLine(failureText(failure)));
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
    if (value && !value->trimmed().isEmpty())
        return *value;
    // A settings file's connection serves, never the built-in one: a support person's command
    // must not land on a database nobody named.
    if (!value && settings().isSet(Settings::Connection))
        return settings().value(Settings::Connection);
    usageError(QStringLiteral("'--connection CONNECTION-STRING' is required (or a settings file's "
                              "[database] connection)"));
    return QString();
}

const Settings &CommandLine::settings()
{
    if (!m_settings) {
        QStringList problems;
        m_settings = loadSettings(&problems);
        for (const QString &problem : std::as_const(problems))
            printLine(stderr, QStringLiteral("qalu-cli %1: %2").arg(m_command, problem));
    }
    return *m_settings;
}

std::optional<QChar> CommandLine::decimalSeparator()
{
    const std::optional<QString> value = single(m_separator);
    if (!value && !m_error && settings().isSet(Settings::DecimalSeparator))
        return settings().value(Settings::DecimalSeparator).at(0);
    if (!value)
        return std::nullopt;
    if (const QString why = decimalSeparatorProblem(*value); !why.isEmpty()) {
        usageError(why);
        return std::nullopt;
    }
    return value->at(0);
}

QString CommandLine::journalDir()
{
    const std::optional<QString> value = single(m_journalDir);
    if (!value && !m_error && settings().isSet(Settings::JournalFolder))
        return settings().value(Settings::JournalFolder);
    return value.value_or(QString());
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

void CommandLine::checkOutputFile(
    const char *option, const QString &file, const QString &workbook, const QString &connectionString)
{
    if (m_error || file.isEmpty())
        return;
    if (const QString problem = outputFileProblem(file, workbook, db::sqliteFileOf(connectionString));
        !problem.isEmpty())
        usageError(
            QStringLiteral("'--%1' will not write '%2': %3").arg(QLatin1StringView(option), file, problem));
}

int CommandLine::usageError(QString text)
{
    if (m_error)
        return *m_error;
    // One line, whatever an argument quoted in it holds; Qt's own texts end in a full stop.
    text = shownText(text);
    if (text.endsWith(u'.'))
        text.chop(1);
    std::fprintf(stderr, "qalu-cli %s: %s (try 'qalu-cli %s --help')\n", m_command.toUtf8().constData(),
        text.toUtf8().constData(), m_command.toUtf8().constData());
    m_error = exitUsage;
    return exitUsage;
}

void CommandLine::logStart(const QString &connectionString, QChar decimalSeparator)
{
    runlog::start(
        versionLine() + u' ' + m_command, decimalSeparator, db::withoutCredentials(connectionString));
}

} // namespace qalu::cli
