#include "commands.h"

#include "core/decimal_separator.h"
#include "core/failure_text.h"
#include "core/messages.h"
#include "db/update_session.h"

#include <QJsonDocument>
#include <QSaveFile>

#include <cstdio>

namespace qalu::cli {

namespace {

const char applyHelp[]
    = "Usage: qalu-cli apply --connection CONNECTION-STRING [--decimal-separator C] [--report FILE]\n"
      "                     WORKBOOK\n"
      "\n"
      "Applies the price list WORKBOOK (.xlsx) to the pharmacy database exactly as the window's\n"
      "update button does: every row below the header updates a medicine's prices by its guid or\n"
      "inserts a new medicine (creating its category when needed); rows after sheet row 1500 are\n"
      "not read. Each statement commits by itself, so a failing row leaves the rows before it\n"
      "applied.\n"
      "\n"
      "Options:\n"
      "  --connection CONNECTION-STRING  the ADO-style connection string, e.g.\n"
      "                                  \"Provider=SQLite;Data Source=/path/pharmacy.db\"\n"
      "  --decimal-separator C           the one-character decimal separator of the price texts\n"
      "                                  (default: the locale's, '.' when it is not one character)\n"
      "  --report FILE                   also write the run's report as JSON to FILE: every row\n"
      "                                  below the header with what happened to it, where and why\n"
      "                                  the run stopped, the rows cut off after row 1500\n"
      "  --help                          show this text\n"
      "\n"
      "Output (UTF-8, standard output): the one message the window would show; after a\n"
      "connection failure the database's error text follows it. When a row fails, one line\n"
      "'row N: REASON' (N the sheet row) goes to standard error.\n"
      "Exit status:\n"
      "  0  \"تمت عملية التحديث بنجاح\" (every row applied)\n"
      "  1  usage error: nothing on standard output, one line on standard error; or\n"
      "     connection failure: \"هناك مشكلة بالارتباط بقاعدة البيانات\" and, on the next line,\n"
      "     the database's error text, both on standard output\n"
      "  2  \"حدث خطأ بتحميل الاسعار من الموقع\" (the workbook could not be read; database untouched)\n"
      "  3  \"لم يتم تحديث جميع الاسعار بطريقة صحيحة ..يرجى اعادة التحديث\" (a row failed; the rows\n"
      "     before it stay applied)\n"
      "  5  the run ended as above but the --report FILE could not be written (one line on\n"
      "     standard error)\n";

int usageError(const QString &text)
{
    std::fprintf(stderr, "qalu-cli apply: %s (try 'qalu-cli apply --help')\n", text.toUtf8().constData());
    return 1;
}

void printLine(FILE *stream, const QString &text)
{
    std::fputs(text.toUtf8().constData(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

struct ApplyOptions
{
    QString connection;
    bool haveConnection = false;
    QString separator;
    bool haveSeparator = false;
    QString workbook;
    QString report;
    bool haveReport = false;
};

// Writes the report whole or not at all. Returns false after a line on standard error.
bool writeReport(const QString &path, const db::UpdateReport &report)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(QJsonDocument(db::reportToJson(report)).toJson(QJsonDocument::Indented));
        if (file.commit())
            return true;
    }
    printLine(stderr,
        QStringLiteral("qalu-cli apply: cannot write the report '%1': %2").arg(path, file.errorString()));
    return false;
}

} // namespace

int runApply(const QStringList &args)
{
    ApplyOptions options;
    QStringList positional;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (optionsEnded || !arg.startsWith(QLatin1String("--")) || arg == QLatin1String("-")) {
            positional.append(arg);
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (arg == QLatin1String("--help")) {
            std::fputs(applyHelp, stdout);
            return 0;
        }
        QString name = arg;
        QString value;
        bool haveValue = false;
        if (const qsizetype eq = arg.indexOf(u'='); eq >= 0) {
            name = arg.left(eq);
            value = arg.mid(eq + 1);
            haveValue = true;
        }
        if (name != QLatin1String("--connection") && name != QLatin1String("--decimal-separator")
            && name != QLatin1String("--report"))
            return usageError(QStringLiteral("unknown option '%1'").arg(name));
        if (!haveValue) {
            if (i + 1 >= args.size())
                return usageError(QStringLiteral("option '%1' needs a value").arg(name));
            value = args.at(++i);
        }
        if (name == QLatin1String("--connection")) {
            if (options.haveConnection)
                return usageError(QStringLiteral("option '--connection' given twice"));
            options.connection = value;
            options.haveConnection = true;
        } else if (name == QLatin1String("--report")) {
            if (options.haveReport)
                return usageError(QStringLiteral("option '--report' given twice"));
            options.report = value;
            options.haveReport = true;
        } else {
            if (options.haveSeparator)
                return usageError(QStringLiteral("option '--decimal-separator' given twice"));
            options.separator = value;
            options.haveSeparator = true;
        }
    }

    if (!options.haveConnection || options.connection.trimmed().isEmpty())
        return usageError(QStringLiteral("'--connection CONNECTION-STRING' is required"));
    if (options.haveSeparator && options.separator.size() != 1)
        return usageError(QStringLiteral("the decimal separator must be exactly one character, not '%1'")
                              .arg(options.separator));
    if (positional.size() != 1)
        return usageError(positional.isEmpty() ? QStringLiteral("no WORKBOOK given")
                                               : QStringLiteral("exactly one WORKBOOK expected"));
    options.workbook = positional.first();

    if (options.haveSeparator)
        setDecimalSeparator(options.separator.at(0));

    // The window's components, in the window's order: the connection opened as at show time, then
    // the grid and the five query objects on it.
    db::UpdateSession session;
    try {
        session.open(options.connection);
    } catch (...) {
        printLine(stdout, messages::databaseProblem());
        printLine(stdout, failureText(std::current_exception()));
        return 1;
    }

    const db::UpdateReport report = session.run(options.workbook);
    printLine(stdout, db::updateMessage(report.outcome));
    if (report.stop) {
        // One line, even when the database's text runs over several.
        QString reason = report.stop->reason;
        reason.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
        printLine(stderr, QStringLiteral("row %1: %2").arg(report.stop->sheetRow).arg(reason));
    }
    if (options.haveReport && !writeReport(options.report, report))
        return 5;
    switch (report.outcome) {
    case db::UpdateOutcome::Completed:
        return 0;
    case db::UpdateOutcome::ReadFailed:
        return 2;
    case db::UpdateOutcome::RowFailed:
        break;
    }
    return 3;
}

} // namespace qalu::cli
