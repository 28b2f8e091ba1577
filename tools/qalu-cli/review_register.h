#pragma once

#include "update/update_report.h"

#include <QString>

namespace qalu::cli {

// The review's register as aligned text lines on standard output: a line per row, then the stop,
// the dropped rows, the new categories and the summary.
void printReviewText(const QString &workbook, const update::ReviewResult &review);

// The register as a workbook at `path`: written beside it first and renamed over it, so `path`
// holds either what it held or the whole register. Returns the failure's text, empty on success.
QString writeReviewXlsx(const QString &path, const QString &workbook, const update::ReviewResult &review);

} // namespace qalu::cli
