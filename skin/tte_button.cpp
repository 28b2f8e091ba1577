#include "skin/tte_button.h"

#include <QMouseEvent>
#include <QPainter>

namespace qalu::skin {

TTeControl::TTeControl(QWidget *parent) : QWidget(parent) { }

TTeButton::TTeButton(QWidget *parent) : TTeControl(parent)
{
    setFocusPolicy(Qt::StrongFocus);
}

void TTeButton::setCaption(const QString &caption)
{
    m_caption = caption;
    update();
}

void TTeButton::Click()
{
    emit clicked();
    if (OnClick)
        OnClick(this);
}

void TTeButton::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), palette().button());
    p.setPen(isEnabled() ? font().bold() ? Qt::red : Qt::black : Qt::gray);
    p.drawText(rect(), Qt::AlignCenter, m_caption);
}

void TTeButton::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        Click();
}

} // namespace qalu::skin
