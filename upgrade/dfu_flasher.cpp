#include "upgrade/dfu_flasher.h"

#include "upgrade/dfu_protocol.h"
#include "upgrade/libusb_guards.h"
#include "upgrade/vector_table.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QDebug>
#include <QFile>
#include <QThread>

#include <algorithm>

namespace {

constexpr int kSerialBufferSize = 256;
// DfuSe reserves block numbers 0 (commands) and 1; memory starts at block 2,
// which the device places at its address pointer.
constexpr int kFirstDataBlock = 2;
constexpr int kSmallestFirstBlock = 32;
constexpr uint16_t kDetachWaitMs = 1000;
constexpr unsigned long kAfterDetachMs = 1500;
constexpr uint32_t kLongestBusyPollMs = 1000;
constexpr unsigned long kUnexpectedStatePollMs = 50;
// Programming one block takes milliseconds. A block still not taken after
// 5 s is given up, whether the device keeps saying dfuDNBUSY or sits in a
// state that is neither busy, done nor an error (it has dropped the block):
// that is as long as the DNLOAD itself may take.
constexpr int kBlockDeadlineMs = 5000;
// After the leave request the device reports dfuMANIFEST and goes; a few
// polls are plenty.
constexpr int kLeavePolls = 10;
// Going back to dfuIDLE takes at most: the busy answer of a pending command,
// its end, a refused CLRSTATUS, the CLRSTATUS that clears it, and dfuIDLE.
constexpr int kBackToIdleTries = 10;

// How a DfuSe command is waited for. Each try sleeps first, then asks
// GETSTATUS and, depending on the wait, GETSTATE; dfuDNLOAD-IDLE ends it.
// Running out of tries is not an error: the next request finds out.
enum class StateCheck
{
    None,      // GETSTATUS only
    Fresh,     // GETSTATE too, when it answers
    LastKnown, // GETSTATE too; when it fails, its last answer counts
};
struct CommandWait
{
    int tries;
    unsigned long sleepMs;
    StateCheck stateCheck;
};
constexpr CommandWait kAddressWait{10, 100, StateCheck::Fresh};
constexpr CommandWait kEraseWait{200, 150, StateCheck::LastKnown};
constexpr CommandWait kReAddressWait{10, 50, StateCheck::None};

struct Session
{
    libusb_device_handle *handle = nullptr;
    uint16_t interfaceNumber = 0;
    const std::atomic<bool> *cancel = nullptr;
    DfuStatus status{};    // the last GETSTATUS answer
    int lastGetState = -1; // the last GETSTATE answer of a command wait
    QString failure;       // what went wrong, for the user

    bool cancelled() const { return cancel && cancel->load(); }
    int fail(int code, const QString &what)
    {
        failure = what;
        return code;
    }
};

QString hexAddress(uint32_t address)
{
    return QStringLiteral("0x") + QString::number(address, 16);
}

// Addresses as the user reads them in a message: eight digits.
QString paddedAddress(uint32_t address)
{
    return QStringLiteral("0x%1").arg(address, 8, 16, QLatin1Char('0'));
}

struct UsbErrorText
{
    int code;
    const char *text;
};
constexpr UsbErrorText kUsbErrorTexts[] = {
    {LIBUSB_ERROR_PIPE, "the boot loader stalled"},
    {LIBUSB_ERROR_TIMEOUT, "the boot loader did not answer in time"},
    {LIBUSB_ERROR_NO_DEVICE, "the boot loader left the bus"},
    {LIBUSB_ERROR_IO, "the USB transfer failed"},
    {LIBUSB_ERROR_BUSY, "another program holds the boot loader"},
    {LIBUSB_ERROR_ACCESS, "no permission to use the boot loader"},
};

QString usbErrorText(int rc)
{
    for (const UsbErrorText &e : kUsbErrorTexts)
        if (e.code == rc)
            return QLatin1String(e.text);
    return QStringLiteral("USB error %1 (%2)").arg(rc).arg(QLatin1String(libusb_strerror(rc)));
}

// The DFU 1.1 bStatus names, as the standard spells them.
constexpr const char *kDfuStatusNames[] = {"OK",         "errTARGET",       "errFILE",     "errWRITE",
                                           "errERASE",   "errCHECK_ERASED", "errPROG",     "errVERIFY",
                                           "errADDRESS", "errNOTDONE",      "errFIRMWARE", "errVENDOR",
                                           "errUSBR",    "errPOR",          "errUNKNOWN",  "errSTALLEDPKT"};

QString reportedError(const DfuStatus &status)
{
    const QString name = status.bStatus < std::size(kDfuStatusNames)
                             ? QLatin1String(kDfuStatusNames[status.bStatus])
                             : QStringLiteral("status %1").arg(status.bStatus);
    return QStringLiteral("the boot loader reported %1").arg(name);
}

QString serialNumber(libusb_device_handle *handle, uint8_t index)
{
    unsigned char text[kSerialBufferSize] = {};
    const int rc = libusb_get_string_descriptor_ascii(handle, index, text, sizeof text);
    const auto *chars = reinterpret_cast<const char *>(text);
    const int length = rc > 0 ? int(qstrnlen(chars, uint(rc))) : 0;
    return QString::fromLatin1(chars, length).trimmed();
}

// The first device of the list that matches and opens; empty when none.
LibusbHandle takeMatchingDevice(const LibusbDeviceList &list, const DfuFlashOptions &options)
{
    for (ssize_t i = 0; i < list.count(); ++i) {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(list[i], &descriptor) != 0)
            continue;
        if (descriptor.idVendor != options.vendorId || descriptor.idProduct != options.productId)
            continue;
        const UsbLocation here{libusb_get_bus_number(list[i]), libusb_get_device_address(list[i])};
        if (options.location.bus != 0 && !(here == options.location))
            continue;
        libusb_device_handle *opened = nullptr;
        if (libusb_open(list[i], &opened) != 0)
            continue;
        LibusbHandle handle(opened);
        if (options.serialFilter.isEmpty() || descriptor.iSerialNumber == 0)
            return handle;
        if (serialNumber(opened, descriptor.iSerialNumber) == options.serialFilter)
            return handle;
    }
    return {};
}

