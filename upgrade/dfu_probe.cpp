#include "upgrade/dfu_probe.h"

#include "upgrade/libusb_guards.h"

#include <libusb.h>

#include <algorithm>

std::vector<UsbLocation> bootLoadersOnBus()
{
    // A context of its own per look: the probe runs on the GUI thread between
    // the flasher's runs, which keep their own contexts.
    std::vector<UsbLocation> found;
    libusb_context *raw = nullptr;
    if (libusb_init(&raw) != 0)
        return found;
    const LibusbContext context(raw);
    const LibusbDeviceList devices(context.get());
    for (ssize_t i = 0; i < devices.count(); ++i) {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(devices[i], &descriptor) != 0)
            continue;
        if (descriptor.idVendor == kBootLoaderVendorId && descriptor.idProduct == kBootLoaderProductId)
            found.push_back({libusb_get_bus_number(devices[i]), libusb_get_device_address(devices[i])});
    }
    return found;
}

std::vector<UsbLocation> newLoaders(const std::vector<UsbLocation> &before,
                                    const std::vector<UsbLocation> &now)
{
    std::vector<UsbLocation> added;
    std::copy_if(now.begin(), now.end(), std::back_inserter(added), [&before](const UsbLocation &l) {
        return std::find(before.begin(), before.end(), l) == before.end();
    });
    return added;
}
