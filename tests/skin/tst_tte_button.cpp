#include "skin/tte_button.h"

#include <QAccessible>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QSignalSpy>
#include <QStyleFactory>
#include <QStyleOptionButton>
#include <QTest>

#include <memory>

using namespace qalu::skin;

namespace {

constexpr int W = 120;
constexpr int H = 40;

const QColor kFace(0xc0, 0xc0, 0xc0);
const QColor kLight(0xff, 0xff, 0xff);
const QColor kDark(0x80, 0x80, 0x80);
const QColor kCaption(0xff, 0x00, 0x00);

enum Role { Face, Light, Dark, Black, FaceInverted };

struct Probe
{
    QPoint at; // negative coordinates count from the right or bottom edge: -1 is the last
    Role role;
};

QColor roleColor(Role role)
{
    switch (role) {
    case Face:
        return kFace;
    case Light:
        return kLight;
    case Dark:
        return kDark;
    case Black:
        return Qt::black;
    case FaceInverted:
        return QColor(255 - kFace.red(), 255 - kFace.green(), 255 - kFace.blue());
    }
    return {};
}

QString describe(QPoint at, const QColor &color)
{
    return QStringLiteral("(%1,%2) %3").arg(at.x()).arg(at.y()).arg(color.name());
}

// Which look the button is drawn in: what the application style decides, or either one forced.
enum class Look { Application, Classic, Themed };

// A window with a line edit (somewhere else for the focus to be) and the button under test, in a
// palette whose classic colours are all distinct. A themed host draws the button through
// themedStyle, or through Fusion when none is given.
struct Host
{
    std::unique_ptr<QStyle> fusion; // outlives the window that uses it
    QWidget window;
    QLineEdit *edit = nullptr;
    TTeButton *button = nullptr;

    explicit Host(Look look = Look::Application, QStyle *themedStyle = nullptr)
    {
        if (look != Look::Application)
            TTeControl::setVisualStylesOverride(look == Look::Themed);
        QPalette palette = window.palette();
        palette.setColor(QPalette::Button, kFace);
        palette.setColor(QPalette::Light, kLight);
        palette.setColor(QPalette::Dark, kDark);
        palette.setColor(QPalette::ButtonText, Qt::black);
        window.setPalette(palette);
        window.resize(300, 120);
        edit = new QLineEdit(&window);
        edit->setGeometry(10, 70, 100, 24);
        button = new TTeButton(&window);
        button->setGeometry(10, 10, W, H);
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(19);
        font.setBold(true);
        // Exact colours make the caption's pixels countable.
        font.setStyleStrategy(QFont::NoAntialias);
        button->setFont(font);
        button->setFontColor(kCaption);
        button->setCaption(QStringLiteral("Update"));
        if (look == Look::Themed) {
            if (!themedStyle) {
                fusion.reset(QStyleFactory::create(QStringLiteral("Fusion")));
                themedStyle = fusion.get();
            }
            button->setStyle(themedStyle);
        }
    }

    bool show()
    {
        window.show();
        return QTest::qWaitForWindowActive(&window);
    }

    QImage image() const { return button->grab().toImage().convertToFormat(QImage::Format_RGB32); }
};

void hover(QWidget *widget)
{
    QEnterEvent enter(
        QPointF(5, 5), widget->mapTo(widget->window(), QPointF(5, 5)), widget->mapToGlobal(QPointF(5, 5)));
    QApplication::sendEvent(widget, &enter);
}

// Qt Test's mouseMove carries no held button for widgets; a drag needs the event built by hand.
void dragTo(QWidget *widget, QPoint pos)
{
    QMouseEvent move(
        QEvent::MouseMove, pos, widget->mapToGlobal(pos), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
}

QRect boundingBoxOf(const QImage &image, const QRect &area, const std::function<bool(QRgb)> &match)
{
    QRect box;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (match(image.pixel(x, y)))
                box |= QRect(x, y, 1, 1);
    return box;
}

bool isCaption(QRgb pixel)
{
    return pixel == kCaption.rgb();
}

// Records what the button asks the style to draw.
class RecordingStyle : public QProxyStyle
{
public:
    RecordingStyle()
        : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion")))
    {
    }

    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
        const QWidget *widget) const override
    {
        if (const auto *button = qstyleoption_cast<const QStyleOptionButton *>(option)) {
            if (element == CE_PushButton || element == CE_PushButtonBevel) {
                states.append(button->state);
                features.append(button->features);
            }
        }
        QProxyStyle::drawControl(element, option, painter, widget);
    }

    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
        const QWidget *widget) const override
    {
        if (element == PE_FrameFocusRect)
            ++focusRects;
        QProxyStyle::drawPrimitive(element, option, painter, widget);
    }

    void clear()
    {
        states.clear();
        features.clear();
        focusRects = 0;
    }

    mutable QList<QStyle::State> states;
    mutable QList<QStyleOptionButton::ButtonFeatures> features;
    mutable int focusRects = 0;
};

enum Input { MouseClick, DoubleClick, SpaceKey, EnterKey, EscapeKey, MnemonicKey };

