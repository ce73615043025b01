// The descriptors a wheel shows the host before any report is exchanged:
// the HID report descriptor (sysfs report_descriptor and HIDIOCGRDESC) and
// the USB device and configuration descriptors (sysfs "descriptors", read by
// libusb when it lists the bus).
#pragma once

#include <cstdint>
#include <vector>

namespace wheelemu {

// A joystick with report id 1 (right and left paddle, 16 bits each, 64
// buttons, 4 padding bytes), feature report 2 (20 bytes) and output report 3
// (19 bytes).
const std::vector<uint8_t> &wheelReportDescriptor();

// Device descriptor followed by the whole configuration descriptor of a
// full-speed HID device with one interrupt IN endpoint.
std::vector<uint8_t> wheelUsbDescriptors(uint16_t vendorId, uint16_t productId, uint16_t bcdDevice);

} // namespace wheelemu
