#include "led/led_colour_read.h"

#include "led/channel_order.h"
#include "led/led_maps.h"

namespace {

const QString kLeftExtraButton = QStringLiteral("pbXL");
const QString kRightExtraButton = QStringLiteral("pbXR");

QColor colourOf(Rgb rgb)
{
    return QColor(rgb.red, rgb.green, rgb.blue);
}

} // namespace

bool readsExtraLeds(const QString &deviceName)
{
    const ModelEntry *model = ModelTable::forName(deviceName);
    return ledMapFor(deviceName) && model && model->readsExtraLeds;
}

std::vector<LedPaint> ledColoursToPaint(const QString &deviceName, const LedFrame &frame,
                                        const ExtraLeds &extraLeds)
{
    std::vector<LedPaint> paints;
    const LedMap *map = ledMapFor(deviceName);
    if (!map)
        return paints;

    const LedSlots values = unpackLedFrame(frame, ledPageCount(deviceName));
    int led = 0;
    for (const LedMapRow &row : map->leds) {
        if (row.readButton) {
            const Rgb colour = fromFrameOrder(ledSlotTriple(values, led), row.readOrder);
            paints.push_back({led, QLatin1String(row.readButton), colourOf(colour)});
        }
        ++led;
    }
    if (readsExtraLeds(deviceName)) {
        paints.push_back({kExtraLedRecordIndex, kLeftExtraButton, colourOf(extraLeds.left)});
        paints.push_back({kExtraLedRecordIndex, kRightExtraButton, colourOf(extraLeds.right)});
    }
    return paints;
}
