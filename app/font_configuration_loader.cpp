#include "app/font_configuration_loader.h"

#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>

#include <fontconfig/fontconfig.h>

#include <utility>

// Reading the font configuration is the largest single cost of a start, and
// the form needs no font until it lays out its first text field. fontconfig
// and Qt's font database are both thread-safe.
//
// The reader runs beside the application object, which waits on the display
// server again and again as it connects; on a two-core machine a reader at
// normal priority took the server's core and made the application object
// 3 ms slower, as much as it saved. At the lowest priority it takes only what
// is left: the application object lost 1 to 1.5 ms, and the form found the
// configuration read. Linux's idle scheduling class did no better (thirty
// alternating starts each), nor did the reader on the GUI thread's own core.
//
// Nor should it read while the application object loads its platform
// plugin: each change that loading makes to the process's memory map then has
// to interrupt the reader's core as well (profiles show the GUI thread
// waiting on those TLB flushes). Reading 2 ms later, or after loading that
// plugin itself (the `first` step main gives it, see platform_ahead.h),
// brought the first frame 0.06 of the bare window's start sooner (twelve
// alternating starts each). Reading only once the application object had
// loaded the plugin and connected to the display put it 0.10 later.
//
// Should the form need a font before the reader is done (a machine busy
// elsewhere), Qt reads the configuration itself on the GUI thread, and
// fontconfig keeps whichever reading finishes first: a start no slower than
// one without the reader.
namespace FontConfiguration {

// Nothing here makes a Qt object (loading the platform plugin's library makes
// none either): the reader runs before the application object, and Qt takes
// for its main thread whichever thread first makes one.
Reader::Reader(std::function<void()> first)
    : thread_([first = std::move(first)] {
          if (first)
              first();
          WorkerThread::lowerPriority();
          FcInit();
      })
{}

void fillDatabase(Reader &reader, const QStringList &firstFrameFamilies)
{
    reader.wait();
    QFontDatabase::families();
    // The application's font first: the form's first text field wants it.
    QFontInfo(QFont()).family();
    for (const QString &family : firstFrameFamilies)
        QFontInfo(QFont(family)).family();
}

} // namespace FontConfiguration
