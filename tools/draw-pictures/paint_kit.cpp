#include "paint_kit.h"

#include "picture_geometry.h"

#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPathStroker>
#include <QRadialGradient>
#include <QTransform>

#include <cmath>
#include <cstdint>

namespace PaintKit {

namespace {

// A small fixed generator, so that every run draws the same grain.
class Grain
{
public:
    explicit Grain(std::uint32_t seed) : m_state(seed) {}
    double next()
    {
        m_state = m_state * 1664525u + 1013904223u;
        return (m_state >> 8) / double(1u << 24);
    }

private:
    std::uint32_t m_state;
};

QImage carbonTile()
{
    const int cell = 9;
    QImage tile(cell * 4, cell * 4, QImage::Format_ARGB32_Premultiplied);
    tile.fill(Qt::transparent);
    QPainter p(&tile);
    for (int row = 0; row < 4; ++row) {
        for (int col = 0; col < 4; ++col) {
            const QRectF r(col * cell, row * cell, cell, cell);
            // A 2/2 twill: the weave direction steps one cell per row.
            const bool across = ((col + row) / 2) % 2 == 0;
            QLinearGradient g(across ? QPointF(r.left(), r.center().y()) : QPointF(r.center().x(), r.top()),
                              across ? QPointF(r.right(), r.center().y())
                                     : QPointF(r.center().x(), r.bottom()));
            g.setColorAt(0, QColor(255, 255, 255, 6));
            g.setColorAt(0.5, QColor(255, 255, 255, 34));
            g.setColorAt(1, QColor(255, 255, 255, 6));
            p.fillRect(r.adjusted(0.5, 0.5, -0.5, -0.5), g);
        }
    }
    return tile;
}

QImage perforationTile()
{
    QImage tile(16, 14, QImage::Format_ARGB32_Premultiplied);
    tile.fill(Qt::transparent);
    QPainter p(&tile);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    for (const QPointF &c : {QPointF(4, 3.5), QPointF(12, 10.5)}) {
        p.setBrush(QColor(255, 255, 255, 16));
        p.drawEllipse(c + QPointF(0, 0.8), 1.7, 1.7);
        p.setBrush(QColor(0, 0, 0, 150));
        p.drawEllipse(c, 1.6, 1.6);
    }
    return tile;
}

QImage brushedTile()
{
    QImage tile(512, 96, QImage::Format_ARGB32_Premultiplied);
    tile.fill(Qt::transparent);
    QPainter p(&tile);
    Grain grain(20240611u);
    for (int i = 0; i < 900; ++i) {
        const double y = grain.next() * tile.height();
        const double x = grain.next() * tile.width();
        const double length = 40 + grain.next() * 220;
        const int alpha = 6 + int(grain.next() * 22);
        p.setPen(QPen(grain.next() < 0.5 ? QColor(255, 255, 255, alpha) : QColor(0, 0, 0, alpha), 1));
        p.drawLine(QPointF(x, y), QPointF(x + length, y));
        p.drawLine(QPointF(x - tile.width(), y), QPointF(x + length - tile.width(), y));
    }
    return tile;
}

QFont markFont(double pixelHeight)
{
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(std::max(1, int(std::lround(pixelHeight))));
    font.setBold(true);
    font.setLetterSpacing(QFont::PercentageSpacing, 118);
    return font;
}

} // namespace

QPainterPath roundedRect(const QRectF &rect, double radius)
{
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

QPainterPath superellipse(QPointF centre, double a, double b, double n)
{
    QPainterPath path;
    const int steps = 360;
    for (int i = 0; i <= steps; ++i) {
        const double t = 2 * M_PI * i / steps;
        const double c = std::cos(t);
        const double s = std::sin(t);
        const QPointF point(centre.x() + a * std::copysign(std::pow(std::abs(c), 2 / n), c),
                            centre.y() + b * std::copysign(std::pow(std::abs(s), 2 / n), s));
        if (i == 0)
            path.moveTo(point);
        else
            path.lineTo(point);
    }
    path.closeSubpath();
    return path;
}

QPainterPath band(const QPainterPath &spine, double width)
{
    QPainterPathStroker stroker;
    stroker.setWidth(width);
    stroker.setCapStyle(Qt::RoundCap);
    stroker.setJoinStyle(Qt::RoundJoin);
    return stroker.createStroke(spine).simplified();
}

QPainterPath mirrored(const QPainterPath &leftHalf)
{
    QTransform flip;
    flip.translate(PictureGeometry::kWidth, 0);
    flip.scale(-1, 1);
    return leftHalf.united(flip.map(leftHalf));
}

void shadow(QPainter &p, const QPainterPath &shape, double depth)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const QPainterPath moved = shape.translated(0, depth * 0.6);
    const int passes = 10;
    for (int i = passes; i >= 1; --i) {
        p.setPen(
            QPen(QColor(0, 0, 0, 14), depth * i / passes * 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(QColor(0, 0, 0, 14));
        p.drawPath(moved);
    }
    p.restore();
}

void shell(QPainter &p, const QPainterPath &shape, QColor top, QColor bottom)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF box = shape.boundingRect();
    QLinearGradient fill(box.topLeft(), box.bottomLeft());
    fill.setColorAt(0, top);
    fill.setColorAt(1, bottom);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawPath(shape);

    // Light falls from above: the upper edges catch it, the lower ones fall away.
    QLinearGradient edge(box.topLeft(), box.bottomLeft());
    edge.setColorAt(0, QColor(255, 255, 255, 70));
    edge.setColorAt(0.35, QColor(255, 255, 255, 18));
    edge.setColorAt(1, QColor(0, 0, 0, 120));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QBrush(edge), 2.2));
    p.drawPath(shape);
    p.restore();
}

