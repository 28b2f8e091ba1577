#include "intake/downloader.h"

#include "support/http_server.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace qalu;

namespace {

QByteArray goodBody()
{
    QByteArray block;
    for (int i = 0; i < 256; ++i)
        block.append(char(i));
    return QByteArrayLiteral("PK-good-body-") + block.repeated(64);
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(data), data.size());
}

QStringList entries(const QTemporaryDir &dir)
{
    return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace

class TestDownloader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void storesTheBody_data();
    void storesTheBody();
    void failureLeavesNothingBehind_data();
    void failureLeavesNothingBehind();
    void missingFolderIsAFailure();
    void removeToleratesAMissingFile();

private:
    std::unique_ptr<TestHttpServer> m_server;
};

void TestDownloader::initTestCase()
{
    m_server = std::make_unique<TestHttpServer>();
    QVERIFY2(m_server->isRunning(), "the test HTTP server did not start");
}

void TestDownloader::storesTheBody_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("oldFile");
    QTest::newRow("new file") << QStringLiteral("/good") << false;
    QTest::newRow("old file replaced whole") << QStringLiteral("/good") << true;
    QTest::newRow("redirect followed") << QStringLiteral("/redirect") << false;
}

void TestDownloader::storesTheBody()
{
    QFETCH(QString, path);
    QFETCH(bool, oldFile);
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("F4-7-2021.xlsx"));
    if (oldFile)
        writeFile(target, QByteArray(300000, 'o'));

    const DownloadResult result = downloadToFile(m_server->url(path), target);

    QVERIFY2(result.ok, qPrintable(result.errorText));
    QCOMPARE(result.httpStatus, 200L);
    QCOMPARE(result.errorText, QString());
    QCOMPARE(readAll(target), goodBody());
    QCOMPARE(entries(dir), QStringList { QStringLiteral("F4-7-2021.xlsx") });
}

void TestDownloader::failureLeavesNothingBehind_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("errorPart");
    QTest::addColumn<long>("status");
    QTest::addColumn<int>("minBytesPerSecond");
    QTest::addColumn<int>("deadlineSeconds");

    QTest::newRow("connection refused")
        << QStringLiteral("http://127.0.0.1:%1/good").arg(TestHttpServer::refusedPort())
        << QStringLiteral("failed") << 0L << 1024 << 30;
    QTest::newRow("404") << QStringLiteral("/missing") << QStringLiteral("404") << 404L << 1024 << 30;
    QTest::newRow("server closes mid-body")
        << QStringLiteral("/truncated") << QStringLiteral("failed") << 200L << 1024 << 30;
    QTest::newRow("chunked body over the cap")
        << QStringLiteral("/oversize") << QStringLiteral("limit") << 200L << 1024 << 30;
    QTest::newRow("announced length over the cap")
        << QStringLiteral("/oversize-declared") << QStringLiteral("limit") << 200L << 1024 << 30;
    QTest::newRow("redirect loop") << QStringLiteral("/redirect-loop") << QStringLiteral("failed") << 302L
                                   << 1024 << 30;
    QTest::newRow("stalled transfer")
        << QStringLiteral("/stall") << QStringLiteral("timed out") << 200L << 1024 << 30;
    QTest::newRow("scheme other than http")
        << QStringLiteral("file:///etc/passwd") << QStringLiteral("failed") << 0L << 1024 << 30;
    // A byte a second: under the minimum rate, or, with that rule off, past the deadline.
    QTest::newRow("drip under the minimum rate")
        << QStringLiteral("/drip") << QStringLiteral("timed out") << 200L << 1024 << 30;
    QTest::newRow("drip past the deadline")
        << QStringLiteral("/drip") << QStringLiteral("timed out") << 200L << 0 << 2;
}

// A failed download keeps an earlier file as it was and leaves no temporary file.
void TestDownloader::failureLeavesNothingBehind()
{
    QFETCH(QString, url);
    QFETCH(QString, errorPart);
    QFETCH(long, status);
    QFETCH(int, minBytesPerSecond);
    QFETCH(int, deadlineSeconds);
    if (url.startsWith(QLatin1Char('/')))
        url = m_server->url(url);
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("F4-7-2021.xlsx"));
    const QByteArray old("an earlier workbook");
    writeFile(target, old);

    DownloadLimits limits;
    limits.maxBytes = 1024 * 1024;
    limits.minBytesPerSecond = minBytesPerSecond;
    limits.rateWindowSeconds = 1;
    limits.deadlineSeconds = deadlineSeconds;
    limits.connectTimeoutSeconds = 2;
    QElapsedTimer timer;
    timer.start();
    const DownloadResult result = downloadToFile(url, target, limits);
    QVERIFY2(timer.elapsed() < 6000, qPrintable(QString::number(timer.elapsed())));

    QVERIFY(!result.ok);
    QVERIFY2(result.errorText.contains(errorPart), qPrintable(result.errorText));
    QCOMPARE(result.httpStatus, status);
    QCOMPARE(readAll(target), old);
    QCOMPARE(entries(dir), QStringList { QStringLiteral("F4-7-2021.xlsx") });
}

void TestDownloader::missingFolderIsAFailure()
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("no-such-folder/F4-7-2021.xlsx"));
    const DownloadResult result = downloadToFile(m_server->url(QStringLiteral("/good")), target);
    QVERIFY(!result.ok);
    QVERIFY2(result.errorText.contains(QStringLiteral("no-such-folder")), qPrintable(result.errorText));
    QVERIFY(!QFile::exists(target));
}

void TestDownloader::removeToleratesAMissingFile()
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("F4-7-2021.xlsx"));
    writeFile(target, "x");
    removeFile(target);
    QVERIFY(!QFile::exists(target));
    removeFile(target);
    QVERIFY(!QFile::exists(target));
}

QTEST_GUILESS_MAIN(TestDownloader)
#include "tst_downloader.moc"
