#pragma once

#include <QString>

class QColor;
class QWidget;

// What a screen reader says of the window's controls. Most of them carry no
// text (the dots on the wheel's picture, the colour buttons, the window
// buttons, bars and sliders), so they would all be announced as "button" or
// "slider" without the names given here. Names and descriptions are plain
// widget properties; the window is found by object name, like everywhere.
namespace AccessibleNames {

// The controls whose meaning never changes: window buttons, indicators,
// preset colours, bars, sliders, the path field, the pictures. Once, after
// the form is built.
void nameFixedControls(QWidget *window);

// The LED buttons after a model's layout, each named by the wheel button it
// sits on (the indicator at the same place on the model's picture) or, for
// lights that are no button's, by its place in its row.
void nameLedButtons(QWidget *window, const QString &deviceName);

// The colour an LED button shows, as words: its picture's whole meaning.
void describeLedColour(QWidget *button, const QColor &colour);

// The connection dot: red while no wheel is found.
void nameStatusDot(QWidget *dot, bool connected);

} // namespace AccessibleNames
