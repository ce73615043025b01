#include "upgrade/firmware_update.h"

#include "device/command_report.h"
#include "device/device_handle.h"
#include "settings/profile_backup.h"
#include "settings/profile_transfer.h"
#include "upgrade/dfu_flasher.h"

#include <QDebug>

namespace {

// The boot loader enumerates a few seconds after the reboot command; one
// look at once and 30 more, the last about 15 s after it.
constexpr int kDfuReChecks = 30;
int dfuReCheckMs = 500;
constexpr int kDone = 100;

QString severalLoaders(size_t count)
{
    return QStringLiteral("%1 USB DFU devices (0483:df11) are connected and the wheel's cannot be told apart "
                          "from the others; unplug every other board in DFU mode")
        .arg(count);
}

} // namespace

FirmwareUpdate::FirmwareUpdate(QObject *parent) : QObject(parent)
{
    recheck.setSingleShot(true);
    recheck.setInterval(dfuReCheckMs);
    connect(&recheck, SIGNAL(timeout()), this, SLOT(waitForDfuAndStart()));
    connect(&upgradeWorker, SIGNAL(progress(int)), this, SLOT(onWorkerProgress(int)));
    connect(&upgradeWorker, SIGNAL(failed(int, QString)), this, SLOT(onWorkerFailed(int, QString)));
}

FirmwareUpdate::~FirmwareUpdate()
{
    upgradeWorker.cancel();
    upgradeWorker.waitForFinished();
}

void FirmwareUpdate::setLoaderRecheckMs(int ms)
{
    dfuReCheckMs = ms;
}

bool FirmwareUpdate::busy()
{
    return active || upgradeWorker.busy();
}

void FirmwareUpdate::start(const Request &next)
{
    if (busy()) {
        qDebug() << "Update already in progress; new start ignored";
        return;
    }
    request = next;
    active = true;
    const QString refusal = firmwareImageRefusal(request.imagePath, request.route, request.downloaded);
    if (!refusal.isEmpty()) {
        qDebug() << "Image refused:" << request.imagePath << refusal;
        request.route = UpdateRoute::HidStream; // nothing was sent: the wheel stays as it was
        end(ImageRefused, refusal);
        return;
    }
    if (!backUpSettings()) {
        request.route = UpdateRoute::HidStream;
        end(NoBackup, QStringLiteral("the wheel's settings could not be backed up"));
        return;
    }
    if (request.route == UpdateRoute::HidStream) {
        startWorker(QuorUpgrade::HidTransfer, {});
        return;
    }
    if (!request.wheelConnected) {
        const std::vector<UsbLocation> loaders = bootLoadersOnBus();
        if (loaders.size() == 1)
            startDfuUpgrade(loaders.front());
        else if (loaders.empty())
            end(DfuNoDevice, QStringLiteral("no boot loader is on the bus"));
        else
            end(SeveralBootLoaders, severalLoaders(loaders.size()));
        return;
    }
    // Only a loader that appears after the reboot can be the wheel's.
    loadersBefore = bootLoadersOnBus();
    const CommandReport reboot = makeReboot();
    if (deviceHandle().sendFeatureReport(reboot.data(), kCommandSendLength) < 0) {
        request.route = UpdateRoute::HidStream;
        end(RebootRefused, QStringLiteral("the wheel did not take the reboot command"));
        return;
    }
    emit waitingForBootLoader();
    dfuWaitTries = kDfuReChecks;
    waitForDfuAndStart();
}

// A new firmware may come up with the wheel's settings reset: what it stores
// now is kept where the user can get it back.
bool FirmwareUpdate::backUpSettings()
{
    backup.reset();
    backupFile.clear();
    if (!request.wheelConnected)
        return true; // a wheel in its boot loader has nothing to read
    WheelProfile current;
    QString why;
    if (readWheelProfile(deviceHandle(), current, &why)) {
        backupFile = storeBackup(current, &why);
        if (!backupFile.isEmpty()) {
            qDebug() << "Settings backed up to" << backupFile;
            backup = current;
            return true;
        }
    }
    qDebug() << "No backup before the update:" << why;
    return request.continueWithoutBackup && request.continueWithoutBackup(why);
}

void FirmwareUpdate::waitForDfuAndStart()
{
    const std::vector<UsbLocation> appeared = newLoaders(loadersBefore, bootLoadersOnBus());
    if (appeared.size() == 1) {
        qDebug() << "Boot loader on the bus; re-checks left:" << dfuWaitTries;
        startDfuUpgrade(appeared.front());
        return;
    }
    if (appeared.size() > 1) {
        end(SeveralBootLoaders, severalLoaders(appeared.size()));
        return;
    }
    qDebug() << "No boot loader yet; re-checks left:" << dfuWaitTries;
    if (dfuWaitTries-- > 0) {
        recheck.start();
        return;
    }
    end(DfuNoDevice, QStringLiteral("the boot loader did not appear"));
}

void FirmwareUpdate::startDfuUpgrade(const UsbLocation &loader)
{
    // The image may have changed or gone while the wheel was rebooting.
    const QString refusal = firmwareImageRefusal(request.imagePath, request.route, request.downloaded);
    if (!refusal.isEmpty()) {
        end(ImageRefused, refusal);
        return;
    }
    startWorker(QuorUpgrade::Dfu, loader);
}

void FirmwareUpdate::startWorker(int mode, const UsbLocation &loader)
{
    upgradeWorker.setFilePath(request.imagePath);
    upgradeWorker.setMode(mode);
    upgradeWorker.setLoader(loader);
    upgradeWorker.setRemoveAfterSuccess(request.downloaded);
    upgradeWorker.start(QThread::InheritPriority);
}

bool FirmwareUpdate::cancel(int waitMs)
{
    if (recheck.isActive()) {
        recheck.stop();
        end(DfuCancelled, QStringLiteral("the update was stopped"));
    }
    upgradeWorker.cancel();
    return upgradeWorker.waitForFinished(waitMs);
}

void FirmwareUpdate::onWorkerProgress(int value)
{
    if (value == kDone)
        active = false;
    emit progress(value);
}

void FirmwareUpdate::onWorkerFailed(int code, const QString &what)
{
    end(code, what);
}

void FirmwareUpdate::end(int code, const QString &what)
{
    active = false;
    qDebug() << "Update failed with" << code << what;
    emit failed(code, what, rebooted());
}
