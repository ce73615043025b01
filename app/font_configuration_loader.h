#pragma once

#include "app/worker_thread.h"

#include <QStringList>

#include <functional>

// Reading the font configuration while the program starts, so that the form
// finds it read when it lays out its first text.
//
// Two steps. Made on the first line of main, the reader reads fontconfig's
// own configuration (the system's XML files, nine tenths of the work) on a
// thread of its own while the application object connects to the display.
// Once that object exists, fillDatabase fills Qt's font database from the
// configuration, which needs the platform.
//
// Then it has Qt find the fonts that stand in for the application's font and
// for the families the first frame names: for a family the system does not
// have (Arial, on most Linux desktops) or a generic one ("Sans Serif"), Qt
// asks fontconfig to sort every installed font, a third of a millisecond
// each. Qt keeps those lists for the whole program; the fonts themselves it
// keeps per thread, so the window still makes its own.
namespace FontConfiguration {

class Reader
{
public:
    // `first` runs on the reader's thread before the reading, at normal
    // priority; the reading then runs at the lowest.
    explicit Reader(std::function<void()> first);

    // Waits until the configuration is read; one thread at a time.
    void wait() { thread_.join(); }

private:
    WorkerThread thread_;
};

// Needs the application object; runs on any thread, and must end before that
// object goes.
void fillDatabase(Reader &reader, const QStringList &firstFrameFamilies);

} // namespace FontConfiguration
