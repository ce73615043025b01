// The boot loader on the emulated bus: the DfuLoader behind a UsbDevice in
// the emulator's testbed, with its flash kept in a file if asked.
//
// What the loader decides (leave, enumerate again, drop off the bus) is
// carried out as tasks on the device loop, never on the USB handler thread.
// plug() and unplug() may be called from any thread; they run on the loop.
#pragma once

#include "dfu_loader.h"
#include "dfu_usb_function.h"
#include "emulated_device.h"
#include "usb_device.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace wheelemu {

class DfuBootLoader : public EmulatedDevice
{
public:
    struct Options
    {
        DfuLoader::Config loader;
        DfuUsbFunction::Identity identity;
        std::string port = "1-3"; // sysfs name; the device number comes from the testbed
        std::string flashFile;    // loaded by loadFlash(), saved whenever the loader leaves the bus
    };
    // After the loader left the bus to start the firmware, with the flashed
    // image (the flash up to its last programmed byte). On the device loop.
    using LeaveHandler = std::function<void(const std::vector<uint8_t> &image)>;

    DfuBootLoader(DeviceHost host, const Options &options);
    // Unplugs first (the emulator normally did that already, on its loop).
    ~DfuBootLoader() override;

    // Reads the flash file, if one was named and exists; a file larger than
    // the flash is refused.
    bool loadFlash(std::string *error);

    void setOnLeave(LeaveHandler handler);
    // The USB port the next plug() enumerates on ("1-2": the wheel's own).
    void setPort(const std::string &port);

    // Enumerates as the loader, freshly started (dfuIDLE, or dfuERROR with
    // the start-in-error fault).
    bool plug(std::string *error) override;
    // Leaves the bus without starting anything (the emulator stops, the
    // wheel is switched off); pending leave or re-enumeration is dropped.
    // Saves the flash.
    void unplug() override;
    bool plugged() const override { return device_.plugged(); }

    void loadFlashContents(const std::vector<uint8_t> &contents);
    // Runs f with the loader locked against the USB handler thread.
    void withLoader(const std::function<void(DfuLoader &)> &f);
    uint64_t controlTransfers() const { return device_.controlTransfers(); }

private:
    bool plugOnLoop(std::string *error);
    void unplugOnLoop();
    void afterTransfer();
    void arm(uint64_t atMs);
    void cancelTimers();
    void dispatch();
    void saveFlash(); // to the flash file, if there is one

    DeviceHost host_;
    Options options_;

    mutable std::mutex lock_; // the loader, shared with the USB handler thread
    DfuLoader loader_;
    DfuUsbFunction function_;
    UsbDevice device_;

    std::mutex handlerLock_;
    LeaveHandler onLeave_;
    std::mutex timerLock_; // taken alone: never held while umockdev is called
    std::vector<uint64_t> timers_;
    // Tasks posted and neither run to the end nor cancelled: while there are
    // any, the loop is alive and destruction must wait for it.
    std::atomic<int> tasksInFlight_{0};
};

} // namespace wheelemu
