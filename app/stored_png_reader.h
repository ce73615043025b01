#pragma once

#include <QByteArrayView>
#include <QImage>

// Reads a picture in the shape draw-pictures stores the window's pictures in
// (tools/draw-pictures/stored_png.h): 8-bit RGB or RGBA, not interlaced, one
// IDAT whose deflate stream is made of stored blocks, every row unfiltered,
// and no chunk besides IHDR, IDAT and IEND. Reading that is copying rows.
//
// Qt's decoder reads such a file as any other: it runs a CRC over every
// chunk and an Adler-32 over the stream, inflates the stored blocks and
// expands every row. For the seven pictures of the first frame that was 8 %
// of the instructions the GUI thread runs before it; this takes under a third
// of that. The pictures are compiled into the program, so the checksums
// guard against nothing here.
//
// Anything of another shape gives a null image, for Qt's decoder to read.
QImage readStoredPng(QByteArrayView png);

// The eight bytes every PNG file starts with.
inline constexpr QByteArrayView kPngSignature("\x89PNG\r\n\x1a\n", 8);
