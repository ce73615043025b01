#include "upgrade/dfu_probe.h"

#include "upgrade/libusb_guards.h"

#include <libusb.h>

bool bootLoaderPresent()
{
    // A context of its own per look: the probe runs on the GUI thread between
    // the flasher's runs, which keep their own contexts.
    libusb_context *raw = nullptr;
    if (libusb_init(&raw) != 0)
        return false;
    const LibusbContext context(raw);
    const LibusbDeviceList devices(context.get());
    for (ssize_t i = 0; i < devices.count(); ++i) {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(devices[i], &descriptor) != 0)
            continue;
        if (descriptor.idVendor == kBootLoaderVendorId && descriptor.idProduct == kBootLoaderProductId)
            return true;
    }
    return false;
}
