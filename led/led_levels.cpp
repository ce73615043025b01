#include "led/led_levels.h"

uint8_t ledLevelValue(int level)
{
    return LedLevels[static_cast<std::size_t>(level & 0x0F)];
}

uint8_t quantiseToLedLevel(uint8_t value)
{
    return kLedQuantisation[value];
}

uint8_t roundToLedLevel(uint8_t value)
{
    return ledLevelValue(quantiseToLedLevel(value));
}