void carbon(QPainter &p, const QPainterPath &shape, double opacity)
{
    static const QImage tile = carbonTile();
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setClipPath(shape, Qt::IntersectClip);
    p.setOpacity(opacity);
    QBrush weave(tile);
    weave.setTransform(QTransform().rotate(45));
    p.fillPath(shape, weave);
    p.restore();
}

void gripLeather(QPainter &p, const QPainterPath &shape)
{
    static const QImage tile = perforationTile();
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF box = shape.boundingRect();
    QLinearGradient fill(box.topLeft(), box.topRight());
    fill.setColorAt(0, QColor(22, 23, 25));
    fill.setColorAt(0.45, QColor(44, 45, 49));
    fill.setColorAt(1, QColor(20, 21, 23));
    p.fillPath(shape, fill);
    p.fillPath(shape, QBrush(tile));
    p.setPen(QPen(QColor(0, 0, 0, 140), 2));
    p.setBrush(Qt::NoBrush);
    p.drawPath(shape);
    // Stitching just inside the edge.
    QPen stitch(QColor(120, 124, 130, 90), 1.4, Qt::CustomDashLine, Qt::FlatCap);
    stitch.setDashPattern({3, 3});
    p.setClipPath(shape);
    p.setPen(stitch);
    p.drawPath(shape);
    p.restore();
}

void brushed(QPainter &p, const QPainterPath &shape, double opacity)
{
    static const QImage tile = brushedTile();
    p.save();
    p.setOpacity(opacity);
    p.fillPath(shape, QBrush(tile));
    p.restore();
}

