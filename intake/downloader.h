#pragma once

#include <QString>

namespace qalu {

// Outcome of one download: ok only when the whole body arrived with a success status and replaced
// the target file.
struct DownloadResult
{
    bool ok = false;
    long httpStatus = 0;     // 0 when no response arrived
    QString errorText;       // empty on success
};

// Limits of one transfer. The defaults are the program's; tests shorten them.
struct DownloadLimits
{
    int connectTimeoutSeconds = 30;
    int stallSeconds = 60;               // abort when under 1 byte/s for this long
    qint64 maxBytes = 100LL * 1024 * 1024;
    int maxRedirects = 5;
};

// Synchronous HTTP GET of `url` into `path`, through a temporary file in the same folder that
// replaces the target by rename only on complete success. Never leaves a partial file.
DownloadResult downloadToFile(const QString &url, const QString &path, const DownloadLimits &limits = {});

// Deletes the file at `path`; the result is not reported.
void removeFile(const QString &path);

} // namespace qalu
