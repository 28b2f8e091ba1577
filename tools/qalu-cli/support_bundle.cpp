#include "command.h"

#include "core/run_log.h"
#include "db/connection_string.h"
#include "update/run_journal.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <zip.h>

#include <list>

namespace qalu::cli {

namespace {

const char help[]
    = "Usage: qalu-cli support-bundle [--output FILE] [--journal-dir DIR]\n"
      "\n"
      "Writes one zip file for support staff: the log files, the journals, the effective\n"
      "settings as 'qalu-cli settings' prints them, and the version. It holds no password:\n"
      "credentials are removed from every journal's database again, whatever wrote it.\n"
      "A journal that is not JSON is left out and named in the bundle's index.\n"
      "\n"
      "Options (--opt=value and --opt value are the same):\n"
      "  --output FILE     the zip to write (default: qalu-support-YYYYMMDDTHHMMSSZ.zip, in UTC,\n"
      "                    in the current folder); refused when it exists and is not a regular file\n"
      "  --journal-dir DIR the journal folder (default: the settings' journal folder)\n"
      "  -h, --help; --version\n"
      "\n"
      "Exit status: 0 written; 64 on bad usage (one line on standard error); 73 the zip could\n"
      "not be written (one line on standard error, no file left).\n";

// BSD's EX_CANTCREAT.
constexpr int exitCannotWrite = 73;

// The whole of a small file; std::nullopt when it cannot be read.
std::optional<QByteArray> fileBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

// A journal with its database named again without credentials; std::nullopt when it is not a
// JSON object, so nothing of it can be vouched for.
std::optional<QByteArray> strippedJournal(const QByteArray &bytes)
{
    QJsonParseError error {};
    QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    QJsonObject journal = document.object();
    const auto database = journal.constFind(QStringLiteral("database"));
    if (database != journal.constEnd() && !database->isString())
        return std::nullopt;
    if (database != journal.constEnd())
        journal.insert(QStringLiteral("database"), db::withoutCredentials(database->toString()));
    return QJsonDocument(journal).toJson(QJsonDocument::Indented);
}

// The zip's entries, kept alive until the archive is closed.
struct Entries
{
    std::list<std::pair<QString, QByteArray>> files;
    void add(const QString &name, QByteArray bytes) { files.emplace_back(name, std::move(bytes)); }
};

// Writes `entries` to `path` whole (libzip writes a temporary file and renames it on close).
// Returns why not, empty when written.
QString writeZip(const QString &path, const Entries &entries)
{
    int error = 0;
    zip_t *archive = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive) {
        zip_error_t e;
        zip_error_init_with_code(&e, error);
        const QString why = QString::fromUtf8(zip_error_strerror(&e));
        zip_error_fini(&e);
        return why;
    }
    for (const auto &[name, bytes] : entries.files) {
        zip_source_t *source = zip_source_buffer(archive, bytes.constData(), zip_uint64_t(bytes.size()), 0);
        if (!source || zip_file_add(archive, name.toUtf8().constData(), source, ZIP_FL_ENC_UTF_8) < 0) {
            const QString why = QString::fromUtf8(zip_strerror(archive));
            zip_source_free(source);
            zip_discard(archive);
            return why;
        }
    }
    if (zip_close(archive) != 0) {
        const QString why = QString::fromUtf8(zip_strerror(archive));
        zip_discard(archive);
        return why;
    }
    return {};
}

} // namespace

int runSupportBundle(const QStringList &args)
{
    CommandLine line("support-bundle", QString::fromUtf8(help));
    line.takeJournalDir();
    const QCommandLineOption outputOption = line.addValue("output", "FILE");
    if (const std::optional<int> done = line.parse(args))
        return *done;
    if (!line.positional().isEmpty())
        line.usageError(QStringLiteral("unexpected argument '%1'").arg(line.positional().constFirst()));
    const QString output = line.single(outputOption)
                               .value_or(QDateTime::currentDateTimeUtc().toString(
                                   QStringLiteral("'qalu-support-'yyyyMMdd'T'HHmmss'Z.zip'")));
    // Empty: the default folder, as the other commands take it.
    QString journalDir = line.journalDir();
    if (journalDir.isEmpty())
        journalDir = update::defaultJournalFolder();
    const Settings &settings = line.settings();
    line.checkOutputFile("output", output, QString(), settings.value(Settings::Connection));
    if (const std::optional<int> error = line.error())
        return *error;

    Entries entries;
    QStringList index;
    entries.add(QStringLiteral("version.txt"), versionLine().toUtf8() + '\n');
    entries.add(QStringLiteral("settings.txt"), settingsLines(settings).join(u'\n').toUtf8() + '\n');
    const QDir logs(runlog::folder());
    for (const QString &name : logs.entryList({ runlog::fileName() + u'*' }, QDir::Files, QDir::Name)) {
        if (const std::optional<QByteArray> bytes = fileBytes(logs.filePath(name)))
            entries.add(QStringLiteral("log/") + name, *bytes);
        else
            index << QStringLiteral("log/%1: left out, it cannot be read").arg(name);
    }
    for (const QString &path : update::journalFiles(journalDir)) {
        const QString name = QFileInfo(path).fileName();
        std::optional<QByteArray> journal;
        try {
            journal = strippedJournal(update::readJournalFile(path));
        } catch (...) {
        }
        if (journal)
            entries.add(QStringLiteral("journal/") + name, *journal);
        else
            index << QStringLiteral("journal/%1: left out, it cannot be read as a journal").arg(name);
    }
    index.prepend(QStringLiteral("journal folder: ") + journalDir);
    index.prepend(QStringLiteral("log folder: ") + logs.path());
    entries.add(QStringLiteral("index.txt"), index.join(u'\n').toUtf8() + '\n');

    if (const QString why = writeZip(output, entries); !why.isEmpty()) {
        printLine(stderr, QStringLiteral("qalu-cli support-bundle: %1: %2").arg(output, why));
        return exitCannotWrite;
    }
    runlog::info(QStringLiteral("support bundle %1").arg(QFileInfo(output).absoluteFilePath()));
    printLine(stdout, output);
    return 0;
}

} // namespace qalu::cli
