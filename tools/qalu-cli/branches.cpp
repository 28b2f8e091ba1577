#include "branches.h"

#include "core/failure_text.h"
#include "core/run_log.h"
#include "db/connection_string.h"
#include "intake/workbook_reader.h"
#include "review_register.h"
#include "update/report_json.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QSet>
#include <QTimer>

#include <xlsxwriter.h>

#include <memory>

namespace qalu::cli {

namespace {

// The line a child writes on standard error just before its first statement that may write.
constexpr char sendingMarker[] = "qalu-cli branch-run: sending statements";
constexpr int defaultJobs = 4;
constexpr int maxJobs = 64;
constexpr int defaultTimeout = 600;
// A day: a longer limit is no limit, and the timer counts milliseconds in an int.
constexpr int maxTimeout = 86400;

// The most serious first: a database changed part-way, one not reached, a report or journal
// refused, something to look at, done.
int severity(int status)
{
    switch (status) {
    case 3:
        return 4;
    case 1:
        return 3;
    case 5:
        return 2;
    case 4:
        return 1;
    case 0:
        return 0;
    default:
        return 3;
    }
}

// A child's status outside 3, 1, 5, 4, 0 (a crash, review's 73, restore's 2, a usage error)
// counts as 3 once it had started sending statements, else as 1: nothing was changed.
int ranked(int status, bool sent)
{
    if (status == 3 || status == 1 || status == 5 || status == 4 || status == 0)
        return status;
    return sent ? 3 : 1;
}

QJsonObject gridToJson(const TStringGrid &grid)
{
    QJsonArray cells;
    for (int row = 0; row < grid.RowCount(); ++row)
        grid.forEachCellInRow(row, [&](int col, QByteArrayView text) {
            cells.append(QJsonArray {
                row, col, QString::fromLatin1(QByteArray(text.data(), text.size()).toBase64()) });
        });
    return { { QStringLiteral("rows"), grid.RowCount() }, { QStringLiteral("cols"), grid.ColCount() },
        { QStringLiteral("cells"), cells } };
}

TStringGrid gridFromJson(const QJsonObject &o)
{
    TStringGrid grid;
    ClearGrid(grid);
    grid.setRowCount(o.value(QStringLiteral("rows")).toInt());
    grid.setColCount(o.value(QStringLiteral("cols")).toInt());
    for (const QJsonValue cell : o.value(QStringLiteral("cells")).toArray()) {
        const QJsonArray c = cell.toArray();
        grid.setCells(
            c.at(1).toInt(), c.at(0).toInt(), QByteArray::fromBase64(c.at(2).toString().toLatin1()));
    }
    return grid;
}

// One branch's run as the register shows it.
struct Outcome
{
    int exit = 0;
    QString outcome;
    QJsonValue counts = QJsonValue::Null;
    QJsonValue report = QJsonValue::Null;
    QString error;
    // changed, inserted, failed, attention: the text line's four counts.
    int four[4] = {};
    std::optional<int> stopRow;
    QString stopReason;
};

// The counts of a branch's own document, under that document's names.
void readCounts(const char *command, Outcome &o)
{
    const QJsonObject doc = o.report.toObject();
    o.outcome = doc.value(QStringLiteral("outcome")).toString();
    const QJsonObject stop = doc.value(QStringLiteral("stop")).toObject();
    if (!stop.isEmpty()) {
        o.stopRow = stop.value(QStringLiteral("sheet_row")).toInt();
        o.stopReason = stop.value(QStringLiteral("reason")).toString();
    }
    const QString c = QString::fromLatin1(command);
    QJsonObject counts;
    if (c == u"apply") {
        int applied = 0, failed = 0, notReached = 0, changed = 0, inserted = 0, unknown = 0;
        for (const QJsonValue v : doc.value(QStringLiteral("rows")).toArray()) {
            const QJsonObject row = v.toObject();
            const QString status = row.value(QStringLiteral("status")).toString();
            const bool insert = row.value(QStringLiteral("kind")).toString() == u"insert";
            applied += status == u"applied";
            failed += status == u"failed";
            notReached += status == u"not-reached";
            changed += row.value(QStringLiteral("changed")).toBool();
            inserted += insert && status == u"applied";
            unknown += row.value(QStringLiteral("matched")) == QJsonValue(0);
        }
        counts = { { QStringLiteral("applied"), applied }, { QStringLiteral("failed"), failed },
            { QStringLiteral("not-reached"), notReached }, { QStringLiteral("changed"), changed },
            { QStringLiteral("inserted"), inserted }, { QStringLiteral("unknown-guid"), unknown } };
        o.four[0] = changed;
        o.four[1] = inserted;
        o.four[2] = failed;
        o.four[3] = unknown;
    } else {
        counts = doc.value(c == u"review" ? QStringLiteral("summary") : QStringLiteral("counts")).toObject();
        const bool review = c == u"review";
        o.four[0] = counts.value(review ? QStringLiteral("change") : QStringLiteral("restored")).toInt();
        o.four[1] = review ? counts.value(QStringLiteral("insert")).toInt() : 0;
        o.four[2] = review ? counts.value(QStringLiteral("fails")).toInt() : 0;
        o.four[3] = counts.value(review ? QStringLiteral("attention") : QStringLiteral("left-alone")).toInt();
    }
    o.counts = counts;
}

QString registerLine(const QString &name, const Outcome &o)
{
    QString line = QStringLiteral("%1  %2  exit %3  changed %4  inserted %5  failed %6  attention %7")
                       .arg(name, o.outcome)
                       .arg(o.exit)
                       .arg(o.four[0])
                       .arg(o.four[1])
                       .arg(o.four[2])
                       .arg(o.four[3]);
    if (o.stopRow)
        line += QStringLiteral("  stop row %1: %2").arg(*o.stopRow).arg(oneLine(o.stopReason));
    if (!o.error.isEmpty())
        line += QStringLiteral("  error: ") + oneLine(o.error);
    return line;
}

// A JSON value as one workbook cell's text.
QString cellText(const QJsonValue &v)
{
    if (v.isString())
        return v.toString();
    if (v.isNull() || v.isUndefined())
        return QString();
    if (v.isBool())
        return v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    if (v.isArray()) {
        QStringList items;
        for (const QJsonValue item : v.toArray())
            items << cellText(item);
        return items.join(u' ');
    }
    return QString::fromUtf8(
        QJsonDocument(QJsonArray { v }).toJson(QJsonDocument::Compact).chopped(1).mid(1));
}

void writeCell(
    lxw_worksheet *sheet, lxw_row_t row, lxw_col_t col, const QJsonValue &v, lxw_format *fmt = nullptr)
{
    if (v.isDouble())
        worksheet_write_number(sheet, row, col, v.toDouble(), fmt);
    else if (const QString text = cellText(v); !text.isEmpty())
        worksheet_write_string(sheet, row, col, text.toUtf8().constData(), fmt);
}

// The summary sheet, then a sheet per branch with its document's rows (keys as columns).
QString writeBranchesXlsx(const QString &path, const QList<Branch> &branches, const QList<Outcome> &outcomes)
{
    return writeFileAtomically(path, [&](const QString &tempPath) -> QString {
        lxw_workbook *book = workbook_new(QFile::encodeName(tempPath).constData());
        if (!book)
            return QStringLiteral("cannot create the workbook");
        lxw_format *header = workbook_add_format(book);
        format_set_bold(header);
        lxw_worksheet *summary = workbook_add_worksheet(book, "summary");
        static const char *const titles[] = { "Branch", "Outcome", "Exit", "Changed", "Inserted", "Failed",
            "Attention", "Stop row", "Stop reason", "Error" };
        for (lxw_col_t c = 0; c < sizeof titles / sizeof *titles; ++c)
            worksheet_write_string(summary, 0, c, titles[c], header);
        for (qsizetype i = 0; i < branches.size(); ++i) {
            const Outcome &o = outcomes.at(i);
            const auto row = lxw_row_t(i + 1);
            writeCell(summary, row, 0, branches.at(i).name);
            writeCell(summary, row, 1, o.outcome);
            writeCell(summary, row, 2, o.exit);
            for (lxw_col_t c = 0; c < 4; ++c)
                writeCell(summary, row, lxw_col_t(3 + c), o.four[c]);
            if (o.stopRow)
                writeCell(summary, row, 7, *o.stopRow);
            writeCell(summary, row, 8, o.stopReason);
            writeCell(summary, row, 9, o.error);
        }
        for (qsizetype i = 0; i < branches.size(); ++i) {
            lxw_worksheet *sheet = workbook_add_worksheet(book, branches.at(i).name.toUtf8().constData());
            if (!sheet)
                break; // the failure comes with workbook_close
            const QJsonArray rows = outcomes.at(i).report.toObject().value(QStringLiteral("rows")).toArray();
            if (outcomes.at(i).report.isNull()) {
                writeCell(sheet, 0, 0, outcomes.at(i).error);
                continue;
            }
            QStringList keys;
            for (const QJsonValue row : rows)
                for (const QString &key : row.toObject().keys())
                    if (!keys.contains(key))
                        keys << key;
            for (qsizetype k = 0; k < keys.size(); ++k)
                writeCell(sheet, 0, lxw_col_t(k), keys.at(k), header);
            for (qsizetype r = 0; r < rows.size(); ++r)
                for (qsizetype k = 0; k < keys.size(); ++k)
                    writeCell(sheet, lxw_row_t(r + 1), lxw_col_t(k), rows.at(r).toObject().value(keys.at(k)));
        }
        const lxw_error error = workbook_close(book);
        return error == LXW_NO_ERROR ? QString() : QString::fromUtf8(lxw_strerror(error));
    });
}

// A positive whole number up to `max` given to `option`, or `fallback` when not given.
int count(CommandLine &line, const QCommandLineOption &option, int fallback, int min, int max)
{
    const std::optional<QString> value = line.single(option);
    if (!value)
        return fallback;
    bool ok = false;
    const int n = value->trimmed().toInt(&ok);
    if (!ok || n < min || n > max)
        line.usageError(QStringLiteral("'--%1' is a whole number from %2 to %3, not '%4'")
                            .arg(option.names().constFirst())
                            .arg(min)
                            .arg(max)
                            .arg(*value));
    return n;
}

// One child: its process, its time limit, and what it said.
struct Child
{
    std::unique_ptr<QProcess> process;
    std::unique_ptr<QTimer> timer;
    bool timedOut = false;
    bool done = false;
};

} // namespace

BranchOptions takeBranchOptions(CommandLine &line, bool withFormat)
{
    BranchOptions o { line.addValue("branches", "FILE"), line.addValue("jobs", "N"),
        line.addValue("branch-timeout", "SECONDS"), line.formatOption(),
        QCommandLineOption(QStringLiteral("xlsx"), QString(), QStringLiteral("FILE")), !withFormat };
    if (withFormat) {
        line.takeFormat();
        o.xlsx = line.addValue("xlsx", "FILE");
    }
    return o;
}

void rejectBranchOptions(CommandLine &line, const BranchOptions &options)
{
    QList<const QCommandLineOption *> only { &options.jobs, &options.timeout };
    if (!options.ownFormat)
        only << &options.format << &options.xlsx;
    for (const QCommandLineOption *option : only)
        if (line.isSet(*option))
            line.usageError(
                QStringLiteral("'--%1' goes only with --branches").arg(option->names().constFirst()));
}

QString readBranchesFile(const QString &path, QList<Branch> *branches)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot read '%1': %2").arg(path, file.errorString());
    const QList<QByteArray> lines = file.readAll().split('\n');
    QSet<QString> names;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString text = QString::fromUtf8(lines.at(i)).remove(u'\r');
        const auto problem = [&](const QString &why) {
            return QStringLiteral("'%1' line %2: %3").arg(path).arg(i + 1).arg(why);
        };
        if (text.trimmed().isEmpty() || text.trimmed().startsWith(u'#'))
            continue;
        const qsizetype tab = text.indexOf(u'\t');
        if (tab < 0)
            return problem(QStringLiteral("no tab between the name and the connection string"));
        const QString name = text.left(tab).trimmed();
        const QString connection = text.mid(tab + 1).trimmed();
        if (name.isEmpty())
            return problem(QStringLiteral("no name"));
        // The name names a worksheet of --xlsx: Excel's rules for sheet names.
        if (name.size() > 31)
            return problem(QStringLiteral("the name '%1' is longer than 31 characters").arg(name));
        for (const QChar c : name)
            if (QStringView(u"[]:*?/\\").contains(c) || c.unicode() < 0x20)
                return problem(QStringLiteral("the name '%1' holds '%2'").arg(name, c));
        if (name.startsWith(u'\'') || name.endsWith(u'\''))
            return problem(QStringLiteral("the name '%1' begins or ends with an apostrophe").arg(name));
        if (name.compare(u"summary", Qt::CaseInsensitive) == 0)
            return problem(QStringLiteral("'%1' is the summary sheet's name").arg(name));
        if (names.contains(name.toCaseFolded()))
            return problem(QStringLiteral("the name '%1' is given twice").arg(name));
        if (connection.isEmpty())
            return problem(QStringLiteral("no connection string"));
        names.insert(name.toCaseFolded());
        branches->append({ name, connection });
    }
    if (branches->isEmpty())
        return QStringLiteral("'%1' names no branch").arg(path);
    return QString();
}

