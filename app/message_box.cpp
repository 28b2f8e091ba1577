#include "app/message_box.h"

#include "app/centre.h"
#include "app/title.h"

#include <QApplication>
#include <QClipboard>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

#include <algorithm>
#include <cmath>

namespace qalu::app {

namespace {

// QLabel takes a plain text's paragraph direction from its first strong character, so an Arabic
// message would be laid out right to left and pushed to the right edge. The box's paragraph is
// always left to right and starts at the left; the Arabic runs inside it still read right to left.
class LeftToRightLabel : public QLabel
{
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        style()->drawItemText(&painter, contentsRect(),
            Qt::AlignLeft | Qt::AlignAbsolute | Qt::AlignTop | Qt::TextWordWrap | Qt::TextForceLeftToRight,
            palette(), isEnabled(), text(), foregroundRole());
    }
};

} // namespace

// CustomizeWindowHint makes the window manager offer exactly the title-bar buttons named here,
// without minimise and maximise.
MessageBox::MessageBox(const QString &text, QWidget *parent)
    : QDialog(parent,
        Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
            | Qt::WindowCloseButtonHint)
    , m_text(text)
    , m_label(new LeftToRightLabel(this))
    , m_ok(new QPushButton(QStringLiteral("OK"), this))
{
    setWindowTitle(applicationTitle());
    setLayoutDirection(Qt::LeftToRight);
    setWindowModality(Qt::ApplicationModal);

    m_label->setTextFormat(Qt::PlainText);
    m_label->setWordWrap(true);
    m_label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_label->setLayoutDirection(Qt::LeftToRight);
    m_label->setText(text);
    m_label->setAccessibleName(text);

    // Enter presses the default button; Escape and the title bar's close button reject. Both end
    // the box the same way, since the box gives no result.
    m_ok->setDefault(true);
    m_ok->setAutoDefault(true);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);

    // Dialog units of the message font.
    const QFontMetrics fm(font());
    const double hu = fm.averageCharWidth() / 4.0;
    const double vu = fm.height() / 8.0;
    const auto h = [hu](double units) { return int(std::lround(units * hu)); };
    const auto v = [vu](double units) { return int(std::lround(units * vu)); };

    const QScreen *screen = QGuiApplication::primaryScreen();
    const int maxTextWidth = screen ? screen->geometry().width() / 2 : 640;
    const QRect textRect = fm.boundingRect(QRect(0, 0, maxTextWidth, 100000),
        Qt::AlignLeft | Qt::TextWordWrap, text.isEmpty() ? QStringLiteral(" ") : text);
    const int textWidth = textRect.width();
    const int textHeight = textRect.height();

    const int buttonWidth = std::max(h(50), fm.horizontalAdvance(m_ok->text()) + h(8));
    const int buttonHeight = v(14);
    // Wide enough for the caption too, so a short message does not cut the title short.
    // (The title bar font is usually larger, and the bar carries an icon and buttons.)
    const int captionWidth = fm.horizontalAdvance(windowTitle()) * 3 / 2 + 96;
    const int contentWidth = std::max({ textWidth, buttonWidth, captionWidth - h(16) });
    const int width = h(8) + contentWidth + h(8);
    const int buttonTop = v(8) + textHeight + v(10);
    const int height = buttonTop + buttonHeight + v(8);

    m_label->setGeometry(h(8), v(8), contentWidth, textHeight);
    m_ok->setGeometry((width - buttonWidth) / 2, buttonTop, buttonWidth, buttonHeight);
    setFixedSize(width, height);
    centreOnPrimaryScreen(this);
    m_ok->setFocus();
}

void MessageBox::inform(const QString &text)
{
    MessageBox box(text);
    box.exec();
}

QString MessageBox::clipboardText() const
{
    const QString rule(27, QLatin1Char('-'));
    const QString crlf = QStringLiteral("\r\n");
    return rule + crlf + windowTitle() + crlf + rule + crlf + m_text + crlf + rule + crlf + m_ok->text()
        + QStringLiteral("   ") + crlf + rule + crlf;
}

void MessageBox::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Copy)) {
        QApplication::beep();
        QGuiApplication::clipboard()->setText(clipboardText());
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace qalu::app
