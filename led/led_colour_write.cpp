#include "led/led_colour_write.h"

#include "led/button_colour.h"
#include "led/channel_order.h"
#include "led/led_maps.h"

namespace {

const QString kLeftExtraButton = QStringLiteral("pbXL");
const QString kRightExtraButton = QStringLiteral("pbXR");

// Invalid colours (a channel above 255 in the sheet) go out as black.
Rgb rgbOf(const QColor &colour)
{
    if (!colour.isValid())
        return Rgb{};
    return Rgb{static_cast<uint8_t>(colour.red()), static_cast<uint8_t>(colour.green()),
               static_cast<uint8_t>(colour.blue())};
}

Rgb frameTriple(const LedButtonColours &colours, const QString &button, ChannelOrder order)
{
    return rgbOf(toFrameOrder(colours.value(button), order));
}

} // namespace

LedColourWrite ledColourWrite(const QString &deviceName, const LedButtonColours &colours, bool commit)
{
    LedColourWrite write;
    std::vector<Rgb> frameColours;
    if (const LedMap *map = ledMapFor(deviceName)) {
        for (const LedMapRow &row : map->leds)
            frameColours.push_back(frameTriple(colours, QLatin1String(row.button), row.sendOrder));
        if (ModelTable::forName(deviceName)->sendsExtraLeds) {
            write.extraLeds =
                makeSetExtraLedColours(commit, frameTriple(colours, kLeftExtraButton, map->extraLedOrder),
                                       frameTriple(colours, kRightExtraButton, map->extraLedOrder));
        }
    }

    write.frame = packLedFrame(ledSlotsForSending(frameColours));
    for (int page : ledPageSendOrder(ledPageCount(deviceName)))
        write.pages.push_back(makeLedPageReport(static_cast<uint8_t>(page), ledFramePage(write.frame, page)));
    if (commit)
        write.commit = makeCommitLedColours();
    return write;
}

LedButtonColours ledButtonColoursFromStyleSheets(const QHash<QString, QString> &styleSheets)
{
    LedButtonColours colours;
    for (auto it = styleSheets.cbegin(); it != styleSheets.cend(); ++it)
        colours.insert(it.key(), buttonColour(it.value(), static_cast<int>(ChannelOrder::RGB)));
    return colours;
}
