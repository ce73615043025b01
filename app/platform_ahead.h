#pragma once

#include <QByteArray>
#include <QList>

#include <functional>

// Loading Qt's X11 platform plugin ahead, on the font configuration reader's
// thread before it reads, so that the application object finds it loaded.
//
// The application object loads its platform early in its construction: for
// X11, Qt's xcb plugin and the twenty libraries it needs, mapped and
// relocated while the GUI thread waits. Loaded first on the reader's thread,
// from the first line of main, it is in the process by the time the
// application object asks for it, and the reader reads the font configuration
// after the loading rather than beside it (see font_configuration_loader.cpp).
// Measured on Xvfb, over 100 runs of the start-up benchmark alternating with
// the program before this: the first frame came 0.078 of the bare window's
// start sooner, and the median ratio went from 1.53 to 1.45.
//
// Only the plugin Qt is certain to take is loaded: on another platform, or
// with a plugin folder of the user's own, Qt might take a different one, and
// a wrong guess would cost the start the loading for nothing.
namespace PlatformAhead {

// A variable of the start's environment by name; a function, so that tests
// can give one.
using Environment = std::function<QByteArray(const char *name)>;

// Whether Qt will start on its xcb platform, taken from its own plugin
// folder. Decided as Qt decides: the -platform argument over QT_QPA_PLATFORM
// over Qt's default on Linux, xcb; of a list ("xcb;wayland") the first name
// counts, without its options ("xcb:option"). A Wayland desktop session
// (XDG_SESSION_TYPE) or a plugin folder set by the user (QT_PLUGIN_PATH,
// QT_QPA_PLATFORM_PLUGIN_PATH, -platformpluginpath) is left to Qt.
bool startsOnXcb(const QList<QByteArray> &arguments, const Environment &environment);

// What loads the xcb plugin when the program starts on it, for another
// thread to run; empty otherwise. Made on the main thread before the
// application object; the work itself touches nothing of Qt's.
std::function<void()> loader(int argc, char **argv);

} // namespace PlatformAhead
