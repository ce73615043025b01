#include "device/device_handle.h"
#include "device/model_table.h"
#include "led/led_maps.h"
#include "led/led_presets.h"
#include "quorctl/commands.h"
#include "quorctl/console.h"
#include "quorctl/exit_codes.h"
#include "quorctl/wheel_session.h"
#include "settings/profile_transfer.h"

#include <QSet>

namespace {

const QString kLeftExtra = QStringLiteral("pbXL");
const QString kRightExtra = QStringLiteral("pbXR");

// Reads the wheel's colours, lets `change` edit them, and writes them back
// with the commit; every LED `change` leaves alone keeps its exact levels.
template<typename Change> int editColours(Change change)
{
    WheelSession session;
    if (const int code = session.open(true))
        return reportError(code, session.error());
    WheelProfile colours;
    QString error;
    if (!readWheelProfile(deviceHandle(), colours, &error))
        return reportError(ExitDeviceError, error);
    const LedMap *map = ledMapFor(colours.modelCode);
    if (!map)
        return reportError(ExitUsage, QStringLiteral("a %1 has no LEDs").arg(colours.modelCode));
    if (const int code = change(colours, *map))
        return code;
    const int sent = writeLedColours(deviceHandle(), roundedToLedLevels(colours));
    if (sent < 0)
        return reportError(ExitDeviceError, QStringLiteral("writing the LED colours failed (%1)").arg(sent));
    return ExitSuccess;
}

// The LED buttons the window shows for this wheel: a preset colours only
// those, as the window's preset buttons do.
QSet<QString> shownButtons(const QString &modelCode)
{
    QSet<QString> shown;
    const ModelEntry *entry = ModelTable::byCode(modelCode.toLatin1().constData());
    if (!entry)
        return shown;
    for (const Placement &p : entry->ledButtons)
        shown.insert(QLatin1String(p.name));
    if (entry->extraLeds == ExtraLedRule::IfReported) {
        CommandReport reply = makeQuery(Record::ExtraLedRecord);
        deviceHandle().query(reply.data(), kCommandSendLength, kCommandReplyLength);
        if (parseExtraLedRecord(reply).present()) {
            for (const Placement &p : entry->extraLedButtons)
                shown.insert(QLatin1String(p.name));
        }
    }
    return shown;
}

} // namespace

int runLedPreset(const CommandLine &line)
{
    const LedPreset *preset = ledPresetByName(line.preset);
    if (!preset)
        return reportError(ExitUsage, QStringLiteral("unknown preset \"%1\"").arg(line.preset));
    const Rgb colour = preset->colour;
    const int code = editColours([&](WheelProfile &colours, const LedMap &map) {
        const QSet<QString> shown = shownButtons(colours.modelCode);
        for (std::size_t i = 0; i < colours.leds.size(); ++i) {
            if (shown.contains(QLatin1String(map.leds[i].button)))
                colours.leds[i] = colour;
        }
        if (colours.extraLeft && shown.contains(kLeftExtra))
            colours.extraLeft = colour;
        if (colours.extraRight && shown.contains(kRightExtra))
            colours.extraRight = colour;
        return int(ExitSuccess);
    });
    if (code == ExitSuccess)
        printLine(QStringLiteral("LEDs set to %1").arg(line.preset.toLower()));
    return code;
}

int runLedSet(const CommandLine &line)
{
    const QString digits = line.colour.startsWith(QLatin1Char('#')) ? line.colour.mid(1) : line.colour;
    const std::optional<Rgb> colour = parseHexColour(digits);
    if (!colour)
        return reportError(ExitUsage, QStringLiteral("\"%1\" is not a colour RRGGBB").arg(line.colour));
    const int code = editColours([&](WheelProfile &colours, const LedMap &map) {
        int changed = 0;
        for (std::size_t i = 0; i < colours.leds.size(); ++i) {
            if (line.button == QLatin1String(map.leds[i].button)) {
                colours.leds[i] = *colour;
                ++changed;
            }
        }
        if (colours.extraLeft && line.button == kLeftExtra) {
            colours.extraLeft = colour;
            ++changed;
        }
        if (colours.extraRight && line.button == kRightExtra) {
            colours.extraRight = colour;
            ++changed;
        }
        if (changed == 0)
            return reportError(
                ExitUsage,
                QStringLiteral("unknown LED button \"%1\" on a %2").arg(line.button, colours.modelCode));
        return int(ExitSuccess);
    });
    if (code == ExitSuccess)
        printLine(QStringLiteral("%1 set to %2").arg(line.button, line.colour));
    return code;
}
