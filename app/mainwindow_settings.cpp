// The settings pages: pulse widths, paddles and their calibration, the
// encoder binding of the bite point, and clearing the wheel's flash.
//
// Each page keeps the value the wheel last stored in the status tip of its
// slider; a save sends only what differs from that copy.
#include "app/mainwindow.h"

#include "app/user_prompts.h"
#include "device/device_handle.h"
#include "settings/encoder_binding.h"
#include "settings/page_values.h"
#include "settings/wheel_settings.h"
#include "ui_mainwindow.h"

#include <QDebug>
#include <QSettings>
#include <QSignalBlocker>
#include <QTimer>

#include <utility>

namespace {

constexpr int kCalibrationSettleMs = 500;
// Raw paddle readings run 0..4096.
constexpr quint32 kPaddleFullScale = 4096;
// gpShifter's bottom below its top with all four threshold rows, and with
// only the left and right ones.
constexpr int kShifterRowsAll = 190;
constexpr int kShifterRowsMain = 110;

// Without a wheel the slider is set to 0 and so rests at its minimum; a
// negative value means the wheel has nothing stored and leaves it alone.
void loadPulseWidth(QSlider *slider, Item item)
{
    const std::optional<int32_t> value = readPulseWidth(deviceHandle(), item);
    if (!value)
        slider->setValue(0);
    else if (*value >= 0)
        slider->setValue(*value);
    slider->setStatusTip(QString::number(slider->value()));
}

void calibrateThreshold(QPushButton *button, Item item, const QString &pressText)
{
    const bool starting = button->isChecked();
    button->setText(starting ? pressText : MainWindow::tr("CALIBRATE"));
    if (!deviceHandle().isOpen())
        return;
    if (starting)
        startThresholdCalibration(deviceHandle(), item);
    else
        finishThresholdCalibration(deviceHandle(), item);
}

QSettings bindingStore()
{
    return QSettings(QLatin1String(kSettingsOrganization), QLatin1String(kSettingsApplication));
}

} // namespace

void MainWindow::connectSettingsWidgets()
{
    connect(ui->hsTrigger, SIGNAL(valueChanged(int)), this, SLOT(onTriggerChanged(int)));
    connect(ui->hsTrigger, SIGNAL(sliderReleased()), this, SLOT(onTriggerUpdate()));
    connect(ui->pbSaveEnc, SIGNAL(clicked(bool)), this, SLOT(onSavePageE()));
    connect(ui->hsShifter, SIGNAL(valueChanged(int)), this, SLOT(onShifterChanged(int)));
    connect(ui->hsShifter, SIGNAL(sliderReleased()), this, SLOT(onShifterUpdate()));

    connect(ui->hsBite, SIGNAL(valueChanged(int)), this, SLOT(onPaddleChanged(int)));
    connect(ui->hsBite, SIGNAL(sliderReleased()), this, SLOT(onPaddleUpdate()));
    for (QRadioButton *paddle : {ui->rbPadL, ui->rbPadR, ui->rbPadNo})
        connect(paddle, SIGNAL(clicked(bool)), this, SLOT(onPaddleUpdate()));
    connect(ui->pbSaveP, SIGNAL(clicked(bool)), this, SLOT(onSavePageP()));
    connect(ui->cbClutch, SIGNAL(toggled(bool)), this, SLOT(onClutchStatus()));
    connect(ui->cbShifter, SIGNAL(toggled(bool)), this, SLOT(onShifterStatus()));
    connect(ui->pbBearLCa, SIGNAL(clicked(bool)), this, SLOT(onBearLCalibrate()));
    connect(ui->pbBearRCa, SIGNAL(clicked(bool)), this, SLOT(onBearRCalibrate()));
    connect(ui->pbBearExLCa, SIGNAL(clicked(bool)), this, SLOT(onBearExLCalibrate()));
    connect(ui->pbBearExRCa, SIGNAL(clicked(bool)), this, SLOT(onBearExRCalibrate()));
    connect(ui->pbCalL, SIGNAL(toggled(bool)), this, SLOT(onCalibrateL(bool)));
    connect(ui->pbCalR, SIGNAL(toggled(bool)), this, SLOT(onCalibrateR(bool)));

    connect(ui->pbEncoder, SIGNAL(clicked(bool)), this, SLOT(onEncoderBind()));
    connect(ui->pbClearFlash, SIGNAL(clicked(bool)), this, SLOT(onClearFlash()));
}

