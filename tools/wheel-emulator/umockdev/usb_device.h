// A USB device in a umockdev testbed, reached through usbdevfs as libusb
// reaches real hardware.
//
// plug() adds the sysfs record (with the binary "descriptors" attribute
// libusb enumerates from) and the /dev/bus/usb node, and answers the
// usbdevfs ioctls on that node: capabilities, driver queries (no kernel
// driver is ever bound), claiming, alternate settings, and control URBs,
// which go to the UsbFunction. umockdev runs the ioctl handler on its own
// worker thread, so every call into the function happens with `lock` held;
// the owner takes the same lock before touching the function itself.
#pragma once

#include "usb_control.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace wheelemu {

class Testbed;

class UsbDevice
{
public:
    // Receives every control transfer: the 8 setup bytes followed by the
    // data stage (what the host sent, or what the device answered; nothing
    // after a stall).
    using Transcript = std::function<void(const std::vector<uint8_t> &bytes)>;
    // Runs on the handler thread after each control transfer, lock released.
    using AfterTransfer = std::function<void()>;

    struct Address
    {
        int busnum = 1;
        int devnum = 2;
        std::string port = "1-3"; // sysfs name of the device
    };

    UsbDevice(Testbed &testbed, UsbFunction &function, const UsbDescriptors &descriptors, std::mutex &lock);
    ~UsbDevice();
    UsbDevice(const UsbDevice &) = delete;
    UsbDevice &operator=(const UsbDevice &) = delete;

    void setTranscript(Transcript transcript);
    void setAfterTransfer(AfterTransfer afterTransfer);

    bool plug(const Address &address, std::string *error);
    // Gone from the bus: a "remove" uevent, the records disappear, and
    // clients that still hold the node get ENODEV (URBs already completed
    // can still be reaped, as usbdevfs allows).
    void unplug();
    // From now on the device answers nothing (ENODEV), as a cable pulled
    // between two transfers; the records stay until unplug(). Safe to call
    // from the handler thread, e.g. in the AfterTransfer callback.
    void cutOff();
    bool plugged() const { return current_ != nullptr; }

    uint64_t controlTransfers() const { return controlTransfers_.load(); }

    struct Session; // one plug-in: its node, handler and claims

private:
    Testbed &testbed_;
    UsbFunction &function_;
    UsbDescriptors descriptors_;
    std::mutex &lock_;
    Transcript transcript_;
    AfterTransfer afterTransfer_;
    std::atomic<uint64_t> controlTransfers_{0};
    // Sessions outlive their unplug: clients may still hold the old node.
    std::vector<std::unique_ptr<Session>> sessions_;
    std::atomic<Session *> current_{nullptr};

    friend struct UsbDeviceAccess;
};

} // namespace wheelemu