int effectiveTransferSize(Session &s, const DfuFlashOptions &options)
{
    const int bound = options.transferSize < 1 ? kBootLoaderTransferSize : options.transferSize;
    int deviceSize = dfuFunctionalTransferSize(s.handle, s.interfaceNumber);
    if (deviceSize == 0)
        deviceSize = bound & 0xFFFF;
    if (deviceSize == 0)
        deviceSize = kBootLoaderTransferSize;
    return std::min(deviceSize, bound);
}

// Leaves the device in dfuIDLE when it can be brought there, or with a
// pending DETACH done when it is still in its application.
int settleInitialState(Session &s)
{
    dfuClearStatus(s.handle, s.interfaceNumber);
    dfuGetStatus(s.handle, s.interfaceNumber, s.status);
    qDebug() << "Initial DFU status: state=" << int(s.status.bState) << "status=" << int(s.status.bStatus);
    if (s.status.bState == DfuState::Error) {
        dfuClearStatus(s.handle, s.interfaceNumber);
        dfuGetStatus(s.handle, s.interfaceNumber, s.status);
    }
    if (s.status.bState == DfuState::AppIdle) {
        dfuDetach(s.handle, s.interfaceNumber, kDetachWaitMs);
        QThread::msleep(kAfterDetachMs);
    }
    const int read = dfuGetState(s.handle, s.interfaceNumber);
    const int state = read < 0 ? 0 : read;
    qDebug() << "State before upload loop:" << state;
    return state;
}

enum class WaitOutcome
{
    Done,
    StillBusy, // the tries ran out with the device reporting dfuDNBUSY
    Error,     // the device reported dfuERROR
    Other,     // the tries ran out in some other state
    Cancelled,
};

WaitOutcome waitForCommand(Session &s, const CommandWait &wait)
{
    for (int i = 0; i < wait.tries; ++i) {
        if (s.cancelled())
            return WaitOutcome::Cancelled;
        QThread::msleep(wait.sleepMs);
        const bool answered = dfuGetStatus(s.handle, s.interfaceNumber, s.status) == 0;
        if (answered && s.status.bState == DfuState::DownloadIdle)
            return WaitOutcome::Done;
        if (answered && s.status.bState == DfuState::Error)
            return WaitOutcome::Error;
        if (wait.stateCheck == StateCheck::None)
            continue;
        const int state = dfuGetState(s.handle, s.interfaceNumber);
        if (state >= 0)
            s.lastGetState = state;
        const int tested = wait.stateCheck == StateCheck::LastKnown ? s.lastGetState : state;
        if (tested == DfuState::DownloadIdle)
            return WaitOutcome::Done;
    }
    return s.status.bState == DfuState::DownloadBusy ? WaitOutcome::StillBusy : WaitOutcome::Other;
}

