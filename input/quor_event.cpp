#include "input/quor_event.h"

#include "device/device_handle.h"

#include <QDebug>

#include <cstdint>

QuorEvent::QuorEvent(QObject *parent) : QThread(parent) {}

void QuorEvent::run()
{
    DeviceHandle &device = deviceHandle();
    device.setNonblocking(true);

    // Not cleared between reads: a short report keeps the tail of the one
    // before it, and every payload is emitted as 16 bytes.
    uint8_t buffer[kReportSize] = {};

    while (!isInterruptionRequested()) {
        if (!device.isOpen()) {
            emit deviceDisconnect();
            return;
        }
        const int read = device.readInput(buffer, sizeof buffer, kReadTimeoutMs);
        if (read < 0)
            break;
        if (read == 0)
            continue;
        emit eventTrigger(QByteArray(reinterpret_cast<const char *>(buffer) + 1, kReportSize - 1));
    }

    if (device.isOpen())
        device.close();
    if (!isInterruptionRequested())
        emit deviceDisconnect();
    qDebug() << "joystick event thread done.";
}
