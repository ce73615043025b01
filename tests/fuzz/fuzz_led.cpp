// The LED pages a wheel reports, the name it gives, and the style sheets that
// hold the buttons' colours (which a user's theme or a later edit may bend):
// unpacking, painting and reading a colour back must stay inside the frame
// and give back what was written.

#include "device/model_table.h"
#include "led/button_colour.h"
#include "led/channel_order.h"
#include "led/led_colour_read.h"
#include "led/led_frame.h"
#include "led/led_levels.h"
#include "led/led_maps.h"

#include "fuzz_check.h"

#include <algorithm>

namespace {

void checkFrame(const LedFrame &frame, int pageCount)
{
    const LedSlots levels = unpackLedFrame(frame, pageCount);
    const int bytes = std::clamp(pageCount, 0, kMaxLedPages) * kLedPageBytes;
    for (int k = 0; k < kLedFrameBytes; ++k) {
        const uint8_t low = levels[std::size_t(2 * k)], high = levels[std::size_t(2 * k + 1)];
        if (k >= bytes) {
            FUZZ_CHECK(low == 0 && high == 0);
            continue;
        }
        FUZZ_CHECK(low == LedLevels[frame[std::size_t(k)] & 0x0F] &&
                   high == LedLevels[frame[std::size_t(k)] >> 4]);
        // A level read and sent again stays the same level.
        FUZZ_CHECK(quantiseToLedLevel(low) == (frame[std::size_t(k)] & 0x0F));
    }
    if (bytes == kLedFrameBytes)
        FUZZ_CHECK(packLedFrame(levels) == frame);
    for (int page = 0; page < kMaxLedPages; ++page) {
        LedFrame copy{};
        setLedFramePage(copy, page, ledFramePage(frame, page));
        FUZZ_CHECK(ledFramePage(copy, page) == ledFramePage(frame, page));
    }
}

void checkPaints(const QString &name, const LedFrame &frame, const ExtraLeds &extra)
{
    const int pages = ledPageCount(name);
    // Only the ULMAR has eight pages; a name is the model the table finds in it.
    const ModelEntry *model = ModelTable::forName(name);
    FUZZ_CHECK(pages == (model && qstrcmp(model->code, "ULMAR") == 0 ? 8 : 4));
    std::vector<int> order = ledPageSendOrder(pages);
    std::sort(order.begin(), order.end());
    for (int i = 0; i < pages; ++i)
        FUZZ_CHECK(i < int(order.size()) && order[std::size_t(i)] == i);

    const std::vector<LedPaint> paints = ledColoursToPaint(name, frame, extra);
    const LedMap *map = ledMapFor(name);
    FUZZ_CHECK(map || paints.empty());
    int lastLed = -1;
    for (const LedPaint &paint : paints) {
        FUZZ_CHECK(paint.colour.isValid() && paint.colour.alpha() == 255);
        FUZZ_CHECK(paint.button.startsWith(QLatin1String("pb")));
        if (paint.led == kExtraLedRecordIndex) {
            FUZZ_CHECK(map && ModelTable::forName(name)->readsExtraLeds);
            const Rgb &rgb = paint.button == QLatin1String("pbXL") ? extra.left : extra.right;
            FUZZ_CHECK(paint.colour == QColor(rgb.red, rgb.green, rgb.blue));
            continue;
        }
        // Frame LEDs come in increasing order from the pages that were read.
        FUZZ_CHECK(paint.led > lastLed && paint.led < pages * kLedsPerPage);
        lastLed = paint.led;
        for (int channel : {paint.colour.red(), paint.colour.green(), paint.colour.blue()})
            FUZZ_CHECK(std::find(LedLevels.begin(), LedLevels.end(), uint8_t(channel)) != LedLevels.end());
    }
}

// What the wheel shows for colours sent to it: each channel rounded up to a
// level, unused levels fully lit.
void checkSending(fuzz::Input &in)
{
    std::vector<Rgb> colours(in.byte() % (kMaxFrameLeds + 8));
    for (Rgb &c : colours)
        c = Rgb{in.byte(), in.byte(), in.byte()};
    const LedSlots shown = unpackLedFrame(packLedFrame(ledSlotsForSending(colours)), kMaxLedPages);
    for (int led = 0; led < kMaxFrameLeds; ++led) {
        const Rgb got = ledSlotTriple(shown, led);
        if (led >= int(colours.size())) {
            FUZZ_CHECK((got == Rgb{255, 255, 255}));
            continue;
        }
        const Rgb &sent = colours[std::size_t(led)];
        FUZZ_CHECK(
            (got == Rgb{roundToLedLevel(sent.red), roundToLedLevel(sent.green), roundToLedLevel(sent.blue)}));
        FUZZ_CHECK(got.red >= sent.red && got.green >= sent.green && got.blue >= sent.blue);
    }
    const ChannelOrder order = channelOrderFromCode(int(int8_t(in.byte())));
    const Rgb c{in.byte(), in.byte(), in.byte()};
    FUZZ_CHECK(fromFrameOrder(toFrameOrder(c, order), order) == c);
}

void checkStyleSheet(const QString &sheet, const QColor &colour, int order)
{
    // Reading never fails on any text; a valid colour has byte channels.
    const QColor read = buttonColour(sheet, order);
    FUZZ_CHECK(!read.isValid() || read.alpha() == 255);
    if (!sheet.contains(QLatin1String("rgb(")))
        FUZZ_CHECK(!read.isValid());

    QString painted = sheet;
    setButtonColour(painted, colour);
    const QString placed =
        QString::asprintf("color:rgb(%d,%d,%d);", colour.red(), colour.green(), colour.blue());
    // Painting changes the sheet only by putting the colour after a "color:".
    FUZZ_CHECK(painted == sheet || painted.contains(placed));
    if (!painted.contains(placed) || painted.count(QLatin1String("rgb")) != 1)
        return; // no place for the colour, or other "rgb" text around it
    // A sheet with one clause: the colour comes back in every order, and
    // painting again only swaps the clause.
    for (int code = 0; code < 6; ++code)
        FUZZ_CHECK(buttonColour(painted, code) == toFrameOrder(colour, channelOrderFromCode(code)));
    QString twice = painted;
    const QColor other(colour.blue(), colour.red(), colour.green());
    setButtonColour(twice, other);
    QString direct = sheet;
    setButtonColour(direct, other);
    FUZZ_CHECK(twice == direct);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    fuzz::Input in(data, size);
    const QString name = in.text();
    LedFrame frame{};
    for (uint8_t &b : frame)
        b = in.byte();
    CommandReport record{};
    for (std::size_t i = 2; i < 9; ++i)
        record[i] = in.byte();

    checkFrame(frame, int(int8_t(in.byte())));
    checkPaints(name, frame, parseExtraLedRecord(record));
    checkSending(in);

    const QColor colour(in.byte(), in.byte(), in.byte());
    const int order = int(int8_t(in.byte()));
    checkStyleSheet(QString::fromUtf8(in.rest()), colour, order);
    return 0;
}
