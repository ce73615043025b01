#include "app/font_configuration_loader.h"

#include <QDebug>
#include <QFontDatabase>

#include <fontconfig/fontconfig.h>
#include <sys/resource.h>
#include <unistd.h>

// Reading the font configuration is the largest single cost of a start, and
// the form needs no font until it lays out its first text field. fontconfig
// and Qt's font database are both thread-safe.
//
// The configuration reader runs beside the application object, which waits
// on the display server again and again as it connects; on a two-core
// machine a reader at normal priority took the server's core and made the
// application object 3 ms slower, as much as it saved. At the lowest priority
// it takes only what is left: the application object lost 1 to 1.5 ms, and
// the form found the configuration read. The database filler then runs at
// normal priority, since the form may wait on it.
//
// Should the form need a font before the reader is done (a machine busy
// elsewhere), Qt reads the configuration itself on the GUI thread, and
// fontconfig keeps whichever reading finishes first: a start no slower than
// one without the reader.
FontConfigurationLoader::FontConfigurationLoader()
{
    if (sched_getaffinity(0, sizeof cores_, &cores_) != 0)
        CPU_ZERO(&cores_);
    if (!startElsewhere(configurationReader_, &FontConfigurationLoader::readConfiguration))
        qDebug() << "fonts: no reader thread, Qt reads the configuration itself";
}

FontConfigurationLoader::~FontConfigurationLoader()
{
    for (Thread *thread : {&databaseFiller_, &configurationReader_}) {
        if (thread->running)
            pthread_join(thread->handle, nullptr);
    }
}

void FontConfigurationLoader::fillDatabase()
{
    if (!databaseFiller_.running &&
        !startElsewhere(databaseFiller_, &FontConfigurationLoader::fillQtDatabase))
        qDebug() << "fonts: no loader thread, the window fills the database itself";
}

// Linux queues a new thread on the core of the thread that makes it, and the
// main thread goes straight on: on a two-core machine the thread waited 1 to
// 5 ms for its first turn, about as long as its work. So it is started on any
// other core, and once running it may move anywhere again. A core set aside
// by the system since can refuse that; anywhere then.
bool FontConfigurationLoader::startElsewhere(Thread &thread, void *(*run)(void *))
{
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    cpu_set_t elsewhere = cores_;
    const int here = sched_getcpu();
    if (here >= 0 && CPU_ISSET(here, &elsewhere) && CPU_COUNT(&elsewhere) > 1) {
        CPU_CLR(here, &elsewhere);
        pthread_attr_setaffinity_np(&attributes, sizeof elsewhere, &elsewhere);
    }
    thread.running = pthread_create(&thread.handle, &attributes, run, this) == 0;
    pthread_attr_destroy(&attributes);
    if (!thread.running)
        thread.running = pthread_create(&thread.handle, nullptr, run, this) == 0;
    return thread.running;
}

void FontConfigurationLoader::restoreCores() const
{
    if (CPU_COUNT(&cores_) > 0)
        pthread_setaffinity_np(pthread_self(), sizeof cores_, &cores_);
}

void *FontConfigurationLoader::readConfiguration(void *self)
{
    static_cast<FontConfigurationLoader *>(self)->restoreCores();
    // This thread alone; it ends with the reading.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
    FcInit();
    return nullptr;
}

void *FontConfigurationLoader::fillQtDatabase(void *self)
{
    auto *loader = static_cast<FontConfigurationLoader *>(self);
    loader->restoreCores();
    if (loader->configurationReader_.running) {
        pthread_join(loader->configurationReader_.handle, nullptr);
        loader->configurationReader_.running = false;
    }
    QFontDatabase::families();
    return nullptr;
}
