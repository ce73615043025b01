#pragma once

#include <QColor>
#include <QPainterPath>
#include <QPointF>
#include <QRectF>
#include <QString>

class QPainter;

// Colours and surface finishes shared by every picture.
namespace PaintKit {

const QColor kBrand(17, 146, 207);
const QColor kBrandDeep(9, 74, 105);
const QColor kWindow(26, 25, 25);

// A rounded rectangle as a path.
QPainterPath roundedRect(const QRectF &rect, double radius);
// |x/a|^n + |y/b|^n = 1: between an ellipse (n = 2) and a rectangle.
QPainterPath superellipse(QPointF centre, double a, double b, double n);
// A thick band along a path, with round ends.
QPainterPath band(const QPainterPath &spine, double width);
// The same path mirrored about the picture's vertical centre line, united with itself.
QPainterPath mirrored(const QPainterPath &leftHalf);

// A soft shadow under a shape, offset downwards.
void shadow(QPainter &p, const QPainterPath &shape, double depth);
// Satin plastic or anodised metal: a vertical gradient with a lit top edge.
void shell(QPainter &p, const QPainterPath &shape, QColor top, QColor bottom);
// Fine carbon twill laid into a shape.
void carbon(QPainter &p, const QPainterPath &shape, double opacity);
// Perforated grip leather laid into a shape.
void gripLeather(QPainter &p, const QPainterPath &shape);
// Brushed metal laid into a shape (horizontal grain).
void brushed(QPainter &p, const QPainterPath &shape, double opacity);
// A thin brand-coloured accent line along a path.
void accentLine(QPainter &p, const QPainterPath &line, double width = 3);
// A recessed black glass panel.
void glass(QPainter &p, const QPainterPath &shape);
// A display: glass with a gear readout and a small bar graph.
void display(QPainter &p, const QRectF &rect, const QString &gear);
// A countersunk screw head.
void screw(QPainter &p, QPointF centre, double radius = 9);
// The maker's word mark, centred on a point, in a given pixel height.
void wordMark(QPainter &p, QPointF centre, double height, double opacity = 1.0);

} // namespace PaintKit
