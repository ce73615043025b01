#pragma once

#include "device/command_report.h"
#include "led/led_frame.h"

#include <QColor>
#include <QString>

#include <vector>

// What the LED buttons show after the colours are read from the wheel,
// worked out from the frame pages and the extra-LED record. The window asks
// the wheel for pages 0..ledPageCount(name)-1 (makeLedPageQuery), stores each
// reply with setLedFramePage(frame, p, parseLedPage(reply)), reads the
// record where readsExtraLeds(name) says so, calls ledColoursToPaint and
// paints in the order given.

// Frame index of a paint that comes from the extra-LED record, not the frame.
constexpr int kExtraLedRecordIndex = -1;

struct LedPaint
{
    int led; // frame LED index, or kExtraLedRecordIndex
    QString button;
    QColor colour;
};

// Whether reading also asks for the extra-LED record (02 0B 11) on this wheel.
bool readsExtraLeds(const QString &deviceName);

// Paints in order (a later paint of the same button wins): every read LED of
// the model's map in increasing index, from the first ledPageCount pages of
// the frame, then pbXL and pbXR from the record where the model reads it
// (its 8-bit values as they are). With no device the window passes a zero
// frame and a zero record, so the read buttons turn black. A name without a
// map paints nothing.
std::vector<LedPaint> ledColoursToPaint(const QString &deviceName, const LedFrame &frame,
                                        const ExtraLeds &extraLeds);
