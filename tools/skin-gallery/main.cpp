// Shows the update button in its five states, themed and classic.
//
//   skin-gallery [out.png]   renders both looks into one image (themed: Fusion; classic: forced)
//   skin-gallery --window    shows real buttons in the application style's look (-style windows
//                            for the classic one), for a screenshot of the screen itself

#include "skin/tte_button.h"

#include <QApplication>
#include <QEnterEvent>
#include <QFocusEvent>
#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleFactory>

#include <cstdio>

using qalu::skin::TTeButton;
using qalu::skin::TTeControl;

namespace {

const QStringList kStates = { QStringLiteral("normal"), QStringLiteral("hot"), QStringLiteral("focused"),
    QStringLiteral("pressed"), QStringLiteral("disabled") };

TTeButton *makeUpdateButton(QWidget *parent)
{
    auto *button = new TTeButton(parent);
    button->setCaption(QStringLiteral(u"تحديث 4-7-2021"));
    QFont font;
    // Tahoma where it exists, else a face with Arabic letters.
    font.setFamilies(
        { QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans"), QStringLiteral("Noto Sans Arabic") });
    font.setPixelSize(19);
    font.setBold(true);
    button->setFont(font);
    button->setFontColor(Qt::red);
    button->resize(273, 49);
    // The gallery sets the focus by hand, so the real focus must not wander onto a button.
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

// Puts the button into a state the way input would, without needing a pointer or an active window.
void enterState(TTeButton *button, const QString &state)
{
    const QPointF centre(button->width() / 2.0, button->height() / 2.0);
    if (state == QLatin1String("hot")) {
        QEnterEvent enter(centre, centre, button->mapToGlobal(centre));
        QApplication::sendEvent(button, &enter);
    } else if (state == QLatin1String("focused") || state == QLatin1String("pressed")) {
        QFocusEvent focusIn(QEvent::FocusIn, Qt::OtherFocusReason);
        QApplication::sendEvent(button, &focusIn);
        if (state == QLatin1String("pressed")) {
            QMouseEvent press(QEvent::MouseButtonPress, centre, button->mapToGlobal(centre), Qt::LeftButton,
                Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(button, &press);
        }
    } else if (state == QLatin1String("disabled")) {
        button->setEnabled(false);
    }
}

int renderImage(const QString &path)
{
    const int cellW = 273 + 16;
    const int cellH = 49 + 28;
    const int labelW = 120;
    QImage sheet(labelW + cellW * int(kStates.size()), 24 + cellH * 2, QImage::Format_RGB32);
    // Mid grey, so that white and black bevel edges both show.
    sheet.fill(QColor(0xc8, 0xc8, 0xc8));
    QPainter painter(&sheet);
    painter.setPen(Qt::black);
    for (int column = 0; column < kStates.size(); ++column)
        painter.drawText(QRect(labelW + column * cellW, 0, cellW, 24), Qt::AlignCenter, kStates.at(column));

    const struct
    {
        QString name;
        bool themed;
    } looks[] = { { QStringLiteral("themed (Fusion)"), true }, { QStringLiteral("classic"), false } };
    for (int row = 0; row < 2; ++row) {
        TTeControl::setVisualStylesOverride(looks[row].themed);
        const int top = 24 + row * cellH;
        painter.drawText(QRect(4, top, labelW - 8, cellH), Qt::AlignVCenter | Qt::AlignLeft, looks[row].name);
        for (int column = 0; column < kStates.size(); ++column) {
            QWidget host;
            TTeButton *button = makeUpdateButton(&host);
            enterState(button, kStates.at(column));
            painter.drawImage(labelW + column * cellW + 8, top + 14, button->grab().toImage());
        }
    }
    painter.end();
    if (!sheet.save(path)) {
        std::fprintf(stderr, "skin-gallery: cannot write %s\n", qPrintable(path));
        return 1;
    }
    std::printf("%s\n", qPrintable(path));
    return 0;
}

int showWindow()
{
    auto *window = new QWidget;
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(
        QStringLiteral("skin-gallery: %1 look (%2 style)")
            .arg(TTeControl::VisualStylesActive() ? QStringLiteral("themed") : QStringLiteral("classic"),
                QApplication::style()->name()));
    auto *grid = new QGridLayout(window);
    QList<TTeButton *> buttons;
    for (int i = 0; i < kStates.size(); ++i) {
        grid->addWidget(new QLabel(kStates.at(i), window), i, 0);
        TTeButton *button = makeUpdateButton(window);
        button->setFixedSize(273, 49);
        grid->addWidget(button, i, 1);
        buttons.append(button);
    }
    window->show();
    for (int i = 0; i < kStates.size(); ++i)
        enterState(buttons.at(i), kStates.at(i));
    return QApplication::exec();
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments().mid(1);
    if (args.contains(QLatin1String("--window")))
        return showWindow();
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    return renderImage(args.isEmpty() ? QStringLiteral("skin-gallery.png") : args.first());
}
