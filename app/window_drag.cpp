#include "app/window_drag.h"

namespace WindowDrag {

namespace {
constexpr int firstBandRow = 1;
constexpr int lastBandRow = 49;
} // namespace

bool inDragBand(qreal globalY, int windowTop)
{
    // Truncation toward zero: a press a fraction of a pixel above the top
    // edge lands on row 0 and stays outside the band.
    const int row = static_cast<int>(globalY - windowTop);
    return row >= firstBandRow && row <= lastBandRow;
}

} // namespace WindowDrag
