#pragma once

#include "upgrade/dfu_probe.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>

// Writes a firmware image into a boot loader that speaks USB DFU 1.1 with the
// DfuSe extensions: one blocking call with a libusb context of its own.

struct DfuFlashOptions
{
    uint16_t vendorId = kBootLoaderVendorId;
    uint16_t productId = kBootLoaderProductId;
    int interfaceNumber = 0; // also wIndex of every class request
    int altSetting = 0;
    // Upper bound of one block, and the size used when the device states
    // none. Below 1 counts as the loader's.
    int transferSize = kBootLoaderTransferSize;
    QString serialFilter; // empty: any serial number
    uint32_t baseAddress = kBootLoaderFlashBase;
    bool verify = true;
    int pageSize = kBootLoaderPageSize; // erase page; below 1 counts as the loader's
    // Only the device at this place on the bus; bus 0 takes any. Another
    // board in DFU mode shows the same ids as the wheel's loader.
    UsbLocation location;
    // Set by another thread to stop the flash at its next wait; the device
    // is left in DFU mode.
    const std::atomic<bool> *cancel = nullptr;
};

// Result codes of dfuFlash.
enum DfuFlashResult : int
{
    DfuFlashOk = 0,
    DfuInitFailed = -100,
    DfuDeviceListFailed = -101,
    DfuNoDevice = -102,
    DfuClaimFailed = -103,
    DfuFileOpenFailed = -104,
    DfuBlockDownloadFailed = -105,
    DfuBlockStatusFailed = -106,
    // The device answered a written block with a state it should not be in
    // (neither busy, done nor in error) for longer than the wait allows.
    DfuBlockStateUnexpected = -107,
    DfuBlockWriteError = -108,
    // The device stayed busy with a block far longer than programming takes.
    DfuBlockTimeout = -109,
    DfuSetAddressFailed = -110,
    DfuEraseFailed = -111,
    // The image is in, but the device did not take the request to start it.
    DfuLeaveFailed = -112,
    DfuCancelled = -113,
    DfuVerifyMismatch = -120,
    DfuVerifyLength = -121,
    DfuVectorTableRefused = -130,
};

// Called on the flashing thread with 0..96 once per downloaded block and
// with 100 once the device was told to leave.
using DfuProgress = std::function<void(int)>;

// Returns one of DfuFlashResult. On failure `failure`, when given, receives
// what failed and where, in words for the user ("cannot erase page
// 0x08004000: the boot loader stalled").
int dfuFlash(const DfuFlashOptions &options, const QString &filePath, const DfuProgress &progress,
             QString *failure = nullptr);
