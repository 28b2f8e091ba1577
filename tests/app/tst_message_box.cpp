#include "app/error_report.h"
#include "app/message_box.h"
#include "core/failure_text.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using qalu::app::MessageBox;

class TestMessageBox : public QObject
{
    Q_OBJECT

private slots:
    void lookAndButton();
    void keysDismiss_data();
    void keysDismiss();
    void titleBarCloseDismisses();
    void informWaitsForTheUser();
    void copyPutsTheContentOnTheClipboard();
    void sizedInDialogUnits_data();
    void sizedInDialogUnits();
    void textStartsAtTheLeft_data();
    void textStartsAtTheLeft();
    void errorReportAppendsAPeriod_data();
    void errorReportAppendsAPeriod();
};

void TestMessageBox::lookAndButton()
{
    MessageBox box(QStringLiteral("هناك مشكلة بالتحميل من الموقع"));
    QCOMPARE(box.windowModality(), Qt::ApplicationModal);
    box.open();

    QCOMPARE(box.windowTitle(), QStringLiteral("QALU- 0900000000"));
    QCOMPARE(box.layoutDirection(), Qt::LeftToRight);
    const auto buttons = box.findChildren<QPushButton *>();
    QCOMPARE(buttons.size(), 1);
    QCOMPARE(buttons.first()->text(), QStringLiteral("OK"));
    QVERIFY(buttons.first()->isDefault());
    // No icon: the one label holds the text and no picture.
    const auto labels = box.findChildren<QLabel *>();
    QCOMPARE(labels.size(), 1);
    QVERIFY(labels.first()->pixmap().isNull());
    QCOMPARE(labels.first()->text(), QStringLiteral("هناك مشكلة بالتحميل من الموقع"));
    QVERIFY(labels.first()->alignment() & Qt::AlignLeft);
    QVERIFY(!(box.windowFlags() & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(box.windowFlags() & Qt::WindowMaximizeButtonHint));
    const QPoint screenCentre = QGuiApplication::primaryScreen()->availableGeometry().center();
    // Centred on the primary screen (up to the frame, which the box cannot know before it is shown).
    const QPoint offset = box.geometry().center() - screenCentre;
    QVERIFY2(
        offset.manhattanLength() <= 8, qPrintable(QStringLiteral("%1,%2").arg(offset.x()).arg(offset.y())));
}

void TestMessageBox::keysDismiss_data()
{
    QTest::addColumn<int>("key");
    QTest::newRow("Enter") << int(Qt::Key_Return);
    QTest::newRow("keypad Enter") << int(Qt::Key_Enter);
    QTest::newRow("Escape") << int(Qt::Key_Escape);
    QTest::newRow("Space on the button") << int(Qt::Key_Space);
}

void TestMessageBox::keysDismiss()
{
    QFETCH(int, key);
    MessageBox box(QStringLiteral("text"));
    QSignalSpy finished(&box, &QDialog::finished);
    box.open();
    QVERIFY(box.isVisible());

    QTest::keyClick(box.okButton(), Qt::Key(key));

    QCOMPARE(finished.count(), 1);
    QVERIFY(!box.isVisible());
}

void TestMessageBox::titleBarCloseDismisses()
{
    MessageBox box(QStringLiteral("text"));
    QSignalSpy finished(&box, &QDialog::finished);
    box.open();
    QVERIFY(box.close());
    QCOMPARE(finished.count(), 1);
}

void TestMessageBox::informWaitsForTheUser()
{
    bool sawBox = false;
    QTimer::singleShot(0, this, [&sawBox] {
        auto *box = qobject_cast<MessageBox *>(QApplication::activeModalWidget());
        sawBox = box && box->text() == QStringLiteral("done");
        if (box)
            QTest::keyClick(box->okButton(), Qt::Key_Return);
    });
    MessageBox::inform(QStringLiteral("done"));
    QVERIFY(sawBox);
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
}

void TestMessageBox::copyPutsTheContentOnTheClipboard()
{
    const QString text = QStringLiteral("تمت عملية التحديث بنجاح");
    MessageBox box(text);
    box.open();
    QGuiApplication::clipboard()->clear();

    QTest::keyClick(box.okButton(), Qt::Key_C, Qt::ControlModifier);

    const QString rule = QStringLiteral("---------------------------");
    QCOMPARE(rule.size(), 27);
    const QString expected = rule + QStringLiteral("\r\nQALU- 0900000000\r\n") + rule + QStringLiteral("\r\n")
        + text + QStringLiteral("\r\n") + rule + QStringLiteral("\r\nOK   \r\n") + rule
        + QStringLiteral("\r\n");
    QCOMPARE(QGuiApplication::clipboard()->text(), expected);
    QVERIFY(box.isVisible());
}

void TestMessageBox::sizedInDialogUnits_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("short") << QStringLiteral("OK?");
    QTest::newRow("one line") << QStringLiteral("هناك مشكلة بالارتباط بقاعدة البيانات");
    QTest::newRow("wraps") << QStringLiteral("word ").repeated(400);
}

