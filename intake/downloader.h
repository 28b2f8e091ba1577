#pragma once

#include <QString>

namespace qalu {

// Outcome of one download: ok only when the whole body arrived with a success status and replaced
// the target file.
struct DownloadResult
{
    bool ok = false;
    long httpStatus = 0; // 0 when no response arrived
    QString errorText; // empty on success
};

// Limits of one transfer, each ending it as a failed download. The defaults are the program's:
// the price list is well under a megabyte, so a transfer that crawls or drags on for minutes has
// failed as far as the user is concerned. Tests shorten them.
struct DownloadLimits
{
    int connectTimeoutSeconds = 30;
    // Fail when the average rate stays under minBytesPerSecond for rateWindowSeconds (0 turns
    // the rule off).
    qint64 minBytesPerSecond = 1024;
    int rateWindowSeconds = 30;
    // The whole transfer, connecting and redirects included.
    int deadlineSeconds = 180;
    qint64 maxBytes = 100LL * 1024 * 1024;
    int maxRedirects = 5;
};

// Synchronous HTTP GET of `url` into `path`, through a temporary file in the same folder that
// replaces the target by rename only on complete success. Never leaves a partial file.
DownloadResult downloadToFile(const QString &url, const QString &path, const DownloadLimits &limits = {});

// Deletes the file at `path`; the result is not reported.
void removeFile(const QString &path);

} // namespace qalu
