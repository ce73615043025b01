#include "app_icon.h"

#include "paint_kit.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QString>

#include <cmath>
#include <vector>

namespace {

// Both renderers work in this square; bitmaps scale it to their size.
constexpr double kDesign = 128;

// A flat colour when from == to, otherwise a linear gradient between two
// points of the design square.
struct Fill
{
    QColor from;
    QColor to;
    QPointF start;
    QPointF end;
};

enum class ShapeKind
{
    Tile,   // rounded square from a to b, corner radius `radius`
    Ring,   // circle around a, outer radius `radius`, `width` thick
    Stroke, // straight line from a to b, `width` wide, round caps
    Disc,   // filled circle around a
};

struct Shape
{
    ShapeKind kind;
    QPointF a;
    QPointF b;
    double radius;
    double width;
    Fill fill;
};

Fill flat(QColor colour)
{
    return {colour, colour, {}, {}};
}

// The proportions are those of the mark in the window's logo and tray icon.
std::vector<Shape> iconShapes()
{
    const QPointF c(64, 64);
    const double r = 46;
    const double thickness = r * 0.22;
    const double inner = r - thickness * 0.9;
    const QPointF hub = c + QPointF(0, -r * 0.08);
    const QPointF tail(std::cos(M_PI / 4), std::sin(M_PI / 4));
    const QColor spoke(236, 240, 244);
    return {
        {ShapeKind::Tile,
         {4, 4},
         {124, 124},
         26,
         0,
         {QColor(44, 46, 50), QColor(20, 20, 22), {0, 4}, {0, 124}}},
        {ShapeKind::Ring,
         c,
         {},
         r,
         thickness,
         {PaintKit::kBrand.lighter(125), PaintKit::kBrandDeep, c - QPointF(r, r), c + QPointF(r, r)}},
        {ShapeKind::Stroke, hub - QPointF(inner, 0), hub + QPointF(inner, 0), 0, thickness * 0.62,
         flat(spoke)},
        {ShapeKind::Stroke, hub, c + QPointF(0, inner), 0, thickness * 0.62, flat(spoke)},
        {ShapeKind::Disc, hub, {}, r * 0.2, 0, flat(spoke)},
        {ShapeKind::Stroke, c + tail * (r * 0.62), c + tail * (r * 1.18), 0, thickness * 0.8, flat(spoke)},
    };
}

QBrush brushOf(const Fill &fill)
{
    if (fill.from == fill.to)
        return fill.from;
    QLinearGradient gradient(fill.start, fill.end);
    gradient.setColorAt(0, fill.from);
    gradient.setColorAt(1, fill.to);
    return gradient;
}

void paint(QPainter &p, const Shape &shape)
{
    const QBrush brush = brushOf(shape.fill);
    switch (shape.kind) {
    case ShapeKind::Tile:
        p.setPen(Qt::NoPen);
        p.setBrush(brush);
        p.drawRoundedRect(QRectF(shape.a, shape.b), shape.radius, shape.radius);
        break;
    case ShapeKind::Ring: {
        QPainterPath ring;
        ring.addEllipse(shape.a, shape.radius, shape.radius);
        ring.addEllipse(shape.a, shape.radius - shape.width, shape.radius - shape.width);
        p.setPen(Qt::NoPen);
        p.setBrush(brush);
        p.drawPath(ring);
        break;
    }
    case ShapeKind::Stroke:
        p.setPen(QPen(brush, shape.width, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(shape.a, shape.b);
        break;
    case ShapeKind::Disc:
        p.setPen(Qt::NoPen);
        p.setBrush(brush);
        p.drawEllipse(shape.a, shape.radius, shape.radius);
        break;
    }
}

QString num(double value)
{
    // Three decimals are far below a pixel at any size the icon is shown.
    return QString::number(std::round(value * 1000) / 1000, 'g', 8);
}

QString colour(const QColor &c)
{
    return c.name(QColor::HexRgb);
}

// An SVG paint: the colour itself, or a gradient defined under `id`.
QString svgPaint(const Fill &fill, const QString &id, QString &defs)
{
    if (fill.from == fill.to)
        return colour(fill.from);
    defs +=
        QStringLiteral("    <linearGradient id=\"%1\" gradientUnits=\"userSpaceOnUse\" x1=\"%2\" y1=\"%3\" "
                       "x2=\"%4\" y2=\"%5\">\n"
                       "      <stop offset=\"0\" stop-color=\"%6\"/>\n"
                       "      <stop offset=\"1\" stop-color=\"%7\"/>\n"
                       "    </linearGradient>\n")
            .arg(id, num(fill.start.x()), num(fill.start.y()), num(fill.end.x()), num(fill.end.y()),
                 colour(fill.from), colour(fill.to));
    return QStringLiteral("url(#%1)").arg(id);
}

QString svgElement(const Shape &shape, const QString &paintRef)
{
    switch (shape.kind) {
    case ShapeKind::Tile:
        return QStringLiteral(
                   "  <rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" rx=\"%5\" fill=\"%6\"/>\n")
            .arg(num(shape.a.x()), num(shape.a.y()), num(shape.b.x() - shape.a.x()),
                 num(shape.b.y() - shape.a.y()), num(shape.radius), paintRef);
    case ShapeKind::Ring:
        // A stroke centred between the outer and the inner edge.
        return QStringLiteral("  <circle cx=\"%1\" cy=\"%2\" r=\"%3\" fill=\"none\" stroke=\"%4\" "
                              "stroke-width=\"%5\"/>\n")
            .arg(num(shape.a.x()), num(shape.a.y()), num(shape.radius - shape.width / 2), paintRef,
                 num(shape.width));
    case ShapeKind::Stroke:
        return QStringLiteral(
                   "  <line x1=\"%1\" y1=\"%2\" x2=\"%3\" y2=\"%4\" stroke=\"%5\" stroke-width=\"%6\" "
                   "stroke-linecap=\"round\"/>\n")
            .arg(num(shape.a.x()), num(shape.a.y()), num(shape.b.x()), num(shape.b.y()), paintRef,
                 num(shape.width));
    case ShapeKind::Disc:
        return QStringLiteral("  <circle cx=\"%1\" cy=\"%2\" r=\"%3\" fill=\"%4\"/>\n")
            .arg(num(shape.a.x()), num(shape.a.y()), num(shape.radius), paintRef);
    }
    return {};
}

} // namespace

QImage drawAppIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / kDesign, size / kDesign);
    for (const Shape &shape : iconShapes())
        paint(p, shape);
    return image;
}

QByteArray appIconSvg()
{
    QString defs;
    QString body;
    int gradients = 0;
    for (const Shape &shape : iconShapes()) {
        const QString paintRef = svgPaint(shape.fill, QStringLiteral("g%1").arg(gradients), defs);
        if (shape.fill.from != shape.fill.to)
            ++gradients;
        body += svgElement(shape, paintRef);
    }
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                          "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%1\" "
                          "viewBox=\"0 0 %1 %1\">\n"
                          "  <defs>\n%2  </defs>\n%3</svg>\n")
        .arg(num(kDesign), defs, body)
        .toUtf8();
}
