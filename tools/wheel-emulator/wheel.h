// The emulated wheel's behaviour, independent of how it is reached.
//
// This is the wheel's own reading of the wire formats: it shares no code with
// QuorSet, so a mistake in one cannot hide in the other. The umockdev
// transport (hidraw_device.*) feeds it raw report bytes and acts on the
// events it raises (reboot, re-enumeration as the boot loader).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace wheelemu {

enum class Model { HZet, Vln6, HMira, Ov410, Klino4, Ulmar, Srd7, Pelix };

struct ModelInfo
{
    Model model;
    const char *code;        // "H-ZET", ... as found in the wheel's name
    const char *defaultName; // the name the wheel reports by default
    uint16_t productId;      // default USB product id
    int ledPages;            // 4, or 8 for ULMAR
    bool hasBattery;
};

// The eight models, in the host's table order.
const std::vector<ModelInfo> &allModels();
// nullptr when the code is unknown.
const ModelInfo *findModel(const std::string &code);

constexpr uint16_t kVendorId = 0xC872;
constexpr size_t kInputReportSize = 17; // report id + 16-byte payload

class Wheel
{
public:
    struct Config
    {
        Model model = Model::Srd7;
        std::string name;       // empty: the model's default name
        std::string version;    // empty: a default "x.y.z\t<Mmm dd yyyy,hh:mm>" text
        bool extraLeds = true;  // what record 0x11 byte 2 reports (H-ZET, VLN6)
    };

    explicit Wheel(const Config &config);

    const ModelInfo &info() const;
    const std::string &name() const;
    const std::string &version() const;

    // Host SET_REPORT(feature). data[0] is the report id. Returns false for a
    // report the wheel does not know (the transport then fails it with EPIPE).
    bool setFeature(const uint8_t *data, size_t len);
    // Host GET_REPORT(feature). data[0] holds the report id on entry; fills
    // at most len bytes (report id first) and returns how many, or -1 for an
    // unknown report id.
    int getFeature(uint8_t *data, size_t len);
    // Host output report (report id 0x03: one LED page). false when unknown.
    bool output(const uint8_t *data, size_t len);

    // Live input state, as the next input report will carry it.
    void press(int button);   // 1..64
    void release(int button); // 1..64
    void setPaddles(uint16_t left, uint16_t right);
    std::array<uint8_t, kInputReportSize> inputReport() const;

    // What the transport must do after a write.
    enum class Event
    {
        None,
        Restart,          // firmware installed (or plain reboot): re-plug as the wheel
        EnterBootLoader,  // PELIX Reboot without a stream: leave, appear as 0483:df11
    };
    Event takeEvent();

    // Power cycle / re-plug: live values are lost, flash values come back.
    void powerCycle();
    // A boot loader finished flashing this image: the wheel now runs it.
    void installImage(const std::vector<uint8_t> &image);
    // The version an image carries, or "" if it carries none (see wheel.cpp).
    static std::string versionInImage(const std::vector<uint8_t> &image);

    // Flash-stored settings and LED frame as readable JSON (--state FILE).
    std::string stateJson() const;
    bool loadStateJson(const std::string &json, std::string *error);

    // Introspection for tests of the emulator itself.
    struct Settings
    {
        uint16_t biteWord, rightMax, leftMax, rightMin, leftMin;
        int32_t encoderPulseWidth, shifterPulseWidth;
        uint32_t clutchesEnabled, extraShiftersEnabled;
        std::vector<uint8_t> ledFrame;            // 72 or 144 bytes
        std::array<uint8_t, 6> extraLeds;         // left rgb, right rgb
    };
    const Settings &live() const;
    const Settings &flash() const;
    static Settings defaults(const ModelInfo &info);
    const std::vector<uint8_t> &installedImage() const;

private:
    struct Impl;
    // implementation detail: see wheel.cpp
    Config config_;
    const ModelInfo *info_;
    std::string name_, version_;
    Settings live_, flash_;
    std::array<uint8_t, 8> buttons_{};
    uint16_t left_ = 0, right_ = 0;
    std::vector<uint8_t> stream_, image_;
    bool streamSeen_ = false;
    Event event_ = Event::None;
    std::array<uint8_t, 21> lastQuery_{};
};

} // namespace wheelemu