int cancelledFlash(Session &s)
{
    qDebug() << "Flash cancelled";
    return s.fail(DfuCancelled, QStringLiteral("the update was stopped"));
}

int addressAndErase(Session &s, uint32_t base, uint32_t size, uint32_t page)
{
    qDebug().noquote() << "Sending Set Address command to" << hexAddress(base);
    const QString cannotSet = QStringLiteral("cannot set the write address %1: %2");
    int rc = dfuseCommand(s.handle, s.interfaceNumber, DfuseCommand::SetAddressPointer, base);
    if (rc < 0) {
        qDebug() << "Set Address command failed with rc=" << rc;
        return s.fail(DfuSetAddressFailed, cannotSet.arg(paddedAddress(base), usbErrorText(rc)));
    }
    if (waitForCommand(s, kAddressWait) == WaitOutcome::Cancelled)
        return cancelledFlash(s);

    for (const uint32_t address : dfuseErasePages(base, size, page)) {
        qDebug().noquote() << "Erasing page at" << hexAddress(address);
        const QString cannotErase = QStringLiteral("cannot erase page %1: %2").arg(paddedAddress(address));
        rc = dfuseCommand(s.handle, s.interfaceNumber, DfuseCommand::Erase, address);
        if (rc < 0) {
            qDebug().noquote() << "Erase command failed with rc=" << rc << " at" << hexAddress(address);
            return s.fail(DfuEraseFailed, cannotErase.arg(usbErrorText(rc)));
        }
        // A page that is still being erased after the whole wait, or that
        // the device could not erase, would only make every later page wait
        // as long again before the data are refused.
        switch (waitForCommand(s, kEraseWait)) {
        case WaitOutcome::Cancelled:
            return cancelledFlash(s);
        case WaitOutcome::StillBusy:
            qDebug() << "Erase still busy after the wait";
            return s.fail(DfuEraseFailed, cannotErase.arg(QStringLiteral("the boot loader stayed busy")));
        case WaitOutcome::Error:
            qDebug() << "Erase ended in dfuERROR, status" << int(s.status.bStatus);
            return s.fail(DfuEraseFailed, cannotErase.arg(reportedError(s.status)));
        default:
            break;
        }
    }

    dfuGetStatus(s.handle, s.interfaceNumber, s.status);
    qDebug() << "Final state before upload:" << int(s.status.bState);
    rc = dfuseCommand(s.handle, s.interfaceNumber, DfuseCommand::SetAddressPointer, base);
    if (rc < 0) {
        qDebug() << "Re-Set Address command failed with rc=" << rc;
        return s.fail(DfuSetAddressFailed, cannotSet.arg(paddedAddress(base), usbErrorText(rc)));
    }
    if (waitForCommand(s, kReAddressWait) == WaitOutcome::Cancelled)
        return cancelledFlash(s);
    return 0;
}

// Polls until the device has programmed the block just sent; `where`
// names the block for a failure message.
int waitForBlock(Session &s, const QString &where)
{
    const QDeadlineTimer deadline(kBlockDeadlineMs);
    for (;;) {
        if (s.cancelled())
            return cancelledFlash(s);
        const int rc = dfuGetStatus(s.handle, s.interfaceNumber, s.status);
        if (rc < 0)
            return s.fail(DfuBlockStatusFailed,
                          QStringLiteral("no status after writing %1: %2").arg(where, usbErrorText(rc)));
        switch (s.status.bState) {
        case DfuState::DownloadIdle:
        case DfuState::ManifestSync:
        case DfuState::Manifest:
        case DfuState::ManifestWaitReset:
            return 0;
        case DfuState::Error:
            dfuClearStatus(s.handle, s.interfaceNumber);
            return s.fail(DfuBlockWriteError,
                          QStringLiteral("cannot write %1: %2").arg(where, reportedError(s.status)));
        default:
            break;
        }
        const bool busy = s.status.bState == DfuState::DownloadBusy;
        if (deadline.hasExpired()) {
            qDebug() << "Block not taken, device stays in state" << int(s.status.bState);
            return busy ? s.fail(DfuBlockTimeout,
                                 QStringLiteral("cannot write %1: the boot loader stayed busy").arg(where))
                        : s.fail(DfuBlockStateUnexpected,
                                 QStringLiteral("cannot write %1: the boot loader dropped it (state %2)")
                                     .arg(where)
                                     .arg(s.status.bState));
        }
        QThread::msleep(busy ? std::min(s.status.bwPollTimeout, kLongestBusyPollMs) : kUnexpectedStatePollMs);
    }
}

