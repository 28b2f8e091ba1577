#include "app/application.h"
#include "app/form1.h"
#include "core/decimal_separator.h"
#include "core/failure.h"
#include "db/connection.h"
#include "skin/tte_button.h"

#include "recording_notifier.h"
#include "support/http_server.h"
#include "support/testdb.h"

#include <QAccessible>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

using qalu::app::FormSettings;
using qalu::app::TForm1;

namespace {

const QString databaseProblem = QStringLiteral("هناك مشكلة بالارتباط بقاعدة البيانات");
const QString downloadProblem = QStringLiteral("هناك مشكلة بالتحميل من الموقع");

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

// The text the database layer raises for this connection string.
QString connectionFailureText(const QString &connectionString)
{
    qalu::db::TConnection connection;
    try {
        connection.setConnectionString(connectionString);
        connection.Open();
    } catch (const qalu::Failure &f) {
        return f.text();
    }
    return {};
}

RecordingNotifier::Entry message(const QString &text)
{
    return { QStringLiteral("message"), text };
}

} // namespace

class TestForm1 : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void normalStart_data();
    void normalStart();
    void databaseFailure_data();
    void databaseFailure();
    void downloadFailure_data();
    void downloadFailure();
    void raisedDownloadFailure();
    void closeToleratesAMissingFile();
    void updateButtonRunsOneUpdate();
    void demoWorkbookAppliedFromTheServer();

    void windowAsDesigned();
    void scrollBarsFollowTheClientArea_data();
    void scrollBarsFollowTheClientArea();
    void localeChangeRereadsTheSeparator();
    void settingsFileCannotAimTheWorkbookAtTheDatabase();
    void escapedFailureIsReported_data();
    void escapedFailureIsReported();

private:
    FormSettings settingsFor(const QString &urlPath) const;
    // Settings that fail at connecting, so the window comes up without any network or file work.
    FormSettings offlineSettings() const;

    std::unique_ptr<TestHttpServer> m_server;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestForm1::initTestCase()
{
    m_server = std::make_unique<TestHttpServer>();
    QVERIFY2(m_server->isRunning(), "the test HTTP server did not start");
}

void TestForm1::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

FormSettings TestForm1::settingsFor(const QString &urlPath) const
{
    const QString database = m_dir->filePath(QStringLiteral("pharmacy.db"));
    if (!QFile::exists(database))
        writeFile(database, {});
    FormSettings settings;
    settings.connectionString = QStringLiteral("Provider=SQLite;Data Source=") + database;
    settings.downloadUrl = urlPath.startsWith(QLatin1Char('/')) ? m_server->url(urlPath) : urlPath;
    settings.workbookPath = m_dir->filePath(QStringLiteral("F4-7-2021.xlsx"));
    settings.downloadLimits.maxBytes = 1024 * 1024;
    settings.downloadLimits.connectTimeoutSeconds = 5;
    settings.downloadLimits.rateWindowSeconds = 2;
    settings.downloadLimits.deadlineSeconds = 5;
    return settings;
}

FormSettings TestForm1::offlineSettings() const
{
    FormSettings settings = settingsFor(QStringLiteral("/good"));
    settings.connectionString = QStringLiteral("Provider=NoSuchProvider;Data Source=x");
    return settings;
}

void TestForm1::normalStart_data()
{
    QTest::addColumn<QString>("urlPath");
    QTest::addColumn<bool>("oldFile");
    QTest::newRow("fresh") << QStringLiteral("/good") << false;
    QTest::newRow("old file replaced") << QStringLiteral("/good") << true;
    QTest::newRow("redirect followed") << QStringLiteral("/redirect") << false;
}

