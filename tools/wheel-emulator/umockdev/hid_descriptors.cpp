#include "hid_descriptors.h"

namespace wheelemu {

const std::vector<uint8_t> &wheelReportDescriptor()
{
    static const std::vector<uint8_t> kDescriptor = {
        0x05, 0x01,       // Usage Page (Generic Desktop)
        0x09, 0x04,       // Usage (Joystick)
        0xA1, 0x01,       // Collection (Application)
        0x85, 0x01,       //   Report ID (1)
        0x09, 0x33,       //   Usage (Rx): right paddle
        0x09, 0x34,       //   Usage (Ry): left paddle
        0x15, 0x00,       //   Logical Minimum (0)
        0x26, 0x00, 0x10, //   Logical Maximum (4096)
        0x75, 0x10,       //   Report Size (16)
        0x95, 0x02,       //   Report Count (2)
        0x81, 0x02,       //   Input (Data, Variable, Absolute)
        0x05, 0x09,       //   Usage Page (Button)
        0x19, 0x01,       //   Usage Minimum (1)
        0x29, 0x40,       //   Usage Maximum (64)
        0x25, 0x01,       //   Logical Maximum (1)
        0x75, 0x01,       //   Report Size (1)
        0x95, 0x40,       //   Report Count (64)
        0x81, 0x02,       //   Input (Data, Variable, Absolute)
        0x75, 0x08,       //   Report Size (8)
        0x95, 0x04,       //   Report Count (4)
        0x81, 0x01,       //   Input (Constant): padding
        0x06, 0x00, 0xFF, //   Usage Page (Vendor 0xFF00)
        0x85, 0x02,       //   Report ID (2)
        0x09, 0x01,       //   Usage (1)
        0x26, 0xFF, 0x00, //   Logical Maximum (255)
        0x75, 0x08,       //   Report Size (8)
        0x95, 0x14,       //   Report Count (20)
        0xB1, 0x02,       //   Feature (Data, Variable, Absolute)
        0x85, 0x03,       //   Report ID (3)
        0x09, 0x02,       //   Usage (2)
        0x95, 0x13,       //   Report Count (19)
        0x91, 0x02,       //   Output (Data, Variable, Absolute)
        0xC0,             // End Collection
    };
    return kDescriptor;
}

std::vector<uint8_t> wheelUsbDescriptors(uint16_t vendorId, uint16_t productId, uint16_t bcdDevice)
{
    const uint16_t reportLength = static_cast<uint16_t>(wheelReportDescriptor().size());
    const uint8_t lo = 0xFF;
    std::vector<uint8_t> d = {// Device descriptor
                              18, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 64, static_cast<uint8_t>(vendorId & lo),
                              static_cast<uint8_t>(vendorId >> 8), static_cast<uint8_t>(productId & lo),
                              static_cast<uint8_t>(productId >> 8), static_cast<uint8_t>(bcdDevice & lo),
                              static_cast<uint8_t>(bcdDevice >> 8), 1, 2, 3, 1,
                              // Configuration descriptor: 9 + 9 + 9 + 7 bytes
                              9, 0x02, 34, 0, 1, 1, 0, 0x80, 250,
                              // Interface 0: HID, no subclass, no protocol, one endpoint
                              9, 0x04, 0, 0, 1, 0x03, 0x00, 0x00, 0,
                              // HID descriptor: HID 1.11, one report descriptor
                              9, 0x21, 0x11, 0x01, 0, 1, 0x22, static_cast<uint8_t>(reportLength & lo),
                              static_cast<uint8_t>(reportLength >> 8),
                              // Endpoint 0x81: interrupt IN, 64 bytes, every 1 ms
                              7, 0x05, 0x81, 0x03, 64, 0, 1};
    return d;
}

} // namespace wheelemu
