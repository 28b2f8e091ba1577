#pragma once

#include "core/settings.h"
#include "update/run_rules.h"

#include <QChar>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <exception>
#include <optional>

namespace qalu::cli {

// The exit status of every usage error (BSD's EX_USAGE): one line on standard error, nothing on
// standard output.
inline constexpr int exitUsage = 64;
// A connection that could not be opened.
inline constexpr int exitConnection = 1;

enum class OutputFormat { Text, Json };

// "qalu-cli 1.0.0"
QString versionLine();

// A text that must stay on one line: its line breaks become blanks.
QString oneLine(QString text);

// Prices as the commands print them: shortest round-trip form, separated by blanks.
QString pricesText(const QList<double> &prices);
QString pricesText(const update::Prices &prices);

// Text as the terminal is shown it: C0 and C1 controls and DEL as \xHH, the line and paragraph
// separators and the bidirectional embedding, override and isolate controls as \u{XXXX} (they could
// reorder the prices on an Arabic line); everything else, Arabic included, as it is.
QString shownText(QStringView text);

// One line in UTF-8 through shownText, flushed at once so the two streams keep their order.
void printLine(FILE *stream, const QString &text);
// One line of JSON as it is: JSON escapes what it must itself.
void printJsonLine(FILE *stream, const QString &json);

// A connection that could not be opened, as every command reports it on standard output: the
// message the window shows, then the database's text on one next line. Returns exitConnection.
// A branch's child process prints it on standard error, its standard output being its document.
int connectionFailure(std::exception_ptr failure, FILE *stream = stdout);

// One command's command line: its options on a QCommandLineParser, with the help, version and
// usage-error handling every command shares. A command declares the shared options it takes
// (so `grid --connection` is a usage error), adds its own, parses, then reads its values. The
// first usage error sticks: it is reported once, and later reads return nothing.
class CommandLine
{
public:
    CommandLine(const char *command, QString help);

    // The options several commands share.
    void takeConnection();
    void takeDecimalSeparator();
    void takeJournalDir();
    void takeFormat();

    QCommandLineOption addValue(const char *name, const char *valueName);
    QCommandLineOption addFlag(const char *name);

    // Parses; returns the exit status when the command is over already (help or version printed,
    // or a usage error).
    std::optional<int> parse(const QStringList &args);

    // The settings files' values, read once (their problems named on standard error).
    const Settings &settings();

    // The values of the shared options; where an option is not given, the settings files' value
    // (never the built-in connection).
    QString connection();
    std::optional<QChar> decimalSeparator();
    QString journalDir();
    OutputFormat format();

    // The one value of an option given at most once; std::nullopt when not given.
    std::optional<QString> single(const QCommandLineOption &option);
    // A shared option's value as given, unchecked; std::nullopt when not given.
    std::optional<QString> optional(const QCommandLineOption &option) { return single(option); }
    const QCommandLineOption &connectionOption() const { return m_connection; }
    const QCommandLineOption &decimalSeparatorOption() const { return m_separator; }
    const QCommandLineOption &journalDirOption() const { return m_journalDir; }
    const QCommandLineOption &formatOption() const { return m_format; }
    bool isSet(const QCommandLineOption &option) const { return m_parser.isSet(option); }
    QStringList positional() const { return m_parser.positionalArguments(); }
    // The one positional argument, `what` naming it in the usage error ("WORKBOOK").
    QString onePositional(const char *what);

    // A usage error when FILE, to be written by --OPTION, is the workbook the command reads, the
    // database file the connection names, or exists and is not a regular file (symbolic links
    // followed): writing it would destroy what the command guards, or a device.
    void checkOutputFile(
        const char *option, const QString &file, const QString &workbook, const QString &connectionString);

    // The log's start line for this command.
    void logStart(const QString &connectionString, QChar decimalSeparator);

    // Reports a usage error unless one was reported already; returns exitUsage.
    int usageError(QString text);
    // The usage error reported so far, as the exit status.
    std::optional<int> error() const { return m_error; }

private:
    QString m_command;
    QString m_help;
    QCommandLineParser m_parser;
    QCommandLineOption m_helpOption { QStringList { QStringLiteral("h"), QStringLiteral("help") } };
    QCommandLineOption m_versionOption { QStringLiteral("version") };
    QCommandLineOption m_connection { QStringLiteral("connection"), QString(),
        QStringLiteral("CONNECTION-STRING") };
    QCommandLineOption m_separator { QStringLiteral("decimal-separator"), QString(), QStringLiteral("C") };
    QCommandLineOption m_journalDir { QStringLiteral("journal-dir"), QString(), QStringLiteral("DIR") };
    QCommandLineOption m_format { QStringLiteral("format"), QString(), QStringLiteral("text|json") };
    std::optional<int> m_error;
    std::optional<Settings> m_settings;
};

// The commands: each takes the arguments after its name and returns the exit status.
int runGrid(const QStringList &args);
int runApply(const QStringList &args);
int runReview(const QStringList &args);
int runJournal(const QStringList &args);
int runRestore(const QStringList &args);
int runSettings(const QStringList &args);
int runSupportBundle(const QStringList &args);
// The internal command each branch of --branches runs in (undocumented: its input is the parent's).
int runBranchChild(const QStringList &args);

// The settings over the build's own values.
Settings loadSettings(QStringList *problems);

// The settings as `settings` prints them: "section/key = value  (source)", credentials removed.
QStringList settingsLines(const Settings &settings);

} // namespace qalu::cli