void deliver(Host &host, Input input)
{
    QWidget *target = QApplication::focusWidget() ? QApplication::focusWidget() : &host.window;
    switch (input) {
    case MouseClick:
        QTest::mouseClick(host.button, Qt::LeftButton, {}, QPoint(W / 2, H / 2));
        break;
    case DoubleClick:
        QTest::mouseClick(host.button, Qt::LeftButton, {}, QPoint(W / 2, H / 2));
        QTest::mouseDClick(host.button, Qt::LeftButton, {}, QPoint(W / 2, H / 2));
        QTest::mouseRelease(host.button, Qt::LeftButton, {}, QPoint(W / 2, H / 2));
        break;
    case SpaceKey:
        QTest::keyClick(target, Qt::Key_Space);
        break;
    case EnterKey:
        QTest::keyClick(target, Qt::Key_Return);
        break;
    case EscapeKey:
        QTest::keyClick(target, Qt::Key_Escape);
        break;
    case MnemonicKey:
        QTest::keyClick(target, Qt::Key_U, Qt::AltModifier);
        break;
    }
}

// One row per forced look, for cases both looks must pass.
void addLookRows()
{
    QTest::addColumn<Look>("look");
    QTest::newRow("classic") << Look::Classic;
    QTest::newRow("themed") << Look::Themed;
}

} // namespace

Q_DECLARE_METATYPE(Look)
Q_DECLARE_METATYPE(Probe)
Q_DECLARE_METATYPE(Input)
Q_DECLARE_METATYPE(TAlignment)
Q_DECLARE_METATYPE(TKsPerformance)
Q_DECLARE_METATYPE(TTeButtonKind)
Q_DECLARE_METATYPE(TTeFontOptions)

class TstTteButton : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        TTeControl::setVisualStylesOverride(std::nullopt);
        QApplication::setLayoutDirection(Qt::LeftToRight);
    }

    void classicLook_data();
    void classicLook();
    void themedStateReachesStyle_data();
    void themedStateReachesStyle();
    void captionMovesWhenPressed_data();
    void captionMovesWhenPressed();
    void captionPlacement_data();
    void captionPlacement();
    void disabledCaptionIsEmbossed_data();
    void disabledCaptionIsEmbossed();
    void captionKeepsLeftToRightOrder();
    void bufferingModesPaintAlike_data();
    void bufferingModesPaintAlike();
    void lookFollowsApplicationStyle();
    void fontOptionsOverlay_data();
    void fontOptionsOverlay();
    void parentFontFollowsParent();
    void tabOrderPlacesButton_data();
    void tabOrderPlacesButton();

    void mouseDrag_data();
    void mouseDrag();
    void doubleClickClicksTwice_data();
    void doubleClickClicksTwice();
    void firstClickFocuses_data();
    void firstClickFocuses();
    void keyboard_data();
    void keyboard();
    void heldSpaceClicksOnce();
    void pressCombinations_data();
    void pressCombinations();
    void mnemonic_data();
    void mnemonic();
    void disabledIgnoresInput_data();
    void disabledIgnoresInput();
    void clickReachesWindow_data();
    void clickReachesWindow();
    void accessibleInterface();
};

void TstTteButton::classicLook_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<QList<Probe>>("probes");

    const QList<Probe> raised = {
        { { 0, 0 }, Light },
        { { -2, 0 }, Light },
        { { -1, 0 }, Black },
        { { 0, -2 }, Light },
        { { 0, -1 }, Black },
        { { -1, -1 }, Black },
        { { 1, 1 }, Face },
        { { -3, 1 }, Face },
        { { -2, 1 }, Dark },
        { { 1, -2 }, Dark },
        { { -2, -2 }, Dark },
        { { 2, 2 }, Face },
        { { 4, 4 }, Face },
        { { 5, 4 }, Face },
    };
    QTest::newRow("normal: raised bevel") << "normal" << raised;
    QTest::newRow("hot: as normal") << "hot" << raised;
    QTest::newRow("disabled: raised bevel") << "disabled" << raised;
    QTest::newRow("focused: black frame, bevel inside, dotted focus rectangle")
        << "focused"
        << QList<Probe> {
               { { 0, 0 }, Black },
               { { -1, 0 }, Black },
               { { 0, -1 }, Black },
               { { -1, -1 }, Black },
               { { 1, 1 }, Light },
               { { -3, 1 }, Light },
               { { -2, 1 }, Black },
               { { -2, -2 }, Black },
               { { 2, 2 }, Face },
               { { -3, -3 }, Dark },
               { { 3, 3 }, Face },
               { { 4, 4 }, FaceInverted },
               { { 5, 4 }, Face },
               { { 6, 4 }, FaceInverted },
               { { 4, 5 }, Face },
               { { 4, 6 }, FaceInverted },
               { { -6, 4 }, FaceInverted },
               { { -5, -5 }, FaceInverted },
               { { -6, -5 }, Face },
               { { -4, -4 }, Face },
           };
    QTest::newRow("pressed: black frame, flat face, shadow frame, focus rectangle")
        << "pressed"
        << QList<Probe> {
               { { 0, 0 }, Black },
               { { -1, -1 }, Black },
               { { 1, 1 }, Dark },
               { { -2, 1 }, Dark },
               { { 1, -2 }, Dark },
               { { -2, -2 }, Dark },
               { { 2, 2 }, Face },
               { { -3, -3 }, Face },
               { { 3, 3 }, Face },
               { { 4, 4 }, FaceInverted },
               { { 5, 4 }, Face },
               { { -5, -5 }, FaceInverted },
           };
}

