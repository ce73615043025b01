#pragma once

#include <QStringList>

#include <pthread.h>
#include <sched.h>

// Reading the font configuration while the program starts, so that the form
// finds it read when it lays out its first text.
//
// Two steps, on two threads. Made on the first line of main, the reader reads
// fontconfig's own configuration (the system's XML files, nine tenths of the
// work) while the application object connects to the display. Made once that
// object exists, the filler waits for the reader and fills Qt's font database
// from the configuration, which needs the platform; it must go before the
// application object does.
//
// Then the filler has Qt find the fonts that stand in for the application's
// font and for the families the first frame names: for a family the system
// does not have (Arial, on most Linux desktops) or a generic one ("Sans
// Serif"), Qt asks fontconfig to sort every installed font, a third of a
// millisecond each. Qt keeps those lists for the whole program; the fonts
// themselves it keeps per thread, so the window still makes its own.
namespace FontConfiguration {

struct Thread
{
    pthread_t handle{};
    bool running = false;
};

class Reader
{
public:
    Reader();
    ~Reader();
    Reader(const Reader &) = delete;
    Reader &operator=(const Reader &) = delete;

private:
    friend class Filler;
    static void *run(void *self);

    cpu_set_t cores_;
    Thread thread_;
};

class Filler
{
public:
    Filler(Reader &reader, QStringList firstFrameFamilies);
    ~Filler();
    Filler(const Filler &) = delete;
    Filler &operator=(const Filler &) = delete;

private:
    static void *run(void *self);

    Reader &reader_;
    const QStringList firstFrameFamilies_;
    Thread thread_;
};

} // namespace FontConfiguration
