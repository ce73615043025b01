#include "app/mainwindow.h"

#include "app/accessible_names.h"
#include "app/deferred_icon.h"
#include "app/first_frame.h"
#include "app/keyboard_access.h"
#include "app/page_styles.h"
#include "app/sidebar.h"
#include "app/single_instance.h"
#include "app/window_activation.h"
#include "app/window_drag.h"
#include "device/device_handle.h"
#include "device/device_status.h"
#include "device/model_layout.h"
#include "input/button_display.h"
#include "input/report_batcher.h"
#include "quorset_version.h"
#include "ui_mainwindow.h"

#include <hidapi/hidapi.h>

#include <QAction>
#include <QDebug>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

#include <array>

namespace {

constexpr int trayRestoreDelayMs = 500;
constexpr int scanRetryMs = 3000;
constexpr int trayWatchMs = 1000;

} // namespace

MainWindow::MainWindow(QWidget *parent, Qt::WindowFlags flags)
    : QMainWindow(parent, flags), ui(new Ui::MainWindow), dragAnchor(0, 0), upgradeBusy(0), leftMin(0),
      rightMin(0), leftMax(4096), rightMax(4096), openProductId(0), bindState(0), bindUpButton(0xFF),
      bindDownButton(0xFF), statusPoll(0), trayIcon(nullptr)
{
    auto *pageStyler = new PageStyles::Styler(this);
    ui->setupUi(this);
    pageStyler->styleOnFirstShow(ui->stackedWidget);

    ui->lbCurVer->setText(tr("QuorSet Version: v%1").arg(QStringLiteral(QUORSET_VERSION)));
    ui->pbStatus->hide();

    connect(ui->pbClose, SIGNAL(clicked(bool)), this, SLOT(onClose()));
    connect(ui->pbMin, SIGNAL(clicked(bool)), this, SLOT(onMinimize()));
    for (QPushButton *button : {ui->pbS1, ui->pbS2, ui->pbS3, ui->pbS4, ui->pbS5})
        connect(button, SIGNAL(clicked(bool)), this, SLOT(onSidebar()));

    ui->stackedWidget->setCurrentIndex(0);
    dragAnchor = QPointF(-1, -1);

    connect(&eventThread, SIGNAL(deviceDisconnect()), this, SLOT(onInit()));
    // Released buttons go on to the encoder binding.
    buttonDisplay = std::make_unique<ButtonDisplay>(this);
    buttonDisplay->setReleaseHandler([this](const QList<qint32> &released) { applyEncoderTurn(released); });
    // The reader's reports are gathered on its own thread (a direct
    // connection) and shown in runs; onJoystickEvent stays the one-report way.
    reportBatcher = std::make_unique<ReportBatcher>();
    reportBatcher->setSink([this](const ReportRun &run) {
        buttonDisplay->showRun(run, {leftMin, leftMax, rightMin, rightMax}, releasedButtons);
    });
    reportBatcher->setBarsOnScreen([this] { return buttonDisplay->barsOnScreen(); });
    connect(&eventThread, SIGNAL(eventTrigger(QByteArray)), reportBatcher.get(), SLOT(add(QByteArray)),
            Qt::DirectConnection);
    // A child of the window like its widgets, found by name like them.
    statusPollTimer.setObjectName(QStringLiteral("statusPollTimer"));
    statusPollTimer.setParent(this);
    statusPollTimer.setSingleShot(true);
    statusPollTimer.setTimerType(Qt::CoarseTimer);
    statusPollTimer.setInterval(kStatusPollIntervalMs);
    connect(&statusPollTimer, SIGNAL(timeout()), this, SLOT(onDeviceUpdate()));
    scanRetry.setSingleShot(true);
    scanRetry.setTimerType(Qt::CoarseTimer);
    scanRetry.setInterval(scanRetryMs);
    connect(&scanRetry, SIGNAL(timeout()), this, SLOT(onInit()));
    connectSettingsWidgets();
    connectLedWidgets();
    connectUpgradeWidgets();
    connectProfileWidgets();
    connect(ui->pbAutoUpgrade, SIGNAL(clicked(bool)), this, SLOT(onAutoUpgrade()));
    KeyboardAccess::install(this);

    showWaitingScreen();
    hid_init();
    // Names for screen readers are nothing the first frame draws, and Qt
    // makes each named control's accessible object as the name is set: they
    // come once the window is on screen, before the discovery, which starts
    // then too; with a wheel attached the window then fills in and switches
    // to the wheel's pages.
    FirstFrame::then(this, [this] {
        AccessibleNames::nameFixedControls(this);
        describeLedColours();
        onInit();
    });

    createTrayIcon();

    SingleInstance::startGuardServer(localServer);
    auto *guardRequests = new SingleInstance::GuardRequests(localServer, this);
    connect(guardRequests, SIGNAL(showRequested(QString, QString)), this,
            SLOT(onSecondStart(QString, QString)));
}

