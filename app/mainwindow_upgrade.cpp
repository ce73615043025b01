// The firmware page's update from an image file: checks, the reboot into the
// boot loader, the wait for it, and the worker's progress.
#include "app/mainwindow.h"

#include "app/user_prompts.h"
#include "device/command_report.h"
#include "device/device_handle.h"
#include "ui_mainwindow.h"
#include "upgrade/dfu_probe.h"
#include "upgrade/firmware_file.h"

#include <QDebug>
#include <QTimer>

namespace {

// The boot loader enumerates a few seconds after the reboot command; the
// last re-check comes about 15 s after it.
constexpr qint32 kDfuReChecks = 30;
constexpr int kDfuReCheckMs = 500;
// The wheel needs a moment after the update before it answers again.
constexpr int kScanAfterUpdateMs = 3000;

constexpr int kLastUploadValue = 96;
constexpr int kDone = 100;

} // namespace

void MainWindow::connectUpgradeWidgets()
{
    connect(ui->pbPath, SIGNAL(clicked(bool)), this, SLOT(onShowPath()));
    connect(ui->pbUpgrade, SIGNAL(clicked(bool)), this, SLOT(onUpgrade()));
    connect(&upgradeWorker, SIGNAL(progress(int)), this, SLOT(onProgress(int)));
}

// A run ends by itself (at worst the boot loader's attempts and a full
// flash), and a thread still running must not lose its object.
void MainWindow::waitForUpgradeWorker()
{
    upgradeWorker.waitForFinished();
}

void MainWindow::onShowPath()
{
    const QString path =
        UserPrompts::openFileName(nullptr, QString(), QString(), tr("Firmware File (*.bin);;"));
    if (!path.isEmpty())
        ui->lePath->setText(path);
}

void MainWindow::onUpgrade()
{
    // One update at a time: a second start would reboot a wheel that is
    // already on its way into the boot loader, or change the worker's file
    // under a running transfer.
    if (upgradeBusy || upgradeWorker.busy()) {
        qDebug() << "Update already in progress; MANUAL UPDATE ignored";
        return;
    }
    const QString path = ui->lePath->text();
    if (path.startsWith(QLatin1String("https://"), Qt::CaseSensitive)) {
        QTimer::singleShot(0, this, SLOT(onNetUpgrade()));
        return;
    }
    if (!acceptableFirmwarePath(path)) {
        UserPrompts::critical(this, tr("Error"), tr("Not a valid firmware."));
        return;
    }
    if (deviceName.contains(QLatin1String("PELIX"), Qt::CaseSensitive)) {
        // The wheel drops off the HID bus on its way into the boot loader;
        // the busy flag keeps that from starting a device search.
        upgradeBusy = 1;
        const CommandReport reboot = makeReboot();
        deviceHandle().sendFeatureReport(reboot.data(), kCommandSendLength);
        ui->lbUpgrade->setText(tr("Waiting for DFU..."));
        ui->lbUpgrade->show();
        ui->pgUpgrade->setValue(0);
        ui->pgUpgrade->show();
        dfuWaitTries = kDfuReChecks;
        waitForDfuAndStart();
        return;
    }
    upgradeWorker.setFilePath(path);
    upgradeWorker.setMode(QuorUpgrade::HidTransfer);
    upgradeWorker.start(QThread::InheritPriority);
}

void MainWindow::waitForDfuAndStart()
{
    if (bootLoaderPresent()) {
        qDebug() << "Boot loader on the bus; re-checks left:" << dfuWaitTries;
        startDfuUpgrade();
        return;
    }
    qDebug() << "No boot loader yet; re-checks left:" << dfuWaitTries;
    if (dfuWaitTries-- > 0) {
        QTimer::singleShot(kDfuReCheckMs, this, SLOT(waitForDfuAndStart()));
        return;
    }
    UserPrompts::critical(this, tr("Error"),
                          tr("DFU device not detected. Please ensure the device is in DFU mode."));
    upgradeBusy = 0;
    resetUpgradeUi();
}

void MainWindow::startDfuUpgrade()
{
    // The image may have gone while the wheel was rebooting.
    const QString path = ui->lePath->text();
    if (upgradeWorker.busy()) {
        // Its own end clears the busy flag; its file must not change under it.
        qDebug() << "Update already running; boot loader left to it";
        return;
    }
    if (!firmwareStillThere(path)) {
        UserPrompts::critical(this, tr("Error"), tr("Not a valid firmware."));
        upgradeBusy = 0;
        resetUpgradeUi();
        return;
    }
    upgradeWorker.setFilePath(path);
    upgradeWorker.setMode(QuorUpgrade::Dfu);
    upgradeWorker.start(QThread::InheritPriority);
}

void MainWindow::onProgress(int value)
{
    if (value == kDone) {
        upgradeBusy = 0;
        resetUpgradeUi();
        UserPrompts::information(this, tr("Notify"), tr("Firmware updated successfully. Reboot the device."));
        // Armed only once the box is closed: the user may keep it open
        // longer than the wheel takes to restart.
        QTimer::singleShot(kScanAfterUpdateMs, Qt::CoarseTimer, this, SLOT(onInit()));
        return;
    }
    if (value > kDone)
        return;
    if (value < 0) {
        // A failure code: the bar keeps the share reached, and the update
        // can be started again.
        upgradeBusy = 0;
        ui->lbUpgrade->setText(tr("Uploading ..."));
    } else {
        ui->lbUpgrade->setText(value <= kLastUploadValue ? tr("Uploading ...") : tr("Writing ..."));
        ui->pgUpgrade->setValue(value);
        ui->pgUpgrade->repaint();
    }
    ui->pgUpgrade->show();
    ui->lbUpgrade->show();
}
