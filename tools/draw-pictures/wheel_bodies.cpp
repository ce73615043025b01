#include "wheel_bodies.h"

#include "paint_kit.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <cstring>

using namespace PaintKit;

namespace {

// Every body is drawn in picture pixels (1280 x 720) and laid out round the
// controls of its model: the controls themselves are drawn afterwards.

const QColor kShellTop(60, 63, 68);
const QColor kShellBottom(25, 26, 29);

QPainterPath ellipse(QPointF centre, double rx, double ry)
{
    QPainterPath path;
    path.addEllipse(centre, rx, ry);
    return path;
}

QPainterPath polyline(std::initializer_list<QPointF> points)
{
    QPainterPath path;
    bool first = true;
    for (const QPointF &pt : points) {
        if (first)
            path.moveTo(pt);
        else
            path.lineTo(pt);
        first = false;
    }
    return path;
}

// Formula wheel: a flat-topped body, a grip on each side with a hand hole
// between grip and centre plate.
void bodyHZet(QPainter &p)
{
    const QPainterPath outer =
        roundedRect({40, 28, 1200, 634}, 80).united(roundedRect({250, 28, 780, 674}, 70));
    const QPainterPath body = outer.subtracted(mirrored(roundedRect({200, 246, 62, 366}, 31)));
    shadow(p, body, 18);
    shell(p, body, kShellTop, kShellBottom);
    gripLeather(p, mirrored(roundedRect({50, 132, 140, 520}, 60)));
    const QPainterPath plate = roundedRect({276, 46, 728, 636}, 54);
    carbon(p, plate, 0.9);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0, 0, 0, 120), 2));
    p.setBrush(Qt::NoBrush);
    p.drawPath(plate);
    accentLine(p, polyline({{330, 684}, {950, 684}}), 2.5);
    display(p, {545, 300, 190, 180}, QStringLiteral("4"));
    for (const QPointF &at : {QPointF(300, 180), QPointF(980, 180), QPointF(300, 480), QPointF(980, 480)})
        screw(p, at, 8);
    wordMark(p, {640, 630}, 28);
}

// GT wheel: a closed D-shaped rim with a flat top that carries the rev lights.
void bodyVln6(QPainter &p)
{
    QPainterPath outer;
    outer.moveTo(190, 16);
    outer.lineTo(1090, 16);
    outer.cubicTo(1190, 16, 1226, 60, 1226, 150);
    outer.lineTo(1226, 360);
    outer.cubicTo(1226, 600, 960, 712, 640, 712);
    outer.cubicTo(320, 712, 54, 600, 54, 360);
    outer.lineTo(54, 150);
    outer.cubicTo(54, 60, 90, 16, 190, 16);
    outer.closeSubpath();

    QPainterPath inner;
    inner.moveTo(230, 150);
    inner.lineTo(1050, 150);
    inner.cubicTo(1100, 150, 1122, 180, 1122, 230);
    inner.lineTo(1122, 370);
    inner.cubicTo(1122, 530, 900, 614, 640, 614);
    inner.cubicTo(380, 614, 158, 530, 158, 370);
    inner.lineTo(158, 230);
    inner.cubicTo(158, 180, 180, 150, 230, 150);
    inner.closeSubpath();

    const QPainterPath rim = outer.subtracted(inner);
    const QPainterPath plate = roundedRect({256, 92, 768, 610}, 64).intersected(outer);
    const QPainterPath body = rim.united(plate);
    shadow(p, body, 18);
    shell(p, rim, QColor(52, 55, 60), QColor(20, 21, 24));
    gripLeather(p, rim.intersected(mirrored(roundedRect({40, 180, 140, 470}, 20))));
    shell(p, plate, kShellTop, kShellBottom);
    carbon(p, roundedRect({276, 170, 728, 510}, 48), 0.8);
    glass(p, roundedRect({484, 36, 312, 46}, 10));
    accentLine(p, polyline({{300, 132}, {980, 132}}), 2);
    display(p, {470, 262, 340, 100}, QStringLiteral("3"));
    wordMark(p, {640, 660}, 26);
}

