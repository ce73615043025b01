// The RGB page: reading the LED colours from the wheel, editing them and
// sending them back.
#include "app/mainwindow.h"

#include "app/accessible_names.h"
#include "app/user_prompts.h"
#include "device/command_report.h"
#include "device/device_handle.h"
#include "device/model_layout.h"
#include "led/button_colour.h"
#include "led/channel_order.h"
#include "led/led_colour_read.h"
#include "led/led_colour_write.h"
#include "led/led_frame.h"
#include "led/led_maps.h"
#include "led/led_presets.h"
#include "settings/page_values.h"
#include "ui_mainwindow.h"

#include <QDebug>
#include <QHash>
#include <QPushButton>

#include <array>

namespace {

// Every LED button of the RGB page, and nothing else there, carries one of
// these prefixes ("pbT" takes in the light rows pbTL*/pbTR*).
constexpr std::array<const char *, 4> kLedButtonPrefixes{"pbT", "pbB", "pbD", "pbX"};
const QString kPresetPrefix = QStringLiteral("pbSet");
// "pbSetR": the preset's letter follows the prefix.
constexpr int kPresetKeyIndex = 5;

bool isLedButton(const QString &name)
{
    for (const char *prefix : kLedButtonPrefixes) {
        if (name.startsWith(QLatin1String(prefix)))
            return true;
    }
    return false;
}

// The LED buttons of the RGB page, in the form's order.
QList<QWidget *> ledButtons(const QWidget *page)
{
    QList<QWidget *> buttons;
    for (QObject *child : page->children()) {
        auto *widget = qobject_cast<QWidget *>(child);
        if (widget && isLedButton(widget->objectName()))
            buttons << widget;
    }
    return buttons;
}

void paintButton(QWidget *button, const QColor &colour)
{
    QString sheet = button->styleSheet();
    setButtonColour(sheet, colour);
    setStyleSheetIfChanged(button, sheet);
    AccessibleNames::describeLedColour(button, colour);
}

// The colour goes out as black when the sheet holds no valid one.
Rgb frameColour(const QWidget *button, int order)
{
    const QColor colour = buttonColour(button->styleSheet(), order);
    if (!colour.isValid())
        return Rgb{};
    return Rgb{static_cast<uint8_t>(colour.red()), static_cast<uint8_t>(colour.green()),
               static_cast<uint8_t>(colour.blue())};
}

} // namespace

void MainWindow::connectLedWidgets()
{
    for (QObject *child : ui->page2->children()) {
        auto *button = qobject_cast<QPushButton *>(child);
        if (!button)
            continue;
        const QString name = button->objectName();
        // Typed connections: a hundred and more of them are made while the
        // window is built, and each by name costs a parse and a lookup.
        if (name.startsWith(kPresetPrefix))
            connect(button, &QPushButton::clicked, this, &MainWindow::onSetColor);
        else if (isLedButton(name))
            connect(button, &QPushButton::clicked, this, &MainWindow::onColorPick);
    }
    connect(ui->pbSave, SIGNAL(clicked(bool)), this, SLOT(onSaveColor()));
}

void MainWindow::describeLedColours()
{
    for (QWidget *button : ledButtons(ui->page2))
        AccessibleNames::describeLedColour(
            button, buttonColour(button->styleSheet(), static_cast<int>(ChannelOrder::RGB)));
}

// One buffer serves every page request: only its first four bytes are set
// each time, so each request carries the tail of the reply before it. The
// wheel looks at no more than the record code, and a page whose exchange
// failed still yields the buffer as it stands, as the rest of the protocol
// does.
void MainWindow::readLedColours()
{
    const int pageCount = ledPageCount(deviceName);
    LedFrame frame{};
    CommandReport buffer{};
    for (int page = 0; page < pageCount; ++page) {
        if (deviceHandle().isOpen()) {
            buffer[0] = kCommandReportId;
            buffer[1] = static_cast<uint8_t>(Command::Query);
            buffer[2] = static_cast<uint8_t>(static_cast<int>(Record::LedPageRecord) + page);
            buffer[3] = 0;
            deviceHandle().query(buffer.data(), kCommandSendLength, kCommandReplyLength);
        }
        setLedFramePage(frame, page, parseLedPage(buffer));
    }

    ExtraLeds extraLeds;
    if (readsExtraLeds(deviceName) && deviceHandle().isOpen()) {
        CommandReport record = makeQuery(Record::ExtraLedRecord);
        deviceHandle().query(record.data(), kCommandSendLength, kCommandReplyLength);
        extraLeds = parseExtraLedRecord(record);
    }

    for (const LedPaint &paint : ledColoursToPaint(deviceName, frame, extraLeds)) {
        if (auto *button = ui->page2->findChild<QWidget *>(paint.button))
            paintButton(button, paint.colour);
    }
}

