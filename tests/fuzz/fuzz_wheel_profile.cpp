// Wheel profiles are files the user keeps, edits by hand and hands to
// quorctl, which writes them into the wheel as they are. Whatever a file
// holds, reading it either refuses with a reason or gives a profile whose
// every value the wheel can take; a profile written out reads back the same,
// and one fitted to another model is again a valid profile of that model.

#include "device/model_table.h"
#include "led/led_maps.h"
#include "settings/wheel_profile.h"

#include "fuzz_check.h"

namespace {

int ledCountOf(const QString &code)
{
    const LedMap *map = ledMapFor(code);
    return map ? int(map->leds.size()) : 0;
}

// A profile the wheel could have given, for the model the input picks.
WheelProfile profileFrom(fuzz::Input &in)
{
    WheelProfile p;
    const TableView<ModelEntry> models = ModelTable::entries();
    p.modelCode = QLatin1String(models[in.byte() % models.size()].code);
    p.wheelName = QStringLiteral("QUOR ") + p.modelCode + in.text();
    p.firmwareVersion = in.text();
    const auto pulse = [&in]() -> std::optional<int> {
        const uint8_t b = in.byte();
        return b < 0x20 ? std::nullopt : std::optional<int>(kPulseWidthMin + b % 201);
    };
    p.encoderPulseWidth = pulse();
    p.shifterPulseWidth = pulse();
    const uint16_t bite = in.u16();
    p.paddles.biteWord = bite > kRightBiteWordMax ? kNoBiteWord : bite;
    for (uint16_t *w : {&p.paddles.leftMin, &p.paddles.leftMax, &p.paddles.rightMin, &p.paddles.rightMax})
        *w = in.u16() % (kPaddleReadingMax + 1);
    const uint8_t flags = in.byte();
    p.clutchesEnabled = flags & 1;
    p.extraShiftersEnabled = flags & 2;
    for (int i = ledCountOf(p.modelCode); i > 0; --i)
        p.leds.push_back(Rgb{in.byte(), in.byte(), in.byte()});
    if (modelHasExtraLedRecord(p.modelCode)) {
        p.extraLeft = Rgb{in.byte(), in.byte(), in.byte()};
        p.extraRight = Rgb{in.byte(), in.byte(), in.byte()};
    }
    return p;
}

void checkValid(const WheelProfile &p)
{
    FUZZ_CHECK(ModelTable::byCode(p.modelCode.toLatin1().constData()));
    for (const std::optional<int> &w : {p.encoderPulseWidth, p.shifterPulseWidth})
        FUZZ_CHECK(!w || (*w >= kPulseWidthMin && *w <= kPulseWidthMax));
    FUZZ_CHECK(p.paddles.biteWord <= kRightBiteWordMax || p.paddles.biteWord == kNoBiteWord);
    for (uint16_t w : {p.paddles.leftMin, p.paddles.leftMax, p.paddles.rightMin, p.paddles.rightMax})
        FUZZ_CHECK(w <= kPaddleReadingMax);
    FUZZ_CHECK(int(p.leds.size()) == ledCountOf(p.modelCode));
    FUZZ_CHECK(p.extraLeft.has_value() == p.extraRight.has_value());
    if (p.extraLeft)
        FUZZ_CHECK(modelHasExtraLedRecord(p.modelCode));
    FUZZ_CHECK(profileDifferences(p, p).isEmpty());

    QString error;
    const std::optional<WheelProfile> again = parseProfile(profileToJson(p), &error);
    FUZZ_CHECK(again && *again == p && error.isEmpty());
}

// Reads a file; a refusal must say why in one printable line (quorctl
// prints it on the terminal).
std::optional<WheelProfile> read(const QByteArray &json)
{
    QString error;
    const std::optional<WheelProfile> p = parseProfile(json, &error);
    if (p) {
        checkValid(*p);
    } else {
        FUZZ_CHECK(!error.isEmpty());
        for (const QChar c : error)
            FUZZ_CHECK(c.category() != QChar::Other_Control && c.category() != QChar::Separator_Line &&
                       c.category() != QChar::Separator_Paragraph);
    }
    return p;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    fuzz::Input in(data, size);
    if (in.byte() & 1) {
        read(in.rest()); // any file at all
        return 0;
    }
    // A profile as written, then edited at a few places by hand.
    const WheelProfile written = profileFrom(in);
    const QByteArray json = profileToJson(written);
    FUZZ_CHECK(read(json) == std::optional<WheelProfile>(written));
    QByteArray edited = json;
    for (int edits = in.byte() % 4; edits > 0; --edits) {
        const int at = int(in.u16() % uint16_t(edited.size() + 1));
        const uint8_t what = in.byte();
        if (what & 0x80)
            edited.remove(at, what & 0x0F);
        else
            edited.insert(at, in.bytes(what & 0x0F));
    }
    read(edited);

    // Restoring onto another model, forced.
    const WheelProfile current = profileFrom(in);
    QString error;
    const std::optional<WheelProfile> fitted = fitProfileToWheel(written, current, true, &error);
    FUZZ_CHECK(fitted && fitted->modelCode == current.modelCode);
    checkValid(*fitted);
    return 0;
}
