#pragma once

#include <QString>

namespace qalu {

// Why the program must not write (or, for the downloaded workbook, replace and delete) `file`:
// it is `workbook` (the list being read), `databaseFile` (the connection's own file), or it
// exists and is no regular file (a folder, a device, a FIFO, a socket, a link to nothing).
// Links are followed and both names compared as the same file. Empty when `file` may be written.
QString outputFileProblem(const QString &file, const QString &workbook, const QString &databaseFile);

} // namespace qalu
