#include "app/font_configuration_loader.h"
#include "app/mainwindow.h"
#include "app/pictures_ahead.h"
#include "app/platform_ahead.h"
#include "app/single_instance.h"
#include "app/worker_thread.h"

#include <QApplication>
#include <QtPlugin>

Q_IMPORT_PLUGIN(ResourcePngPlugin)

int main(int argc, char *argv[])
{
    // On one thread beside the application object: the platform plugin it is
    // about to load, then the font configuration (see both headers).
    FontConfiguration::Reader fontReader(PlatformAhead::loader(argc, argv));
    QApplication app(argc, argv);
    // What the first frame needs that another thread can make ready while
    // the window builds its form: the fonts (the sidebar and the ABOUT page
    // ask for Arial), then the pictures. Gone before the application object,
    // as the font database it fills. Unlike the reader it does not lower its
    // priority: at the lowest, showing and painting the window, which use
    // what it makes, took about 0.4 and 0.5 ms longer, and the first frame
    // came 3 % later (twelve alternating starts each).
    const WorkerThread firstFrameAhead([&fontReader] {
        FontConfiguration::fillDatabase(fontReader, {QStringLiteral("Arial")});
        PicturesAhead::readStored();
    });
    QGuiApplication::setDesktopFileName(QStringLiteral(QUORSET_APP_ID)); // the launcher's name (packaging/)
    // Held until main returns, after the window is gone.
    const SingleInstance::Start start = SingleInstance::claimOrHandOver();
    if (start.handedOver)
        return SingleInstance::refusedStartExitCode;

    // The window draws its own header and has itself moved (see MainWindow's
    // mouse handlers), so it wants no native frame at all. Given at
    // construction: setWindowFlags on the finished window would re-apply
    // every style sheet of the form, a third of the start-up.
    MainWindow window(nullptr, Qt::FramelessWindowHint);
    window.show();
    return app.exec();
}
