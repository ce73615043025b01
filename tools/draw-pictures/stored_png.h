#pragma once

#include <QByteArray>
#include <QImage>

// A PNG whose pixels are stored as they are: every row unfiltered, the
// deflate stream made of stored blocks. Four to ten times the size of a
// packed PNG, and decoded by little more than a copy: the program reads
// this shape itself (app/stored_png_reader.h).
QByteArray storedPng(const QImage &image);
