// Replies to command-report queries are whatever the wheel (or a failed read)
// leaves in the 21-byte buffer. Every parser runs on the same arbitrary
// buffer; where a request builder writes the same layout, the parsed value
// must survive the trip back through it.

#include "device/command_report.h"
#include "device/device_status.h"

#include "fuzz_check.h"

namespace {

uint16_t le16(const CommandReport &r, std::size_t at)
{
    return static_cast<uint16_t>(r[at] | r[at + 1] << 8);
}

void checkText(const CommandReport &reply, std::size_t first, const QString &text)
{
    FUZZ_CHECK(!text.contains(QChar(0)));
    // Plain ASCII up to the first 0x00 comes through byte for byte.
    const char *from = reinterpret_cast<const char *>(reply.data() + first);
    const QByteArray raw(from, qsizetype(qstrnlen(from, uint(reply.size() - first))));
    if (std::all_of(raw.begin(), raw.end(), [](char c) { return uint8_t(c) < 0x80; }))
        FUZZ_CHECK(text == QString::fromLatin1(raw));
    FUZZ_CHECK(text.isEmpty() == raw.isEmpty());
}

void checkNames(const CommandReport &reply)
{
    const std::optional<QString> name = parseModelName(reply);
    FUZZ_CHECK(name.has_value() == (reply[1] == 0x0D));
    if (name)
        checkText(reply, 2, *name);

    const QString version = parseFirmwareVersion(reply);
    checkText(reply, 1, version);
    const QString shown = displayedVersion(version);
    FUZZ_CHECK(shown == (version.endsWith(QLatin1Char(':')) ? version.chopped(1) : version));
    FUZZ_CHECK(firmwareVersionLabel(shown) == QStringLiteral("Firmware Version: ") + shown);
}

void checkPaddles(const CommandReport &reply, bool save)
{
    const PaddleConfig config = parsePaddleConfig(reply);
    FUZZ_CHECK(config.biteWord == le16(reply, 2) && config.rightMax == le16(reply, 5) &&
               config.leftMax == le16(reply, 7) && config.rightMin == le16(reply, 9) &&
               config.leftMin == le16(reply, 11));
    const CommandReport write = makeWritePaddleConfig(config, save);
    FUZZ_CHECK(parsePaddleConfig(write) == config);
    FUZZ_CHECK(write[4] == (save ? SaveMarker : 0));

    const BitePoint bite = decodeBiteWord(config.biteWord);
    FUZZ_CHECK(bite.point >= 0 && bite.point <= kBitePointMax);
    if (config.biteWord <= kRightBiteWordBase + kBitePointMax) {
        FUZZ_CHECK(bite.paddle == (config.biteWord <= kBitePointMax ? BitePaddle::Left : BitePaddle::Right));
        FUZZ_CHECK(encodeBiteWord(bite.paddle, bite.point) == config.biteWord);
    } else {
        FUZZ_CHECK(bite == (BitePoint{BitePaddle::None, kDefaultBitePoint}));
        FUZZ_CHECK(encodeBiteWord(bite.paddle, bite.point) == kNoBiteWord);
    }
}

void checkItems(const CommandReport &reply, bool save)
{
    const uint32_t value = parseItemValue(reply);
    FUZZ_CHECK(value == (le16(reply, 3) | uint32_t(le16(reply, 5)) << 16));
    FUZZ_CHECK(parseSignedItemValue(reply) == static_cast<int32_t>(value));
    const CommandReport write = makeSetItem(static_cast<Item>(reply[2]), value, save);
    FUZZ_CHECK(parseItemValue(write) == value && write[2] == reply[2]);
    FUZZ_CHECK(write[7] == (save ? SaveMarker : 0));
    FUZZ_CHECK(isItemEnabled(value) == (value == kItemEnabled));
}

void checkPower(const CommandReport &reply)
{
    const PowerStatus status = parsePowerStatus(reply);
    FUZZ_CHECK(status.percentage == reply[2] && status.levelWord == le16(reply, 3) &&
               status.link == reply[5]);
    const QString text = batteryStatusText(status);
    FUZZ_CHECK(text.startsWith(QStringLiteral("BATTERY STATUS: ")));
    const bool usb = status.link == kLinkUsb || status.levelWord >= kExternalPowerLevel;
    FUZZ_CHECK(text.endsWith(usb ? QStringLiteral("USB") : QString::number(status.percentage) + '%'));
    FUZZ_CHECK(bluetoothShown(status) == (status.link == kLinkBluetooth));
}

void checkLeds(const CommandReport &reply, bool save)
{
    const LedPageLevels levels = parseLedPage(reply);
    FUZZ_CHECK(std::equal(levels.begin(), levels.end(), reply.begin() + 2));
    const LedPageReport out = makeLedPageReport(reply[1], levels);
    FUZZ_CHECK(out[0] == kLedPageReportId && out[1] == reply[1]);
    FUZZ_CHECK(std::equal(levels.begin(), levels.end(), out.begin() + 2));

    const ExtraLeds extra = parseExtraLedRecord(reply);
    FUZZ_CHECK(extra.present() == (reply[2] == 1));
    FUZZ_CHECK((extra.left == Rgb{reply[3], reply[4], reply[5]}));
    FUZZ_CHECK((extra.right == Rgb{reply[6], reply[7], reply[8]}));
    // The write puts the colours where the record has them; its marker sits
    // in the flag's place and never reads as "present".
    const ExtraLeds back = parseExtraLedRecord(makeSetExtraLedColours(save, extra.left, extra.right));
    FUZZ_CHECK(back.left == extra.left && back.right == extra.right && !back.present());
}

// The image of a HID firmware stream is a file from the user or the server.
void checkFirmwareChunk(fuzz::Input &in, CommandReport buffer)
{
    const std::size_t offset = std::size_t(in.u16()) * kFirmwareChunkSize;
    const QByteArray image = in.rest();
    const auto *data = reinterpret_cast<const uint8_t *>(image.constData());
    const std::size_t size = static_cast<std::size_t>(image.size());
    const CommandReport before = buffer;
    const std::size_t n = writeFirmwareDataReport(buffer, data, size, offset);
    if (offset >= size) {
        FUZZ_CHECK(n == 0 && buffer == before);
        return;
    }
    FUZZ_CHECK(n == std::min(kFirmwareChunkSize, size - offset));
    FUZZ_CHECK(buffer[0] == kCommandReportId && buffer[1] == firmwareDataCode(offset));
    FUZZ_CHECK(buffer[1] >= 0x80 && buffer[2] == uint8_t(offset >> 4) && buffer[3] == n);
    FUZZ_CHECK(std::memcmp(buffer.data() + 4, data + offset, n) == 0);
    FUZZ_CHECK(std::equal(buffer.begin() + 4 + n, buffer.end(), before.begin() + 4 + n));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    fuzz::Input in(data, size);
    CommandReport reply{};
    for (uint8_t &b : reply)
        b = in.byte();
    const bool save = reply[20] & 1;

    checkNames(reply);
    checkPaddles(reply, save);
    checkItems(reply, save);
    checkPower(reply);
    checkLeds(reply, save);

    // Any bite point the slider or the encoder binding may produce.
    const int point = static_cast<int32_t>(in.u32());
    for (BitePaddle paddle : {BitePaddle::Left, BitePaddle::Right}) {
        const BitePoint back = decodeBiteWord(encodeBiteWord(paddle, point));
        FUZZ_CHECK(back.paddle == paddle && back.point == std::clamp(point, 0, kBitePointMax));
    }
    checkFirmwareChunk(in, reply);
    return 0;
}
