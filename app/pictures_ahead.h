#pragma once

#include <QImage>
#include <QString>

// The first frame's pictures, read on another thread while the window builds
// its form.
//
// A style sheet reads its pictures as Qt styles its widget, on the GUI thread:
// the frame's as the window is shown, the ABOUT page's when the window is
// first exposed, half a millisecond of the start in all. The pictures the
// first frame shows are the ones the program keeps stored rather than packed
// (tools/draw-pictures), which take no decoder and no GUI thread to read; the
// reader of the program's pictures (resource_png_plugin.h) then takes each
// from here instead of reading it.
namespace PicturesAhead {

// Reads every stored picture under ":/img" that nobody has asked for yet,
// after having Qt list its image plugins (which it would otherwise do as it
// reads the first picture). Any thread.
void readStored();

// The picture read ahead for the resource `path`, once. A null image when
// there is none: the caller then reads the picture itself, and a reading of
// it still under way here is dropped rather than kept.
QImage take(const QString &path);

} // namespace PicturesAhead
