#pragma once

#include "command_line.h"

#include <QString>

#include <cstdio>

namespace qalu::cli {

// Each command runs with its parsed options and returns the process exit code. They write
// results to standard output and failures to standard error themselves.
int runGrid(const GridOptions &options);
int runApply(const ApplyOptions &options);
int runReview(const ReviewOptions &options);
int runJournal(const JournalOptions &options);
int runRestore(const RestoreOptions &options);

// One line in UTF-8, flushed at once so the two streams keep their order.
inline void printLine(FILE *stream, const QString &text)
{
    std::fputs(text.toUtf8().constData(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

} // namespace qalu::cli
