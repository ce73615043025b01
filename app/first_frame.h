#pragma once

#include <functional>

class QWidget;

// Runs work that the window's first frame does not show once that frame is
// on the screen, rather than before it.
//
// Work posted from the constructor (a zero timer) runs in the first turn of
// the event loop, which comes before the window is exposed and painted: the
// wheel scan there put half a millisecond between the window being shown and
// its first frame.
namespace FirstFrame {

// Calls `work` once, after the first paint of `window` has been flushed. A
// window that is not visible when the event loop first turns has no frame to
// wait for, and a shown window that the desktop keeps covered is never
// painted: in both cases `work` runs without it, the latter after
// `patienceMs`.
void then(QWidget *window, std::function<void()> work, int patienceMs = 250);

} // namespace FirstFrame
