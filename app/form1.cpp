#include "app/form1.h"

#include "app/centre.h"
#include "app/dialog_notifier.h"
#include "app/error_report.h"
#include "core/decimal_separator.h"
#include "core/failure_text.h"
#include "core/logging.h"
#include "core/messages.h"
#include "core/output_file.h"
#include "core/run_log.h"
#include "core/settings.h"
#include "db/connection_string.h"
#include "intake/workbook_reader.h"
#include "qalu_config.h"
#include "skin/tte_button.h"
#include "update/run_journal.h"
#include "update/update_run.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QPixmap>
#include <QScrollArea>
#include <QVBoxLayout>

namespace qalu::app {

namespace {

// Tahoma where it is installed; otherwise a face that has Arabic glyphs.
QFont tahoma(int pixelSize, bool bold)
{
    QFont font;
    font.setFamilies({ QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans"),
        QStringLiteral("Noto Sans Arabic"), QStringLiteral("Noto Naskh Arabic") });
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

// The bottom picture's right and bottom edges: below this the client area scrolls.
constexpr int contentWidth = 302;
constexpr int contentHeight = 409;
constexpr int topPictureHeight = 201;

} // namespace

FormSettings::FormSettings()
    : download(&downloadToFile)
{
    QStringList problems;
    const Settings s = Settings::load(
        { QString::fromUtf8(config::connectionString), QString::fromUtf8(config::downloadUrl),
            QString::fromUtf8(config::workbookPath), QString::fromUtf8(config::priceListDate),
            update::defaultJournalFolder(), QString::number(update::defaultChangeLimit) },
        &problems);
    for (const QString &problem : std::as_const(problems))
        qCWarning(lcSettings).noquote() << problem;
    connectionString = s.value(Settings::Connection);
    downloadUrl = s.value(Settings::DownloadAddress);
    workbookPath = s.value(Settings::Workbook);
    // The workbook is replaced by the download and deleted at close: a settings file may not
    // point it at the database or at anything but a regular file.
    if (s.isSet(Settings::Workbook)) {
        const QString why = outputFileProblem(workbookPath, QString(), db::sqliteFileOf(connectionString));
        if (!why.isEmpty()) {
            qCWarning(lcSettings).noquote()
                << QStringLiteral("download/workbook '%1' is not used: %2").arg(workbookPath, why);
            workbookPath = s.builtIn(Settings::Workbook);
        }
    }
    priceListDate = s.value(Settings::PriceListDate);
    if (s.isSet(Settings::DecimalSeparator))
        decimalSeparator = s.value(Settings::DecimalSeparator).at(0);
    if (s.isSet(Settings::JournalFolder))
        journalFolder = s.value(Settings::JournalFolder);
}

// CustomizeWindowHint makes the window manager offer exactly the title-bar buttons named here,
// without minimise and maximise.
TForm1::TForm1(const FormSettings &settings, Notifier *notifier, QWidget *parent)
    : QWidget(parent,
        Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
            | Qt::WindowCloseButtonHint)
    , ADOConnection1(m_session.ADOConnection1)
    , qgeneral(m_session.qgeneral)
    , QGeneral6(m_session.QGeneral6)
    , QInsertN(m_session.QInsertN)
    , QFindNewCat(m_session.QFindNewCat)
    , QGeneral4(m_session.QGeneral4)
    , StringGrid1(m_session.StringGrid1)
    , m_settings(settings)
    , m_notifier(notifier ? notifier : DialogNotifier::instance())
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("QALU تحديث ادوية"));
    setLayoutDirection(Qt::LeftToRight);
    setFont(tahoma(11, false));
    setBackgroundRole(QPalette::Window);
    resize(304, 409);

    // The client area scrolls once it is smaller than the controls; the top picture follows the
    // client width and so never asks for a horizontal scroll bar of its own.
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_scroll = new QScrollArea(this);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setFocusPolicy(Qt::NoFocus);
    m_scroll->setWidgetResizable(true);
    m_scroll->setBackgroundRole(QPalette::Window);
    layout->addWidget(m_scroll);

    m_client = new QWidget;
    m_client->setObjectName(QStringLiteral("client"));
    m_client->setMinimumSize(contentWidth, contentHeight);
    m_client->installEventFilter(this);

    Image2 = new QLabel(m_client);
    Image2->setObjectName(QStringLiteral("Image2"));
    Image2->setScaledContents(true);
    Image2->setPixmap(QPixmap(QStringLiteral(":/qalu/image2.jpg")));
    Image2->setGeometry(0, 0, 304, topPictureHeight);
    Image2->setAccessibleName(QStringLiteral("The maker's logo"));
    Image2->setAccessibleDescription(
        QStringLiteral("A four-petal flower emblem beside the maker's name and full name"));

    Image1 = new QLabel(m_client);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setScaledContents(true);
    Image1->setPixmap(QPixmap(QStringLiteral(":/qalu/image1.jpg")));
    Image1->setGeometry(0, 288, 302, 121);
    Image1->setAccessibleName(QStringLiteral("The maker's business software"));
    Image1->setAccessibleDescription(QStringLiteral("Business-management software for safe management and "
                                                    "full control of the accounts; orders, enquiries and "
                                                    "the maker's telephone numbers"));

