#pragma once

#include <cstdint>
#include <vector>

// The wheel's USB DFU boot loader, as it enumerates after the wheel was told
// to reboot into it. Any STM32 board put into DFU mode shows the same ids,
// so a loader is told apart only by where it sits on the bus.
constexpr uint16_t kBootLoaderVendorId = 0x0483;
constexpr uint16_t kBootLoaderProductId = 0xDF11;

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
