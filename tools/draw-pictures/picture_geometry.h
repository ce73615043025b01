#pragma once

#include <QPointF>
#include <QRectF>

// A model picture is drawn at 1280 x 720 and stored scaled down once to the
// 640 x 365 of the picture label that stands at (61, 9) on the inputs and
// LED pages. Layout positions are page coordinates; drawing happens in
// picture pixels.
namespace PictureGeometry {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;
constexpr double kLabelX = 61;
constexpr double kLabelY = 9;
constexpr double kScaleX = 640.0 / kWidth;
constexpr double kScaleY = 365.0 / kHeight;

inline QPointF toPicture(QPointF page)
{
    return {(page.x() - kLabelX) / kScaleX, (page.y() - kLabelY) / kScaleY};
}

inline QRectF toPicture(const QRectF &page)
{
    return {toPicture(page.topLeft()), toPicture(page.bottomRight())};
}

} // namespace PictureGeometry
