// The settings pages: pulse widths, paddles and their calibration, the
// encoder binding of the bite point, and clearing the wheel's flash.
//
// Each page keeps the value the wheel last stored in the status tip of its
// slider; a save sends only what differs from that copy.
#include "app/mainwindow.h"

#include "app/user_prompts.h"
#include "device/device_handle.h"
#include "settings/clutch_range.h"
#include "settings/encoder_binding.h"
#include "settings/live_send.h"
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
// The wheel takes a live value in a few milliseconds, but a held arrow key
// repeats faster than a person can feel the difference: one report per this
// many milliseconds is plenty.
constexpr int kLiveSendGapMs = 100;
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
    // A drag sends on release; every other way of moving a slider (keys,
    // mouse wheel, a click on the groove) goes out as it happens.
    triggerLive = new LiveSend(
        kLiveSendGapMs, [this] { onTriggerUpdate(); }, this);
    shifterLive = new LiveSend(
        kLiveSendGapMs, [this] { onShifterUpdate(); }, this);
    biteLive = new LiveSend(
        kLiveSendGapMs, [this] { onPaddleUpdate(); }, this);
    for (QSlider *slider : {ui->hsTrigger, ui->hsShifter, ui->hsBite})
        connect(slider, SIGNAL(actionTriggered(int)), this, SLOT(onSliderAction(int)));
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

// The stored copy moves only when the write went through, so a failed save
// is tried again by the next press.
void MainWindow::onSavePageE()
{
    if (!deviceHandle().isOpen())
        return;
    const int value = ui->hsTrigger->value();
    if (value != storedValue(ui->hsTrigger->statusTip())) {
        const int sent = writePulseWidth(deviceHandle(), Item::EncoderPulseWidth, value, true);
        if (sent < 0) {
            qDebug() << "encoder pulse width not saved:" << sent;
            reportNotSaved({tr("ENCODER PULSE WIDTH")});
            return;
        }
        ui->hsTrigger->setStatusTip(QString::number(value));
    }
    UserPrompts::information(this, tr("Success"), tr("Setting saved."));
}

void MainWindow::reportNotSaved(const QStringList &values)
{
    UserPrompts::critical(this, tr("Error"),
                          tr("Can not save setting.") + QLatin1Char('\n') +
                              tr("Not stored: %1.").arg(values.join(QStringLiteral(", "))));
}

void MainWindow::onSliderAction(int)
{
    auto *slider = qobject_cast<QAbstractSlider *>(sender());
    if (!slider || slider->isSliderDown())
        return;
    if (slider == ui->hsTrigger)
        triggerLive->request();
    else if (slider == ui->hsShifter)
        shifterLive->request();
    else if (slider == ui->hsBite)
        biteLive->request();
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

// A save while a clutch calibrates stores the range that side had before:
// the half-gathered one is no calibration yet.
int MainWindow::sendPaddleConfig(bool save)
{
    if (!deviceHandle().isOpen())
        return -1;
    const bool keepLeft = save && ui->pbCalL->isChecked();
    const bool keepRight = save && ui->pbCalR->isChecked();
    PaddleConfig config;
    config.biteWord = currentBiteWord();
    config.rightMax = static_cast<quint16>(keepRight ? clutchCalibration[1].keptMax : rightMax);
    config.leftMax = static_cast<quint16>(keepLeft ? clutchCalibration[0].keptMax : leftMax);
    config.rightMin = static_cast<quint16>(keepRight ? clutchCalibration[1].keptMin : rightMin);
    config.leftMin = static_cast<quint16>(keepLeft ? clutchCalibration[0].keptMin : leftMin);
    return writePaddleConfig(deviceHandle(), config, save);
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
// silence. The bite point's stored copy moves only when its write went
// through, so a failed one is sent again by the next save.
void MainWindow::onSavePageP()
{
    if (!deviceHandle().isOpen())
        return;
    const bool fromButton = sender() == ui->pbSaveP;
    QStringList notStored;

    const quint16 biteWord = currentBiteWord();
    if (biteWord != storedValue(ui->hsBite->statusTip())) {
        if (sendPaddleConfig(true) < 0)
            notStored << tr("BITE POINT");
        else
            ui->hsBite->setStatusTip(QString::number(biteWord));
    }
    if (saveItemEnabledIfChanged(deviceHandle(), Item::ExtraShiftersEnabled, ui->cbShifter->isChecked()) < 0)
        notStored << tr("ENABLE EXTRA SHIFTERS");
    if (saveItemEnabledIfChanged(deviceHandle(), Item::ClutchesEnabled, ui->cbClutch->isChecked()) < 0)
        notStored << tr("ENABLE CLUTCHES");

    if (!notStored.isEmpty())
        qDebug() << "paddles page not saved:" << notStored;
    if (!fromButton)
        return;
    if (notStored.isEmpty())
        UserPrompts::information(this, tr("Success"), tr("Setting saved."));
    else
        reportNotSaved(notStored);
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

// A calibration that ends before its range was emptied, or with a range no
// paddle travel makes (see isUsableClutchRange), stores nothing: the side
// gets its previous range back, live too, since the wheel has been working
// over the full raw range meanwhile.
void MainWindow::calibrateClutch(bool checked, bool left)
{
    QPushButton *button = left ? ui->pbCalL : ui->pbCalR;
    quint32 &min = left ? leftMin : rightMin;
    quint32 &max = left ? leftMax : rightMax;
    ClutchCalibration &run = clutchCalibration[left ? 0 : 1];
    if (!checked) {
        button->setText(tr("CALIBRATE"));
        if (run.settled && isUsableClutchRange(min, max)) {
            sendPaddleConfig(true);
            return;
        }
        qDebug() << "clutch calibration not saved:" << (left ? "left" : "right") << min << max;
        min = run.keptMin;
        max = run.keptMax;
        sendPaddleConfig(false);
        UserPrompts::information(this, tr("Notify"),
                                 tr("No paddle movement seen; the calibration was not saved."));
        return;
    }
    run = {min, max, false};
    min = 0;
    max = kPaddleFullScale;
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
        clutchCalibration[0].settled = true;
    }
    if (ui->pbCalR->text().contains(calibrating)) {
        rightMin = kPaddleFullScale;
        rightMax = 0;
        clutchCalibration[1].settled = true;
    }
}

void MainWindow::cancelClutchCalibrations()
{
    bool cancelled = false;
    for (const bool left : {true, false}) {
        QPushButton *button = left ? ui->pbCalL : ui->pbCalR;
        if (!button->isChecked())
            continue;
        {
            const QSignalBlocker quiet(button);
            button->setChecked(false);
        }
        button->setText(tr("CALIBRATE"));
        const ClutchCalibration &run = clutchCalibration[left ? 0 : 1];
        (left ? leftMin : rightMin) = run.keptMin;
        (left ? leftMax : rightMax) = run.keptMax;
        cancelled = true;
    }
    if (cancelled)
        sendPaddleConfig(false);
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
