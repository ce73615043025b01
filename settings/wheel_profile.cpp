#include "settings/wheel_profile.h"

#include "device/model_table.h"
#include "led/led_maps.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <cctype>
#include <cmath>

namespace {

const QString kFormat = QStringLiteral("format");
const QString kVersion = QStringLiteral("version");
const QString kWheel = QStringLiteral("wheel");
const QString kName = QStringLiteral("name");
const QString kModel = QStringLiteral("model");
const QString kFirmware = QStringLiteral("firmware");
const QString kEncoderPulseWidth = QStringLiteral("encoderPulseWidth");
const QString kShifterPulseWidth = QStringLiteral("shifterPulseWidth");
const QString kPaddles = QStringLiteral("paddles");
const QString kBiteWord = QStringLiteral("biteWord");
const QString kLeftMin = QStringLiteral("leftMin");
const QString kLeftMax = QStringLiteral("leftMax");
const QString kRightMin = QStringLiteral("rightMin");
const QString kRightMax = QStringLiteral("rightMax");
const QString kClutchesEnabled = QStringLiteral("clutchesEnabled");
const QString kExtraShiftersEnabled = QStringLiteral("extraShiftersEnabled");
const QString kLeds = QStringLiteral("leds");
const QString kLed = QStringLiteral("led");
const QString kButton = QStringLiteral("button");
const QString kColour = QStringLiteral("colour");
const QString kExtraLeds = QStringLiteral("extraLeds");
const QString kLeftExtraButton = QStringLiteral("pbXL");
const QString kRightExtraButton = QStringLiteral("pbXR");

QString colourText(Rgb c)
{
    return QStringLiteral("#%1%2%3")
        .arg(c.red, 2, 16, QLatin1Char('0'))
        .arg(c.green, 2, 16, QLatin1Char('0'))
        .arg(c.blue, 2, 16, QLatin1Char('0'));
}

std::optional<Rgb> parseColour(const QString &text)
{
    if (!text.startsWith(QLatin1Char('#')))
        return std::nullopt;
    return parseHexColour(text.mid(1));
}

// Keys and values quoted from the file may hold line breaks or terminal
// control codes; the reason must stay one printable line.
QString printable(const QString &text)
{
    QString out;
    for (const QChar c : text) {
        const QChar::Category category = c.category();
        if (category == QChar::Other_Control || category == QChar::Separator_Line ||
            category == QChar::Separator_Paragraph)
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

// Reads one object's keys, remembering the first fault. Unknown keys are
// faults too: a misspelt key in a hand-edited file would otherwise be
// dropped silently and the wheel would keep a value the user meant to change.
class Reader
{
public:
    Reader(const QJsonObject &object, QString where, QString *error)
        : object_(object), where_(std::move(where)), error_(error)
    {}

    bool failed() const { return !error_->isEmpty(); }
    void fail(const QString &text)
    {
        if (!failed())
            *error_ = printable(text);
    }
    QString path(const QString &key) const
    {
        return where_.isEmpty() ? key : where_ + QLatin1Char('.') + key;
    }

    QJsonValue value(const QString &key)
    {
        known_.insert(key);
        if (!object_.contains(key)) {
            fail(QStringLiteral("missing \"%1\"").arg(path(key)));
            return QJsonValue();
        }
        return object_.value(key);
    }
    bool has(const QString &key) const { return object_.contains(key); }

    // An integer in [min, max]; a fraction, a string or null is refused.
    int integer(const QString &key, int min, int max)
    {
        const QJsonValue v = value(key);
        if (failed())
            return 0;
        const double d = v.toDouble(std::nan(""));
        if (!v.isDouble() || d != std::floor(d) || d < min || d > max) {
            fail(QStringLiteral("\"%1\" must be a whole number from %2 to %3")
                     .arg(path(key))
                     .arg(min)
                     .arg(max));
            return 0;
        }
        return int(d);
    }
    std::optional<int> optionalInteger(const QString &key, int min, int max)
    {
        if (has(key) && object_.value(key).isNull()) {
            known_.insert(key);
            return std::nullopt;
        }
        return integer(key, min, max);
    }
    bool boolean(const QString &key)
    {
        const QJsonValue v = value(key);
        if (!failed() && !v.isBool())
            fail(QStringLiteral("\"%1\" must be true or false").arg(path(key)));
        return v.toBool();
    }
    QString string(const QString &key)
    {
        const QJsonValue v = value(key);
        if (!failed() && !v.isString())
            fail(QStringLiteral("\"%1\" must be a text").arg(path(key)));
        return v.toString();
    }
    Rgb colour(const QString &key)
    {
        const QString text = string(key);
        if (failed())
            return {};
        const std::optional<Rgb> c = parseColour(text);
        if (!c)
            fail(QStringLiteral("\"%1\" must be a colour #rrggbb, not \"%2\"").arg(path(key), text));
        return c.value_or(Rgb{});
    }
    QJsonObject object(const QString &key)
    {
        const QJsonValue v = value(key);
        if (!failed() && !v.isObject())
            fail(QStringLiteral("\"%1\" must be an object").arg(path(key)));
        return v.toObject();
    }
    QJsonArray array(const QString &key)
    {
        const QJsonValue v = value(key);
        if (!failed() && !v.isArray())
            fail(QStringLiteral("\"%1\" must be a list").arg(path(key)));
        return v.toArray();
    }
    // Call after reading every key the object may hold.
    void noOtherKeys()
    {
        for (const QString &key : object_.keys()) {
            if (!known_.contains(key))
                fail(QStringLiteral("unknown key \"%1\"").arg(path(key)));
        }
    }

private:
    QJsonObject object_;
    QString where_;
    QString *error_;
    QSet<QString> known_;
};

const LedMap *mapOfModel(const QString &modelCode)
{
    return modelCode.isEmpty() ? nullptr : ledMapFor(modelCode);
}

int ledCountOf(const QString &modelCode)
{
    const LedMap *map = mapOfModel(modelCode);
    return map ? int(map->leds.size()) : 0;
}

void readLeds(Reader &top, WheelProfile &profile, QString *error)
{
    const QJsonArray list = top.array(kLeds);
    if (top.failed())
        return;
    const LedMap *map = mapOfModel(profile.modelCode);
    const int count = ledCountOf(profile.modelCode);
    if (list.size() != count) {
        top.fail(QStringLiteral("\"leds\" of a %1 must list %2 LEDs, not %3")
                     .arg(profile.modelCode)
                     .arg(count)
                     .arg(list.size()));
        return;
    }
    QSet<QString> buttons;
    for (const LedMapRow &row : map ? map->leds : TableView<LedMapRow>())
        buttons.insert(QLatin1String(row.button));
    for (int i = 0; i < count; ++i) {
        if (!list[i].isObject()) {
            top.fail(QStringLiteral("\"leds[%1]\" must be an object").arg(i));
            return;
        }
        Reader led(list[i].toObject(), QStringLiteral("leds[%1]").arg(i), error);
        const int index = led.integer(kLed, 0, count - 1);
        const QString button = led.string(kButton);
        const Rgb colour = led.colour(kColour);
        led.noOtherKeys();
        if (led.failed())
            return;
        const QString expected = QLatin1String(map->leds[std::size_t(i)].button);
        if (index != i)
            top.fail(
                QStringLiteral("\"leds[%1]\" is LED %2; the list must run in LED order").arg(i).arg(index));
        else if (!buttons.contains(button))
            top.fail(QStringLiteral("unknown button \"%1\" for a %2 in \"leds[%3]\"")
                         .arg(button, profile.modelCode)
                         .arg(i));
        else if (button != expected)
            top.fail(QStringLiteral("LED %1 of a %2 belongs to %3, not %4")
                         .arg(i)
                         .arg(profile.modelCode, expected, button));
        if (top.failed())
            return;
        profile.leds.push_back(colour);
    }
}

void readExtraLeds(Reader &top, WheelProfile &profile, QString *error)
{
    if (!modelHasExtraLedRecord(profile.modelCode)) {
        if (top.has(kExtraLeds))
            top.fail(QStringLiteral("a %1 has no \"extraLeds\"").arg(profile.modelCode));
        return;
    }
    Reader extra(top.object(kExtraLeds), kExtraLeds, error);
    if (top.failed())
        return;
    profile.extraLeft = extra.colour(kLeftExtraButton);
    profile.extraRight = extra.colour(kRightExtraButton);
    extra.noOtherKeys();
}

QString pulseText(const std::optional<int> &v)
{
    return v ? QString::number(*v) : QStringLiteral("none");
}

} // namespace

std::optional<Rgb> parseHexColour(const QString &text)
{
    // Six hex digits and nothing else: toUInt alone would also take a sign
    // or blanks.
    if (text.size() != 6)
        return std::nullopt;
    for (const QChar c : text) {
        if (!isxdigit(c.unicode() < 0x80 ? c.unicode() : 'x'))
            return std::nullopt;
    }
    const uint value = text.toUInt(nullptr, 16);
    return Rgb{uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value)};
}

bool WheelProfile::operator==(const WheelProfile &o) const
{
    return wheelName == o.wheelName && modelCode == o.modelCode && firmwareVersion == o.firmwareVersion &&
           encoderPulseWidth == o.encoderPulseWidth && shifterPulseWidth == o.shifterPulseWidth &&
           paddles == o.paddles && clutchesEnabled == o.clutchesEnabled &&
           extraShiftersEnabled == o.extraShiftersEnabled && leds == o.leds && extraLeft == o.extraLeft &&
           extraRight == o.extraRight;
}

QString modelCodeOf(const QString &wheelName)
{
    const std::vector<const ModelEntry *> rows = ModelTable::matching(wheelName);
    return rows.empty() ? QString() : QLatin1String(rows.front()->code);
}

bool modelHasExtraLedRecord(const QString &modelCode)
{
    const ModelEntry *model = mapOfModel(modelCode) ? ModelTable::forName(modelCode) : nullptr;
    return model && model->sendsExtraLeds;
}

QByteArray profileToJson(const WheelProfile &profile)
{
    QJsonObject root;
    root[kFormat] = QLatin1String(kProfileFormatTag);
    root[kVersion] = kProfileFormatVersion;
    root[kWheel] = QJsonObject{
        {kName, profile.wheelName}, {kModel, profile.modelCode}, {kFirmware, profile.firmwareVersion}};
    const auto pulse = [](const std::optional<int> &v) {
        return v ? QJsonValue(*v) : QJsonValue();
    };
    root[kEncoderPulseWidth] = pulse(profile.encoderPulseWidth);
    root[kShifterPulseWidth] = pulse(profile.shifterPulseWidth);
    const PaddleConfig &p = profile.paddles;
    root[kPaddles] = QJsonObject{{kBiteWord, p.biteWord},
                                 {kLeftMin, p.leftMin},
                                 {kLeftMax, p.leftMax},
                                 {kRightMin, p.rightMin},
                                 {kRightMax, p.rightMax}};
    root[kClutchesEnabled] = profile.clutchesEnabled;
    root[kExtraShiftersEnabled] = profile.extraShiftersEnabled;
    QJsonArray leds;
    const LedMap *map = mapOfModel(profile.modelCode);
    for (std::size_t i = 0; i < profile.leds.size(); ++i) {
        const QString button = map && i < map->leds.size() ? QLatin1String(map->leds[i].button) : QString();
        leds.append(QJsonObject{{kLed, int(i)}, {kButton, button}, {kColour, colourText(profile.leds[i])}});
    }
    root[kLeds] = leds;
    if (profile.extraLeft && profile.extraRight)
        root[kExtraLeds] = QJsonObject{{kLeftExtraButton, colourText(*profile.extraLeft)},
                                       {kRightExtraButton, colourText(*profile.extraRight)}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

std::optional<WheelProfile> parseProfile(const QByteArray &json, QString *error)
{
    error->clear();
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        *error = QStringLiteral("not a profile: %1 at byte %2 (truncated or damaged file?)")
                     .arg(parseError.errorString())
                     .arg(parseError.offset);
        return std::nullopt;
    }
    if (!doc.isObject()) {
        *error = QStringLiteral("not a profile: the file holds no JSON object");
        return std::nullopt;
    }
    Reader top(doc.object(), QString(), error);
    if (top.string(kFormat) != QLatin1String(kProfileFormatTag))
        top.fail(
            QStringLiteral("not a profile: \"format\" must be \"%1\"").arg(QLatin1String(kProfileFormatTag)));
    const int version = top.integer(kVersion, 1, 1000000);
    if (!top.failed() && version != kProfileFormatVersion)
        top.fail(QStringLiteral("profile version %1 is not supported (this program reads version %2)")
                     .arg(version)
                     .arg(kProfileFormatVersion));
    if (top.failed())
        return std::nullopt;

    WheelProfile profile;
    Reader wheel(top.object(kWheel), kWheel, error);
    profile.wheelName = wheel.string(kName);
    profile.modelCode = wheel.string(kModel);
    profile.firmwareVersion = wheel.string(kFirmware);
    wheel.noOtherKeys();
    if (!top.failed() && !ModelTable::byCode(profile.modelCode.toLatin1().constData()))
        top.fail(QStringLiteral("unknown wheel model \"%1\"").arg(profile.modelCode));

    profile.encoderPulseWidth = top.optionalInteger(kEncoderPulseWidth, kPulseWidthMin, kPulseWidthMax);
    profile.shifterPulseWidth = top.optionalInteger(kShifterPulseWidth, kPulseWidthMin, kPulseWidthMax);

    Reader paddles(top.object(kPaddles), kPaddles, error);
    const int biteWord = paddles.integer(kBiteWord, 0, kNoBiteWord);
    if (!top.failed() && biteWord > kRightBiteWordMax && biteWord != kNoBiteWord)
        top.fail(QStringLiteral("\"paddles.biteWord\" must be 0..%1 (left), %2..%3 (right) or %4 (none)")
                     .arg(kBitePointMax)
                     .arg(kRightBiteWordBase)
                     .arg(kRightBiteWordMax)
                     .arg(kNoBiteWord));
    profile.paddles.biteWord = uint16_t(biteWord);
    profile.paddles.leftMin = uint16_t(paddles.integer(kLeftMin, 0, kPaddleReadingMax));
    profile.paddles.leftMax = uint16_t(paddles.integer(kLeftMax, 0, kPaddleReadingMax));
    profile.paddles.rightMin = uint16_t(paddles.integer(kRightMin, 0, kPaddleReadingMax));
    profile.paddles.rightMax = uint16_t(paddles.integer(kRightMax, 0, kPaddleReadingMax));
    paddles.noOtherKeys();

    profile.clutchesEnabled = top.boolean(kClutchesEnabled);
    profile.extraShiftersEnabled = top.boolean(kExtraShiftersEnabled);
    if (!top.failed())
        readLeds(top, profile, error);
    if (!top.failed())
        readExtraLeds(top, profile, error);
    top.noOtherKeys();
    if (top.failed())
        return std::nullopt;
    return profile;
}

std::optional<WheelProfile> fitProfileToWheel(const WheelProfile &profile, const WheelProfile &current,
                                              bool force, QString *error)
{
    if (profile.modelCode == current.modelCode)
        return profile;
    if (!force) {
        *error =
            QStringLiteral("the profile was taken from a %1, this wheel is a %2 (--force restores it anyway)")
                .arg(profile.modelCode, current.modelCode);
        return std::nullopt;
    }
    WheelProfile fitted = profile;
    fitted.wheelName = current.wheelName;
    fitted.modelCode = current.modelCode;
    fitted.firmwareVersion = current.firmwareVersion;
    fitted.leds = current.leds;
    const LedMap *from = mapOfModel(profile.modelCode);
    const LedMap *to = mapOfModel(current.modelCode);
    for (std::size_t i = 0; to && i < fitted.leds.size() && i < to->leds.size(); ++i) {
        for (std::size_t j = 0; from && j < profile.leds.size(); ++j) {
            if (qstrcmp(from->leds[j].button, to->leds[i].button) == 0) {
                fitted.leds[i] = profile.leds[j];
                break;
            }
        }
    }
    const bool bothExtra = profile.extraLeft && current.extraLeft;
    fitted.extraLeft = bothExtra ? profile.extraLeft : current.extraLeft;
    fitted.extraRight = bothExtra ? profile.extraRight : current.extraRight;
    return fitted;
}

QStringList profileDifferences(const WheelProfile &wanted, const WheelProfile &actual)
{
    QStringList out;
    const auto compare = [&out](const QString &what, const QString &w, const QString &a) {
        if (w != a)
            out << QStringLiteral("%1: %2 written, wheel reports %3").arg(what, w, a);
    };
    if (wanted.encoderPulseWidth)
        compare(QStringLiteral("encoder pulse width"), pulseText(wanted.encoderPulseWidth),
                pulseText(actual.encoderPulseWidth));
    if (wanted.shifterPulseWidth)
        compare(QStringLiteral("shifter pulse width"), pulseText(wanted.shifterPulseWidth),
                pulseText(actual.shifterPulseWidth));
    const PaddleConfig &w = wanted.paddles;
    const PaddleConfig &a = actual.paddles;
    compare(QStringLiteral("bite word"), QString::number(w.biteWord), QString::number(a.biteWord));
    compare(QStringLiteral("left paddle minimum"), QString::number(w.leftMin), QString::number(a.leftMin));
    compare(QStringLiteral("left paddle maximum"), QString::number(w.leftMax), QString::number(a.leftMax));
    compare(QStringLiteral("right paddle minimum"), QString::number(w.rightMin), QString::number(a.rightMin));
    compare(QStringLiteral("right paddle maximum"), QString::number(w.rightMax), QString::number(a.rightMax));
    const auto onOff = [](bool b) {
        return b ? QStringLiteral("enabled") : QStringLiteral("disabled");
    };
    compare(QStringLiteral("clutches"), onOff(wanted.clutchesEnabled), onOff(actual.clutchesEnabled));
    compare(QStringLiteral("extra shifters"), onOff(wanted.extraShiftersEnabled),
            onOff(actual.extraShiftersEnabled));
    const LedMap *map = mapOfModel(wanted.modelCode);
    for (std::size_t i = 0; i < wanted.leds.size(); ++i) {
        const Rgb got = i < actual.leds.size() ? actual.leds[i] : Rgb{};
        const QString button = map && i < map->leds.size() ? QLatin1String(map->leds[i].button) : QString();
        compare(QStringLiteral("LED %1 (%2)").arg(i).arg(button), colourText(wanted.leds[i]),
                colourText(got));
    }
    if (wanted.extraLeft)
        compare(kLeftExtraButton, colourText(*wanted.extraLeft),
                colourText(actual.extraLeft.value_or(Rgb{})));
    if (wanted.extraRight)
        compare(kRightExtraButton, colourText(*wanted.extraRight),
                colourText(actual.extraRight.value_or(Rgb{})));
    return out;
}
