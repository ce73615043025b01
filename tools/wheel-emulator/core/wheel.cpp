// The wheel's side of the command reports, LED pages and input reports,
// and the eight models.
#include "wheel.h"

#include "test_image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <type_traits>

namespace wheelemu {

namespace {
constexpr uint8_t kCommandReportId = 0x02;
constexpr uint8_t kLedPageReportId = 0x03;
constexpr uint8_t kSaveMarker = 0xEF;
constexpr uint8_t kFirmwareDataBit = 0x80;
constexpr size_t kLedPageReportSize = 20;
constexpr size_t kLedPageBytes = 18;
constexpr uint8_t kUnknownRecord = 0xFF;
constexpr uint32_t kNoValue = 0xFFFFFFFF;
constexpr uint32_t kFinishCalibration = 0xFFFFFFFF;

enum Command : uint8_t
{
    WritePaddleConfig = 0x0A,
    Query = 0x0B,
    SetItem = 0x0C,
    CommitLedColours = 0x0E,
    Reboot = 0x10,
    SetExtraLedColours = 0x11,
};

enum Record : uint8_t
{
    FirmwareVersionRecord = 0x09,
    PaddleConfigRecord = 0x0A,
    ItemRecord = 0x0C,
    ModelNameRecord = 0x0D,
    PowerStatusRecord = 0x0F,
    ExtraLedRecord = 0x11,
};

constexpr uint8_t kClearFlashItem = 0x10;

using Request = std::array<uint8_t, kFeatureReplySize>;
using Reply = std::array<uint8_t, kFeatureReplySize>;

uint16_t getU16(const uint8_t *p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t getU32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
void putU16(uint8_t *p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void putU32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void putText(uint8_t *p, const std::string &text, size_t max)
{
    std::memcpy(p, text.data(), std::min(text.size(), max));
}

std::string hex(uint32_t v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%02X", v);
    return buf;
}

// SetItem items: how each reads and writes the settings, and whether it is a
// shifter threshold, which a finished calibration takes from the sensor.
struct ItemAccess
{
    uint8_t code;
    bool shifterThreshold;
    uint32_t (*get)(const Wheel::Settings &);
    void (*set)(Wheel::Settings &, uint32_t);
};

template<auto Member> uint32_t getMember(const Wheel::Settings &s)
{
    return static_cast<uint32_t>(s.*Member);
}
template<auto Member> void setMember(Wheel::Settings &s, uint32_t v)
{
    s.*Member = static_cast<std::remove_reference_t<decltype(s.*Member)>>(v);
}
template<size_t I> uint32_t getThreshold(const Wheel::Settings &s)
{
    return s.shifterThresholds[I];
}
template<size_t I> void setThreshold(Wheel::Settings &s, uint32_t v)
{
    s.shifterThresholds[I] = v;
}

using S = Wheel::Settings;
const ItemAccess kItems[] = {
    {0x03, true, getThreshold<0>, setThreshold<0>},
    {0x04, false, getMember<&S::encoderPulseWidth>, setMember<&S::encoderPulseWidth>},
    {0x05, true, getThreshold<1>, setThreshold<1>},
    {0x06, true, getThreshold<2>, setThreshold<2>},
    {0x07, true, getThreshold<3>, setThreshold<3>},
    {0x08, false, getMember<&S::clutchesEnabled>, setMember<&S::clutchesEnabled>},
    {0x09, false, getMember<&S::extraShiftersEnabled>, setMember<&S::extraShiftersEnabled>},
    {0x0A, false, getMember<&S::shifterPulseWidth>, setMember<&S::shifterPulseWidth>},
};

const ItemAccess *findItem(uint8_t code)
{
    for (const ItemAccess &item : kItems)
        if (item.code == code)
            return &item;
    return nullptr;
}

struct CommandHandler
{
    uint8_t code;
    void (Wheel::*handle)(const uint8_t *);
};

// How each record other than the LED pages fills its reply; bytes 0 and 1
// (report id, record code) are set already and the rest is zero.
struct RecordReply
{
    uint8_t record;
    void (*fill)(const Wheel &w, uint8_t item, uint8_t *reply);
};

const RecordReply kRecordReplies[] = {
    {FirmwareVersionRecord,
     [](const Wheel &w, uint8_t, uint8_t *r) {
         putText(r + 1, w.version(), kVersionTextMax);
     }},
    {PaddleConfigRecord,
     [](const Wheel &w, uint8_t, uint8_t *r) {
         putU16(r + 2, w.live().biteWord);
         putU16(r + 5, w.live().rightMax);
         putU16(r + 7, w.live().leftMax);
         putU16(r + 9, w.live().rightMin);
         putU16(r + 11, w.live().leftMin);
     }},
    {ItemRecord,
     [](const Wheel &w, uint8_t code, uint8_t *r) {
         const ItemAccess *item = findItem(code);
         r[2] = code;
         putU32(r + 3, item ? item->get(w.live()) : kNoValue);
     }},
    {ModelNameRecord,
     [](const Wheel &w, uint8_t, uint8_t *r) {
         putText(r + 2, w.name(), kNameTextMax);
     }},
    {PowerStatusRecord,
     [](const Wheel &w, uint8_t, uint8_t *r) {
         r[2] = w.powerStatus().percent;
         putU16(r + 3, w.powerStatus().level);
         r[5] = w.powerStatus().link;
     }},
    {ExtraLedRecord,
     [](const Wheel &w, uint8_t, uint8_t *r) {
         r[2] = w.hasExtraLeds() ? 1 : 0;
         std::copy(w.live().extraLeds.begin(), w.live().extraLeds.end(), r + 3);
     }},
};

// code, name, pid, pages, battery, clutches, extra shifters, extra LEDs
const std::vector<ModelInfo> kModels = {
    {Model::HZet, "H-ZET", "QUOR H-ZET Wheel", 0x2007, 4, true, true, false, ExtraLeds::AsConfigured},
    {Model::Vln6, "VLN6", "QUOR VLN6 Wheel", 0x2008, 4, false, true, true, ExtraLeds::AsConfigured},
    {Model::HMira, "H-MIRA", "QUOR H-MIRA Wheel", 0x2009, 4, true, true, false, ExtraLeds::Never},
    {Model::Ov410, "OV410", "QUOR OV410 Wheel", 0x200A, 4, true, false, false, ExtraLeds::Never},
    {Model::Klino4, "KLINO4", "QUOR KLINO4 Wheel", 0x200B, 4, true, true, false, ExtraLeds::Always},
    {Model::Ulmar, "ULMAR", "QUOR ULMAR Wheel", 0x200C, 8, true, true, true, ExtraLeds::Always},
    {Model::Srd7, "SRD7", "QUOR SRD7 Wheel", 0x200D, 4, false, true, false, ExtraLeds::Always},
    {Model::Pelix, "PELIX", "QUOR PELIX Wheel", 0x2010, 4, false, true, false, ExtraLeds::Never},
};

constexpr uint16_t kNoBitePaddle = 0xFFFF;
constexpr uint16_t kLeftAtHalf = 5000; // left paddle, bite point 50.00 %
constexpr uint16_t kAdcFullScale = 4095;
constexpr int32_t kPulseWidthMs = 100;
constexpr uint32_t kEnabled = 1, kDisabled = 0xFF;
constexpr uint32_t kThreshold = 2048;
constexpr uint8_t kFullLevels = 0xFF; // both channel nibbles at level 15: white

constexpr Wheel::PowerStatus kOnBattery{80, 3900, 0};
constexpr Wheel::PowerStatus kOnUsb{100, 5000, 1};
constexpr uint32_t kShifterRestReading = 2600;
constexpr size_t kChunk = 16;
constexpr size_t kHeader = 4; // report id, two offset bytes, length
} // namespace

uint32_t FirmwareStream::offsetOf(const uint8_t *report)
{
    const uint32_t block = (static_cast<uint32_t>(report[1] & 0x7F) << 8) | report[2];
    return block * kChunk;
}

void FirmwareStream::reset()
{
    state_ = State::Idle;
    image_.clear();
    why_.clear();
}

std::string FirmwareStream::breakWith(std::string why)
{
    state_ = State::Broken;
    image_.clear();
    why_ = why;
    return why;
}

std::string FirmwareStream::take(const uint8_t *report, size_t len)
{
    if (len < kHeader)
        return breakWith("firmware data report of " + std::to_string(len) + " bytes has no header");
    const uint32_t offset = offsetOf(report);
    const size_t n = report[3];
    if (offset == 0) {
        state_ = State::Open;
        image_.clear();
        why_.clear();
    }
    if (state_ == State::Broken)
        return "firmware data at offset " + hex(offset) + " ignored: stream broken (" + why_ + ")";
    if (n < 1 || n > kChunk)
        return breakWith("bad chunk length " + std::to_string(n) + " at offset " + hex(offset));
    if (len < kHeader + n)
        return breakWith("chunk at offset " + hex(offset) + " claims " + std::to_string(n) +
                         " bytes, report has " + std::to_string(len - kHeader));
    if (state_ == State::Idle)
        return breakWith("stream starts at offset " + hex(offset) + ", not 0");
    if (state_ == State::Closed)
        return breakWith("data at offset " + hex(offset) + " after the short last chunk");
    if (offset != image_.size())
        return breakWith("expected offset " + hex(static_cast<uint32_t>(image_.size())) + ", got " +
                         hex(offset));
    image_.insert(image_.end(), report + kHeader, report + kHeader + n);
    if (n < kChunk)
        state_ = State::Closed;
    return {};
}

const std::vector<ModelInfo> &allModels()
{
    return kModels;
}

const ModelInfo *findModel(const std::string &code)
{
    for (const ModelInfo &m : kModels)
        if (code == m.code)
            return &m;
    return nullptr;
}

// Defaults: the bite point on the left paddle at 50 % (no bite paddle on a
// wheel without clutches), calibration over the full 12-bit range, both
// pulse widths 100 ms, clutches and extra shifters enabled where fitted
// (0xFF where not), shifter thresholds at mid travel, every LED white.
Wheel::Settings Wheel::defaults(const ModelInfo &info)
{
    Settings s{};
    s.biteWord = info.hasClutches ? kLeftAtHalf : kNoBitePaddle;
    s.rightMax = s.leftMax = kAdcFullScale;
    s.rightMin = s.leftMin = 0;
    s.encoderPulseWidth = s.shifterPulseWidth = kPulseWidthMs;
    s.clutchesEnabled = info.hasClutches ? kEnabled : kDisabled;
    s.extraShiftersEnabled = info.hasExtraShifters ? kEnabled : kDisabled;
    s.shifterThresholds.fill(kThreshold);
    s.ledFrame.assign(static_cast<size_t>(info.ledPages) * kLedPageBytes, kFullLevels);
    s.extraLeds.fill(kFullLevels);
    return s;
}

Wheel::Wheel(const Config &config)
    : config_(config), info_(&allModels()[static_cast<size_t>(config.model)]),
      name_(config.name.empty() ? info_->defaultName : config.name),
      version_(config.version.empty() ? kDefaultVersion : config.version), live_(defaults(*info_)),
      flash_(live_), power_(info_->hasBattery ? kOnBattery : kOnUsb)
{
    reply_[0] = kCommandReportId;
}

template<typename Change> void Wheel::apply(bool save, Change change)
{
    change(live_);
    if (save)
        change(flash_);
}

bool Wheel::setFeature(const uint8_t *data, size_t len)
{
    if (len == 0 || data[0] != kCommandReportId)
        return false;
    if (len < 2) {
        note("command report without a command byte ignored");
        return true;
    }
    if (len > kFeatureReplySize)
        note("command report of " + std::to_string(len) + " bytes: bytes after " +
             std::to_string(kFeatureReplySize) + " ignored");
    // Bytes the host did not send read as zero.
    Request req{};
    std::memcpy(req.data(), data, std::min(len, req.size()));

    if (req[1] & kFirmwareDataBit) {
        std::string problem = stream_.take(req.data(), std::min(len, req.size()));
        if (!problem.empty())
            note(std::move(problem));
        return true;
    }
    static const CommandHandler kHandlers[] = {
        {WritePaddleConfig, &Wheel::writePaddleConfig},
        {Query, &Wheel::query},
        {SetItem, &Wheel::setItem},
        {CommitLedColours, &Wheel::commitLedColours},
        {Reboot, &Wheel::reboot},
        {SetExtraLedColours, &Wheel::setExtraLedColours},
    };
    for (const CommandHandler &h : kHandlers) {
        if (h.code == req[1]) {
            (this->*h.handle)(req.data());
            return true;
        }
    }
    note("unknown command " + hex(req[1]) + " ignored");
    return true;
}

int Wheel::getFeature(uint8_t *data, size_t len)
{
    if (len == 0 || data[0] != kCommandReportId)
        return -1;
    const size_t n = std::min(len, reply_.size());
    std::memcpy(data, reply_.data(), n);
    return static_cast<int>(n);
}

bool Wheel::output(const uint8_t *data, size_t len)
{
    if (len == 0 || data[0] != kLedPageReportId)
        return false;
    if (len < kLedPageReportSize) {
        note("LED page report of " + std::to_string(len) + " bytes ignored");
        return true;
    }
    const size_t page = data[1];
    if (page >= static_cast<size_t>(info_->ledPages)) {
        note("LED page " + std::to_string(page) + " ignored: this model has " +
             std::to_string(info_->ledPages));
        return true;
    }
    std::copy(data + 2, data + 2 + kLedPageBytes,
              live_.ledFrame.begin() + static_cast<long>(page * kLedPageBytes));
    return true;
}

void Wheel::writePaddleConfig(const uint8_t *req)
{
    apply(req[4] == kSaveMarker, [req](Settings &s) {
        s.biteWord = getU16(req + 2);
        s.rightMax = getU16(req + 5);
        s.leftMax = getU16(req + 7);
        s.rightMin = getU16(req + 9);
        s.leftMin = getU16(req + 11);
    });
}

void Wheel::setItem(const uint8_t *req)
{
    const uint8_t code = req[2];
    if (code == kClearFlashItem) {
        flash_ = defaults(*info_);
        live_ = flash_;
        return;
    }
    const ItemAccess *item = findItem(code);
    if (!item) {
        note("SetItem of unknown item " + hex(code) + " ignored");
        return;
    }
    uint32_t value = getU32(req + 3);
    if (item->shifterThreshold && value == kFinishCalibration)
        value = kShifterRestReading;
    apply(req[7] == kSaveMarker, [item, value](Settings &s) { item->set(s, value); });
}

void Wheel::commitLedColours(const uint8_t *)
{
    flash_.ledFrame = live_.ledFrame;
}

void Wheel::setExtraLedColours(const uint8_t *req)
{
    apply(req[2] == kSaveMarker, [req](Settings &s) { std::copy(req + 3, req + 9, s.extraLeds.begin()); });
}

void Wheel::reboot(const uint8_t *)
{
    if (!stream_.seen() && info_->model == Model::Pelix) {
        // The wheel leaves the bus; installImage() or powerCycle() brings it back.
        event_ = Event::EnterBootLoader;
        return;
    }
    if (stream_.seen() && !stream_.broken()) {
        installImage(stream_.image());
    } else {
        if (stream_.broken())
            note("firmware not installed (" + stream_.whyBroken() + "); restarting with the old firmware");
        powerCycle();
    }
    event_ = Event::Restart;
}

bool Wheel::hasExtraLeds() const
{
    return info_->extraLeds == ExtraLeds::Always ||
           (info_->extraLeds == ExtraLeds::AsConfigured && config_.extraLeds);
}

void Wheel::query(const uint8_t *req)
{
    const uint8_t record = req[2];
    reply_ = Reply{};
    reply_[0] = kCommandReportId;
    reply_[1] = record;
    if (record < static_cast<uint8_t>(info_->ledPages)) {
        const auto from = live_.ledFrame.begin() + static_cast<long>(record * kLedPageBytes);
        std::copy(from, from + static_cast<long>(kLedPageBytes), reply_.begin() + 2);
        return;
    }
    for (const RecordReply &r : kRecordReplies) {
        if (r.record == record) {
            r.fill(*this, req[3], reply_.data());
            if (record == static_cast<uint8_t>(ItemRecord))
                std::fill(reply_.begin() + 8, reply_.end(), itemReplyTail_);
            return;
        }
    }
    reply_[1] = kUnknownRecord;
    note("query of unknown record " + hex(record));
}

void Wheel::press(int button)
{
    if (button >= 1 && button <= 64)
        buttons_[static_cast<size_t>(button - 1) / 8] |= static_cast<uint8_t>(1u << ((button - 1) % 8));
}

void Wheel::release(int button)
{
    if (button >= 1 && button <= 64)
        buttons_[static_cast<size_t>(button - 1) / 8] &= static_cast<uint8_t>(~(1u << ((button - 1) % 8)));
}

void Wheel::setPaddles(uint16_t left, uint16_t right)
{
    left_ = left;
    right_ = right;
}

std::array<uint8_t, kInputReportSize> Wheel::inputReport() const
{
    std::array<uint8_t, kInputReportSize> r{};
    r[0] = kInputReportId;
    putU16(&r[1], right_);
    putU16(&r[3], left_);
    std::copy(buttons_.begin(), buttons_.end(), r.begin() + 5);
    return r;
}

void Wheel::powerCycle()
{
    live_ = flash_;
    stream_.reset();
    reply_ = Reply{};
    reply_[0] = kCommandReportId;
}

void Wheel::installImage(const std::vector<uint8_t> &image)
{
    image_ = image;
    std::string version = versionInImage(image);
    if (version.empty())
        note("installed image carries no version tag; version text unchanged");
    else
        version_ = std::move(version);
    // A firmware that comes up with the factory settings, as a new release
    // may: its version ends in kFactoryResetSuffix.
    const std::string suffix = kFactoryResetSuffix;
    if (version_.size() >= suffix.size() &&
        version_.compare(version_.size() - suffix.size(), suffix.size(), suffix) == 0) {
        note("installed image resets the settings to the factory's");
        flash_ = defaults(*info_);
    }
    powerCycle();
}

} // namespace wheelemu
