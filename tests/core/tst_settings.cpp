// The settings files: the literal INI form and the order of the sources.

#include "core/literal_ini.h"
#include "core/settings.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QtTest>

using qalu::Settings;

namespace {

void write(const QString &path, const QByteArray &text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

const Settings::BuiltIns builtIns { QStringLiteral("Provider=SQLite;Data Source=/built/in.db"),
    QStringLiteral("http://maker.example/upload/F4-7-2021.xlsx"), QStringLiteral("/var/tmp/F4-7-2021.xlsx"),
    QStringLiteral("4-7-2021"), QStringLiteral("/built/in/journal"), QStringLiteral("50") };

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT
private slots:
    void literalIni_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::newRow("backslash kept")
            << QByteArray("[database]\nconnection=Data Source=.\\sqlexpress\n") << "database/connection"
            << "Data Source=.\\sqlexpress";
        QTest::newRow("semicolons, quotes, braces, '=' kept")
            << QByteArray("[database]\nconnection = Provider=X;Pwd=\"a;b\";Uid={u=1} \n")
            << "database/connection"
            << "Provider=X;Pwd=\"a;b\";Uid={u=1}";
        QTest::newRow("commas are not lists")
            << QByteArray("[download]\naddress=http://h/a,b.xlsx\n") << "download/address"
            << "http://h/a,b.xlsx";
        QTest::newRow("CR LF, BOM, comments")
            << QByteArray("\xEF\xBB\xBF; c\r\n# c\r\n[journal]\r\nfolder=C:\\j\r\n") << "journal/folder"
            << "C:\\j";
        QTest::newRow("a line that is none of them")
            << QByteArray("[a]\nno equals sign\n")
            << QStringLiteral("%1/2").arg(QLatin1StringView(qalu::invalidLineGroup)) << "no equals sign";
    }
    void literalIni()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QBuffer in(&text);
        QVERIFY(in.open(QIODevice::ReadOnly));
        QSettings::SettingsMap map;
        QVERIFY(qalu::readLiteralIni(in, map));
        QCOMPARE(map.value(key).toString(), value);
        // What is written reads back the same.
        QBuffer out;
        QVERIFY(out.open(QIODevice::WriteOnly));
        QVERIFY(qalu::writeLiteralIni(out, map));
        QBuffer again(&out.buffer());
        QVERIFY(again.open(QIODevice::ReadOnly));
        QSettings::SettingsMap reread;
        QVERIFY(qalu::readLiteralIni(again, reread));
        QCOMPARE(reread, map);
    }

    // Built-in < machine < user < QALU_SETTINGS < option, key by key; a bad value or an unknown
    // key is named and changes nothing; the built-in address and path follow the date.
    void sourcesInOrder()
    {
        QTemporaryDir dir;
        const QString machine = dir.filePath(QStringLiteral("etc/qalu-update.conf"));
        const QString named = dir.filePath(QStringLiteral("support.conf"));
        qputenv("QALU_MACHINE_SETTINGS", machine.toUtf8());
        // The user's file, wherever the platform keeps it, inside the test's own folder.
        qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("home")).toUtf8());
        qputenv("APPDATA", QDir::toNativeSeparators(dir.filePath(QStringLiteral("home"))).toUtf8());
        qputenv("QALU_SETTINGS", named.toUtf8());
        write(machine,
            "[database]\nconnection=Provider=SQLite;Data Source=/machine.db\n[price-list]\ndate=1-1-2027\n"
            "[review]\nchange-limit=30\n");
        write(Settings::userFile(),
            "[review]\nchange-limit=20\n[price-list]\ndecimal-separator=5\nno-such-key=1\n");
        write(named, "[review]\nchange-limit=10\n[journal]\nfolder=/support/journal\n");

        QStringList problems;
        Settings s = Settings::load(builtIns, &problems);
        QCOMPARE(s.setOption(Settings::JournalFolder, QStringLiteral("/option/journal")), QString());

        QCOMPARE(s.value(Settings::Connection), QStringLiteral("Provider=SQLite;Data Source=/machine.db"));
        QCOMPARE(s.source(Settings::Connection), Settings::Source::Machine);
        QCOMPARE(s.value(Settings::ChangeLimit), QStringLiteral("10"));
        QCOMPARE(s.source(Settings::ChangeLimit), Settings::Source::Environment);
        QCOMPARE(s.value(Settings::JournalFolder), QStringLiteral("/option/journal"));
        QCOMPARE(s.source(Settings::DecimalSeparator), Settings::Source::BuiltIn);
        QCOMPARE(
            s.value(Settings::DownloadAddress), QStringLiteral("http://maker.example/upload/F1-1-2027.xlsx"));
        QCOMPARE(s.value(Settings::Workbook), QStringLiteral("/var/tmp/F1-1-2027.xlsx"));
        QCOMPARE(s.source(Settings::Workbook), Settings::Source::BuiltIn);
        QCOMPARE(problems.size(), 2);
        QVERIFY2(problems.at(0).contains(QLatin1StringView("price-list/decimal-separator")),
            qPrintable(problems.at(0)));
        QVERIFY2(problems.at(1).contains(QLatin1StringView("'price-list/no-such-key' is not a known key")),
            qPrintable(problems.at(1)));
        QVERIFY(!s.setOption(Settings::DownloadAddress, QStringLiteral("ftp://x/y")).isEmpty());
        qunsetenv("QALU_MACHINE_SETTINGS");
        qunsetenv("QALU_SETTINGS");
    }

    void separatorRule_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("point") << "." << true;
        QTest::newRow("comma") << "," << true;
        QTest::newRow("arabic decimal separator") << QStringLiteral("\u066B") << true;
        QTest::newRow("digit") << "5" << false;
        QTest::newRow("arabic-indic digit") << QStringLiteral("\u0665") << false;
        QTest::newRow("minus") << "-" << false;
        QTest::newRow("exponent") << "e" << false;
        QTest::newRow("no-break space") << QStringLiteral("\u00A0") << false;
        QTest::newRow("tab") << "\t" << false;
        QTest::newRow("two characters") << ".," << false;
    }
    void separatorRule()
    {
        QFETCH(QString, text);
        QFETCH(bool, allowed);
        QCOMPARE(Settings::problemWith(Settings::DecimalSeparator, text).isEmpty(), allowed);
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
