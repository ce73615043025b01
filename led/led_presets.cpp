#include "led/led_presets.h"

namespace {

// The preset buttons' own sheets show these colours too, but the program
// keeps its own copy so that restyling a preset can never change what it
// paints.
constexpr LedPreset kPresets[] = {
    {"red", 'R', {255, 0, 0}},       {"green", 'G', {0, 255, 0}},   {"blue", 'B', {0, 0, 255}},
    {"white", 'W', {255, 255, 255}}, {"off", 'D', {0, 0, 0}},       {"sky", '1', {0, 170, 255}},
    {"magenta", '2', {255, 0, 255}}, {"orange", '3', {255, 85, 0}}, {"yellow", '4', {255, 255, 0}},
};

} // namespace

const LedPreset *ledPresetByKey(QChar key)
{
    for (const LedPreset &preset : kPresets) {
        if (key == QLatin1Char(preset.key))
            return &preset;
    }
    return nullptr;
}

const LedPreset *ledPresetByName(const QString &name)
{
    for (const LedPreset &preset : kPresets) {
        if (name.compare(QLatin1String(preset.name), Qt::CaseInsensitive) == 0)
            return &preset;
    }
    return name.size() == 1 ? ledPresetByKey(name.at(0)) : nullptr;
}
