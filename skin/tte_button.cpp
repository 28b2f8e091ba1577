#include "skin/tte_button.h"
#include "skin/tte_button_p.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QShortcut>
#include <QtMath>

#include <algorithm>

namespace qalu::skin {

using button_detail::installAccessibleFactory;
using button_detail::notifyAccessibility;
using button_detail::systemColor;

namespace {

bool isPushButton(const QWidget *widget)
{
    return qobject_cast<const QAbstractButton *>(widget) || qobject_cast<const TTeButton *>(widget);
}

} // namespace

TTeButton::TTeButton(QWidget *parent)
    : TTeControl(parent)
{
    installAccessibleFactory();
    setFocusPolicy(Qt::StrongFocus);
    setLayoutDirection(Qt::LeftToRight);

    m_defaultKey = new QShortcut(this);
    m_defaultKey->setKeys({ QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter),
        QKeySequence(Qt::KeypadModifier | Qt::Key_Enter) });
    m_defaultKey->setContext(Qt::WindowShortcut);
    m_defaultKey->setAutoRepeat(false);
    connect(m_defaultKey, &QShortcut::activated, this, [this] {
        if (m_activeDefault && canTakeFocus())
            Click();
    });

    m_cancelKey = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    m_cancelKey->setContext(Qt::WindowShortcut);
    m_cancelKey->setAutoRepeat(false);
    connect(m_cancelKey, &QShortcut::activated, this, [this] {
        if (m_cancel && canTakeFocus())
            Click();
    });

    m_mnemonic = new QShortcut(this);
    m_mnemonic->setContext(Qt::WindowShortcut);
    m_mnemonic->setAutoRepeat(false);
    connect(m_mnemonic, &QShortcut::activated, this, [this] {
        if (!canTakeFocus())
            return;
        setFocus(Qt::ShortcutFocusReason);
        Click();
    });

    connect(qApp, &QApplication::focusChanged, this,
        [this](QWidget *, QWidget *now) { updateActiveDefault(now); });
    updateShortcuts();
}

TTeButton::~TTeButton() = default;

void TTeButton::setCaption(const QString &caption)
{
    if (m_caption == caption)
        return;
    m_caption = caption;
    updateShortcuts();
    update();
    notifyAccessibility(this, QAccessible::NameChanged);
}

QColor TTeButton::FontColor() const
{
    return m_fontColor.value_or(systemColor(this, QPalette::ButtonText));
}

void TTeButton::setFontColor(const QColor &color)
{
    if (ParentFont())
        setParentFont(false);
    m_fontColor = color;
    update();
}

bool TTeButton::ParentFont() const
{
    return !testAttribute(Qt::WA_SetFont) && !m_fontColor;
}

void TTeButton::setParentFont(bool parentFont)
{
    if (parentFont) {
        m_fontColor.reset();
        setFont(QFont());
    } else if (!testAttribute(Qt::WA_SetFont)) {
        // Keep the inherited font as the button's own, so later parent changes no longer reach it.
        QFont own = font();
        own.setResolveMask(QFont::AllPropertiesResolved);
        setFont(own);
    }
    update();
}

void TTeButton::setAlignment(TAlignment alignment)
{
    if (m_alignment == alignment)
        return;
    m_alignment = alignment;
    update();
}

void TTeButton::setTabStop(bool tabStop)
{
    setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::ClickFocus);
}

QWidgetList TTeButton::tabSiblings() const
{
    QWidgetList siblings;
    QWidget *parent = parentWidget();
    if (!parent)
        return siblings;
    // The focus chain holds every widget of the window once; its order is the tab order. Only
    // siblings that can take the focus count, as pictures and labels have no place in it.
    for (QWidget *w = parent->nextInFocusChain(); w && w != parent; w = w->nextInFocusChain()) {
        if (siblings.contains(w))
            break;
        if (w->parentWidget() == parent && (w == this || w->focusPolicy() != Qt::NoFocus))
            siblings.append(w);
    }
    return siblings;
}