// --- Pulse widths.

void MainWindow::onTriggerChanged(int value)
{
    ui->lbTrigger->setText(pulseWidthText(value));
}

void MainWindow::onTriggerUpdate()
{
    if (deviceHandle().isOpen())
        writePulseWidth(deviceHandle(), Item::EncoderPulseWidth, ui->hsTrigger->value(), false);
}

// The stored copy takes the new value even when the write fails, so a second
// press reports success without sending again.
void MainWindow::onSavePageE()
{
    if (!deviceHandle().isOpen())
        return;
    const int value = ui->hsTrigger->value();
    if (value != storedValue(ui->hsTrigger->statusTip())) {
        const int sent = writePulseWidth(deviceHandle(), Item::EncoderPulseWidth, value, true);
        ui->hsTrigger->setStatusTip(QString::number(ui->hsTrigger->value()));
        if (sent < 0) {
            qDebug() << "encoder pulse width not saved:" << sent;
            UserPrompts::critical(this, tr("Error"), tr("Can not save setting."));
            return;
        }
    }
    UserPrompts::information(this, tr("Success"), tr("Setting saved."));
}

void MainWindow::onShifterChanged(int value)
{
    ui->lbShifter->setText(pulseWidthText(value));
}

void MainWindow::onShifterUpdate()
{
    if (deviceHandle().isOpen())
        writePulseWidth(deviceHandle(), Item::ShifterPulseWidth, ui->hsShifter->value(), false);
}

void MainWindow::loadEncoderPulseWidth()
{
    loadPulseWidth(ui->hsTrigger, Item::EncoderPulseWidth);
}

void MainWindow::loadShifterPulseWidth()
{
    loadPulseWidth(ui->hsShifter, Item::ShifterPulseWidth);
}

// --- Paddles page.

void MainWindow::onPaddleChanged(int value)
{
    ui->lbBite->setText(bitePointText(value));
}

void MainWindow::onPaddleUpdate()
{
    sendPaddleConfig(false);
}

quint16 MainWindow::currentBiteWord() const
{
    if (ui->rbPadL->isChecked())
        return encodeBiteWord(BitePaddle::Left, ui->hsBite->value());
    if (ui->rbPadR->isChecked())
        return encodeBiteWord(BitePaddle::Right, ui->hsBite->value());
    return kNoBiteWord;
}

void MainWindow::sendPaddleConfig(bool save)
{
    if (!deviceHandle().isOpen())
        return;
    PaddleConfig config;
    config.biteWord = currentBiteWord();
    config.rightMax = static_cast<quint16>(rightMax);
    config.leftMax = static_cast<quint16>(leftMax);
    config.rightMin = static_cast<quint16>(rightMin);
    config.leftMin = static_cast<quint16>(leftMin);
    writePaddleConfig(deviceHandle(), config, save);
}

// Without a wheel everything reads as 0: the left paddle at 0.00 %.
void MainWindow::loadPaddleConfig()
{
    const PaddleConfig config = readPaddleConfig(deviceHandle()).value_or(PaddleConfig{});
    ui->hsBite->setStatusTip(QString::number(config.biteWord));
    const BitePoint bite = decodeBiteWord(config.biteWord);
    switch (bite.paddle) {
    case BitePaddle::Left:
        ui->rbPadL->setChecked(true);
        break;
    case BitePaddle::Right:
        ui->rbPadR->setChecked(true);
        break;
    case BitePaddle::None:
        ui->rbPadNo->setChecked(true);
        break;
    }
    ui->hsBite->setValue(bite.point);
    leftMin = config.leftMin;
    rightMin = config.rightMin;
    leftMax = config.leftMax;
    rightMax = config.rightMax;
    paddleConfigFresh = true;
}

