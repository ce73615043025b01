#include "device/discovery.h"

#include "device/device_handle.h"

#include <hidapi/hidapi.h>

#include <algorithm>
#include <vector>

namespace {

// Every product id of the vendor that the system lists now. A listing costs
// a walk over every HID device of the system, so a scan makes one, and opens
// only ids it found, rather than one listing per id of the table.
std::vector<uint16_t> listedProductIds()
{
    std::vector<uint16_t> productIds;
    hid_device_info *devices = hid_enumerate(kWheelVendorId, 0);
    for (const hid_device_info *d = devices; d; d = d->next) {
        if (d->vendor_id == kWheelVendorId)
            productIds.push_back(d->product_id);
    }
    hid_free_enumeration(devices);
    return productIds;
}

} // namespace

uint16_t openFirstWheel(DeviceHandle &device)
{
    device.close();
    const std::vector<uint16_t> listed = listedProductIds();
    for (const uint16_t productId : WheelProductIds) {
        const bool present = std::find(listed.begin(), listed.end(), productId) != listed.end();
        if (present && device.open(kWheelVendorId, productId))
            return productId;
    }
    return 0;
}
