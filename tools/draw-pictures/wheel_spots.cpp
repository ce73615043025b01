#include "wheel_spots.h"

#include "picture_geometry.h"

#include <QLineF>

#include <cstring>
#include <limits>

namespace {

struct FormSize
{
    const char *name;
    int width;
    int height;
};

// Widgets whose form size is not 24 x 24. Placing an indicator never resizes
// it, and neither does placing an LED button with the look None.
const FormSize kIndicatorSizes[] = {
    {"pbID1L", 26, 25}, {"pbID1R", 26, 25}, {"pbID2L", 26, 25}, {"pbID2R", 26, 25},  {"pbID3L", 26, 25},
    {"pbID3R", 26, 25}, {"pbID4L", 26, 25}, {"pbID4R", 26, 25}, {"pbID5L", 25, 25},  {"pbID5R", 25, 25},
    {"pbID6L", 25, 25}, {"pbID6R", 25, 25}, {"pbID7L", 25, 25}, {"pbID7R", 25, 25},  {"pbID8L", 25, 25},
    {"pbID8R", 25, 25}, {"pbIB3", 25, 25},  {"pbIB11", 25, 25}, {"pbIBarL", 25, 25}, {"pbIBarR", 25, 25},
    {"pbJsL1", 25, 25}, {"pbJsL2", 25, 25}, {"pbJsL3", 25, 25}, {"pbJsL4", 25, 25},  {"pbJsLC", 25, 25},
    {"pbJsLL", 25, 25}, {"pbJsLR", 25, 25}, {"pbJsR1", 25, 25}, {"pbJsR2", 25, 25},  {"pbJsR3", 25, 25},
    {"pbJsR4", 25, 25}, {"pbJsRC", 25, 25}, {"pbJsRL", 25, 25}, {"pbJsRR", 25, 25},
};

const FormSize kLedSizes[] = {
    {"pbB3", 25, 25},  {"pbB11", 25, 25}, {"pbXL", 25, 25},  {"pbXR", 25, 25},  {"pbD13", 26, 25},
    {"pbD16", 26, 25}, {"pbD23", 26, 25}, {"pbD26", 26, 25}, {"pbD3", 12, 12},  {"pbD4", 12, 12},
    {"pbT1", 12, 12},  {"pbT2", 12, 12},  {"pbT3", 12, 12},  {"pbT4", 12, 12},  {"pbT5", 12, 12},
    {"pbT6", 12, 12},  {"pbT7", 12, 12},  {"pbT8", 12, 12},  {"pbT9", 12, 12},  {"pbT10", 12, 12},
    {"pbT11", 12, 12}, {"pbT12", 12, 12}, {"pbT13", 12, 12}, {"pbT14", 12, 12}, {"pbT15", 12, 12},
    {"pbT16", 12, 12}, {"pbT17", 12, 12}, {"pbT18", 12, 12}, {"pbT19", 12, 12}, {"pbTL1", 12, 12},
    {"pbTL2", 12, 12}, {"pbTL3", 12, 12}, {"pbTR1", 12, 12}, {"pbTR2", 12, 12}, {"pbTR3", 12, 12},
};

template<std::size_t N> QSizeF formSize(const FormSize (&table)[N], const char *name)
{
    for (const FormSize &row : table) {
        if (std::strcmp(row.name, name) == 0)
            return QSizeF(row.width, row.height);
    }
    return QSizeF(24, 24);
}

struct KindByPrefix
{
    const char *prefix;
    PartKind kind;
};

// Longer prefixes first: "pbISW" is a switch, "pbSW" a shift paddle.
const KindByPrefix kIndicatorKinds[] = {
    {"pbISW", PartKind::Toggle}, {"pbSW", PartKind::ShiftPaddle}, {"pbIB", PartKind::Button},
    {"pbID", PartKind::Encoder}, {"pbJs", PartKind::ThumbStick},
};

PartKind indicatorKind(const char *name)
{
    for (const KindByPrefix &row : kIndicatorKinds) {
        if (std::strncmp(name, row.prefix, std::strlen(row.prefix)) == 0)
            return row.kind;
    }
    return PartKind::Button;
}

// Widgets whose centres lie closer than this (picture pixels) sit on one part.
constexpr double kSamePart = 12.0;

void addToSpots(std::vector<WheelSpot> &spots, const Placement &placement, bool ledButton)
{
    const QRectF rect = PictureGeometry::toPicture(placedRect(placement, ledButton));
    const QPointF centre = rect.center();
    for (WheelSpot &spot : spots) {
        if (QLineF(spot.centre, centre).length() < kSamePart) {
            const double n = spot.names.size();
            spot.centre = (spot.centre * n + centre) / (n + 1);
            spot.names << QLatin1String(placement.name);
            if (!ledButton && !spot.input)
                spot.kind = indicatorKind(placement.name);
            spot.input = spot.input || !ledButton;
            spot.lit = spot.lit || ledButton;
            return;
        }
    }
    WheelSpot spot;
    spot.centre = centre;
    spot.names << QLatin1String(placement.name);
    spot.input = !ledButton;
    spot.lit = ledButton;
    if (!ledButton)
        spot.kind = indicatorKind(placement.name);
    else
        spot.kind = rect.width() < 30 ? PartKind::SquareLed : PartKind::RoundLed;
    spots.push_back(spot);
}

} // namespace

QRectF placedRect(const Placement &placement, bool ledButton)
{
    // Indicators are placed hidden, which never resizes them; LED buttons are
    // placed shown, which resizes them by their look (None keeps the form's).
    QSizeF size = ledButton ? formSize(kLedSizes, placement.name) : formSize(kIndicatorSizes, placement.name);
    if (ledButton) {
        switch (placement.style) {
        case PlacementStyle::Indicator:
        case PlacementStyle::CircleLed:
            size = QSizeF(24, 24);
            break;
        case PlacementStyle::SquareLed:
            size = QSizeF(12, 12);
            break;
        case PlacementStyle::None:
            break;
        }
    }
    return QRectF(QPointF(placement.x, placement.y), size);
}

std::vector<WheelSpot> wheelSpots(const ModelEntry &entry)
{
    std::vector<WheelSpot> spots;
    for (const Placement &p : entry.indicators)
        addToSpots(spots, p, false);
    for (const Placement &p : entry.ledButtons)
        addToSpots(spots, p, true);
    for (const Placement &p : entry.extraLedButtons)
        addToSpots(spots, p, true);

    for (WheelSpot &spot : spots) {
        double nearest = std::numeric_limits<double>::max();
        for (const WheelSpot &other : spots) {
            if (&other != &spot)
                nearest = std::min(nearest, QLineF(spot.centre, other.centre).length());
        }
        spot.room = nearest / 2;
    }
    return spots;
}