void TestForm1::normalStart()
{
    QFETCH(QString, urlPath);
    QFETCH(bool, oldFile);
    const FormSettings settings = settingsFor(urlPath);
    if (oldFile)
        QVERIFY(writeFile(settings.workbookPath, "an earlier workbook"));
    RecordingNotifier notifier;
    TForm1 form(settings, &notifier);

    form.show();

    QCOMPARE(notifier.entries, QList<RecordingNotifier::Entry>());
    QVERIFY(form.isVisible());
    QVERIFY(form.UploadBut->isEnabled());
    QVERIFY(readAll(settings.workbookPath).startsWith("PK-good-body-"));
    // Centred (up to the frame), and the button holds the focus once the window is active.
    const QPoint offset
        = form.geometry().center() - QGuiApplication::primaryScreen()->availableGeometry().center();
    QVERIFY2(
        offset.manhattanLength() <= 8, qPrintable(QStringLiteral("%1,%2").arg(offset.x()).arg(offset.y())));
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(form.UploadBut));

    form.close();
    QVERIFY(!QFile::exists(settings.workbookPath));
    QCOMPARE(notifier.entries, QList<RecordingNotifier::Entry>());
}

void TestForm1::databaseFailure_data()
{
    QTest::addColumn<QString>("connectionString");
    QTest::newRow("unknown provider") << QStringLiteral("Provider=NoSuchProvider;Data Source=x");
    QTest::newRow("database folder missing")
        << QStringLiteral("Provider=SQLite;Data Source=/nonexistent-folder-of-qalu/pharmacy.db");
}

// The connection message, then the report with the database's own text; nothing is downloaded,
// and the window still comes up, with the button disabled. A file from an earlier run stays until
// the window closes.
void TestForm1::databaseFailure()
{
    QFETCH(QString, connectionString);
    FormSettings settings = settingsFor(QStringLiteral("/good"));
    settings.connectionString = connectionString;
    QVERIFY(writeFile(settings.workbookPath, "left by an earlier run"));
    const QString dbText = connectionFailureText(connectionString);
    QVERIFY(!dbText.isEmpty());
    RecordingNotifier notifier;
    TForm1 form(settings, &notifier);
    const qsizetype requestsBefore = m_server->requests().size();

    form.show();

    const QList<RecordingNotifier::Entry> expected { message(databaseProblem),
        { QStringLiteral("report"), dbText } };
    QCOMPARE(notifier.entries, expected);
    QVERIFY(!form.UploadBut->isEnabled());
    QVERIFY(form.isVisible());
    QCOMPARE(m_server->requests().size(), requestsBefore);
    QCOMPARE(readAll(settings.workbookPath), QByteArray("left by an earlier run"));

    form.close();
    QVERIFY(!QFile::exists(settings.workbookPath));
}

void TestForm1::downloadFailure_data()
{
    QTest::addColumn<QString>("urlPath");
    QTest::newRow("connection refused")
        << QStringLiteral("http://127.0.0.1:%1/upload/F4-7-2021.xlsx").arg(TestHttpServer::refusedPort());
    QTest::newRow("404") << QStringLiteral("/missing");
    QTest::newRow("server closes mid-body") << QStringLiteral("/truncated");
    QTest::newRow("body over the cap") << QStringLiteral("/oversize");
    QTest::newRow("a byte a second") << QStringLiteral("/drip");
}

// One download message, the window never shown, and nothing left at the workbook path (an
// earlier file included: the close sequence deletes it).
void TestForm1::downloadFailure()
{
    QFETCH(QString, urlPath);
    const FormSettings settings = settingsFor(urlPath);
    QVERIFY(writeFile(settings.workbookPath, "left by an earlier run"));
    RecordingNotifier notifier;
    TForm1 form(settings, &notifier);
    QElapsedTimer timer;
    timer.start();

    form.show();

    QVERIFY(timer.elapsed() < (settings.downloadLimits.deadlineSeconds + 2) * 1000);
    QCOMPARE(notifier.entries, QList<RecordingNotifier::Entry> { message(downloadProblem) });
    QVERIFY(!form.isVisible());
    QVERIFY(!form.UploadBut->isEnabled());
    QVERIFY(!QFile::exists(settings.workbookPath));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden),
        QStringList { QStringLiteral("pharmacy.db") });
}