int runBranches(CommandLine &line, const BranchOptions &options, BranchJob job)
{
    const QString command = QString::fromLatin1(job.command);
    if (line.isSet(line.connectionOption()))
        return line.usageError(QStringLiteral("--branches and --connection exclude each other"));
    const QString path = line.single(options.branches).value_or(QString());
    const int jobs = count(line, options.jobs, defaultJobs, 1, maxJobs);
    const int timeout = count(line, options.timeout, defaultTimeout, 1, maxTimeout);
    const OutputFormat format = line.format();
    const QString xlsx = line.single(options.xlsx).value_or(QString());
    if (line.isSet(options.xlsx) && xlsx.isEmpty())
        line.usageError(QStringLiteral("'--xlsx' needs a file name"));
    if (const std::optional<int> error = line.error())
        return *error;
    QList<Branch> branches;
    if (const QString problem = readBranchesFile(path, &branches); !problem.isEmpty())
        return line.usageError(QStringLiteral("--branches: ") + problem);
    line.checkOutputFile("xlsx", xlsx, path, QString());
    for (const Branch &branch : std::as_const(branches))
        line.checkOutputFile("xlsx", xlsx, job.workbook, branch.connection);
    if (const std::optional<int> error = line.error())
        return *error;
    line.logStart(QStringLiteral("--branches ") + path, job.separator);

    QJsonObject input = job.options;
    input.insert(QStringLiteral("command"), command);
    input.insert(QStringLiteral("workbook"), job.workbook);
    input.insert(QStringLiteral("separator"), QString(job.separator));
    if (!job.workbook.isEmpty()) {
        // Read once for all: every branch gets the very grid, and an unreadable workbook
        // touches no branch.
        TStringGrid grid;
        try {
            ClearGrid(grid);
            LoadWorkbookToGrid(grid, job.workbook, job.separator);
        } catch (...) {
            printLine(stdout, update::updateMessage(update::UpdateOutcome::ReadFailed));
            printLine(stderr,
                QStringLiteral("qalu-cli %1: ").arg(command)
                    + oneLine(failureText(std::current_exception())));
            return 2;
        }
        input.insert(QStringLiteral("grid"), gridToJson(grid));
    }

    // Each branch in a process of its own: a driver call that blocks can be ended only so.
    QList<Outcome> outcomes(branches.size());
    std::vector<Child> children(size_t(branches.size()));
    QEventLoop loop;
    qsizetype next = 0, finished = 0;
    std::function<void()> startNext;
    const auto finish = [&](qsizetype i, int status, const QString &failure) {
        Child &child = children[size_t(i)];
        if (child.done)
            return;
        child.done = true;
        child.timer->stop();
        Outcome &o = outcomes[i];
        const QString name = branches.at(i).name;
        bool sent = false;
        QStringList messages;
        for (const QByteArray &raw : child.process->readAllStandardError().split('\n')) {
            const QString text = QString::fromUtf8(raw);
            if (text == QLatin1StringView(sendingMarker))
                sent = true;
            else if (!text.isEmpty())
                messages << text;
        }
        // The branch's own lines together, each under its name.
        for (const QString &message : std::as_const(messages))
            printLine(stderr, name + QStringLiteral(": ") + message);
        const QJsonDocument doc = QJsonDocument::fromJson(child.process->readAllStandardOutput());
        if (child.timedOut) {
            o.exit = sent ? 3 : 1;
            o.outcome = QStringLiteral("time-limit");
            o.error = QStringLiteral("ended after %1 s (time limit), %2")
                          .arg(timeout)
                          .arg(sent ? QStringLiteral("statements had been sent")
                                    : QStringLiteral("before any statement was sent"));
        } else if (!failure.isEmpty()) {
            o.exit = ranked(-1, sent);
            o.outcome = QStringLiteral("crashed");
            o.error = failure;
        } else {
            o.exit = ranked(status, sent);
            if (doc.isObject()) {
                o.report = doc.object();
                readCounts(job.command, o);
            } else {
                o.outcome = status == 1 ? QStringLiteral("unreachable")
                    : status == 5       ? QStringLiteral("not-started")
                                        : QStringLiteral("failed");
            }
            if (status != 0 && status != 4)
                o.error = messages.join(QStringLiteral("; "));
            if (status != o.exit)
                o.error = QStringLiteral("exit %1: %2").arg(status).arg(o.error);
        }
        const QString logLine = QStringLiteral("branch %1: %2, exit %3").arg(name, o.outcome).arg(o.exit)
            + (o.error.isEmpty() ? QString() : QStringLiteral(": ") + oneLine(o.error));
        if (o.exit == 0)
            runlog::info(logLine);
        else
            runlog::warning(logLine);
        ++finished;
        startNext();
        if (finished == branches.size())
            loop.quit();
    };
    startNext = [&] {
        while (next < branches.size() && next - finished < jobs) {
            const qsizetype i = next++;
            Child &child = children[size_t(i)];
            child.process = std::make_unique<QProcess>();
            child.timer = std::make_unique<QTimer>();
            child.timer->setSingleShot(true);
            QProcess *process = child.process.get();
            QObject::connect(
                process, &QProcess::finished, &loop, [&, i, process](int code, QProcess::ExitStatus how) {
                    finish(i, code,
                        how == QProcess::CrashExit && !children[size_t(i)].timedOut
                            ? QStringLiteral("the branch's process crashed: ") + process->errorString()
                            : QString());
                });
            QObject::connect(
                process, &QProcess::errorOccurred, &loop, [&, i, process](QProcess::ProcessError e) {
                    if (e == QProcess::FailedToStart)
                        finish(i, -1,
                            QStringLiteral("the branch's process did not start: ") + process->errorString());
                });
            QObject::connect(child.timer.get(), &QTimer::timeout, &loop, [&, i] {
                children[size_t(i)].timedOut = true;
                children[size_t(i)].process->kill();
            });
            QJsonObject childInput = input;
            childInput.insert(QStringLiteral("connection"), branches.at(i).connection);
            // The connection string goes through the pipe, never on the command line others see.
            process->start(QCoreApplication::applicationFilePath(), { QStringLiteral("branch-run") });
            process->write(QJsonDocument(childInput).toJson(QJsonDocument::Compact));
            process->closeWriteChannel();
            child.timer->start(std::chrono::seconds(timeout));
        }
    };
    QTimer::singleShot(0, &loop, [&] { startNext(); });
    loop.exec();

    int status = 0;
    for (const Outcome &o : std::as_const(outcomes))
        if (severity(o.exit) > severity(status))
            status = o.exit;
    if (format == OutputFormat::Json) {
        QJsonArray list;
        for (qsizetype i = 0; i < branches.size(); ++i) {
            const Outcome &o = outcomes.at(i);
            list.append(QJsonObject { { QStringLiteral("name"), branches.at(i).name },
                { QStringLiteral("exit"), o.exit }, { QStringLiteral("outcome"), o.outcome },
                { QStringLiteral("counts"), o.counts }, { QStringLiteral("report"), o.report },
                { QStringLiteral("error"), o.error.isEmpty() ? QJsonValue::Null : QJsonValue(o.error) } });
        }
        printJsonLine(stdout,
            QString::fromUtf8(QJsonDocument(
                QJsonObject { { QStringLiteral("workbook"),
                                  job.workbook.isEmpty() ? QJsonValue::Null : QJsonValue(job.workbook) },
                    { QStringLiteral("branches"),
                        list } }).toJson(QJsonDocument::Compact)));
    } else {
        for (qsizetype i = 0; i < branches.size(); ++i)
            printLine(stdout, registerLine(branches.at(i).name, outcomes.at(i)));
    }
    if (!xlsx.isEmpty()) {
        if (const QString error = writeBranchesXlsx(xlsx, branches, outcomes); !error.isEmpty()) {
            printLine(stderr, QStringLiteral("qalu-cli %1: cannot write %2: %3").arg(command, xlsx, error));
            if (severity(5) > severity(status))
                status = 5;
        }
    }
    return status;
}

