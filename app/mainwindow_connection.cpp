// The window's side of the wheel connection: scanning for the wheel,
// opening it, starting the reader, the initial reads, and the waiting screen
// while no wheel is attached.
#include "app/mainwindow.h"

#include "app/accessible_names.h"
#include "app/single_instance.h"
#include "device/device_handle.h"
#include "device/discovery.h"
#include "input/report_batcher.h"
#include "ui_mainwindow.h"
#include "upgrade/dfu_probe.h"

#include <QDebug>
#include <QPushButton>
#include <QTimer>

#include <array>

namespace {

// Object name prefixes of every input indicator on the INPUTS page.
constexpr std::array<const char *, 3> indicatorPrefixes{"pbI", "pbJ", "pbSW"};

} // namespace

// Runs at start, on every retry, after a lost wheel and after a firmware
// update, so it first tears down whatever connection is left.
//
// Calls can meet: the retry may fire while a deviceDisconnect() is queued, or
// an update may schedule a scan of its own. Each call is a full scan, run one
// after the other on this thread, which is harmless; what must not happen is
// that every call leaves a 3 s retry of its own behind, or the retries would
// multiply and scan ever more often. So there is one retry timer: every scan
// cancels it, and only a scan that finds nothing arms it again.
void MainWindow::onInit()
{
    if (upgradeBusy)
        return;
    scanRetry.stop();
    stopEventThread();
    deviceHandle().close();

    // A quorctl command holding the wheel finishes first: its replies and
    // ours could not be told apart. The retry looks again.
    if (SingleInstance::wheelHeldByCommand()) {
        qDebug() << "quorctl holds the wheel, waiting for it";
        showWaitingScreen();
        scanRetry.start();
        return;
    }

    openProductId = 0;
    openProductId = openFirstWheel(deviceHandle());
    wheelInBootLoader = openProductId == 0 && bootLoaderPresent();
    if (openProductId == 0) {
        showWaitingScreen();
        if (wheelInBootLoader)
            showBootLoaderWaiting();
        scanRetry.start();
        return;
    }

    eventThread.start();
    ui->pbStatus->hide();
    AccessibleNames::nameStatusDot(ui->pbStatus, true);
    runInitialReads();
    QTimer::singleShot(0, ui->pbS1, SLOT(click()));
    if (statusPoll)
        QTimer::singleShot(0, this, SLOT(onDeviceUpdate()));
    if (settingsBeforeUpdate)
        QTimer::singleShot(0, this, SLOT(onCompareSettingsAfterUpdate()));
}

// Fills every page from the wheel's own settings, once per connection. Each
// read is a complete exchange on this thread before the next one starts, and
// a failed read never stops the sequence: each falls back to its own
// defaults. The order is fixed: the model name first, since it decides the
// layout and which reads apply; the host-side encoder binding last.
void MainWindow::runInitialReads()
{
    // 1. The model name and layout, which also decides statusPoll.
    identifyModel();
    readLedColours();
    loadPaddleConfig();
    loadEncoderPulseWidth();
    loadShifterPulseWidth();
    // Runs onClutchStatus through a zero-delay timer.
    loadClutchesEnabled();
    loadFirmwareVersion();
    loadEncoderBinding();
}

void MainWindow::showWaitingScreen()
{
    for (QObject *child : ui->page1->children()) {
        auto *widget = qobject_cast<QWidget *>(child);
        const QString name = child->objectName();
        for (const char *prefix : indicatorPrefixes) {
            if (widget && name.startsWith(QLatin1String(prefix)))
                widget->hide();
        }
    }
    ui->lbHead->setText(tr("WAITING FOR DEVICE..."));
    ui->lbMain->setStyleSheet(QStringLiteral("border-image:"));
    for (QPushButton *button : {ui->pbS1, ui->pbS2, ui->pbS3, ui->pbS4})
        button->setEnabled(false);
    QTimer::singleShot(0, ui->pbS5, SLOT(click()));
    ui->pbStatus->show();
    AccessibleNames::nameStatusDot(ui->pbStatus, false);
    for (QWidget *widget :
         std::initializer_list<QWidget *>{ui->lbEnc, ui->hsTrigger, ui->lbTrigger, ui->pbSaveEnc, ui->pbCalL,
                                          ui->pgAdcR, ui->pbCalR, ui->pgAdcL})
        widget->setVisible(false);
    ui->lbVersion->hide();
    resetUpgradeUi();
}

void MainWindow::resetUpgradeUi()
{
    ui->pbAutoUpgrade->setEnabled(true);
    ui->pbAutoUpgrade->setText(tr("CHECK UPDATE"));
    ui->pgUpgrade->setValue(0);
    ui->lbCurMd5->hide();
    ui->lbCurVersion->clear();
    ui->pgUpgrade->hide();
    ui->lbUpgrade->hide();
}

// The reader closes the wheel itself when it stops; its 100 ms read bounds
// the wait.
void MainWindow::stopEventThread()
{
    eventThread.requestInterruption();
    eventThread.wait();
    // What the reader handed over before it stopped is shown now, before a
    // waiting screen or a new wheel's layout.
    reportBatcher->flush();
}
