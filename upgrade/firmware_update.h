#pragma once

#include "settings/wheel_profile.h"
#include "upgrade/dfu_probe.h"
#include "upgrade/firmware_file.h"
#include "upgrade/quor_upgrade.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <optional>
#include <vector>

// One firmware update, from the image's checks to the wheel running it:
// check the image, back the wheel's settings up, reboot the wheel into its boot loader when its route
// takes one, wait for that loader to appear, flash, leave, report. The
// window's file and online routes and quorctl all go through it.
//
// progress(int) carries only progress (0..100, as QuorUpgrade's, 100 being
// done); every other ending is failed(code, what, wheelInBootLoader):
//   ImageRefused        the image failed a check; nothing reached the wheel
//   DfuNoDevice         no boot loader appeared after the reboot (or none is
//                       waiting when asked to flash one)
//   SeveralBootLoaders  more than one 0483:df11 device could be the wheel's
//   RebootRefused       the wheel did not take the reboot command
//   NoBackup            the settings could not be backed up and the caller
//                       would not go on without; nothing was changed
//   others              the worker's and the flasher's codes
// `what` says what failed and where; wheelInBootLoader tells whether the
// wheel now waits in its boot loader for another try.
class FirmwareUpdate : public QObject
{
    Q_OBJECT

public:
    enum Failure
    {
        ImageRefused = -140,
        SeveralBootLoaders = -141,
        RebootRefused = -142,
        NoBackup = -143,
    };

    struct Request
    {
        QString imagePath;
        UpdateRoute route = UpdateRoute::HidStream;
        // The program's own download: removed once it is in the wheel, and
        // the boot loader takes it beyond the HID link's size.
        bool downloaded = false;
        // False when no wheel is on the HID bus because it already waits in
        // its boot loader (an update was interrupted): that loader is flashed
        // directly, provided it is the only one.
        bool wheelConnected = true;
        // Asked when the wheel's settings cannot be read or stored before
        // the update (with why); true goes on without a backup. Unset: no.
        std::function<bool(const QString &why)> continueWithoutBackup;
    };

    explicit FirmwareUpdate(QObject *parent = nullptr);
    // Stops a running update and waits for its worker.
    ~FirmwareUpdate() override;

    // Ignored while an update runs. A refused image ends here, at once.
    void start(const Request &request);
    bool busy();
    // Ends a running update as soon as it can (failed with DfuCancelled);
    // true when it has ended within waitMs.
    bool cancel(int waitMs);

    // For tests: the pause between looks for the boot loader, for every
    // update object made from then on, and the worker's own steps.
    static void setLoaderRecheckMs(int ms);
    QuorUpgrade &worker() { return upgradeWorker; }

    // The wheel's settings as they were before the last update started, and
    // where they were stored; none when no backup was taken.
    const std::optional<WheelProfile> &settingsBefore() const { return backup; }
    const QString &backupPath() const { return backupFile; }

signals:
    // The wheel was told to reboot; the loader is awaited.
    void waitingForBootLoader();
    void progress(int value);
    void failed(int code, const QString &what, bool wheelInBootLoader);

private slots:
    void waitForDfuAndStart();
    void onWorkerProgress(int value);
    void onWorkerFailed(int code, const QString &what);

private:
    void startDfuUpgrade(const UsbLocation &loader);
    void startWorker(int mode, const UsbLocation &loader);
    void end(int code, const QString &what);
    // False when the update must not go on.
    bool backUpSettings();
    bool rebooted() const { return request.route == UpdateRoute::BootLoader; }

    Request request;
    bool active = false;
    int dfuWaitTries = 0;
    std::vector<UsbLocation> loadersBefore;
    std::optional<WheelProfile> backup;
    QString backupFile;
    QTimer recheck;
    QuorUpgrade upgradeWorker;
};
