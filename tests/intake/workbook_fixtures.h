#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

// Writes the intake workbooks (tests/support/intake_workbooks.py) into a fresh temporary folder.
// `names` limits the set; empty writes all. With QALU_TEST_WORKBOOKS naming a folder the script
// already wrote them into, they are copied from there: under Wine a Windows program can start
// the Linux Python but not wait for it.
class WorkbookFixtures
{
public:
    bool create(const QStringList &names = {})
    {
        if (!m_dir.isValid())
            return false;
        const QString ready = qEnvironmentVariable("QALU_TEST_WORKBOOKS");
        if (!ready.isEmpty()) {
            const QStringList all
                = names.isEmpty() ? QDir(ready).entryList({ QStringLiteral("*.xlsx") }, QDir::Files) : names;
            for (const QString &name : all) {
                if (!QFile::copy(QDir(ready).filePath(name), m_dir.filePath(name)))
                    return false;
            }
            return true;
        }
        QProcess python;
        python.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        python.start(QStringLiteral(QALU_WORKBOOK_PYTHON),
            QStringList { QStringLiteral(QALU_TEST_SUPPORT_DIR "/intake_workbooks.py"), m_dir.path() }
                + names);
        if (!python.waitForFinished(120000)) {
            python.kill();
            return false;
        }
        return python.exitStatus() == QProcess::NormalExit && python.exitCode() == 0;
    }
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString dir() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};
