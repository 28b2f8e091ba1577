// qalu-cli support-bundle: the zip holds the logs, journals, settings and version, and never a
// password, however a journal written before spelled it.

#include "support/cli_run.h"

#include <QJsonObject>
#include <QtTest>

#include <zip.h>

using namespace Qt::StringLiterals;
using qalu::testdb::runCli;

namespace {

// Every entry of the zip at `path`, by name; empty when it cannot be opened.
QMap<QString, QByteArray> zipEntries(const QString &path)
{
    QMap<QString, QByteArray> entries;
    zip_t *archive = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, nullptr);
    if (!archive)
        return entries;
    for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i) {
        zip_stat_t st;
        zip_file_t *file = zip_fopen_index(archive, zip_uint64_t(i), 0);
        if (!file || zip_stat_index(archive, zip_uint64_t(i), 0, &st) != 0)
            break;
        QByteArray bytes(qsizetype(st.size), '\0');
        if (zip_fread(file, bytes.data(), st.size) == zip_int64_t(st.size))
            entries.insert(QString::fromUtf8(st.name), bytes);
        zip_fclose(file);
    }
    zip_close(archive);
    return entries;
}

void write(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

} // namespace

class TestCliBundle : public QObject
{
    Q_OBJECT
    QTemporaryDir m_data;

private slots:
    void initTestCase()
    {
        // The log of this test's runs only.
        qputenv("XDG_DATA_HOME", m_data.path().toLocal8Bit());
    }

    // A journal's database, a settings file's connection and a failed connection in the log all
    // carry the password; no fragment of it may reach the zip.
    void noPassword_data()
    {
        QTest::addColumn<QString>("connection");
        QTest::addColumn<QStringList>("fragments");
        QTest::newRow("braced, doubled brace") << u"Provider=SQLite;Data Source=/no/such/a.db;Pwd={ab}}c}"_s
                                               << QStringList { u"ab}}c"_s, u"ab}c"_s };
        QTest::newRow("double quotes, ';' and '}'")
            << u"Provider=SQLite;Data Source=/no/such/b.db;Password=\"p;w}d\""_s
            << QStringList { u"p;w}d"_s, u"w}d"_s };
        QTest::newRow("single quotes, doubled quote")
            << u"Provider=SQLite;Data Source=/no/such/c.db;Pwd='it''s;x'"_s
            << QStringList { u"it''s"_s, u"it's"_s, u"s;x"_s };
        QTest::newRow("ODBC, user and password")
            << u"Driver={PostgreSQL Unicode};Server=127.0.0.1;Uid=pharm;PWD=Secr3t;Database=q"_s
            << QStringList { u"Secr3t"_s };
    }
    void noPassword()
    {
        QFETCH(QString, connection);
        QFETCH(QStringList, fragments);
        const QTemporaryDir dir;
        // The default journal folder, where the bundle looks without --journal-dir.
        QDir journals(m_data.filePath(u"qalu-update/journal"_s));
        journals.removeRecursively();
        const QJsonObject journal { { u"journal"_s, 2 }, { u"state"_s, u"completed"_s },
            { u"database"_s, connection } };
        write(journals.filePath(u"run-20250101T000000.000Z-00-0000.json"_s), QJsonDocument(journal).toJson());
        write(
            journals.filePath(u"run-20250102T000000.000Z-00-0000.json"_s), "not JSON " + connection.toUtf8());
        write(dir.filePath(u"settings.conf"_s), "[database]\nconnection=" + connection.toUtf8() + '\n');
        qputenv("QALU_SETTINGS", QFile::encodeName(dir.filePath(u"settings.conf"_s)));
        runCli({ u"apply"_s, u"--connection"_s, connection, dir.filePath(u"none.xlsx"_s) });

        const QString zip = dir.filePath(u"bundle.zip"_s);
        const qalu::testdb::CliResult bundle = runCli({ u"support-bundle"_s, u"--output"_s, zip });
        qunsetenv("QALU_SETTINGS");
        QCOMPARE(bundle.exitCode, 0);
        const QMap<QString, QByteArray> entries = zipEntries(zip);
        for (const char *name : { "version.txt", "settings.txt", "index.txt", "log/qalu-update.log",
                 "journal/run-20250101T000000.000Z-00-0000.json" })
            QVERIFY2(entries.contains(QString::fromLatin1(name)), name);
        QVERIFY(!entries.contains(u"journal/run-20250102T000000.000Z-00-0000.json"_s));
        QVERIFY(entries.value(u"log/qalu-update.log"_s).contains("cannot connect to"));
        for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
            for (const QString &fragment : std::as_const(fragments))
                QVERIFY2(!it.value().contains(fragment.toUtf8()), qPrintable(it.key() + u": "_s + fragment));
        }
    }

    void exitStatus_data()
    {
        QTest::addColumn<QStringList>("args"); // %1: a temporary folder
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<bool>("written");
        QTest::newRow("output a folder") << QStringList { u"--output"_s, u"%1"_s } << 64 << false;
        QTest::newRow("an argument too many") << QStringList { u"extra"_s } << 64 << false;
        QTest::newRow("output folder missing")
            << QStringList { u"--output"_s, u"%1/none/b.zip"_s } << 73 << false;
        QTest::newRow("written") << QStringList { u"--output"_s, u"%1/b.zip"_s } << 0 << true;
    }
    void exitStatus()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(bool, written);
        const QTemporaryDir dir;
        for (QString &arg : args)
            arg = arg.arg(dir.path());
        const qalu::testdb::CliResult result = runCli(QStringList { u"support-bundle"_s } + args);
        QCOMPARE(result.exitCode, exitCode);
        QCOMPARE(result.err.isEmpty(), exitCode == 0);
        QCOMPARE(QFileInfo::exists(dir.filePath(u"b.zip"_s)), written);
    }
};

QTEST_GUILESS_MAIN(TestCliBundle)
#include "tst_cli_bundle.moc"
