#include "command_line.h"

#include "commands.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

#include <cmath>
#include <cstdio>

namespace qalu::cli {

namespace {

const char topUsage[]
    = "Usage: qalu-cli COMMAND [OPTIONS] ...\n"
      "\n"
      "Commands:\n"
      "  grid [--decimal-separator C] WORKBOOK\n"
      "      Print the price grid the program reads from WORKBOOK.\n"
      "  apply --connection CONNECTION-STRING [--decimal-separator C] WORKBOOK\n"
      "      Apply WORKBOOK to the pharmacy database, as the update button does.\n"
      "  review --connection CONNECTION-STRING [--decimal-separator C] [--format text|json]\n"
      "         [--xlsx FILE] [--change-limit PERCENT] WORKBOOK\n"
      "      Show what apply would do with WORKBOOK, row by row, without writing anything.\n"
      "  journal [--journal-dir DIR] [--format text|json]\n"
      "  journal show [--journal-dir DIR] [--format text|json] RUN\n"
      "      List the journals of past runs, or show one run's journal.\n"
      "  restore --connection CONNECTION-STRING [--dry-run] [--force] [--journal-dir DIR] JOURNAL\n"
      "      Put back the prices a run changed, from its journal.\n"
      "\n"
      "Options: -h, --help   this text;  --version   the program's version.\n"
      "'qalu-cli COMMAND --help' explains a command. Bad usage exits with status 64.\n";

const char gridHelp[]
    = "Usage: qalu-cli grid [--decimal-separator C] WORKBOOK\n"
      "\n"
      "Reads the first worksheet of the .xlsx file WORKBOOK into a fresh price grid, as the\n"
      "update button does (the grid emptied, then filled from A1 to the last used cell), and\n"
      "prints it in UTF-8:\n"
      "  line 1: RowCount<TAB>ColCount\n"
      "  then RowCount lines of ColCount cell texts separated by tabs; inside a text a\n"
      "  backslash, tab, line feed and carriage return are written as \\\\, \\t, \\n, \\r.\n"
      "\n"
      "Options (--opt=value and --opt value are the same):\n"
      "  --decimal-separator C   write numbers with the one character C (default: the\n"
      "                          locale's decimal separator, '.' when it is not one character)\n"
      "  -h, --help              show this text\n"
      "  --version               show the program's version\n"
      "\n"
      "Exit status: 0 when the workbook was read; 1 when it could not be read (the reason on\n"
      "standard error, nothing on standard output); 64 on bad usage (one line on standard error).\n";

const char applyHelp[]
    = "Usage: qalu-cli apply --connection CONNECTION-STRING [--decimal-separator C] [--report FILE]\n"
      "                     [--no-journal] [--journal-dir DIR] WORKBOOK\n"
      "\n"
      "Applies the price list WORKBOOK (.xlsx) to the pharmacy database exactly as the window's\n"
      "update button does: every row below the header updates a medicine's prices by its guid or\n"
      "inserts a new medicine (creating its category when needed); rows after sheet row 1500 are\n"
      "not read. Each statement commits by itself, so a failing row leaves the rows before it\n"
      "applied. 'qalu-cli review' shows beforehand what this would do.\n"
      "\n"
      "Options (--opt=value and --opt value are the same):\n"
      "  --connection CONNECTION-STRING  the ADO-style connection string, e.g.\n"
      "                                  \"Provider=SQLite;Data Source=/path/pharmacy.db\"\n"
      "  --decimal-separator C           the one-character decimal separator of the price texts\n"
      "                                  (default: the locale's, '.' when it is not one character)\n"
      "  --report FILE                   also write the run's report as JSON to FILE: every row\n"
      "                                  below the header with what happened to it, where and why\n"
      "                                  the run stopped, the rows cut off after row 1500\n"
      "  --no-journal                    keep no journal of this run\n"
      "  --journal-dir DIR               keep the run's journal in DIR\n"
      "  -h, --help                      show this text\n"
      "  --version                       show the program's version\n"
      "\n"
      "Output (UTF-8, standard output): the one message the window would show; after a\n"
      "connection failure the database's error text follows it. When a row fails, one line\n"
      "'row N: REASON' (N the sheet row) goes to standard error.\n"
      "Exit status:\n"
      "  0  \"تمت عملية التحديث بنجاح\" (every row applied)\n"
      "  1  connection failure: \"هناك مشكلة بالارتباط بقاعدة البيانات\" and, on the next line,\n"
      "     the database's error text, both on standard output\n"
      "  2  \"حدث خطأ بتحميل الاسعار من الموقع\" (the workbook could not be read; database untouched)\n"
      "  3  \"لم يتم تحديث جميع الاسعار بطريقة صحيحة ..يرجى اعادة التحديث\" (a row failed; the rows\n"
      "     before it stay applied)\n"
      "  5  the run ended as above but the --report FILE could not be written (one line on\n"
      "     standard error)\n"
      "  64 usage error: nothing on standard output, one line on standard error\n";

const char reviewHelp[]
    = "Usage: qalu-cli review --connection CONNECTION-STRING [--decimal-separator C]\n"
      "                       [--format text|json] [--xlsx FILE] [--change-limit PERCENT] WORKBOOK\n"
      "\n"
      "Reads the price list WORKBOOK exactly as 'qalu-cli apply' and the window do (same reader,\n"
      "rows after sheet row 1500 dropped) and tells, row by row, what applying it would do, without\n"
      "writing anything: only SELECT statements reach the database (a SQLite file is opened\n"
      "read-only) and no file is written but the one --xlsx names.\n"
      "\n"
      "What each visited row would do:\n"
      "  change        an update row: the medicine's four prices, old -> new\n"
      "  same          an update row whose four prices are already the database's\n"
      "  unknown-guid  an update row whose guid matches no medicine: the run changes nothing and\n"
      "                says nothing\n"
      "  insert        an insert row: a new medicine, its MatNum, name and category (existing,\n"
      "                or new: created by this row)\n"
      "  duplicate     an insert row whose MatNum a medicine already has (the list was applied\n"
      "                before): the run would insert it again\n"
      "  fails         the run would stop here: the cell, its text and the rule it breaks\n"
      "  not-reached   a row after the one that fails\n"
      "Marks on rows that would be applied:\n"
      "  to-zero       an empty price cell would overwrite a non-zero price with 0\n"
      "  large-change  a price moves by more than PERCENT of the old one (old prices of 0 aside)\n"
      "  same-name     a new medicine whose name a medicine already has\n"
      "The database may still refuse a statement the review cannot foresee (constraints,\n"
      "permissions, text too long for a column): the review predicts only what the workbook and\n"
      "the rows already in the database decide.\n"
      "\n"
      "Options (--opt=value and --opt value are the same):\n"
      "  --connection CONNECTION-STRING  the ADO-style connection string, as for apply\n"
      "  --decimal-separator C           the one-character decimal separator of the price texts\n"
      "                                  (default: the locale's, '.' when it is not one character)\n"
      "  --format text|json              the register as aligned text lines (default) or as one\n"
      "                                  JSON document\n"
      "  --xlsx FILE                     also write the register as a workbook to FILE\n"
      "  --change-limit PERCENT          the limit of large-change (default 50)\n"
      "  -h, --help                      show this text\n"
      "  --version                       show the program's version\n"
      "\n"
      "Exit status:\n"
      "  0  the run would complete and nothing needs a look\n"
      "  4  the run would complete, but something needs a look (an unknown guid, a duplicate,\n"
      "     dropped rows, a marked row)\n"
      "  3  the run would stop at a row\n"
      "  2  \"حدث خطأ بتحميل الاسعار من الموقع\" (the workbook could not be read), the reason on\n"
      "     the next line, both on standard output\n"
      "  1  connection failure, printed as apply prints it\n"
      "  73 the register was printed but FILE of --xlsx could not be written (the reason on\n"
      "     standard error)\n"
      "  64 usage error: nothing on standard output, one line on standard error\n";

const char journalHelp[]
    = "Usage: qalu-cli journal [--journal-dir DIR] [--format text|json]\n"
      "       qalu-cli journal show [--journal-dir DIR] [--format text|json] RUN\n"
      "\n"
      "Every run of the window and of 'qalu-cli apply' keeps a journal: the prices it was about to\n"
      "overwrite, read before its first statement, and what it did with each row. The newest 50\n"
      "are kept, one JSON file per run named by its UTC time.\n"
      "Without 'show', lists the journals, newest first: time, outcome, medicines whose prices\n"
      "the run changed, medicines it inserted, workbook, file. 'show RUN' prints one run's journal\n"
      "(RUN is a file, a file name in the folder, or 'latest').\n"
      "\n"
      "Options (--opt=value and --opt value are the same):\n"
      "  --journal-dir DIR    the journals' folder (default: the program's data folder)\n"
      "  --format text|json   aligned text lines (default) or JSON (show: the journal itself)\n"
      "  -h, --help           show this text\n"
      "  --version            show the program's version\n"
      "\n"
      "Exit status:\n"
      "  0  listed or shown (a journal that cannot be read is listed as unreadable)\n"
      "  2  the journal RUN cannot be found or read (the reason on standard error)\n"
      "  64 usage error: nothing on standard output, one line on standard error\n";

const char restoreHelp[]
    = "Usage: qalu-cli restore --connection CONNECTION-STRING [--dry-run] [--force]\n"
      "                       [--journal-dir DIR] JOURNAL\n"
      "\n"
      "Puts back the four prices (salp, price1, salp2, price2) that a run overwrote, from the run's\n"
      "journal, in one transaction: all of them or none. JOURNAL is a file, a file name in the\n"
      "journal folder ('qalu-cli journal' lists them), or 'latest'.\n"
      "A medicine whose prices are no longer what the run wrote (someone changed them since) is\n"
      "left alone and reported, unless --force. Medicines the run inserted and categories it\n"
      "created are listed, never deleted. Rows the run did not apply are not touched.\n"
      "\n"
      "Options (--opt=value and --opt value are the same):\n"
      "  --connection CONNECTION-STRING  the database, as for apply\n"
      "  --dry-run                       print what would be done, write nothing\n"
      "  --force                         put back the old prices even where they changed since\n"
      "  --journal-dir DIR               the journal folder (default: the program's data folder)\n"
      "  -h, --help                      show this text\n"
      "  --version                       show the program's version\n"
      "\n"
      "Output (standard output): one line per medicine (restored, already back, left alone),\n"
      "the inserted medicines and created categories, then a count.\n"
      "Exit status:\n"
      "  0  every changed medicine has its old prices back (or would have, with --dry-run)\n"
      "  4  restored, but some medicines were left alone\n"
      "  1  connection failure, printed as apply prints it\n"
      "  2  the journal cannot be read, is malformed, or names a medicine this database does\n"
      "     not have (the reason on standard error; nothing changed)\n"
      "  3  the database refused the restore (its reason on standard error; nothing changed)\n"
      "  64 usage error: nothing on standard output, one line on standard error\n";

// One command's options on a QCommandLineParser, with the help, version and usage-error
// handling every command shares.
class CommandLine
{
public:
    CommandLine(const char *command, const char *help)
        : m_command(QString::fromLatin1(command))
        , m_help(help)
    {
        m_parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
        m_parser.addOption(m_helpOption);
        m_parser.addOption(m_versionOption);
    }

