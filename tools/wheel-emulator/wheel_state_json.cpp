// The state file: what the wheel keeps in flash, as JSON a person can read
// and edit. Written at exit, loaded at start:
//
//   {
//     "model": "SRD7",
//     "firmwareVersion": "2\tMar  7 2024,15:04",
//     "biteWord": 5000,
//     "rightMax": 4095, ... (one key per line)
//     "shifterThresholds": [2048, 2048, 2048, 2048],
//     "ledPages": ["<36 hex digits>", ...],   4 pages, 8 on ULMAR
//     "extraLeds": "<12 hex digits: left rgb, right rgb>"
//   }
//
// When loading, every key is optional (a missing one keeps the value the
// wheel has), unknown keys are errors (they are usually typos), "model" must
// name this wheel's model, and numbers must be integers in their field's
// range. Errors name the line and column.
#include "wheel.h"

#include "mini_json.h"
#include "test_image.h"

#include <cstdio>
#include <type_traits>

namespace wheelemu {

namespace {
constexpr size_t kLedPageBytes = 18;

struct IntegerField
{
    const char *key;
    int64_t min, max;
    int64_t (*get)(const Wheel::Settings &);
    void (*set)(Wheel::Settings &, int64_t);
};

template<auto Member> int64_t getField(const Wheel::Settings &s)
{
    return static_cast<int64_t>(s.*Member);
}
template<auto Member> void setField(Wheel::Settings &s, int64_t v)
{
    s.*Member = static_cast<std::remove_reference_t<decltype(s.*Member)>>(v);
}
template<auto Member> constexpr IntegerField field(const char *key, int64_t min, int64_t max)
{
    return {key, min, max, getField<Member>, setField<Member>};
}

using S = Wheel::Settings;
const IntegerField kIntegerFields[] = {
    field<&S::biteWord>("biteWord", 0, UINT16_MAX),
    field<&S::rightMax>("rightMax", 0, UINT16_MAX),
    field<&S::leftMax>("leftMax", 0, UINT16_MAX),
    field<&S::rightMin>("rightMin", 0, UINT16_MAX),
    field<&S::leftMin>("leftMin", 0, UINT16_MAX),
    field<&S::encoderPulseWidth>("encoderPulseWidth", INT32_MIN, INT32_MAX),
    field<&S::shifterPulseWidth>("shifterPulseWidth", INT32_MIN, INT32_MAX),
    field<&S::clutchesEnabled>("clutchesEnabled", 0, UINT32_MAX),
    field<&S::extraShiftersEnabled>("extraShiftersEnabled", 0, UINT32_MAX),
};

std::string toHex(const uint8_t *p, size_t n)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        out += kDigits[p[i] >> 4];
        out += kDigits[p[i] & 0xF];
    }
    return out;
}

