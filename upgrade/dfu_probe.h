#pragma once

#include <cstdint>

// The wheel's USB DFU boot loader, as it enumerates after the wheel was told
// to reboot into it.
constexpr uint16_t kBootLoaderVendorId = 0x0483;
constexpr uint16_t kBootLoaderProductId = 0xDF11;

// One look at the USB bus: whether a device with the boot loader's vendor and
// product id is on it. Opens nothing; a libusb that cannot start, or a bus
// that cannot be listed, counts as not found.
bool bootLoaderPresent();
