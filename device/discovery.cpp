#include "device/discovery.h"

#include "device/device_handle.h"

uint16_t openFirstWheel(DeviceHandle &device)
{
    device.close();
    for (const uint16_t productId : WheelProductIds) {
        if (device.open(kWheelVendorId, productId))
            return productId;
    }
    return 0;
}
