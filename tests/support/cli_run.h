#pragma once

// Running qalu-cli from a test: the process's exit status and both outputs, and price list
// workbooks written by make_workbook.py (xlsxwriter). Needs QALU_CLI_PATH and QALU_WORKBOOK_PYTHON.

#include "core/failure.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

namespace qalu::testdb {

struct CliResult
{
    int exitCode = -1;
    QString out;
    QString err;
};

inline CliResult runCli(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral(QALU_CLI_PATH), args);
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit)
        throw Failure(QStringLiteral("qalu-cli did not finish: ") + p.errorString());
    return { p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
        QString::fromUtf8(p.readAllStandardError()) };
}

// The header row the price lists carry (columns A..K).
inline QJsonArray priceListHeader()
{
    QJsonArray header;
    for (const char *title :
        { "guid", "salp", "price1", "salp2", "price2", "name", "-", "category", "cop", "pharm", "form" })
        header.append(QString::fromLatin1(title));
    return header;
}

// Writes rows (header first) to dir/name.xlsx and returns its path.
inline QString writeWorkbook(
    const QTemporaryDir &dir, const QJsonArray &rows, const QString &name = QStringLiteral("prices"))
{
    const QString json = dir.filePath(name + QStringLiteral(".json"));
    const QString xlsx = dir.filePath(name + QStringLiteral(".xlsx"));
    QFile f(json);
    if (!f.open(QIODevice::WriteOnly) || f.write(QJsonDocument(rows).toJson()) < 0)
        throw Failure(QStringLiteral("cannot write ") + json);
    f.close();
    QProcess p;
    p.start(QStringLiteral(QALU_WORKBOOK_PYTHON),
        { QStringLiteral(QALU_TEST_SUPPORT_DIR "/make_workbook.py"), xlsx, json });
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        throw Failure(
            QStringLiteral("make_workbook.py failed: ") + QString::fromUtf8(p.readAllStandardError()));
    return xlsx;
}

} // namespace qalu::testdb
