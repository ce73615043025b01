#include "device/device_handle.h"
#include "device/device_status.h"
#include "device/model_table.h"
#include "quorctl/commands.h"
#include "quorctl/console.h"
#include "quorctl/exit_codes.h"
#include "quorctl/wheel_session.h"

int runStatus()
{
    WheelSession session;
    if (const int code = session.open(true))
        return reportError(code, session.error());
    const ModelEntry *entry = ModelTable::byCode(session.modelCode().toLatin1().constData());
    printLine(QStringLiteral("model: %1").arg(entry ? session.modelCode() : QStringLiteral("unknown")));
    printLine(QStringLiteral("name: %1").arg(session.name()));
    printLine(
        QStringLiteral("product id: 0x%1")
            .arg(QString::number(session.productId(), 16).toUpper().rightJustified(4, QLatin1Char('0'))));
    printLine(QStringLiteral("firmware: %1").arg(readFirmwareVersion(deviceHandle())));
    // Only the wireless models report their power; the others answer with
    // fixed values that mean nothing.
    if (entry && entry->statusPoll) {
        const std::optional<PowerStatus> power = readPowerStatus(deviceHandle());
        if (!power)
            return reportError(ExitDeviceError, QStringLiteral("the wheel went away"));
        printLine(
            QStringLiteral("battery: %1").arg(batteryStatusText(*power).section(QLatin1String(": "), 1)));
        printLine(QStringLiteral("link: %1")
                      .arg(bluetoothShown(*power) ? QStringLiteral("Bluetooth") : QStringLiteral("USB")));
    }
    return ExitSuccess;
}