    UploadBut = new skin::TTeButton(m_client);
    UploadBut->setObjectName(QStringLiteral("UploadBut"));
    UploadBut->setGeometry(8, 224, 273, 49);
    UploadBut->setCaption(QStringLiteral("تحديث ") + m_settings.priceListDate);
    UploadBut->setFont(tahoma(19, true));
    UploadBut->setFontColor(Qt::red);
    UploadBut->setTabStop(true);
    UploadBut->setTabOrder(1);
    UploadBut->setEnabled(true);
    UploadBut->OnClick = [this](QObject *sender) { TeButton1Click(sender); };

    m_scroll->setWidget(m_client);
}

TForm1::~TForm1() = default;

void TForm1::setVisible(bool visible)
{
    if (visible && !m_shown) {
        m_shown = true;
        try {
            FormShow(this);
        } catch (...) {
            // A failure passed out of the show handler gets the default error report; the window
            // is shown all the same.
            m_notifier->showErrorReport(failureText(std::current_exception()));
        }
        // A failed download has closed the window: it never reaches the screen.
        if (m_closed)
            return;
        centreOnPrimaryScreen(this);
    }
    QWidget::setVisible(visible);
    if (visible && UploadBut->isEnabled())
        UploadBut->setFocus();
}

void TForm1::FormShow(QObject *)
{
    runlog::start(QStringLiteral("qalu-update " QALU_VERSION), separator(),
        db::withoutCredentials(m_settings.connectionString));
    try {
        m_session.open(m_settings.connectionString);
    } catch (...) {
        qCWarning(lcDb) << "opening the connection failed:" << failureText(std::current_exception());
        m_notifier->showMessage(messages::databaseProblem());
        UploadBut->setEnabled(false);
        throw;
    }

    try {
        const DownloadResult result
            = m_settings.download(m_settings.downloadUrl, m_settings.workbookPath, m_settings.downloadLimits);
        if (result.ok) {
            runlog::info(
                QStringLiteral("downloaded %1 to %2").arg(m_settings.downloadUrl, m_settings.workbookPath));
            UploadBut->setEnabled(true);
        } else {
            qCWarning(lcDownload) << "the price list download failed:" << result.errorText;
            m_notifier->showMessage(messages::downloadProblem());
            close();
            UploadBut->setEnabled(false);
        }
    } catch (...) {
        // A download step that raises instead of returning an outcome: the message alone; the
        // window stays and the button keeps its state.
        qCWarning(lcDownload) << "the download step raised:" << failureText(std::current_exception());
        m_notifier->showMessage(messages::downloadProblem());
    }
}

void TForm1::FormClose(QObject *, CloseAction &)
{
    removeFile(m_settings.workbookPath);
}

void TForm1::closeEvent(QCloseEvent *event)
{
    CloseAction action = CloseAction::caHide;
    FormClose(this, action);
    m_closed = true;
    event->accept();
    // Closing the main window ends the program, also when it was closed before it was ever shown
    // (then no "last window closed" follows).
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
}

void TForm1::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LocaleChange && !m_settings.decimalSeparator)
        refreshDecimalSeparator();
    QWidget::changeEvent(event);
}

bool TForm1::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_client && event->type() == QEvent::Resize)
        Image2->setGeometry(0, 0, m_client->width(), topPictureHeight);
    return QWidget::eventFilter(watched, event);
}

void TForm1::TeButton1Click(QObject *)
{
    // The journal, in the default folder, keeps the old prices for qalu-cli restore; its failures
    // are logged and stay out of the run.
    update::UpdateRun::Steps steps = m_session.steps(m_settings.workbookPath, separator());
    steps.ClearGrid = [this] { ClearGrid(); };
    steps.LoadWorkbookToGrid = [this] { LoadWorkbookToGrid(StringGrid1, m_settings.workbookPath); };
    const update::UpdateReport report
        = m_session.run(m_settings.workbookPath, separator(), std::move(steps), m_settings.journalFolder);
    m_notifier->showMessage(update::updateMessage(report.outcome));
}

void TForm1::ClearGrid()
{
    qalu::ClearGrid(StringGrid1);
}

// The window's own separator, the locale's, kept up to date on a locale change. Failures are
// raised; the result is always true.
bool TForm1::LoadWorkbookToGrid(TStringGrid &grid, const QString &path)
{
    qalu::LoadWorkbookToGrid(grid, path, separator());
    return true;
}

QChar TForm1::separator() const
{
    return m_settings.decimalSeparator.value_or(decimalSeparator());
}

QString TForm1::FindOrAddCategory(const QString &name)
{
    return m_session.resolver.FindOrAddCategory(name);
}

qint32 TForm1::NextCategoryNumber()
{
    return m_session.resolver.NextCategoryNumber();
}

} // namespace qalu::app
