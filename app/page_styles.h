#pragma once

#include <QString>

class QStackedWidget;

// Each page of the window draws itself with a style sheet of its own
// (resources/style/<page>.qss), which a page gets only when it first comes
// on screen.
//
// A style sheet makes Qt work out the rules of every widget below the widget
// that holds it, and the pages hold most of the window's widgets. Given at
// construction, as the form would, that work was the larger part of the
// start-up, for four pages nobody sees while the window waits for a wheel.
// The frame's widgets, the LED buttons (whose sheets hold their colours) and
// the model pictures keep their sheets in the form.
namespace PageStyles {

// Styles the page the window shows first when the window is exposed, and any
// other page as it is shown afterwards; a page shown while the window is
// hidden waits until the window is exposed again.
void applyOnFirstShow(QStackedWidget *pages);

// The style sheet of a page, by its object name; empty where it has none.
QString sheetFor(const QString &pageName);

} // namespace PageStyles
