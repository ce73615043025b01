#pragma once

#include "device/model_table.h"
#include "led/channel_order.h"

#include <QString>

// Which LED button stands for which LED of the frame, per model. Several LEDs
// can share one button (a ring, a lit area): when sending they all take the
// button's colour; when reading, the button keeps the colour of the last of
// them that is read.

// One LED of a model, at the frame index equal to its row number.
struct LedMapRow
{
    const char *button;     // the button whose colour the LED is sent
    ChannelOrder sendOrder; // how its channels sit in the frame when sending
    // The button that shows the LED when reading, or null when the LED is not
    // read. On most rows it is `button` with the same order; a few models
    // wire some LEDs differently for reading.
    const char *readButton;
    ChannelOrder readOrder;
};

struct LedMap
{
    const char *name; // for diagnostics
    TableView<LedMapRow> leds;
    // Channel order of pbXL/pbXR when the model sends them (ModelEntry).
    ChannelOrder extraLedOrder;
};

// The map of the model the table finds for this name (ModelTable::forName),
// so the LEDs follow the same model as the layout; null for H-MIRA, which has
// no LEDs, and for a name no model matches.
const LedMap *ledMapFor(const QString &deviceName);
