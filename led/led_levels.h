#pragma once

#include <array>
#include <cstdint>

// The wheel keeps each LED channel as a 4-bit level. Level L lights the
// channel like the 8-bit value LedLevels[L]; the steps grow with the value
// because the eye resolves dark shades better than bright ones.
constexpr int kLedLevelCount = 16;
constexpr std::array<uint8_t, kLedLevelCount> LedLevels = {0,  4,   9,   17,  28,  39,  53,  69,
                                                           86, 106, 126, 149, 173, 199, 226, 255};

namespace led_levels_detail {
// An 8-bit value goes to the smallest level whose value is not below it, so a
// colour the wheel reported comes back unchanged and any other one is rounded
// up to the next level.
constexpr std::array<uint8_t, 256> makeQuantisationTable()
{
    std::array<uint8_t, 256> table{};
    int level = 0;
    for (int value = 0; value < 256; ++value) {
        while (LedLevels[static_cast<std::size_t>(level)] < value)
            ++level;
        table[static_cast<std::size_t>(value)] = static_cast<uint8_t>(level);
    }
    return table;
}
} // namespace led_levels_detail

// Level of every 8-bit value, 0..15.
inline constexpr std::array<uint8_t, 256> kLedQuantisation = led_levels_detail::makeQuantisationTable();

// The 8-bit value shown for a level; only the low nibble counts, as in a
// packed frame byte.
uint8_t ledLevelValue(int level);
// The level an 8-bit value is sent as.
uint8_t quantiseToLedLevel(uint8_t value);
// What the wheel shows for a value sent to it: the value rounded up to a level.
uint8_t roundToLedLevel(uint8_t value);
