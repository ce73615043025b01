#include "settings/profile_transfer.h"

#include "device/device_handle.h"
#include "device/device_status.h"
#include "device/model_layout.h"
#include "led/channel_order.h"
#include "led/led_frame.h"
#include "led/led_levels.h"
#include "led/led_maps.h"
#include "settings/wheel_settings.h"

#include <algorithm>
#include <utility>

namespace {

// One query; false when the wheel did not answer, so that a backup does not
// record the request bytes as the wheel's LED colours.
bool ask(DeviceHandle &device, CommandReport &buffer)
{
    return device.query(buffer.data(), kCommandSendLength, kCommandReplyLength) >= 0;
}

std::optional<int> storedPulseWidth(int32_t value)
{
    // Negative: nothing stored. Otherwise what the slider would show.
    if (value < 0)
        return std::nullopt;
    return std::clamp(int(value), kPulseWidthMin, kPulseWidthMax);
}

bool readLeds(DeviceHandle &device, WheelProfile &profile)
{
    const LedMap *map = ledMapFor(profile.modelCode);
    if (!map)
        return true;
    LedFrame frame{};
    const int pages = ledPageCount(profile.modelCode);
    for (int page = 0; page < pages; ++page) {
        CommandReport reply = makeLedPageQuery(page);
        if (!ask(device, reply))
            return false;
        setLedFramePage(frame, page, parseLedPage(reply));
    }
    const LedSlots values = unpackLedFrame(frame, pages);
    for (std::size_t i = 0; i < map->leds.size(); ++i)
        profile.leds.push_back(fromFrameOrder(ledSlotTriple(values, int(i)), map->leds[i].sendOrder));
    if (ModelTable::forName(profile.modelCode)->sendsExtraLeds) {
        CommandReport reply = makeQuery(Record::ExtraLedRecord);
        if (!ask(device, reply))
            return false;
        const ExtraLeds extra = parseExtraLedRecord(reply);
        profile.extraLeft = fromFrameOrder(extra.left, map->extraLedOrder);
        profile.extraRight = fromFrameOrder(extra.right, map->extraLedOrder);
    }
    return true;
}

} // namespace

bool readWheelProfile(DeviceHandle &device, WheelProfile &profile, QString *error)
{
    profile = WheelProfile();
    if (!device.isOpen()) {
        *error = QStringLiteral("no wheel is open");
        return false;
    }
    const std::optional<QString> name = readModelName(device);
    if (!name) {
        *error = QStringLiteral("the wheel did not tell its name");
        return false;
    }
    profile.wheelName = *name;
    profile.modelCode = modelCodeOf(*name);
    if (profile.modelCode.isEmpty()) {
        *error = QStringLiteral("\"%1\" is not a wheel model this program knows").arg(*name);
        return false;
    }
    profile.firmwareVersion = readFirmwareVersion(device);

    const std::optional<PaddleConfig> paddles = readPaddleConfig(device);
    const std::optional<int32_t> encoder = readPulseWidth(device, Item::EncoderPulseWidth);
    const std::optional<int32_t> shifter = readPulseWidth(device, Item::ShifterPulseWidth);
    const std::optional<bool> clutches = readItemEnabled(device, Item::ClutchesEnabled);
    const std::optional<bool> extraShifters = readItemEnabled(device, Item::ExtraShiftersEnabled);
    if (!paddles || !encoder || !shifter || !clutches || !extraShifters) {
        *error = QStringLiteral("the wheel went away while its settings were read");
        return false;
    }
    profile.paddles = *paddles;
    profile.encoderPulseWidth = storedPulseWidth(*encoder);
    profile.shifterPulseWidth = storedPulseWidth(*shifter);
    profile.clutchesEnabled = *clutches;
    profile.extraShiftersEnabled = *extraShifters;
    if (!readLeds(device, profile)) {
        *error = QStringLiteral("the wheel did not answer an LED query");
        return false;
    }
    return true;
}

WheelProfile roundedToLedLevels(const WheelProfile &profile)
{
    WheelProfile out = profile;
    for (Rgb &c : out.leds)
        c = Rgb{roundToLedLevel(c.red), roundToLedLevel(c.green), roundToLedLevel(c.blue)};
    return out;
}

int writeLedColours(DeviceHandle &device, const WheelProfile &profile)
{
    const LedMap *map = ledMapFor(profile.modelCode);
    if (!map)
        return 0;
    if (ModelTable::forName(profile.modelCode)->sendsExtraLeds && profile.extraLeft && profile.extraRight) {
        const CommandReport extra =
            makeSetExtraLedColours(true, toFrameOrder(*profile.extraLeft, map->extraLedOrder),
                                   toFrameOrder(*profile.extraRight, map->extraLedOrder));
        const int sent = device.sendFeatureReport(extra.data(), kCommandSendLength);
        if (sent < 0)
            return sent;
    }
    std::vector<Rgb> frameOrder;
    for (std::size_t i = 0; i < profile.leds.size() && i < map->leds.size(); ++i)
        frameOrder.push_back(toFrameOrder(profile.leds[i], map->leds[i].sendOrder));
    const LedFrame frame = packLedFrame(ledSlotsForSending(frameOrder));
    for (const int page : ledPageSendOrder(ledPageCount(profile.modelCode))) {
        const LedPageReport report = makeLedPageReport(uint8_t(page), ledFramePage(frame, page));
        const int sent = device.write(report.data(), report.size());
        if (sent < 0)
            return sent;
    }
    const CommandReport commit = makeCommitLedColours();
    const int sent = device.sendFeatureReport(commit.data(), kCommandSendLength);
    return sent < 0 ? sent : 0;
}

int writeWheelProfile(DeviceHandle &device, const WheelProfile &profile)
{
    int sent = 0;
    if (profile.encoderPulseWidth)
        sent = writePulseWidth(device, Item::EncoderPulseWidth, *profile.encoderPulseWidth, true);
    if (sent >= 0 && profile.shifterPulseWidth)
        sent = writePulseWidth(device, Item::ShifterPulseWidth, *profile.shifterPulseWidth, true);
    if (sent >= 0)
        sent = writePaddleConfig(device, profile.paddles, true);
    // Written whatever the wheel reports now: its live value may be one the
    // flash does not hold.
    for (const auto &[item, enabled] :
         {std::pair{Item::ClutchesEnabled, profile.clutchesEnabled},
          std::pair{Item::ExtraShiftersEnabled, profile.extraShiftersEnabled}}) {
        if (sent >= 0) {
            const CommandReport report = makeSetItem(item, enabledItemValue(enabled), true);
            sent = device.sendFeatureReport(report.data(), kCommandSendLength);
        }
    }
    if (sent < 0)
        return sent;
    return writeLedColours(device, profile);
}
