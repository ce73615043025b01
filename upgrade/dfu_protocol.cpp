#include "upgrade/dfu_protocol.h"

#include <libusb.h>

#include <algorithm>

namespace {

constexpr uint8_t kStandardInterfaceIn = 0x81;
constexpr uint8_t kGetDescriptor = 6;
constexpr uint16_t kFunctionalDescriptor = 0x2100; // type 0x21, index 0
constexpr int kFunctionalDescriptorLength = 9;
constexpr int kTransferSizeEnd = 7; // wTransferSize is bytes 5..6

int classOut(libusb_device_handle *handle, DfuRequest request, uint16_t value, uint16_t interfaceNumber,
             const char *data, uint16_t length, unsigned timeoutMs)
{
    // libusb takes a non-const buffer for both directions but only reads it
    // for host-to-device requests.
    auto *bytes = reinterpret_cast<unsigned char *>(const_cast<char *>(data));
    return libusb_control_transfer(handle, kDfuRequestOut, uint8_t(request), value, interfaceNumber,
                                   length ? bytes : nullptr, length, timeoutMs);
}

int classIn(libusb_device_handle *handle, DfuRequest request, uint16_t value, uint16_t interfaceNumber,
            unsigned char *data, uint16_t length, unsigned timeoutMs)
{
    return libusb_control_transfer(handle, kDfuRequestIn, uint8_t(request), value, interfaceNumber, data,
                                   length, timeoutMs);
}

} // namespace

DfuStatus decodeDfuStatus(const std::array<uint8_t, kDfuStatusLength> &raw)
{
    DfuStatus status;
    status.bStatus = raw[0];
    status.bwPollTimeout = uint32_t(raw[1]) | uint32_t(raw[2]) << 8 | uint32_t(raw[3]) << 16;
    status.bState = raw[4];
    status.iString = raw[5];
    return status;
}

int dfuGetStatus(libusb_device_handle *handle, uint16_t interfaceNumber, DfuStatus &status)
{
    std::array<uint8_t, kDfuStatusLength> raw{};
    const int rc = classIn(handle, DfuRequest::GetStatus, 0, interfaceNumber, raw.data(), kDfuStatusLength,
                           kDfuStatusTimeoutMs);
    if (rc < 0)
        return rc;
    status = decodeDfuStatus(raw);
    return 0;
}

int dfuGetState(libusb_device_handle *handle, uint16_t interfaceNumber)
{
    unsigned char state = 0;
    const int rc = classIn(handle, DfuRequest::GetState, 0, interfaceNumber, &state, 1, kDfuStatusTimeoutMs);
    if (rc < 0)
        return rc;
    return state;
}

int dfuClearStatus(libusb_device_handle *handle, uint16_t interfaceNumber)
{
    return classOut(handle, DfuRequest::ClearStatus, 0, interfaceNumber, nullptr, 0,
                    kDfuClearStatusTimeoutMs);
}

int dfuDetach(libusb_device_handle *handle, uint16_t interfaceNumber, uint16_t timeoutMs)
{
    return classOut(handle, DfuRequest::Detach, timeoutMs, interfaceNumber, nullptr, 0, kDfuDetachTimeoutMs);
}

int dfuDownload(libusb_device_handle *handle, uint16_t interfaceNumber, uint16_t blockNumber,
                const char *data, uint16_t length)
{
    return classOut(handle, DfuRequest::Download, blockNumber, interfaceNumber, data, length,
                    kDfuTransferTimeoutMs);
}

int dfuUpload(libusb_device_handle *handle, uint16_t interfaceNumber, uint16_t blockNumber, char *data,
              uint16_t length)
{
    return classIn(handle, DfuRequest::Upload, blockNumber, interfaceNumber,
                   reinterpret_cast<unsigned char *>(data), length, kDfuTransferTimeoutMs);
}

std::array<uint8_t, 5> dfuseCommandPayload(DfuseCommand command, uint32_t address)
{
    return {uint8_t(command), uint8_t(address), uint8_t(address >> 8), uint8_t(address >> 16),
            uint8_t(address >> 24)};
}

int dfuseCommand(libusb_device_handle *handle, uint16_t interfaceNumber, DfuseCommand command,
                 uint32_t address)
{
    const auto payload = dfuseCommandPayload(command, address);
    return dfuDownload(handle, interfaceNumber, 0, reinterpret_cast<const char *>(payload.data()),
                       uint16_t(payload.size()));
}

int dfuFunctionalTransferSize(libusb_device_handle *handle, uint16_t interfaceNumber)
{
    std::array<unsigned char, kFunctionalDescriptorLength> descriptor{};
    const int rc = libusb_control_transfer(handle, kStandardInterfaceIn, kGetDescriptor,
                                           kFunctionalDescriptor, interfaceNumber, descriptor.data(),
                                           kFunctionalDescriptorLength, kDfuDescriptorTimeoutMs);
    return dfuTransferSizeOf(descriptor.data(), rc);
}

int dfuTransferSizeOf(const uint8_t *descriptor, int length)
{
    if (length < kTransferSizeEnd)
        return 0;
    return descriptor[5] | descriptor[6] << 8;
}

std::vector<uint32_t> dfuseErasePages(uint32_t base, uint32_t size, uint32_t page)
{
    std::vector<uint32_t> pages;
    if (page == 0)
        return pages;
    const uint32_t first = base & (0u - page);
    // In 64 bits: a last page at the top of the address space would wrap its
    // end to 0 and erase nothing. Nothing lies beyond that top.
    const uint64_t lastPageEnd = uint64_t(base) + size - 1 + page;
    const uint64_t end = std::min(lastPageEnd - lastPageEnd % page, uint64_t(1) << 32);
    for (uint64_t a = first; a < end; a += page)
        pages.push_back(uint32_t(a));
    return pages;
}
