// What Qt's ODBC driver binds for a text the query objects bind, seen by the tests' logging ODBC
// driver (tests/odbc-log-driver) through the real driver manager: the length indicator counts the
// terminating U+0000 exactly when the build believes so (QALU_QT_ODBC_BINDS_TERMINATOR).

#include "db/connection.h"
#include "db/query.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#ifdef _WIN32
#include <windows.h> // the ODBC headers use its types there
#endif
#include <sql.h>
#include <sqlext.h>

using namespace qalu::db;

class TestOdbcBinding : public QObject
{
    Q_OBJECT

private:
    QString m_driver;

private slots:
    void initTestCase()
    {
        // Under Wine the Linux build's driver, named by scripts/check-windows.
        m_driver = qEnvironmentVariable("QALU_ODBC_LOG_DRIVER");
#ifdef QALU_ODBC_LOG_DRIVER
        if (m_driver.isEmpty())
            m_driver = QStringLiteral(QALU_ODBC_LOG_DRIVER);
#endif
        if (m_driver.isEmpty())
            QSKIP("no logging ODBC driver (QALU_ODBC_LOG_DRIVER)");
    }

    void text_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("Arabic: abc and U+0645") << QStringLiteral("abc\u0645");
        // 127 characters are 254 bytes: a counted terminator also turns the type into the long one.
        QTest::newRow("127 characters") << QString(127, u'x');
        // Bound as an empty text, not as NULL.
        QTest::newRow("empty") << QStringLiteral("");
    }

    void text()
    {
        QFETCH(QString, text);
        // Under Wine drive Z: is the host's root, where the driver (a Linux library) writes.
        QTemporaryDir dir(QDir::currentPath() + QStringLiteral("/odbc-log-XXXXXX"));
        QVERIFY(dir.isValid());
        QString log = dir.filePath(QStringLiteral("log"));
#ifdef Q_OS_WIN
        if (!log.startsWith(QStringLiteral("Z:"), Qt::CaseInsensitive))
            QSKIP("needs Wine's drive Z: for the host's paths");
        log = log.mid(2);
#endif
        {
            TConnection connection;
            connection.setConnectionString(QStringLiteral("Driver=%1;Log=%2").arg(m_driver, log));
            TQuery query(connection, QStringLiteral("ADOQuery1"));
            query.setText(QStringLiteral("update Medicine set Name = :Name where ID = 1"));
            query.setString(0, text);
            QCOMPARE(query.ExecSQL(), 1);
        }

        QFile file(dir.filePath(QStringLiteral("log")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QByteArray line;
        for (const QByteArray &l : file.readAll().split('\n'))
            if (l.startsWith("param 1 "))
                line = l;
        qInfo("%s", line.constData());

        const qsizetype bytes = text.size() * 2 + (QALU_QT_ODBC_BINDS_TERMINATOR ? 2 : 0);
        QByteArray hex;
        for (const QChar c : text)
            hex += ' ' + QByteArray::number(c.unicode() & 0xff, 16).rightJustified(2, '0') + ' '
                + QByteArray::number(c.unicode() >> 8, 16).rightJustified(2, '0');
        if (QALU_QT_ODBC_BINDS_TERMINATOR)
            hex += " 00 00";
        const QByteArray expected = QByteArray("param 1 c_type ") + QByteArray::number(SQL_C_WCHAR)
            + " sql_type " + QByteArray::number(bytes > 254 ? SQL_WLONGVARCHAR : SQL_WVARCHAR)
            + " column_size " + QByteArray::number(bytes) + " buffer_length "
            + QByteArray::number(text.size() * 2 + 2) + " indicator " + QByteArray::number(bytes) + " bytes"
            + hex;
        QCOMPARE(line.left(expected.size()), expected);
    }
};

QTEST_GUILESS_MAIN(TestOdbcBinding)
#include "tst_odbc_binding.moc"
