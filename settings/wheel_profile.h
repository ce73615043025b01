#pragma once

#include "device/command_report.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// A wheel's whole stored setup as a file: everything the wheel keeps in its
// flash that the program can set, plus where it came from. The file is JSON
// (with a format tag and version) so that it can be read, diffed and edited
// by hand; every value is checked when it is read back, because a profile is
// written to the wheel as it is.
//
// LED colours are kept per LED of the model's map (not per button), in the
// colour the LED shows, so that LEDs sharing a button and LEDs wired in
// another channel order come back exactly as they were.

constexpr int kProfileFormatVersion = 1;
constexpr const char *kProfileFormatTag = "QuorSet wheel profile";

// The range the wheel's pulse-width sliders offer, in milliseconds.
constexpr int kPulseWidthMin = 40;
constexpr int kPulseWidthMax = 240;
// Raw clutch paddle readings run from 0 to this.
constexpr int kPaddleReadingMax = 4096;
// Largest biteWord naming a paddle (the right paddle at 100 %).
constexpr int kRightBiteWordMax = kRightBiteWordBase + kBitePointMax;

struct WheelProfile
{
    QString wheelName;
    QString modelCode; // "SRD7", ...: the model table code found in the name
    QString firmwareVersion;
    // Milliseconds; unset when the wheel reported that it stores none.
    std::optional<int> encoderPulseWidth;
    std::optional<int> shifterPulseWidth;
    PaddleConfig paddles;
    bool clutchesEnabled = false;
    bool extraShiftersEnabled = false;
    // Colour of LED i of the model's map, as it shows (channel order undone).
    std::vector<Rgb> leds;
    // pbXL and pbXR, on models whose extra LEDs travel in their own report.
    std::optional<Rgb> extraLeft;
    std::optional<Rgb> extraRight;

    bool operator==(const WheelProfile &o) const;
};

// The model code of a wheel name: the first model table row whose code the
// name contains; empty for none.
QString modelCodeOf(const QString &wheelName);

// Exactly six hex digits, RRGGBB, as a colour.
std::optional<Rgb> parseHexColour(const QString &text);

// Whether the model stores its extra LED colours outside the LED frame.
bool modelHasExtraLedRecord(const QString &modelCode);

QByteArray profileToJson(const WheelProfile &profile);

// The profile in `json`, or nothing with a one-line reason in *error: not
// JSON (a truncated file), another format or version, a missing, unknown or
// mistyped key, a value out of range, or an LED list that does not fit the
// model it names (an unknown button, one in the wrong place, a wrong count).
std::optional<WheelProfile> parseProfile(const QByteArray &json, QString *error);

// Fits a valid profile to the wheel it is restored to. The same model needs
// nothing. Another model is refused unless `force`; forced, the settings are
// taken as they are, each LED of the wheel takes the colour the profile gives
// its button (LEDs of buttons the profile lacks keep `current`'s colour), and
// the extra LEDs are taken when both models have them.
std::optional<WheelProfile> fitProfileToWheel(const WheelProfile &profile, const WheelProfile &current,
                                              bool force, QString *error);

// One line per value of `wanted` that `actual` does not hold ("encoder pulse
// width: 120 written, wheel reports 100"). Name and firmware version are
// not compared; unset pulse widths are not either.
QStringList profileDifferences(const WheelProfile &wanted, const WheelProfile &actual);
