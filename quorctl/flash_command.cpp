#include "device/command_report.h"
#include "device/device_handle.h"
#include "quorctl/commands.h"
#include "quorctl/console.h"
#include "quorctl/exit_codes.h"
#include "quorctl/flash_progress.h"
#include "quorctl/wheel_session.h"
#include "upgrade/dfu_flasher.h"
#include "upgrade/firmware_file.h"
#include "upgrade/quor_upgrade.h"
#include "upgrade/vector_table.h"

#include <QEventLoop>
#include <QFile>

namespace {

constexpr uint32_t kFlashBase = 0x08000000;

// The model whose firmware goes in through its USB boot loader; every other
// model takes the image over its HID link.
bool flashesThroughBootLoader(const QString &modelCode)
{
    return modelCode == QLatin1String("PELIX");
}

int runWorker(const QString &path, int mode)
{
    QuorUpgrade worker;
    FlashProgress shown(stdoutIsTerminal());
    QEventLoop loop;
    QObject::connect(&worker, SIGNAL(progress(int)), &shown, SLOT(onProgress(int)));
    QObject::connect(&worker, SIGNAL(finished()), &loop, SLOT(quit()));
    worker.setFilePath(path);
    worker.setMode(mode);
    worker.start();
    loop.exec();
    worker.waitForFinished();
    if (shown.last() == DfuNoDevice)
        return reportError(ExitDeviceError, QStringLiteral("the boot loader did not appear; the wheel may be "
                                                           "waiting in it for another try"));
    if (shown.last() < 0)
        return reportError(ExitDeviceError,
                           QStringLiteral("the firmware update failed (%1)").arg(shown.last()));
    if (shown.last() != 100)
        return reportError(ExitDeviceError, QStringLiteral("the firmware update did not finish"));
    printLine(QStringLiteral("firmware installed; the wheel restarts"));
    return ExitSuccess;
}

} // namespace

int runFlash(const CommandLine &line)
{
    QFile file(line.file);
    if (!file.open(QIODevice::ReadOnly))
        return reportError(ExitBadFile,
                           QStringLiteral("cannot read %1: %2").arg(line.file, file.errorString()));
    const QByteArray image = file.readAll();
    if (image.isEmpty() || !acceptableFirmwarePath(line.file))
        return reportError(ExitBadFile,
                           QStringLiteral("%1: not a valid firmware (a .bin file of 1 to %2 bytes)")
                               .arg(line.file)
                               .arg(kMaxFirmwareImageSize));

    WheelSession session;
    if (const int code = session.open(true))
        return reportError(code, session.error());
    if (!flashesThroughBootLoader(session.modelCode()))
        return runWorker(line.file, QuorUpgrade::HidTransfer);

    // Once rebooted the wheel stays in its boot loader until an image is
    // flashed, so an image the flasher would refuse is refused here, first.
    QString reason;
    if (!checkVectorTable(image, kFlashBase, reason))
        return reportError(ExitBadFile, QStringLiteral("%1: %2").arg(line.file, reason));
    const CommandReport reboot = makeReboot();
    if (deviceHandle().sendFeatureReport(reboot.data(), kCommandSendLength) < 0)
        return reportError(ExitDeviceError, QStringLiteral("the wheel did not take the reboot command"));
    deviceHandle().close();
    printNote(QStringLiteral("waiting for the boot loader..."));
    return runWorker(line.file, QuorUpgrade::Dfu);
}