void TstTteButton::classicLook()
{
    QFETCH(QString, state);
    QFETCH(QList<Probe>, probes);

    Host host(Look::Classic);
    QVERIFY(host.show());
    host.edit->setFocus();
    if (state == QLatin1String("hot"))
        hover(host.button);
    else if (state == QLatin1String("focused"))
        host.button->setFocus();
    else if (state == QLatin1String("pressed"))
        QTest::mousePress(host.button, Qt::LeftButton, {}, QPoint(W / 2, H / 2));
    else if (state == QLatin1String("disabled"))
        host.button->setEnabled(false);

    const QImage image = host.image();
    QCOMPARE(image.size(), QSize(W, H));
    for (const Probe &probe : probes) {
        const QPoint at(probe.at.x() < 0 ? W + probe.at.x() : probe.at.x(),
            probe.at.y() < 0 ? H + probe.at.y() : probe.at.y());
        QCOMPARE(describe(at, image.pixelColor(at)), describe(at, roleColor(probe.role)));
    }
    if (state == QLatin1String("pressed"))
        QTest::mouseRelease(host.button, Qt::LeftButton, {}, QPoint(W / 2, H / 2));
}

void TstTteButton::themedStateReachesStyle_data()
{
    QTest::addColumn<bool>("disable");
    QTest::addColumn<bool>("focus");
    QTest::addColumn<bool>("hot");
    QTest::addColumn<bool>("press");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("sunken");
    QTest::addColumn<bool>("mouseOver");
    QTest::addColumn<bool>("defaulted");

    QTest::newRow("normal") << false << false << false << false << true << false << false << false;
    QTest::newRow("hot") << false << false << true << false << true << false << true << false;
    QTest::newRow("focused shows as defaulted")
        << false << true << false << false << true << false << false << true;
    QTest::newRow("hot wins over focused")
        << false << true << true << false << true << false << true << false;
    QTest::newRow("pressed") << false << false << false << true << true << true << false << false;
    QTest::newRow("pressed wins over hot")
        << false << false << true << true << true << true << false << false;
    QTest::newRow("disabled") << true << false << false << false << false << false << false << false;
    QTest::newRow("disabled wins over hot and focused")
        << true << true << true << false << false << false << false << false;
}

void TstTteButton::themedStateReachesStyle()
{
    QFETCH(bool, disable);
    QFETCH(bool, focus);
    QFETCH(bool, hot);
    QFETCH(bool, press);
    QFETCH(bool, enabled);
    QFETCH(bool, sunken);
    QFETCH(bool, mouseOver);
    QFETCH(bool, defaulted);

    RecordingStyle style;
    Host host(Look::Themed, &style);
    QVERIFY(host.show());
    host.edit->setFocus();
    if (focus) {
        host.button->setFocus();
        QTRY_VERIFY(host.button->hasFocus());
    }
    if (hot)
        hover(host.button);
    if (press)
        QTest::mousePress(host.button, Qt::LeftButton, {}, QPoint(W / 2, H / 2));
    if (disable)
        host.button->setEnabled(false);

    style.clear();
    host.image();
    QVERIFY(!style.states.isEmpty());
    const QStyle::State state = style.states.constLast();
    QCOMPARE(bool(state & QStyle::State_Enabled), enabled);
    QCOMPARE(bool(state & QStyle::State_Sunken), sunken);
    QCOMPARE(bool(state & QStyle::State_MouseOver), mouseOver);
    QCOMPARE(bool(style.features.constLast() & QStyleOptionButton::DefaultButton), defaulted);
    // The themed look never shows the focus as a focus rectangle.
    QVERIFY(!(state & QStyle::State_HasFocus));
    QCOMPARE(style.focusRects, 0);
    if (press && !disable)
        QTest::mouseRelease(host.button, Qt::LeftButton, {}, QPoint(W / 2, H / 2));
}

void TstTteButton::captionMovesWhenPressed_data()
{
    addLookRows();
}

void TstTteButton::captionMovesWhenPressed()
{
    QFETCH(Look, look);

    Host host(look);
    QVERIFY(host.show());
    host.button->setFocus();
    QTRY_VERIFY(host.button->hasFocus());

    const QRect inner(5, 5, W - 10, H - 10);
    const QRect normal = boundingBoxOf(host.image(), inner, isCaption);
    QVERIFY(!normal.isEmpty());
    QTest::mousePress(host.button, Qt::LeftButton, {}, QPoint(W / 2, H / 2));
    const QRect pressed = boundingBoxOf(host.image(), inner, isCaption);
    QTest::mouseRelease(host.button, Qt::LeftButton, {}, QPoint(W / 2, H / 2));

    QCOMPARE(pressed, normal.translated(1, 1));
}

void TstTteButton::captionPlacement_data()
{
    QTest::addColumn<TAlignment>("alignment");
    QTest::addColumn<int>("width");

    // Odd leftovers show whether the halves truncate; a caption wider than the button leaves a
    // negative one, which truncates toward zero.
    QTest::newRow("left") << taLeftJustify << 120;
    QTest::newRow("right") << taRightJustify << 120;
    QTest::newRow("centre, even leftover") << taCenter << 120;
    QTest::newRow("centre, odd leftover") << taCenter << 121;
    QTest::newRow("centre, caption wider than the button by an odd amount") << taCenter << -7;
}

