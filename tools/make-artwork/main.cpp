// Draws the two pictures of the main window and the program icon into the folder given as the
// only argument: image2.jpg (534 x 250, the maker's logo), image1.jpg (473 x 239, the promotional
// panel), icons/mainicon-N.png for N in 16..256 and mainicon.ico holding them all.
// Fixed fonts, sizes and JPEG quality keep the output the same from run to run.

#include <QBuffer>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>

#include <cstdio>

namespace {

constexpr int dotsPerMeter96 = 3780; // 96 dots per inch

const QColor purple(0x6a, 0x2c, 0x91);
const QColor orange(0xf2, 0x8c, 0x1c);
const QColor green(0x3f, 0xa3, 0x4d);
const QColor darkGrey(0x40, 0x40, 0x40);
const QColor iconDark(0x1f, 0x2a, 0x36);
const QColor iconBlue(0x1e, 0x6f, 0xd9);

QFont font(const QString &family, int pixelSize, bool bold)
{
    QFont f(family);
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    f.setHintingPreference(QFont::PreferNoHinting);
    return f;
}

QFont arabicFont(int pixelSize, bool bold)
{
    QFont f = font(QStringLiteral("Noto Naskh Arabic"), pixelSize, bold);
    f.setFamilies({ QStringLiteral("Noto Naskh Arabic"), QStringLiteral("DejaVu Sans") });
    return f;
}

bool saveJpeg(QImage image, const QString &path)
{
    image = image.convertToFormat(QImage::Format_RGB888);
    image.setDotsPerMeterX(dotsPerMeter96);
    image.setDotsPerMeterY(dotsPerMeter96);
    QImageWriter writer(path, "jpg");
    writer.setQuality(90);
    writer.setOptimizedWrite(false);
    writer.setProgressiveScanWrite(false);
    if (!writer.write(image)) {
        std::fprintf(stderr, "make-artwork: %s: %s\n", qPrintable(path), qPrintable(writer.errorString()));
        return false;
    }
    return true;
}

void drawFlower(QPainter &p, QPointF centre, double petal)
{
    const QColor colours[4] = { purple, orange, green, purple.lighter(130) };
    for (int i = 0; i < 4; ++i) {
        p.save();
        p.translate(centre);
        p.rotate(45 + 90 * i);
        QPainterPath path;
        path.moveTo(0, 0);
        path.cubicTo(petal * 0.55, -petal * 0.25, petal * 0.9, -petal * 0.3, petal, 0);
        path.cubicTo(petal * 0.9, petal * 0.3, petal * 0.55, petal * 0.25, 0, 0);
        p.setPen(Qt::NoPen);
        p.setBrush(colours[i]);
        p.drawPath(path);
        p.restore();
    }
    p.setBrush(Qt::white);
    p.drawEllipse(centre, petal * 0.12, petal * 0.12);
}

// The maker's logo: flower emblem with a faint reflection, name and full name, pink wash on top.
QImage drawLogo()
{
    QImage image(534, 250, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient wash(0, 0, 0, 60);
    wash.setColorAt(0, QColor(0xf6, 0xc9, 0xdc));
    wash.setColorAt(1, QColor(0xff, 0xff, 0xff));
    p.fillRect(0, 0, 534, 60, wash);

    const QPointF centre(100, 110);
    drawFlower(p, centre, 70);
    // The reflection: the emblem mirrored below its base, fading out.
    p.save();
    p.setOpacity(0.15);
    p.translate(0, 2 * 185);
    p.scale(1, -1);
    p.setClipRect(QRectF(0, 0, 534, 185));
    drawFlower(p, centre, 70);
    p.restore();

    p.setPen(darkGrey);
    p.setFont(font(QStringLiteral("DejaVu Sans"), 78, true));
    p.drawText(QRectF(195, 55, 330, 95), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("QALU"));
    p.setFont(font(QStringLiteral("DejaVu Sans"), 17, false));
    p.drawText(QRectF(200, 150, 330, 30), Qt::AlignLeft | Qt::AlignVCenter,
        QStringLiteral("QALU Software & Pharmacy Systems"));
    return image;
}

// The promotional panel: two bold black lines, an invitation and telephone numbers in purple,
// the maker's name in white on a purple band.
QImage drawPanel()
{
    QImage image(473, 239, QImage::Format_RGB32);
    image.fill(QColor(0xe4, 0xe4, 0xe4));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setLayoutDirection(Qt::RightToLeft);

    const auto line = [&p](int top, int height, const QColor &colour, const QFont &f, const QString &text) {
        p.setPen(colour);
        p.setFont(f);
        p.drawText(QRectF(10, top, 453, height), Qt::AlignHCenter | Qt::AlignVCenter, text);
    };
    line(8, 38, Qt::black, arabicFont(24, true), QStringLiteral("إدارة آمنة لأعمالك مع برامج قالو"));
    line(48, 38, Qt::black, arabicFont(24, true), QStringLiteral("وتحكم كامل بحساباتك"));
    line(94, 32, purple, arabicFont(20, true), QStringLiteral("للطلب والاستفسار يرجى الاتصال"));
    line(128, 32, purple, font(QStringLiteral("DejaVu Sans"), 19, true),
        QStringLiteral("0900000000 - 0911111111"));

    p.fillRect(0, 184, 473, 55, purple);
    line(186, 52, Qt::white, arabicFont(28, true), QStringLiteral("قالو للبرمجيات"));
    return image;
}

// The program icon: a dark upright letter joined to a blue curved one, above the word QALU.
QImage drawIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 256.0, size / 256.0);

