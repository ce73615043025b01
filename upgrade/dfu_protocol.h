#pragma once

#include <QByteArray>

#include <array>
#include <cstdint>
#include <vector>

struct libusb_device_handle;

// USB DFU 1.1 class requests and the two DfuSe commands the flasher uses, as
// thin synchronous wrappers around libusb_control_transfer. Every wrapper
// returns what libusb returns: the byte count on success, a negative
// LIBUSB_ERROR_* code otherwise.

enum class DfuRequest : uint8_t
{
    Detach = 0,
    Download = 1,
    Upload = 2,
    GetStatus = 3,
    ClearStatus = 4,
    GetState = 5,
};

// The states of the DFU 1.1 state machine that the flasher looks at.
namespace DfuState {
constexpr uint8_t AppIdle = 0;
constexpr uint8_t DfuIdle = 2;
constexpr uint8_t DownloadBusy = 4;
constexpr uint8_t DownloadIdle = 5;
constexpr uint8_t ManifestSync = 6;
constexpr uint8_t Manifest = 7;
constexpr uint8_t ManifestWaitReset = 8;
constexpr uint8_t UploadIdle = 9;
constexpr uint8_t Error = 10;
} // namespace DfuState

// DfuSe commands travel as the payload of a DFU_DNLOAD of block 0.
enum class DfuseCommand : uint8_t
{
    SetAddressPointer = 0x21,
    Erase = 0x41,
};

constexpr uint8_t kDfuRequestOut = 0x21; // class, interface, host to device
constexpr uint8_t kDfuRequestIn = 0xA1;  // class, interface, device to host

// Time-outs in milliseconds, per kind of request.
constexpr unsigned kDfuDescriptorTimeoutMs = 1000;
constexpr unsigned kDfuClearStatusTimeoutMs = 1000;
constexpr unsigned kDfuDetachTimeoutMs = 1000;
constexpr unsigned kDfuStatusTimeoutMs = 2000;   // GETSTATUS and GETSTATE
constexpr unsigned kDfuTransferTimeoutMs = 5000; // every DNLOAD and UPLOAD

// The decoded reply of DFU_GETSTATUS.
struct DfuStatus
{
    uint8_t bStatus = 0;
    uint32_t bwPollTimeout = 0; // milliseconds, 24 bits on the wire
    uint8_t bState = 0;
    uint8_t iString = 0;
};

constexpr int kDfuStatusLength = 6;

// Pure decoding of the 6 reply bytes; the poll time-out is little-endian.
DfuStatus decodeDfuStatus(const std::array<uint8_t, kDfuStatusLength> &raw);

// One DFU_GETSTATUS. A negative libusb result is returned as it is and leaves
// `status` untouched; otherwise `status` is filled (bytes the device did not
// send read as 0) and 0 is returned.
int dfuGetStatus(libusb_device_handle *handle, uint16_t interfaceNumber, DfuStatus &status);

// One DFU_GETSTATE: 0..255 the state byte, negative the libusb error.
int dfuGetState(libusb_device_handle *handle, uint16_t interfaceNumber);

int dfuClearStatus(libusb_device_handle *handle, uint16_t interfaceNumber);
int dfuDetach(libusb_device_handle *handle, uint16_t interfaceNumber, uint16_t timeoutMs);

// DFU_DNLOAD of `length` bytes from `data` (no data stage when length is 0).
int dfuDownload(libusb_device_handle *handle, uint16_t interfaceNumber, uint16_t blockNumber,
                const char *data, uint16_t length);
// DFU_UPLOAD of up to `length` bytes into `data`.
int dfuUpload(libusb_device_handle *handle, uint16_t interfaceNumber, uint16_t blockNumber, char *data,
              uint16_t length);

// The 5-byte payload of a DfuSe command: the command byte, then the address
// little-endian.
std::array<uint8_t, 5> dfuseCommandPayload(DfuseCommand command, uint32_t address);
int dfuseCommand(libusb_device_handle *handle, uint16_t interfaceNumber, DfuseCommand command,
                 uint32_t address);

// wTransferSize of the interface's DFU functional descriptor (type 0x21),
// or 0 when the device gives no usable one (error, reply shorter than 7
// bytes, or a stated size of 0).
int dfuFunctionalTransferSize(libusb_device_handle *handle, uint16_t interfaceNumber);
// The same from a descriptor already read: `length` is what the device sent
// (a negative libusb result counts as nothing).
int dfuTransferSizeOf(const uint8_t *descriptor, int length);

// The page addresses that cover [base, base + size): from base aligned down
// to its page to the end of the page holding the last byte. Addresses are
// 32-bit; the pages end at the top of the address space.
std::vector<uint32_t> dfuseErasePages(uint32_t base, uint32_t size, uint32_t page);
