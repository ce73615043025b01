#include "device/device_status.h"

#include "device/device_handle.h"

#include <QCoreApplication>
#include <QDebug>
#include <QLabel>

namespace {

const char *const kTranslationContext = "MainWindow";

QString translated(const char *text)
{
    return QCoreApplication::translate(kTranslationContext, text);
}

// Some firmware builds end their version text with the separator of a field
// that follows it in the wheel's own menu.
constexpr QChar kVersionTail = QLatin1Char(':');

} // namespace

QString displayedVersion(const QString &wheelText)
{
    if (wheelText.endsWith(kVersionTail))
        return wheelText.chopped(1);
    return wheelText;
}

QString firmwareVersionLabel(const QString &version)
{
    return translated(QT_TRANSLATE_NOOP("MainWindow", "Firmware Version: ")) + version;
}

QString readFirmwareVersion(DeviceHandle &device)
{
    if (!device.isOpen())
        return QString();
    CommandReport reply = makeQuery(Record::FirmwareVersionRecord);
    device.query(reply.data(), kCommandSendLength, kCommandReplyLength);
    return displayedVersion(parseFirmwareVersion(reply));
}

void loadFirmwareVersion(DeviceHandle &device, QLabel *versionLabel)
{
    const QString version = readFirmwareVersion(device);
    versionLabel->setText(firmwareVersionLabel(version));
    versionLabel->show();
    qDebug().noquote() << "Firmware Version:" << version;
}

QString batteryStatusText(const PowerStatus &status)
{
    const QString prefix = translated(QT_TRANSLATE_NOOP("MainWindow", "BATTERY STATUS: "));
    if (status.link == kLinkUsb || status.levelWord >= kExternalPowerLevel)
        return prefix + QStringLiteral("USB");
    return prefix + QString::number(status.percentage) + QLatin1Char('%');
}

bool bluetoothShown(const PowerStatus &status)
{
    return status.link == kLinkBluetooth;
}

std::optional<PowerStatus> readPowerStatus(DeviceHandle &device)
{
    if (!device.isOpen())
        return std::nullopt;
    CommandReport reply = makeQuery(Record::PowerStatusRecord);
    device.query(reply.data(), kCommandSendLength, kCommandReplyLength);
    return parsePowerStatus(reply);
}

void showPowerStatus(const PowerStatus &status, QLabel *bluetoothLabel, QLabel *batteryLabel)
{
    bluetoothLabel->setVisible(bluetoothShown(status));
    batteryLabel->setText(batteryStatusText(status));
    qDebug() << "BATTERY:" << status.percentage << status.levelWord;
}
