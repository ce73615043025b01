#include "wheel_parts.h"

#include "paint_kit.h"
#include "picture_geometry.h"

#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>

namespace {

// An indicator is 24 page pixels wide, about 48 picture pixels: caps are a
// little smaller so the lit indicator covers them, bezels a little larger so
// the part still shows round it.
constexpr double kCapRadius = 22;
constexpr double kBezelRadius = 30;

double bezelRadius(const WheelSpot &spot, double wanted)
{
    return std::max(kCapRadius + 2, std::min(wanted, spot.room - 2));
}

bool onLeft(const WheelSpot &spot)
{
    return spot.centre.x() < PictureGeometry::kWidth / 2.0;
}

void bezel(QPainter &p, QPointF c, double r)
{
    QRadialGradient g(c + QPointF(0, r * 0.15), r);
    g.setColorAt(0.7, QColor(10, 11, 12));
    g.setColorAt(0.86, QColor(34, 36, 39));
    g.setColorAt(1, QColor(70, 73, 78));
    p.setPen(QPen(QColor(0, 0, 0, 180), 1.2));
    p.setBrush(g);
    p.drawEllipse(c, r, r);
}

// The frosted ring round a part that carries an LED, shown unlit.
void lightRing(QPainter &p, QPointF c, double inner, double outer)
{
    if (outer <= inner + 1)
        return;
    QPainterPath ring;
    ring.addEllipse(c, outer, outer);
    ring.addEllipse(c, inner, inner);
    QRadialGradient g(c, outer);
    g.setColorAt(inner / outer, QColor(226, 236, 243, 215));
    g.setColorAt(1, QColor(132, 144, 154, 190));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawPath(ring);
}

void cap(QPainter &p, QPointF c, double r)
{
    QRadialGradient g(c + QPointF(-r * 0.35, -r * 0.45), r * 1.5);
    g.setColorAt(0, QColor(96, 100, 108));
    g.setColorAt(0.55, QColor(46, 48, 53));
    g.setColorAt(1, QColor(22, 23, 26));
    p.setPen(QPen(QColor(0, 0, 0, 200), 1.4));
    p.setBrush(g);
    p.drawEllipse(c, r, r);
    // The dished top.
    QRadialGradient dish(c + QPointF(0, r * 0.2), r * 0.75);
    dish.setColorAt(0, QColor(0, 0, 0, 40));
    dish.setColorAt(1, QColor(0, 0, 0, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(dish);
    p.drawEllipse(c, r * 0.72, r * 0.72);
}

void drawButton(QPainter &p, const WheelSpot &spot)
{
    const QPointF c = spot.centre;
    const double outer = bezelRadius(spot, kBezelRadius);
    bezel(p, c, outer);
    if (spot.lit)
        lightRing(p, c, kCapRadius - 1, outer - 2.5);
    cap(p, c, std::min(kCapRadius, outer - 4));
}

void drawEncoder(QPainter &p, const WheelSpot &spot)
{
    const QPointF c = spot.centre;
    const double outer = bezelRadius(spot, 34);
    bezel(p, c, outer);
    if (spot.lit)
        lightRing(p, c, 25, outer - 2.5);
    else {
        // Position ticks on the bezel.
        p.setPen(QPen(QColor(150, 156, 164, 160), 1.4));
        for (int i = 0; i < 12; ++i) {
            const double a = M_PI / 6 * i;
            const QPointF d(std::cos(a), std::sin(a));
            p.drawLine(c + d * (outer - 6), c + d * (outer - 2));
        }
    }
    // Knurled knob: a toothed rim round a machined top.
    const double r = 23;
    QPainterPath teeth;
    const int count = 28;
    for (int i = 0; i <= count * 2; ++i) {
        const double a = M_PI * i / count;
        const double rr = (i % 2 == 0) ? r : r - 2.2;
        const QPointF pt = c + QPointF(std::cos(a), std::sin(a)) * rr;
        if (i == 0)
            teeth.moveTo(pt);
        else
            teeth.lineTo(pt);
    }
    teeth.closeSubpath();
    QRadialGradient g(c + QPointF(-6, -8), r * 1.5);
    g.setColorAt(0, QColor(120, 124, 132));
    g.setColorAt(0.6, QColor(52, 54, 60));
    g.setColorAt(1, QColor(24, 25, 28));
    p.setPen(QPen(QColor(0, 0, 0, 200), 1));
    p.setBrush(g);
    p.drawPath(teeth);
    QRadialGradient top(c + QPointF(-4, -6), r);
    top.setColorAt(0, QColor(140, 144, 150));
    top.setColorAt(1, QColor(40, 42, 46));
    p.setBrush(top);
    p.drawEllipse(c, r - 6, r - 6);
    // Pointer.
    p.setPen(QPen(QColor(235, 240, 245), 2.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c + QPointF(0, -(r - 8)), c + QPointF(0, -(r - 15)));
}

void drawThumbStick(QPainter &p, const WheelSpot &spot)
{
    const QPointF c = spot.centre;
    const double outer = bezelRadius(spot, 46);
    QRadialGradient base(c, outer);
    base.setColorAt(0, QColor(12, 13, 14));
    base.setColorAt(0.8, QColor(26, 27, 30));
    base.setColorAt(1, QColor(64, 67, 72));
    p.setPen(QPen(QColor(0, 0, 0, 180), 1.2));
    p.setBrush(base);
    p.drawEllipse(c, outer, outer);
    // The four directions.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(170, 176, 184, 170));
    for (int i = 0; i < 4; ++i) {
        p.save();
        p.translate(c);
        p.rotate(90 * i);
        const double tip = outer - 5;
        QPolygonF arrow;
        arrow << QPointF(0, -tip) << QPointF(-6, -tip + 8) << QPointF(6, -tip + 8);
        p.drawPolygon(arrow);
        p.restore();
    }
    // The cap: a concave rubber top with grip rings.
    const double r = kCapRadius - 1;
    QRadialGradient g(c + QPointF(-r * 0.3, -r * 0.4), r * 1.5);
    g.setColorAt(0, QColor(80, 84, 90));
    g.setColorAt(1, QColor(20, 21, 24));
    p.setPen(QPen(QColor(0, 0, 0, 210), 1.4));
    p.setBrush(g);
    p.drawEllipse(c, r, r);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0, 0, 0, 90), 1.2));
    for (double rr = 5; rr < r - 3; rr += 4.5)
        p.drawEllipse(c, rr, rr);
}

void drawToggle(QPainter &p, const WheelSpot &spot)
{
    const QPointF c = spot.centre;
    const QRectF plate(c.x() - 27, c.y() - 33, 54, 66);
    QLinearGradient g(plate.topLeft(), plate.bottomLeft());
    g.setColorAt(0, QColor(64, 67, 72));
    g.setColorAt(1, QColor(22, 23, 26));
    p.setPen(QPen(QColor(0, 0, 0, 190), 1.2));
    p.setBrush(g);
    p.drawRoundedRect(plate, 9, 9);
    if (spot.lit)
        lightRing(p, c, 17, 23);
    // Mounting nut and lever, flipped up.
    QRadialGradient nut(c + QPointF(-4, -4), 18);
    nut.setColorAt(0, QColor(170, 174, 180));
    nut.setColorAt(1, QColor(60, 62, 66));
    p.setBrush(nut);
    p.drawEllipse(c, 14, 14);
    QLinearGradient lever(c + QPointF(-6, 0), c + QPointF(6, 0));
    lever.setColorAt(0, QColor(90, 94, 100));
    lever.setColorAt(0.45, QColor(225, 230, 236));
    lever.setColorAt(1, QColor(80, 84, 90));
    p.setBrush(lever);
    p.drawRoundedRect(QRectF(c.x() - 5.5, c.y() - 26, 11, 28), 5, 5);
    p.setBrush(QColor(210, 214, 220));
    p.drawEllipse(c + QPointF(0, -25), 7, 7);
}

// The grip end of a paddle, where the finger pulls.
void drawPaddlePad(QPainter &p, const WheelSpot &spot)
{
    const QPointF c = spot.centre;
    const double r = 27;
    QRadialGradient g(c + QPointF(-8, -10), r * 1.6);
    g.setColorAt(0, QColor(150, 156, 164));
    g.setColorAt(0.5, QColor(84, 88, 95));
    g.setColorAt(1, QColor(36, 38, 42));
    p.setPen(QPen(QColor(0, 0, 0, 200), 1.4));
    p.setBrush(g);
    p.drawEllipse(c, r, r);
    if (spot.lit)
        lightRing(p, c, r - 7, r - 2);
    p.setPen(QPen(QColor(240, 244, 248), 3.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c + QPointF(-8, 0), c + QPointF(8, 0));
    if (!onLeft(spot))
        p.drawLine(c + QPointF(0, -8), c + QPointF(0, 8));
}

void drawRoundLed(QPainter &p, const WheelSpot &spot)
{
    const QPointF c = spot.centre;
    const double r = std::max(10.0, std::min(24.0, spot.room - 3));
    bezel(p, c, r);
    QRadialGradient lens(c + QPointF(-r * 0.25, -r * 0.3), r);
    lens.setColorAt(0, QColor(236, 242, 246, 230));
    lens.setColorAt(0.6, QColor(170, 182, 192, 200));
    lens.setColorAt(1, QColor(90, 100, 110, 200));
    p.setPen(Qt::NoPen);
    p.setBrush(lens);
    p.drawEllipse(c, r - 4, r - 4);
}

void drawSquareLed(QPainter &p, const WheelSpot &spot)
{
    const QPointF c = spot.centre;
    const double half = std::min(13.5, spot.room - 1);
    const QRectF frame(c.x() - half, c.y() - half, 2 * half, 2 * half);
    p.setPen(QPen(QColor(0, 0, 0, 200), 1));
    p.setBrush(QColor(16, 17, 19));
    p.drawRoundedRect(frame, 4, 4);
    QLinearGradient lens(frame.topLeft(), frame.bottomRight());
    lens.setColorAt(0, QColor(226, 234, 240, 230));
    lens.setColorAt(1, QColor(120, 132, 142, 210));
    p.setPen(Qt::NoPen);
    p.setBrush(lens);
    p.drawRoundedRect(frame.adjusted(3, 3, -3, -3), 2.5, 2.5);
}

} // namespace

void drawPaddleBlade(QPainter &p, const WheelSpot &spot)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    // The blade runs from behind the wheel's centre out past the pad and
    // leans back, so its upper edge shows above the body.
    const bool left = onLeft(spot);
    p.translate(spot.centre);
    p.rotate(left ? 14 : -14);
    const QRectF blade(left ? -190 : -40, -62, 230, 92);
    QLinearGradient g(blade.topLeft(), blade.bottomLeft());
    g.setColorAt(0, QColor(118, 124, 132));
    g.setColorAt(0.25, QColor(64, 67, 73));
    g.setColorAt(1, QColor(28, 29, 32));
    PaintKit::shadow(p, PaintKit::roundedRect(blade, 40), 10);
    p.setPen(QPen(QColor(0, 0, 0, 200), 1.4));
    p.setBrush(g);
    p.drawRoundedRect(blade, 40, 40);
    PaintKit::carbon(p, PaintKit::roundedRect(blade.adjusted(8, 8, -8, -8), 34), 0.9);
    p.restore();
}

void drawPart(QPainter &p, const WheelSpot &spot)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    switch (spot.kind) {
    case PartKind::Button:
        drawButton(p, spot);
        break;
    case PartKind::Encoder:
        drawEncoder(p, spot);
        break;
    case PartKind::ThumbStick:
        drawThumbStick(p, spot);
        break;
    case PartKind::Toggle:
        drawToggle(p, spot);
        break;
    case PartKind::ShiftPaddle:
        drawPaddlePad(p, spot);
        break;
    case PartKind::RoundLed:
        drawRoundLed(p, spot);
        break;
    case PartKind::SquareLed:
        drawSquareLed(p, spot);
        break;
    }
    p.restore();
}
