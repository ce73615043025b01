// The emulated wheel as a host sees it: the bytes of every reply, what
// survives a power cycle, firmware streams, LED pages, input reports and the
// state file. Requests are built here from the protocol tables, independently
// of the wheel's own code.
#include "test_image.h"
#include "wheel.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

using namespace wheelemu;
using Bytes = std::vector<uint8_t>;

// ---- a tiny test harness ---------------------------------------------------

namespace {
int g_failures = 0;
std::string g_test, g_row;

void fail(const std::string &what, const char *file, int line)
{
    ++g_failures;
    std::printf("FAIL %s%s%s%s: %s (%s:%d)\n", g_test.c_str(), g_row.empty() ? "" : " [", g_row.c_str(),
                g_row.empty() ? "" : "]", what.c_str(), file, line);
}

// Names the table row that the checks below it belong to.
struct Row
{
    explicit Row(std::string name) { g_row = std::move(name); }
    ~Row() { g_row.clear(); }
};

std::string show(const Bytes &b)
{
    std::string out;
    char buf[4];
    for (size_t i = 0; i < b.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%s%02X", i ? " " : "", b[i]);
        out += buf;
    }
    return out;
}
std::string show(const std::string &s)
{
    std::string out = "\"";
    for (char c : s)
        out += c == '\t' ? std::string("\\t") : std::string(1, c);
    return out + "\"";
}
std::string show(const std::vector<Bytes> &list)
{
    std::string out;
    for (const Bytes &b : list)
        out += "\n    " + show(b);
    return out;
}
std::string show(Wheel::Event e)
{
    static const char *kNames[] = {"None", "Restart", "EnterBootLoader"};
    return kNames[static_cast<int>(e)];
}
template<typename T> std::string show(const T &v)
{
    return std::to_string(v);
}

template<typename A, typename B>
void checkEqual(const A &actual, const B &expected, const char *expr, const char *file, int line)
{
    if (!(actual == expected))
        fail(std::string(expr) + " is " + show(actual) + ", expected " + show(B(expected)), file, line);
}

#define CHECK(cond)                                                                                          \
    do {                                                                                                     \
        if (!(cond))                                                                                         \
            fail("CHECK(" #cond ")", __FILE__, __LINE__);                                                    \
    } while (0)
#define CHECK_EQ(actual, expected) checkEqual((actual), (expected), #actual, __FILE__, __LINE__)

bool contains(const std::vector<std::string> &notes, const std::string &part)
{
    for (const std::string &n : notes)
        if (n.find(part) != std::string::npos)
            return true;
    return false;
}

// ---- the host's side of the wire -------------------------------------------

// "02 0B 0D" -> bytes, padded with zeros to `size` when given.
Bytes hex(const char *text, size_t size = 0)
{
    Bytes out;
    for (const char *p = text; *p;) {
        if (*p == ' ') {
            ++p;
            continue;
        }
        unsigned v = 0;
        std::sscanf(p, "%2x", &v);
        out.push_back(static_cast<uint8_t>(v));
        p += 2;
    }
    if (out.size() < size)
        out.resize(size, 0);
    return out;
}

// Bytes followed by a text, then zeros up to the 21 bytes of a reply.
Bytes withText(Bytes head, const std::string &text)
{
    head.insert(head.end(), text.begin(), text.end());
    head.resize(21, 0);
    return head;
}

constexpr size_t kCommandLength = 20; // what the host sends
constexpr size_t kReplyLength = 21;   // what the host reads back

// One command report, zero-filled to the 20 bytes the host sends.
void send(Wheel &w, Bytes report)
{
    report.resize(kCommandLength, 0);
    CHECK(w.setFeature(report.data(), report.size()));
}

// A Query as the host makes it: SET_REPORT of the request, GET_REPORT of 21
// bytes into the same buffer.
Bytes query(Wheel &w, uint8_t record, uint8_t item = 0)
{
    Bytes buf(kReplyLength, 0);
    buf[0] = 0x02;
    buf[1] = 0x0B;
    buf[2] = record;
    buf[3] = item;
    CHECK(w.setFeature(buf.data(), kCommandLength));
    CHECK_EQ(w.getFeature(buf.data(), kReplyLength), static_cast<int>(kReplyLength));
    return buf;
}

void ledPage(Wheel &w, uint8_t page, const Bytes &levels)
{
    Bytes report = {0x03, page};
    report.insert(report.end(), levels.begin(), levels.end());
    report.resize(20, 0);
    CHECK(w.output(report.data(), report.size()));
}

// The firmware stream exactly as the host's upgrade worker builds it: one
// 20-byte buffer reused for every chunk (a short last chunk leaves the
// previous chunk's tail behind it), then the same buffer with byte 1 = 0x10.
std::vector<Bytes> hostStream(const Bytes &image)
{
    std::vector<Bytes> reports;
    Bytes buf(kCommandLength, 0);
    buf[0] = 0x02;
    for (size_t offset = 0; offset < image.size(); offset += 16) {
        const size_t n = std::min<size_t>(16, image.size() - offset);
        buf[1] = static_cast<uint8_t>(0x80 | ((offset >> 12) & 0xFF));
        buf[2] = static_cast<uint8_t>((offset >> 4) & 0xFF);
        buf[3] = static_cast<uint8_t>(n);
        std::memcpy(&buf[4], &image[offset], n);
        reports.push_back(buf);
    }
    buf[1] = 0x10;
    reports.push_back(buf);
    return reports;
}

void sendAll(Wheel &w, const std::vector<Bytes> &reports)
{
    for (const Bytes &r : reports)
        CHECK(w.setFeature(r.data(), r.size()));
}

Wheel makeWheel(Model model)
{
    Wheel::Config c;
    c.model = model;
    return Wheel(c);
}

// The replies a host reads for every setting the wheel keeps.
std::vector<Bytes> allSettingReplies(Wheel &w)
{
    std::vector<Bytes> out;
    for (int p = 0; p < w.info().ledPages; ++p)
        out.push_back(query(w, static_cast<uint8_t>(p)));
    out.push_back(query(w, 0x0A));
    for (uint8_t item = 0x03; item <= 0x0A; ++item)
        out.push_back(query(w, 0x0C, item));
    out.push_back(query(w, 0x11));
    return out;
}

const char *kNewVersion = "3\tApr 11 2025,08:15";

// ---- the tests -------------------------------------------------------------

void recordsAreByteExact()
{
    const Bytes ff18(18, 0xFF);
    struct Case
    {
        const char *name;
        Model model;
        std::string configName;
        std::string configVersion;
        bool extraLeds;
        uint8_t record, item;
        Bytes expected;
    };
    const Case cases[] = {
        {"SRD7 name", Model::Srd7, "", "", true, 0x0D, 0, withText(hex("02 0D"), "QUOR SRD7 Wheel")},
        {"ULMAR name", Model::Ulmar, "", "", true, 0x0D, 0, withText(hex("02 0D"), "QUOR ULMAR Wheel")},
        {"H-ZET name", Model::HZet, "", "", true, 0x0D, 0, withText(hex("02 0D"), "QUOR H-ZET Wheel")},
        {"19-byte name fills the reply", Model::HMira, "QUOR H-MIRA Wheel 2", "", true, 0x0D, 0,
         withText(hex("02 0D"), "QUOR H-MIRA Wheel 2")},
        {"longer name is cut", Model::HMira, "QUOR H-MIRA Wheel 2 Pro", "", true, 0x0D, 0,
         withText(hex("02 0D"), "QUOR H-MIRA Wheel 2")},
        {"default version", Model::Srd7, "", "", true, 0x09, 0, withText(hex("02"), "2\tMar  7 2024,15:04")},
        {"20-byte version fills the reply", Model::Pelix, "", "12\tMar 17 2024,09:30", true, 0x09, 0,
         withText(hex("02"), "12\tMar 17 2024,09:30")},
        {"longer version is cut", Model::Pelix, "", "1.4.2\tMar  7 2024,15:04", true, 0x09, 0,
         withText(hex("02"), "1.4.2\tMar  7 2024,15")},
        {"SRD7 paddle config", Model::Srd7, "", "", true, 0x0A, 0,
         hex("02 0A 88 13 00 FF 0F FF 0F 00 00 00 00", 21)},
        {"OV410 paddle config, no bite paddle", Model::Ov410, "", "", true, 0x0A, 0,
         hex("02 0A FF FF 00 FF 0F FF 0F 00 00 00 00", 21)},
        {"left shifter threshold", Model::Srd7, "", "", true, 0x0C, 0x03, hex("02 0C 03 00 08 00 00", 21)},
        {"encoder pulse width", Model::Srd7, "", "", true, 0x0C, 0x04, hex("02 0C 04 64 00 00 00", 21)},
        {"extra right shifter threshold", Model::Srd7, "", "", true, 0x0C, 0x07,
         hex("02 0C 07 00 08 00 00", 21)},
        {"VLN6 clutches on", Model::Vln6, "", "", true, 0x0C, 0x08, hex("02 0C 08 01 00 00 00", 21)},
        {"OV410 clutches off", Model::Ov410, "", "", true, 0x0C, 0x08, hex("02 0C 08 FF 00 00 00", 21)},
        {"VLN6 extra shifters on", Model::Vln6, "", "", true, 0x0C, 0x09, hex("02 0C 09 01 00 00 00", 21)},
        {"SRD7 extra shifters off", Model::Srd7, "", "", true, 0x0C, 0x09, hex("02 0C 09 FF 00 00 00", 21)},
        {"shifter pulse width", Model::Klino4, "", "", true, 0x0C, 0x0A, hex("02 0C 0A 64 00 00 00", 21)},
        {"unknown item", Model::Srd7, "", "", true, 0x0C, 0x10, hex("02 0C 10 FF FF FF FF", 21)},
        {"SRD7 LED page 0", Model::Srd7, "", "", true, 0x00, 0,
         withText(hex("02 00"), std::string(18, '\xFF'))},
        {"SRD7 LED page 3", Model::Srd7, "", "", true, 0x03, 0,
         withText(hex("02 03"), std::string(18, '\xFF'))},
        {"SRD7 has no LED page 4", Model::Srd7, "", "", true, 0x04, 0, hex("02 FF", 21)},
        {"ULMAR LED page 7", Model::Ulmar, "", "", true, 0x07, 0,
         withText(hex("02 07"), std::string(18, '\xFF'))},
        {"KLINO4 on battery", Model::Klino4, "", "", true, 0x0F, 0, hex("02 0F 50 3C 0F 00", 21)},
        {"SRD7 without battery", Model::Srd7, "", "", true, 0x0F, 0, hex("02 0F 64 88 13 01", 21)},
        {"KLINO4 extra LEDs", Model::Klino4, "", "", true, 0x11, 0, hex("02 11 01 FF FF FF FF FF FF", 21)},
        {"H-ZET with extra LEDs", Model::HZet, "", "", true, 0x11, 0, hex("02 11 01 FF FF FF FF FF FF", 21)},
        {"H-ZET without extra LEDs", Model::HZet, "", "", false, 0x11, 0,
         hex("02 11 00 FF FF FF FF FF FF", 21)},
        {"OV410 never has them", Model::Ov410, "", "", true, 0x11, 0, hex("02 11 00 FF FF FF FF FF FF", 21)},
        {"unknown record", Model::Srd7, "", "", true, 0x08, 0, hex("02 FF", 21)},
    };
    for (const Case &c : cases) {
        Row row(c.name);
        Wheel::Config config;
        config.model = c.model;
        config.name = c.configName;
        config.version = c.configVersion;
        config.extraLeds = c.extraLeds;
        Wheel w(config);
        CHECK_EQ(query(w, c.record, c.item), c.expected);
    }
}

void queryAnswersTheLastRequest()
{
    Wheel w = makeWheel(Model::Srd7);
    Bytes buf = hex("02", kReplyLength);
    CHECK_EQ(w.getFeature(buf.data(), buf.size()), 21);
    CHECK_EQ(buf, hex("02", 21)); // nothing asked yet

    send(w, hex("02 0B 0D"));
    send(w, hex("02 0B 0C 04"));
    buf.assign(kReplyLength, 0);
    buf[0] = 0x02;
    CHECK_EQ(w.getFeature(buf.data(), buf.size()), 21);
    CHECK_EQ(buf, hex("02 0C 04 64 00 00 00", 21));

    // A write between request and read does not change the prepared reply,
    // but the next query sees it.
    send(w, hex("02 0B 0C 04"));
    send(w, hex("02 0C 04 C8 00 00 00 00"));
    buf.assign(kReplyLength, 0);
    buf[0] = 0x02;
    w.getFeature(buf.data(), buf.size());
    CHECK_EQ(buf, hex("02 0C 04 64 00 00 00", 21));
    CHECK_EQ(query(w, 0x0C, 0x04), hex("02 0C 04 C8 00 00 00", 21));

    // A short read gets the start of the reply.
    send(w, hex("02 0B 0D"));
    Bytes shortBuf = {0x02, 0, 0, 0, 0};
    CHECK_EQ(w.getFeature(shortBuf.data(), shortBuf.size()), 5);
    CHECK_EQ(shortBuf, (Bytes{0x02, 0x0D, 'Q', 'U', 'O'}));
}

void unknownReportIdsAreRefused()
{
    Wheel w = makeWheel(Model::Srd7);
    Bytes feature5 = hex("05 0B 0D", 20);
    CHECK(!w.setFeature(feature5.data(), feature5.size()));
    Bytes get3 = hex("03", 21);
    CHECK_EQ(w.getFeature(get3.data(), get3.size()), -1);
    Bytes out2 = hex("02 00", 20);
    CHECK(!w.output(out2.data(), out2.size()));
    // An unknown command of report 0x02 is taken and ignored.
    send(w, hex("02 42 01 02 03"));
    CHECK(contains(w.takeNotes(), "unknown command 0x42"));
    Wheel fresh = makeWheel(Model::Srd7);
    CHECK_EQ(allSettingReplies(w), allSettingReplies(fresh));
}

void liveAndSavedWrites()
{
    struct Case
    {
        const char *name;
        Bytes write;
        uint8_t record, item;
        Bytes afterWrite;
        bool saved;
    };
    const Case cases[] = {
        {"paddle config live", hex("02 0A 10 27 00 34 12 78 56 01 00 02 00"), 0x0A, 0,
         hex("02 0A 10 27 00 34 12 78 56 01 00 02 00", 21), false},
        {"paddle config saved", hex("02 0A 10 27 EF 34 12 78 56 01 00 02 00"), 0x0A, 0,
         hex("02 0A 10 27 00 34 12 78 56 01 00 02 00", 21), true},
        {"paddle config, other marker byte", hex("02 0A 21 4E 01 00 10 00 10 00 00 00 00"), 0x0A, 0,
         hex("02 0A 21 4E 00 00 10 00 10 00 00 00 00", 21), false},
        {"encoder pulse width live", hex("02 0C 04 96 00 00 00 00"), 0x0C, 0x04,
         hex("02 0C 04 96 00 00 00", 21), false},
        {"encoder pulse width saved", hex("02 0C 04 96 00 00 00 EF"), 0x0C, 0x04,
         hex("02 0C 04 96 00 00 00", 21), true},
        {"marker in the wrong byte", hex("02 0C 04 96 00 00 00 00 EF"), 0x0C, 0x04,
         hex("02 0C 04 96 00 00 00", 21), false},
        {"shifter pulse width saved", hex("02 0C 0A F0 00 00 00 EF"), 0x0C, 0x0A,
         hex("02 0C 0A F0 00 00 00", 21), true},
        {"negative pulse width kept as written", hex("02 0C 0A FF FF FF FF EF"), 0x0C, 0x0A,
         hex("02 0C 0A FF FF FF FF", 21), true},
        {"clutches disabled", hex("02 0C 08 FF 00 00 00 EF"), 0x0C, 0x08, hex("02 0C 08 FF 00 00 00", 21),
         true},
        {"extra shifters enabled", hex("02 0C 09 01 00 00 00 EF"), 0x0C, 0x09,
         hex("02 0C 09 01 00 00 00", 21), true},
        {"extra shifters live only", hex("02 0C 09 01 00 00 00 00"), 0x0C, 0x09,
         hex("02 0C 09 01 00 00 00", 21), false},
        {"threshold calibration start", hex("02 0C 03 00 00 00 00 00"), 0x0C, 0x03,
         hex("02 0C 03 00 00 00 00", 21), false},
        {"threshold calibration finish takes the reading", hex("02 0C 05 FF FF FF FF EF"), 0x0C, 0x05,
         hex("02 0C 05 28 0A 00 00", 21), true},
        {"threshold written directly", hex("02 0C 06 D2 04 00 00 EF"), 0x0C, 0x06,
         hex("02 0C 06 D2 04 00 00", 21), true},
        {"extra LEDs live", hex("02 11 00 0A 14 1E 28 32 3C"), 0x11, 0, hex("02 11 01 0A 14 1E 28 32 3C", 21),
         false},
        {"extra LEDs saved", hex("02 11 EF 0A 14 1E 28 32 3C"), 0x11, 0,
         hex("02 11 01 0A 14 1E 28 32 3C", 21), true},
    };
    for (const Case &c : cases) {
        Row row(c.name);
        Wheel w = makeWheel(Model::Srd7);
        const Bytes before = query(w, c.record, c.item);
        send(w, c.write);
        CHECK_EQ(query(w, c.record, c.item), c.afterWrite);
        w.powerCycle();
        CHECK_EQ(query(w, c.record, c.item), c.saved ? c.afterWrite : before);
    }
}

void liveWriteAfterSaveLeavesFlashAlone()
{
    Wheel w = makeWheel(Model::Vln6);
    send(w, hex("02 0C 04 96 00 00 00 EF"));                // 150 ms, saved
    send(w, hex("02 0C 04 C8 00 00 00 00"));                // 200 ms, live
    send(w, hex("02 0A 64 00 EF 00 10 00 10 00 00 00 00")); // bite 100, saved
    send(w, hex("02 0A 65 00 00 00 10 00 10 00 00 00 00")); // bite 101, live (encoder step)
    CHECK_EQ(query(w, 0x0C, 0x04), hex("02 0C 04 C8 00 00 00", 21));
    CHECK_EQ(query(w, 0x0A), hex("02 0A 65 00 00 00 10 00 10 00 00 00 00", 21));
    w.powerCycle();
    CHECK_EQ(query(w, 0x0C, 0x04), hex("02 0C 04 96 00 00 00", 21));
    CHECK_EQ(query(w, 0x0A), hex("02 0A 64 00 00 00 10 00 10 00 00 00 00", 21));
}

void thresholdCalibrationUsesTheHeldPaddle()
{
    Wheel w = makeWheel(Model::Ulmar);
    send(w, hex("02 0C 07 00 00 00 00 00")); // start: no marker
    CHECK_EQ(query(w, 0x0C, 0x07), hex("02 0C 07 00 00 00 00", 21));
    w.setShifterReading(3, 3333);            // the user holds the extra right paddle
    send(w, hex("02 0C 07 FF FF FF FF EF")); // finish, saved
    w.powerCycle();
    CHECK_EQ(query(w, 0x0C, 0x07), hex("02 0C 07 05 0D 00 00", 21));
    CHECK_EQ(query(w, 0x0C, 0x03), hex("02 0C 03 00 08 00 00", 21)); // the others untouched
}

void clearFlashRestoresDefaults()
{
    for (Model model : {Model::Srd7, Model::Ulmar, Model::Ov410}) {
        Wheel fresh = makeWheel(model);
        Row row(fresh.info().code);
        const std::vector<Bytes> defaults = allSettingReplies(fresh);

        Wheel w = makeWheel(model);
        sendAll(w, hostStream(makeTestImage(300, kNewVersion)));
        CHECK_EQ(w.takeEvent(), Wheel::Event::Restart);
        send(w, hex("02 0A 10 27 EF 34 12 78 56 01 00 02 00"));
        for (uint8_t item = 0x03; item <= 0x0A; ++item)
            send(w, Bytes{0x02, 0x0C, item, 0x2A, 0, 0, 0, 0xEF});
        send(w, hex("02 11 EF 01 02 03 04 05 06"));
        ledPage(w, 1, Bytes(18, 0x12));
        send(w, hex("02 0E"));
        w.powerCycle();
        CHECK(allSettingReplies(w) != defaults);

        send(w, hex("02 0C 10 00 00 00 00 00")); // ClearFlash: no marker
        CHECK_EQ(allSettingReplies(w), defaults);
        w.powerCycle();
        CHECK_EQ(allSettingReplies(w), defaults);
        // The firmware is not settings: it stays.
        CHECK_EQ(w.version(), std::string(kNewVersion));
    }
}

void ledPagesAreLiveUntilCommitted()
{
    Wheel w = makeWheel(Model::Srd7);
    auto pageData = [](int p, uint8_t salt) {
        Bytes d(18);
        for (size_t i = 0; i < d.size(); ++i)
            d[i] = static_cast<uint8_t>(salt + p * 0x20 + i);
        return d;
    };
    auto expectPages = [&](uint8_t salt) {
        for (int p = 0; p < 4; ++p) {
            Bytes expected = {0x02, static_cast<uint8_t>(p)};
            const Bytes d = pageData(p, salt);
            expected.insert(expected.end(), d.begin(), d.end());
            expected.push_back(0);
            CHECK_EQ(query(w, static_cast<uint8_t>(p)), expected);
        }
    };
    const Bytes whitePage0 = query(w, 0);

    // The host sends the pages 0, 1, 3, 2.
    for (int p : {0, 1, 3, 2})
        ledPage(w, static_cast<uint8_t>(p), pageData(p, 0x01));
    expectPages(0x01);
    w.powerCycle();
    CHECK_EQ(query(w, 0), whitePage0); // never committed

    for (int p : {0, 1, 3, 2})
        ledPage(w, static_cast<uint8_t>(p), pageData(p, 0x05));
    send(w, hex("02 0E"));
    w.powerCycle();
    expectPages(0x05);

    // A later live change shows at once but the commit stays in flash.
    ledPage(w, 2, Bytes(18, 0x00));
    CHECK_EQ(query(w, 2), hex("02 02", 21));
    w.powerCycle();
    expectPages(0x05);

    // Extra LEDs are not part of the frame commit.
    send(w, hex("02 11 00 0A 14 1E 28 32 3C"));
    send(w, hex("02 0E"));
    w.powerCycle();
    CHECK_EQ(query(w, 0x11), hex("02 11 01 FF FF FF FF FF FF", 21));
}

void ledPageReportsOutOfPlace()
{
    struct Case
    {
        const char *name;
        Model model;
        Bytes report;
        uint8_t page;
        Bytes pageAfter;
        const char *note;
    };
    const Case cases[] = {
        {"ULMAR page 7", Model::Ulmar, hex("03 07 11 22 33", 20), 7, hex("02 07 11 22 33", 21), ""},
        {"ULMAR has no page 8", Model::Ulmar, hex("03 08 11 22 33", 20), 7,
         withText(hex("02 07"), std::string(18, '\xFF')), "LED page 8 ignored"},
        {"SRD7 has no page 4", Model::Srd7, hex("03 04 11 22 33", 20), 3,
         withText(hex("02 03"), std::string(18, '\xFF')), "LED page 4 ignored"},
        {"short report", Model::Srd7, hex("03 01 11 22 33", 19), 1,
         withText(hex("02 01"), std::string(18, '\xFF')), "LED page report of 19 bytes"},
    };
    for (const Case &c : cases) {
        Row row(c.name);
        Wheel w = makeWheel(c.model);
        CHECK(w.output(c.report.data(), c.report.size()));
        CHECK_EQ(query(w, c.page), c.pageAfter);
        const auto notes = w.takeNotes();
        if (*c.note)
            CHECK(contains(notes, c.note));
        else
            CHECK(notes.empty());
    }
}

void firmwareStreamInstallsTheImage()
{
    struct Case
    {
        const char *name;
        Model model;
        size_t size;
    };
    const Case cases[] = {
        {"40 bytes, short last chunk", Model::Srd7, 40},
        {"full chunks only", Model::HZet, 48},
        {"5000 bytes", Model::Klino4, 5000},
        {"crosses offset 4096", Model::Ulmar, 4096 + 48},
        {"the largest image a host sends", Model::Vln6, 229376},
        {"PELIX over HID", Model::Pelix, 1000},
    };
    for (const Case &c : cases) {
        Row row(c.name);
        Wheel w = makeWheel(c.model);
        send(w, hex("02 0C 04 96 00 00 00 00")); // a live value, lost by the restart
        const Bytes image = makeTestImage(c.size, kNewVersion);
        const auto reports = hostStream(image);
        for (size_t i = 0; i + 1 < reports.size(); ++i) {
            CHECK(w.setFeature(reports[i].data(), reports[i].size()));
            CHECK_EQ(w.takeEvent(), Wheel::Event::None);
        }
        CHECK(w.setFeature(reports.back().data(), reports.back().size()));
        CHECK_EQ(w.takeEvent(), Wheel::Event::Restart);
        CHECK_EQ(w.installedImage(), image);
        CHECK_EQ(query(w, 0x09), withText(hex("02"), kNewVersion));
        CHECK_EQ(query(w, 0x0C, 0x04), hex("02 0C 04 64 00 00 00", 21));
        CHECK(w.takeNotes().empty());
    }
}

void statusPollBetweenDataReportsDoesNoHarm()
{
    Wheel w = makeWheel(Model::HZet);
    const Bytes image = makeTestImage(2000, kNewVersion);
    const auto reports = hostStream(image);
    for (size_t i = 0; i < reports.size(); ++i) {
        if (i == 7 || i == 60)
            CHECK_EQ(query(w, 0x0F), hex("02 0F 50 3C 0F 00", 21));
        CHECK(w.setFeature(reports[i].data(), reports[i].size()));
    }
    CHECK_EQ(w.takeEvent(), Wheel::Event::Restart);
    CHECK_EQ(w.installedImage(), image);
    CHECK_EQ(w.version(), std::string(kNewVersion));
}

void brokenStreamsAreNotInstalled()
{
    using Reports = std::vector<Bytes>;
    struct Case
    {
        const char *name;
        std::function<void(Reports &)> damage;
        const char *note;
    };
    const Case cases[] = {
        {"gap", [](Reports &r) { r.erase(r.begin() + 2); }, "expected offset 0x20, got 0x30"},
        {"chunk sent twice", [](Reports &r) { r.insert(r.begin() + 3, r[2]); },
         "expected offset 0x30, got 0x20"},
        {"does not start at 0", [](Reports &r) { r.erase(r.begin()); },
         "stream starts at offset 0x10, not 0"},
        {"length 0", [](Reports &r) { r[1][3] = 0; }, "bad chunk length 0 at offset 0x10"},
        {"length 17", [](Reports &r) { r[1][3] = 17; }, "bad chunk length 17 at offset 0x10"},
        {"short chunk in the middle", [](Reports &r) { r[1][3] = 8; }, "after the short last chunk"},
        {"header only", [](Reports &r) { r[1].resize(3); }, "has no header"},
    };
    for (const Case &c : cases) {
        Row row(c.name);
        Wheel w = makeWheel(Model::Srd7);
        const std::string oldVersion = w.version();
        Reports reports = hostStream(makeTestImage(100, kNewVersion));
        c.damage(reports);
        sendAll(w, reports);
        CHECK_EQ(w.takeEvent(), Wheel::Event::Restart);
        CHECK(w.installedImage().empty());
        CHECK_EQ(query(w, 0x09), withText(hex("02"), oldVersion));
        const auto notes = w.takeNotes();
        CHECK(contains(notes, c.note));
        CHECK(contains(notes, "restarting with the old firmware"));

        // The host tries again from the start: that works.
        const Bytes image = makeTestImage(100, kNewVersion);
        sendAll(w, hostStream(image));
        CHECK_EQ(w.takeEvent(), Wheel::Event::Restart);
        CHECK_EQ(w.installedImage(), image);
        CHECK_EQ(w.version(), std::string(kNewVersion));
    }
}

void restartingStreamMidwayStartsOver()
{
    Wheel w = makeWheel(Model::Srd7);
    const auto first = hostStream(makeTestImage(400, "old try"));
    for (size_t i = 0; i < 10; ++i)
        CHECK(w.setFeature(first[i].data(), first[i].size()));
    const Bytes image = makeTestImage(200, kNewVersion);
    sendAll(w, hostStream(image));
    CHECK_EQ(w.takeEvent(), Wheel::Event::Restart);
    CHECK_EQ(w.installedImage(), image);
}

void rebootWithoutStream()
{
    struct Case
    {
        Model model;
        Wheel::Event event;
    };
    const Case cases[] = {
        {Model::Pelix, Wheel::Event::EnterBootLoader},
        {Model::Srd7, Wheel::Event::Restart},
        {Model::Ulmar, Wheel::Event::Restart},
    };
    for (const Case &c : cases) {
        Wheel w = makeWheel(c.model);
        Row row(w.info().code);
        const std::string oldVersion = w.version();
        send(w, hex("02 10"));
        CHECK_EQ(w.takeEvent(), c.event);
        CHECK_EQ(w.takeEvent(), Wheel::Event::None); // taken once
        CHECK_EQ(w.version(), oldVersion);
        CHECK(w.installedImage().empty());
    }
    // After a stream, even a PELIX restarts as itself.
    Wheel pelix = makeWheel(Model::Pelix);
    sendAll(pelix, hostStream(makeTestImage(64, kNewVersion)));
    CHECK_EQ(pelix.takeEvent(), Wheel::Event::Restart);
    // And the next plain Reboot goes to the boot loader again.
    send(pelix, hex("02 10"));
    CHECK_EQ(pelix.takeEvent(), Wheel::Event::EnterBootLoader);
}

void bootLoaderInstall()
{
    Wheel w = makeWheel(Model::Pelix);
    send(w, hex("02 0C 0A 96 00 00 00 00"));
    const Bytes image = makeTestImage(8192 * 3 + 5, kNewVersion);
    w.installImage(image);
    CHECK_EQ(w.installedImage(), image);
    CHECK_EQ(query(w, 0x09), withText(hex("02"), kNewVersion));
    CHECK_EQ(query(w, 0x0C, 0x0A), hex("02 0C 0A 64 00 00 00", 21)); // restarted

    // An image without a version keeps the version text.
    Bytes untagged(4096, 0x5A);
    w.installImage(untagged);
    CHECK_EQ(w.version(), std::string(kNewVersion));
    CHECK(contains(w.takeNotes(), "no version tag"));
}

void inputReports()
{
    struct Case
    {
        const char *name;
        std::function<void(Wheel &)> act;
        Bytes expected;
    };
    const Case cases[] = {
        {"idle", [](Wheel &) {}, hex("01", 17)},
        {"paddles", [](Wheel &w) { w.setPaddles(0x0123, 0x0FFF); }, hex("01 FF 0F 23 01", 17)},
        {"button 1", [](Wheel &w) { w.press(1); }, hex("01 00 00 00 00 01", 17)},
        {"button 8", [](Wheel &w) { w.press(8); }, hex("01 00 00 00 00 80", 17)},
        {"button 9", [](Wheel &w) { w.press(9); }, hex("01 00 00 00 00 00 01", 17)},
        {"buttons 49 and 50", [](Wheel &w) { w.press(49), w.press(50); },
         hex("01 00 00 00 00 00 00 00 00 00 00 03", 17)},
        {"button 64", [](Wheel &w) { w.press(64); }, hex("01 00 00 00 00 00 00 00 00 00 00 00 80", 17)},
        {"pressed and released", [](Wheel &w) { w.press(20), w.press(21), w.release(20); },
         hex("01 00 00 00 00 00 00 10", 17)},
        {"no button 0 or 65", [](Wheel &w) { w.press(0), w.press(65), w.press(-3); }, hex("01", 17)},
        {"everything",
         [](Wheel &w) {
             for (int b = 1; b <= 64; ++b)
                 w.press(b);
             w.setPaddles(4096, 1);
         },
         hex("01 01 00 00 10 FF FF FF FF FF FF FF FF 00 00 00 00")},
    };
    for (const Case &c : cases) {
        Row row(c.name);
        Wheel w = makeWheel(Model::Srd7);
        c.act(w);
        const auto report = w.inputReport();
        CHECK_EQ(Bytes(report.begin(), report.end()), c.expected);
    }
}

void stateFileRoundTrip()
{
    Wheel w = makeWheel(Model::Ulmar);
    sendAll(w, hostStream(makeTestImage(500, kNewVersion)));
    send(w, hex("02 0A 10 27 EF 34 12 78 56 01 00 02 00"));
    for (uint8_t item = 0x03; item <= 0x0A; ++item)
        send(w, Bytes{0x02, 0x0C, item, static_cast<uint8_t>(item * 3), 0x01, 0, 0x80, 0xEF});
    send(w, hex("02 11 EF 01 02 03 04 05 06"));
    for (uint8_t p = 0; p < 8; ++p)
        ledPage(w, p, Bytes(18, static_cast<uint8_t>(0x10 * p + 1)));
    send(w, hex("02 0E"));
    // Live-only changes are not in flash and must not reach the file.
    send(w, hex("02 0C 04 01 00 00 00 00"));
    ledPage(w, 3, Bytes(18, 0x00));
    w.powerCycle();
    const std::vector<Bytes> stored = allSettingReplies(w);
    send(w, hex("02 0C 04 01 00 00 00 00"));
    const std::string state = w.stateJson();

    Wheel loaded = makeWheel(Model::Ulmar);
    std::string error;
    CHECK(loaded.loadStateJson(state, &error));
    CHECK_EQ(error, std::string());
    CHECK_EQ(allSettingReplies(loaded), stored);
    CHECK_EQ(query(loaded, 0x09), withText(hex("02"), kNewVersion));
    CHECK_EQ(loaded.stateJson(), state);
}

void stateFileWrittenByHand()
{
    // Any subset of keys; the rest keeps the wheel's values.
    const std::string text = "{\n"
                             "  \"model\": \"SRD7\",\n"
                             "  \"encoderPulseWidth\": 10,\n"
                             "  \"shifterPulseWidth\": -1,\n"
                             "  \"ledPages\": [\n"
                             "    \"0102030405060708090a0b0c0d0e0f101112\",\n"
                             "    \"ffffffffffffffffffffffffffffffffffff\",\n"
                             "    \"FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF\",\n"
                             "    \"000000000000000000000000000000000000\"\n"
                             "  ],\n"
                             "  \"firmwareVersion\": \"9\\tDec 31 2023,23:59\"\n"
                             "}\n";
    Wheel w = makeWheel(Model::Srd7);
    const Bytes paddles = query(w, 0x0A);
    std::string error;
    CHECK(w.loadStateJson(text, &error));
    CHECK_EQ(error, std::string());
    CHECK_EQ(query(w, 0x0C, 0x04), hex("02 0C 04 0A 00 00 00", 21));
    CHECK_EQ(query(w, 0x0C, 0x0A), hex("02 0C 0A FF FF FF FF", 21));
    CHECK_EQ(query(w, 0x00), hex("02 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 00"));
    CHECK_EQ(query(w, 0x03), hex("02 03", 21));
    CHECK_EQ(query(w, 0x0A), paddles);
    CHECK_EQ(query(w, 0x09), withText(hex("02"), "9\tDec 31 2023,23:59"));
    // What was loaded is flash: it survives a power cycle.
    w.powerCycle();
    CHECK_EQ(query(w, 0x0C, 0x04), hex("02 0C 04 0A 00 00 00", 21));
}

void badStateFilesAreRefused()
{
    struct Case
    {
        const char *name;
        const char *text;
        const char *error;
    };
    const Case cases[] = {
        {"empty", "", "line 1, column 1: unexpected end of input"},
        {"not an object", "[1, 2]", "the state must be a JSON object"},
        {"out of range", "{\"biteWord\": 70000}", "\"biteWord\" must be an integer from 0 to 65535"},
        {"fraction", "{\"leftMin\": 1.5}", "\"leftMin\" must be an integer from 0 to 65535"},
        {"negative enable", "{\"clutchesEnabled\": -1}", "\"clutchesEnabled\" must be an integer from 0 to"},
        {"string for a number", "{\"rightMax\": \"4095\"}", "\"rightMax\" must be an integer"},
        {"unknown key", "{\"bitWord\": 1}", "line 1, column 13: unknown key \"bitWord\""},
        {"other model", "{\"model\": \"ULMAR\"}", "the state is for model ULMAR, this wheel is SRD7"},
        {"too few pages", "{\"ledPages\": [\"ff\"]}", "\"ledPages\" must be an array of 4 pages for SRD7"},
        {"bad hex", "{\"extraLeds\": \"ffffffffffzz\"}", "\"extraLeds\" must be a string of 12 hex digits"},
        {"short hex", "{\"extraLeds\": \"fffff\"}", "\"extraLeds\" must be a string of 12 hex digits"},
        {"three thresholds", "{\"shifterThresholds\": [1, 2, 3]}", "must be an array of 4 integers"},
        {"empty version", "{\"firmwareVersion\": \"\"}",
         "\"firmwareVersion\" must be a string of 1 to 64 bytes"},
        {"trailing comma", "{\"biteWord\": 1,}", "line 1, column 16: expected a key in double quotes"},
        {"missing comma", "{\n  \"biteWord\": 5000\n  \"leftMin\": 0\n}",
         "line 3, column 3: expected ',' or '}'"},
        {"duplicate key", "{\"leftMin\": 1, \"leftMin\": 2}", "key \"leftMin\" appears twice"},
        {"raw tab in a string", "{\"firmwareVersion\": \"1\tx\"}", "control character in a string"},
        {"unclosed string", "{\"model\": \"SRD7", "string not closed"},
        {"text after the object", "{} {}", "unexpected text after the document"},
        {"bad escape", "{\"model\": \"\\q\"}", "unknown escape"},
    };
    for (const Case &c : cases) {
        Row row(c.name);
        Wheel w = makeWheel(Model::Srd7);
        send(w, hex("02 0C 04 96 00 00 00 EF"));
        const std::string before = w.stateJson();
        std::string error;
        CHECK(!w.loadStateJson(c.text, &error));
        if (error.find(c.error) == std::string::npos)
            fail("error " + show(error) + " lacks " + show(std::string(c.error)), __FILE__, __LINE__);
        CHECK_EQ(w.stateJson(), before);
        CHECK_EQ(query(w, 0x0C, 0x04), hex("02 0C 04 96 00 00 00", 21));
    }
}

void testImagesPassTheFlasherChecks()
{
    auto u32 = [](const Bytes &b, size_t at) {
        return static_cast<uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 |
                                     static_cast<uint32_t>(b[at + 3]) << 24);
    };
    struct Case
    {
        size_t size;
        bool carriesVersion;
    };
    const Case cases[] = {{0, false},    {7, false},    {8, false},     {9, false},    {40, true},
                          {0x200, true}, {0x240, true}, {229376, true}, {229377, true}};
    for (const Case &c : cases) {
        Row row("size " + std::to_string(c.size));
        const Bytes image = makeTestImage(c.size, kNewVersion);
        CHECK_EQ(image.size(), c.size);
        CHECK_EQ(versionInImage(image), std::string(c.carriesVersion ? kNewVersion : ""));
        if (c.size < 8)
            continue;
        const uint32_t sp = u32(image, 0), reset = u32(image, 4);
        CHECK(sp - 0x20000000u <= 0xC0000u);
        CHECK(reset >= 0x08000000u && reset < 0x08000000u + c.size);
        CHECK(reset & 1u);
    }
    // Same size, other version: other bytes all over, not just in the tag.
    const Bytes a = makeTestImage(4096, "1\tJan  1 2024,00:00"),
                b = makeTestImage(4096, "2\tJan  1 2024,00:00");
    size_t differing = 0;
    for (size_t i = 0x300; i < a.size(); ++i)
        differing += a[i] != b[i];
    CHECK(differing > 3000);
}

void versionTags()
{
    auto image = [](const std::string &s) {
        return Bytes(s.begin(), s.end());
    };
    struct Case
    {
        const char *name;
        Bytes image;
        std::string version;
    };
    const Case cases[] = {
        {"tag in the middle", image(std::string("\x01\x02QVER:7\tMay  1 2024,10:00\0zz", 29)),
         "7\tMay  1 2024,10:00"},
        {"first tag counts", image(std::string("QVER:a\0QVER:b\0", 14)), "a"},
        {"no terminator", image("xxQVER:1.0"), ""},
        {"no tag", image(std::string("QVE:1\0", 6)), ""},
        {"text too long", image("QVER:" + std::string(65, 'x') + std::string(1, '\0')), ""},
        {"longest text", image("QVER:" + std::string(64, 'x') + std::string(1, '\0')), std::string(64, 'x')},
    };
    for (const Case &c : cases) {
        Row row(c.name);
        CHECK_EQ(Wheel::versionInImage(c.image), c.version);
    }
}

void modelTable()
{
    struct Case
    {
        const char *code;
        uint16_t pid;
        int pages;
    };
    const Case cases[] = {{"H-ZET", 0x2007, 4}, {"VLN6", 0x2008, 4},   {"H-MIRA", 0x2009, 4},
                          {"OV410", 0x200A, 4}, {"KLINO4", 0x200B, 4}, {"ULMAR", 0x200C, 8},
                          {"SRD7", 0x200D, 4},  {"PELIX", 0x2010, 4}};
    CHECK_EQ(allModels().size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        Row row(cases[i].code);
        const ModelInfo *m = findModel(cases[i].code);
        CHECK(m == &allModels()[i]); // the host's table order
        if (!m)
            continue;
        CHECK_EQ(m->productId, cases[i].pid);
        CHECK_EQ(m->ledPages, cases[i].pages);
        // The host finds the model by its code inside the name it reads.
        Wheel w = makeWheel(m->model);
        const Bytes reply = query(w, 0x0D);
        CHECK_EQ(reply[1], uint8_t{0x0D});
        const std::string name(reinterpret_cast<const char *>(&reply[2]));
        CHECK(name.find(m->code) != std::string::npos);
    }
    CHECK(findModel("h-zet") == nullptr);
    CHECK(findModel("SRD") == nullptr);
}

struct Test
{
    const char *name;
    void (*run)();
};

const Test kTests[] = {
    {"recordsAreByteExact", recordsAreByteExact},
    {"queryAnswersTheLastRequest", queryAnswersTheLastRequest},
    {"unknownReportIdsAreRefused", unknownReportIdsAreRefused},
    {"liveAndSavedWrites", liveAndSavedWrites},
    {"liveWriteAfterSaveLeavesFlashAlone", liveWriteAfterSaveLeavesFlashAlone},
    {"thresholdCalibrationUsesTheHeldPaddle", thresholdCalibrationUsesTheHeldPaddle},
    {"clearFlashRestoresDefaults", clearFlashRestoresDefaults},
    {"ledPagesAreLiveUntilCommitted", ledPagesAreLiveUntilCommitted},
    {"ledPageReportsOutOfPlace", ledPageReportsOutOfPlace},
    {"firmwareStreamInstallsTheImage", firmwareStreamInstallsTheImage},
    {"statusPollBetweenDataReportsDoesNoHarm", statusPollBetweenDataReportsDoesNoHarm},
    {"brokenStreamsAreNotInstalled", brokenStreamsAreNotInstalled},
    {"restartingStreamMidwayStartsOver", restartingStreamMidwayStartsOver},
    {"rebootWithoutStream", rebootWithoutStream},
    {"bootLoaderInstall", bootLoaderInstall},
    {"inputReports", inputReports},
    {"stateFileRoundTrip", stateFileRoundTrip},
    {"stateFileWrittenByHand", stateFileWrittenByHand},
    {"badStateFilesAreRefused", badStateFilesAreRefused},
    {"testImagesPassTheFlasherChecks", testImagesPassTheFlasherChecks},
    {"versionTags", versionTags},
    {"modelTable", modelTable},
};
} // namespace

// Runs every test, or only those named on the command line.
int main(int argc, char **argv)
{
    int run = 0;
    for (const Test &t : kTests) {
        bool wanted = argc < 2;
        for (int i = 1; i < argc; ++i)
            wanted = wanted || std::strcmp(argv[i], t.name) == 0;
        if (!wanted)
            continue;
        g_test = t.name;
        const int before = g_failures;
        t.run();
        std::printf("%s %s\n", g_failures == before ? "PASS" : "FAIL", t.name);
        ++run;
    }
    std::printf("%d tests, %d failed checks\n", run, g_failures);
    return g_failures == 0 && run > 0 ? 0 : 1;
}
