#pragma once

#include "upgrade/boot_loader.h"

#include <cstdint>
#include <vector>

// Where one device sits: its bus and its address on that bus, which a device
// keeps until it leaves the bus.
struct UsbLocation
{
    uint8_t bus = 0;
    uint8_t address = 0;
    bool operator==(const UsbLocation &other) const { return bus == other.bus && address == other.address; }
};

// One look at the USB bus: every device with the boot loader's ids. Opens
// nothing; a libusb that cannot start, or a bus that cannot be listed, gives
// an empty list.
std::vector<UsbLocation> bootLoadersOnBus();

// The loaders of `now` that `before` did not have.
std::vector<UsbLocation> newLoaders(const std::vector<UsbLocation> &before,
                                    const std::vector<UsbLocation> &now);

inline bool bootLoaderPresent()
{
    return !bootLoadersOnBus().empty();
}
