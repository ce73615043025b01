#pragma once

#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

// The command reports exchanged with the wheel over HID feature report 0x02,
// and the LED page output report 0x03. Everything here works on plain byte
// buffers: the exchange itself (send 20 bytes, read 21 back into the same
// buffer) is the device handle's business.
//
// The wheel never acknowledges anything and the host never checks a query's
// read: after a failed read the buffer still holds the request, and the
// parsers below read those bytes as the reply. That is the behaviour the rest
// of the program relies on (a failed ClutchesEnabled read gives 8, which is
// "not enabled"), so the parsers deliberately accept any buffer.

// Report id, command code, 18 field bytes; the reply adds byte 20.
using CommandReport = std::array<uint8_t, 21>;

constexpr uint8_t kCommandReportId = 0x02;
// Bytes handed to hid_send_feature_report / read by hid_get_feature_report.
constexpr std::size_t kCommandSendLength = 20;
constexpr std::size_t kCommandReplyLength = 21;

// A write carrying this byte in its marker position is also stored in the
// wheel's flash; with 0x00 there it is only a live value.
constexpr uint8_t SaveMarker = 0xEF;

enum class Command : uint8_t
{
    WritePaddleConfig = 0x0A,
    Query = 0x0B,
    SetItem = 0x0C,
    CommitLedColours = 0x0E,
    Reboot = 0x10,
    SetExtraLedColours = 0x11,
    // Base of the codes 0x80..0xFF; the low seven bits carry offset bits.
    FirmwareDataReport = 0x80,
};

// Record codes of Query (request byte 2).
enum class Record : uint8_t
{
    LedPageRecord = 0x00, // pages 0..7 are records 0x00..0x07
    FirmwareVersionRecord = 0x09,
    PaddleConfig = 0x0A,
    ItemRecord = 0x0C,
    ModelNameRecord = 0x0D,
    PowerStatusRecord = 0x0F,
    ExtraLedRecord = 0x11,
};

// Item codes of SetItem (request byte 2) and of Query ItemRecord (byte 3).
enum class Item : uint8_t
{
    LeftShifterThreshold = 0x03,
    EncoderPulseWidth = 0x04,
    RightShifterThreshold = 0x05,
    ExtraLeftShifterThreshold = 0x06,
    ExtraRightShifterThreshold = 0x07,
    ClutchesEnabled = 0x08,
    ExtraShiftersEnabled = 0x09,
    ShifterPulseWidth = 0x0A,
    ClearFlash = 0x10,
};

// Values of the on/off items (ClutchesEnabled, ExtraShiftersEnabled).
constexpr uint32_t kItemEnabled = 0x00000001;
constexpr uint32_t kItemDisabled = 0x000000FF;
// Shifter threshold items: start calibration, then finish it (with the marker).
constexpr uint32_t kThresholdCalibrationStart = 0x00000000;
constexpr uint32_t kThresholdCalibrationFinish = 0xFFFFFFFF;

inline uint32_t enabledItemValue(bool enabled)
{
    return enabled ? kItemEnabled : kItemDisabled;
}
// Only exactly 1 counts as enabled; anything else (0xFF, a failed read's 8) is off.
inline bool isItemEnabled(uint32_t value)
{
    return value == kItemEnabled;
}

// Clutch paddle setup as carried by WritePaddleConfig and the PaddleConfig record.
struct PaddleConfig
{
    uint16_t biteWord = 0;
    uint16_t rightMax = 0;
    uint16_t leftMax = 0;
    uint16_t rightMin = 0;
    uint16_t leftMin = 0;

    bool operator==(const PaddleConfig &o) const
    {
        return biteWord == o.biteWord && rightMax == o.rightMax && leftMax == o.leftMax &&
               rightMin == o.rightMin && leftMin == o.leftMin;
    }
};

struct Rgb
{
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;

    bool operator==(const Rgb &o) const { return red == o.red && green == o.green && blue == o.blue; }
};

// Packed colour levels of one LED page.
using LedPageLevels = std::array<uint8_t, 18>;
constexpr int kLedPageCount = 8;

// --- Requests. Each make* returns a zero-filled buffer with the request set.

CommandReport makeQuery(Record record, uint8_t item = 0);
CommandReport makeItemQuery(Item item);
CommandReport makeLedPageQuery(int page);