    void add(const QCommandLineOption &option) { m_parser.addOption(option); }

    // Parses; returns the exit status when the command is over already.
    std::optional<int> parse(const QStringList &args)
    {
        if (!m_parser.parse(QStringList { QStringLiteral("qalu-cli") } + args))
            return usageError(m_parser.errorText());
        if (m_parser.isSet(m_helpOption)) {
            std::fputs(m_help, stdout);
            return 0;
        }
        if (m_parser.isSet(m_versionOption)) {
            std::printf("%s\n", versionLine().toUtf8().constData());
            return 0;
        }
        return std::nullopt;
    }

    // The one value of an option given at most once; std::nullopt when not given.
    std::optional<QString> single(const QCommandLineOption &option, std::optional<int> &error)
    {
        const QStringList values = m_parser.values(option);
        if (values.size() > 1)
            error = usageError(QStringLiteral("option '--%1' given twice").arg(option.names().constLast()));
        if (values.isEmpty())
            return std::nullopt;
        return values.constFirst();
    }

    std::optional<QChar> separator(const QCommandLineOption &option, std::optional<int> &error)
    {
        const std::optional<QString> value = single(option, error);
        if (!value || error)
            return std::nullopt;
        if (value->size() != 1) {
            error = usageError(
                QStringLiteral("the decimal separator must be exactly one character, not '%1'").arg(*value));
            return std::nullopt;
        }
        return value->at(0);
    }

