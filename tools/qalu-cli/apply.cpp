#include "commands.h"

#include "db/category_resolver.h"
#include "db/connection.h"
#include "db/query.h"
#include "db/update_run.h"
#include "intake/decimal_separator.h"
#include "intake/failure.h"
#include "intake/price_grid.h"
#include "intake/workbook_reader.h"

#include <cstdio>

namespace qalu::cli {

namespace {

const char applyHelp[]
    = "Usage: qalu-cli apply --connection CONNECTION-STRING [--decimal-separator C] WORKBOOK\n"
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
      "  --help                          show this text\n"
      "\n"
      "Output (UTF-8, standard output): the one message the window would show; after a\n"
      "connection failure the database's error text follows it.\n"
      "Exit status:\n"
      "  0  \"تمت عملية التحديث بنجاح\" (every row applied)\n"
      "  1  usage error: nothing on standard output, one line on standard error; or\n"
      "     connection failure: \"هناك مشكلة بالارتباط بقاعدة البيانات\" and, on the next line,\n"
      "     the database's error text, both on standard output\n"
      "  2  \"حدث خطأ بتحميل الاسعار من الموقع\" (the workbook could not be read; database untouched)\n"
      "  3  \"لم يتم تحديث جميع الاسعار بطريقة صحيحة ..يرجى اعادة التحديث\" (a row failed; the rows\n"
      "     before it stay applied)\n";

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
};

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
        if (name != QLatin1String("--connection") && name != QLatin1String("--decimal-separator"))
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
    db::TConnection ADOConnection1;
    try {
        ADOConnection1.setConnectionString(options.connection);
        ADOConnection1.Open();
    } catch (const Failure &failure) {
        printLine(stdout, QStringLiteral("هناك مشكلة بالارتباط بقاعدة البيانات"));
        // One line, even when the text quotes a file name with a line break in it.
        printLine(stdout, QString(failure.text()).replace(u'\n', u' ').replace(u'\r', u' '));
        return 1;
    } catch (const std::exception &failure) {
        printLine(stdout, QStringLiteral("هناك مشكلة بالارتباط بقاعدة البيانات"));
        printLine(stdout, QString::fromLocal8Bit(failure.what()));
        return 1;
    }

    TStringGrid StringGrid1;
    db::TQuery qgeneral(ADOConnection1, QStringLiteral("qgeneral"), 50);
    db::TQuery QGeneral6(ADOConnection1, QStringLiteral("QGeneral6"));
    db::TQuery QInsertN(ADOConnection1, QStringLiteral("QInsertN"));
    db::TQuery QFindNewCat(ADOConnection1, QStringLiteral("QFindNewCat"));
    db::TQuery QGeneral4(ADOConnection1, QStringLiteral("QGeneral4"));
    db::CategoryResolver resolver(QFindNewCat, QGeneral4, QInsertN, QGeneral6);

    const QString path = options.workbook;
    db::UpdateRun run(StringGrid1, qgeneral,
        { [&] { ClearGrid(StringGrid1); }, [&] { LoadWorkbookToGrid(StringGrid1, path); },
            [&](const QString &name) { return resolver.FindOrAddCategory(name); } });
    const db::UpdateOutcome outcome = run.run();
    printLine(stdout, db::updateMessage(outcome));
    switch (outcome) {
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
