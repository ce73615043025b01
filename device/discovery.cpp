#include "device/discovery.h"

#include "device/device_handle.h"

#include <hidapi/hidapi.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

struct ListedDevice
{
    uint16_t productId;
    std::string path;
};

// Every device of the vendor that the system lists now, with the path to
// open it by. A listing costs a walk over every HID device of the system, so
// a scan makes one and opens what it found by path, rather than listing once
// per id of the table and again to open. A wheel plugged in a moment ago can
// be listed before its device node exists, without a path; the next scan
// finds it whole.
std::vector<ListedDevice> listedDevices()
{
    std::vector<ListedDevice> listed;
    hid_device_info *devices = hid_enumerate(kWheelVendorId, 0);
    for (const hid_device_info *d = devices; d; d = d->next) {
        if (d->vendor_id == kWheelVendorId && d->path)
            listed.push_back({d->product_id, d->path});
    }
    hid_free_enumeration(devices);
    return listed;
}

} // namespace

uint16_t openFirstWheel(DeviceHandle &device)
{
    device.close();
    const std::vector<ListedDevice> listed = listedDevices();
    for (const uint16_t productId : WheelProductIds) {
        // The first listed device of each id, as opening by ids would take.
        const auto found = std::find_if(listed.begin(), listed.end(), [productId](const ListedDevice &d) {
            return d.productId == productId;
        });
        if (found != listed.end() && device.openPath(found->path.c_str()))
            return productId;
    }
    return 0;
}