void TstTteButton::captionPlacement()
{
    QFETCH(TAlignment, alignment);
    QFETCH(int, width);

    Host host(Look::Classic);
    // Blanks on both sides keep the ink inside the button when the caption overflows it.
    host.button->setCaption(QStringLiteral("   Update   "));
    const QFontMetrics metrics(host.button->WorkingFont(), host.button);
    const int tw = metrics.horizontalAdvance(host.button->Caption());
    const int th = metrics.height();

    // Where the ink ends relative to where the caption starts, measured in a roomy left-aligned button.
    host.button->setAlignment(taLeftJustify);
    host.button->resize(tw + 40, H);
    const int inkRightFromLeft = boundingBoxOf(host.image(), QRect(0, 0, tw + 40, H), isCaption).right() - 4;

    const int w = width > 0 ? width : tw + width;
    host.button->setAlignment(alignment);
    host.button->resize(w, H);
    int left = (w - tw) / 2;
    if (alignment == taLeftJustify)
        left = 4;
    else if (alignment == taRightJustify)
        left = w - tw - 4;
    const QImage image = host.image();
    const QRect ink = boundingBoxOf(image, image.rect(), isCaption);
    QVERIFY(!ink.isEmpty());
    QCOMPARE(ink.right(), left + inkRightFromLeft);

    // Vertical placement: the same caption one pixel taller moves by the truncated half.
    const int topBefore = ink.top();
    host.button->resize(w, H + 1);
    const QImage taller = host.image();
    QCOMPARE(
        boundingBoxOf(taller, taller.rect(), isCaption).top(), topBefore + (H + 1 - th) / 2 - (H - th) / 2);
}

void TstTteButton::disabledCaptionIsEmbossed_data()
{
    addLookRows();
}

void TstTteButton::disabledCaptionIsEmbossed()
{
    QFETCH(Look, look);

    Host host(look);
    host.button->setEnabled(false);
    const QImage image = host.image();

    const QRect inner(5, 5, W - 10, H - 10);
    QVERIFY(boundingBoxOf(image, inner, isCaption).isEmpty());
    const QRect shadow = boundingBoxOf(image, inner, [](QRgb p) { return p == kDark.rgb(); });
    const QRect highlight = boundingBoxOf(image, inner, [](QRgb p) { return p == kLight.rgb(); });
    QVERIFY(!shadow.isEmpty());
    QVERIFY(!highlight.isEmpty());
    QCOMPARE(highlight.bottomRight(), shadow.bottomRight() + QPoint(1, 1));
    // Every shadow pixel has its highlight twin one pixel right and down, unless the shadow
    // text covers it.
    for (int y = shadow.top(); y <= shadow.bottom(); ++y) {
        for (int x = shadow.left(); x <= shadow.right(); ++x) {
            if (image.pixel(x, y) != kDark.rgb())
                continue;
            const QRgb twin = image.pixel(x + 1, y + 1);
            QVERIFY2(twin == kLight.rgb() || twin == kDark.rgb(),
                qPrintable(describe(QPoint(x + 1, y + 1), QColor(twin))));
        }
    }
}

void TstTteButton::captionKeepsLeftToRightOrder()
{
    const QString arabic = QStringLiteral(u"تحديث");
    if (!QFontMetrics(QFont(QStringLiteral("DejaVu Sans"))).inFont(arabic.at(0)))
        QSKIP("no Arabic-capable font installed");
    QApplication::setLayoutDirection(Qt::RightToLeft);

    // Read left to right, a caption that starts with an Arabic word shows that word first from the
    // left, the Latin one after it; right to left (also what the Arabic start suggests to an
    // automatic direction) would put the Latin word at the left.
    Host host(Look::Classic);
    host.button->resize(300, H);
    host.button->setAlignment(taLeftJustify);
    host.button->setCaption(arabic);
    const QImage alone = host.image();
    const QRect arabicInk = boundingBoxOf(alone, alone.rect(), isCaption);
    QVERIFY(!arabicInk.isEmpty());
    host.button->setCaption(arabic + QStringLiteral(" Go"));
    const QImage mixed = host.image();
    const QRect arabicPart(0, 0, arabicInk.right() + 2, H);
    QCOMPARE(mixed.copy(arabicPart), alone.copy(arabicPart));
    QVERIFY(boundingBoxOf(mixed, mixed.rect(), isCaption).right() > arabicInk.right() + 10);
}

void TstTteButton::bufferingModesPaintAlike_data()
{
    QTest::addColumn<TKsPerformance>("performance");
    QTest::newRow("direct") << kspNoBuffer;
    QTest::newRow("shared buffer, after a larger control") << kspSharedBuffer;
    QTest::newRow("own buffer") << kspDoubleBuffer;
}

void TstTteButton::bufferingModesPaintAlike()
{
    QFETCH(TKsPerformance, performance);

    Host host(Look::Classic);
    QVERIFY(host.show());
    host.button->setFocus();
    QTRY_VERIFY(host.button->hasFocus());
    const QImage reference = host.image();

    // A larger control leaves the shared image bigger than this button and full of its own pixels.
    TTeButton other(&host.window);
    other.setPerformance(kspSharedBuffer);
    other.setCaption(QStringLiteral("Another, longer caption"));
    other.resize(280, 60);
    other.grab();

    host.button->setPerformance(performance);
    QCOMPARE(host.image(), reference);
}

void TstTteButton::lookFollowsApplicationStyle()
{
    const QString original = QApplication::style()->name();
    TTeButton button;
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Windows")));
    QVERIFY(!TTeControl::VisualStylesActive());
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QVERIFY(TTeControl::VisualStylesActive());
    TTeControl::setVisualStylesOverride(false);
    QVERIFY(!TTeControl::VisualStylesActive());
    QApplication::setStyle(QStyleFactory::create(original));
}

