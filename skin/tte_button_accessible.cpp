#include "skin/tte_button.h"
#include "skin/tte_button_p.h"

#include <QAccessibleWidget>
#include <QKeySequence>
#include <QPointer>

#include <mutex>

namespace qalu::skin {

using button_detail::shownText;

namespace {

// What assistive technology sees of the button: a push button named by its caption, with a press
// action and the pressed state besides the widget's own (focused, disabled, ...).
class TTeButtonAccessible : public QAccessibleWidget
{
public:
    explicit TTeButtonAccessible(TTeButton *button)
        : QAccessibleWidget(button, QAccessible::Button)
    {
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return shownText(button()->Caption());
        if (t == QAccessible::Accelerator)
            return QKeySequence::mnemonic(button()->Caption()).toString(QKeySequence::NativeText);
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.pressed = button()->Pressed() != 0;
        s.defaultButton = button()->Default();
        return s;
    }

    QStringList actionNames() const override
    {
        QStringList names = QAccessibleWidget::actionNames();
        if (widget()->isEnabled())
            names.prepend(pressAction());
        return names;
    }

    // Queued, as a push button's press action is: the click handler may run a modal message box,
    // and the accessibility client waits for this call to return.
    void doAction(const QString &name) override
    {
        if (name != pressAction()) {
            QAccessibleWidget::doAction(name);
            return;
        }
        if (!widget()->isEnabled())
            return;
        QMetaObject::invokeMethod(
            button(),
            [b = QPointer<TTeButton>(button())] {
                if (b && b->isEnabled())
                    b->Click();
            },
            Qt::QueuedConnection);
    }

private:
    TTeButton *button() const { return static_cast<TTeButton *>(widget()); }
};

QAccessibleInterface *accessibleFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String(TTeButton::staticMetaObject.className()) && object
        && object->isWidgetType())
        return new TTeButtonAccessible(static_cast<TTeButton *>(object));
    return nullptr;
}

} // namespace

namespace button_detail {

void installAccessibleFactory()
{
    static std::once_flag factoryInstalled;
    std::call_once(factoryInstalled, [] { QAccessible::installFactory(&accessibleFactory); });
}

void notifyAccessibility(TTeButton *button, QAccessible::Event type)
{
    if (!QAccessible::isActive())
        return;
    if (type == QAccessible::StateChanged) {
        QAccessible::State changed;
        changed.pressed = true;
        QAccessibleStateChangeEvent event(button, changed);
        QAccessible::updateAccessibility(&event);
    } else {
        QAccessibleEvent event(button, type);
        QAccessible::updateAccessibility(&event);
    }
}

} // namespace button_detail

} // namespace qalu::skin
