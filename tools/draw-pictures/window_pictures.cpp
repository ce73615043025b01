#include "window_pictures.h"

#include "paint_kit.h"

#include <QFont>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>

using namespace PaintKit;

namespace {

QImage blank(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// The mark: a steering wheel whose rim and tail make a Q.
void drawMark(QPainter &p, QPointF c, double r)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const double thickness = r * 0.22;
    QLinearGradient rim(c - QPointF(r, r), c + QPointF(r, r));
    rim.setColorAt(0, kBrand.lighter(125));
    rim.setColorAt(1, kBrandDeep);
    QPainterPath ring;
    ring.addEllipse(c, r, r);
    ring.addEllipse(c, r - thickness, r - thickness);
    p.setPen(Qt::NoPen);
    p.setBrush(rim);
    p.drawPath(ring);

    // Three spokes and a hub.
    const QColor spoke(236, 240, 244);
    p.setPen(QPen(spoke, thickness * 0.62, Qt::SolidLine, Qt::RoundCap));
    const double inner = r - thickness * 0.9;
    p.drawLine(c + QPointF(-inner, -r * 0.08), c + QPointF(inner, -r * 0.08));
    p.drawLine(c + QPointF(0, -r * 0.08), c + QPointF(0, inner));
    p.setPen(Qt::NoPen);
    p.setBrush(spoke);
    p.drawEllipse(c + QPointF(0, -r * 0.08), r * 0.2, r * 0.2);

    // The Q's tail, across the rim at the lower right.
    const QPointF dir(std::cos(M_PI / 4), std::sin(M_PI / 4));
    p.setPen(QPen(spoke, thickness * 0.8, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c + dir * (r * 0.62), c + dir * (r * 1.18));
    p.restore();
}

QImage head()
{
    QImage image = blank(2000, 131);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, 0, 131);
    fill.setColorAt(0, QColor(40, 41, 44));
    fill.setColorAt(0.7, QColor(24, 24, 26));
    fill.setColorAt(1, QColor(17, 17, 18));
    p.fillRect(image.rect(), fill);
    carbon(p, roundedRect(QRectF(image.rect()), 0), 0.45);

    // Racing stripes towards the right end, fading in.
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 3; ++i) {
        QLinearGradient g(1300, 0, 2000, 0);
        QColor c = kBrand;
        c.setAlpha(0);
        g.setColorAt(0, c);
        c.setAlpha(70 - i * 18);
        g.setColorAt(1, c);
        p.setBrush(g);
        const double x = 1500 + i * 120;
        QPolygonF stripe;
        stripe << QPointF(x, 131) << QPointF(x + 60, 0) << QPointF(x + 100, 0) << QPointF(x + 40, 131);
        p.drawPolygon(stripe);
    }

    // The brand line along the bottom edge, brightest in the middle.
    QLinearGradient line(0, 0, 2000, 0);
    QColor edge = kBrand;
    edge.setAlpha(40);
    line.setColorAt(0, edge);
    line.setColorAt(0.5, kBrand);
    line.setColorAt(1, edge);
    p.fillRect(QRectF(0, 124, 2000, 7), line);
    QLinearGradient glow(0, 100, 0, 124);
    glow.setColorAt(0, QColor(17, 146, 207, 0));
    glow.setColorAt(1, QColor(17, 146, 207, 46));
    p.fillRect(QRectF(0, 100, 2000, 24), glow);
    return image;
}

QImage logo()
{
    QImage image = blank(128, 128);
    QPainter p(&image);
    drawMark(p, QPointF(62, 62), 52);
    return image;
}

QImage about()
{
    QImage image = blank(800, 250);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QRadialGradient halo(QPointF(150, 125), 150);
    halo.setColorAt(0, QColor(17, 146, 207, 60));
    halo.setColorAt(1, QColor(17, 146, 207, 0));
    p.fillRect(image.rect(), halo);
    drawMark(p, QPointF(150, 122), 92);

    // The name fills the space right of the mark whatever the font's metrics.
    const QString first = QStringLiteral("QUOR ");
    const QString second = QStringLiteral("CONTROLS");
    const double room = 480;
    QFont title(QStringLiteral("Liberation Sans"));
    title.setBold(true);
    title.setLetterSpacing(QFont::PercentageSpacing, 108);
    title.setPixelSize(100);
    const double full = QFontMetricsF(title).horizontalAdvance(first + second);
    title.setPixelSize(int(100 * room / full));
    p.setFont(title);
    p.setPen(QColor(240, 243, 246));
    p.drawText(QPointF(290, 118), first);
    p.setPen(kBrand);
    p.drawText(QPointF(290 + QFontMetricsF(title).horizontalAdvance(first), 118), second);

    p.fillRect(QRectF(292, 140, 480, 3), kBrand);

    QFont line(QStringLiteral("Liberation Sans"));
    line.setPixelSize(26);
    line.setLetterSpacing(QFont::PercentageSpacing, 106);
    p.setFont(line);
    p.setPen(QColor(176, 182, 190));
    p.drawText(QPointF(292, 184), QStringLiteral("Sim racing wheels and button boxes"));
    return image;
}

// A window button glyph: the minus of minimise or the cross of close, light
// grey at rest; on hover white on a filled disc.
QImage windowButton(bool close, bool hover)
{
    QImage image = blank(32, 32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF c(16, 16);
    if (hover) {
        p.setPen(Qt::NoPen);
        p.setBrush(close ? QColor(214, 58, 58) : kBrand);
        p.drawEllipse(c, 15, 15);
    }
    p.setPen(QPen(hover ? QColor(255, 255, 255) : QColor(200, 204, 210), 3, Qt::SolidLine, Qt::RoundCap));
    if (close) {
        p.drawLine(c + QPointF(-6.5, -6.5), c + QPointF(6.5, 6.5));
        p.drawLine(c + QPointF(-6.5, 6.5), c + QPointF(6.5, -6.5));
    } else {
        p.drawLine(c + QPointF(-7.5, 0), c + QPointF(7.5, 0));
    }
    return image;
}

QImage trayIcon()
{
    QImage image = blank(64, 64);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, 0, 64);
    fill.setColorAt(0, QColor(44, 46, 50));
    fill.setColorAt(1, QColor(20, 20, 22));
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(1, 1, 62, 62), 14, 14);
    drawMark(p, QPointF(31, 31), 24);
    return image;
}

} // namespace

std::vector<WindowPicture> drawWindowPictures()
{
    return {
        {QStringLiteral("head.png"), head(), "png"},
        {QStringLiteral("logo.png"), logo(), "png"},
        {QStringLiteral("about.png"), about(), "png"},
        {QStringLiteral("close.png"), windowButton(true, false), "png"},
        {QStringLiteral("closeh.png"), windowButton(true, true), "png"},
        {QStringLiteral("min.png"), windowButton(false, false), "png"},
        {QStringLiteral("minh.png"), windowButton(false, true), "png"},
        {QStringLiteral("main.ico"), trayIcon(), "ico"},
    };
}