// Yoke: two horns rising at the sides, open between them at the top.
void bodyHMira(QPainter &p)
{
    QPainterPath spine;
    spine.moveTo(300, 560);
    spine.cubicTo(200, 470, 120, 300, 146, 82);
    const QPainterPath horns = mirrored(band(spine, 128));

    QPainterPath half;
    half.moveTo(660, 214);
    half.lineTo(640, 214);
    half.cubicTo(580, 214, 560, 150, 500, 108);
    half.cubicTo(440, 70, 320, 66, 250, 98);
    half.lineTo(226, 420);
    half.cubicTo(236, 600, 380, 664, 520, 664);
    half.lineTo(660, 664);
    half.closeSubpath();
    const QPainterPath centre = mirrored(half);

    const QPainterPath body = horns.united(centre);
    shadow(p, body, 18);
    shell(p, body, kShellTop, kShellBottom);
    gripLeather(p, horns.subtracted(centre).intersected(roundedRect({0, 150, 1280, 480}, 0)));
    const QPainterPath inset = centre.intersected(roundedRect({262, 236, 756, 410}, 60));
    shell(p, inset, QColor(48, 50, 55), QColor(30, 31, 34));
    QPainterPath edge;
    edge.moveTo(520, 150);
    edge.cubicTo(570, 200, 600, 232, 640, 232);
    edge.cubicTo(680, 232, 710, 200, 760, 150);
    accentLine(p, edge, 2.5);
    display(p, {545, 260, 190, 160}, QStringLiteral("2"));
    wordMark(p, {640, 610}, 28);
}

// Rally wheel: a rounded-square plate with a round hub in the middle.
void bodyOv410(QPainter &p)
{
    const QPainterPath body = superellipse({640, 362}, 612, 345, 4.2);
    shadow(p, body, 18);
    shell(p, body, kShellTop, kShellBottom);
    gripLeather(p, body.intersected(mirrored(roundedRect({20, 170, 200, 400}, 40))));
    carbon(p,
           superellipse({640, 362}, 560, 300, 4.2).subtracted(mirrored(roundedRect({0, 150, 236, 440}, 40))),
           0.6);

    const QPointF hub(640, 418);
    const QPainterPath disc = ellipse(hub, 178, 178);
    shadow(p, disc, 10);
    shell(p, disc, QColor(74, 77, 83), QColor(30, 31, 35));
    brushed(p, disc, 0.8);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0, 0, 0, 150), 3));
    p.drawEllipse(hub, 164, 164);
    QPainterPath arc;
    arc.arcMoveTo(QRectF(hub.x() - 171, hub.y() - 171, 342, 342), 200);
    arc.arcTo(QRectF(hub.x() - 171, hub.y() - 171, 342, 342), 200, 140);
    accentLine(p, arc, 3);
    display(p, {548, 340, 184, 130}, QStringLiteral("5"));
    wordMark(p, {640, 530}, 24);
    for (int i = 0; i < 6; ++i) {
        const double a = M_PI / 3 * i + M_PI / 6;
        screw(p, hub + QPointF(std::cos(a), std::sin(a)) * 150, 7);
    }
}

// Button box: a plain box with a brushed face plate.
void bodyKlino4(QPainter &p)
{
    const QPainterPath box = roundedRect({150, 20, 980, 680}, 36);
    shadow(p, box, 20);
    shell(p, box, QColor(54, 57, 62), QColor(22, 23, 26));
    const QPainterPath face = roundedRect({166, 36, 948, 648}, 24);
    shell(p, face, QColor(70, 73, 79), QColor(36, 38, 42));
    brushed(p, face, 1.0);
    for (const QPointF &at : {QPointF(190, 60), QPointF(1090, 60), QPointF(190, 660), QPointF(1090, 660)})
        screw(p, at, 10);
    glass(p, roundedRect({500, 110, 272, 48}, 14));
    display(p, {525, 290, 230, 170}, QStringLiteral("1"));
    accentLine(p, polyline({{525, 486}, {755, 486}}), 2.5);
    wordMark(p, {640, 540}, 26);
}

