#include "upgrade/dfu_flasher.h"

#include "upgrade/dfu_protocol.h"
#include "upgrade/libusb_guards.h"
#include "upgrade/vector_table.h"

#include <QByteArray>
#include <QDebug>
#include <QFile>
#include <QThread>

#include <algorithm>

namespace {

constexpr int kDefaultTransferSize = 2048;
constexpr uint32_t kDefaultPageSize = 8192;
constexpr int kSerialBufferSize = 256;
// DfuSe reserves block numbers 0 (commands) and 1; memory starts at block 2,
// which the device places at its address pointer.
constexpr int kFirstDataBlock = 2;
constexpr int kSmallestFirstBlock = 32;
constexpr uint16_t kDetachWaitMs = 1000;
constexpr unsigned long kAfterDetachMs = 1500;
constexpr uint32_t kLongestBusyPollMs = 1000;
constexpr unsigned long kUnexpectedStatePollMs = 50;
// A block still not taken after 100 x 50 ms in a state that is neither busy,
// done nor an error is given up: that is as long as the DNLOAD itself may
// take, and a device that reports e.g. dfuIDLE here has dropped the block.
constexpr int kUnexpectedStateTries = 100;
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
    libusb_device_handle *handle;
    uint16_t interfaceNumber;
    DfuStatus status{};    // the last GETSTATUS answer
    int lastGetState = -1; // the last GETSTATE answer of a command wait
};

QString hexAddress(uint32_t address)
{
    return QStringLiteral("0x") + QString::number(address, 16);
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
    const int bound = options.transferSize < 1 ? kDefaultTransferSize : options.transferSize;
    int deviceSize = dfuFunctionalTransferSize(s.handle, s.interfaceNumber);
    if (deviceSize == 0)
        deviceSize = bound & 0xFFFF;
    if (deviceSize == 0)
        deviceSize = kDefaultTransferSize;
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

void waitForCommand(Session &s, const CommandWait &wait)
{
    for (int i = 0; i < wait.tries; ++i) {
        QThread::msleep(wait.sleepMs);
        if (dfuGetStatus(s.handle, s.interfaceNumber, s.status) == 0 &&
            s.status.bState == DfuState::DownloadIdle)
            return;
        if (wait.stateCheck == StateCheck::None)
            continue;
        const int state = dfuGetState(s.handle, s.interfaceNumber);
        if (state >= 0)
            s.lastGetState = state;
        const int tested = wait.stateCheck == StateCheck::LastKnown ? s.lastGetState : state;
        if (tested == DfuState::DownloadIdle)
            return;
    }
}

int addressAndErase(Session &s, uint32_t base, uint32_t size, uint32_t page)
{
    qDebug().noquote() << "Sending Set Address command to" << hexAddress(base);
    int rc = dfuseCommand(s.handle, s.interfaceNumber, DfuseCommand::SetAddressPointer, base);
    if (rc < 0) {
        qDebug() << "Set Address command failed with rc=" << rc;
        return DfuSetAddressFailed;
    }
    waitForCommand(s, kAddressWait);

    for (const uint32_t address : dfuseErasePages(base, size, page)) {
        qDebug().noquote() << "Erasing page at" << hexAddress(address);
        rc = dfuseCommand(s.handle, s.interfaceNumber, DfuseCommand::Erase, address);
        if (rc < 0) {
            qDebug().noquote() << "Erase command failed with rc=" << rc << " at" << hexAddress(address);
            return DfuEraseFailed;
        }
        waitForCommand(s, kEraseWait);
    }

    dfuGetStatus(s.handle, s.interfaceNumber, s.status);
    qDebug() << "Final state before upload:" << int(s.status.bState);
    rc = dfuseCommand(s.handle, s.interfaceNumber, DfuseCommand::SetAddressPointer, base);
    if (rc < 0) {
        qDebug() << "Re-Set Address command failed with rc=" << rc;
        return DfuSetAddressFailed;
    }
    waitForCommand(s, kReAddressWait);
    return 0;
}

// Polls until the device has programmed the block just sent.
int waitForBlock(Session &s)
{
    int unexpected = 0;
    for (;;) {
        if (dfuGetStatus(s.handle, s.interfaceNumber, s.status) < 0)
            return DfuBlockStatusFailed;
        switch (s.status.bState) {
        case DfuState::DownloadBusy:
            QThread::msleep(std::min(s.status.bwPollTimeout, kLongestBusyPollMs));
            break;
        case DfuState::DownloadIdle:
        case DfuState::ManifestSync:
        case DfuState::Manifest:
        case DfuState::ManifestWaitReset:
            return 0;
        case DfuState::Error:
            dfuClearStatus(s.handle, s.interfaceNumber);
            return DfuBlockWriteError;
        default:
            if (++unexpected >= kUnexpectedStateTries) {
                qDebug() << "Block not taken, device stays in state" << int(s.status.bState);
                return DfuBlockStateUnexpected;
            }
            QThread::msleep(kUnexpectedStatePollMs);
            break;
        }
    }
}

// Sends the first block of a run, halving it while the device stalls it.
int sendFirstBlock(Session &s, const char *data, int &chunk, bool &halved)
{
    int rc = dfuDownload(s.handle, s.interfaceNumber, kFirstDataBlock, data, uint16_t(chunk));
    while (rc == LIBUSB_ERROR_PIPE) {
        if (chunk <= kSmallestFirstBlock)
            return DfuBlockDownloadFailed;
        chunk /= 2;
        halved = true;
        qDebug() << "First block failed PIPE, retry with" << chunk << "bytes";
        rc = dfuDownload(s.handle, s.interfaceNumber, kFirstDataBlock, data, uint16_t(chunk));
    }
    if (rc < 0) {
        qDebug() << "DFU_DNLOAD failed with code:" << rc;
        return DfuBlockDownloadFailed;
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
        int chunk = std::min(blockSize, size - offset);
        const char *data = image.constData() + offset;
        bool halved = false;
        if (block == kFirstDataBlock) {
            const int rc = sendFirstBlock(s, data, chunk, halved);
            if (rc != 0)
                return rc;
        } else {
            const int rc = dfuDownload(s.handle, s.interfaceNumber, uint16_t(block), data, uint16_t(chunk));
            if (rc < 0) {
                qDebug() << "DFU_DNLOAD failed with code:" << rc;
                return DfuBlockDownloadFailed;
            }
        }
        const int waited = waitForBlock(s);
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
                return DfuSetAddressFailed;
            }
            waitForCommand(s, kReAddressWait);
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
        return DfuVerifyMismatch;
    } else if (got == 0 && rc == LIBUSB_ERROR_PIPE) {
        qDebug() << "DFU_UPLOAD blocked (RDP?), bypassing verification and proceeding to manifest";
    } else {
        return DfuVerifyLength;
    }
    // A full-length read leaves the device in dfuUPLOAD-IDLE and a refused
    // one in dfuERROR; neither takes the leave request.
    if (!backToIdle(s))
        qDebug() << "Device not back in dfuIDLE after verify, state=" << int(s.status.bState);
    return 0;
}

} // namespace