void TstTteButton::fontOptionsOverlay_data()
{
    QTest::addColumn<TTeFontOptions>("options");
    QTest::addColumn<bool>("pixelFont");
    QTest::addColumn<QString>("family");
    QTest::addColumn<bool>("bold");
    QTest::addColumn<bool>("underline");
    QTest::addColumn<qreal>("points");
    QTest::addColumn<int>("pixels");
    QTest::addColumn<QColor>("color");

    const QString base = QStringLiteral("DejaVu Sans");
    TTeFontOptions options;
    QTest::newRow("defaults leave the font alone")
        << options << false << base << false << false << 10.0 << -1 << QColor(Qt::blue);
    options.Bold = true;
    options.Underline = true;
    QTest::newRow("styles add") << options << false << base << true << true << 10.0 << -1 << QColor(Qt::blue);
    options = {};
    options.SizeDelta = 3;
    QTest::newRow("size delta adds points")
        << options << false << base << false << false << 13.0 << -1 << QColor(Qt::blue);
    // 96 dots per inch: 6 points are 8 pixels.
    options.SizeDelta = 6;
    QTest::newRow("size delta on a pixel-sized font")
        << options << true << base << false << false << -1.0 << 27 << QColor(Qt::blue);
    options = {};
    options.FontName = QStringLiteral("Noto Sans");
    QTest::newRow("font name replaces the typeface")
        << options << false << options.FontName << false << false << 10.0 << -1 << QColor(Qt::blue);
    options = {};
    options.FontColor = 0x00ff00;
    QTest::newRow("font colour replaces the colour")
        << options << false << base << false << false << 10.0 << -1 << QColor(Qt::green);
    options.FontColor = 0;
    QTest::newRow("black is a colour, not the no-colour value")
        << options << false << base << false << false << 10.0 << -1 << QColor(Qt::black);
}

void TstTteButton::fontOptionsOverlay()
{
    QFETCH(TTeFontOptions, options);
    QFETCH(bool, pixelFont);
    QFETCH(QString, family);
    QFETCH(bool, bold);
    QFETCH(bool, underline);
    QFETCH(qreal, points);
    QFETCH(int, pixels);
    QFETCH(QColor, color);

    Host host;
    QFont font(QStringLiteral("DejaVu Sans"));
    if (pixelFont)
        font.setPixelSize(19);
    else
        font.setPointSizeF(10);
    host.button->setFont(font);
    host.button->setFontColor(Qt::blue);
    host.button->setFontOptions(options);
    if (host.button->logicalDpiY() != 96 && pixelFont)
        QSKIP("the pixel row assumes a 96 dpi screen");

    const QFont working = host.button->WorkingFont();
    QCOMPARE(working.family(), family);
    QCOMPARE(working.bold(), bold);
    QCOMPARE(working.underline(), underline);
    QCOMPARE(working.pointSizeF(), points);
    QCOMPARE(working.pixelSize(), pixels);
    QCOMPARE(host.button->WorkingFontColor(), color);
    // The button's own font is not touched by the overlay.
    QCOMPARE(host.button->font(), font);
    const QRgb caption = color.rgb();
    QVERIFY(!boundingBoxOf(host.image(), QRect(5, 5, W - 10, H - 10), [caption](QRgb p) {
        return p == caption;
    }).isEmpty());
}

void TstTteButton::parentFontFollowsParent()
{
    Host host;
    QVERIFY(!host.button->ParentFont());
    host.button->setParentFont(true);
    QVERIFY(host.button->ParentFont());
    QFont parentFont(QStringLiteral("Noto Sans"));
    parentFont.setPixelSize(23);
    host.window.setFont(parentFont);
    QCOMPARE(host.button->font().pixelSize(), 23);
    QCOMPARE(host.button->FontColor(), QColor(Qt::black)); // the palette's button text

    // A colour of its own ends following the parent, and keeps the font it had.
    host.button->setFontColor(Qt::red);
    QVERIFY(!host.button->ParentFont());
    parentFont.setPixelSize(30);
    host.window.setFont(parentFont);
    QCOMPARE(host.button->font().pixelSize(), 23);
    QCOMPARE(host.button->FontColor(), QColor(Qt::red));
}

void TstTteButton::tabOrderPlacesButton_data()
{
    QTest::addColumn<int>("order");
    QTest::addColumn<QStringList>("tabs");

    // Tab moves round a cycle, so "first" and "last" of three make the same cycle.
    QTest::newRow("first") << 0
                           << QStringList { QStringLiteral("second"), QStringLiteral("button"),
                                  QStringLiteral("edit") };
    QTest::newRow("second") << 1
                            << QStringList { QStringLiteral("button"), QStringLiteral("second"),
                                   QStringLiteral("edit") };
    QTest::newRow("beyond the end goes last")
        << 9 << QStringList { QStringLiteral("second"), QStringLiteral("button"), QStringLiteral("edit") };
}

