// A wheel on the emulated USB bus, reached by hidapi's hidraw backend:
// the usb_device / usb_interface / hid / hidraw chain in sysfs, a /dev node
// backed by a pty doorbell, and the handlers that turn the client's ioctl(),
// read() and write() into calls on the wheel.
//
// Every plug starts a new generation: a new pty, a new handler, new client
// queues. A client that opened the wheel before an unplug keeps talking to
// its old generation, which answers every call with ENODEV, as a hidraw
// descriptor of an unplugged device does.
#pragma once

#include "emulated_device.h"
#include "wheel.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace wheelemu {

class HidrawDevice : public EmulatedDevice
{
public:
    struct Options
    {
        Wheel::Config wheel;
        int productId = -1; // -1: the model's default
        int port = 1;       // USB port on bus 1: the sysfs name is 1-<port>
    };

    // Injected failures, each counting down by one per call it fails.
    struct Faults
    {
        int getFeature = 0; // GET_REPORT fails with EPIPE; the host's buffer is untouched
        int setFeature = 0; // SET_REPORT fails with EPIPE; the wheel does not see it
        int read = 0;       // read() of an input report fails with EIO
        int write = 0;      // write() of an output report fails with EPIPE
    };

    HidrawDevice(DeviceHost host, const Options &options);
    // Unplugs first.
    ~HidrawDevice() override;

    bool plug(std::string *error) override;
    void unplug() override;
    bool plugged() const override;

    int port() const { return options_.port; }
    // Takes effect at the next plug.
    void setProductId(uint16_t productId);
    // Descriptors currently open on the present generation.
    int clientCount() const;

    // Input state. With reportOnChange set, every change queues one input
    // report for each client at once (a wheel that reports on change);
    // otherwise the streamer's ticks carry it.
    void press(int button);
    void release(int button);
    // Several buttons in one change (one report when reporting on change).
    void changeButtons(const std::vector<int> &down, const std::vector<int> &up);
    void setPaddles(uint16_t left, uint16_t right);
    void setReportOnChange(bool on);
    // Queues count copies of the current input report for every client.
    void queueInputReports(int count);
    // Queues the current input report cut to its first `length` bytes (the
    // report id included), as a wheel that sends a short report would.
    void queueShortInputReport(size_t length);

    void addFaults(const Faults &faults);

    // Runs f on the wheel under the device's lock.
    void withWheel(const std::function<void(Wheel &)> &f);

    // Called when a write makes the wheel restart or enter its boot loader.
    // Runs on umockdev's handler thread without the device lock held; it must
    // not block (post to the device loop).
    void setEventHandler(std::function<void(Wheel::Event)> handler);

    struct Core;
    struct Generation;

private:
    DeviceHost host_;
    Options options_;
    std::shared_ptr<Core> core_;
    mutable std::mutex plugMutex_; // one plug or unplug at a time
    struct Plugged;
    std::unique_ptr<Plugged> plugged_;
    // Unplugged nodes whose ioctl handler still listens, so that a host
    // caught in the middle of a call gets ENODEV rather than a closed socket
    // (which umockdev's preload answers with abort()). Let go once no
    // descriptor of them is open; their hidraw numbers stay taken till then.
    std::vector<std::unique_ptr<Plugged>> retired_;
    void releaseRetired(bool all);
};

} // namespace wheelemu
