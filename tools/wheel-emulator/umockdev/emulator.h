// The whole emulated bus of one emulator process (or one test): the testbed,
// the wheels on it, any other devices (the boot loader), the transcript, the
// device loop that plugs and unplugs them, and the input report clock.
//
// Used by the standalone wheel-emulator and by the in-process test fixture;
// neither adds behaviour of its own beyond how commands reach it.
#pragma once

#include "device_loop.h"
#include "emulated_device.h"
#include "hidraw_device.h"
#include "testbed.h"
#include "transcript.h"

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace wheelemu {

class InputStreamer;

struct WheelSetup
{
    std::string model = "SRD7"; // one of the eight model codes
    std::string name;           // empty: the model's default name
    int productId = -1;         // -1: the model's default product id
    std::string version;        // empty: the wheel's default version text
    bool extraLeds = true;      // what H-ZET and VLN6 report in record 0x11
};

struct EmulatorOptions
{
    WheelSetup wheel;
    std::string transcriptPath;      // empty: no transcript file
    bool transcriptInMemory = false; // keep lines for Transcript::lines()
    int inputRate = 0;               // reports per second; 0: on change only
    std::chrono::milliseconds restartDelay{500};
    std::chrono::milliseconds bootLoaderDelay{2000};
    std::string statePath; // loaded at start when present; saveState() writes it
};

class Emulator
{
public:
    // Creates the testbed and plugs the first wheel; nullptr and *error on
    // failure. Must run in a process with the umockdev preload library.
    static std::unique_ptr<Emulator> create(const EmulatorOptions &options, std::string *error);
    // Stops the clock and the loop, unplugs everything, removes the testbed.
    ~Emulator();
    Emulator(const Emulator &) = delete;
    Emulator &operator=(const Emulator &) = delete;

    // UMOCKDEV_DIR for client processes.
    const std::string &root() const { return testbed_->root(); }
    Transcript &transcript() { return *transcript_; }
    DeviceLoop &loop() { return *loop_; }
    DeviceHost host() { return DeviceHost{*testbed_, transcript_, *loop_}; }

    // nullptr for an index that is not there. Index 0 is the first wheel.
    HidrawDevice *wheel(size_t index);
    // Whether the wheel is still one of this emulator's (not removed).
    bool has(const HidrawDevice *wheel) const;
    // Plugs another wheel on the next USB port; returns its index or -1.
    int addWheel(const WheelSetup &setup, std::string *error);
    // Unplugs and forgets a wheel other than the first.
    bool removeWheel(size_t index, std::string *error);

    // These run on the device loop and return when done.
    bool plug(size_t index, std::string *error);
    bool unplug(size_t index, std::string *error);
    // Unplug, new product id, plug: what the host sees when a wheel comes
    // back with another identity.
    bool changeProductId(size_t index, uint16_t productId, std::string *error);

    void setInputRate(int perSecond);
    int inputRate() const;

    // Other kinds of device join the bus here; the emulator unplugs them at
    // shutdown. The device is plugged by its owner.
    EmulatedDevice *addDevice(std::unique_ptr<EmulatedDevice> device);

    // What happens when a wheel's Reboot asks for its boot loader: the wheel
    // leaves the bus at once, and bootLoaderDelay later the hook runs on the
    // device loop. Without a hook nothing appears (a loader that never
    // enumerates).
    using BootLoaderHook = std::function<void(Emulator &, HidrawDevice &wheel)>;
    void setBootLoaderHook(BootLoaderHook hook);

    // Writes the first wheel's state JSON to the options' statePath.
    bool saveState(std::string *error);

private:
    explicit Emulator(const EmulatorOptions &options);
    std::unique_ptr<HidrawDevice> makeWheel(const WheelSetup &setup, int port, std::string *error);
    bool onWheel(size_t index, std::string *error, const std::function<bool(HidrawDevice &)> &f);
    void onWheelEvent(HidrawDevice *wheel, Wheel::Event event);

    EmulatorOptions options_;
    std::shared_ptr<Transcript> transcript_;
    std::unique_ptr<Testbed> testbed_;
    std::unique_ptr<DeviceLoop> loop_;
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<HidrawDevice>> wheels_;
    std::vector<std::unique_ptr<EmulatedDevice>> devices_;
    BootLoaderHook bootLoaderHook_;
    bool shuttingDown_ = false;
    std::unique_ptr<InputStreamer> streamer_;
};

// Builds a wheel's configuration from a setup; false and *error for an unknown
// model code.
bool wheelConfig(const WheelSetup &setup, Wheel::Config *config, std::string *error);

} // namespace wheelemu
