// The eight models and what a wheel holds after its flash is cleared.
#include "wheel.h"

namespace wheelemu {

namespace {
constexpr size_t kLedPageBytes = 18;

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
} // namespace

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

} // namespace wheelemu
