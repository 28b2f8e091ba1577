#include "update/run_journal.h"

#include "core/failure.h"
#include "update/report_json.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLockFile>

#include <cerrno>
#include <cstring>
#include <filesystem>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace qalu::update {

namespace {

// Why the folder entry `path` is not read as a journal; empty when it is a regular file within
// the cap. Symlinks are followed: a link to a device is a device.
QString whyNotAJournalFile(const QString &path)
{
    std::error_code error;
    const std::filesystem::path p(path.toStdU16String());
    const std::filesystem::file_status status = std::filesystem::status(p, error);
    if (error)
        return QStringLiteral("skipped: cannot be examined (%1)")
            .arg(QString::fromLocal8Bit(error.message()));
    switch (status.type()) {
    case std::filesystem::file_type::regular:
        break;
    case std::filesystem::file_type::directory:
        return QStringLiteral("skipped: a folder, not a file");
    case std::filesystem::file_type::fifo:
        return QStringLiteral("skipped: a FIFO, not a regular file");
    case std::filesystem::file_type::character:
    case std::filesystem::file_type::block:
        return QStringLiteral("skipped: a device, not a regular file");
    case std::filesystem::file_type::socket:
        return QStringLiteral("skipped: a socket, not a regular file");
    default:
        return QStringLiteral("skipped: not a regular file");
    }
    const auto size = std::filesystem::file_size(p, error);
    if (error)
        return QStringLiteral("skipped: cannot be examined (%1)")
            .arg(QString::fromLocal8Bit(error.message()));
    if (size > std::uintmax_t(journalSizeCap))
        return QStringLiteral("skipped: larger than %1 MiB").arg(journalSizeCap / (1024 * 1024));
    return QString();
}

} // namespace

QList<JournalFile> journalFolderEntries(const QString &folder)
{
    const QDir dir(folder);
    const QStringList names = dir.entryList({ QStringLiteral("run-*.json") },
        QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    QList<JournalFile> entries;
    for (const QString &name : names)
        entries.append({ dir.filePath(name), whyNotAJournalFile(dir.filePath(name)) });
    return entries;
}

QStringList journalFiles(const QString &folder)
{
    QStringList paths;
    for (const JournalFile &entry : journalFolderEntries(folder)) {
        if (entry.skipped.isEmpty())
            paths << entry.path;
    }
    return paths;
}

QByteArray readJournalFile(const QString &path)
{
    QFile file;
#ifdef Q_OS_UNIX
    // Opened without waiting (a FIFO would block) and checked on the open file itself, so a
    // swapped entry cannot slip a device in between the look and the read.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        throw BadInput(
            QStringLiteral("%1: cannot be read: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw BadInput(QStringLiteral("%1: not a regular file").arg(path));
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        throw BadInput(QStringLiteral("%1: cannot be read: %2").arg(path, file.errorString()));
    }
#else
    if (const QString why = whyNotAJournalFile(path); !why.isEmpty())
        throw BadInput(QStringLiteral("%1: %2").arg(path, why));
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly))
        throw BadInput(QStringLiteral("%1: cannot be read: %2").arg(path, file.errorString()));
#endif
    const QByteArray bytes = file.read(journalSizeCap + 1);
    if (bytes.size() > journalSizeCap)
        throw BadInput(QStringLiteral("%1: larger than %2 MiB, not a journal")
                           .arg(path)
                           .arg(journalSizeCap / (1024 * 1024)));
    if (file.error() != QFileDevice::NoError)
        throw BadInput(QStringLiteral("%1: cannot be read: %2").arg(path, file.errorString()));
    return bytes;
}

bool journalRunning(const QString &path)
{
    const QString lockPath = path + QStringLiteral(".lock");
    if (!QFileInfo::exists(lockPath))
        return false;
    QLockFile lock(lockPath);
    // Only a live holder counts, however long its run takes.
    lock.setStaleLockTime(0);
    if (lock.tryLock(0)) {
        lock.unlock();
        return false;
    }
    return lock.error() == QLockFile::LockFailedError;
}

QString findJournal(const QString &folder, const QString &name, const QString &database)
{
    if (name == u"latest") {
        QStringList files = journalFiles(folder);
        std::reverse(files.begin(), files.end());
        for (const QString &file : std::as_const(files)) {
            if (database.isEmpty())
                return file;
            try {
                if (readJournal(file).identity == database)
                    return file;
            } catch (const BadInput &) {
                // An unreadable journal is no database's.
            }
        }
        if (database.isEmpty())
            throw BadInput(QStringLiteral("no journals in '%1'").arg(folder));
        throw BadInput(QStringLiteral("no journals of the database %1 in '%2'").arg(database, folder));
    }
    if (QFileInfo(name).isFile())
        return name;
    const QString inFolder = QDir(folder).filePath(name);
    if (!name.contains(u'/') && QFileInfo(inFolder).isFile())
        return inFolder;
    throw BadInput(QStringLiteral("no journal '%1' (nor in '%2')").arg(name, folder));
}

} // namespace qalu::update