int TTeButton::TabOrder() const
{
    return int(tabSiblings().indexOf(const_cast<TTeButton *>(this)));
}

void TTeButton::setTabOrder(int order)
{
    QWidgetList siblings = tabSiblings();
    if (siblings.isEmpty())
        return;
    siblings.removeAll(this);
    siblings.insert(std::clamp<qsizetype>(order, 0, siblings.size()), this);
    for (qsizetype i = 0; i + 1 < siblings.size(); ++i)
        QWidget::setTabOrder(siblings.at(i), siblings.at(i + 1));
}

void TTeButton::setDefault(bool isDefault)
{
    m_default = isDefault;
    QWidget *focus = QApplication::focusWidget();
    if (focus && focus->window() == window())
        updateActiveDefault(focus);
    else if (m_activeDefault != m_default) {
        m_activeDefault = m_default;
        updateShortcuts();
        update();
    }
}

void TTeButton::setCancel(bool cancel)
{
    m_cancel = cancel;
    updateShortcuts();
}

void TTeButton::setFontOptions(const TTeFontOptions &options)
{
    m_fontOptions = options;
    update();
}

void TTeButton::updateActiveDefault(QWidget *focusWidget)
{
    if (!focusWidget || focusWidget->window() != window())
        return;
    const bool active = m_default && !isPushButton(focusWidget);
    if (active == m_activeDefault)
        return;
    m_activeDefault = active;
    updateShortcuts();
    update();
}

void TTeButton::updateShortcuts()
{
    // A focused button handles Enter itself; the window-wide key is for the default button only.
    m_defaultKey->setEnabled(m_activeDefault && !m_focused);
    m_cancelKey->setEnabled(m_cancel);
    const QKeySequence mnemonic = QKeySequence::mnemonic(m_caption);
    m_mnemonic->setKey(mnemonic);
    m_mnemonic->setEnabled(!mnemonic.isEmpty());
}

bool TTeButton::canTakeFocus() const
{
    return isVisible() && isEnabled();
}

void TTeButton::Click()
{
    QPointer<TTeButton> self(this);
    if (m_kind == bkClose) {
        if (QWidget *w = window(); w != this)
            w->close();
    } else if (m_modalResult != 0) {
        if (auto *dialog = qobject_cast<QDialog *>(window()))
            dialog->done(m_modalResult);
    }
    if (OnClick)
        OnClick(this);
    if (self)
        emit clicked();
}

QFont TTeButton::WorkingFont() const
{
    QFont f = font();
    const TTeFontOptions &o = m_fontOptions;
    if (o.Bold)
        f.setBold(true);
    if (o.Italic)
        f.setItalic(true);
    if (o.Underline)
        f.setUnderline(true);
    if (o.StrikeOut)
        f.setStrikeOut(true);
    if (o.SizeDelta != 0) {
        if (f.pointSizeF() > 0) {
            f.setPointSizeF(std::max(1.0, f.pointSizeF() + o.SizeDelta));
        } else if (f.pixelSize() > 0) {
            // A font set in pixels: the delta is still in points, converted at the screen's density.
            const int delta = qRound(o.SizeDelta * logicalDpiY() / 72.0);
            f.setPixelSize(std::max(1, f.pixelSize() + delta));
        }
    }
    if (!o.FontName.isEmpty())
        f.setFamilies({ o.FontName });
    return f;
}

QColor TTeButton::WorkingFontColor() const
{
    if (m_fontOptions.FontColor != TTeFontOptions::NoColor)
        return QColor(QRgb(m_fontOptions.FontColor));
    return FontColor();
}

void TTeButton::setPressed(int pressed)
{
    if (m_pressed == pressed)
        return;
    m_pressed = pressed;
    update();
    notifyAccessibility(this, QAccessible::StateChanged);
}

