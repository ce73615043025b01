// The firmware page's update: the window's side of the one update flow
// (FirmwareUpdate), the wheel that waits in its boot loader, and closing
// while an update runs.
#include "app/mainwindow.h"

#include "app/user_prompts.h"
#include "device/device_handle.h"
#include "ui_mainwindow.h"
#include "upgrade/dfu_flasher.h"
#include "upgrade/dfu_probe.h"
#include "upgrade/firmware_update.h"

#include <QDebug>
#include <QTimer>

#include <cstdlib>

namespace {

// The wheel needs a moment after the update before it answers again.
constexpr int kScanAfterUpdateMs = 3000;
// A confirmed close during an update ends the program within this time,
// whatever the update is waiting for.
constexpr int kCloseDuringUpdateMs = 4500;

constexpr int kLastUploadValue = 96;
constexpr int kDone = 100;

} // namespace

void MainWindow::connectUpgradeWidgets()
{
    connect(ui->pbPath, SIGNAL(clicked(bool)), this, SLOT(onShowPath()));
    connect(ui->pbUpgrade, SIGNAL(clicked(bool)), this, SLOT(onUpgrade()));
    connect(&firmwareUpdate, SIGNAL(progress(int)), this, SLOT(onProgress(int)));
    connect(&firmwareUpdate, SIGNAL(failed(int, QString, bool)), this,
            SLOT(onUpgradeFailed(int, QString, bool)));
}

bool MainWindow::updateRunning()
{
    return upgradeBusy || firmwareUpdate.busy();
}

bool MainWindow::confirmCloseDuringUpdate()
{
    if (!updateRunning())
        return true;
    return UserPrompts::question(
               this, tr("Update"),
               tr("A firmware update is running. If QuorSet closes now, the wheel may stay in "
                  "its boot loader until it is updated again. Close anyway?"),
               QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

// The update is told to stop at its next wait; if it has not ended in time
// the program ends without it rather than hang with its window gone.
void MainWindow::stopUpgradeForExit()
{
    if (!firmwareUpdate.busy())
        return;
    if (firmwareUpdate.cancel(kCloseDuringUpdateMs))
        return;
    qWarning() << "The firmware update did not stop in time; QuorSet ends without it";
    std::_Exit(EXIT_FAILURE);
}

void MainWindow::showBootLoaderWaiting()
{
    ui->lbHead->setText(tr("WHEEL WAITING FOR FIRMWARE"));
    ui->lbCurVersion->setText(
        tr("The wheel waits in its boot loader. Choose its firmware and press MANUAL UPDATE."));
    ui->pbS4->setEnabled(true);
    // After the waiting screen's own switch to its page.
    QTimer::singleShot(0, ui->pbS4, SLOT(click()));
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
    if (updateRunning()) {
        qDebug() << "Update already in progress; MANUAL UPDATE ignored";
        return;
    }
    const QString path = ui->lePath->text();
    if (path.startsWith(QLatin1String("https://"), Qt::CaseSensitive)) {
        QTimer::singleShot(0, this, SLOT(onNetUpgrade()));
        return;
    }
    startFirmwareUpdate(path, tr("Waiting for DFU..."));
}

void MainWindow::startFirmwareUpdate(const QString &path, const QString &waitingText)
{
    FirmwareUpdate::Request request;
    request.imagePath = path;
    request.downloaded = !downloadedImage.isEmpty() && path == downloadedImage;
    request.wheelConnected = deviceHandle().isOpen();
    request.continueWithoutBackup = [this](const QString &why) {
        return UserPrompts::question(this, tr("Update"),
                                     tr("The wheel's settings could not be backed up (%1). Update without a "
                                        "backup?")
                                         .arg(why),
                                     QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
    };
    request.route = request.wheelConnected ? updateRouteFor(deviceName) : UpdateRoute::HidStream;
    if (!request.wheelConnected && wheelInBootLoader) {
        request.route = UpdateRoute::BootLoader;
        if (UserPrompts::question(
                this, tr("Update"),
                tr("No wheel is connected, but a boot loader waits for a firmware: most likely "
                   "the wheel after an interrupted update. Write this image into it?"),
                QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes) {
            resetUpgradeUi();
            return;
        }
    }
    if (request.route == UpdateRoute::BootLoader) {
        // The wheel drops off the HID bus on its way into the boot loader;
        // the busy flag keeps that from starting a device search.
        upgradeBusy = 1;
        ui->lbUpgrade->setText(waitingText);
        ui->lbUpgrade->show();
        ui->pgUpgrade->setValue(0);
        ui->pgUpgrade->show();
    }
    firmwareUpdate.start(request);
}

void MainWindow::onProgress(int value)
{
    if (value == kDone) {
        upgradeBusy = 0;
        wheelInBootLoader = false;
        settingsBeforeUpdate = firmwareUpdate.settingsBefore();
        resetUpgradeUi();
        UserPrompts::information(this, tr("Notify"), tr("Firmware updated successfully. Reboot the device."));
        // Armed only once the box is closed: the user may keep it open
        // longer than the wheel takes to restart.
        QTimer::singleShot(kScanAfterUpdateMs, Qt::CoarseTimer, this, SLOT(onInit()));
        return;
    }
    if (value < 0 || value > kDone)
        return;
    ui->lbUpgrade->setText(value <= kLastUploadValue ? tr("Uploading ...") : tr("Writing ..."));
    ui->pgUpgrade->setValue(value);
    ui->pgUpgrade->repaint();
    ui->pgUpgrade->show();
    ui->lbUpgrade->show();
}

// Every failed update says so, says what to do, and leaves a page that can
// start the next try. The scan afterwards finds the wheel, or its boot loader
// waiting, so the window never looks connected while nothing is open.
void MainWindow::onUpgradeFailed(int code, const QString &what, bool wheelInLoader)
{
    upgradeBusy = 0;
    resetUpgradeUi();
    const QString inLoader = tr("The wheel is still in its boot loader. Keep it plugged in and press MANUAL "
                                "UPDATE again.");
    QString text;
    if (code == FirmwareUpdate::NoBackup)
        return; // the user chose not to go on; nothing was changed
    if (code == FirmwareUpdate::ImageRefused && !wheelInLoader)
        text = tr("Not a valid firmware.");
    else if (code == FirmwareUpdate::ImageRefused)
        text = tr("Not a valid firmware.") + QLatin1String("\n\n") + inLoader;
    else if (code == DfuNoDevice && wheelInLoader)
        text = tr("DFU device not detected. Please ensure the device is in DFU mode.");
    else if (code == FirmwareUpdate::SeveralBootLoaders || code == QuorUpgrade::NoWheelOpen)
        text = tr("The firmware update did not start: %1.").arg(what);
    else
        text = tr("The firmware update failed: %1.").arg(what) + QLatin1String("\n\n") +
               (wheelInLoader ? inLoader
                              : tr("The wheel keeps the firmware it had. Check the cable and press MANUAL "
                                   "UPDATE again."));
    UserPrompts::critical(this, tr("Error"), text);
    if (code != FirmwareUpdate::ImageRefused || wheelInLoader)
        QTimer::singleShot(0, this, SLOT(onInit()));
}
