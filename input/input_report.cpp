#include "input/input_report.h"

namespace {

constexpr std::size_t kRightByte = 0;
constexpr std::size_t kLeftByte = 2;
constexpr std::size_t kButtonsByte = 4;
constexpr std::size_t kButtonBytes = 8;

constexpr const char *kLitTip = "SHOW";
constexpr const char *kUnlitTip = "HIDE";

uint8_t byteAt(const uint8_t *payload, std::size_t size, std::size_t at)
{
    return at < size ? payload[at] : 0;
}

uint16_t u16At(const uint8_t *payload, std::size_t size, std::size_t at)
{
    return static_cast<uint16_t>(byteAt(payload, size, at) | (byteAt(payload, size, at + 1) << 8));
}

} // namespace

const std::array<const char *, kIndicatorCount> ButtonIndicatorTable = {
    "pbIB1",  "pbISW1", "pbID5L", "pbID5R", "pbID1L", "pbID1R", "pbIB2",   "pbIB6",  // 1..8
    "pbJsL1", "pbJsL2", "pbJsL3", "pbJsL4", "pbJsLC", "pbJsLL", "pbJsLR",  "pbIB5",  // 9..16
    "pbID7L", "pbID7R", "pbID3L", "pbID3R", "pbIB3",  "pbIB4",  "pbIBarR", "pbSWL",  // 17..24
    "pbID8L", "pbID8R", "pbID4L", "pbID4R", "pbIB11", "pbIB12", "pbIBarL", "pbSWR",  // 25..32
    "pbIB9",  "pbISW2", "pbID6L", "pbID6R", "pbID2L", "pbID2R", "pbIB10",  "pbIB13", // 33..40
    "pbJsR1", "pbJsR2", "pbJsR3", "pbJsR4", "pbJsRC", "pbJsRL", "pbJsRR",  "pbIB14", // 41..48
    "pbIExR", "pbIExL", "pbIEbL", "pbIEbR",                                          // 49..52
};

InputPayload decodeInputPayload(const uint8_t *payload, std::size_t size)
{
    InputPayload decoded;
    decoded.right = u16At(payload, size, kRightByte);
    decoded.left = u16At(payload, size, kLeftByte);
    for (std::size_t k = 0; k < kButtonBytes; ++k)
        decoded.buttons |= static_cast<uint64_t>(byteAt(payload, size, kButtonsByte + k)) << (8 * k);
    return decoded;
}

InputPayload decodeInputPayload(const QByteArray &payload)
{
    return decodeInputPayload(reinterpret_cast<const uint8_t *>(payload.constData()),
                              static_cast<std::size_t>(payload.size()));
}

std::vector<int> pressedButtons(uint64_t buttons)
{
    std::vector<int> pressed;
    for (int index = 0; index < 64; ++index) {
        if (buttons & (uint64_t{1} << index))
            pressed.push_back(index);
    }
    return pressed;
}

const char *indicatorName(int buttonNumber)
{
    if (buttonNumber < 1 || buttonNumber > kIndicatorCount)
        return nullptr;
    return ButtonIndicatorTable[static_cast<std::size_t>(buttonNumber - 1)];
}

bool indicatorTakesPart(int index, bool extraShiftersEnabled)
{
    if (index < 0 || index >= kIndicatorCount)
        return false;
    if (index == kExtraShifterRightIndex || index == kExtraShifterLeftIndex)
        return extraShiftersEnabled;
    return true;
}

const char *statusTipOf(IndicatorState state)
{
    switch (state) {
    case IndicatorState::Lit:
        return kLitTip;
    case IndicatorState::Unlit:
        return kUnlitTip;
    case IndicatorState::Untouched:
        break;
    }
    return "";
}

IndicatorState stateFromStatusTip(const QString &tip)
{
    if (tip == QLatin1String(kLitTip))
        return IndicatorState::Lit;
    if (tip == QLatin1String(kUnlitTip))
        return IndicatorState::Unlit;
    return IndicatorState::Untouched;
}

IndicatorUpdate updateIndicators(const IndicatorStates &previous, uint64_t buttons,
                                 const IndicatorMask &enabled, bool extraShiftersEnabled)
{
    IndicatorUpdate update;
    update.states = previous;
    for (int index = 0; index < kIndicatorCount; ++index) {
        if (!indicatorTakesPart(index, extraShiftersEnabled))
            continue;
        const std::size_t i = static_cast<std::size_t>(index);
        const bool pressed = buttons & (uint64_t{1} << index);
        if (pressed && enabled.test(i)) {
            update.states[i] = IndicatorState::Lit;
            continue;
        }
        if (previous[i] == IndicatorState::Lit)
            update.releasedButtons.push_back(index);
        update.states[i] = IndicatorState::Unlit;
    }
    return update;
}
