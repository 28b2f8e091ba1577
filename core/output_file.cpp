#include "core/output_file.h"

#include <QFileInfo>

#include <filesystem>
#include <system_error>

namespace qalu {

namespace {

std::filesystem::path fsPath(const QString &path)
{
    return std::filesystem::path(QFileInfo(path).absoluteFilePath().toStdU16String());
}

// Whether two names reach one file: the same inode when both exist (symbolic and hard links
// alike), else the same path once the existing part of each is resolved.
bool sameFile(const QString &a, const QString &b)
{
    std::error_code error;
    if (std::filesystem::equivalent(fsPath(a), fsPath(b), error) && !error)
        return true;
    const std::filesystem::path ca = std::filesystem::weakly_canonical(fsPath(a), error);
    if (error)
        return false;
    const std::filesystem::path cb = std::filesystem::weakly_canonical(fsPath(b), error);
    return !error && ca == cb;
}

} // namespace

QString outputFileProblem(const QString &file, const QString &workbook, const QString &databaseFile)
{
    std::error_code error;
    const std::filesystem::file_status link = std::filesystem::symlink_status(fsPath(file), error);
    const std::filesystem::file_status target = std::filesystem::status(fsPath(file), error);
    if (!workbook.isEmpty() && sameFile(file, workbook))
        return QStringLiteral("it is the workbook being read");
    if (!databaseFile.isEmpty() && sameFile(file, databaseFile))
        return QStringLiteral("it is the database file of the connection");
    if (std::filesystem::exists(link) && target.type() != std::filesystem::file_type::regular)
        return std::filesystem::is_directory(target) ? QStringLiteral("it is a folder")
            : std::filesystem::exists(target)        ? QStringLiteral("it is not a regular file")
                                                     : QStringLiteral("it is a link to nothing");
    return {};
}

} // namespace qalu