// Margins of 8 units, 10 units between text and button, the button at least 50 x 14 units and
// centred, the text no wider than half the screen.
void TestMessageBox::sizedInDialogUnits()
{
    QFETCH(QString, text);
    MessageBox box(text);
    const QFontMetrics fm(box.font());
    const double hu = fm.averageCharWidth() / 4.0;
    const double vu = fm.height() / 8.0;
    const QRect label = box.textLabel()->geometry();
    const QRect button = box.okButton()->geometry();
    const int halfScreen = QGuiApplication::primaryScreen()->geometry().width() / 2;

    QCOMPARE(label.left(), qRound(8 * hu));
    QCOMPARE(label.top(), qRound(8 * vu));
    QVERIFY(label.width() <= halfScreen);
    QVERIFY(box.width() - label.right() - 1 >= qRound(8 * hu));
    QCOMPARE(button.top() - label.bottom() - 1, qRound(10 * vu));
    QCOMPARE(box.height() - button.bottom() - 1, qRound(8 * vu));
    QVERIFY(button.width() >= qRound(50 * hu));
    QCOMPARE(button.height(), qRound(14 * vu));
    QVERIFY(qAbs(button.center().x() - box.rect().center().x()) <= 1);
    if (text.size() > 1000)
        QVERIFY(label.width() > halfScreen / 2);
}

// The paragraph is left to right whatever the text: its ink starts at the label's left edge, and
// the text's first run comes first from the left (the Arabic before the Latin that follows it).
void TestMessageBox::textStartsAtTheLeft_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("firstRun");
    QTest::newRow("Latin") << "Login failed"
                           << "Login";
    QTest::newRow("Arabic") << "هناك مشكلة بالتحميل من الموقع"
                            << "هناك مشكلة بالتحميل من الموقع";
    QTest::newRow("Arabic, then Latin") << "هناك مشكلة ABC"
                                        << "هناك مشكلة";
}

void TestMessageBox::textStartsAtTheLeft()
{
    QFETCH(QString, text);
    QFETCH(QString, firstRun);
    // Which columns hold ink ('#'); rows differ when a second script changes the line height.
    const auto inkedColumns = [](const QString &shown) {
        MessageBox box(shown);
        box.textLabel()->setGeometry(0, 0, 400, box.textLabel()->height());
        const QImage image = box.textLabel()->grab().toImage();
        QString columns(image.width(), u'.');
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (image.pixel(x, y) != image.pixel(image.width() - 1, 0))
                    columns[x] = u'#';
        return columns;
    };
    const QString whole = inkedColumns(text);
    const QString first = inkedColumns(firstRun);
    QVERIFY2(first.indexOf(u'#') >= 0 && first.indexOf(u'#') <= 2, qPrintable(first));
    // Up to the first run's last inked column, the whole text inks as the first run alone.
    QCOMPARE(whole.left(first.lastIndexOf(u'#') + 1), first.left(first.lastIndexOf(u'#') + 1));
}

void TestMessageBox::errorReportAppendsAPeriod_data()
{
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QString>("shown");
    QTest::newRow("ends in a letter") << QStringLiteral("Login failed") << QStringLiteral("Login failed.");
    QTest::newRow("ends in a period") << QStringLiteral("Login failed.") << QStringLiteral("Login failed.");
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("ends in a digit") << QStringLiteral("error 42") << QStringLiteral("error 42.");
    QTest::newRow("ends in a slash (above the period)") << QStringLiteral("a/") << QStringLiteral("a/.");
    QTest::newRow("ends in a hyphen (below the period)") << QStringLiteral("a-") << QStringLiteral("a-");
    QTest::newRow("ends in a closing bracket") << QStringLiteral("(x)") << QStringLiteral("(x)");
    QTest::newRow("ends in an exclamation mark") << QStringLiteral("no!") << QStringLiteral("no!");
    QTest::newRow("ends in a space") << QStringLiteral("text ") << QStringLiteral("text ");
    QTest::newRow("ends in a line break") << QStringLiteral("text\n") << QStringLiteral("text\n");
    QTest::newRow("ends in an Arabic letter") << QStringLiteral("خطأ") << QStringLiteral("خطأ.");
}

void TestMessageBox::errorReportAppendsAPeriod()
{
    QFETCH(QString, failure);
    QFETCH(QString, shown);
    QCOMPARE(qalu::errorReportText(failure), shown);
}

QTEST_MAIN(TestMessageBox)
#include "tst_message_box.moc"
