#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <vector>

// Decoding of the wheel's input report payload (the 16 bytes after the report
// id): two clutch paddle readings and a 64-bit button bitmap, and the rule
// that turns one payload into lit indicators and released buttons.

constexpr int kInputPayloadSize = 16;

struct InputPayload
{
    uint16_t right = 0; // raw right clutch paddle reading
    uint16_t left = 0;  // raw left clutch paddle reading
    // Bit n is button n + 1 (payload byte 4 + n / 8, bit n % 8).
    uint64_t buttons = 0;
};

// Reads the fields of a payload. Bytes missing from a short array count as 0;
// the reader thread always delivers all 16.
InputPayload decodeInputPayload(const QByteArray &payload);
InputPayload decodeInputPayload(const uint8_t *payload, std::size_t size);

// 0-based indices of the set bits, ascending (0..63).
std::vector<int> pressedButtons(uint64_t buttons);

// Buttons 1..52 have an indicator on the model picture; 53..64 have none.
constexpr int kIndicatorCount = 52;

// Indicator object name per button, entry i for button number i + 1.
extern const std::array<const char *, kIndicatorCount> ButtonIndicatorTable;

// Object name of the indicator of a button number (1-based), or nullptr for
// a button without one.
const char *indicatorName(int buttonNumber);

// 0-based indices of the extra shifter buttons 49 and 50. They take part only
// while the extra shifters are enabled; otherwise they are skipped entirely
// and keep whatever state they had.
constexpr int kExtraShifterRightIndex = 48;
constexpr int kExtraShifterLeftIndex = 49;
bool indicatorTakesPart(int index, bool extraShiftersEnabled);

// Untouched: never decided by a report (empty status tip). Lit: shown while
// pressed ("SHOW"). Unlit: hidden after a report turned it off ("HIDE").
enum class IndicatorState : uint8_t
{
    Untouched,
    Lit,
    Unlit,
};

// The window keeps each indicator's state in its status tip.
const char *statusTipOf(IndicatorState state);
// Only the exact texts count; anything else reads as untouched.
IndicatorState stateFromStatusTip(const QString &tip);

using IndicatorStates = std::array<IndicatorState, kIndicatorCount>;
using IndicatorMask = std::bitset<kIndicatorCount>;

struct IndicatorUpdate
{
    IndicatorStates states{};
    // 0-based indices of the indicators that went from lit to unlit, ascending.
    std::vector<int> releasedButtons;
};

// One report's effect on the indicators. An indicator lights when its bit is
// set and it is enabled; otherwise it goes unlit, and if it was lit it is
// reported as released. Indicators left out (49/50 without extra shifters)
// keep their previous state.
IndicatorUpdate updateIndicators(const IndicatorStates &previous, uint64_t buttons,
                                 const IndicatorMask &enabled, bool extraShiftersEnabled);
