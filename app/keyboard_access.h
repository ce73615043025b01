#pragma once

class QWidget;

// The window without a mouse: Tab walks the header's buttons, the sidebar
// and then the controls of the page shown, in reading order; Enter and Return
// press the focused button as Space does (a push button outside a dialog
// takes only Space on its own); a ring shows where Tab went.
namespace KeyboardAccess {

// Once, after the form is built: Enter and Return for every button, and the
// focus ring.
void install(QWidget *window);

// The Tab chain in reading order, from where the widgets stand now; again
// after every model layout, which moves them.
void orderTabs(QWidget *window);

} // namespace KeyboardAccess
