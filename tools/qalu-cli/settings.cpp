#include "command.h"

#include "core/settings.h"
#include "db/connection_string.h"
#include "qalu_config.h"
#include "update/run_journal.h"
#include "update/run_rules.h"

namespace qalu::cli {

namespace {

const char help[]
    = "Usage: qalu-cli settings [--connection CONNECTION-STRING] [--decimal-separator C]\n"
      "                        [--journal-dir DIR] [--change-limit PERCENT]\n"
      "\n"
      "Prints every setting the window and qalu-cli work with, one line each as\n"
      "'section/key = value  (source)', the source being where the value came from:\n"
      "  built-in       the value the program was built with\n"
      "  machine        the machine-wide file (/etc/qalu-update/qalu-update.conf;\n"
      "                 %ProgramData%\\qalu-update\\qalu-update.ini on Windows)\n"
      "  user           the user's file (~/.config/qalu-update/qalu-update.conf;\n"
      "                 %APPDATA%\\qalu-update\\qalu-update.ini on Windows)\n"
      "  QALU_SETTINGS  the file that environment variable names, read last\n"
      "  option         an option of this command line\n"
      "A later source overrides an earlier one. Credentials in the connection string are not shown.\n"
      "A file that cannot be read, a key that is not known or a value that is not valid is named\n"
      "on standard error, one line each, and that key keeps the value below it.\n"
      "\n"
      "Options (--opt=value and --opt value are the same): those of the other commands, to see\n"
      "what they would work with; -h, --help; --version.\n"
      "\n"
      "Exit status: 0; 64 on bad usage (one line on standard error).\n";

} // namespace

Settings loadSettings(QStringList *problems)
{
    return Settings::load(
        { QString::fromUtf8(config::connectionString), QString::fromUtf8(config::downloadUrl),
            QString::fromUtf8(config::workbookPath), QString::fromUtf8(config::priceListDate),
            update::defaultJournalFolder(), QString::number(update::defaultChangeLimit) },
        problems);
}

QStringList settingsLines(const Settings &settings)
{
    QStringList lines;
    for (int k = 0; k < Settings::keyCount; ++k) {
        const auto key = Settings::Key(k);
        const QString value
            = key == Settings::Connection ? db::withoutCredentials(settings.value(key)) : settings.value(key);
        lines << QStringLiteral("%1 = %2  (%3)")
                     .arg(Settings::keyName(key), value, Settings::sourceName(settings.source(key)));
    }
    return lines;
}

int runSettings(const QStringList &args)
{
    CommandLine line("settings", QString::fromUtf8(help));
    line.takeConnection();
    line.takeDecimalSeparator();
    line.takeJournalDir();
    const QCommandLineOption changeLimit = line.addValue("change-limit", "PERCENT");
    if (const std::optional<int> done = line.parse(args))
        return *done;
    QStringList problems;
    Settings settings = loadSettings(&problems);
    const std::pair<Settings::Key, std::optional<QString>> options[] = {
        { Settings::Connection, line.optional(line.connectionOption()) },
        { Settings::DecimalSeparator, line.optional(line.decimalSeparatorOption()) },
        { Settings::JournalFolder, line.optional(line.journalDirOption()) },
        { Settings::ChangeLimit, line.single(changeLimit) },
    };
    for (const auto &[key, value] : options) {
        if (!value)
            continue;
        if (const QString why = settings.setOption(key, *value); !why.isEmpty())
            line.usageError(QStringLiteral("%1: %2").arg(Settings::keyName(key), why));
    }
    if (const std::optional<int> error = line.error())
        return *error;
    for (const QString &problem : std::as_const(problems))
        printLine(stderr, QStringLiteral("qalu-cli settings: ") + problem);
    for (const QString &text : settingsLines(settings))
        printLine(stdout, text);
    return 0;
}

} // namespace qalu::cli
