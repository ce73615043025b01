#include "device/command_report.h"

#include <algorithm>
#include <cstring>

namespace {

// Field positions inside the 21-byte buffer.
constexpr std::size_t kCodeByte = 1;

constexpr std::size_t kQueryRecordByte = 2;
constexpr std::size_t kQueryItemByte = 3;

constexpr std::size_t kSetItemCodeByte = 2;
constexpr std::size_t kSetItemValueByte = 3;
constexpr std::size_t kSetItemMarkerByte = 7;

constexpr std::size_t kBiteWordByte = 2;
constexpr std::size_t kPaddleMarkerByte = 4;
constexpr std::size_t kRightMaxByte = 5;
constexpr std::size_t kLeftMaxByte = 7;
constexpr std::size_t kRightMinByte = 9;
constexpr std::size_t kLeftMinByte = 11;

constexpr std::size_t kExtraLedMarkerByte = 2;
constexpr std::size_t kExtraLedFlagByte = 2;
constexpr std::size_t kExtraLeftByte = 3;
constexpr std::size_t kExtraRightByte = 6;

constexpr std::size_t kFirmwareOffsetByte = 2;
constexpr std::size_t kFirmwareLengthByte = 3;
constexpr std::size_t kFirmwareDataByte = 4;

constexpr std::size_t kVersionTextByte = 1;
constexpr std::size_t kModelNameTextByte = 2;
constexpr uint8_t kModelNameEcho = static_cast<uint8_t>(Record::ModelNameRecord);

constexpr std::size_t kItemValueByte = 3;
constexpr std::size_t kLedLevelsByte = 2;

constexpr std::size_t kPercentageByte = 2;
constexpr std::size_t kLevelWordByte = 3;
constexpr std::size_t kLinkByte = 5;

constexpr std::size_t kLedPageIndexByte = 1;
constexpr std::size_t kLedPageLevelsByte = 2;

CommandReport blankReport(Command command)
{
    CommandReport report{};
    report[0] = kCommandReportId;
    report[kCodeByte] = static_cast<uint8_t>(command);
    return report;
}

void putU16(CommandReport &buffer, std::size_t at, uint16_t value)
{
    buffer[at] = static_cast<uint8_t>(value);
    buffer[at + 1] = static_cast<uint8_t>(value >> 8);
}

void putU32(CommandReport &buffer, std::size_t at, uint32_t value)
{
    for (std::size_t i = 0; i < 4; ++i)
        buffer[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

void putRgb(CommandReport &buffer, std::size_t at, Rgb colour)
{
    buffer[at] = colour.red;
    buffer[at + 1] = colour.green;
    buffer[at + 2] = colour.blue;
}

uint16_t getU16(const CommandReport &buffer, std::size_t at)
{
    return static_cast<uint16_t>(buffer[at] | (buffer[at + 1] << 8));
}

uint32_t getU32(const CommandReport &buffer, std::size_t at)
{
    uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value |= static_cast<uint32_t>(buffer[at + i]) << (8 * i);
    return value;
}

Rgb getRgb(const CommandReport &buffer, std::size_t at)
{
    return Rgb{buffer[at], buffer[at + 1], buffer[at + 2]};
}

uint8_t marker(bool save)
{
    return save ? SaveMarker : 0x00;
}

// Text from `from` up to the first 0x00, never past the end of the reply.
QString textFrom(const CommandReport &reply, std::size_t from)
{
    const auto begin = reply.begin() + static_cast<std::ptrdiff_t>(from);
    const auto end = std::find(begin, reply.end(), uint8_t{0});
    return QString::fromUtf8(reinterpret_cast<const char *>(&*begin), static_cast<qsizetype>(end - begin));
}

} // namespace

CommandReport makeQuery(Record record, uint8_t item)
{
    CommandReport report = blankReport(Command::Query);
    report[kQueryRecordByte] = static_cast<uint8_t>(record);
    report[kQueryItemByte] = item;
    return report;
}

CommandReport makeItemQuery(Item item)
{
    return makeQuery(Record::ItemRecord, static_cast<uint8_t>(item));
}

CommandReport makeLedPageQuery(int page)
{
    return makeQuery(static_cast<Record>(static_cast<uint8_t>(Record::LedPageRecord) + page));
}

void writeSetItem(CommandReport &buffer, Item item, uint32_t value, bool save)
{
    buffer[0] = kCommandReportId;
    buffer[kCodeByte] = static_cast<uint8_t>(Command::SetItem);
    buffer[kSetItemCodeByte] = static_cast<uint8_t>(item);
    putU32(buffer, kSetItemValueByte, value);
    buffer[kSetItemMarkerByte] = marker(save);
}

CommandReport makeSetItem(Item item, uint32_t value, bool save)
{
    CommandReport report{};
    writeSetItem(report, item, value, save);
    return report;
}

CommandReport makeWritePaddleConfig(const PaddleConfig &config, bool save)
{
    CommandReport report = blankReport(Command::WritePaddleConfig);
    putU16(report, kBiteWordByte, config.biteWord);
    report[kPaddleMarkerByte] = marker(save);
    putU16(report, kRightMaxByte, config.rightMax);
    putU16(report, kLeftMaxByte, config.leftMax);
    putU16(report, kRightMinByte, config.rightMin);
    putU16(report, kLeftMinByte, config.leftMin);
    return report;
}

CommandReport makeCommitLedColours()
{
    return blankReport(Command::CommitLedColours);
}

CommandReport makeReboot()
{
    return blankReport(Command::Reboot);
}

void writeReboot(CommandReport &buffer)
{
    buffer[0] = kCommandReportId;
    buffer[kCodeByte] = static_cast<uint8_t>(Command::Reboot);
}

CommandReport makeSetExtraLedColours(bool save, Rgb left, Rgb right)
{
    CommandReport report = blankReport(Command::SetExtraLedColours);
    report[kExtraLedMarkerByte] = marker(save);
    putRgb(report, kExtraLeftByte, left);
    putRgb(report, kExtraRightByte, right);
    return report;
}

LedPageReport makeLedPageReport(uint8_t page, const LedPageLevels &levels)
{
    LedPageReport report{};
    report[0] = kLedPageReportId;
    report[kLedPageIndexByte] = page;
    std::copy(levels.begin(), levels.end(), report.begin() + kLedPageLevelsByte);
    return report;
}

uint8_t firmwareDataCode(std::size_t offset)
{
    return static_cast<uint8_t>(static_cast<uint8_t>(Command::FirmwareDataReport) | ((offset >> 12) & 0xFF));
}

std::size_t writeFirmwareDataReport(CommandReport &buffer, const uint8_t *image, std::size_t imageSize,
                                    std::size_t offset)
{
    if (offset >= imageSize)
        return 0;
    const std::size_t length = std::min(kFirmwareChunkSize, imageSize - offset);
    buffer[0] = kCommandReportId;
    buffer[kCodeByte] = firmwareDataCode(offset);
    buffer[kFirmwareOffsetByte] = static_cast<uint8_t>((offset >> 4) & 0xFF);
    buffer[kFirmwareLengthByte] = static_cast<uint8_t>(length);
    std::memcpy(buffer.data() + kFirmwareDataByte, image + offset, length);
    return length;
}

std::optional<QString> parseModelName(const CommandReport &reply)
{
    if (reply[kCodeByte] != kModelNameEcho)
        return std::nullopt;
    return textFrom(reply, kModelNameTextByte);
}

QString parseFirmwareVersion(const CommandReport &reply)
{
    return textFrom(reply, kVersionTextByte);
}

PaddleConfig parsePaddleConfig(const CommandReport &reply)
{
    PaddleConfig config;
    config.biteWord = getU16(reply, kBiteWordByte);
    config.rightMax = getU16(reply, kRightMaxByte);
    config.leftMax = getU16(reply, kLeftMaxByte);
    config.rightMin = getU16(reply, kRightMinByte);
    config.leftMin = getU16(reply, kLeftMinByte);
    return config;
}

uint32_t parseItemValue(const CommandReport &reply)
{
    return getU32(reply, kItemValueByte);
}

int32_t parseSignedItemValue(const CommandReport &reply)
{
    return static_cast<int32_t>(parseItemValue(reply));
}

LedPageLevels parseLedPage(const CommandReport &reply)
{
    LedPageLevels levels{};
    std::copy_n(reply.begin() + kLedLevelsByte, levels.size(), levels.begin());
    return levels;
}

PowerStatus parsePowerStatus(const CommandReport &reply)
{
    PowerStatus status;
    status.percentage = reply[kPercentageByte];
    status.levelWord = getU16(reply, kLevelWordByte);
    status.link = reply[kLinkByte];
    return status;
}

ExtraLeds parseExtraLedRecord(const CommandReport &reply)
{
    ExtraLeds leds;
    leds.flag = reply[kExtraLedFlagByte];
    leds.left = getRgb(reply, kExtraLeftByte);
    leds.right = getRgb(reply, kExtraRightByte);
    return leds;
}

uint16_t encodeBiteWord(BitePaddle paddle, int point)
{
    const int clamped = std::clamp(point, 0, kBitePointMax);
    switch (paddle) {
    case BitePaddle::Left:
        return static_cast<uint16_t>(clamped);
    case BitePaddle::Right:
        return static_cast<uint16_t>(kRightBiteWordBase + clamped);
    case BitePaddle::None:
        break;
    }
    return kNoBiteWord;
}

BitePoint decodeBiteWord(uint16_t word)
{
    if (word <= kBitePointMax)
        return {BitePaddle::Left, word};
    if (word <= kRightBiteWordBase + kBitePointMax)
        return {BitePaddle::Right, word - kRightBiteWordBase};
    return {BitePaddle::None, kDefaultBitePoint};
}
