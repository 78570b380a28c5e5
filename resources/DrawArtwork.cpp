// Draws the window's artwork: the background picture, the window icon at
// 16, 20 and 24 pixels and the pointing-hand cursor. With --theme-icons it
// draws the same icon for an icon theme instead: NxN/apps/NAME.png at the
// usual theme sizes and scalable/apps/NAME.svg.
// Usage: draw-artwork FOLDER | draw-artwork --theme-icons FOLDER NAME

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QSvgGenerator>

#include <cmath>
#include <cstdio>
#include <string_view>

namespace {

const QColor kNavy(0x0d, 0x23, 0x3a);
const QColor kDeep(0x12, 0x3b, 0x5c);
const QColor kTeal(0x1b, 0x6a, 0x86);
const QColor kAccent(0x5c, 0xd0, 0xe8);

// A shield of the given width and height, its top edge at top.
QPainterPath Shield(QPointF top, double width, double height)
{
    const double left = top.x() - width / 2;
    const double right = top.x() + width / 2;
    QPainterPath path;
    path.moveTo(top);
    path.cubicTo(top.x() + width * 0.22, top.y() + height * 0.08, right - width * 0.08, top.y() + height * 0.10, right,
        top.y() + height * 0.10);
    path.cubicTo(
        right, top.y() + height * 0.55, top.x() + width * 0.30, top.y() + height * 0.85, top.x(), top.y() + height);
    path.cubicTo(
        top.x() - width * 0.30, top.y() + height * 0.85, left, top.y() + height * 0.55, left, top.y() + height * 0.10);
    path.cubicTo(left + width * 0.08, top.y() + height * 0.10, top.x() - width * 0.22, top.y() + height * 0.08, top.x(),
        top.y());
    path.closeSubpath();
    return path;
}

QPainterPath Tick(QPointF centre, double size)
{
    QPainterPath path;
    path.moveTo(centre.x() - size * 0.42, centre.y() + size * 0.02);
    path.lineTo(centre.x() - size * 0.12, centre.y() + size * 0.32);
    path.lineTo(centre.x() + size * 0.45, centre.y() - size * 0.30);
    return path;
}

void DrawShieldEmblem(QPainter& painter, QPointF top, double width, double height, double stroke)
{
    const QPainterPath shield = Shield(top, width, height);
    QLinearGradient fill(top, QPointF(top.x(), top.y() + height));
    fill.setColorAt(0, QColor(0x4f, 0xc3, 0xe6));
    fill.setColorAt(1, QColor(0x16, 0x5c, 0x9c));
    painter.setPen(QPen(QColor(0x0b, 0x2c, 0x4a), stroke * 0.5));
    painter.setBrush(fill);
    painter.drawPath(shield);
    painter.setPen(QPen(Qt::white, stroke, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(Tick(QPointF(top.x(), top.y() + height * 0.48), width * 0.62));
}

QImage Background()
{
    QImage image(420, 463, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);

    QLinearGradient sky(0, 0, 0, image.height());
    sky.setColorAt(0, kNavy);
    sky.setColorAt(0.55, kDeep);
    sky.setColorAt(1, kTeal);
    painter.fillRect(image.rect(), sky);

    // Soft light from the upper right.
    QRadialGradient glow(QPointF(360, 40), 320);
    glow.setColorAt(0, QColor(255, 255, 255, 46));
    glow.setColorAt(1, QColor(255, 255, 255, 0));
    painter.fillRect(image.rect(), glow);

    // Faint concentric arcs, like a radar sweep, behind the lower right.
    painter.setBrush(Qt::NoBrush);
    for (int ring = 0; ring < 9; ++ring) {
        painter.setPen(QPen(QColor(255, 255, 255, 14 + ring), 1.2));
        const double radius = 60 + ring * 34;
        painter.drawEllipse(QPointF(430, 470), radius, radius);
    }
    // A fine dot grid over the navigation column.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 18));
    for (int y = 80; y < 350; y += 12)
        for (int x = 12; x < 84; x += 12)
            painter.drawEllipse(QPointF(x, y), 0.9, 0.9);

    // The navigation column and the header rule.
    QLinearGradient column(0, 0, 88, 0);
    column.setColorAt(0, QColor(0, 0, 0, 60));
    column.setColorAt(1, QColor(0, 0, 0, 0));
    painter.fillRect(QRectF(8, 70, 80, 270), column);
    QLinearGradient rule(20, 0, 380, 0);
    rule.setColorAt(0, QColor(kAccent.red(), kAccent.green(), kAccent.blue(), 220));
    rule.setColorAt(1, QColor(kAccent.red(), kAccent.green(), kAccent.blue(), 0));
    painter.fillRect(QRectF(24, 63, 356, 2), rule);

    DrawShieldEmblem(painter, QPointF(362, 18), 34, 40, 3.2);

    // A thin frame for the path label at the foot of the window.
    painter.setPen(QPen(QColor(255, 255, 255, 40), 1));
    painter.setBrush(QColor(0, 0, 0, 40));
    painter.drawRoundedRect(QRectF(14.5, 334.5, 371, 44), 5, 5);
    painter.end();
    return image;
}

void PaintIcon(QPainter& painter, int size)
{
    painter.setRenderHint(QPainter::Antialiasing);
    const double margin = size / 16.0;
    DrawShieldEmblem(
        painter, QPointF(size / 2.0, margin), size - 2 * margin - 1, size - 2 * margin, std::max(1.6, size / 8.0));
}

QImage Icon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    PaintIcon(painter, size);
    painter.end();
    return image;
}

// A hand pointing up; the fingertip is at (12, 1).
QImage Hand()
{
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);

    QPainterPath hand;
    hand.addRoundedRect(QRectF(9.5, 1, 5, 17), 2.5, 2.5);       // index finger
    hand.addRoundedRect(QRectF(14.5, 8.5, 4.5, 10), 2.2, 2.2);  // middle finger
    hand.addRoundedRect(QRectF(19, 9.5, 4.5, 10), 2.2, 2.2);    // ring finger
    hand.addRoundedRect(QRectF(23.5, 11, 4, 9), 2, 2);          // little finger
    hand.addRoundedRect(QRectF(9.5, 13, 18, 15), 4, 4);         // palm
    QPainterPath thumb;
    thumb.moveTo(10, 21);
    thumb.lineTo(5.5, 15.5);
    thumb.cubicTo(3.5, 13.5, 1.5, 16, 3, 18);
    thumb.lineTo(9.5, 27);
    thumb.closeSubpath();
    hand = hand.united(thumb).simplified();

    painter.setPen(QPen(Qt::black, 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::white);
    painter.drawPath(hand);
    painter.setPen(QPen(QColor(0, 0, 0, 140), 0.8));
    painter.drawLine(QPointF(14.5, 13), QPointF(14.5, 18));
    painter.drawLine(QPointF(19, 13), QPointF(19, 18));
    painter.drawLine(QPointF(23.5, 14), QPointF(23.5, 18.5));
    painter.end();
    return image;
}

bool Save(const QImage& image, const QDir& folder, const char* name, int quality = -1)
{
    const QString path = folder.filePath(QString::fromLatin1(name));
    if (image.save(path, nullptr, quality))
        return true;
    std::fprintf(stderr, "draw-artwork: cannot write %s\n", qPrintable(path));
    return false;
}

bool DrawThemeIcons(const QDir& folder, const QString& name)
{
    bool ok = true;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString sized = QStringLiteral("%1x%1/apps").arg(size);
        ok = folder.mkpath(sized) &&
            Save(Icon(size), QDir(folder.filePath(sized)), qPrintable(name + QStringLiteral(".png"))) && ok;
    }

    // The 64-pixel drawing, as vectors.
    constexpr int kScalableSize = 64;
    if (!folder.mkpath(QStringLiteral("scalable/apps")))
        return false;
    const QString path = folder.filePath(QStringLiteral("scalable/apps/") + name + QStringLiteral(".svg"));
    QSvgGenerator svg;
    svg.setFileName(path);
    svg.setSize(QSize(kScalableSize, kScalableSize));
    svg.setViewBox(QRect(0, 0, kScalableSize, kScalableSize));
    svg.setTitle(QStringLiteral("QIRN Checker"));
    QPainter painter;
    if (!painter.begin(&svg)) {
        std::fprintf(stderr, "draw-artwork: cannot write %s\n", qPrintable(path));
        return false;
    }
    PaintIcon(painter, kScalableSize);
    return painter.end() && ok;
}

}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc == 4 && std::string_view(argv[1]) == "--theme-icons")
        return DrawThemeIcons(QDir(QString::fromLocal8Bit(argv[2])), QString::fromLocal8Bit(argv[3])) ? 0 : 1;
    if (argc != 2) {
        std::fputs("Usage: draw-artwork FOLDER | draw-artwork --theme-icons FOLDER NAME\n", stderr);
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    bool ok = Save(Background(), folder, "background.jpg", 92);
    ok = Save(Icon(16), folder, "icon-16.png") && ok;
    ok = Save(Icon(20), folder, "icon-20.png") && ok;
    ok = Save(Icon(24), folder, "icon-24.png") && ok;
    ok = Save(Icon(64), folder, "icon-64.png") && ok;
    ok = Save(Hand(), folder, "hand.png") && ok;
    return ok ? 0 : 1;
}
