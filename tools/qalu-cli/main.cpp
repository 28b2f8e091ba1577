#include "command.h"

#include "core/run_log.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#ifdef _WIN32
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace {

UINT g_consoleCodePage = 0;

// The output is UTF-8 bytes, as on Linux: in binary mode, so a redirected file gets no CR before
// each line feed; and a console is switched to UTF-8 while the program runs, so it shows Arabic
// as written rather than through the ANSI code page.
void setUpStandardStreams()
{
    for (FILE *stream : { stdout, stderr }) {
        const int fd = _fileno(stream);
        std::fflush(stream);
        _setmode(fd, _O_BINARY);
        DWORD mode = 0;
        const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
        if (g_consoleCodePage == 0 && GetConsoleMode(handle, &mode)) {
            g_consoleCodePage = GetConsoleOutputCP();
            SetConsoleOutputCP(CP_UTF8);
            std::atexit([] { SetConsoleOutputCP(g_consoleCodePage); });
        }
    }
}

} // namespace
#endif

namespace {

using namespace qalu::cli;

const char usage[]
    = "Usage: qalu-cli COMMAND [OPTIONS] ...\n"
      "\n"
      "Commands and all their options:\n"
      "  grid [--decimal-separator C] WORKBOOK\n"
      "      Print the price grid the program reads from WORKBOOK.\n"
      "  apply --connection CONNECTION-STRING [--decimal-separator C] [--report FILE] [--atomic]\n"
      "        [--no-journal | --require-journal] [--journal-dir DIR] WORKBOOK\n"
      "      Apply WORKBOOK to the pharmacy database, as the update button does.\n"
      "  review --connection CONNECTION-STRING [--decimal-separator C] [--format text|json]\n"
      "         [--xlsx FILE] [--change-limit PERCENT] [--trial] WORKBOOK\n"
      "      Show what apply would do with WORKBOOK, row by row, without writing anything.\n"
      "  journal [--journal-dir DIR] [--connection CONNECTION-STRING] [--format text|json]\n"
      "  journal show [--journal-dir DIR] [--connection CONNECTION-STRING] [--format text|json] RUN\n"
      "      List the journals of past runs, or show one run's journal.\n"
      "  restore --connection CONNECTION-STRING [--dry-run] [--force] [--other-database]\n"
      "          [--journal-dir DIR] JOURNAL\n"
      "      Put back the prices a run changed, from its journal.\n"
      "  apply|review|restore --branches FILE [--jobs N] [--branch-timeout SECONDS]\n"
      "        [--format text|json] [--xlsx FILE] [the command's other options] WORKBOOK|JOURNAL\n"
      "      The same on every database FILE names (NAME<TAB>CONNECTION-STRING lines), each in a\n"
      "      process of its own; one combined register.\n"
      "  settings [--connection CONNECTION-STRING] [--decimal-separator C] [--journal-dir DIR]\n"
      "           [--change-limit PERCENT]\n"
      "      Show every setting, its value and where it came from.\n"
      "  support-bundle [--output FILE] [--journal-dir DIR]\n"
      "      Write one zip for support staff: the logs, the journals, the settings, the version.\n"
      "\n"
      "Every command also takes -h, --help (its own text) and --version.\n"
      "Options: -h, --help   this text;  --version   the program's version.\n"
      "'qalu-cli COMMAND --help' explains a command. Bad usage exits with status 64.\n"
      "Text output shows control characters as \\xHH and the Unicode line, paragraph and\n"
      "bidirectional controls as \\u{XXXX}; JSON output keeps the text as it is.\n";

// The whole command line of qalu-cli, the command's name first. Returns the exit status.
int dispatch(const QStringList &args)
{
    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    const QCommandLineOption help(QStringList { QStringLiteral("h"), QStringLiteral("help") });
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOption(help);
    parser.addOption(version);
    const auto usageError = [](const QString &text) {
        QString line = shownText(text);
        if (line.endsWith(u'.'))
            line.chop(1);
        std::fprintf(stderr, "qalu-cli: %s (try 'qalu-cli --help')\n", line.toUtf8().constData());
        return exitUsage;
    };
    if (!parser.parse(QStringList { QStringLiteral("qalu-cli") } + args))
        return usageError(parser.errorText());
    if (parser.isSet(help)) {
        std::fputs(usage, stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        printLine(stdout, versionLine());
        return 0;
    }
    QStringList rest = parser.positionalArguments();
    if (rest.isEmpty())
        return usageError(QStringLiteral("no command given"));
    const QString command = rest.takeFirst();
    static const struct
    {
        const char16_t *name;
        int (*run)(const QStringList &);
    } commands[] = { { u"grid", runGrid }, { u"apply", runApply }, { u"review", runReview },
        { u"journal", runJournal }, { u"restore", runRestore }, { u"settings", runSettings },
        { u"support-bundle", runSupportBundle }, { u"branch-run", runBranchChild } };
    for (const auto &c : commands) {
        if (command == QStringView(c.name)) {
            const int status = c.run(rest);
            qalu::runlog::info(QStringLiteral("%1 exited with status %2").arg(command).arg(status));
            return status;
        }
    }
    return usageError(QStringLiteral("unknown command '%1'").arg(command));
}

} // namespace

int main(int argc, char *argv[])
{
#ifdef _WIN32
    setUpStandardStreams();
#endif
    QCoreApplication app(argc, argv);
    qalu::runlog::open(QStringLiteral("qalu-cli"));
    // Standard output and error are a contract: the program's own warnings appear only when
    // asked for through QT_LOGGING_RULES.
    if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        QLoggingCategory::setFilterRules(QStringLiteral("qalu.*=false"));
    return dispatch(QCoreApplication::arguments().mid(1));
}