// Every send carries the whole frame, rebuilt from all the LED buttons,
// hidden ones included. A report that fails does not stop the rest: the
// wheel still gets as much of the new colours as it takes.
bool MainWindow::sendLedColours(bool commit)
{
    if (!deviceHandle().isOpen())
        return false;
    QHash<QString, QString> sheets;
    for (const QWidget *button : ledButtons(ui->page2))
        sheets.insert(button->objectName(), button->styleSheet());
    const LedColourWrite write = ledColourWrite(deviceName, ledButtonColoursFromStyleSheets(sheets), commit);

    bool allSent = true;
    if (write.extraLeds) {
        const LedMap *map = ledMapFor(deviceName);
        allSent = sendExtraLedColours(commit, static_cast<int>(map->extraLedOrder));
    }
    for (const LedPageReport &page : write.pages) {
        if (deviceHandle().write(page.data(), page.size()) < 0)
            allSent = false;
    }
    if (write.commit && deviceHandle().sendFeatureReport(write.commit->data(), kCommandSendLength) < 0)
        allSent = false;
    return allSent;
}

// The extra LEDs take full 8-bit values and carry their own save marker.
bool MainWindow::sendExtraLedColours(bool commit, int order)
{
    if (!deviceHandle().isOpen())
        return false;
    const CommandReport report =
        makeSetExtraLedColours(commit, frameColour(ui->pbXL, order), frameColour(ui->pbXR, order));
    return deviceHandle().sendFeatureReport(report.data(), kCommandSendLength) >= 0;
}

void MainWindow::onColorPick()
{
    auto *button = qobject_cast<QWidget *>(sender());
    if (!button)
        return;
    qDebug() << "LED button" << button->objectName();
    const QColor picked =
        UserPrompts::colour(buttonColour(button->styleSheet(), static_cast<int>(ChannelOrder::RGB)));
    if (!picked.isValid())
        return;
    paintButton(button, picked);
    sendLedColours(false);
}

// Only the LEDs the user can see change; the model's hidden buttons keep
// their colours and still go out with them.
void MainWindow::onSetColor()
{
    const QString name = sender() ? sender()->objectName() : QString();
    if (name.size() <= kPresetKeyIndex)
        return;
    const LedPreset *preset = ledPresetByKey(name.at(kPresetKeyIndex));
    if (!preset)
        return;
    const QColor colour(preset->colour.red, preset->colour.green, preset->colour.blue);
    for (QWidget *button : ledButtons(ui->page2)) {
        if (button->isVisible())
            paintButton(button, colour);
    }
    sendLedColours(false);
}

// The shifter pulse width sits on this page, so its Save stores it too, but
// only when it differs from what the wheel last reported or was told. Its
// stored copy moves only when the write went through, so a failed one is
// sent again by the next save; the colours always go out whole.
void MainWindow::onSaveColor()
{
    QStringList notStored;
    const int value = ui->hsShifter->value();
    if (value != storedValue(ui->hsShifter->statusTip())) {
        int sent = -1;
        if (deviceHandle().isOpen()) {
            const CommandReport report =
                makeSetItem(Item::ShifterPulseWidth, static_cast<uint32_t>(value), true);
            sent = deviceHandle().sendFeatureReport(report.data(), kCommandSendLength);
        }
        if (sent < 0)
            notStored << tr("SHIFTER PULSE WIDTH");
        else
            ui->hsShifter->setStatusTip(QString::number(value));
    }
    if (!sendLedColours(true))
        notStored << tr("LED colors");
    if (notStored.isEmpty()) {
        UserPrompts::information(this, tr("Success"), tr("LED colors and shifter value saved."));
        return;
    }
    qDebug() << "RGB page not saved:" << notStored;
    reportNotSaved(notStored);
}
