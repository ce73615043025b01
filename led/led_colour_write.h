#pragma once

#include "device/command_report.h"
#include "led/led_frame.h"

#include <QColor>
#include <QHash>
#include <QString>

#include <optional>
#include <vector>

// What goes to the wheel when the LED colours are sent, worked out from the
// colours the LED buttons show. The window collects the colours, hands the
// reports to the device in the order below and does nothing else.

// Colour shown by each LED button, by object name ("pbB1", "pbXL", ...), as
// buttonColour(sheet, 0) reads it. A button missing from the map, or holding
// an invalid colour, is sent as black.
using LedButtonColours = QHash<QString, QColor>;

struct LedColourWrite
{
    // SetExtraLedColours, sent first (feature report), where the model sends one.
    std::optional<CommandReport> extraLeds;
    // LED page output reports (hid_write), in send order: page 2 last.
    std::vector<LedPageReport> pages;
    // CommitLedColours, sent last (feature report), when committing.
    std::optional<CommandReport> commit;
    // The whole packed frame, all 8 pages even when only 4 are sent.
    LedFrame frame{};
};

// Every LED of the model found in the name takes its button's colour in the
// LED's channel order; the rest of the frame is sent fully lit. A name with
// no LED map still sends its pages (all 0xFF) and the commit.
LedColourWrite ledColourWrite(const QString &deviceName, const LedButtonColours &colours, bool commit);

// The buttons' colours read out of their style sheets, by object name.
LedButtonColours ledButtonColoursFromStyleSheets(const QHash<QString, QString> &styleSheets);
