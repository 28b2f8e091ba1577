// The run log: one line per event, the files moved along at the cap, and the qalu.* warnings
// logged whatever the rules let through to the console.

#include "core/logging.h"
#include "core/run_log.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

QStringList consoleSeen;

void console(QtMsgType, const QMessageLogContext &, const QString &message)
{
    consoleSeen << message;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestRunLog : public QObject
{
    Q_OBJECT
private slots:
    void oneLine_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain, Arabic, backslash") << u"C:\\list دواء 1,5"_s << u"C:\\list دواء 1,5"_s;
        QTest::newRow("line breaks and tab") << u"a\r\nb\tc"_s << u"a\\x0d\\x0ab\\x09c"_s;
        QTest::newRow("DEL and C1") << u"x\x7f\x85\x9by"_s << u"x\\x7f\\x85\\x9by"_s;
        QTest::newRow("line and paragraph separators") << u"a\u2028b\u2029"_s << u"a\\u{2028}b\\u{2029}"_s;
    }
    void oneLine()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(qalu::runlog::oneLine(text), expected);
    }

    // Lines of 40 bytes (newline included) into files of at most 100 bytes.
    void rotation_data()
    {
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("kept");
        QTest::addColumn<QList<int>>("sizes"); // qalu-update.log, .1, .2, .3; -1: absent
        QTest::newRow("below the cap") << 2 << 3 << QList<int> { 80, -1, -1, -1 };
        QTest::newRow("one move") << 3 << 3 << QList<int> { 40, 80, -1, -1 };
        QTest::newRow("oldest dropped") << 7 << 3 << QList<int> { 40, 80, 80, -1 };
        QTest::newRow("one file kept") << 5 << 1 << QList<int> { 40, -1, -1, -1 };
    }
    void rotation()
    {
        QFETCH(int, lines);
        QFETCH(int, kept);
        QFETCH(QList<int>, sizes);
        const QTemporaryDir dir;
        for (int i = 0; i < lines; ++i)
            QVERIFY(qalu::runlog::append(dir.path(), QString(39, QChar(u'a' + i)), 100, kept));
        for (int n = 0; n < sizes.size(); ++n) {
            const QFileInfo file(
                dir.filePath(n == 0 ? u"qalu-update.log"_s : u"qalu-update.log.%1"_s.arg(n)));
            QCOMPARE(file.exists() ? int(file.size()) : -1, sizes[n]);
        }
        // The newest line is the current file's last.
        QVERIFY(readAll(dir.filePath(u"qalu-update.log"_s))
                    .endsWith(QByteArray(39, char('a' + lines - 1)) + '\n'));
    }

    void unwritableFolder()
    {
        QTemporaryFile file;
        QVERIFY(file.open());
        QVERIFY(!qalu::runlog::append(file.fileName(), u"x"_s));
    }

    // The rules keep qalu.db's warnings off the console; the log has them all the same, and
    // other messages reach the console as before.
    void warningsLoggedWhateverTheRules()
    {
#ifdef Q_OS_WIN
        QSKIP("the data folder is the user's own there: XDG_DATA_HOME cannot move the log");
#endif
        const QTemporaryDir data;
        qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
        qInstallMessageHandler(console);
        QLoggingCategory::setFilterRules(u"qalu.db=false"_s);
        qalu::runlog::open(u"tst"_s);
        qCWarning(qalu::lcDb) << "hidden\nwarning";
        qCWarning(qalu::lcUpdate) << "shown warning";
        qWarning() << "plain warning";
        qalu::runlog::info(u"an event"_s);
        QCOMPARE(consoleSeen, (QStringList { u"shown warning"_s, u"plain warning"_s }));
        const QList<QByteArray> log = readAll(qalu::runlog::folder() + u"/qalu-update.log"_s).split('\n');
        QCOMPARE(log.size(), 4); // three lines and the last newline
        QVERIFY(log[0].endsWith(" WARN tst: qalu.db: hidden\\x0awarning"));
        QVERIFY(log[1].endsWith(" WARN tst: qalu.update: shown warning"));
        QVERIFY(log[2].endsWith(" INFO tst: an event"));
        QVERIFY(QDateTime::fromString(QString::fromUtf8(log[2].left(24)), Qt::ISODateWithMs).isValid());
    }
};

QTEST_GUILESS_MAIN(TestRunLog)
#include "tst_run_log.moc"
