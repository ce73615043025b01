#pragma once

#include <QByteArray>
#include <QImage>

// A PNG whose pixels are stored as they are: every row unfiltered, the
// deflate stream made of stored blocks. Four to ten times the size of a
// packed PNG, and decoded by little more than a copy.
QByteArray storedPng(const QImage &image);