// A download step that raises instead of returning a result: the message and nothing else; the
// window stays and the button keeps its state.
void TestForm1::raisedDownloadFailure()
{
    FormSettings settings = settingsFor(QStringLiteral("/good"));
    settings.download
        = [](const QString &, const QString &, const qalu::DownloadLimits &) -> qalu::DownloadResult {
        throw qalu::Failure(QStringLiteral("out of memory"));
    };
    RecordingNotifier notifier;
    TForm1 form(settings, &notifier);

    form.show();

    QCOMPARE(notifier.entries, QList<RecordingNotifier::Entry> { message(downloadProblem) });
    QVERIFY(form.isVisible());
    QVERIFY(form.UploadBut->isEnabled());
}

void TestForm1::closeToleratesAMissingFile()
{
    const FormSettings settings = settingsFor(QStringLiteral("/good"));
    RecordingNotifier notifier;
    TForm1 form(settings, &notifier);
    form.show();
    QVERIFY(QFile::remove(settings.workbookPath));

    form.close();

    QCOMPARE(notifier.entries, QList<RecordingNotifier::Entry>());
    QVERIFY(!form.isVisible());
}

// The downloaded body is no workbook: the run ends with the read-failure message, and the button
// stays usable for another run.
void TestForm1::updateButtonRunsOneUpdate()
{
    RecordingNotifier notifier;
    TForm1 form(settingsFor(QStringLiteral("/good")), &notifier);
    form.show();
    QVERIFY(form.UploadBut->isEnabled());

    QTest::mouseClick(form.UploadBut, Qt::LeftButton);

    const QString expected = QStringLiteral("حدث خطأ بتحميل الاسعار من الموقع");
    QCOMPARE(notifier.entries, QList<RecordingNotifier::Entry> { message(expected) });
    QVERIFY(form.UploadBut->isEnabled());
}

namespace {
int countRows(const QString &databaseFile, const QString &table)
{
    const QString name = QStringLiteral("tst_form1_count");
    int count = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(databaseFile);
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec(QStringLiteral("select count(*) from ") + table) && q.next())
                count = q.value(0).toInt();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return count;
}
} // namespace

// The whole road: the seeded database, the demo workbook (made by the demo's own script) served
// over HTTP, downloaded at start and applied by one click.
void TestForm1::demoWorkbookAppliedFromTheServer()
{
    FormSettings settings = settingsFor(QStringLiteral("/good"));
    settings.connectionString = qalu::testdb::createSqliteDatabase(*m_dir);
    const QString database = m_dir->filePath(QStringLiteral("pharmacy.db"));
    QTemporaryDir www;
    QVERIFY(QDir(www.path()).mkpath(QStringLiteral("upload")));
    QProcess maker;
    maker.start(QStringLiteral(QALU_WORKBOOK_PYTHON),
        { QStringLiteral(QALU_SOURCE_DIR "/scripts/make-demo-workbook"), database,
            www.filePath(QStringLiteral("upload/F4-7-2021.xlsx")) });
    QVERIFY(maker.waitForFinished(30000));
    QVERIFY2(maker.exitCode() == 0, maker.readAllStandardError().constData());
    TestHttpServer server(www.path());
    QVERIFY(server.isRunning());
    settings.downloadUrl = server.url(QStringLiteral("/upload/F4-7-2021.xlsx"));
    const int medicinesBefore = countRows(database, QStringLiteral("mat00"));
    const int categoriesBefore = countRows(database, QStringLiteral("Category00"));
    RecordingNotifier notifier;
    TForm1 form(settings, &notifier);
    form.show();
    QVERIFY(form.UploadBut->isEnabled());

    // The run's journal lands in the data folder, here a fresh one.
    const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", m_dir->filePath(QStringLiteral("data")).toUtf8());
    form.UploadBut->Click();
    qputenv("XDG_DATA_HOME", dataHome);

    const QString completed = QStringLiteral("تمت عملية التحديث بنجاح");
    QCOMPARE(notifier.entries, QList<RecordingNotifier::Entry> { message(completed) });
    QCOMPARE(countRows(database, QStringLiteral("mat00")), medicinesBefore + 3);
    QCOMPARE(countRows(database, QStringLiteral("Category00")), categoriesBefore + 1);
    const QDir journals(m_dir->filePath(QStringLiteral("data/qalu-update/journal")));
    const QStringList files = journals.entryList({ QStringLiteral("run-*.json") });
    QCOMPARE(files.size(), 1);
    QFile journal(journals.filePath(files.constFirst()));
    QVERIFY(journal.open(QIODevice::ReadOnly));
    const QJsonObject j = QJsonDocument::fromJson(journal.readAll()).object();
    QCOMPARE(j.value(QStringLiteral("snapshot")).toArray().size(), 3);
    QCOMPARE(j.value(QStringLiteral("workbook")).toString(), settings.workbookPath);
}

