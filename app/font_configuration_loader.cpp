#include "app/font_configuration_loader.h"

#include <QDebug>
#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>

#include <fontconfig/fontconfig.h>
#include <sys/resource.h>
#include <unistd.h>

// Reading the font configuration is the largest single cost of a start, and
// the form needs no font until it lays out its first text field. fontconfig
// and Qt's font database are both thread-safe.
//
// The reader runs beside the application object, which waits on the display
// server again and again as it connects; on a two-core machine a reader at
// normal priority took the server's core and made the application object
// 3 ms slower, as much as it saved. At the lowest priority it takes only what
// is left: the application object lost 1 to 1.5 ms, and the form found the
// configuration read. The filler runs at normal priority, since the form may
// wait on it.
//
// Should the form need a font before the reader is done (a machine busy
// elsewhere), Qt reads the configuration itself on the GUI thread, and
// fontconfig keeps whichever reading finishes first: a start no slower than
// one without the reader.
namespace FontConfiguration {

namespace {

// Linux queues a new thread on the core of the thread that makes it, and the
// main thread goes straight on: on a two-core machine the thread waited 1 to
// 5 ms for its first turn, about as long as its work. So it is started on any
// other core, and once running it may move anywhere again (restoreCores). A
// core set aside by the system since can refuse that; anywhere then.
bool startElsewhere(Thread &thread, const cpu_set_t &cores, void *(*run)(void *), void *argument)
{
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    cpu_set_t elsewhere = cores;
    const int here = sched_getcpu();
    if (here >= 0 && CPU_ISSET(here, &elsewhere) && CPU_COUNT(&elsewhere) > 1) {
        CPU_CLR(here, &elsewhere);
        pthread_attr_setaffinity_np(&attributes, sizeof elsewhere, &elsewhere);
    }
    thread.running = pthread_create(&thread.handle, &attributes, run, argument) == 0;
    pthread_attr_destroy(&attributes);
    if (!thread.running)
        thread.running = pthread_create(&thread.handle, nullptr, run, argument) == 0;
    return thread.running;
}

void restoreCores(const cpu_set_t &cores)
{
    if (CPU_COUNT(&cores) > 0)
        pthread_setaffinity_np(pthread_self(), sizeof cores, &cores);
}

void join(Thread &thread)
{
    if (thread.running)
        pthread_join(thread.handle, nullptr);
    thread.running = false;
}

} // namespace

Reader::Reader()
{
    if (sched_getaffinity(0, sizeof cores_, &cores_) != 0)
        CPU_ZERO(&cores_);
    if (!startElsewhere(thread_, cores_, &Reader::run, this))
        qDebug() << "fonts: no reader thread, Qt reads the configuration itself";
}

// Joined here only when no filler did.
Reader::~Reader()
{
    join(thread_);
}

// Nothing of Qt's here: this thread runs before the application object, and
// Qt takes for its main thread whichever thread first makes a Qt object.
void *Reader::run(void *self)
{
    restoreCores(static_cast<Reader *>(self)->cores_);
    // This thread alone; it ends with the reading.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
    FcInit();
    return nullptr;
}

Filler::Filler(Reader &reader, QStringList firstFrameFamilies)
    : reader_(reader), firstFrameFamilies_(std::move(firstFrameFamilies))
{
    if (!startElsewhere(thread_, reader_.cores_, &Filler::run, this))
        qDebug() << "fonts: no filler thread, the window fills the database itself";
}

Filler::~Filler()
{
    join(thread_);
}

void *Filler::run(void *self)
{
    const Filler &filler = *static_cast<Filler *>(self);
    restoreCores(filler.reader_.cores_);
    join(filler.reader_.thread_);
    QFontDatabase::families();
    // The application's font first: the form's first text field wants it.
    QFontInfo(QFont()).family();
    for (const QString &family : filler.firstFrameFamilies_)
        QFontInfo(QFont(family)).family();
    return nullptr;
}

} // namespace FontConfiguration