bool fromHex(const std::string &text, uint8_t *out, size_t n)
{
    if (text.size() != 2 * n)
        return false;
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    for (size_t i = 0; i < n; ++i) {
        const int hi = digit(text[2 * i]), lo = digit(text[2 * i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out[i] = static_cast<uint8_t>(hi << 4 | lo);
    }
    return true;
}

std::string where(const json::Value &v)
{
    return "line " + std::to_string(v.line) + ", column " + std::to_string(v.column) + ": ";
}

// What loading builds up before anything in the wheel changes.
struct Loaded
{
    Wheel::Settings settings;
    std::string version;
};

bool loadHexString(const json::Value &v, const std::string &key, uint8_t *out, size_t n, std::string *error)
{
    if (v.type != json::Value::Type::String || !fromHex(v.text, out, n)) {
        *error = where(v) + "\"" + key + "\" must be a string of " + std::to_string(2 * n) + " hex digits";
        return false;
    }
    return true;
}

bool loadMember(const ModelInfo &info, const std::string &key, const json::Value &v, Loaded *out,
                std::string *error)
{
    for (const IntegerField &f : kIntegerFields) {
        if (key != f.key)
            continue;
        int64_t n;
        if (!v.toInteger(f.min, f.max, &n)) {
            *error = where(v) + "\"" + key + "\" must be an integer from " + std::to_string(f.min) + " to " +
                     std::to_string(f.max);
            return false;
        }
        f.set(out->settings, n);
        return true;
    }
    if (key == "model") {
        if (v.type != json::Value::Type::String || v.text != info.code) {
            *error = where(v) + "the state is for model " +
                     (v.type == json::Value::Type::String ? v.text : "?") + ", this wheel is " + info.code;
            return false;
        }
        return true;
    }
    if (key == "firmwareVersion") {
        if (v.type != json::Value::Type::String || v.text.empty() || v.text.size() > kImageVersionMax) {
            *error = where(v) + "\"firmwareVersion\" must be a string of 1 to " +
                     std::to_string(kImageVersionMax) + " bytes";
            return false;
        }
        out->version = v.text;
        return true;
    }
    if (key == "shifterThresholds") {
        auto &t = out->settings.shifterThresholds;
        if (v.type != json::Value::Type::Array || v.items.size() != t.size()) {
            *error = where(v) + "\"shifterThresholds\" must be an array of " + std::to_string(t.size()) +
                     " integers";
            return false;
        }
        for (size_t i = 0; i < t.size(); ++i) {
            int64_t n;
            if (!v.items[i].toInteger(0, UINT32_MAX, &n)) {
                *error = where(v.items[i]) + "a shifter threshold must be an integer from 0 to 4294967295";
                return false;
            }
            t[i] = static_cast<uint32_t>(n);
        }
        return true;
    }
    if (key == "ledPages") {
        const size_t pages = static_cast<size_t>(info.ledPages);
        if (v.type != json::Value::Type::Array || v.items.size() != pages) {
            *error = where(v) + "\"ledPages\" must be an array of " + std::to_string(pages) + " pages for " +
                     info.code;
            return false;
        }
        for (size_t p = 0; p < pages; ++p)
            if (!loadHexString(v.items[p], "ledPages", &out->settings.ledFrame[p * kLedPageBytes],
                               kLedPageBytes, error))
                return false;
        return true;
    }
    if (key == "extraLeds")
        return loadHexString(v, key, out->settings.extraLeds.data(), out->settings.extraLeds.size(), error);
    *error = where(v) + "unknown key \"" + key + "\"";
    return false;
}
} // namespace

std::string Wheel::stateJson() const
{
    std::string out = "{\n";
    out += "  \"model\": " + json::quote(info_->code) + ",\n";
    out += "  \"firmwareVersion\": " + json::quote(version_) + ",\n";
    for (const IntegerField &f : kIntegerFields)
        out += "  \"" + std::string(f.key) + "\": " + std::to_string(f.get(flash_)) + ",\n";
    out += "  \"shifterThresholds\": [";
    for (size_t i = 0; i < flash_.shifterThresholds.size(); ++i)
        out += (i ? ", " : "") + std::to_string(flash_.shifterThresholds[i]);
    out += "],\n  \"ledPages\": [\n";
    for (size_t p = 0; p < static_cast<size_t>(info_->ledPages); ++p)
        out += "    " + json::quote(toHex(&flash_.ledFrame[p * kLedPageBytes], kLedPageBytes)) +
               (p + 1 < static_cast<size_t>(info_->ledPages) ? ",\n" : "\n");
    out += "  ],\n";
    out += "  \"extraLeds\": " + json::quote(toHex(flash_.extraLeds.data(), flash_.extraLeds.size())) + "\n";
    return out + "}\n";
}

bool Wheel::loadStateJson(const std::string &text, std::string *error)
{
    std::string problem;
    json::Value doc;
    Loaded loaded{flash_, version_};
    bool ok = json::parse(text, &doc, &problem);
    if (ok && doc.type != json::Value::Type::Object) {
        problem = where(doc) + "the state must be a JSON object";
        ok = false;
    }
    for (size_t i = 0; ok && i < doc.members.size(); ++i)
        ok = loadMember(*info_, doc.members[i].first, doc.members[i].second, &loaded, &problem);
    if (!ok) {
        if (error)
            *error = problem;
        return false;
    }
    flash_ = loaded.settings;
    version_ = loaded.version;
    restart();
    return true;
}

} // namespace wheelemu