void accentLine(QPainter &p, const QPainterPath &line, double width)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(Qt::NoBrush);
    QColor glow = kBrand;
    glow.setAlpha(50);
    p.setPen(QPen(glow, width * 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(line);
    p.setPen(QPen(kBrand, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(line);
    p.restore();
}

void glass(QPainter &p, const QPainterPath &shape)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF box = shape.boundingRect();
    QLinearGradient fill(box.topLeft(), box.bottomRight());
    fill.setColorAt(0, QColor(14, 18, 22));
    fill.setColorAt(1, QColor(3, 5, 7));
    p.setPen(QPen(QColor(90, 96, 104, 150), 2));
    p.setBrush(fill);
    p.drawPath(shape);
    // A faint reflection across the upper left.
    QPainterPath sheen;
    sheen.moveTo(box.topLeft());
    sheen.lineTo(box.left() + box.width() * 0.55, box.top());
    sheen.lineTo(box.left() + box.width() * 0.25, box.bottom());
    sheen.lineTo(box.bottomLeft());
    sheen.closeSubpath();
    p.setClipPath(shape);
    p.fillPath(sheen, QColor(255, 255, 255, 10));
    p.restore();
}

void display(QPainter &p, const QRectF &rect, const QString &gear)
{
    glass(p, roundedRect(rect, 14));
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QRectF inner = rect.adjusted(16, 14, -16, -14);

    // Shift light bar across the top: the revs are up, the last blocks dark.
    const int blocks = 12;
    const double gap = 4;
    const double w = (inner.width() - gap * (blocks - 1)) / blocks;
    const double h = std::max(6.0, inner.height() * 0.07);
    for (int i = 0; i < blocks; ++i) {
        QColor c = kBrand;
        if (i >= 9)
            c = QColor(255, 255, 255, 40);
        else
            c.setAlpha(120 + i * 14);
        p.fillRect(QRectF(inner.left() + i * (w + gap), inner.top(), w, h), c);
    }

    QFont big(QStringLiteral("Liberation Sans"));
    big.setBold(true);
    big.setPixelSize(int(inner.height() * 0.56));
    p.setFont(big);
    const QRectF gearBox(inner.left(), inner.top() + h + 4, inner.width(), inner.height() * 0.66);
    QColor halo = kBrand;
    halo.setAlpha(60);
    p.setPen(halo);
    for (const QPointF &d : {QPointF(-2, 0), QPointF(2, 0), QPointF(0, -2), QPointF(0, 2)})
        p.drawText(gearBox.translated(d), Qt::AlignCenter, gear);
    p.setPen(QColor(236, 244, 250));
    p.drawText(gearBox, Qt::AlignCenter, gear);

    // Too small to read on screen: leave the footer off.
    if (inner.height() < 100) {
        p.restore();
        return;
    }
    QFont small(QStringLiteral("Liberation Sans"));
    small.setPixelSize(std::max(9, int(inner.height() * 0.11)));
    p.setFont(small);
    p.setPen(QColor(150, 160, 170));
    const QRectF foot(inner.left(), inner.bottom() - inner.height() * 0.16, inner.width(),
                      inner.height() * 0.16);
    p.drawText(foot, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("TC 3"));
    if (inner.width() > 240)
        p.drawText(foot, Qt::AlignHCenter | Qt::AlignVCenter, QStringLiteral("1:32.418"));
    p.drawText(foot, Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("BB 56"));
    p.restore();
}

void screw(QPainter &p, QPointF centre, double radius)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient head(centre - QPointF(radius * 0.3, radius * 0.4), radius * 1.4);
    head.setColorAt(0, QColor(150, 154, 160));
    head.setColorAt(1, QColor(46, 48, 52));
    p.setPen(QPen(QColor(0, 0, 0, 160), 1.2));
    p.setBrush(head);
    p.drawEllipse(centre, radius, radius);
    QPolygonF hex;
    for (int i = 0; i < 6; ++i) {
        const double a = M_PI / 3 * i;
        hex << centre + QPointF(std::cos(a), std::sin(a)) * radius * 0.45;
    }
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(18, 19, 21));
    p.drawPolygon(hex);
    p.restore();
}

void wordMark(QPainter &p, QPointF centre, double height, double opacity)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setOpacity(opacity);
    const QFont font = markFont(height);
    p.setFont(font);
    const QString word = QStringLiteral("QUOR");
    const QFontMetricsF metrics(font);
    const double width = metrics.horizontalAdvance(word);
    const QPointF origin(centre.x() - width / 2, centre.y() + metrics.capHeight() / 2);
    p.setPen(QColor(232, 236, 240));
    p.drawText(origin, word);
    // The brand stroke under the Q's tail.
    p.setPen(QPen(kBrand, std::max(1.5, height * 0.09), Qt::SolidLine, Qt::RoundCap));
    const double y = origin.y() + height * 0.2;
    p.drawLine(QPointF(origin.x(), y), QPointF(origin.x() + width * 0.98, y));
    p.restore();
}

} // namespace PaintKit
