#pragma once

#include "device/command_report.h"

#include <QColor>

// The order in which one LED takes its three channels in the frame. The
// wheels are built from several LED parts, and not all of them are wired red,
// green, blue. The numeric codes are the ones the colour reading and sending
// code passes around; any other code is treated as RGB.
enum class ChannelOrder : int
{
    RGB = 0,
    RBG = 1,
    GRB = 2,
    GBR = 3,
    BRG = 4,
    BGR = 5,
};

ChannelOrder channelOrderFromCode(int code);

// The colour's channels as the LED takes them: frame position j holds the
// channel the order names j-th (GRB puts green first).
Rgb toFrameOrder(Rgb colour, ChannelOrder order);
// Undoes toFrameOrder: the colour of an LED whose frame slots hold `frame`.
Rgb fromFrameOrder(Rgb frame, ChannelOrder order);

// toFrameOrder on a QColor: red, green and blue of the result are the frame
// triple. An invalid colour stays invalid.
QColor toFrameOrder(const QColor &colour, ChannelOrder order);
