#include "led/led_frame.h"

#include "device/model_table.h"
#include "led/led_levels.h"

#include <algorithm>

namespace {

constexpr int kStandardPages = 4;
// The wheel is always fed this page after all the others.
constexpr int kLastSentPage = 2;

std::size_t at(int index)
{
    return static_cast<std::size_t>(index);
}

} // namespace

int ledPageCount(const QString &deviceName)
{
    const ModelEntry *model = ModelTable::forName(deviceName);
    return model ? model->ledPages : kStandardPages;
}

std::vector<int> ledPageSendOrder(int pageCount)
{
    std::vector<int> order;
    for (int page = 0; page < pageCount; ++page) {
        if (page != kLastSentPage)
            order.push_back(page);
    }
    if (pageCount > kLastSentPage)
        order.push_back(kLastSentPage);
    return order;
}

LedSlots ledSlotsForSending(const std::vector<Rgb> &frameOrderColours)
{
    LedSlots values;
    values.fill(kUnusedSlotValue);
    const int count = std::min(static_cast<int>(frameOrderColours.size()), kMaxFrameLeds);
    for (int led = 0; led < count; ++led) {
        const Rgb &c = frameOrderColours[at(led)];
        values[at(3 * led)] = c.red;
        values[at(3 * led + 1)] = c.green;
        values[at(3 * led + 2)] = c.blue;
    }
    return values;
}

LedFrame packLedFrame(const LedSlots &values)
{
    LedFrame frame{};
    for (int k = 0; k < kLedFrameBytes; ++k) {
        const uint8_t low = quantiseToLedLevel(values[at(2 * k)]);
        const uint8_t high = quantiseToLedLevel(values[at(2 * k + 1)]);
        frame[at(k)] = static_cast<uint8_t>(low | (high << 4));
    }
    return frame;
}

LedSlots unpackLedFrame(const LedFrame &frame, int pageCount)
{
    LedSlots values{};
    const int bytes = std::clamp(pageCount, 0, kMaxLedPages) * kLedPageBytes;
    for (int k = 0; k < bytes; ++k) {
        values[at(2 * k)] = ledLevelValue(frame[at(k)] & 0x0F);
        values[at(2 * k + 1)] = ledLevelValue(frame[at(k)] >> 4);
    }
    return values;
}

Rgb ledSlotTriple(const LedSlots &values, int led)
{
    Q_ASSERT(led >= 0 && led < kMaxFrameLeds);
    const std::size_t first = at(3 * led);
    return Rgb{values[first], values[first + 1], values[first + 2]};
}

LedPageLevels ledFramePage(const LedFrame &frame, int page)
{
    Q_ASSERT(page >= 0 && page < kMaxLedPages);
    LedPageLevels levels{};
    std::copy_n(frame.begin() + page * kLedPageBytes, kLedPageBytes, levels.begin());
    return levels;
}

void setLedFramePage(LedFrame &frame, int page, const LedPageLevels &levels)
{
    Q_ASSERT(page >= 0 && page < kMaxLedPages);
    std::copy(levels.begin(), levels.end(), frame.begin() + page * kLedPageBytes);
}