QString blockPlace(int block, uint32_t address)
{
    return QStringLiteral("block %1 at %2").arg(block).arg(paddedAddress(address));
}

// Sends the first block of a run, halving it while the device stalls it.
int sendFirstBlock(Session &s, const char *data, int &chunk, bool &halved)
{
    int rc = dfuDownload(s.handle, s.interfaceNumber, kFirstDataBlock, data, uint16_t(chunk));
    while (rc == LIBUSB_ERROR_PIPE && chunk > kSmallestFirstBlock) {
        chunk /= 2;
        halved = true;
        qDebug() << "First block failed PIPE, retry with" << chunk << "bytes";
        rc = dfuDownload(s.handle, s.interfaceNumber, kFirstDataBlock, data, uint16_t(chunk));
    }
    if (rc == LIBUSB_ERROR_PIPE)
        return s.fail(
            DfuBlockDownloadFailed,
            QStringLiteral("cannot send the first block: the boot loader stalled it down to %1 bytes")
                .arg(chunk));
    if (rc < 0) {
        qDebug() << "DFU_DNLOAD failed with code:" << rc;
        return s.fail(DfuBlockDownloadFailed,
                      QStringLiteral("cannot send the first block: %1").arg(usbErrorText(rc)));
    }
    return 0;
}

// Downloads the image from the device's address pointer on; *leaveBlock
// receives the block number after the last one sent.
int downloadImage(Session &s, const QByteArray &image, uint32_t base, int blockSize,
                  const DfuProgress &progress, int *leaveBlock)
{
    const int size = int(image.size());
    qDebug() << "Starting upload: total=" << size;
    int offset = 0;
    int block = kFirstDataBlock;
    for (;;) {
        if (s.cancelled())
            return cancelledFlash(s);
        int chunk = std::min(blockSize, size - offset);
        const char *data = image.constData() + offset;
        const QString where = blockPlace(block, base + uint32_t(offset));
        bool halved = false;
        if (offset == 0) {
            const int rc = sendFirstBlock(s, data, chunk, halved);
            if (rc != 0)
                return rc;
        } else {
            const int rc = dfuDownload(s.handle, s.interfaceNumber, uint16_t(block), data, uint16_t(chunk));
            if (rc < 0) {
                qDebug() << "DFU_DNLOAD failed with code:" << rc;
                return s.fail(DfuBlockDownloadFailed,
                              QStringLiteral("cannot send %1: %2").arg(where, usbErrorText(rc)));
            }
        }
        const int waited = waitForBlock(s, where);
        if (waited != 0)
            return waited;

        offset += chunk;
        const int percent = int(qint64(offset) * 96 / size);
        if (progress)
            progress(percent);
        qDebug() << "Block" << block << "sent=" << offset << "/" << size << "(" << percent << "%)";
        if (offset >= size)
            break;

        if (halved) {
            // The device places block n at its pointer + (n - 2) x its own
            // transfer size, whatever length the block had. Going on with
            // block 3 would land at base + that size and leave a hole after
            // the halved block, so the pointer moves to just behind it and
            // the numbering starts again at block 2 with full-size blocks
            // (the stall only told that the first block was too long).
            const uint32_t next = base + uint32_t(offset);
            qDebug().noquote() << "Moving address pointer behind the halved block to" << hexAddress(next);
            const int rc = dfuseCommand(s.handle, s.interfaceNumber, DfuseCommand::SetAddressPointer, next);
            if (rc < 0) {
                qDebug() << "Set Address after the halved block failed with rc=" << rc;
                return s.fail(DfuSetAddressFailed, QStringLiteral("cannot set the write address %1: %2")
                                                       .arg(paddedAddress(next), usbErrorText(rc)));
            }
            if (waitForCommand(s, kReAddressWait) == WaitOutcome::Cancelled)
                return cancelledFlash(s);
            block = kFirstDataBlock;
        } else {
            ++block;
        }
    }
    *leaveBlock = block + 1;
    return 0;
}