// Out of line, where the form's class is complete, so the pointer can delete it.
// A window that goes without onClose (its event loop ended some other way)
// still stops the reader first: a running thread must not lose its object.
MainWindow::~MainWindow()
{
    // Also when the window went some other way than onClose (the desktop
    // closed it): no start may hand itself over to a window that is going.
    localServer.close();
    stopEventThread();
    stopUpgradeForExit();
}

void MainWindow::createTrayIcon()
{
    trayIcon = new QSystemTrayIcon(DeferredIcon::fromFile(QStringLiteral(":/img/main.ico")), this);
    auto *menu = new QMenu(this);
    QAction *restore = menu->addAction(tr("Restore"));
    connect(restore, SIGNAL(triggered()), this, SLOT(onShowNormal()));
    trayIcon->setContextMenu(menu);
    connect(trayIcon, SIGNAL(activated(QSystemTrayIcon::ActivationReason)), this,
            SLOT(onTrayActivated(QSystemTrayIcon::ActivationReason)));
    trayWatch.setInterval(trayWatchMs);
    trayWatch.setTimerType(Qt::CoarseTimer);
    connect(&trayWatch, SIGNAL(timeout()), this, SLOT(onTrayWatch()));
}

void MainWindow::onClose()
{
    if (!confirmCloseDuringUpdate())
        return;
    // A calibration still running is dropped, not stored; then unsaved paddle
    // settings go into the wheel's flash. The sender is pbClose, so the save
    // shows nothing.
    cancelClutchCalibrations();
    onSavePageP();
    // A start from now on must not hand its request to a window on its way
    // out: it waits for this process to end and then runs on its own.
    localServer.close();
    stopEventThread();
    stopUpgradeForExit();
    close();
}

void MainWindow::onMinimize()
{
    showMinimized();
    trayWatch.start();
    // Without a tray host an icon would be seen by nobody, and a hidden
    // window could not be found again: it stays on the task bar.
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    trayIcon->setVisible(true);
    // Hidden, the window leaves the task bar and lives in the tray only.
    hide();
}

// Tray hosts come and go with panels and extensions, and the platform tells
// nobody; so a minimised window looks now and then.
void MainWindow::onTrayWatch()
{
    const bool inTray = trayIcon->isVisible() && !isVisible();
    const bool onTaskBar = isVisible() && isMinimized();
    if (!inTray && !onTaskBar) {
        trayWatch.stop();
        return;
    }
    const bool available = QSystemTrayIcon::isSystemTrayAvailable();
    if (inTray && !available) {
        qDebug() << "tray host gone: the minimised window goes to the task bar";
        trayIcon->hide();
        showMinimized();
    } else if (onTaskBar && available) {
        qDebug() << "tray host found: the minimised window goes to the tray";
        trayIcon->setVisible(true);
        hide();
    }
}

void MainWindow::restoreWindow()
{
    trayWatch.stop();
    showNormal();
    // Also a window that is open but covered comes to the front.
    raise();
    trayIcon->hide();
}