    // Blue curved letter: an open ring, a "C", whose right end meets the dark stem.
    QPen bluePen(iconBlue, 30, Qt::SolidLine, Qt::RoundCap);
    p.setPen(bluePen);
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(40, 24, 140, 140), 40 * 16, 280 * 16);
    // Dark upright letter: an "L"-like stem standing through the ring's opening.
    p.setPen(Qt::NoPen);
    p.setBrush(iconDark);
    p.drawRect(QRectF(150, 16, 34, 156));
    p.drawRect(QRectF(150, 142, 76, 30));

    p.setPen(iconDark);
    p.setFont(font(QStringLiteral("DejaVu Serif"), 64, true));
    p.drawText(QRectF(0, 178, 256, 74), Qt::AlignCenter, QStringLiteral("QALU"));
    return image;
}

// An .ico whose entries are PNG images, smallest first.
bool saveIco(const QList<QImage> &images, const QString &path)
{
    QList<QByteArray> pngs;
    for (const QImage &image : images) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "png");
        pngs.append(png);
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QDataStream out(&file);
    out.setByteOrder(QDataStream::LittleEndian);
    out << quint16(0) << quint16(1) << quint16(images.size());
    quint32 offset = 6 + 16 * quint32(images.size());
    for (int i = 0; i < images.size(); ++i) {
        const int side = images[i].width();
        out << quint8(side >= 256 ? 0 : side) << quint8(side >= 256 ? 0 : side) << quint8(0) << quint8(0)
            << quint16(1) << quint16(32) << quint32(pngs[i].size()) << offset;
        offset += quint32(pngs[i].size());
    }
    for (const QByteArray &png : pngs)
        out.writeRawData(png.constData(), int(png.size()));
    return out.status() == QDataStream::Ok;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-artwork OUTPUT-FOLDER\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    out.mkpath(QStringLiteral("icons"));

    bool ok = saveJpeg(drawLogo(), out.filePath(QStringLiteral("image2.jpg")))
        && saveJpeg(drawPanel(), out.filePath(QStringLiteral("image1.jpg")));

    QList<QImage> icons;
    for (int size : { 16, 24, 32, 48, 64, 96, 128, 256 }) {
        QImage icon = drawIcon(size);
        icon.setDotsPerMeterX(dotsPerMeter96);
        icon.setDotsPerMeterY(dotsPerMeter96);
        ok = ok && icon.save(out.filePath(QStringLiteral("icons/mainicon-%1.png").arg(size)), "png");
        icons.append(icon);
    }
    ok = ok && saveIco(icons, out.filePath(QStringLiteral("mainicon.ico")));
    return ok ? 0 : 1;
}
