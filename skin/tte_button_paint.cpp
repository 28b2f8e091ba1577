#include "skin/tte_button.h"
#include "skin/tte_button_p.h"

#include <QFontMetrics>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>

namespace qalu::skin {

namespace button_detail {

QString shownText(const QString &caption)
{
    QString text;
    text.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption.at(i) == u'&' && i + 1 < caption.size())
            ++i;
        text.append(caption.at(i));
    }
    return text;
}

} // namespace button_detail

using button_detail::shownText;
using button_detail::systemColor;

namespace {

// A one-pixel frame whose top-right and bottom-left corner pixels belong to the bottom-right
// colour, the way the classic 3-D bevels have always been drawn.
void frame3D(QPainter &p, const QRect &r, const QColor &topLeft, const QColor &bottomRight)
{
    if (r.width() <= 0 || r.height() <= 0)
        return;
    p.fillRect(QRect(r.left(), r.top(), r.width() - 1, 1), topLeft);
    p.fillRect(QRect(r.left(), r.top(), 1, r.height() - 1), topLeft);
    p.fillRect(QRect(r.right(), r.top(), 1, r.height()), bottomRight);
    p.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), bottomRight);
}

// Dotted rectangle: every other pixel of the outline, starting at the top-left corner, inverted.
void focusRect(QPainter &p, const QRect &r)
{
    if (r.width() <= 0 || r.height() <= 0)
        return;
    p.save();
    p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    const auto dot = [&](int x, int y) {
        if (((x - r.left()) + (y - r.top())) % 2 == 0)
            p.fillRect(QRect(x, y, 1, 1), Qt::white);
    };
    for (int x = r.left(); x <= r.right(); ++x) {
        dot(x, r.top());
        if (r.bottom() != r.top())
            dot(x, r.bottom());
    }
    for (int y = r.top() + 1; y < r.bottom(); ++y) {
        dot(r.left(), y);
        if (r.right() != r.left())
            dot(r.right(), y);
    }
    p.restore();
}

} // namespace

void TTeButton::DrawContent(QPainter &painter, const QRect &rect)
{
    const QFont font = WorkingFont();
    painter.fillRect(rect, systemColor(this, QPalette::Button));
    DrawFace(painter, rect);
    const QRect area = CaptionGlyphRect(rect);
    DrawCaption(painter, CaptionRect(area, font), font);
    DrawGlyph(painter, GlyphRect(area));
}

QRect TTeButton::CaptionGlyphRect(const QRect &content) const
{
    return content;
}

QRect TTeButton::CaptionRect(const QRect &area, const QFont &font) const
{
    const QFontMetrics metrics(font, this);
    const int tw = metrics.horizontalAdvance(shownText(m_caption));
    const int th = metrics.height();
    // Integer halves truncate toward zero, also for a caption wider than the button.
    int left = area.left() + (area.width() - tw) / 2;
    if (m_alignment == taLeftJustify)
        left = area.left() + 4;
    else if (m_alignment == taRightJustify)
        left = area.left() + area.width() - tw - 4;
    const int top = area.top() + (area.height() - th) / 2;
    return QRect(left + m_pressed, top + m_pressed, tw, th);
}

QRect TTeButton::GlyphRect(const QRect &) const
{
    return {};
}

void TTeButton::DrawFace(QPainter &painter, const QRect &rect)
{
    if (VisualStylesActive())
        drawThemedFace(painter, rect);
    else
        drawClassicFace(painter, rect);
}

void TTeButton::drawThemedFace(QPainter &painter, const QRect &rect)
{
    QStyleOptionButton option;
    option.initFrom(this);
    option.rect = rect;
    option.direction = Qt::LeftToRight;
    option.features = QStyleOptionButton::None;
    // One state only, as the theme part has: disabled, else pressed, else hot, else defaulted.
    // The focus never shows as a focus rectangle in this look.
    option.state &= QStyle::State_Active | QStyle::State_Window;
    if (!isEnabled()) {
        option.state |= QStyle::State_Raised;
    } else if (m_pressed) {
        option.state |= QStyle::State_Enabled | QStyle::State_Sunken;
    } else if (m_hot) {
        option.state |= QStyle::State_Enabled | QStyle::State_Raised | QStyle::State_MouseOver;
    } else {
        option.state |= QStyle::State_Enabled | QStyle::State_Raised;
        if (m_focused || m_activeDefault)
            option.features |= QStyleOptionButton::DefaultButton;
    }
    painter.save();
    style()->drawControl(QStyle::CE_PushButtonBevel, &option, &painter, this);
    painter.restore();
}

void TTeButton::drawClassicFace(QPainter &painter, const QRect &rect)
{
    const QColor face = systemColor(this, QPalette::Button);
    const QColor highlight = systemColor(this, QPalette::Light);
    const QColor shadow = systemColor(this, QPalette::Dark);
    const QColor black(Qt::black);

    QRect r = rect;
    if (m_focused || m_activeDefault) {
        frame3D(painter, r, black, black);
        r.adjust(1, 1, -1, -1);
    }
    painter.fillRect(r, face);
    if (!m_pressed) {
        frame3D(painter, r, highlight, black);
        r.adjust(1, 1, -1, -1);
        frame3D(painter, r, face, shadow);
    } else {
        frame3D(painter, r, shadow, shadow);
    }
    if (m_focused)
        focusRect(painter,
            QRect(QPoint(rect.left() + 4, rect.top() + 4), QPoint(rect.right() - 4, rect.bottom() - 4)));
}

void TTeButton::DrawGlyph(QPainter &, const QRect &) { }

void TTeButton::DrawCaption(QPainter &painter, const QRect &rect, const QFont &font)
{
    if (m_caption.isEmpty())
        return;
    painter.save();
    painter.setFont(font);
    painter.setLayoutDirection(Qt::LeftToRight);
    const int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine | Qt::TextShowMnemonic
        | Qt::TextDontClip | Qt::TextForceLeftToRight;
    if (isEnabled()) {
        painter.setPen(WorkingFontColor());
        painter.drawText(rect, flags, m_caption);
    } else {
        painter.setPen(systemColor(this, QPalette::Light));
        painter.drawText(rect.translated(1, 1), flags, m_caption);
        painter.setPen(systemColor(this, QPalette::Dark));
        painter.drawText(rect, flags, m_caption);
    }
    painter.restore();
}

} // namespace qalu::skin
