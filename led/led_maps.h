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

// The map of the first model, in the order VLN6 or H-ZET, KLINO4, OV410,
// ULMAR, SRD7, PELIX, whose code the name contains (case-sensitive); null for
// any other name (H-MIRA has no LEDs). Real names carry one code; with
// several, the first in that order decides, so sending and reading always
// agree on one map.
const LedMap *ledMapFor(const QString &deviceName);