void TstTteButton::tabOrderPlacesButton()
{
    QFETCH(int, order);
    QFETCH(QStringList, tabs);

    // The button comes last in creation; a label that takes no focus does not count.
    Host host;
    host.edit->setObjectName(QStringLiteral("edit"));
    host.button->setObjectName(QStringLiteral("button"));
    new QLabel(QStringLiteral("label"), &host.window);
    auto *second = new QLineEdit(&host.window);
    second->setObjectName(QStringLiteral("second"));
    second->setGeometry(150, 70, 100, 24);
    QWidget::setTabOrder(host.edit, second);
    QWidget::setTabOrder(second, host.button);

    host.button->setTabOrder(order);
    QVERIFY(host.show());
    host.edit->setFocus();
    QTRY_VERIFY(host.edit->hasFocus());
    QStringList visited;
    for (int i = 0; i < tabs.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(visited, tabs);
}

void TstTteButton::mouseDrag_data()
{
    QTest::addColumn<QList<QPoint>>("moves");
    QTest::addColumn<QList<bool>>("pressedLooks");
    QTest::addColumn<int>("clicks");

    const QPoint in(W / 2, H / 2);
    QTest::newRow("release inside") << QList<QPoint> {} << QList<bool> {} << 1;
    QTest::newRow("drag off, release off") << QList<QPoint> { { W / 2, -10 } } << QList<bool> { false } << 0;
    QTest::newRow("drag off and back, release inside")
        << QList<QPoint> { { W / 2, -10 }, in } << QList<bool> { false, true } << 1;
    QTest::newRow("drag back and off again, release off")
        << QList<QPoint> { { W / 2, -10 }, in, { W + 30, H / 2 } } << QList<bool> { false, true, false } << 0;
    QTest::newRow("one past the last column") << QList<QPoint> { { W, H / 2 } } << QList<bool> { false } << 0;
    QTest::newRow("one past the last row") << QList<QPoint> { { W / 2, H } } << QList<bool> { false } << 0;
    QTest::newRow("last column and row") << QList<QPoint> { { W - 1, H - 1 } } << QList<bool> { true } << 1;
    QTest::newRow("first column and row") << QList<QPoint> { { 0, 0 } } << QList<bool> { true } << 1;
    QTest::newRow("one before the first column")
        << QList<QPoint> { { -1, H / 2 } } << QList<bool> { false } << 0;
}

void TstTteButton::mouseDrag()
{
    QFETCH(QList<QPoint>, moves);
    QFETCH(QList<bool>, pressedLooks);
    QFETCH(int, clicks);

    Host host(Look::Classic);
    QVERIFY(host.show());
    QSignalSpy clicked(host.button, &TTeButton::clicked);
    // (1,1) is the shadow frame when down and the highlight of the raised bevel when up.
    const auto looksPressed = [&] { return host.image().pixelColor(1, 1) == kDark; };

    QPoint last(W / 2, H / 2);
    QTest::mousePress(host.button, Qt::LeftButton, {}, last);
    QVERIFY(looksPressed());
    for (qsizetype i = 0; i < moves.size(); ++i) {
        last = moves.at(i);
        dragTo(host.button, last);
        QCOMPARE(looksPressed(), pressedLooks.at(i));
        QCOMPARE(clicked.count(), 0);
    }
    QTest::mouseRelease(host.button, Qt::LeftButton, {}, last);
    QCOMPARE(clicked.count(), clicks);
    QVERIFY(!looksPressed());
    QVERIFY(!host.button->Tracking());
}

void TstTteButton::doubleClickClicksTwice_data()
{
    QTest::addColumn<bool>("pressBeforeDoubleClick");
    // Platforms differ in whether the second press arrives as a press followed by the double
    // click event, or as the double click event alone.
    QTest::newRow("double click event in place of the second press") << false;
    QTest::newRow("double click event after the second press") << true;
}

void TstTteButton::doubleClickClicksTwice()
{
    QFETCH(bool, pressBeforeDoubleClick);

    Host host;
    QVERIFY(host.show());
    int calls = 0;
    host.button->OnClick = [&](QObject *sender) {
        QCOMPARE(sender, host.button);
        ++calls;
    };
    const QPoint in(W / 2, H / 2);
    QTest::mouseClick(host.button, Qt::LeftButton, {}, in);
    if (pressBeforeDoubleClick)
        QTest::mousePress(host.button, Qt::LeftButton, {}, in);
    QTest::mouseDClick(host.button, Qt::LeftButton, {}, in);
    QTest::mouseRelease(host.button, Qt::LeftButton, {}, in);
    QCOMPARE(calls, 2);
    QCOMPARE(host.button->Pressed(), 0);
}

void TstTteButton::firstClickFocuses_data()
{
    QTest::addColumn<bool>("themed");
    QTest::newRow("classic: focus rectangle shows") << false;
    QTest::newRow("themed: defaulted state shows") << true;
}

void TstTteButton::firstClickFocuses()
{
    QFETCH(bool, themed);

    RecordingStyle style;
    Host host(themed ? Look::Themed : Look::Classic, &style);
    QVERIFY(host.show());
    host.edit->setFocus();
    QTRY_VERIFY(host.edit->hasFocus());
    QSignalSpy clicked(host.button, &TTeButton::clicked);

    QTest::mouseClick(host.button, Qt::LeftButton, {}, QPoint(W / 2, H / 2));
    QCOMPARE(clicked.count(), 1);
    QVERIFY(host.button->hasFocus());
    style.clear();
    const QImage image = host.image();
    if (themed)
        QVERIFY(style.features.constLast() & QStyleOptionButton::DefaultButton);
    else
        QCOMPARE(image.pixelColor(4, 4), roleColor(FaceInverted));
}

void TstTteButton::keyboard_data()
{
    QTest::addColumn<bool>("focusButton");
    QTest::addColumn<bool>("isDefault");
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<int>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<int>("clicks");

    const Qt::KeyboardModifiers none = Qt::NoModifier;
    QTest::newRow("space") << true << false << false << int(Qt::Key_Space) << none << 1;
    QTest::newRow("alt+space") << true << false << false << int(Qt::Key_Space)
                               << Qt::KeyboardModifiers(Qt::AltModifier) << 0;
    QTest::newRow("shift+space") << true << false << false << int(Qt::Key_Space)
                                 << Qt::KeyboardModifiers(Qt::ShiftModifier) << 1;
    QTest::newRow("enter") << true << false << false << int(Qt::Key_Return) << none << 1;
    QTest::newRow("keypad enter") << true << false << false << int(Qt::Key_Enter)
                                  << Qt::KeyboardModifiers(Qt::KeypadModifier) << 1;
    QTest::newRow("shift+enter") << true << false << false << int(Qt::Key_Return)
                                 << Qt::KeyboardModifiers(Qt::ShiftModifier) << 0;
    QTest::newRow("ctrl+enter") << true << false << false << int(Qt::Key_Return)
                                << Qt::KeyboardModifiers(Qt::ControlModifier) << 0;
    QTest::newRow("escape, not cancel") << true << false << false << int(Qt::Key_Escape) << none << 0;
    QTest::newRow("escape, cancel") << true << false << true << int(Qt::Key_Escape) << none << 1;
    QTest::newRow("shift+escape, cancel")
        << true << false << true << int(Qt::Key_Escape) << Qt::KeyboardModifiers(Qt::ShiftModifier) << 0;
    QTest::newRow("escape in another control, cancel")
        << false << false << true << int(Qt::Key_Escape) << none << 1;
    QTest::newRow("enter in another control, not default")
        << false << false << false << int(Qt::Key_Return) << none << 0;
    QTest::newRow("enter in another control, default")
        << false << true << false << int(Qt::Key_Return) << none << 1;
    QTest::newRow("space in another control") << false << false << false << int(Qt::Key_Space) << none << 0;
}

void TstTteButton::keyboard()
{
    QFETCH(bool, focusButton);
    QFETCH(bool, isDefault);
    QFETCH(bool, cancel);
    QFETCH(int, key);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(int, clicks);

    Host host;
    host.button->setDefault(isDefault);
    host.button->setCancel(cancel);
    QVERIFY(host.show());
    QWidget *target = focusButton ? static_cast<QWidget *>(host.button) : host.edit;
    target->setFocus();
    QTRY_VERIFY(target->hasFocus());
    QCOMPARE(host.button->ActiveDefault(), isDefault && !focusButton);
    QSignalSpy clicked(host.button, &TTeButton::clicked);

    QTest::keyClick(target, Qt::Key(key), modifiers);
    QCOMPARE(clicked.count(), clicks);
    QCOMPARE(host.button->Pressed(), 0);
}

void TstTteButton::heldSpaceClicksOnce()
{
    Host host;
    QVERIFY(host.show());
    host.button->setFocus();
    QTRY_VERIFY(host.button->hasFocus());
    QSignalSpy clicked(host.button, &TTeButton::clicked);

    QTest::keyPress(host.button, Qt::Key_Space);
    QCOMPARE(host.button->Pressed(), 1);
    for (int i = 0; i < 3; ++i) {
        // How X11 reports a held key: release-press pairs marked as repeats.
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "), true);
        QApplication::sendEvent(host.button, &release);
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "), true);
        QApplication::sendEvent(host.button, &press);
    }
    QCOMPARE(clicked.count(), 0);
    QCOMPARE(host.button->Pressed(), 1);
    QTest::keyRelease(host.button, Qt::Key_Space);
    QCOMPARE(clicked.count(), 1);
    QCOMPARE(host.button->Pressed(), 0);
}

// Mouse and Space together: one gesture, one click, never pressed once no key and no mouse
// button is down; hot follows the pointer also while the held button keeps Enter and Leave away.
// Steps: D/U left button down/up, S/T Space down/up, O/I pointer out/in; the trace is Pressed()
// after each step.
void TstTteButton::pressCombinations_data()
{
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("pressedTrace");
    QTest::addColumn<bool>("hot");
    QTest::addColumn<int>("clicks");
    QTest::newRow("drag off, release off") << "DOU"
                                           << "100" << false << 0;
    QTest::newRow("drag off and back, release") << "DOIU"
                                                << "1010" << true << 1;
    QTest::newRow("Space held through a mouse click") << "SDUT"
                                                      << "1100" << true << 1;
    QTest::newRow("Space released while the mouse is held") << "DSTU"
                                                            << "1100" << true << 1;
    QTest::newRow("Space released, the mouse held off the button") << "DOSTU"
                                                                   << "10100" << false << 1;
    QTest::newRow("Space release without a press") << "T"
                                                   << "0" << true << 0;
}

void TstTteButton::pressCombinations()
{
    QFETCH(QString, steps);
    QFETCH(QString, pressedTrace);
    QFETCH(bool, hot);
    QFETCH(int, clicks);
    Host host;
    QVERIFY(host.show());
    host.button->setFocus();
    QTRY_VERIFY(host.button->hasFocus());
    hover(host.button);
    QSignalSpy clicked(host.button, &TTeButton::clicked);
    QPoint pointer(W / 2, H / 2);
    QString trace;
    for (const QChar step : steps) {
        if (step == u'D' || step == u'U')
            QTest::mouseEvent(step == u'D' ? QTest::MousePress : QTest::MouseRelease, host.button,
                Qt::LeftButton, {}, pointer);
        else if (step == u'S' || step == u'T')
            QTest::keyEvent(step == u'S' ? QTest::Press : QTest::Release, host.button, Qt::Key_Space);
        else // only drags here: with no button held, Enter and Leave already set hot
            dragTo(host.button, pointer = step == u'O' ? QPoint(W / 2, H + 20) : QPoint(W / 2, H / 2));
        trace += QString::number(host.button->Pressed());
    }
    QCOMPARE(trace, pressedTrace);
    QCOMPARE(host.button->Hot(), hot);
    QCOMPARE(clicked.count(), clicks);
}

void TstTteButton::mnemonic_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<int>("clicks");

    QTest::newRow("marked letter with alt") << "&Update" << Qt::KeyboardModifiers(Qt::AltModifier) << 1;
    QTest::newRow("marked letter without alt") << "&Update" << Qt::KeyboardModifiers() << 0;
    QTest::newRow("no marked letter") << "Update" << Qt::KeyboardModifiers(Qt::AltModifier) << 0;
    QTest::newRow("escaped ampersand marks nothing")
        << "&&Update" << Qt::KeyboardModifiers(Qt::AltModifier) << 0;
}

