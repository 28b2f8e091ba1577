#pragma once

#include <QStringList>

namespace qalu::cli {

// Each command takes the arguments after its name and returns the process exit code. They write
// results to standard output and failures to standard error themselves.
int runGrid(const QStringList &args);
int runApply(const QStringList &args);

} // namespace qalu::cli
