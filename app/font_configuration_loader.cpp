#include "app/font_configuration_loader.h"

#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>

#include <fontconfig/fontconfig.h>

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
// Should the form need a font before the reader is done (a machine busy
// elsewhere), Qt reads the configuration itself on the GUI thread, and
// fontconfig keeps whichever reading finishes first: a start no slower than
// one without the reader.
namespace FontConfiguration {

// Nothing of Qt's here: the reader runs before the application object, and Qt
// takes for its main thread whichever thread first makes a Qt object.
Reader::Reader() : thread_(WorkerThread::Priority::Lowest, [] { FcInit(); }) {}

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