void TTeButton::setHot(bool hot)
{
    if (m_hot == hot)
        return;
    m_hot = hot;
    update();
}

bool TTeButton::insideButton(const QPointF &pos) const
{
    const int x = qFloor(pos.x());
    const int y = qFloor(pos.y());
    return x >= 0 && y >= 0 && x < width() && y < height();
}

void TTeButton::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    setFocus(Qt::MouseFocusReason);
    m_tracking = true;
    setPressed(1);
    event->accept();
}

void TTeButton::mouseDoubleClickEvent(QMouseEvent *event)
{
    // The second press of a double click is a press like the first: two clicks.
    mousePressEvent(event);
}

void TTeButton::mouseMoveEvent(QMouseEvent *event)
{
    // While the left button holds the mouse captured no Enter or Leave arrives, so hot follows
    // the pointer from here.
    if (event->buttons() & Qt::LeftButton)
        setHot(insideButton(event->position()));
    if (!m_tracking) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    setPressed(insideButton(event->position()) ? 1 : 0);
    event->accept();
}

void TTeButton::mouseReleaseEvent(QMouseEvent *event)
{
    if (!m_tracking) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    const bool inside = insideButton(event->position());
    // The release ends the press whatever started it, a Space still held included: its release
    // then finds no press and clicks no second time.
    m_tracking = false;
    m_spaceDown = false;
    setPressed(0);
    event->accept();
    if (inside)
        Click();
}

void TTeButton::keyPressEvent(QKeyEvent *event)
{
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    switch (event->key()) {
    case Qt::Key_Space:
        if (mods & Qt::AltModifier)
            break;
        if (!event->isAutoRepeat()) {
            m_spaceDown = true;
            setPressed(1);
        }
        event->accept();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (mods & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier))
            break;
        if ((m_focused || m_activeDefault) && canTakeFocus()) {
            event->accept();
            if (!event->isAutoRepeat())
                Click();
            return;
        }
        break;
    case Qt::Key_Escape:
        if (mods == Qt::NoModifier && m_cancel && canTakeFocus()) {
            event->accept();
            if (!event->isAutoRepeat())
                Click();
            return;
        }
        break;
    default:
        break;
    }
    QWidget::keyPressEvent(event);
}

void TTeButton::keyReleaseEvent(QKeyEvent *event)
{
    if (event->key() != Qt::Key_Space) {
        QWidget::keyReleaseEvent(event);
        return;
    }
    event->accept();
    // Some platforms report a held key as release-press pairs; only the real release clicks, and
    // only after a Space press on this button.
    if (event->isAutoRepeat() || !m_spaceDown)
        return;
    // Likewise the Space release ends a mouse press still held: one gesture, one click.
    m_spaceDown = false;
    m_tracking = false;
    setPressed(0);
    Click();
}

void TTeButton::focusInEvent(QFocusEvent *event)
{
    m_focused = true;
    updateShortcuts();
    update();
    TTeControl::focusInEvent(event);
}

void TTeButton::focusOutEvent(QFocusEvent *event)
{
    m_focused = false;
    // The Space release will go elsewhere; do not leave the button drawn down.
    if (m_spaceDown) {
        m_spaceDown = false;
        if (!m_tracking)
            setPressed(0);
    }
    updateShortcuts();
    update();
    TTeControl::focusOutEvent(event);
}

void TTeButton::enterEvent(QEnterEvent *event)
{
    setHot(true);
    TTeControl::enterEvent(event);
}

void TTeButton::leaveEvent(QEvent *event)
{
    setHot(false);
    TTeControl::leaveEvent(event);
}

void TTeButton::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::EnabledChange && !isEnabled()) {
        // A disabled window gets no release, so a press in progress ends here.
        m_tracking = false;
        m_spaceDown = false;
        m_pressed = 0;
    }
    TTeControl::changeEvent(event);
}

} // namespace qalu::skin