void TestForm1::windowAsDesigned()
{
    RecordingNotifier notifier;
    TForm1 form(offlineSettings(), &notifier);
    form.show();

    QCOMPARE(form.windowTitle(), QStringLiteral("QALU تحديث ادوية"));
    QCOMPARE(form.size(), QSize(304, 409));
    const Qt::WindowFlags flags = form.windowFlags();
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(flags & Qt::WindowSystemMenuHint);
    QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QCOMPARE(form.layoutDirection(), Qt::LeftToRight);

    // The pictures decode from the compiled-in JPEGs.
    QCOMPARE(form.Image2->pixmap().size(), QSize(534, 250));
    QCOMPARE(form.Image1->pixmap().size(), QSize(473, 239));
    QCOMPARE(form.Image1->geometry(), QRect(0, 288, 302, 121));
    for (QLabel *picture : { form.Image1, form.Image2 }) {
        QAccessibleInterface *shown = QAccessible::queryAccessibleInterface(picture);
        QCOMPARE(shown->role(), QAccessible::Graphic);
        QVERIFY(shown->text(QAccessible::Name).startsWith(QStringLiteral("The maker's")));
    }
    QCOMPARE(form.UploadBut->geometry(), QRect(8, 224, 273, 49));
    QCOMPARE(form.UploadBut->Caption(), QStringLiteral("تحديث 4-7-2021"));
    QVERIFY(form.UploadBut->font().bold());
    QCOMPARE(form.UploadBut->font().pixelSize(), 19);
    QCOMPARE(form.font().pixelSize(), 11);
    QCOMPARE(form.StringGrid1.ColCount(), 30);
    QCOMPARE(form.StringGrid1.RowCount(), 1500);
}

void TestForm1::scrollBarsFollowTheClientArea_data()
{
    QTest::addColumn<QSize>("client");
    QTest::addColumn<bool>("horizontal");
    QTest::addColumn<bool>("vertical");
    QTest::newRow("as designed") << QSize(304, 409) << false << false;
    QTest::newRow("exactly the controls") << QSize(302, 409) << false << false;
    QTest::newRow("one pixel too narrow") << QSize(301, 600) << true << false;
    QTest::newRow("one pixel too low") << QSize(600, 408) << false << true;
    QTest::newRow("both too small") << QSize(200, 300) << true << true;
    QTest::newRow("much larger") << QSize(800, 700) << false << false;
}

// The top picture follows the client width; the bottom picture and the button stay put.
void TestForm1::scrollBarsFollowTheClientArea()
{
    QFETCH(QSize, client);
    QFETCH(bool, horizontal);
    QFETCH(bool, vertical);
    RecordingNotifier notifier;
    TForm1 form(offlineSettings(), &notifier);
    form.show();

    form.resize(client);

    QScrollArea *area = form.scrollArea();
    QTRY_COMPARE(area->horizontalScrollBar()->isVisible(), horizontal);
    QTRY_COMPARE(area->verticalScrollBar()->isVisible(), vertical);
    QCOMPARE(form.Image2->width(), std::max(area->viewport()->width(), 302));
    QCOMPARE(form.Image2->height(), 201);
    QCOMPARE(form.Image1->geometry(), QRect(0, 288, 302, 121));
    for (QLabel *picture : { form.Image1, form.Image2 }) {
        QAccessibleInterface *shown = QAccessible::queryAccessibleInterface(picture);
        QCOMPARE(shown->role(), QAccessible::Graphic);
        QVERIFY(shown->text(QAccessible::Name).startsWith(QStringLiteral("The maker's")));
    }
    QCOMPARE(form.UploadBut->geometry(), QRect(8, 224, 273, 49));
}

