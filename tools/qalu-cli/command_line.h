#pragma once

#include <QChar>
#include <QString>
#include <QStringList>

#include <optional>

namespace qalu::cli {

// The exit status of every usage error (BSD's EX_USAGE): one line on standard error, nothing on
// standard output.
inline constexpr int exitUsage = 64;

struct GridOptions
{
    std::optional<QChar> separator;
    QString workbook;
};

struct ApplyOptions
{
    QString connection;
    std::optional<QChar> separator;
    QString workbook;
    QString report; // --report FILE; empty when not asked for
    bool journal = true; // --no-journal clears it
    QString journalDir; // --journal-dir DIR; empty for the default folder
};

enum class ReviewFormat { Text, Json };

struct ReviewOptions
{
    QString connection;
    std::optional<QChar> separator;
    QString workbook;
    ReviewFormat format = ReviewFormat::Text;
    QString xlsx; // --xlsx FILE; empty when not asked for
    double changeLimit = 50; // percent of the old price
};

struct JournalOptions
{
    QString journalDir; // empty for the default folder
    ReviewFormat format = ReviewFormat::Text;
    QString run; // `journal show RUN`; empty to list the journals
};

struct RestoreOptions
{
    QString connection;
    bool dryRun = false;
    bool force = false;
    QString journalDir; // where a JOURNAL given by name is looked for; empty for the default
    QString journal;
};

// Each parser takes the arguments after the command's name. It returns the exit status when the
// command is over already (help or version printed: 0; usage error reported: exitUsage), or
// nothing when the options are filled in and the command should run.
std::optional<int> parseGrid(const QStringList &args, GridOptions &options);
std::optional<int> parseApply(const QStringList &args, ApplyOptions &options);
std::optional<int> parseReview(const QStringList &args, ReviewOptions &options);
std::optional<int> parseJournal(const QStringList &args, JournalOptions &options);
std::optional<int> parseRestore(const QStringList &args, RestoreOptions &options);

// The whole command line of qalu-cli: the command's name first. Returns the exit status.
int dispatch(const QStringList &args);

// "qalu-cli 1.0.0"
QString versionLine();

} // namespace qalu::cli