// Brings the device from wherever the last request left it to dfuIDLE, the
// state from which an upload, and afterwards the leave request, is taken.
// DFU_CLRSTATUS is the only way used: a device that does not take it outside
// dfuERROR goes to dfuERROR instead, and a second one clears that.
bool backToIdle(Session &s)
{
    for (int i = 0; i < kBackToIdleTries; ++i) {
        if (dfuGetStatus(s.handle, s.interfaceNumber, s.status) < 0)
            return false;
        switch (s.status.bState) {
        case DfuState::DfuIdle:
            return true;
        case DfuState::DownloadBusy:
            QThread::msleep(std::min(s.status.bwPollTimeout, kLongestBusyPollMs));
            break;
        default:
            dfuClearStatus(s.handle, s.interfaceNumber);
            break;
        }
    }
    return false;
}

// Reads the image back and compares. 0 also when the reads are refused as on
// a read-protected device, or when the address cannot be set.
//
// The reads are numbered as a DfuSe device expects them: block 0 would be its
// command list, memory starts at block 2 from the address pointer. The
// pointer is set to the base and that command must be carried out (a
// GETSTATUS starts it) before the device, back in dfuIDLE, takes uploads.
int verifyImage(Session &s, const QByteArray &image, uint32_t base, int blockSize)
{
    const int size = int(image.size());
    qDebug() << "Starting verify of" << size << "bytes at base";
    const int addressRc = dfuseCommand(s.handle, s.interfaceNumber, DfuseCommand::SetAddressPointer, base);
    if (addressRc < 0) {
        qDebug() << "Set Address for verify failed with rc=" << addressRc;
        // A refused command leaves a device in dfuERROR, where the leave
        // request would be refused too.
        backToIdle(s);
        return 0;
    }
    if (!backToIdle(s))
        qDebug() << "Device not back in dfuIDLE before verify, state=" << int(s.status.bState);

    QByteArray readBack(size, '\0');
    int got = 0;
    int rc = 0;
    int block = kFirstDataBlock;
    while (got < size) {
        if (s.cancelled())
            return cancelledFlash(s);
        const int length = std::min(size - got, blockSize);
        rc = dfuUpload(s.handle, s.interfaceNumber, uint16_t(block++), readBack.data() + got,
                       uint16_t(length));
        if (rc < 0) {
            qDebug() << "DFU_UPLOAD failed with rc=" << rc << ", got=" << got << "/" << size;
            break;
        }
        got += rc;
        qDebug() << "Verify read chunk rc=" << rc << ", got=" << got << "/" << size;
        if (rc == 0)
            break;
    }
    qDebug() << "Verify read complete: got=" << got << "expected=" << size;

    if (got == size && readBack == image) {
        qDebug() << "Verify OK";
    } else if (got == size) {
        const auto differs = std::mismatch(image.begin(), image.end(), readBack.begin()).first;
        const uint32_t at = base + uint32_t(differs - image.begin());
        return s.fail(DfuVerifyMismatch,
                      QStringLiteral("the flash differs from the image at %1").arg(paddedAddress(at)));
    } else if (got == 0 && rc == LIBUSB_ERROR_PIPE) {
        qDebug() << "DFU_UPLOAD blocked (RDP?), bypassing verification and proceeding to manifest";
    } else {
        return s.fail(DfuVerifyLength,
                      QStringLiteral("cannot read the image back: %1 of %2 bytes came").arg(got).arg(size));
    }
    // A full-length read leaves the device in dfuUPLOAD-IDLE and a refused
    // one in dfuERROR; neither takes the leave request.
    if (!backToIdle(s))
        qDebug() << "Device not back in dfuIDLE after verify, state=" << int(s.status.bState);
    return 0;
}

// Starts the new firmware. The wheel's own loader starts it on the
// zero-length download alone; a loader that keeps to DFU 1.1 takes that
// request only in dfuDNLOAD-IDLE and starts the firmware on the GETSTATUS
// after it. A Set Address first brings either one there, and the polls after
// the request end when the device reports its manifestation or leaves.
int leave(Session &s, uint32_t base, int leaveBlock)
{
    qDebug() << "Submitting leave request (ZLP)";
    const QString refused = QStringLiteral("the image is written, but the boot loader did not start it: %1");
    const int addressed = dfuseCommand(s.handle, s.interfaceNumber, DfuseCommand::SetAddressPointer, base);
    if (addressed < 0)
        return s.fail(DfuLeaveFailed, refused.arg(usbErrorText(addressed)));
    if (waitForCommand(s, kReAddressWait) == WaitOutcome::Cancelled)
        return cancelledFlash(s);
    const int rc = dfuDownload(s.handle, s.interfaceNumber, uint16_t(leaveBlock), nullptr, 0);
    if (rc < 0)
        return s.fail(DfuLeaveFailed, refused.arg(usbErrorText(rc)));
    for (int i = 0; i < kLeavePolls; ++i) {
        if (dfuGetStatus(s.handle, s.interfaceNumber, s.status) < 0)
            return 0; // gone: the firmware runs
        const uint8_t state = s.status.bState;
        if (state == DfuState::Manifest || state == DfuState::ManifestWaitReset)
            return 0;
        if (state == DfuState::Error)
            return s.fail(DfuLeaveFailed, refused.arg(reportedError(s.status)));
        QThread::msleep(std::min(s.status.bwPollTimeout, kLongestBusyPollMs) + kUnexpectedStatePollMs);
    }
    return s.fail(DfuLeaveFailed, refused.arg(QStringLiteral("it stays in state %1").arg(s.status.bState)));
}

