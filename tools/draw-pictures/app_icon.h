#pragma once

#include <QByteArray>
#include <QImage>

// The launcher icon: the maker's mark (the steering wheel whose rim and tail
// make a Q, as in logo.png) on the dark rounded tile of the tray icon. The
// bitmaps and the scalable SVG are drawn from one list of shapes, so every
// size shows the same picture.

// The icon as a square bitmap of size x size pixels.
QImage drawAppIcon(int size);

// The same icon as an SVG document with a 128 x 128 view box.
QByteArray appIconSvg();
