#pragma once

#include <QImage>
#include <QWidget>

#include <optional>

class QScrollBar;

namespace qalu::skin {

// How a control gets its pixels to the screen: straight onto the widget, through one image that
// all controls share, or through an image of its own.
enum TKsPerformance { kspNoBuffer, kspSharedBuffer, kspDoubleBuffer };

// Base of the custom-drawn controls. A subclass draws itself completely through the overridable
// operations below (border, then content inside ContentRect()); the base owns the paint event, the
// off-screen buffer chosen by Performance and the redraw on style, palette and display changes, so
// a subclass never sees a background erase and never flickers.
//
// Whether the platform's visual styles count as active (the themed look) is decided once and again
// on every style change: the classic "windows" style means classic; any other application style
// (Fusion, a desktop theme's style, "windowsvista" on Windows, which draws through the theme API)
// counts as themed. Tests force either look with setVisualStylesOverride().
class TTeControl : public QWidget
{
    Q_OBJECT
public:
    explicit TTeControl(QWidget *parent = nullptr);
    ~TTeControl() override;

    TKsPerformance Performance() const { return m_performance; }
    void setPerformance(TKsPerformance performance);

    static bool VisualStylesActive();
    // std::nullopt returns to the style-based decision. Redraws every control.
    static void setVisualStylesOverride(std::optional<bool> active);

protected:
    // Overridable operations, in this order.
    virtual void DrawBorder(QPainter &painter, const QRect &rect);
    virtual void DrawContent(QPainter &painter, const QRect &rect);
    virtual QRect ContentRect() const;
    virtual QScrollBar *MakeScrollBar(Qt::Orientation orientation);
    virtual int ScrollBarThickness() const;
    virtual void ScrollBarsChanged();

    int BorderWidth() const { return 0; }
    int BevelWidth() const { return 0; }

    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool event(QEvent *event) override;

private:
    void paintControl(QPainter &painter);
    static void retestVisualStyles();
    static void updateAll();
    static void watchDisplays();

    TKsPerformance m_performance = kspDoubleBuffer;
    QImage m_buffer;
};

} // namespace qalu::skin