void TstTteButton::mnemonic()
{
    QFETCH(QString, caption);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(int, clicks);

    Host host;
    host.button->setCaption(caption);
    QVERIFY(host.show());
    host.edit->setFocus();
    QTRY_VERIFY(host.edit->hasFocus());
    QSignalSpy clicked(host.button, &TTeButton::clicked);

    QTest::keyClick(host.edit, Qt::Key_U, modifiers);
    QCOMPARE(clicked.count(), clicks);
    QCOMPARE(host.button->hasFocus(), clicks > 0);
}

void TstTteButton::disabledIgnoresInput_data()
{
    QTest::addColumn<Input>("input");
    QTest::newRow("mouse click") << MouseClick;
    QTest::newRow("double click") << DoubleClick;
    QTest::newRow("space") << SpaceKey;
    QTest::newRow("enter") << EnterKey;
    QTest::newRow("escape on a cancel button") << EscapeKey;
    QTest::newRow("mnemonic") << MnemonicKey;
}

void TstTteButton::disabledIgnoresInput()
{
    QFETCH(Input, input);

    Host host(Look::Classic);
    host.button->setCaption(QStringLiteral("&Update"));
    host.button->setCancel(true);
    host.button->setDefault(true);
    host.button->setEnabled(false);
    QVERIFY(host.show());
    host.edit->setFocus();
    QTRY_VERIFY(host.edit->hasFocus());
    const QImage before = host.image();
    QSignalSpy clicked(host.button, &TTeButton::clicked);

    deliver(host, input);
    QCOMPARE(clicked.count(), 0);
    QVERIFY(!host.button->hasFocus());
    QCOMPARE(host.image(), before);
}

