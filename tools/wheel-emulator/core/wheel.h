// The emulated wheel's behaviour, independent of how it is reached.
//
// This is the wheel's own reading of the wire formats: it shares no code with
// QuorSet, so a mistake in one cannot hide in the other. The umockdev
// transport (hidraw_device.*) feeds it raw report bytes and acts on the
// events it raises (reboot, re-enumeration as the boot loader).
//
// Not thread-safe: the transport serialises every call.
//
// Choices the wheel makes where the host protocol leaves it free:
//
// Replies (GET_REPORT of feature 0x02, 21 bytes, report id first). A GET
// answers the most recent Query request; the reply is prepared when the
// request arrives, so writes between request and read do not change it. Before
// any Query the reply is 0x02 and zeros. Byte 1 echoes the record code for
// every record except the version text (which starts at byte 1); unused bytes
// are zero; an unknown record (or a page beyond the model's count) answers
// 02 FF and zeros, an unknown item 0xFFFFFFFF.
//
// Live and flash. Every write applies at once to the live values; a write with
// 0xEF in its marker position (byte 4 of WritePaddleConfig, byte 7 of SetItem,
// byte 2 of SetExtraLedColours) also stores into flash. LED page output
// reports change the live frame (what the LEDs show and what page queries
// return) and CommitLedColours copies the live frame into flash; the extra
// LEDs are not touched by the commit, they carry their own marker. Power
// cycle, reboot and a new firmware all bring back the flash values.
// ClearFlash (SetItem 0x10, any value, no marker needed) puts the defaults
// (see defaults()) into flash and live alike; the installed firmware stays.
//
// Shifter thresholds (items 0x03, 0x05, 0x06, 0x07): 0 starts a calibration
// (the wheel reports 0 meanwhile), 0xFFFFFFFF finishes it by taking the
// shifter's reading at rest as the threshold, any other value is taken as
// the threshold itself. Pulse widths and enables are stored
// as written, without a range check, so a test can make the wheel report
// anything.
//
// Firmware stream: see FirmwareStream below. Reboot (02 10) after a good stream
// installs the image and restarts (Event::Restart); after a broken one it
// restarts with the old firmware. Without any stream a PELIX enters its boot
// loader (Event::EnterBootLoader); the other models just restart.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace wheelemu {

// Reassembly of the firmware image the host streams in FirmwareDataReports.
//
// A data report is the command report whose byte 1 has bit 7 set:
//   byte 1 = 0x80 | bits 8..14 of the block index, byte 2 = bits 0..7,
//   byte 3 = chunk length 1..16, bytes 4.. = the chunk; offset = block * 16.
// Bytes after the chunk are whatever the host's buffer held and are ignored.
//
// The wheel accepts only a stream that starts at offset 0 and continues
// without gaps, in order, with full 16-byte chunks except for the last. A
// report at offset 0 always starts a new stream (a host retrying an update
// starts over); anything else out of place breaks the stream, which then
// ignores everything up to the next offset 0 report and is not installed.
class FirmwareStream
{
public:
    // Takes one data report (report id first, at least 4 bytes, the chunk
    // following). Returns a description of what went wrong, or "" when the
    // report was taken.
    std::string take(const uint8_t *report, size_t len);

    bool seen() const { return state_ != State::Idle; }
    bool broken() const { return state_ == State::Broken; }
    const std::string &whyBroken() const { return why_; }
    const std::vector<uint8_t> &image() const { return image_; }
    void reset();

    // Offset of the chunk a data report carries.
    static uint32_t offsetOf(const uint8_t *report);

private:
    enum class State
    {
        Idle,   // nothing since the last reset
        Open,   // receiving full chunks
        Closed, // a short last chunk came; only Reboot may follow
        Broken,
    };
    std::string breakWith(std::string why);

    State state_ = State::Idle;
    std::vector<uint8_t> image_;
    std::string why_;
};

enum class Model
{
    HZet,
    Vln6,
    HMira,
    Ov410,
    Klino4,
    Ulmar,
    Srd7,
    Pelix
};

// Whether the two extra LEDs are fitted: on H-ZET and VLN6 it depends on the
// wheel (Config::extraLeds).
enum class ExtraLeds
{
    Never,
    Always,
    AsConfigured,
};

struct ModelInfo
{
    Model model;
    const char *code;        // "H-ZET", ... as found in the wheel's name
    const char *defaultName; // the name the wheel reports by default
    uint16_t productId;      // default USB product id
    int ledPages;            // 4, or 8 for ULMAR
    bool hasBattery;
    bool hasClutches;      // analogue clutch paddles fitted
    bool hasExtraShifters; // the two extra shifter paddles fitted
    ExtraLeds extraLeds;
};

// The eight models, in the host's table order.
const std::vector<ModelInfo> &allModels();
// nullptr when the code is unknown.
const ModelInfo *findModel(const std::string &code);

