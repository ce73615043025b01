// An emulated wheel inside the test process, reached by the real hidapi
// (hidraw backend) through umockdev: the test opens it with hid_open() as
// the program would, and drives the wheel's side from here.
//
// The test binary must be under the preload (wheel_test_main.h, or
// runUnderPreload() at the top of main). umockdev answers the client's
// calls on its own worker thread with its own GMainContext, so a test may
// block in hidapi calls on any thread. Every method here is synchronous:
// when it returns, the change is on the bus.
//
// This header does not include umockdev.h; include it in any order.
#pragma once

#include "emulator.h"

#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace wheeltest {

// Every stored value a host sets, for comparing whole setups: all but the
// shifter thresholds, which are calibrated on the paddles.
inline auto settable(const wheelemu::Wheel::Settings &s)
{
    return std::tuple(s.biteWord, s.rightMax, s.leftMax, s.rightMin, s.leftMin, s.encoderPulseWidth,
                      s.shifterPulseWidth, s.clutchesEnabled, s.extraShiftersEnabled, s.ledFrame,
                      s.extraLeds);
}

class WheelFixture
{
public:
    struct Options
    {
        std::string model = "SRD7";
        std::string name;   // empty: the model's default
        int productId = -1; // -1: the model's default
        std::string version;
        bool extraLeds = true;
        int inputRate = 0; // 0: reports on change
        int restartDelayMs = 200;
        int bootLoaderDelayMs = 2000;
    };

    WheelFixture();
    explicit WheelFixture(const Options &options);
    // Unplugs everything and removes the testbed.
    ~WheelFixture();
    WheelFixture(const WheelFixture &) = delete;
    WheelFixture &operator=(const WheelFixture &) = delete;

    bool ok() const { return emulator_ != nullptr; }
    const std::string &error() const { return error_; }
    std::string root() const;

    // Input, on wheel 0 unless told otherwise.
    void press(int button, int wheel = 0);
    void release(int button, int wheel = 0);
    void setPaddles(uint16_t left, uint16_t right, int wheel = 0);
    void setRate(int reportsPerSecond);
    void sendReports(int count = 1, int wheel = 0);
    // One input report of only `length` bytes, report id included.
    void sendShortReport(int length, int wheel = 0);

    // The bus.
    bool unplug(int wheel = 0);
    bool plug(int wheel = 0);
    bool changeProductId(uint16_t productId, int wheel = 0);
    // Returns the new wheel's index, or -1.
    int addWheel(const std::string &model, int productId = -1);
    bool plugged(int wheel = 0);

    // Injected failures: the next count calls of that kind fail.
    void failGetFeature(int count = 1, int wheel = 0);
    void failSetFeature(int count = 1, int wheel = 0);
    void failReads(int count = 1, int wheel = 0);
    void failWrites(int count = 1, int wheel = 0);

    // Transcript lines without their time stamps, only those of the given
    // kinds ("set-feature", "get-feature", ...); all kinds when empty.
    std::vector<std::string> exchanges(const std::vector<std::string> &kinds = {}) const;
    void clearTranscript();
    // What the host sent of these kinds, feature reports without their zero
    // tail ("set-feature 02 0b 0d"); writes() leaves out the queries (02 0b),
    // so it holds only what changes something.
    QStringList sent(const std::vector<std::string> &kinds = {"set-feature", "output"}) const;
    QStringList writes() const;

    // What the wheel holds: its live and stored settings, the firmware it runs.
    wheelemu::Wheel::Settings live(int wheel = 0);
    wheelemu::Wheel::Settings flash(int wheel = 0);
    std::vector<uint8_t> installedImage(int wheel = 0);

    // Runs f on the wheel's behaviour under its lock.
    void withWheel(const std::function<void(wheelemu::Wheel &)> &f, int wheel = 0);
    // Any control command line ("press 3", "fault read 2").
    bool command(const std::string &line);

    wheelemu::Emulator &emulator() { return *emulator_; }

private:
    wheelemu::HidrawDevice *device(int wheel);
    void addFaults(int wheel, const std::function<void(wheelemu::HidrawDevice::Faults &)> &set);

    std::unique_ptr<wheelemu::Emulator> emulator_;
    std::string error_;
};

} // namespace wheeltest