CommandReport makeSetItem(Item item, uint32_t value, bool save);
// Sets bytes 0..7 of a SetItem and leaves bytes 8..19 as they are; the paddles
// page writes the enable items into the buffer that has just received their
// query reply, so the wheel sees the reply's tail behind the request.
void writeSetItem(CommandReport &buffer, Item item, uint32_t value, bool save);

CommandReport makeWritePaddleConfig(const PaddleConfig &config, bool save);
CommandReport makeCommitLedColours();
CommandReport makeReboot();
// Turns the buffer of the last FirmwareDataReport into the Reboot that ends the
// stream: only bytes 0 and 1 change, the fields keep the last chunk's header.
void writeReboot(CommandReport &buffer);
// left is the LED behind pbXL, right the one behind pbXR.
CommandReport makeSetExtraLedColours(bool save, Rgb left, Rgb right);

// The LED page output report (report id 0x03, written with hid_write).
using LedPageReport = std::array<uint8_t, 20>;
constexpr uint8_t kLedPageReportId = 0x03;
LedPageReport makeLedPageReport(uint8_t page, const LedPageLevels &levels);

// --- Firmware streaming over HID.

constexpr std::size_t kFirmwareChunkSize = 16;
// Byte 1 of the report for a chunk at this offset. At 512 KiB and above
// (offset >> 12) reaches 0x80 and is folded into the marker bit by the OR.
uint8_t firmwareDataCode(std::size_t offset);
// Writes the chunk of `image` at `offset` (a multiple of 16) into `buffer`,
// which the caller keeps from one chunk to the next: a short last chunk only
// overwrites its own bytes, the rest still holds the previous chunk. Returns
// the chunk length (1..16), or 0 without touching the buffer when offset is at
// or past the end of the image.
std::size_t writeFirmwareDataReport(CommandReport &buffer, const uint8_t *image, std::size_t imageSize,
                                    std::size_t offset);

// --- Replies.

// The wheel's name, only when byte 1 echoes 0x0D; text from byte 2 to the
// first 0x00 or the end of the reply.
std::optional<QString> parseModelName(const CommandReport &reply);
// Text from byte 1 to the first 0x00 or the end of the reply; empty when
// byte 1 is 0. A trailing ':' is left for the caller to strip.
QString parseFirmwareVersion(const CommandReport &reply);
PaddleConfig parsePaddleConfig(const CommandReport &reply);
uint32_t parseItemValue(const CommandReport &reply);
// The pulse-width items are signed: a negative value means nothing is stored.
int32_t parseSignedItemValue(const CommandReport &reply);
LedPageLevels parseLedPage(const CommandReport &reply);

struct PowerStatus
{
    uint8_t percentage = 0;
    uint16_t levelWord = 0;
    uint8_t link = 0;
};
// From this level word up the wheel runs on external power.
constexpr uint16_t kExternalPowerLevel = 4300;
constexpr uint8_t kLinkBluetooth = 0;
constexpr uint8_t kLinkUsb = 1;
PowerStatus parsePowerStatus(const CommandReport &reply);

struct ExtraLeds
{
    uint8_t flag = 0;
    Rgb left;
    Rgb right;

    // Only the value 1 says the wheel has the two extra LEDs.
    bool present() const { return flag == 1; }
};
ExtraLeds parseExtraLedRecord(const CommandReport &reply);

// --- biteWord: which clutch paddle carries the bite point, and where.

enum class BitePaddle
{
    Left,
    Right,
    None,
};

struct BitePoint
{
    BitePaddle paddle = BitePaddle::None;
    // Hundredths of a percent, 0..10000.
    int point = 0;

    bool operator==(const BitePoint &o) const { return paddle == o.paddle && point == o.point; }
};

constexpr int kBitePointMax = 10000;
constexpr uint16_t kRightBiteWordBase = 10001;
constexpr uint16_t kNoBiteWord = 0xFFFF;
// Where the slider goes when the word names no paddle.
constexpr int kDefaultBitePoint = 5000;

// The point is clamped into 0..10000 so that a left value can never be read
// back as a right one.
uint16_t encodeBiteWord(BitePaddle paddle, int point);
// 0..10000 left, 10001..20001 right; any larger word (0xFFFF among them)
// means no paddle, with the point at its default.
BitePoint decodeBiteWord(uint16_t word);