void TstTteButton::clickReachesWindow_data()
{
    QTest::addColumn<bool>("dialog");
    QTest::addColumn<TTeButtonKind>("kind");
    QTest::addColumn<int>("modalResult");
    QTest::addColumn<bool>("windowCloses");
    QTest::addColumn<int>("dialogResult");

    QTest::newRow("plain button in a window") << false << bkCustom << 0 << false << 0;
    QTest::newRow("result in a window that is no dialog") << false << bkCustom << 7 << false << 0;
    QTest::newRow("close kind closes the window") << false << bkClose << 0 << true << 0;
    QTest::newRow("result 0 leaves a dialog open") << true << bkCustom << 0 << false << 0;
    QTest::newRow("result reaches the dialog") << true << bkCustom << 7 << true << 7;
    QTest::newRow("close kind closes a dialog without its result") << true << bkClose << 7 << true << 0;
}

void TstTteButton::clickReachesWindow()
{
    QFETCH(bool, dialog);
    QFETCH(TTeButtonKind, kind);
    QFETCH(int, modalResult);
    QFETCH(bool, windowCloses);
    QFETCH(int, dialogResult);

    std::unique_ptr<QWidget> window(dialog ? new QDialog : new QWidget);
    auto *button = new TTeButton(window.get());
    button->setGeometry(10, 10, W, H);
    button->setKind(kind);
    button->setModalResult(modalResult);
    QStringList events;
    auto *asDialog = qobject_cast<QDialog *>(window.get());
    if (asDialog) {
        asDialog->open();
        connect(asDialog, &QDialog::finished,
            [&](int result) { events << QStringLiteral("finished %1").arg(result); });
    } else {
        window->show();
    }
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    button->OnClick = [&](QObject *) { events << QStringLiteral("OnClick"); };
    connect(button, &TTeButton::clicked, [&] { events << QStringLiteral("clicked"); });

    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(W / 2, H / 2));
    QCOMPARE(window->isVisible(), !windowCloses);
    if (asDialog)
        QCOMPARE(asDialog->result(), dialogResult);
    // The window hears of the click first, then the handler, then any listener.
    QStringList expected;
    if (asDialog && windowCloses)
        expected << QStringLiteral("finished %1").arg(dialogResult);
    expected << QStringLiteral("OnClick") << QStringLiteral("clicked");
    QCOMPARE(events, expected);
}

// What assistive technology sees: a push button named by its caption without the mnemonic
// marker, its focused, pressed and disabled states, and a press action that clicks exactly once.
void TstTteButton::accessibleInterface()
{
    Host host;
    host.button->setCaption(QStringLiteral("&Update && go"));
    QVERIFY(host.show());
    QAccessibleInterface *button = QAccessible::queryAccessibleInterface(host.button);
    QCOMPARE(button->role(), QAccessible::Button);
    QCOMPARE(button->text(QAccessible::Name), QStringLiteral("Update & go"));
    host.button->setFocus();
    QTRY_VERIFY(button->state().focused);
    QTest::keyPress(host.button, Qt::Key_Space);
    QVERIFY(button->state().pressed);
    QTest::keyRelease(host.button, Qt::Key_Space);

    QSignalSpy clicked(host.button, &TTeButton::clicked);
    const QString press = QAccessibleActionInterface::pressAction();
    button->actionInterface()->doAction(press);
    QTRY_COMPARE(clicked.count(), 1);
    host.button->setEnabled(false);
    QVERIFY(button->state().disabled);
    button->actionInterface()->doAction(press);
    QTest::qWait(50);
    QCOMPARE(clicked.count(), 1);
}

QTEST_MAIN(TstTteButton)
#include "tst_tte_button.moc"
