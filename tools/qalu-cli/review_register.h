#pragma once

#include "update/update_report.h"

#include <QString>

#include <functional>

namespace qalu::cli {

// The review's register as aligned text lines on standard output: a line per row, then the stop,
// the dropped rows, the new categories and the summary.
void printReviewText(const QString &workbook, const update::ReviewResult &review);

// The register as a workbook at `path`: written beside it first and renamed over it, so `path`
// holds either what it held or the whole register. Returns the failure's text, empty on success.
QString writeReviewXlsx(const QString &path, const QString &workbook, const update::ReviewResult &review);

// Has `write` fill a temporary file beside `path`, then renames it over `path`, so `path` holds
// either what it held or the whole new file. Returns the failure's text, empty on success.
QString writeFileAtomically(
    const QString &path, const std::function<QString(const QString &tempPath)> &write);

} // namespace qalu::cli
