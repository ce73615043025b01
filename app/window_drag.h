#pragma once

#include <QPointF>

// The window has no native frame, so it moves itself while the left button is
// held on the band just below its top edge.
namespace WindowDrag {

// Anchor value while no drag is in progress.
inline constexpr QPointF idleAnchor{2147483647.0, 2147483647.0};

// True when a press at global height globalY starts a drag of a window whose
// top edge is at windowTop: rows 1 to 49 below the first row.
bool inDragBand(qreal globalY, int windowTop);

// QPointF equality is fuzzy, which is what the sentinel comparison needs:
// anchors travel through floating-point event positions.
inline bool isIdle(const QPointF &anchor)
{
    return anchor == idleAnchor;
}

} // namespace WindowDrag
