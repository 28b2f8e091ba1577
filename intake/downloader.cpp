#include "intake/downloader.h"

#include "core/logging.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace qalu {

namespace {

void initCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct CurlDeleter
{
    void operator()(CURL *handle) const { curl_easy_cleanup(handle); }
};

struct Sink
{
    QSaveFile *file = nullptr;
    qint64 received = 0;
    qint64 maxBytes = 0;
    bool tooLarge = false;
    bool writeFailed = false;
};

// A chunked body announces no length, so the size cap is enforced here as well as by libcurl.
size_t writeBody(char *data, size_t size, size_t count, void *userData)
{
    auto *sink = static_cast<Sink *>(userData);
    const auto bytes = qint64(size * count);
    if (sink->received + bytes > sink->maxBytes) {
        sink->tooLarge = true;
        return 0;
    }
    if (sink->file->write(data, bytes) != bytes) {
        sink->writeFailed = true;
        return 0;
    }
    sink->received += bytes;
    return size_t(bytes);
}

QString sizeText(qint64 bytes)
{
    return QStringLiteral("%1 bytes").arg(bytes);
}

} // namespace

DownloadResult downloadToFile(const QString &url, const QString &path, const DownloadLimits &limits)
{
    initCurlOnce();
    DownloadResult result;

    // QSaveFile writes to a uniquely named file beside the target and renames it over the target
    // only on commit(), so an old workbook is replaced whole or not at all.
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly)) {
        result.errorText
            = QStringLiteral("Cannot create a file in %1: %2")
                  .arg(QDir::toNativeSeparators(QFileInfo(path).absolutePath()), file.errorString());
        return result;
    }

    std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl) {
        file.cancelWriting();
        result.errorText = QStringLiteral("Cannot start the HTTP transfer");
        return result;
    }

    Sink sink;
    sink.file = &file;
    sink.maxBytes = limits.maxBytes;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    const QByteArray urlBytes = url.toUtf8();

    CURL *h = curl.get();
    curl_easy_setopt(h, CURLOPT_URL, urlBytes.constData());
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &writeBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, long(limits.maxRedirects));
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, long(limits.connectTimeoutSeconds));
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, long(limits.minBytesPerSecond));
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, long(limits.rateWindowSeconds));
    curl_easy_setopt(h, CURLOPT_TIMEOUT, long(limits.deadlineSeconds));
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(limits.maxBytes));

    const CURLcode code = curl_easy_perform(h);
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &result.httpStatus);

    if (sink.tooLarge || code == CURLE_FILESIZE_EXCEEDED) {
        result.errorText = QStringLiteral("The file at %1 is larger than the limit of %2")
                               .arg(url, sizeText(limits.maxBytes));
    } else if (sink.writeFailed) {
        result.errorText
            = QStringLiteral("Cannot write %1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
    } else if (code == CURLE_OPERATION_TIMEDOUT) {
        result.errorText = QStringLiteral("The transfer from %1 timed out: %2")
                               .arg(url, QString::fromLocal8Bit(errorBuffer));
    } else if (code != CURLE_OK) {
        const QString detail = errorBuffer[0] ? QString::fromLocal8Bit(errorBuffer)
                                              : QString::fromLatin1(curl_easy_strerror(code));
        result.errorText = QStringLiteral("Download of %1 failed: %2").arg(url, detail);
    } else if (result.httpStatus < 200 || result.httpStatus > 299) {
        result.errorText = QStringLiteral("The server answered %1 for %2").arg(result.httpStatus).arg(url);
    }

    if (!result.errorText.isEmpty()) {
        file.cancelWriting();
        return result;
    }
    if (!file.commit()) {
        result.errorText
            = QStringLiteral("Cannot store %1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
        return result;
    }
    result.ok = true;
    return result;
}

void removeFile(const QString &path)
{
    QFile file(path);
    if (file.exists() && !file.remove())
        qCWarning(lcDownload) << "cannot remove the price list" << path << ":" << file.errorString();
}

} // namespace qalu
