#include "upgrade/quor_upgrade.h"

#include "device/command_report.h"
#include "device/device_handle.h"
#include "upgrade/dfu_flasher.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QFile>

namespace {

// The boot loader enumerates some time after the wheel was told to reboot;
// until then every attempt ends with DfuNoDevice.
constexpr int kLoaderAttempts = 30;
constexpr int kAttemptsPerProgressStep = 6;

constexpr int kTransferShare = 96;
constexpr int kFinishSteps[] = {97, 98, 99, 100};

} // namespace

QuorUpgrade::QuorUpgrade(QObject *parent) : QThread(parent) {}

QuorUpgrade::~QuorUpgrade()
{
    cancel();
    waitForFinished();
}

void QuorUpgrade::setPauses(unsigned long finishStepMs, unsigned long loaderRetryMs)
{
    finishStepMs_ = finishStepMs;
    loaderRetryMs_ = loaderRetryMs;
}

bool QuorUpgrade::waitForFinished(int ms)
{
    if (!wait(ms < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(ms)))
        return false;
    const std::lock_guard<std::mutex> handOver(runLock);
    return true;
}

bool QuorUpgrade::busy()
{
    if (isRunning())
        return true;
    // Past run()'s end already, so this never waits for long.
    const std::lock_guard<std::mutex> handOver(runLock);
    return false;
}

void QuorUpgrade::run()
{
    const std::lock_guard<std::mutex> wholeRun(runLock);
    cancelled = false;
    if (mode == Dfu)
        runDfu();
    else
        runHidTransfer();
}

void QuorUpgrade::runHidTransfer()
{
    DeviceHandle &wheel = deviceHandle();
    if (!wheel.isOpen()) {
        emit failed(NoWheelOpen, QStringLiteral("no wheel is connected"));
        return;
    }
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly)) {
        emit failed(ImageUnreadable, QStringLiteral("cannot read %1: %2").arg(filePath, file.errorString()));
        return;
    }
    const QByteArray image = file.readAll();
    file.close();
    const int size = int(image.size());
    const auto *data = reinterpret_cast<const uint8_t *>(image.constData());

    // One buffer for the whole stream: a short last chunk leaves the previous
    // chunk's tail behind it, and the closing command carries whatever the
    // last data report left.
    CommandReport buffer{};
    buffer[0] = kCommandReportId;
    int lastReported = -1;
    for (int offset = 0; offset < size; offset += int(kFirmwareChunkSize)) {
        if (cancelled) {
            emit failed(DfuCancelled, QStringLiteral("the update was stopped"));
            return;
        }
        writeFirmwareDataReport(buffer, data, std::size_t(size), std::size_t(offset));
        const int sent = wheel.sendFeatureReport(buffer.data(), kCommandSendLength);
        if (sent < 0) {
            // The wheel only installs a stream that arrived whole, so after a
            // lost chunk there is nothing to finish: a closing command would
            // just restart it on its old firmware, and 97..100 would tell the
            // user the update worked. Stop at the error value and keep the
            // image so the update can be tried again.
            qDebug() << "Firmware report at offset" << offset << "failed with" << sent;
            emit failed(sent, QStringLiteral("the wheel did not take the firmware data at byte %1 of %2")
                                  .arg(offset)
                                  .arg(size));
            return;
        }
        const int share = offset * kTransferShare / size;
        if (share != lastReported) {
            emit progress(share);
            lastReported = share;
        }
    }

    writeReboot(buffer);
    wheel.sendFeatureReport(buffer.data(), kCommandSendLength);
    for (const int step : kFinishSteps) {
        QThread::msleep(finishStepMs_);
        emit progress(step);
    }
    removeIfDownloaded();
}

void QuorUpgrade::runDfu()
{
    // The defaults are the wheel's own boot loader.
    DfuFlashOptions options;
    options.location = loader;
    options.cancel = &cancelled;
    const DfuProgress forward = [this](int value) {
        emit progress(value);
    };
    int result = DfuNoDevice;
    QString failure;
    for (int attempt = 0; attempt < kLoaderAttempts && !cancelled; ++attempt) {
        result = dfuFlash(options, filePath, forward, &failure);
        if (result != DfuNoDevice)
            break;
        emit progress(attempt / kAttemptsPerProgressStep + 1);
        QThread::msleep(loaderRetryMs_);
    }
    if (result == DfuFlashOk) {
        removeIfDownloaded();
        return;
    }
    if (cancelled && result == DfuNoDevice) {
        result = DfuCancelled;
        failure = QStringLiteral("the update was stopped");
    }
    emit failed(result, failure);
}

void QuorUpgrade::removeIfDownloaded() const
{
    if (removeAfterSuccess)
        QFile::remove(filePath);
}