void MainWindow::onShowNormal()
{
    restoreWindow();
    activateWindow();
}

void MainWindow::onSecondStart(const QString &activationToken, const QString &startupId)
{
    restoreWindow();
    WindowActivation::activateForStart(this, activationToken, startupId);
}

void MainWindow::onTrayActivated(QSystemTrayIcon::ActivationReason reason)
{
    // Single clicks are left alone: the context menu with Restore opens
    // through the toolkit, and a stray click must not pop the window up.
    if (reason == QSystemTrayIcon::DoubleClick)
        QTimer::singleShot(trayRestoreDelayMs, this, SLOT(onShowNormal()));
}

void MainWindow::onSidebar()
{
    const std::array<QPushButton *, 5> buttons{ui->pbS1, ui->pbS2, ui->pbS3, ui->pbS4, ui->pbS5};
    for (QPushButton *button : buttons)
        button->setChecked(false);

    const QObject *from = sender();
    const int digit = Sidebar::pageDigit(from ? from->objectName() : QString());
    if (digit == 0)
        return;
    buttons[digit - 1]->setChecked(true);
    ui->stackedWidget->setCurrentIndex(digit - 1);
}

void MainWindow::mousePressEvent(QMouseEvent *event)
{
    const QPointF p = event->globalPosition();
    if (event->button() != Qt::LeftButton || !WindowDrag::inDragBand(p.y(), geometry().y())) {
        dragAnchor = WindowDrag::idleAnchor;
        return;
    }
    // The desktop's own move works where moving ourselves does not (a
    // Wayland compositor ignores it) and snaps and tiles. Only without
    // anyone to take the move (X11 without a window manager) do we follow
    // the pointer ourselves.
    if (windowHandle() && windowHandle()->startSystemMove()) {
        dragAnchor = WindowDrag::idleAnchor;
        return;
    }
    dragAnchor = p;
}

void MainWindow::mouseReleaseEvent(QMouseEvent *)
{
    dragAnchor = WindowDrag::idleAnchor;
}

void MainWindow::mouseMoveEvent(QMouseEvent *event)
{
    if (!(event->buttons() & Qt::LeftButton) || WindowDrag::isIdle(dragAnchor))
        return;
    const QPointF p = event->globalPosition();
    const QPointF d = p - dragAnchor;
    dragAnchor = p;
    move(x() + static_cast<int>(d.x()), y() + static_cast<int>(d.y()));
}

// The wheel's name decides the whole layout of the window; a wheel that does
// not answer with its name leaves the waiting screen's state alone.
void MainWindow::identifyModel()
{
    const std::optional<QString> name = readModelName(deviceHandle());
    if (!name)
        return;
    deviceName = *name;
    ModelLayoutHost host;
    host.form = this;
    host.device = &deviceHandle();
    host.shifterStatus = [this] {
        onShifterStatus();
    };
    host.loadExtraShiftersEnabled = [this] {
        loadExtraShiftersEnabled();
    };
    const ModelLayoutResult layout = applyModelLayout(*name, host);
    AccessibleNames::nameLedButtons(this, *name);
    KeyboardAccess::orderTabs(this);
    if (layout.updateUrl)
        updateUrl = *layout.updateUrl;
    if (layout.statusPoll)
        statusPoll = *layout.statusPoll;
}

void MainWindow::loadFirmwareVersion()
{
    ::loadFirmwareVersion(deviceHandle(), ui->lbVersion);
}

void MainWindow::onJoystickEvent(QByteArray data)
{
    buttonDisplay->showReport(data, {leftMin, leftMax, rightMin, rightMax}, releasedButtons);
}

// Runs until the first time it finds no wheel; the next connection starts it
// again.
void MainWindow::onDeviceUpdate()
{
    const std::optional<PowerStatus> status = readPowerStatus(deviceHandle());
    if (!status)
        return;
    showPowerStatus(*status, ui->lbBTStatus, ui->lbBatStatus);
    if (statusPoll)
        statusPollTimer.start();
}