constexpr uint16_t kVendorId = 0xC872;
constexpr uint8_t kInputReportId = 0x01;
constexpr size_t kInputReportSize = 17;  // report id + 16-byte payload
constexpr size_t kFeatureReplySize = 21; // report id + 20 data bytes
constexpr size_t kVersionTextMax = 20;   // what fits in the version reply
constexpr size_t kNameTextMax = 19;      // what fits in the name reply
// The version text of a wheel whose configuration names none. It has to fit
// the 20 bytes of the version reply: "<release>\t<build date>".
constexpr const char *kDefaultVersion = "2\tMar  7 2024,15:04";
// The end of the version text of a test image that installs with the
// factory settings.
constexpr const char *kFactoryResetSuffix = "+factory";

class Wheel
{
public:
    struct Config
    {
        Model model = Model::Srd7;
        std::string name;      // empty: the model's default name
        std::string version;   // empty: kDefaultVersion
        bool extraLeds = true; // what record 0x11 byte 2 reports (H-ZET, VLN6)
    };

    explicit Wheel(const Config &config);

    const ModelInfo &info() const { return *info_; }
    const std::string &name() const { return name_; }
    const std::string &version() const { return version_; }
    bool hasExtraLeds() const; // what record 0x11 byte 2 reports

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
    void press(int button);   // 1..64; other numbers are ignored
    void release(int button); // 1..64
    void setPaddles(uint16_t left, uint16_t right);
    std::array<uint8_t, kInputReportSize> inputReport() const;

    struct PowerStatus
    {
        uint8_t percent;
        uint16_t level; // 4300 and above: external power
        uint8_t link;   // 0 Bluetooth, 1 USB
    };
    // Battery models start at 80 %, level 3900, Bluetooth; the others report
    // 100 %, level 5000, USB.
    void setPowerStatus(const PowerStatus &status) { power_ = status; }
    PowerStatus powerStatus() const { return power_; }

    // What the transport must do after a write.
    enum class Event
    {
        None,
        Restart,         // firmware installed (or plain reboot): re-plug as the wheel
        EnterBootLoader, // PELIX Reboot without a stream: leave, appear as 0483:df11
    };
    Event takeEvent() { return std::exchange(event_, Event::None); }

    // Things the wheel ignored or refused (short reports, broken firmware
    // streams, unknown commands), oldest first; the list is emptied.
    std::vector<std::string> takeNotes() { return std::exchange(notes_, {}); }

    // For tests of hosts that reuse a reply buffer: bytes 8..20 of every later
    // item reply (record 0x0C) carry this byte instead of zeros.
    void setItemReplyTail(uint8_t fill) { itemReplyTail_ = fill; }

    // Power cycle / re-plug: live values are lost, flash values come back.
    // Also what the transport calls when the boot loader leaves without a
    // new image.
    void powerCycle();
    // A boot loader finished flashing this image: the wheel now runs it
    // (version from the image when it carries one) and starts afresh; an
    // image whose version ends in kFactoryResetSuffix comes up with the
    // factory settings.
    void installImage(const std::vector<uint8_t> &image);

    // Flash-stored settings, LED frame and firmware version as readable JSON
    // (--state FILE); see wheel_state_json.cpp for the format. Loading
    // replaces flash and live values and the version; on error nothing
    // changes and *error says what and where.
    std::string stateJson() const;
    bool loadStateJson(const std::string &json, std::string *error);

    // Introspection for tests of the emulator itself.
    struct Settings
    {
        uint16_t biteWord, rightMax, leftMax, rightMin, leftMin;
        int32_t encoderPulseWidth, shifterPulseWidth;
        uint32_t clutchesEnabled, extraShiftersEnabled;
        std::array<uint32_t, 4> shifterThresholds; // left, right, extra left, extra right
        std::vector<uint8_t> ledFrame;             // 72 or 144 bytes
        std::array<uint8_t, 6> extraLeds;          // left rgb, right rgb
    };
    const Settings &live() const { return live_; }
    const Settings &flash() const { return flash_; }
    static Settings defaults(const ModelInfo &info);
    const std::vector<uint8_t> &installedImage() const { return image_; }

private:
    void note(std::string text) { notes_.push_back(std::move(text)); }
    void writePaddleConfig(const uint8_t *req);
    void query(const uint8_t *req);
    void setItem(const uint8_t *req);
    void commitLedColours(const uint8_t *req);
    void reboot(const uint8_t *req);
    void setExtraLedColours(const uint8_t *req);
    template<typename Change> void apply(bool save, Change change);

    Config config_;
    const ModelInfo *info_;
    std::string name_, version_;
    Settings live_, flash_;
    std::array<uint8_t, 8> buttons_{};
    uint16_t left_ = 0, right_ = 0;
    PowerStatus power_{};
    FirmwareStream stream_;
    std::vector<uint8_t> image_;
    Event event_ = Event::None;
    std::array<uint8_t, kFeatureReplySize> reply_{};
    uint8_t itemReplyTail_ = 0;
    std::vector<std::string> notes_;
};

} // namespace wheelemu
