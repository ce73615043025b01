#include "device/device_handle.h"
#include "quorctl/commands.h"
#include "quorctl/console.h"
#include "quorctl/exit_codes.h"
#include "quorctl/flash_progress.h"
#include "quorctl/wheel_session.h"
#include "upgrade/dfu_flasher.h"
#include "upgrade/dfu_probe.h"
#include "upgrade/firmware_update.h"

#include <QEventLoop>

namespace {

constexpr int kDone = 100;

struct Ending
{
    int code = 0;
    QString what;
    bool wheelInLoader = false;
};

// Runs the update to its end: the same flow, checks and messages as the
// window's MANUAL UPDATE.
Ending runUpdate(const FirmwareUpdate::Request &request)
{
    FirmwareUpdate update;
    FlashProgress shown(stdoutIsTerminal());
    QEventLoop loop;
    Ending ending;
    QObject::connect(&update, &FirmwareUpdate::progress, &shown, &FlashProgress::onProgress);
    QObject::connect(&update, &FirmwareUpdate::progress, &loop, [&loop](int value) {
        if (value == kDone)
            loop.quit();
    });
    QObject::connect(&update, &FirmwareUpdate::waitingForBootLoader, [] {
        // The wheel is on its way off the HID bus.
        deviceHandle().close();
        printNote(QStringLiteral("waiting for the boot loader..."));
    });
    QObject::connect(&update, &FirmwareUpdate::failed, &loop,
                     [&](int code, const QString &what, bool inLoader) {
                         ending = {code, what, inLoader};
                         loop.quit();
                     });
    // A refused image ends inside start(), before the loop would run.
    update.start(request);
    if (ending.code == 0)
        loop.exec();
    update.worker().waitForFinished();
    return ending;
}

} // namespace

int runFlash(const CommandLine &line)
{
    FirmwareUpdate::Request request;
    request.imagePath = line.file;
    WheelSession session;
    if (const int code = session.open(true)) {
        // A wheel whose update was interrupted waits in its boot loader and
        // is no longer on the HID bus; only --force writes into that loader.
        if (code != ExitNoWheel || !line.force) {
            const QString hint = code == ExitNoWheel && bootLoaderPresent()
                                     ? QStringLiteral("; a boot loader waits for a firmware (an interrupted "
                                                      "update?): quorctl flash --force FILE writes into it")
                                     : QString();
            return reportError(code, session.error() + hint);
        }
        request.route = UpdateRoute::BootLoader;
        request.wheelConnected = false;
    } else {
        request.route = updateRouteFor(session.name());
    }

    const Ending ending = runUpdate(request);
    if (ending.code == FirmwareUpdate::ImageRefused)
        return reportError(ExitBadFile,
                           QStringLiteral("%1: not a valid firmware: %2").arg(line.file, ending.what));
    if (ending.code != 0)
        return reportError(
            ExitDeviceError,
            QStringLiteral("the firmware update failed: %1%2")
                .arg(ending.what, !ending.wheelInLoader ? QString()
                                  : ending.code == DfuNoDevice
                                      ? QStringLiteral("; the wheel may wait in its boot loader: "
                                                       "quorctl flash --force FILE writes into it")
                                      : QStringLiteral("; the wheel waits in its boot loader: run "
                                                       "quorctl flash --force FILE to finish")));
    printLine(QStringLiteral("firmware installed; the wheel restarts"));
    return ExitSuccess;
}
