#include "led/channel_order.h"

#include <array>

namespace {

// For each order, which colour channel (0 red, 1 green, 2 blue) sits at frame
// positions 0, 1 and 2.
using ChannelPicks = std::array<uint8_t, 3>;
constexpr std::array<ChannelPicks, 6> kFramePicks = {{
    {0, 1, 2}, // RGB
    {0, 2, 1}, // RBG
    {1, 0, 2}, // GRB
    {1, 2, 0}, // GBR
    {2, 0, 1}, // BRG
    {2, 1, 0}, // BGR
}};

std::array<uint8_t, 3> channelsOf(Rgb colour)
{
    return {colour.red, colour.green, colour.blue};
}

Rgb fromChannels(const std::array<uint8_t, 3> &c)
{
    return Rgb{c[0], c[1], c[2]};
}

} // namespace

ChannelOrder channelOrderFromCode(int code)
{
    if (code < 0 || code >= static_cast<int>(kFramePicks.size()))
        return ChannelOrder::RGB;
    return static_cast<ChannelOrder>(code);
}

namespace {

// A value cast in from outside 0..5 reads as RGB rather than past the table.
const ChannelPicks &picksOf(ChannelOrder order)
{
    return kFramePicks[static_cast<std::size_t>(channelOrderFromCode(static_cast<int>(order)))];
}

} // namespace

Rgb toFrameOrder(Rgb colour, ChannelOrder order)
{
    const std::array<uint8_t, 3> in = channelsOf(colour);
    const ChannelPicks &picks = picksOf(order);
    std::array<uint8_t, 3> out{};
    for (std::size_t j = 0; j < out.size(); ++j)
        out[j] = in[picks[j]];
    return fromChannels(out);
}

Rgb fromFrameOrder(Rgb frame, ChannelOrder order)
{
    const std::array<uint8_t, 3> in = channelsOf(frame);
    const ChannelPicks &picks = picksOf(order);
    std::array<uint8_t, 3> out{};
    for (std::size_t j = 0; j < out.size(); ++j)
        out[picks[j]] = in[j];
    return fromChannels(out);
}

QColor toFrameOrder(const QColor &colour, ChannelOrder order)
{
    if (!colour.isValid())
        return QColor();
    const Rgb rgb{static_cast<uint8_t>(colour.red()), static_cast<uint8_t>(colour.green()),
                  static_cast<uint8_t>(colour.blue())};
    const Rgb frame = toFrameOrder(rgb, order);
    return QColor(frame.red, frame.green, frame.blue);
}
