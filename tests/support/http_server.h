#pragma once

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

// Starts tests/support/http_server.py on a free port of 127.0.0.1 for the life of the object.
// The script prints its port once it listens, so no fixed wait is needed.
class TestHttpServer
{
public:
    explicit TestHttpServer(const QString &root = {})
    {
        QStringList args { QStringLiteral(QALU_TEST_SUPPORT_DIR "/http_server.py"),
            QStringLiteral("--oversize"), QString::number(oversizeBytes), QStringLiteral("--log"),
            logPath() };
        if (!root.isEmpty())
            args << QStringLiteral("--root") << root;
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral(QALU_PYTHON), args);
        if (!m_process.waitForStarted(10000))
            return;
        while (!m_process.canReadLine() && m_process.waitForReadyRead(10000)) { }
        m_port = m_process.readLine().trimmed().toInt();
    }

    ~TestHttpServer()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    bool isRunning() const { return m_port > 0; }
    int port() const { return m_port; }
    QString url(const QString &path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path);
    }

    // The paths requested so far, in order.
    QStringList requests() const
    {
        QFile log(logPath());
        if (!log.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    // The size of /oversize and /oversize-declared.
    static constexpr qint64 oversizeBytes = 2 * 1024 * 1024;

    // A port on 127.0.0.1 on which nothing listens (taken and released at once).
    static int refusedPort()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        const int port = probe.serverPort();
        probe.close();
        return port;
    }

private:
    QString logPath() const { return m_logDir.filePath(QStringLiteral("requests.log")); }

    QTemporaryDir m_logDir;
    QProcess m_process;
    int m_port = 0;
};