    QString connection(const QCommandLineOption &option, std::optional<int> &error)
    {
        const std::optional<QString> value = single(option, error);
        if (error)
            return QString();
        if (!value || value->trimmed().isEmpty()) {
            error = usageError(QStringLiteral("'--connection CONNECTION-STRING' is required"));
            return QString();
        }
        return *value;
    }

    QString workbook(std::optional<int> &error)
    {
        const QStringList positional = m_parser.positionalArguments();
        if (positional.size() != 1) {
            error = usageError(positional.isEmpty() ? QStringLiteral("no WORKBOOK given")
                                                    : QStringLiteral("exactly one WORKBOOK expected"));
            return QString();
        }
        return positional.constFirst();
    }

    QStringList positional() const { return m_parser.positionalArguments(); }

    bool isSet(const QCommandLineOption &option) const { return m_parser.isSet(option); }

    int usageError(QString text) const
    {
        // One line, whatever an argument quoted in it holds; Qt's own texts end in a full stop.
        text.replace(u'\n', u' ').replace(u'\r', u' ');
        if (text.endsWith(u'.'))
            text.chop(1);
        std::fprintf(stderr, "qalu-cli %s: %s (try 'qalu-cli %s --help')\n", m_command.toUtf8().constData(),
            text.toUtf8().constData(), m_command.toUtf8().constData());
        return exitUsage;
    }

private:
    QString m_command;
    const char *m_help;
    QCommandLineParser m_parser;
    QCommandLineOption m_helpOption { QStringList { QStringLiteral("h"), QStringLiteral("help") } };
    QCommandLineOption m_versionOption { QStringLiteral("version") };
};

QCommandLineOption valueOption(const char *name, const char *valueName)
{
    return QCommandLineOption(QString::fromLatin1(name), QString(), QString::fromLatin1(valueName));
}

} // namespace

QString versionLine()
{
    return QStringLiteral("qalu-cli " QALU_VERSION);
}

std::optional<int> parseGrid(const QStringList &args, GridOptions &options)
{
    CommandLine line("grid", gridHelp);
    const QCommandLineOption separator = valueOption("decimal-separator", "C");
    line.add(separator);
    if (const std::optional<int> done = line.parse(args))
        return done;
    std::optional<int> error;
    options.separator = line.separator(separator, error);
    if (!error)
        options.workbook = line.workbook(error);
    return error;
}

std::optional<int> parseApply(const QStringList &args, ApplyOptions &options)
{
    CommandLine line("apply", applyHelp);
    const QCommandLineOption connection = valueOption("connection", "CONNECTION-STRING");
    const QCommandLineOption separator = valueOption("decimal-separator", "C");
    const QCommandLineOption report = valueOption("report", "FILE");
    const QCommandLineOption noJournal(QStringLiteral("no-journal"));
    const QCommandLineOption journalDir = valueOption("journal-dir", "DIR");
    for (const QCommandLineOption &option : { connection, separator, report, noJournal, journalDir })
        line.add(option);
    if (const std::optional<int> done = line.parse(args))
        return done;
    std::optional<int> error;
    options.connection = line.connection(connection, error);
    if (!error)
        options.separator = line.separator(separator, error);
    if (!error)
        options.report = line.single(report, error).value_or(QString());
    if (!error)
        options.journalDir = line.single(journalDir, error).value_or(QString());
    options.journal = !line.isSet(noJournal);
    if (!error)
        options.workbook = line.workbook(error);
    return error;
}

std::optional<int> parseReview(const QStringList &args, ReviewOptions &options)
{
    CommandLine line("review", reviewHelp);
    const QCommandLineOption connection = valueOption("connection", "CONNECTION-STRING");
    const QCommandLineOption separator = valueOption("decimal-separator", "C");
    const QCommandLineOption format = valueOption("format", "text|json");
    const QCommandLineOption xlsx = valueOption("xlsx", "FILE");
    const QCommandLineOption changeLimit = valueOption("change-limit", "PERCENT");
    for (const QCommandLineOption &option : { connection, separator, format, xlsx, changeLimit })
        line.add(option);
    if (const std::optional<int> done = line.parse(args))
        return done;
    std::optional<int> error;
    options.connection = line.connection(connection, error);
    if (!error)
        options.separator = line.separator(separator, error);
    if (!error) {
        const QString value = line.single(format, error).value_or(QStringLiteral("text"));
        if (value == u"json")
            options.format = ReviewFormat::Json;
        else if (value == u"text")
            options.format = ReviewFormat::Text;
        else if (!error)
            error = line.usageError(QStringLiteral("'--format' is text or json, not '%1'").arg(value));
    }
    if (!error) {
        options.xlsx = line.single(xlsx, error).value_or(QString());
        if (!error && line.isSet(xlsx) && options.xlsx.isEmpty())
            error = line.usageError(QStringLiteral("'--xlsx' needs a file name"));
    }
    if (!error) {
        if (const std::optional<QString> value = line.single(changeLimit, error); value && !error) {
            bool ok = false;
            const double percent = value->trimmed().toDouble(&ok);
            if (!ok || !std::isfinite(percent) || percent < 0)
                error = line.usageError(
                    QStringLiteral("'--change-limit' is a percentage of 0 or more, not '%1'").arg(*value));
            else
                options.changeLimit = percent;
        }
    }
    if (!error)
        options.workbook = line.workbook(error);
    return error;
}

std::optional<int> parseJournal(const QStringList &args, JournalOptions &options)
{
    CommandLine line("journal", journalHelp);
    const QCommandLineOption journalDir = valueOption("journal-dir", "DIR");
    const QCommandLineOption format = valueOption("format", "text|json");
    line.add(journalDir);
    line.add(format);
    if (const std::optional<int> done = line.parse(args))
        return done;
    std::optional<int> error;
    options.journalDir = line.single(journalDir, error).value_or(QString());
    if (!error) {
        const QString value = line.single(format, error).value_or(QStringLiteral("text"));
        if (value == u"json")
            options.format = ReviewFormat::Json;
        else if (value != u"text" && !error)
            error = line.usageError(QStringLiteral("'--format' is text or json, not '%1'").arg(value));
    }
    if (error)
        return error;
    const QStringList positional = line.positional();
    if (positional.isEmpty())
        return std::nullopt;
    if (positional.constFirst() != u"show")
        return line.usageError(QStringLiteral("unknown subcommand '%1'").arg(positional.constFirst()));
    if (positional.size() != 2 || positional.constLast().isEmpty())
        return line.usageError(QStringLiteral("'show' takes exactly one RUN"));
    options.run = positional.constLast();
    return std::nullopt;
}

std::optional<int> parseRestore(const QStringList &args, RestoreOptions &options)
{
    CommandLine line("restore", restoreHelp);
    const QCommandLineOption connection = valueOption("connection", "CONNECTION-STRING");
    const QCommandLineOption dryRun(QStringLiteral("dry-run"));
    const QCommandLineOption force(QStringLiteral("force"));
    const QCommandLineOption journalDir = valueOption("journal-dir", "DIR");
    for (const QCommandLineOption &option : { connection, dryRun, force, journalDir })
        line.add(option);
    if (const std::optional<int> done = line.parse(args))
        return done;
    std::optional<int> error;
    options.connection = line.connection(connection, error);
    options.dryRun = line.isSet(dryRun);
    options.force = line.isSet(force);
    if (!error)
        options.journalDir = line.single(journalDir, error).value_or(QString());
    if (!error) {
        const QStringList positional = line.positional();
        if (positional.size() != 1)
            error = line.usageError(positional.isEmpty() ? QStringLiteral("no JOURNAL given")
                                                         : QStringLiteral("exactly one JOURNAL expected"));
        else
            options.journal = positional.constFirst();
    }
    return error;
}

namespace {

// A command's options parsed, then the command run; a usage error or --help ends it first.
template <typename Options>
int parseAndRun(std::optional<int> (*parse)(const QStringList &, Options &), int (*run)(const Options &),
    const QStringList &args)
{
    Options options;
    if (const std::optional<int> done = parse(args, options))
        return *done;
    return run(options);
}

} // namespace

int dispatch(const QStringList &args)
{
    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    const QCommandLineOption help(QStringList { QStringLiteral("h"), QStringLiteral("help") });
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOption(help);
    parser.addOption(version);
    const auto usageError = [](QString text) {
        text.replace(u'\n', u' ').replace(u'\r', u' ');
        if (text.endsWith(u'.'))
            text.chop(1);
        std::fprintf(stderr, "qalu-cli: %s (try 'qalu-cli --help')\n", text.toUtf8().constData());
        return exitUsage;
    };
    if (!parser.parse(QStringList { QStringLiteral("qalu-cli") } + args))
        return usageError(parser.errorText());
    if (parser.isSet(help)) {
        std::fputs(topUsage, stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("%s\n", versionLine().toUtf8().constData());
        return 0;
    }
    QStringList rest = parser.positionalArguments();
    if (rest.isEmpty())
        return usageError(QStringLiteral("no command given"));
    const QString command = rest.takeFirst();
    if (command == u"grid")
        return parseAndRun(parseGrid, runGrid, rest);
    if (command == u"apply")
        return parseAndRun(parseApply, runApply, rest);
    if (command == u"review")
        return parseAndRun(parseReview, runReview, rest);
    if (command == u"journal")
        return parseAndRun(parseJournal, runJournal, rest);
    if (command == u"restore")
        return parseAndRun(parseRestore, runRestore, rest);
    return usageError(QStringLiteral("unknown command '%1'").arg(command));
}

} // namespace qalu::cli