// The downloaded workbook is replaced and deleted: a settings file naming the database as the
// workbook is passed over, and the date it sets still names the built-in path.
void TestForm1::settingsFileCannotAimTheWorkbookAtTheDatabase()
{
    const QString database = m_dir->filePath(QStringLiteral("pharmacy.db"));
    const QString file = m_dir->filePath(QStringLiteral("settings.conf"));
    QFile settings(file);
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write(QStringLiteral("[database]\nconnection=Provider=SQLite;Data Source=%1\n[download]\n"
                                  "workbook=%2\n[price-list]\ndate=1-1-2027\n")
                       .arg(database, m_dir->filePath(QStringLiteral("./pharmacy.db")))
                       .toUtf8());
    settings.close();
    qputenv("QALU_SETTINGS", QFile::encodeName(file));
    QTest::ignoreMessage(QtWarningMsg,
        QRegularExpression(QStringLiteral("download/workbook .* is not used: it "
                                          "is the database file")));
    const FormSettings read;
    qunsetenv("QALU_SETTINGS");
    QCOMPARE(read.connectionString, QStringLiteral("Provider=SQLite;Data Source=") + database);
    QVERIFY2(read.workbookPath.endsWith(QLatin1StringView("F1-1-2027.xlsx")), qPrintable(read.workbookPath));
    QCOMPARE(read.priceListDate, QStringLiteral("1-1-2027"));
}

void TestForm1::localeChangeRereadsTheSeparator()
{
    RecordingNotifier notifier;
    TForm1 form(offlineSettings(), &notifier);
    qalu::setDecimalSeparator(QLatin1Char('#'));

    QEvent change(QEvent::LocaleChange);
    QCoreApplication::sendEvent(&form, &change);

    QCOMPARE(qalu::decimalSeparator(), qalu::systemDecimalSeparator());
}

using Raise = std::function<void()>;
Q_DECLARE_METATYPE(Raise)

namespace {
// Raises what it is told to from its event handler.
class Thrower : public QObject
{
public:
    std::function<void()> raise;
    bool event(QEvent *e) override
    {
        if (e->type() == QEvent::User)
            raise();
        return QObject::event(e);
    }
};
} // namespace

void TestForm1::escapedFailureIsReported_data()
{
    QTest::addColumn<Raise>("raise");
    QTest::addColumn<QString>("text");
    QTest::newRow("program failure") << Raise([] { throw qalu::Failure(QStringLiteral("boom")); })
                                     << QStringLiteral("boom");
    QTest::newRow("standard exception")
        << Raise([] { throw std::runtime_error("bad thing"); }) << QStringLiteral("bad thing");
    QTest::newRow("anything else") << Raise([] { throw 42; }) << QStringLiteral("Unknown failure");
}

// A failure escaping an event handler goes to the error report and dispatching goes on.
void TestForm1::escapedFailureIsReported()
{
    QFETCH(Raise, raise);
    QFETCH(QString, text);
    auto *app = qobject_cast<qalu::app::Application *>(QCoreApplication::instance());
    QVERIFY(app);
    RecordingNotifier notifier;
    app->setNotifier(&notifier);
    Thrower thrower;
    thrower.raise = raise;

    QEvent event(QEvent::User);
    QCOMPARE(QCoreApplication::sendEvent(&thrower, &event), false);
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    QCoreApplication::processEvents();

    const RecordingNotifier::Entry report { QStringLiteral("report"), text };
    QCOMPARE(notifier.entries, (QList<RecordingNotifier::Entry> { report, report }));
    app->setNotifier(nullptr);
}

int main(int argc, char *argv[])
{
    qalu::app::Application app(argc, argv);
    TestForm1 test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_form1.moc"
