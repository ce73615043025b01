#pragma once

#include <array>
#include <cstdint>

class DeviceHandle;

// Every wheel of the family has this vendor id.
constexpr uint16_t kWheelVendorId = 0xC872;

// The product ids the program opens, in the order they are tried: with
// several wheels attached the first of this list wins. 0x200E and 0x200F
// belong to the family but are not supported, so they are never opened.
constexpr std::array<uint16_t, 8> WheelProductIds = {0x2007, 0x2008, 0x2009, 0x200A,
                                                     0x200B, 0x200C, 0x200D, 0x2010};

// Opens the first wheel found, in the order above, into `device` (replacing
// whatever it held) and returns its product id; 0 when none opened. Call it
// only while the reader thread is stopped.
uint16_t openFirstWheel(DeviceHandle &device);
