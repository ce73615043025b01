#pragma once

#include <QColor>
#include <QString>

// An LED button's colour lives in its style sheet and nowhere else: the first
// rgb clause of the sheet ("rgb(r,g,b);" inside "background-color:"). These
// work on the sheet text; the window reads and writes the sheets.

// Replaces the sheet's first rgb clause by the colour's "rgb(%d,%d,%d);",
// placed right after the first "color:" of what remains. In the LED looks
// that is the "color:" of "background-color:", so the clause takes the old
// one's place and only the first "color:" ever changes. A sheet without any
// "color:" is left alone.
void setButtonColour(QString &styleSheet, const QColor &colour);

// The colour in the sheet's first "rgb(...)", its channels permuted by the
// ChannelOrder code (0 returns it as shown, other codes as the frame takes
// it). Non-numbers read as 0; a channel outside 0..255, or a sheet without an
// "rgb(", gives an invalid colour.
QColor buttonColour(const QString &styleSheet, int order);
