#include "model_picture.h"

#include "picture_geometry.h"
#include "wheel_bodies.h"
#include "wheel_parts.h"
#include "wheel_spots.h"

#include <QDebug>
#include <QFont>
#include <QPainter>

QImage drawModelPicture(const ModelEntry &entry)
{
    QImage image(PictureGeometry::kWidth, PictureGeometry::kHeight, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    const std::vector<WheelSpot> spots = wheelSpots(entry);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        for (const WheelSpot &spot : spots) {
            if (spot.kind == PartKind::ShiftPaddle)
                drawPaddleBlade(p, spot);
        }
        if (!drawWheelBody(p, entry.code))
            qDebug() << "no body drawing for" << entry.code;
        for (const WheelSpot &spot : spots)
            drawPart(p, spot);
    }
    image.setText(QLatin1String(kLayoutStampKey), QString::number(placementFingerprint(entry), 16));
    return image;
}

QString modelPictureFileName(const ModelEntry &entry)
{
    return QString::fromLatin1(entry.picture).remove(QStringLiteral(":/img/"));
}

namespace {

void outline(QPainter &p, const Placement &placement, bool ledButton, QColor colour)
{
    const QRectF rect = PictureGeometry::toPicture(placedRect(placement, ledButton));
    p.setPen(QPen(colour, 2));
    p.setBrush(Qt::NoBrush);
    if (ledButton && placement.style == PlacementStyle::CircleLed)
        p.drawEllipse(rect);
    else
        p.drawRect(rect);
    p.setPen(colour);
    p.drawText(rect.bottomLeft() + QPointF(0, 12), QString::fromLatin1(placement.name + 2));
}

} // namespace

QImage drawPlacementCheck(const QImage &picture, const ModelEntry &entry)
{
    QImage check(picture.size(), QImage::Format_ARGB32_Premultiplied);
    check.fill(QColor(26, 25, 25));
    QPainter p(&check);
    p.drawImage(0, 0, picture);
    p.setRenderHint(QPainter::Antialiasing);
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(11);
    p.setFont(font);
    for (const Placement &placement : entry.indicators)
        outline(p, placement, false, QColor(255, 60, 60));
    for (const Placement &placement : entry.ledButtons)
        outline(p, placement, true, QColor(255, 220, 40));
    for (const Placement &placement : entry.extraLedButtons)
        outline(p, placement, true, QColor(60, 230, 255));
    return check;
}