// Wide formula wheel whose rev lights arch over the display.
void bodyUlmar(QPainter &p)
{
    QPainterPath half;
    half.moveTo(660, 18);
    half.lineTo(130, 18);
    half.cubicTo(66, 18, 30, 52, 30, 116);
    half.lineTo(30, 400);
    half.cubicTo(30, 520, 110, 584, 230, 584);
    half.cubicTo(290, 584, 320, 700, 430, 700);
    half.lineTo(660, 700);
    half.closeSubpath();
    const QPainterPath body = mirrored(half);
    shadow(p, body, 18);
    shell(p, body, kShellTop, kShellBottom);
    gripLeather(p, body.intersected(mirrored(roundedRect({30, 210, 220, 350}, 30))));
    carbon(p, mirrored(roundedRect({300, 130, 400, 560}, 60)), 0.85);

    QPainterPath arch = polyline({{476, 288},
                                  {500, 241},
                                  {512, 217},
                                  {522, 193},
                                  {544, 189},
                                  {736, 189},
                                  {756, 193},
                                  {768, 217},
                                  {780, 241},
                                  {804, 288}});
    const QPainterPath archGlass = band(arch, 40);
    glass(p, archGlass);
    display(p, {540, 226, 200, 150}, QStringLiteral("6"));
    accentLine(p, polyline({{540, 400}, {740, 400}}), 2.5);
    wordMark(p, {640, 640}, 28);
}

// Rounded-rectangle rim, flat at top and bottom, with a straight light bar.
void bodySrd7(QPainter &p)
{
    const QPainterPath outer = roundedRect({48, 14, 1184, 696}, 150);
    const QPainterPath inner = roundedRect({172, 130, 936, 470}, 80);
    const QPainterPath rim = outer.subtracted(inner);
    const QPainterPath plate = roundedRect({248, 60, 784, 640}, 60).intersected(outer);
    const QPainterPath body = rim.united(plate);
    shadow(p, body, 18);
    shell(p, rim, QColor(52, 55, 60), QColor(20, 21, 24));
    gripLeather(p, rim.intersected(mirrored(roundedRect({30, 170, 160, 420}, 10))));
    shell(p, plate, QColor(62, 67, 76), QColor(26, 28, 33));
    brushed(p, roundedRect({262, 74, 756, 612}, 50), 0.9);
    glass(p, roundedRect({418, 116, 444, 44}, 12));
    display(p, {470, 186, 340, 226}, QStringLiteral("N"));
    accentLine(p, polyline({{500, 424}, {780, 424}}), 2.5);
    wordMark(p, {640, 650}, 28);
}

// Round-bottomed wheel with wide wings at the top and an arched row of lights.
void bodyPelix(QPainter &p)
{
    const QPainterPath body = ellipse({640, 380}, 556, 330).united(roundedRect({62, 22, 1156, 150}, 64));
    shadow(p, body, 18);
    shell(p, body, kShellTop, kShellBottom);
    gripLeather(p, body.intersected(mirrored(roundedRect({60, 210, 200, 400}, 40))));
    carbon(p, ellipse({640, 392}, 470, 286).subtracted(mirrored(roundedRect({0, 200, 270, 420}, 40))), 0.8);
    QPainterPath wingEdge;
    wingEdge.moveTo(130, 160);
    wingEdge.lineTo(1150, 160);
    p.setPen(QPen(QColor(0, 0, 0, 90), 2));
    p.drawPath(wingEdge);

    QPainterPath lights;
    lights.moveTo(480, 146);
    lights.quadTo(638, 160, 796, 146);
    glass(p, band(lights, 40));
    glass(p, band(polyline({{446, 164}, {458, 236}}), 34));
    glass(p, band(polyline({{832, 164}, {820, 238}}), 34));
    glass(p, band(polyline({{626, 241}, {656, 241}}), 34));
    display(p, {530, 272, 220, 150}, QStringLiteral("7"));
    accentLine(p, polyline({{560, 440}, {720, 440}}), 2.5);
    wordMark(p, {640, 620}, 26);
}

struct BodyByCode
{
    const char *code;
    void (*draw)(QPainter &);
};

const BodyByCode kBodies[] = {
    {"H-ZET", bodyHZet},    {"VLN6", bodyVln6},   {"H-MIRA", bodyHMira}, {"OV410", bodyOv410},
    {"KLINO4", bodyKlino4}, {"ULMAR", bodyUlmar}, {"SRD7", bodySrd7},    {"PELIX", bodyPelix},
};

} // namespace

bool drawWheelBody(QPainter &p, const char *code)
{
    for (const BodyByCode &row : kBodies) {
        if (std::strcmp(row.code, code) == 0) {
            p.save();
            p.setRenderHint(QPainter::Antialiasing);
            row.draw(p);
            p.restore();
            return true;
        }
    }
    return false;
}
