#pragma once

#include <QtGlobal>

// The narrowest travel a clutch calibration may store, in raw counts of the
// paddle's 0..4096 scale: an eighth of it. A paddle pulled through its travel
// spans well over half the scale, while one left alone wanders by a few dozen
// counts; a range narrower than this comes from a paddle that was hardly
// moved, and stored it would make the clutch jump from released to fully
// pressed within a hair of travel.
constexpr quint32 kMinimumClutchTravel = 512;

// Whether a calibration's extremes make a range worth storing: an empty
// range (the minimum still above the maximum because no reading came in), an
// inverted or a too narrow one is not.
constexpr bool isUsableClutchRange(quint32 min, quint32 max)
{
    return min < max && max - min >= kMinimumClutchTravel;
}
