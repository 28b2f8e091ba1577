#pragma once

#include "command_line.h"

namespace qalu::cli {

// Each command runs with its parsed options and returns the process exit code. They write
// results to standard output and failures to standard error themselves.
int runGrid(const GridOptions &options);
int runApply(const ApplyOptions &options);
int runReview(const ReviewOptions &options);
int runJournal(const JournalOptions &options);
int runRestore(const RestoreOptions &options);

} // namespace qalu::cli