// The box is set without its toggled signal: the status update, which may
// read the paddle configuration, runs once, from the timer, after the rest
// of the initial reads, so that a first connection and a reconnection ask
// the wheel the same questions in the same order.
void MainWindow::loadClutchesEnabled()
{
    const QSignalBlocker quiet(ui->cbClutch);
    ui->cbClutch->setChecked(readItemEnabled(deviceHandle(), Item::ClutchesEnabled).value_or(false));
    QTimer::singleShot(0, this, SLOT(onClutchStatus()));
}

void MainWindow::loadExtraShiftersEnabled()
{
    ui->cbShifter->setChecked(readItemEnabled(deviceHandle(), Item::ExtraShiftersEnabled).value_or(false));
    QTimer::singleShot(0, this, SLOT(onShifterStatus()));
}

// Speaks only when pbSaveP asked; from onClose it stores what it can in
// silence.
void MainWindow::onSavePageP()
{
    if (!deviceHandle().isOpen())
        return;
    const bool fromButton = sender() == ui->pbSaveP;

    const quint16 biteWord = currentBiteWord();
    if (biteWord != storedValue(ui->hsBite->statusTip())) {
        sendPaddleConfig(true);
        ui->hsBite->setStatusTip(QString::number(biteWord));
    }

    const bool shiftersFailed =
        saveItemEnabledIfChanged(deviceHandle(), Item::ExtraShiftersEnabled, ui->cbShifter->isChecked()) < 0;
    if (saveItemEnabledIfChanged(deviceHandle(), Item::ClutchesEnabled, ui->cbClutch->isChecked()) < 0) {
        qDebug() << "clutch enable not saved";
        if (fromButton)
            UserPrompts::critical(this, tr("Error"), tr("Can not save setting."));
        return;
    }
    if (!fromButton)
        return;
    if (shiftersFailed)
        UserPrompts::critical(this, tr("Error"), tr("Can not save setting."));
    else
        UserPrompts::information(this, tr("Success"), tr("Setting saved."));
}

void MainWindow::onClutchStatus()
{
    const bool enabled = ui->cbClutch->isChecked();
    const bool fresh = std::exchange(paddleConfigFresh, false);
    if (enabled && !fresh)
        loadPaddleConfig();
    for (QWidget *widget :
         std::initializer_list<QWidget *>{ui->gpClutch, ui->pgAdcL, ui->pgAdcR, ui->pbCalL, ui->pbCalR})
        widget->setVisible(enabled);
}

void MainWindow::onShifterStatus()
{
    QRect frame = ui->gpShifter->geometry();
    frame.setBottom(frame.top() + (ui->cbShifter->isChecked() ? kShifterRowsAll : kShifterRowsMain));
    ui->gpShifter->setGeometry(frame);
}

void MainWindow::onBearLCalibrate()
{
    calibrateThreshold(ui->pbBearLCa, Item::LeftShifterThreshold,
                       tr("PRESS AND HOLD LEFT SHIFTER THEN CLICK ME"));
}

void MainWindow::onBearRCalibrate()
{
    calibrateThreshold(ui->pbBearRCa, Item::RightShifterThreshold,
                       tr("PRESS AND HOLD RIGHT SHIFTER THEN CLICK ME"));
}

void MainWindow::onBearExLCalibrate()
{
    calibrateThreshold(ui->pbBearExLCa, Item::ExtraLeftShifterThreshold,
                       tr("PRESS AND HOLD EXTRAL SHIFTER THEN CLICK ME"));
}

void MainWindow::onBearExRCalibrate()
{
    calibrateThreshold(ui->pbBearExRCa, Item::ExtraRightShifterThreshold,
                       tr("PRESS AND HOLD EXTRAR SHIFTER THEN CLICK ME"));
}

// While a clutch calibrates the wheel first works over the full raw range;
// half a second later onCalibrate empties the range so that the input reports
// (onJoystickEvent) widen it to what the paddle really travels.
void MainWindow::onCalibrateL(bool checked)
{
    calibrateClutch(checked, true);
}

void MainWindow::onCalibrateR(bool checked)
{
    calibrateClutch(checked, false);
}

