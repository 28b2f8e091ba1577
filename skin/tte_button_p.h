#pragma once

// What the button's three files share: the caption as shown, the system colours, and the
// accessibility hooks the button calls.

#include <QAccessible>
#include <QColor>
#include <QPalette>
#include <QString>
#include <QWidget>

namespace qalu::skin {

class TTeButton;

namespace button_detail {

// The caption as it is shown: "&x" marks the mnemonic, "&&" is a literal ampersand.
QString shownText(const QString &caption);

// System colours do not change with the widget's state, so they are read from the Active group.
inline QColor systemColor(const QWidget *widget, QPalette::ColorRole role)
{
    return widget->palette().color(QPalette::Active, role);
}

// Makes assistive technology see every TTeButton through its own interface; once per process.
void installAccessibleFactory();

void notifyAccessibility(TTeButton *button, QAccessible::Event type);

} // namespace button_detail

} // namespace qalu::skin
