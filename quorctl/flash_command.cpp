#include "device/device_handle.h"
#include "quorctl/commands.h"
#include "quorctl/console.h"
#include "quorctl/exit_codes.h"
#include "quorctl/flash_progress.h"
#include "quorctl/wheel_session.h"
#include "upgrade/dfu_flasher.h"
#include "upgrade/dfu_probe.h"
#include "upgrade/firmware_update.h"

#include "settings/profile_backup.h"
#include "settings/profile_transfer.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>

#include <memory>

namespace {

constexpr int kDone = 100;

// How long the wheel may take to come back with its new firmware.
constexpr int kWheelBackMs = 20000;
constexpr int kReopenEveryMs = 500;

struct Ending
{
    int code = 0;
    QString what;
    bool wheelInLoader = false;
    std::optional<WheelProfile> settingsBefore;
    QString backupPath;
};

// Runs the update to its end: the same flow, checks and messages as the
// window's MANUAL UPDATE.
Ending runUpdate(const FirmwareUpdate::Request &request)
{
    // Lets a test of a loader that never comes end in a second, not 15.
    if (const int ms = qEnvironmentVariableIntValue("QUORCTL_LOADER_RECHECK_MS"); ms > 0)
        FirmwareUpdate::setLoaderRecheckMs(ms);
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
                         ending.code = code;
                         ending.what = what;
                         ending.wheelInLoader = inLoader;
                         loop.quit();
                     });
    // A refused image ends inside start(), before the loop would run.
    update.start(request);
    if (ending.code == 0)
        loop.exec();
    update.worker().waitForFinished();
    ending.settingsBefore = update.settingsBefore();
    ending.backupPath = update.backupPath();
    return ending;
}

// Once the wheel runs its new firmware: what it stores now against the
// backup, and with --restore-settings the backup put back.
int compareAfterUpdate(const Ending &ending, bool restore)
{
    QDeadlineTimer deadline(kWheelBackMs);
    auto session = std::make_unique<WheelSession>();
    int code = session->open(true);
    while (code == ExitNoWheel && !deadline.hasExpired()) {
        QThread::msleep(kReopenEveryMs);
        session = std::make_unique<WheelSession>();
        code = session->open(true);
    }
    WheelProfile now;
    QString error;
    if (code != 0 || !readWheelProfile(deviceHandle(), now, &error)) {
        printNote(QStringLiteral("the settings could not be compared after the update; the backup is %1")
                      .arg(ending.backupPath));
        return ExitSuccess;
    }
    const QStringList changed = changedSettings(*ending.settingsBefore, now);
    if (changed.isEmpty())
        return ExitSuccess;
    printLine(describeChangedSettings(changed));
    if (!restore) {
        printNote(QStringLiteral("quorctl restore %1 puts them back").arg(ending.backupPath));
        return ExitSuccess;
    }
    if (const int restored = writeAndCheck(roundedToLedLevels(*ending.settingsBefore)))
        return restored;
    printLine(QStringLiteral("settings restored from %1").arg(ending.backupPath));
    return ExitSuccess;
}

} // namespace

int runFlash(const CommandLine &line)
{
    FirmwareUpdate::Request request;
    request.imagePath = line.file;
    auto session = std::make_unique<WheelSession>();
    if (const int code = session->open(true)) {
        // A wheel whose update was interrupted waits in its boot loader and
        // is no longer on the HID bus; only --force writes into that loader.
        if (code != ExitNoWheel || !line.force) {
            const QString hint = code == ExitNoWheel && bootLoaderPresent()
                                     ? QStringLiteral("; a boot loader waits for a firmware (an interrupted "
                                                      "update?): quorctl flash --force FILE writes into it")
                                     : QString();
            return reportError(code, session->error() + hint);
        }
        request.route = UpdateRoute::BootLoader;
        request.wheelConnected = false;
    } else {
        request.route = updateRouteFor(session->name());
    }

    const Ending ending = runUpdate(request);
    session.reset();
    if (ending.code == FirmwareUpdate::NoBackup)
        return reportError(
            ExitDeviceError,
            QStringLiteral("the wheel's settings could not be backed up; nothing was changed"));
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
    return ending.settingsBefore ? compareAfterUpdate(ending, line.restoreSettings) : ExitSuccess;
}
