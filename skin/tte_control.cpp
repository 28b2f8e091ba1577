#include "skin/tte_control.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QScreen>
#include <QStyle>
#include <QtMath>

#include <algorithm>
#include <vector>

namespace qalu::skin {

namespace {

// All controls live on the user-interface thread, so plain statics are enough.
std::vector<TTeControl *> &liveControls()
{
    static std::vector<TTeControl *> controls;
    return controls;
}

std::optional<bool> &visualStylesOverride()
{
    static std::optional<bool> value;
    return value;
}

std::optional<bool> &visualStylesCached()
{
    static std::optional<bool> value;
    return value;
}

// The style the cached answer was made for: a control created after a style change with no control
// alive to hear of it must not use the old answer.
const QStyle *&visualStylesCachedFor()
{
    static const QStyle *style = nullptr;
    return style;
}

QImage &sharedBuffer()
{
    static QImage image;
    return image;
}

bool styleIsThemed()
{
    const QStyle *style = QApplication::style();
    // A proxy (a test's recorder, an application tweak) themes as the style it wraps.
    while (const auto *proxy = qobject_cast<const QProxyStyle *>(style)) {
        if (!proxy->baseStyle() || proxy->baseStyle() == style)
            break;
        style = proxy->baseStyle();
    }
    return style && style->name().compare(QLatin1String("windows"), Qt::CaseInsensitive) != 0;
}

} // namespace

TTeControl::TTeControl(QWidget *parent)
    : QWidget(parent)
{
    // The control paints every pixel itself; skipping Qt's erase is what keeps redraws flicker-free.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    liveControls().push_back(this);
    watchDisplays();
}

void TTeControl::watchDisplays()
{
    static bool watching = false;
    if (watching || !qApp)
        return;
    watching = true;
    // A change of the display settings redraws every control, not only those whose window moved.
    const auto watchScreen = [](QScreen *screen) {
        QObject::connect(screen, &QScreen::geometryChanged, qApp, &TTeControl::updateAll);
        QObject::connect(screen, &QScreen::logicalDotsPerInchChanged, qApp, &TTeControl::updateAll);
    };
    for (QScreen *screen : QGuiApplication::screens())
        watchScreen(screen);
    QObject::connect(qApp, &QGuiApplication::screenAdded, qApp, watchScreen);
    QObject::connect(qApp, &QGuiApplication::primaryScreenChanged, qApp, &TTeControl::updateAll);
}

TTeControl::~TTeControl()
{
    auto &controls = liveControls();
    controls.erase(std::remove(controls.begin(), controls.end(), this), controls.end());
}

void TTeControl::setPerformance(TKsPerformance performance)
{
    if (m_performance == performance)
        return;
    m_performance = performance;
    m_buffer = QImage();
    update();
}

bool TTeControl::VisualStylesActive()
{
    if (visualStylesOverride())
        return *visualStylesOverride();
    if (!visualStylesCached() || visualStylesCachedFor() != QApplication::style())
        retestVisualStyles();
    return *visualStylesCached();
}

void TTeControl::setVisualStylesOverride(std::optional<bool> active)
{
    visualStylesOverride() = active;
    updateAll();
}

void TTeControl::retestVisualStyles()
{
    visualStylesCached() = styleIsThemed();
    visualStylesCachedFor() = QApplication::style();
}

void TTeControl::updateAll()
{
    for (TTeControl *control : liveControls())
        control->update();
}

void TTeControl::DrawBorder(QPainter &, const QRect &) { }

void TTeControl::DrawContent(QPainter &, const QRect &) { }

QRect TTeControl::ContentRect() const
{
    const int inset = BorderWidth() + BevelWidth();
    return rect().adjusted(inset, inset, -inset, -inset);
}

QScrollBar *TTeControl::MakeScrollBar(Qt::Orientation)
{
    return nullptr;
}

int TTeControl::ScrollBarThickness() const
{
    return style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
}

void TTeControl::ScrollBarsChanged() { }

void TTeControl::paintControl(QPainter &painter)
{
    DrawBorder(painter, rect());
    DrawContent(painter, ContentRect());
}

void TTeControl::paintEvent(QPaintEvent *)
{
    const int w = width();
    const int h = height();
    if (w <= 0 || h <= 0)
        return;

    if (m_performance == kspNoBuffer) {
        QPainter painter(this);
        paintControl(painter);
        return;
    }

    const qreal dpr = devicePixelRatioF();
    const QSize pixels(qCeil(w * dpr), qCeil(h * dpr));
    QImage &buffer = m_performance == kspSharedBuffer ? sharedBuffer() : m_buffer;
    const bool fits = m_performance == kspSharedBuffer
        ? buffer.width() >= pixels.width() && buffer.height() >= pixels.height()
        : buffer.size() == pixels;
    if (!fits || buffer.devicePixelRatio() != dpr) {
        // The shared image only ever grows, to the largest control painted through it.
        const QSize size = m_performance == kspSharedBuffer
            ? pixels.expandedTo(buffer.isNull() || buffer.devicePixelRatio() != dpr ? QSize() : buffer.size())
            : pixels;
        buffer = QImage(size, QImage::Format_RGB32);
        buffer.setDevicePixelRatio(dpr);
    }
    {
        QPainter painter(&buffer);
        painter.setClipRect(rect());
        paintControl(painter);
    }
    QPainter screen(this);
    screen.drawImage(QRectF(0, 0, w, h), buffer, QRectF(0, 0, pixels.width(), pixels.height()));
}

void TTeControl::changeEvent(QEvent *event)
{
    switch (event->type()) {
    case QEvent::StyleChange:
    case QEvent::ThemeChange:
        retestVisualStyles();
        updateAll();
        break;
    case QEvent::PaletteChange:
    case QEvent::ApplicationPaletteChange:
    case QEvent::FontChange:
    case QEvent::EnabledChange:
        update();
        break;
    default:
        break;
    }
    QWidget::changeEvent(event);
}

bool TTeControl::event(QEvent *event)
{
    // A move to a screen with another pixel ratio needs a buffer of the new size.
    if (event->type() == QEvent::ScreenChangeInternal) {
        m_buffer = QImage();
        update();
    }
    return QWidget::event(event);
}

} // namespace qalu::skin