int runBranchChild(const QStringList &args)
{
    QFile in;
    if (!args.isEmpty() || !in.open(stdin, QIODevice::ReadOnly)) {
        printLine(stderr, QStringLiteral("qalu-cli branch-run: internal; takes its job on standard input"));
        return exitUsage;
    }
    const QJsonObject job = QJsonDocument::fromJson(in.readAll()).object();
    const auto flag = [&](const char *key) { return job.value(QLatin1StringView(key)).toBool(); };
    const auto text = [&](const char *key) { return job.value(QLatin1StringView(key)).toString(); };
    const QString command = text("command");
    const QString separator = text("separator");
    const QChar decimal = separator.isEmpty() ? QChar(u'.') : separator.at(0);
    const TStringGrid grid = gridFromJson(job.value(QStringLiteral("grid")).toObject());
    const SendingNotice sending = [] {
        std::fputs(sendingMarker, stderr);
        std::fputc('\n', stderr);
        std::fflush(stderr);
    };
    const auto document = [](const QByteArray &json) { printJsonLine(stdout, QString::fromUtf8(json)); };
    if (command == u"apply") {
        const ApplyJob apply { text("connection"), text("workbook"), decimal, text("journal_dir"),
            flag("no_journal"), flag("require_journal"), flag("atomic") };
        std::optional<update::UpdateReport> report;
        const int status = applyDatabase(apply, &grid, stderr, &report, sending);
        if (report)
            document(QJsonDocument(update::reportToJson(*report)).toJson(QJsonDocument::Compact));
        return status;
    }
    if (command == u"review") {
        quietReviewWarnings();
        const ReviewJob review { text("connection"), text("workbook"), decimal,
            job.value(QStringLiteral("change_limit")).toDouble(), flag("trial") };
        update::ReviewResult result;
        // Only the trial sends statements that write (and rolls them back).
        const int status
            = reviewDatabase(review, &grid, stderr, &result, review.trial ? sending : SendingNotice());
        if (status != exitConnection && status != 2)
            document(update::reviewToJson(review.workbook, result).toUtf8());
        return status;
    }
    if (command == u"restore") {
        const RestoreJob restore { text("connection"), text("journal_dir"), text("journal"), flag("dry_run"),
            flag("force"), flag("other_database") };
        QJsonObject doc;
        const int status = restoreDatabase(restore, nullptr, stderr, &doc, sending);
        if (!doc.isEmpty())
            document(QJsonDocument(doc).toJson(QJsonDocument::Compact));
        return status;
    }
    printLine(stderr, QStringLiteral("qalu-cli branch-run: unknown command '%1'").arg(command));
    return exitUsage;
}

} // namespace qalu::cli
