#pragma once

#include "device/model_table.h"

#include <QPointF>
#include <QRectF>
#include <QStringList>

#include <vector>

// What sits under a group of placed widgets on the wheel's front.
enum class PartKind
{
    Button,
    Encoder,
    ThumbStick,
    Toggle,
    ShiftPaddle,
    RoundLed,  // a lamp with no button under it
    SquareLed, // a small square lamp (light bars, flags)
};

// One physical control or lamp, in picture pixels.
struct WheelSpot
{
    QPointF centre;
    PartKind kind = PartKind::Button;
    bool lit = false;   // an LED button sits here: the part carries a light
    bool input = false; // an input indicator sits here
    double room = 0;    // half the distance to the nearest other spot
    QStringList names;
};

// The rectangle a placed widget covers in its page, with the size it has
// there (the layout's look, or the form's own size where the look is None).
QRectF placedRect(const Placement &placement, bool ledButton);

// Every indicator and LED button of the model (extra LEDs included), grouped
// into the parts they sit on.
std::vector<WheelSpot> wheelSpots(const ModelEntry &entry);
