#pragma once

#include "input/quor_event.h"
#include "upgrade/firmware_update.h"

#include <QList>
#include <QLocalServer>
#include <QMainWindow>
#include <QNetworkAccessManager>
#include <QPointF>
#include <QString>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTimer>

#include <array>
#include <memory>

namespace Ui {
class MainWindow;
}

class ButtonDisplay;
class LiveSend;
class ReportBatcher;

class QMouseEvent;

// The one window of the program. It owns everything for the whole run and
// its slots carry the behaviour; the form holds the widgets by object name.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // Flags given here cost nothing; set later, they restyle the whole form.
    explicit MainWindow(QWidget *parent = nullptr, Qt::WindowFlags flags = {});
    ~MainWindow() override;

private slots:
    void onClose();
    void onMinimize();
    void onShowNormal();
    void onTrayActivated(QSystemTrayIcon::ActivationReason reason);
    void onSecondStart(const QString &activationToken, const QString &startupId);
    void onTrayWatch();
    void onSidebar();
    void onInit();
    void onJoystickEvent(QByteArray data);
    void onDeviceUpdate();

    // Pulse widths, paddles, calibration, encoder binding, clear flash
    // (mainwindow_settings.cpp).
    void onTriggerChanged(int value);
    void onTriggerUpdate();
    void onSavePageE();
    void onShifterChanged(int value);
    void onShifterUpdate();
    void onPaddleChanged(int value);
    void onPaddleUpdate();
    void onSavePageP();
    void onClutchStatus();
    void onShifterStatus();
    void onBearLCalibrate();
    void onBearRCalibrate();
    void onBearExLCalibrate();
    void onBearExRCalibrate();
    void onCalibrateL(bool checked);
    void onCalibrateR(bool checked);
    void onCalibrate();
    // Keyboard, wheel and groove clicks on the three sliders.
    void onSliderAction(int action);
    void onEncoderBind();
    void onClearFlash();

    // LED colours (mainwindow_led.cpp).
    void onColorPick();
    void onSetColor();
    void onSaveColor();

    // Firmware update from a file (mainwindow_upgrade.cpp).
    void onShowPath();
    void onUpgrade();
    void onProgress(int value);
    void onUpgradeFailed(int code, const QString &what, bool wheelInLoader);

    // Whole-wheel profiles (mainwindow_profiles.cpp).
    void onBackupSettings();
    void onRestoreSettings();
    void onCompareSettingsAfterUpdate();

    // Online update check and download (mainwindow_online_update.cpp).
    void onAutoUpgrade();
    void onUpgradeReady();
    void onNetUpgrade();
    void onNetProgress(qint64 received, qint64 total);
    void onNetUpgradeReady();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    void createTrayIcon();
    // Out of the tray or the task bar, in front; the focus is the caller's.
    void restoreWindow();
    void showWaitingScreen();
    void resetUpgradeUi();
    void runInitialReads();
    void stopEventThread();
    void identifyModel();
    void loadFirmwareVersion();

    // Settings (mainwindow_settings.cpp).
    void connectSettingsWidgets();
    void loadEncoderPulseWidth();
    void loadShifterPulseWidth();
    quint16 currentBiteWord() const;
    // The send's result; -1 without a wheel.
    int sendPaddleConfig(bool save);
    void loadPaddleConfig();
    void loadClutchesEnabled();
    void loadExtraShiftersEnabled();
    void setBindState(int state);
    void loadEncoderBinding();
    void saveEncoderBinding();
    void removeEncoderBinding();
    void applyEncoderTurn(const QList<qint32> &released);
    // One side of the clutch travel calibration, started or ended.
    void calibrateClutch(bool checked, bool left);
    // Ends every running clutch calibration without storing it: both sides
    // get back the range they had before it started, live as well.
    void cancelClutchCalibrations();
    // The "Error" box of a save that left values unstored, naming them.
    void reportNotSaved(const QStringList &values);
    // Set by loadPaddleConfig, taken by the next onClutchStatus: the status
    // update that closes the initial reads does not ask the wheel again for
    // the configuration it has only just sent.
    bool paddleConfigFresh = false;
    // Per clutch side (0 left, 1 right) while its calibration runs: the
    // range to put back if it ends without a usable one, and whether the
    // range was emptied for the readings to widen.
    struct ClutchCalibration
    {
        quint32 keptMin = 0;
        quint32 keptMax = 0;
        bool settled = false;
    };
    std::array<ClutchCalibration, 2> clutchCalibration{};
    // The live sends of hsTrigger, hsShifter and hsBite when the keyboard,
    // the mouse wheel or a groove click moved them.
    LiveSend *triggerLive = nullptr;
    LiveSend *shifterLive = nullptr;
    LiveSend *biteLive = nullptr;

    // LED colours (mainwindow_led.cpp).
    void connectLedWidgets();
    // Each LED button's colour in words, for screen readers.
    void describeLedColours();
    void readLedColours();
    // Both return whether every report went out.
    bool sendLedColours(bool commit);
    bool sendExtraLedColours(bool commit, int order);

    // Firmware update (mainwindow_upgrade.cpp).
    void connectUpgradeWidgets();
    void startFirmwareUpdate(const QString &path, const QString &waitingText);
    bool updateRunning();
    // Asks before a close would cut a running update short.
    bool confirmCloseDuringUpdate();
    // Ends a running update for the program's exit, within a few seconds.
    void stopUpgradeForExit();
    // No wheel on the HID bus, but a boot loader is: the DEVICE page offers
    // the update that brings the wheel back.
    void showBootLoaderWaiting();

    // Profiles (mainwindow_profiles.cpp).
    void connectProfileWidgets();
    // Writes with the save marker, reads back and tells what the wheel kept.
    void writeProfileAndReport(const WheelProfile &wanted);

    std::unique_ptr<Ui::MainWindow> ui;
    QPointF dragAnchor;
    quint8 upgradeBusy;
    QuorEvent eventThread;
    QNetworkAccessManager networkManager;
    QLocalServer localServer;
    quint32 leftMin;
    quint32 rightMin;
    quint32 leftMax;
    quint32 rightMax;
    QString deviceName;
    QString updateUrl;
    qint32 openProductId;
    qint32 bindState;
    quint8 bindUpButton;
    quint8 bindDownButton;
    quint8 statusPoll;
    QSystemTrayIcon *trayIcon;
    // While minimised: follows a tray host that appears or goes.
    QTimer trayWatch;
    QList<qint32> releasedButtons;
    // The next device scan while no wheel is attached; at most one is ever
    // pending (see onInit).
    QTimer scanRetry;
    // What the INPUTS page shows of each input report.
    std::unique_ptr<ButtonDisplay> buttonDisplay;
    // Gathers the reader's reports so the display runs once per frame, not
    // once per report.
    std::unique_ptr<ReportBatcher> reportBatcher;
    // The next power status read of a wireless wheel. One timer, so a poll
    // started by a reconnect while another was pending replaces it.
    QTimer statusPollTimer;
    // Moves a firmware image into the wheel; its progress drives the
    // firmware page.
    FirmwareUpdate firmwareUpdate;
    // The last scan found no wheel but a boot loader.
    bool wheelInBootLoader = false;
    // The settings backed up before the last successful update, until the
    // wheel is back and they have been compared.
    std::optional<WheelProfile> settingsBeforeUpdate;
    // Where the online update keeps its download: a directory of this
    // run's own (mode 0700), gone with the window.
    std::unique_ptr<QTemporaryDir> downloadDir;
    QString downloadedImage;
};
