#include "app/font_configuration_loader.h"

#include <QDebug>
#include <QFontDatabase>

// Reading the font configuration is the largest single cost of a start, and
// the form needs no font until it lays out its first text field; on a second
// core much of it is done by then. The database is thread-safe.
//
// Linux queues a new thread on the core of the thread that makes it, and the
// main thread goes straight on building the window: on a two-core machine the
// loader waited 1 to 5 ms for its first turn, about as long as the read
// itself. So it is started on any other core, and once running it may move
// anywhere again.
FontConfigurationLoader::FontConfigurationLoader()
{
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    if (sched_getaffinity(0, sizeof cores_, &cores_) == 0) {
        cpu_set_t elsewhere = cores_;
        const int here = sched_getcpu();
        if (here >= 0 && CPU_ISSET(here, &elsewhere) && CPU_COUNT(&elsewhere) > 1) {
            CPU_CLR(here, &elsewhere);
            pthread_attr_setaffinity_np(&attributes, sizeof elsewhere, &elsewhere);
        }
    } else {
        CPU_ZERO(&cores_);
    }
    running_ = pthread_create(&thread_, &attributes, &FontConfigurationLoader::run, this) == 0;
    pthread_attr_destroy(&attributes);
    // A core set aside by the system since can refuse the thread; anywhere
    // then.
    if (!running_)
        running_ = pthread_create(&thread_, nullptr, &FontConfigurationLoader::run, this) == 0;
    if (!running_)
        qDebug() << "fonts: no loader thread, the window reads the configuration itself";
}

FontConfigurationLoader::~FontConfigurationLoader()
{
    if (running_)
        pthread_join(thread_, nullptr);
}

void *FontConfigurationLoader::run(void *self)
{
    const cpu_set_t &cores = static_cast<FontConfigurationLoader *>(self)->cores_;
    if (CPU_COUNT(&cores) > 0)
        pthread_setaffinity_np(pthread_self(), sizeof cores, &cores);
    QFontDatabase::families();
    return nullptr;
}
