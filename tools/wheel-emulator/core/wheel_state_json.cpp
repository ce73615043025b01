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
// range.
#include "test_image.h"
#include "wheel.h"

#include <json-glib/json-glib.h>

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
    std::string out;
    char digits[3];
    for (size_t i = 0; i < n; ++i) {
        g_snprintf(digits, sizeof digits, "%02x", p[i]);
        out += digits;
    }
    return out;
}

bool isInteger(JsonNode *node, int64_t min, int64_t max, int64_t *out)
{
    if (!JSON_NODE_HOLDS_VALUE(node) || json_node_get_value_type(node) != G_TYPE_INT64)
        return false;
    *out = json_node_get_int(node);
    return *out >= min && *out <= max;
}

const char *stringOf(JsonNode *node)
{
    return JSON_NODE_HOLDS_VALUE(node) && json_node_get_value_type(node) == G_TYPE_STRING
               ? json_node_get_string(node)
               : nullptr;
}

bool fromHex(JsonNode *node, const std::string &key, uint8_t *out, size_t n, std::string *error)
{
    const char *text = stringOf(node);
    bool ok = text && strlen(text) == 2 * n;
    for (size_t i = 0; ok && i < n; ++i) {
        const int hi = g_ascii_xdigit_value(text[2 * i]), lo = g_ascii_xdigit_value(text[2 * i + 1]);
        ok = hi >= 0 && lo >= 0;
        out[i] = static_cast<uint8_t>(hi << 4 | lo);
    }
    if (!ok)
        *error = "\"" + key + "\" must be a string of " + std::to_string(2 * n) + " hex digits";
    return ok;
}

// What loading builds up before anything in the wheel changes.
struct Loaded
{
    Wheel::Settings settings;
    std::string version;
};

bool loadMember(const ModelInfo &info, const std::string &key, JsonNode *v, Loaded *out, std::string *error)
{
    int64_t n = 0;
    for (const IntegerField &f : kIntegerFields) {
        if (key != f.key)
            continue;
        if (!isInteger(v, f.min, f.max, &n)) {
            *error = "\"" + key + "\" must be an integer from " + std::to_string(f.min) + " to " +
                     std::to_string(f.max);
            return false;
        }
        f.set(out->settings, n);
        return true;
    }
    const char *text = stringOf(v);
    if (key == "model") {
        if (!text || info.code != std::string(text)) {
            *error =
                std::string("the state is for model ") + (text ? text : "?") + ", this wheel is " + info.code;
            return false;
        }
        return true;
    }
    if (key == "firmwareVersion") {
        if (!text || !*text || strlen(text) > kImageVersionMax) {
            *error =
                "\"firmwareVersion\" must be a string of 1 to " + std::to_string(kImageVersionMax) + " bytes";
            return false;
        }
        out->version = text;
        return true;
    }
    JsonArray *items = JSON_NODE_HOLDS_ARRAY(v) ? json_node_get_array(v) : nullptr;
    const size_t count = items ? json_array_get_length(items) : 0;
    if (key == "shifterThresholds") {
        auto &t = out->settings.shifterThresholds;
        bool ok = items && count == t.size();
        for (size_t i = 0; ok && i < t.size(); ++i) {
            ok = isInteger(json_array_get_element(items, guint(i)), 0, UINT32_MAX, &n);
            t[i] = static_cast<uint32_t>(n);
        }
        if (!ok)
            *error = "\"shifterThresholds\" must be an array of " + std::to_string(t.size()) +
                     " integers from 0 to 4294967295";
        return ok;
    }
    if (key == "ledPages") {
        const size_t pages = static_cast<size_t>(info.ledPages);
        if (!items || count != pages) {
            *error = "\"ledPages\" must be an array of " + std::to_string(pages) + " pages for " + info.code;
            return false;
        }
        for (size_t p = 0; p < pages; ++p)
            if (!fromHex(json_array_get_element(items, guint(p)), key,
                         &out->settings.ledFrame[p * kLedPageBytes], kLedPageBytes, error))
                return false;
        return true;
    }
    if (key == "extraLeds")
        return fromHex(v, key, out->settings.extraLeds.data(), out->settings.extraLeds.size(), error);
    *error = "unknown key \"" + key + "\"";
    return false;
}
} // namespace

std::string Wheel::stateJson() const
{
    g_autoptr(JsonBuilder) b = json_builder_new();
    json_builder_begin_object(b);
    json_builder_set_member_name(b, "model");
    json_builder_add_string_value(b, info_->code);
    json_builder_set_member_name(b, "firmwareVersion");
    json_builder_add_string_value(b, version_.c_str());
    for (const IntegerField &f : kIntegerFields) {
        json_builder_set_member_name(b, f.key);
        json_builder_add_int_value(b, f.get(flash_));
    }
    json_builder_set_member_name(b, "shifterThresholds");
    json_builder_begin_array(b);
    for (uint32_t t : flash_.shifterThresholds)
        json_builder_add_int_value(b, t);
    json_builder_end_array(b);
    json_builder_set_member_name(b, "ledPages");
    json_builder_begin_array(b);
    for (size_t p = 0; p < static_cast<size_t>(info_->ledPages); ++p)
        json_builder_add_string_value(b, toHex(&flash_.ledFrame[p * kLedPageBytes], kLedPageBytes).c_str());
    json_builder_end_array(b);
    json_builder_set_member_name(b, "extraLeds");
    json_builder_add_string_value(b, toHex(flash_.extraLeds.data(), flash_.extraLeds.size()).c_str());
    json_builder_end_object(b);

    g_autoptr(JsonNode) root = json_builder_get_root(b);
    g_autoptr(JsonGenerator) generator = json_generator_new();
    json_generator_set_pretty(generator, TRUE);
    json_generator_set_root(generator, root);
    g_autofree gchar *text = json_generator_to_data(generator, nullptr);
    return std::string(text) + "\n";
}

bool Wheel::loadStateJson(const std::string &text, std::string *error)
{
    std::string problem;
    Loaded loaded{flash_, version_};
    g_autoptr(JsonParser) parser = json_parser_new();
    g_autoptr(GError) parseError = nullptr;
    bool ok = json_parser_load_from_data(parser, text.data(), gssize(text.size()), &parseError);
    JsonNode *root = ok ? json_parser_get_root(parser) : nullptr;
    if (!ok)
        problem = parseError->message;
    else if (!root || !JSON_NODE_HOLDS_OBJECT(root)) {
        problem = "the state must be a JSON object";
        ok = false;
    }
    if (ok) {
        JsonObject *object = json_node_get_object(root);
        g_autoptr(GList) members = json_object_get_members(object);
        for (GList *m = members; ok && m; m = m->next) {
            const char *key = static_cast<const char *>(m->data);
            ok = loadMember(*info_, key, json_object_get_member(object, key), &loaded, &problem);
        }
    }
    if (!ok) {
        if (error)
            *error = problem;
        return false;
    }
    flash_ = loaded.settings;
    version_ = loaded.version;
    powerCycle();
    return true;
}

} // namespace wheelemu
