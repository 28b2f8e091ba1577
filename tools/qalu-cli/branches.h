#pragma once

#include "command.h"

#include "intake/price_grid.h"
#include "update/update_report.h"

#include <QJsonObject>
#include <QList>

#include <functional>
#include <optional>

namespace qalu::cli {

// Called once, just before a command sends the first statement that may write: a branch ended
// after that point may have changed its database part-way.
using SendingNotice = std::function<void()>;

// One database's apply, as `apply` and a branch's child both run it.
struct ApplyJob
{
    QString connection;
    QString workbook;
    QChar separator;
    QString journalDir;
    bool noJournal = false;
    bool requireJournal = false;
    bool atomic = false;
};

// Runs `job` on its database, with `grid` when the workbook was read already. The window's one
// message and the connection failure go to `messages`, the row lines to standard error. Returns
// apply's exit status; `report` receives the run's report when the run took place.
int applyDatabase(const ApplyJob &job, const TStringGrid *grid, FILE *messages,
    std::optional<update::UpdateReport> *report, const SendingNotice &sending = {});

struct ReviewJob
{
    QString connection;
    QString workbook;
    QChar separator;
    double changeLimit = 0;
    bool trial = false;
};

// The review of one database. A connection failure or an unreadable workbook is printed on
// `messages` and returned (1, 2); otherwise `result` is filled and 0, 3 or 4 returned.
int reviewDatabase(const ReviewJob &job, const TStringGrid *grid, FILE *messages,
    update::ReviewResult *result, const SendingNotice &sending = {});

struct RestoreJob
{
    QString connection;
    QString journalDir;
    QString journal;
    bool dryRun = false;
    bool force = false;
    bool otherDatabase = false;
};

// The restore of one database. Its text lines go to `text` when given; `document` receives the
// restore as JSON when it was done. Failures: one line on standard error (the connection failure
// on `messages`). Returns restore's exit status.
int restoreDatabase(const RestoreJob &job, FILE *text, FILE *messages, QJsonObject *document,
    const SendingNotice &sending = {});

// The review's handler of log messages (the driver's repeats of refusals left out), for a child.
void quietReviewWarnings();

// One line of a branches file.
struct Branch
{
    QString name;
    QString connection;
};

// Reads a branches file: NAME<TAB>CONNECTION-STRING lines, blank lines and # comments. Returns the
// problem (naming the line), empty when the file is good.
QString readBranchesFile(const QString &path, QList<Branch> *branches);

// The options --branches brings to apply, review and restore.
struct BranchOptions
{
    QCommandLineOption branches;
    QCommandLineOption jobs;
    QCommandLineOption timeout;
    QCommandLineOption format;
    QCommandLineOption xlsx;
    bool ownFormat = false;
};
// Declares them; `withFormat` false where the command declares --format and --xlsx itself.
BranchOptions takeBranchOptions(CommandLine &line, bool withFormat);
// A usage error for each option of --branches given without it.
void rejectBranchOptions(CommandLine &line, const BranchOptions &options);

// What the parent hands every branch besides its connection.
struct BranchJob
{
    const char *command; // "apply", "review" or "restore"
    QString workbook; // empty for restore
    QChar separator;
    QJsonObject options;
};

// The whole --branches run: the file and options checked (usage errors), the workbook read once,
// each branch run in a child of its own, the combined register printed. Returns the exit status.
int runBranches(CommandLine &line, const BranchOptions &options, BranchJob job);

} // namespace qalu::cli