void MainWindow::calibrateClutch(bool checked, bool left)
{
    QPushButton *button = left ? ui->pbCalL : ui->pbCalR;
    if (!checked) {
        button->setText(tr("CALIBRATE"));
        sendPaddleConfig(true);
        return;
    }
    (left ? leftMin : rightMin) = 0;
    (left ? leftMax : rightMax) = kPaddleFullScale;
    sendPaddleConfig(false);
    button->setText(tr("SAVE"));
    QTimer::singleShot(kCalibrationSettleMs, this, SLOT(onCalibrate()));
}

void MainWindow::onCalibrate()
{
    const QString calibrating = tr("SAVE");
    if (ui->pbCalL->text().contains(calibrating)) {
        leftMin = kPaddleFullScale;
        leftMax = 0;
    }
    if (ui->pbCalR->text().contains(calibrating)) {
        rightMin = kPaddleFullScale;
        rightMax = 0;
    }
}

// --- Encoder binding.

void MainWindow::onEncoderBind()
{
    if (bindState == BindBound) {
        removeEncoderBinding();
        setBindState(BindUnbound);
        return;
    }
    // A click while waiting keeps waiting.
    setBindState(BindWaiting);
}

void MainWindow::setBindState(int state)
{
    switch (state) {
    case BindWaiting:
        ui->pbEncoder->setText(tr("ROTATE ONE ENCODER TO BIND BITEPOINT"));
        ui->pbEncoder->setChecked(true);
        break;
    case BindBound:
        ui->pbEncoder->setText(tr("CLEAR BIND ENCODER"));
        ui->pbEncoder->setChecked(false);
        break;
    default:
        ui->pbEncoder->setText(tr("ASSIGN ROTARY ENCODER"));
        ui->pbEncoder->setChecked(false);
        break;
    }
    bindState = state;
}

// A model without a stored binding leaves the state as it was.
void MainWindow::loadEncoderBinding()
{
    QSettings store = bindingStore();
    const EncoderBinding binding = readEncoderBinding(store, deviceName);
    bindUpButton = binding.up;
    bindDownButton = binding.down;
    if (binding.bound())
        setBindState(BindBound);
}

void MainWindow::saveEncoderBinding()
{
    QSettings store = bindingStore();
    writeEncoderBinding(store, deviceName, {bindUpButton, bindDownButton});
}

// The fields keep their buttons; only the stored keys go.
void MainWindow::removeEncoderBinding()
{
    QSettings store = bindingStore();
    eraseEncoderBinding(store, deviceName);
}

// Each step is a live value; the paddles page's save stores it.
void MainWindow::applyEncoderTurn(const QList<qint32> &released)
{
    if (bindState == BindWaiting) {
        EncoderBinding binding;
        if (!bindingForRelease(released, binding))
            return;
        bindUpButton = binding.up;
        bindDownButton = binding.down;
        saveEncoderBinding();
        setBindState(BindBound);
        sendPaddleConfig(false);
        return;
    }
    if (bindState != BindBound)
        return;
    const EncoderSteps steps = stepsForRelease({bindUpButton, bindDownButton}, released);
    if (steps.up) {
        ui->hsBite->setValue(ui->hsBite->value() + 1);
        sendPaddleConfig(false);
    }
    if (steps.down) {
        ui->hsBite->setValue(ui->hsBite->value() - 1);
        sendPaddleConfig(false);
    }
}

// --- Clear flash.

// The pages keep showing the values read at connection: the next connection
// reads the wheel's defaults.
void MainWindow::onClearFlash()
{
    if (!deviceHandle().isOpen())
        return;
    const QMessageBox::StandardButton answer = UserPrompts::question(
        this, tr("Notify"),
        tr("Do you want to continue?\nThis operation will delete all the settings stored in the device flash "
           "memory."),
        QMessageBox::Yes, QMessageBox::No);
    if (answer == QMessageBox::No)
        return;
    clearFlash(deviceHandle());
    UserPrompts::information(this, tr("Notify"), tr("Flash data has been cleared."));
}
