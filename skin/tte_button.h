#pragma once

#include "skin/tte_control.h"

#include <QColor>
#include <QFont>
#include <QString>

#include <functional>

class QShortcut;

namespace qalu::skin {

enum TAlignment { taLeftJustify, taRightJustify, taCenter };

// bkCustom is a plain button; bkClose closes its window when clicked.
enum TTeButtonKind { bkCustom, bkClose };

// Overlay applied to the button's font before drawing. The defaults leave the font unchanged.
struct TTeFontOptions
{
    // FontColor holds 0xRRGGBB (the top byte is ignored) or NoColor.
    static constexpr quint32 NoColor = 0x1FFFFFFF;

    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    bool StrikeOut = false;
    int SizeDelta = 0; // points added to the font's size
    QString FontName; // non-empty replaces the typeface
    quint32 FontColor = NoColor;
};

// The push button the update button is drawn in: a caption on a themed or classic face, a click by
// mouse, Space, Enter, Escape (when Cancel) or the caption's '&' mnemonic.
//
// Wire OnClick (called with the button as sender; clicked() is emitted after it). Geometry, focus,
// Enabled (setEnabled) and Font (setFont) are the QWidget's own. A QFont carries no colour, so the
// caption colour is a property of its own: setFontColor(); until one is set, the caption follows the
// palette's ButtonText like the font follows the parent (ParentFont). Typical set-up:
//
//     button->setCaption(...); button->setFont(font); button->setFontColor(Qt::red);
//
// Colours of the classic look come from the palette: face = Button, highlight = Light,
// shadow = Dark (the role the platform themes fill with the 3-D shadow colour), and black.
// The caption is always laid out left to right, also under a right-to-left application.
class TTeButton : public TTeControl
{
    Q_OBJECT
public:
    explicit TTeButton(QWidget *parent = nullptr);
    ~TTeButton() override;

    QString Caption() const { return m_caption; }
    void setCaption(const QString &caption);

    QColor FontColor() const;
    void setFontColor(const QColor &color);

    // True while the font (and the caption colour) follow the parent; setFont() turns it off.
    bool ParentFont() const;
    void setParentFont(bool parentFont);

    TAlignment Alignment() const { return m_alignment; }
    void setAlignment(TAlignment alignment);

    bool TabStop() const { return focusPolicy() == Qt::StrongFocus; }
    void setTabStop(bool tabStop);

    // Position in the parent's tab chain among the children that can take the focus, counted from
    // the parent. setTabOrder() moves the button there; Qt keeps the chain a cycle, so a move that
    // leaves the cycle as it was (first versus last) changes nothing. QWidget::setTabOrder(a, b)
    // still works.
    int TabOrder() const;
    void setTabOrder(int order);

    bool Default() const { return m_default; }
    void setDefault(bool isDefault);
    bool Cancel() const { return m_cancel; }
    void setCancel(bool cancel);

    int ModalResult() const { return m_modalResult; }
    void setModalResult(int result) { m_modalResult = result; }

    TTeButtonKind Kind() const { return m_kind; }
    void setKind(TTeButtonKind kind) { m_kind = kind; }

    TTeFontOptions FontOptions() const { return m_fontOptions; }
    void setFontOptions(const TTeFontOptions &options);

    QString ThemeObject() const { return m_themeObject; }
    void setThemeObject(const QString &name) { m_themeObject = name; }

    std::function<void(QObject *sender)> OnClick;

    // Run-time state.
    bool Hot() const { return m_hot; }
    bool Focused() const { return m_focused; }
    int Pressed() const { return m_pressed; }
    bool Tracking() const { return m_tracking; }
    bool ActiveDefault() const { return m_activeDefault; }

    // Performs a click as the input rules do (for code that must press the button itself).
    void Click();

    // Font and caption colour after the FontOptions overlay: what the caption is drawn in.
    QFont WorkingFont() const;
    QColor WorkingFontColor() const;

signals:
    void clicked();

protected:
    void DrawContent(QPainter &painter, const QRect &rect) override;

    // Overridable operations added by the button, in this order.
    virtual QRect CaptionGlyphRect(const QRect &content) const;
    virtual QRect CaptionRect(const QRect &area, const QFont &font) const;
    virtual QRect GlyphRect(const QRect &area) const;
    virtual void DrawFace(QPainter &painter, const QRect &rect);
    virtual void DrawGlyph(QPainter &painter, const QRect &rect);
    virtual void DrawCaption(QPainter &painter, const QRect &rect, const QFont &font);

    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void drawThemedFace(QPainter &painter, const QRect &rect);
    void drawClassicFace(QPainter &painter, const QRect &rect);
    void setPressed(int pressed);
    void setHot(bool hot);
    bool insideButton(const QPointF &pos) const;
    bool canTakeFocus() const;
    void updateShortcuts();
    void updateActiveDefault(QWidget *focusWidget);
    QWidgetList tabSiblings() const;

    QString m_caption;
    std::optional<QColor> m_fontColor;
    TAlignment m_alignment = taCenter;
    bool m_default = false;
    bool m_cancel = false;
    int m_modalResult = 0;
    TTeButtonKind m_kind = bkCustom;
    TTeFontOptions m_fontOptions;
    QString m_themeObject = QStringLiteral("default");

    bool m_hot = false;
    bool m_focused = false;
    int m_pressed = 0;
    bool m_tracking = false;
    bool m_spaceDown = false;
    bool m_activeDefault = false;

    QShortcut *m_mnemonic = nullptr;
    QShortcut *m_defaultKey = nullptr;
    QShortcut *m_cancelKey = nullptr;
};

} // namespace qalu::skin
