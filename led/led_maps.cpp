#include "led/led_maps.h"

#include <iterator>

namespace {

constexpr ChannelOrder RGB = ChannelOrder::RGB;
constexpr ChannelOrder RBG = ChannelOrder::RBG;
constexpr ChannelOrder GRB = ChannelOrder::GRB;
constexpr ChannelOrder BRG = ChannelOrder::BRG;

// Read back the way it is sent.
constexpr LedMapRow led(const char *button, ChannelOrder order = RGB)
{
    return {button, order, button, order};
}
// Sent for one button, read into another (in its own order).
constexpr LedMapRow readAs(const char *button, ChannelOrder order, const char *readButton,
                           ChannelOrder readOrder)
{
    return {button, order, readButton, readOrder};
}
// Sent, never read.
constexpr LedMapRow sendOnly(const char *button, ChannelOrder order)
{
    return {button, order, nullptr, order};
}

// Each line starts with the frame index of its first LED.
// clang-format off

// VLN6 and H-ZET share one wiring; H-ZET simply shows fewer of the buttons.
constexpr LedMapRow kVln6Leds[] = {
    /*  0 */ led("pbB1"), led("pbB9"), led("pbB2"), led("pbB10"), led("pbB3"), led("pbB11"),
    /*  6 */ led("pbB4"), led("pbB12"), led("pbB5"), led("pbB13"), led("pbB6"), led("pbB14"),
    /* 12 */ led("pbD13"), led("pbD23"), led("pbD13"), led("pbD23"), led("pbD13"), led("pbD23"),
    /* 18 */ led("pbD16"), led("pbD26"), led("pbD16"), led("pbD26"), led("pbD16"), led("pbD26"),
    /* 24 */ led("pbD3"), led("pbD4"),
    /* 26 */ led("pbT1"), led("pbT2"), led("pbT3"), led("pbT4"), led("pbT5"), led("pbT6"),
    /* 32 */ led("pbT7"), led("pbT8"), led("pbT9"), led("pbT10"), led("pbT11"),
    /* 37 */ led("pbTL3"), led("pbTR3"), led("pbTL2"), led("pbTR2"), led("pbTL1"), led("pbTR1"),
};

// The first 24 as on VLN6; the last two take their channels red, blue, green.
constexpr LedMapRow kKlino4Leds[] = {
    /*  0 */ led("pbB1"), led("pbB9"), led("pbB2"), led("pbB10"), led("pbB3"), led("pbB11"),
    /*  6 */ led("pbB4"), led("pbB12"), led("pbB5"), led("pbB13"), led("pbB6"), led("pbB14"),
    /* 12 */ led("pbD13"), led("pbD23"), led("pbD13"), led("pbD23"), led("pbD13"), led("pbD23"),
    /* 18 */ led("pbD16"), led("pbD26"), led("pbD16"), led("pbD26"), led("pbD16"), led("pbD26"),
    /* 24 */ led("pbD16", RBG), led("pbD26", RBG),
};

// Six LEDs are sent from buttons this model shows but read, as RGB, into
// buttons it hides (4, 5, 26, 27, 35, 36).
constexpr LedMapRow kOv410Leds[] = {
    /*  0 */ led("pbB1"), led("pbB9"), led("pbB2"), led("pbB10"),
    /*  4 */ readAs("pbB2", RGB, "pbB3", RGB), readAs("pbB10", RGB, "pbB11", RGB),
    /*  6 */ led("pbB4"), led("pbB12"), led("pbB5"), led("pbB13"), led("pbB6"), led("pbB14"),
    /* 12 */ led("pbD13"), led("pbD23"), led("pbD13"), led("pbD23"), led("pbD13"), led("pbD23"),
    /* 18 */ led("pbD16"), led("pbD26"), led("pbD3"), led("pbD4"), led("pbD13"), led("pbD23"),
    /* 24 */ led("pbB1", RBG), led("pbB9", RBG),
    /* 26 */ readAs("pbD13", RBG, "pbT1", RGB), readAs("pbD13", RBG, "pbT2", RGB),
    /* 28 */ led("pbT3"), led("pbT4"), led("pbT5"), led("pbT6"), led("pbT7"), led("pbT8"), led("pbT9"),
    /* 35 */ readAs("pbD23", RBG, "pbT10", RGB), readAs("pbD23", RBG, "pbT11", RGB),
    /* 37 */ led("pbB4"), led("pbB12"), led("pbB5"), led("pbB13"), led("pbB6"), led("pbB14"),
};

// All GRB, in lit areas of one to nine LEDs; reading takes the first LED of
// each area only.
constexpr LedMapRow kUlmarLeds[] = {
    /*  0 */ led("pbT1", GRB), led("pbT2", GRB), led("pbT3", GRB), led("pbT4", GRB), led("pbT5", GRB),
    /*  5 */ led("pbT6", GRB), led("pbT7", GRB), led("pbT8", GRB), led("pbT9", GRB), led("pbT10", GRB),
    /* 10 */ led("pbT11", GRB), led("pbT12", GRB), led("pbT13", GRB), led("pbT14", GRB), led("pbT15", GRB),
    /* 15 */ led("pbT16", GRB), led("pbT17", GRB), led("pbT18", GRB), led("pbT19", GRB),
    /* 19 */ led("pbB12", GRB), sendOnly("pbB12", GRB),
    /* 21 */ led("pbTR3", GRB),
    /* 22 */ led("pbB10", GRB), sendOnly("pbB10", GRB),
    /* 24 */ led("pbB11", GRB), sendOnly("pbB11", GRB),
    /* 26 */ led("pbXR", GRB), sendOnly("pbXR", GRB),
    /* 28 */ led("pbB9", GRB), sendOnly("pbB9", GRB),
    /* 30 */ led("pbD23", GRB), sendOnly("pbD23", GRB), sendOnly("pbD23", GRB), sendOnly("pbD23", GRB),
    /* 34 */ sendOnly("pbD23", GRB), sendOnly("pbD23", GRB), sendOnly("pbD23", GRB), sendOnly("pbD23", GRB),
    /* 38 */ sendOnly("pbD23", GRB),
    /* 39 */ led("pbB13", GRB), sendOnly("pbB13", GRB),
    /* 41 */ led("pbB14", GRB), sendOnly("pbB14", GRB),
    /* 43 */ led("pbTR1", GRB), sendOnly("pbTR1", GRB),
    /* 45 */ led("pbD26", GRB), sendOnly("pbD26", GRB), sendOnly("pbD26", GRB), sendOnly("pbD26", GRB),
    /* 49 */ sendOnly("pbD26", GRB), sendOnly("pbD26", GRB), sendOnly("pbD26", GRB), sendOnly("pbD26", GRB),
    /* 53 */ sendOnly("pbD26", GRB),
    /* 54 */ led("pbD16", GRB), sendOnly("pbD16", GRB), sendOnly("pbD16", GRB), sendOnly("pbD16", GRB),
    /* 58 */ sendOnly("pbD16", GRB), sendOnly("pbD16", GRB), sendOnly("pbD16", GRB), sendOnly("pbD16", GRB),
    /* 62 */ sendOnly("pbD16", GRB),
    /* 63 */ led("pbTL1", GRB), sendOnly("pbTL1", GRB),
    /* 65 */ led("pbB6", GRB), sendOnly("pbB6", GRB),
    /* 67 */ led("pbB5", GRB), sendOnly("pbB5", GRB),
    /* 69 */ led("pbD13", GRB), sendOnly("pbD13", GRB), sendOnly("pbD13", GRB), sendOnly("pbD13", GRB),
    /* 73 */ sendOnly("pbD13", GRB), sendOnly("pbD13", GRB), sendOnly("pbD13", GRB), sendOnly("pbD13", GRB),
    /* 77 */ sendOnly("pbD13", GRB),
    /* 78 */ led("pbXL", GRB), sendOnly("pbXL", GRB),
    /* 80 */ led("pbB1", GRB), sendOnly("pbB1", GRB),
    /* 82 */ led("pbB3", GRB), sendOnly("pbB3", GRB),
    /* 84 */ led("pbB4", GRB), sendOnly("pbB4", GRB),
    /* 86 */ led("pbTL3", GRB),
    /* 87 */ led("pbB2", GRB), sendOnly("pbB2", GRB),
};

// LEDs 4 and 5 are read into pbB3/pbB11, which 14 and 15 then repaint; 24
// and 25 are sent RBG and BRG but read as RGB.
constexpr LedMapRow kSrd7Leds[] = {
    /*  0 */ led("pbB1"), led("pbB9"), led("pbB2"), led("pbB10"),
    /*  4 */ readAs("pbB2", RGB, "pbB3", RGB), readAs("pbB10", RGB, "pbB11", RGB),
    /*  6 */ led("pbB4"), led("pbB12"), led("pbB5"), led("pbB13"), led("pbB6"), led("pbB14"),
    /* 12 */ led("pbD3"), led("pbD4"), led("pbB3"), led("pbB11"), led("pbD13"), led("pbD23"),
    /* 18 */ led("pbB4"), led("pbB12"), led("pbB5"), led("pbB13"), led("pbB6"), led("pbB14"),
    /* 24 */ readAs("pbD16", RBG, "pbD16", RGB), readAs("pbD26", BRG, "pbD26", RGB),
    /* 26 */ led("pbT1"), led("pbT2"), led("pbT3"), led("pbT4"), led("pbT5"), led("pbT6"),
    /* 32 */ led("pbT7"), led("pbT8"), led("pbT9"), led("pbT10"), led("pbT11"),
    /* 37 */ led("pbTL3"), led("pbTR3"), led("pbTL2"), led("pbTR2"), led("pbB1"), led("pbB9"),
    /* 43 */ led("pbTL1"), led("pbD16"), led("pbD26"), led("pbTL1"),
};

constexpr LedMapRow kPelixLeds[] = {
    /*  0 */ led("pbB1"), led("pbB2"), led("pbB3"), led("pbB11"), led("pbB10"), led("pbB9"),
    /*  6 */ led("pbB4"), led("pbB5"), led("pbB12"), led("pbB14"),
    /* 10 */ led("pbD13"), led("pbD13"), led("pbD23"), led("pbD23"),
    /* 14 */ led("pbTL1"), led("pbTL2"), led("pbTL3"),
    /* 17 */ led("pbT1"), led("pbT2"), led("pbT3"), led("pbT4"), led("pbT5"), led("pbT6"),
    /* 23 */ led("pbT7"), led("pbT8"), led("pbT9"),
    /* 26 */ led("pbTR1"), led("pbTR2"), led("pbTR3"), led("pbD16"), led("pbD26"),
};

// clang-format on

// name, LEDs, the extra LEDs' channel order
constexpr LedMap kVln6Map{"VLN6/H-ZET", kVln6Leds, RGB};
constexpr LedMap kKlino4Map{"KLINO4", kKlino4Leds, RGB};
constexpr LedMap kOv410Map{"OV410", kOv410Leds, RGB};
// pbXL/pbXR are frame LEDs here (26 and 78); the extra report still goes out.
constexpr LedMap kUlmarMap{"ULMAR", kUlmarLeds, GRB};
constexpr LedMap kSrd7Map{"SRD7", kSrd7Leds, RGB};
// No extra LED buttons are shown, but the report still goes out.
constexpr LedMap kPelixMap{"PELIX", kPelixLeds, RGB};

// By the model table's code; H-MIRA has no LEDs.
struct ModelLedMap
{
    const char *code;
    const LedMap *map;
};

constexpr ModelLedMap kModelMaps[] = {
    {"VLN6", &kVln6Map},   {"H-ZET", &kVln6Map}, {"KLINO4", &kKlino4Map}, {"OV410", &kOv410Map},
    {"ULMAR", &kUlmarMap}, {"SRD7", &kSrd7Map},  {"PELIX", &kPelixMap},
};

static_assert(std::size(kVln6Leds) == 43);
static_assert(std::size(kKlino4Leds) == 26);
static_assert(std::size(kOv410Leds) == 43);
static_assert(std::size(kUlmarLeds) == 89);
static_assert(std::size(kSrd7Leds) == 47);
static_assert(std::size(kPelixLeds) == 31);

} // namespace

const LedMap *ledMapFor(const QString &deviceName)
{
    const ModelEntry *model = ModelTable::forName(deviceName);
    for (const ModelLedMap &row : kModelMaps) {
        if (model && qstrcmp(row.code, model->code) == 0)
            return row.map;
    }
    return nullptr;
}