// Everything after the image passed its check: erase, download, verify, leave.
int flashImage(Session &s, const DfuFlashOptions &options, const QByteArray &image, int blockSize,
               const DfuProgress &progress)
{
    const uint32_t size = uint32_t(image.size());
    if (settleInitialState(s) == DfuState::DfuIdle) {
        const uint32_t page =
            options.pageSize < 1 ? uint32_t(kBootLoaderPageSize) : uint32_t(options.pageSize);
        const int rc = addressAndErase(s, options.baseAddress, size, page);
        if (rc != 0)
            return rc;
    }

    int leaveBlock = 0;
    const int rc = downloadImage(s, image, options.baseAddress, blockSize, progress, &leaveBlock);
    if (rc != 0) {
        qDebug() << "Exiting flash function with code:" << rc;
        return rc;
    }

    if (options.verify) {
        const int verified = verifyImage(s, image, options.baseAddress, blockSize);
        if (verified != 0)
            return verified;
    }

    const int left = leave(s, options.baseAddress, leaveBlock);
    if (left != 0)
        return left;
    if (progress)
        progress(100);
    return DfuFlashOk;
}

int flash(const DfuFlashOptions &options, const QString &filePath, const DfuProgress &progress,
          QString &failure)
{
    libusb_context *rawContext = nullptr;
    if (libusb_init(&rawContext) != 0) {
        failure = QStringLiteral("cannot start libusb");
        return DfuInitFailed;
    }
    const LibusbContext context(rawContext);

    LibusbHandle handle;
    {
        const LibusbDeviceList list(context.get());
        if (list.count() < 0) {
            failure = QStringLiteral("cannot list the USB devices: %1").arg(usbErrorText(int(list.count())));
            return DfuDeviceListFailed;
        }
        handle = takeMatchingDevice(list, options);
    }
    if (!handle) {
        failure = QStringLiteral("the boot loader is not on the bus");
        return DfuNoDevice;
    }

    libusb_detach_kernel_driver(handle.get(), options.interfaceNumber);
    ClaimedInterface claimed;
    int rc = claimed.claim(handle.get(), options.interfaceNumber);
    if (rc == 0)
        rc = libusb_set_interface_alt_setting(handle.get(), options.interfaceNumber, options.altSetting);
    if (rc != 0) {
        failure = QStringLiteral("cannot claim the boot loader's DFU interface: %1").arg(usbErrorText(rc));
        return DfuClaimFailed;
    }

    QByteArray image;
    {
        QFile file(filePath);
        if (!file.open(QIODevice::ReadOnly)) {
            failure = QStringLiteral("cannot read %1: %2").arg(filePath, file.errorString());
            return DfuFileOpenFailed;
        }
        image = file.readAll();
    }

    Session s;
    s.handle = handle.get();
    s.interfaceNumber = uint16_t(options.interfaceNumber);
    s.cancel = options.cancel;
    const int blockSize = effectiveTransferSize(s, options);
    qDebug() << "Effective transfer size=" << blockSize;

    QString reason;
    if (!checkVectorTable(image, options.baseAddress, reason)) {
        qDebug().noquote() << "Refusing to flash: vector table sanity failed:" << reason;
        failure = QStringLiteral("not a valid firmware: %1").arg(reason);
        return DfuVectorTableRefused;
    }
    const int result = flashImage(s, options, image, blockSize, progress);
    failure = s.failure;
    return result;
}

} // namespace

int dfuFlash(const DfuFlashOptions &options, const QString &filePath, const DfuProgress &progress,
             QString *failure)
{
    QString text;
    const int result = flash(options, filePath, progress, text);
    if (failure)
        *failure = result == DfuFlashOk ? QString() : text;
    return result;
}