int dfuFlash(const DfuFlashOptions &options, const QString &filePath, const DfuProgress &progress)
{
    libusb_context *rawContext = nullptr;
    if (libusb_init(&rawContext) != 0)
        return DfuInitFailed;
    const LibusbContext context(rawContext);

    LibusbHandle handle;
    {
        const LibusbDeviceList list(context.get());
        if (list.count() < 0)
            return DfuDeviceListFailed;
        handle = takeMatchingDevice(list, options);
    }
    if (!handle)
        return DfuNoDevice;

    libusb_detach_kernel_driver(handle.get(), options.interfaceNumber);
    ClaimedInterface claimed;
    if (claimed.claim(handle.get(), options.interfaceNumber) != 0)
        return DfuClaimFailed;
    if (libusb_set_interface_alt_setting(handle.get(), options.interfaceNumber, options.altSetting) != 0)
        return DfuClaimFailed;

    QByteArray image;
    {
        QFile file(filePath);
        if (!file.open(QIODevice::ReadOnly))
            return DfuFileOpenFailed;
        image = file.readAll();
    }

    Session s{handle.get(), uint16_t(options.interfaceNumber)};
    const int blockSize = effectiveTransferSize(s, options);
    qDebug() << "Effective transfer size=" << blockSize;

    QString reason;
    if (!checkVectorTable(image, options.baseAddress, reason)) {
        qDebug().noquote() << "Refusing to flash: vector table sanity failed:" << reason;
        return DfuVectorTableRefused;
    }

    const uint32_t size = uint32_t(image.size());
    if (settleInitialState(s) == DfuState::DfuIdle) {
        const uint32_t page = options.pageSize < 1 ? kDefaultPageSize : uint32_t(options.pageSize);
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

    qDebug() << "Submitting leave request (ZLP)";
    dfuDownload(s.handle, s.interfaceNumber, uint16_t(leaveBlock), nullptr, 0);
    if (progress)
        progress(100);
    return DfuFlashOk;
}
