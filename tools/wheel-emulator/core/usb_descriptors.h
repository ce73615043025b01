// A USB device's descriptors and the standard requests answered from them.
#pragma once

#include "usb_control.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace wheelemu {

struct UsbDescriptors
{
    std::vector<uint8_t> device;            // the 18-byte device descriptor
    std::vector<uint8_t> configuration;     // the whole configuration, wTotalLength bytes
    std::map<uint8_t, std::string> strings; // index -> Latin-1 text
    uint16_t languageId = 0x0409;

    uint16_t vendorId() const;
    uint16_t productId() const;
    uint16_t bcdDevice() const;
    uint8_t configurationValue() const;

    // What the kernel exposes as the sysfs "descriptors" attribute: the
    // device descriptor followed by the configuration.
    std::vector<uint8_t> sysfsBlob() const;

    // Index 0 is the language list; an unknown index gives an empty vector.
    std::vector<uint8_t> stringDescriptor(uint8_t index) const;

    // Standard requests addressed to the device (descriptors, status,
    // configuration). nullopt when the request is not one of them, so the
    // device function answers it.
    std::optional<UsbControlResult> standardRequest(const UsbSetup &setup) const;
};

// A full-speed device descriptor with one configuration and control
// endpoint packets of 64 bytes.
std::vector<uint8_t> usbDeviceDescriptor(uint16_t vendorId, uint16_t productId, uint16_t bcdDevice,
                                         uint8_t iManufacturer, uint8_t iProduct, uint8_t iSerial);

} // namespace wheelemu
