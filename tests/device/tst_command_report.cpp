#include "device/command_report.h"

#include <QtTest>

#include <optional>
#include <vector>

Q_DECLARE_METATYPE(BitePaddle)

namespace {

template<std::size_t N> QByteArray bytes(const std::array<uint8_t, N> &buffer)
{
    return QByteArray(reinterpret_cast<const char *>(buffer.data()), static_cast<qsizetype>(N));
}

// Expected wire bytes: the given hex, zero-padded to the buffer size.
QByteArray wire(const char *hex, qsizetype size = 21)
{
    QByteArray out = QByteArray::fromHex(hex);
    out.append(QByteArray(size - out.size(), '\0'));
    return out;
}

CommandReport reply(const QByteArray &data)
{
    CommandReport buffer{};
    std::copy_n(data.constBegin(), std::min<qsizetype>(data.size(), 21), buffer.begin());
    return buffer;
}

} // namespace

class TestCommandReport : public QObject
{
    Q_OBJECT

private slots:
    void builders_data();
    void builders();
    void setItemOverReplyKeepsTail();
    void rebootAfterStreamKeepsFields();
    void firmwareStreamOfShortImage();
    void firmwareHeaders_data();
    void firmwareHeaders();
    void firmwareOffsetPastEnd();
    void modelName_data();
    void modelName();
    void firmwareVersion_data();
    void firmwareVersion();
    void paddleConfig_data();
    void paddleConfig();
    void paddleConfigReadsTheWriteLayout();
    void itemValue_data();
    void itemValue();
    void powerStatus_data();
    void powerStatus();
    void extraLeds_data();
    void extraLeds();
    void ledPage_data();
    void ledPage();
    void decodeBiteWord_data();
    void decodeBiteWord();
    void encodeBiteWord_data();
    void encodeBiteWord();
};

void TestCommandReport::builders_data()
{
    QTest::addColumn<QByteArray>("actual");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("query model name") << bytes(makeQuery(Record::ModelNameRecord)) << wire("020b0d");
    QTest::newRow("query version") << bytes(makeQuery(Record::FirmwareVersionRecord)) << wire("020b09");
    QTest::newRow("query paddle config") << bytes(makeQuery(Record::PaddleConfig)) << wire("020b0a");
    QTest::newRow("query power status") << bytes(makeQuery(Record::PowerStatusRecord)) << wire("020b0f");
    QTest::newRow("query extra leds") << bytes(makeQuery(Record::ExtraLedRecord)) << wire("020b11");
    QTest::newRow("query led page 0") << bytes(makeLedPageQuery(0)) << wire("020b00");
    QTest::newRow("query led page 3") << bytes(makeLedPageQuery(3)) << wire("020b03");
    QTest::newRow("query led page 7") << bytes(makeLedPageQuery(7)) << wire("020b07");
    QTest::newRow("query encoder pulse") << bytes(makeItemQuery(Item::EncoderPulseWidth)) << wire("020b0c04");
    QTest::newRow("query shifter pulse") << bytes(makeItemQuery(Item::ShifterPulseWidth)) << wire("020b0c0a");
    QTest::newRow("query clutches") << bytes(makeItemQuery(Item::ClutchesEnabled)) << wire("020b0c08");
    QTest::newRow("query extra shifters")
        << bytes(makeItemQuery(Item::ExtraShiftersEnabled)) << wire("020b0c09");

    QTest::newRow("encoder pulse live")
        << bytes(makeSetItem(Item::EncoderPulseWidth, 100, false)) << wire("020c046400000000");
    QTest::newRow("encoder pulse saved")
        << bytes(makeSetItem(Item::EncoderPulseWidth, 240, true)) << wire("020c04f0000000ef");
    QTest::newRow("shifter pulse saved")
        << bytes(makeSetItem(Item::ShifterPulseWidth, 40, true)) << wire("020c0a28000000ef");
    QTest::newRow("value little-endian")
        << bytes(makeSetItem(Item::ShifterPulseWidth, 0x12345678, false)) << wire("020c0a7856341200");
    QTest::newRow("left threshold start")
        << bytes(makeSetItem(Item::LeftShifterThreshold, kThresholdCalibrationStart, false))
        << wire("020c030000000000");
    QTest::newRow("right threshold finish")
        << bytes(makeSetItem(Item::RightShifterThreshold, kThresholdCalibrationFinish, true))
        << wire("020c05ffffffffef");
    QTest::newRow("extra left threshold start")
        << bytes(makeSetItem(Item::ExtraLeftShifterThreshold, kThresholdCalibrationStart, false))
        << wire("020c060000000000");
    QTest::newRow("extra right threshold finish")
        << bytes(makeSetItem(Item::ExtraRightShifterThreshold, kThresholdCalibrationFinish, true))
        << wire("020c07ffffffffef");
    QTest::newRow("clutches enabled")
        << bytes(makeSetItem(Item::ClutchesEnabled, enabledItemValue(true), true))
        << wire("020c0801000000ef");
    QTest::newRow("clutches disabled")
        << bytes(makeSetItem(Item::ClutchesEnabled, enabledItemValue(false), true))
        << wire("020c08ff000000ef");
    QTest::newRow("extra shifters enabled")
        << bytes(makeSetItem(Item::ExtraShiftersEnabled, enabledItemValue(true), true))
        << wire("020c0901000000ef");
    QTest::newRow("clear flash") << bytes(makeSetItem(Item::ClearFlash, 0, false))
                                 << wire("020c100000000000");

    QTest::newRow("paddle config saved right bite")
        << bytes(makeWritePaddleConfig({15001, 4000, 3900, 120, 95}, true))
        << wire("020a993aefa00f3c0f78005f00");
    QTest::newRow("paddle config live no bite")
        << bytes(makeWritePaddleConfig({kNoBiteWord, 4096, 4096, 0, 0}, false)) << wire("020affff0000100010");
    QTest::newRow("paddle config empty range")
        << bytes(makeWritePaddleConfig({0, 0, 0, 4096, 4096}, true)) << wire("020a0000ef0000000000100010");

    QTest::newRow("commit led colours") << bytes(makeCommitLedColours()) << wire("020e");
    QTest::newRow("reboot") << bytes(makeReboot()) << wire("0210");
    QTest::newRow("extra leds saved")
        << bytes(makeSetExtraLedColours(true, {255, 0, 128}, {1, 2, 3})) << wire("0211efff0080010203");
    QTest::newRow("extra leds live") << bytes(makeSetExtraLedColours(false, {0x10, 0x20, 0x30}, {0, 0, 0xFF}))
                                     << wire("0211001020300000ff");

    LedPageLevels levels{};
    for (std::size_t i = 0; i < levels.size(); ++i)
        levels[i] = static_cast<uint8_t>(0xA0 + i);
    QTest::newRow("led page report 2")
        << bytes(makeLedPageReport(2, levels)) << wire("0302a0a1a2a3a4a5a6a7a8a9aaabacadaeafb0b1", 20);
    QTest::newRow("led page report 7 dark")
        << bytes(makeLedPageReport(7, LedPageLevels{})) << wire("0307", 20);
}

void TestCommandReport::builders()
{
    QFETCH(QByteArray, actual);
    QFETCH(QByteArray, expected);
    QCOMPARE(actual.toHex(' '), expected.toHex(' '));
}

void TestCommandReport::setItemOverReplyKeepsTail()
{
    // The buffer as a wheel might have left it after the ClutchesEnabled query.
    CommandReport buffer{};
    for (std::size_t i = 0; i < buffer.size(); ++i)
        buffer[i] = static_cast<uint8_t>(0x40 + i);

    writeSetItem(buffer, Item::ClutchesEnabled, enabledItemValue(false), true);

    QByteArray expected = QByteArray::fromHex("020c08ff000000ef");
    for (int i = 8; i < 21; ++i)
        expected.append(static_cast<char>(0x40 + i));
    QCOMPARE(bytes(buffer).toHex(' '), expected.toHex(' '));
}

void TestCommandReport::rebootAfterStreamKeepsFields()
{
    std::vector<uint8_t> image(40);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i + 1);
    CommandReport buffer{};
    for (std::size_t offset = 0; offset < image.size(); offset += kFirmwareChunkSize)
        writeFirmwareDataReport(buffer, image.data(), image.size(), offset);

    writeReboot(buffer);

    // Header of the last chunk (offset 32, 8 bytes), its data, then the tail
    // of the chunk before it.
    QCOMPARE(bytes(buffer).toHex(' '), wire("02100208"
                                            "2122232425262728"
                                            "191a1b1c1d1e1f20")
                                           .toHex(' '));
}

void TestCommandReport::firmwareStreamOfShortImage()
{
    std::vector<uint8_t> image(40);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(0xA0 + i);

    const QByteArray expected[] = {
        wire("02800010a0a1a2a3a4a5a6a7a8a9aaabacadaeaf"),
        wire("02800110b0b1b2b3b4b5b6b7b8b9babbbcbdbebf"),
        // 8 bytes left: bytes 12..19 still hold b8..bf of the chunk before.
        wire("02800208c0c1c2c3c4c5c6c7b8b9babbbcbdbebf"),
    };
    const std::size_t lengths[] = {16, 16, 8};

    CommandReport buffer{};
    for (int chunk = 0; chunk < 3; ++chunk) {
        const std::size_t n = writeFirmwareDataReport(buffer, image.data(), image.size(), chunk * 16u);
        QCOMPARE(n, lengths[chunk]);
        QCOMPARE(bytes(buffer).left(20).toHex(' '), expected[chunk].left(20).toHex(' '));
    }
}

void TestCommandReport::firmwareHeaders_data()
{
    QTest::addColumn<quint32>("offset");
    QTest::addColumn<QByteArray>("header");

    QTest::newRow("0") << 0x0u << QByteArray::fromHex("02800010");
    QTest::newRow("0x10") << 0x10u << QByteArray::fromHex("02800110");
    QTest::newRow("0xff0") << 0xFF0u << QByteArray::fromHex("0280ff10");
    QTest::newRow("0x1000") << 0x1000u << QByteArray::fromHex("02810010");
    QTest::newRow("0x12340") << 0x12340u << QByteArray::fromHex("02923410");
    QTest::newRow("0x7fff0 last below 512K") << 0x7FFF0u << QByteArray::fromHex("02ffff10");
    QTest::newRow("0x80000 folds to 0x80") << 0x80000u << QByteArray::fromHex("02800010");
    QTest::newRow("0x81230 folds to 0x81") << 0x81230u << QByteArray::fromHex("02812310");
    QTest::newRow("0x100000 wraps to 0x80") << 0x100000u << QByteArray::fromHex("02800010");
}

void TestCommandReport::firmwareHeaders()
{
    QFETCH(quint32, offset);
    QFETCH(QByteArray, header);

    std::vector<uint8_t> image(offset + 16);
    for (std::size_t i = 0; i < 16; ++i)
        image[offset + i] = static_cast<uint8_t>(0x30 + i);

    CommandReport buffer{};
    QCOMPARE(writeFirmwareDataReport(buffer, image.data(), image.size(), offset), std::size_t{16});
    QCOMPARE(firmwareDataCode(offset), static_cast<uint8_t>(header[1]));

    QByteArray expected = header + QByteArray::fromHex("303132333435363738393a3b3c3d3e3f");
    QCOMPARE(bytes(buffer).left(20).toHex(' '), expected.toHex(' '));
}

void TestCommandReport::firmwareOffsetPastEnd()
{
    const std::vector<uint8_t> image(32, 0x55);
    CommandReport buffer = makeReboot();
    const CommandReport before = buffer;
    QCOMPARE(writeFirmwareDataReport(buffer, image.data(), image.size(), 32), std::size_t{0});
    QCOMPARE(writeFirmwareDataReport(buffer, image.data(), image.size(), 48), std::size_t{0});
    QVERIFY(buffer == before);
}

void TestCommandReport::modelName_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("name");

    QTest::newRow("plain") << QByteArray("\x02\x0d"
                                         "ABC WHEEL",
                                         11)
                           << true << QStringLiteral("ABC WHEEL");
    QTest::newRow("stops at first zero") << QByteArray("\x02\x0d"
                                                       "AB\0CD",
                                                       7)
                                         << true << QStringLiteral("AB");
    QTest::newRow("19 bytes without terminator") << QByteArray("\x02\x0d"
                                                               "ABCDEFGHIJKLMNOPQRS",
                                                               21)
                                                 << true << QStringLiteral("ABCDEFGHIJKLMNOPQRS");
    QTest::newRow("empty name") << QByteArray("\x02\x0d\0"
                                              "X",
                                              4)
                                << true << QString();
    QTest::newRow("utf-8") << QByteArray("\x02\x0d"
                                         "R\xc3\xa4"
                                         "d",
                                         6)
                           << true << QStringLiteral("R\u00e4d");
    QTest::newRow("byte 1 not 0x0d") << QByteArray("\x02\x0c"
                                                   "ABC",
                                                   5)
                                     << false << QString();
    QTest::newRow("failed read leaves request")
        << bytes(makeQuery(Record::ModelNameRecord)) << false << QString();
}

void TestCommandReport::modelName()
{
    QFETCH(QByteArray, data);
    QFETCH(bool, valid);
    QFETCH(QString, name);

    const std::optional<QString> parsed = parseModelName(reply(data));
    QCOMPARE(parsed.has_value(), valid);
    if (valid)
        QCOMPARE(*parsed, name);
}

void TestCommandReport::firmwareVersion_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("version");

    QTest::newRow("plain") << QByteArray("\x02"
                                         "2023.05.17",
                                         11)
                           << QStringLiteral("2023.05.17");
    QTest::newRow("colon kept for the caller") << QByteArray("\x02"
                                                             "1.2.3:",
                                                             7)
                                               << QStringLiteral("1.2.3:");
    QTest::newRow("byte 1 zero") << QByteArray("\x02\0"
                                               "1.2.3",
                                               7)
                                 << QString();
    QTest::newRow("20 bytes without terminator") << QByteArray("\x02"
                                                               "ABCDEFGHIJKLMNOPQRST",
                                                               21)
                                                 << QStringLiteral("ABCDEFGHIJKLMNOPQRST");
    // Nothing checks for an echoed code: the request's bytes become the text.
    QTest::newRow("failed read leaves request")
        << bytes(makeQuery(Record::FirmwareVersionRecord)) << QStringLiteral("\x0b\x09");
}

void TestCommandReport::firmwareVersion()
{
    QFETCH(QByteArray, data);
    QFETCH(QString, version);
    QCOMPARE(parseFirmwareVersion(reply(data)), version);
}

void TestCommandReport::paddleConfig_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("biteWord");
    QTest::addColumn<int>("rightMax");
    QTest::addColumn<int>("leftMax");
    QTest::addColumn<int>("rightMin");
    QTest::addColumn<int>("leftMin");

    QTest::newRow("stored values") << QByteArray::fromHex("020a993a00a00f3c0f78005f00") << 15001 << 4000
                                   << 3900 << 120 << 95;
    // Byte 4 is the write's marker position; a reply may hold anything there.
    QTest::newRow("byte 4 ignored") << QByteArray::fromHex("020a1027ff001000100000000099") << 10000 << 4096
                                    << 4096 << 0 << 0;
    QTest::newRow("failed read leaves request")
        << bytes(makeQuery(Record::PaddleConfig)) << 10 << 0 << 0 << 0 << 0;
}

void TestCommandReport::paddleConfig()
{
    QFETCH(QByteArray, data);
    QFETCH(int, biteWord);
    QFETCH(int, rightMax);
    QFETCH(int, leftMax);
    QFETCH(int, rightMin);
    QFETCH(int, leftMin);

    const PaddleConfig config = parsePaddleConfig(reply(data));
    QCOMPARE(int(config.biteWord), biteWord);
    QCOMPARE(int(config.rightMax), rightMax);
    QCOMPARE(int(config.leftMax), leftMax);
    QCOMPARE(int(config.rightMin), rightMin);
    QCOMPARE(int(config.leftMin), leftMin);
}

void TestCommandReport::paddleConfigReadsTheWriteLayout()
{
    // A wheel answers the PaddleConfig query in the layout it was written in.
    const PaddleConfig written{20001, 0x0102, 0x0304, 0x0506, 0x0708};
    QVERIFY(parsePaddleConfig(makeWritePaddleConfig(written, true)) == written);
}

void TestCommandReport::itemValue_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<quint32>("value");
    QTest::addColumn<qint32>("signedValue");
    QTest::addColumn<bool>("enabled");

    QTest::newRow("pulse width 100") << QByteArray::fromHex("020c0464000000") << 100u << 100 << false;
    QTest::newRow("little-endian") << QByteArray::fromHex("020c0478563412") << 0x12345678u << 0x12345678
                                   << false;
    QTest::newRow("nothing stored") << QByteArray::fromHex("020c04ffffffff") << 0xFFFFFFFFu << -1 << false;
    QTest::newRow("enabled") << QByteArray::fromHex("020c0801000000") << 1u << 1 << true;
    QTest::newRow("disabled") << QByteArray::fromHex("020c08ff000000") << 0xFFu << 255 << false;
    QTest::newRow("1 in a higher byte is not enabled")
        << QByteArray::fromHex("020c0801000001") << 0x01000001u << 0x01000001 << false;
    // The request's item byte reads as the value: 8, so the clutches count as off.
    QTest::newRow("failed clutches read") << bytes(makeItemQuery(Item::ClutchesEnabled)) << 8u << 8 << false;
    QTest::newRow("failed extra shifters read")
        << bytes(makeItemQuery(Item::ExtraShiftersEnabled)) << 9u << 9 << false;
    QTest::newRow("failed shifter pulse read")
        << bytes(makeItemQuery(Item::ShifterPulseWidth)) << 10u << 10 << false;
}

void TestCommandReport::itemValue()
{
    QFETCH(QByteArray, data);
    QFETCH(quint32, value);
    QFETCH(qint32, signedValue);
    QFETCH(bool, enabled);

    const CommandReport buffer = reply(data);
    QCOMPARE(parseItemValue(buffer), value);
    QCOMPARE(parseSignedItemValue(buffer), signedValue);
    QCOMPARE(isItemEnabled(parseItemValue(buffer)), enabled);
}

void TestCommandReport::powerStatus_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("percentage");
    QTest::addColumn<int>("levelWord");
    QTest::addColumn<int>("link");

    QTest::newRow("bluetooth on battery") << QByteArray::fromHex("020f57cb1000") << 87 << 4299 << 0;
    QTest::newRow("usb") << QByteArray::fromHex("020f64cc1001") << 100 << 4300 << 1;
    QTest::newRow("other link byte") << QByteArray::fromHex("020f05ffff02") << 5 << 0xFFFF << 2;
    QTest::newRow("failed read leaves request")
        << bytes(makeQuery(Record::PowerStatusRecord)) << 15 << 0 << 0;
}

void TestCommandReport::powerStatus()
{
    QFETCH(QByteArray, data);
    QFETCH(int, percentage);
    QFETCH(int, levelWord);
    QFETCH(int, link);

    const PowerStatus status = parsePowerStatus(reply(data));
    QCOMPARE(int(status.percentage), percentage);
    QCOMPARE(int(status.levelWord), levelWord);
    QCOMPARE(int(status.link), link);
}

void TestCommandReport::extraLeds_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("flag");
    QTest::addColumn<bool>("present");
    QTest::addColumn<QByteArray>("left");
    QTest::addColumn<QByteArray>("right");

    QTest::newRow("present") << QByteArray::fromHex("021101ff8000102030") << 1 << true
                             << QByteArray::fromHex("ff8000") << QByteArray::fromHex("102030");
    QTest::newRow("absent") << QByteArray::fromHex("021100010203040506") << 0 << false
                            << QByteArray::fromHex("010203") << QByteArray::fromHex("040506");
    QTest::newRow("other flag is not present")
        << QByteArray::fromHex("021102") << 2 << false << QByteArray::fromHex("000000")
        << QByteArray::fromHex("000000");
    QTest::newRow("failed read leaves request")
        << bytes(makeQuery(Record::ExtraLedRecord)) << 0x11 << false << QByteArray::fromHex("000000")
        << QByteArray::fromHex("000000");
}

void TestCommandReport::extraLeds()
{
    QFETCH(QByteArray, data);
    QFETCH(int, flag);
    QFETCH(bool, present);
    QFETCH(QByteArray, left);
    QFETCH(QByteArray, right);

    const ExtraLeds leds = parseExtraLedRecord(reply(data));
    QCOMPARE(int(leds.flag), flag);
    QCOMPARE(leds.present(), present);
    const auto rgb = [](Rgb c) {
        return bytes(std::array<uint8_t, 3>{c.red, c.green, c.blue});
    };
    QCOMPARE(rgb(leds.left).toHex(), left.toHex());
    QCOMPARE(rgb(leds.right).toHex(), right.toHex());
}

void TestCommandReport::ledPage_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("levels");

    QTest::newRow("full page") << QByteArray::fromHex("0202101112131415161718191a1b1c1d1e1f202199")
                               << QByteArray::fromHex("101112131415161718191a1b1c1d1e1f2021");
    // Byte 2 of a failed read is the page number, the rest zero.
    QTest::newRow("failed read of page 5")
        << bytes(makeLedPageQuery(5)) << QByteArray::fromHex("05").leftJustified(18, '\0');
}

void TestCommandReport::ledPage()
{
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, levels);
    QCOMPARE(bytes(parseLedPage(reply(data))).toHex(' '), levels.toHex(' '));
}

void TestCommandReport::decodeBiteWord_data()
{
    QTest::addColumn<int>("word");
    QTest::addColumn<BitePaddle>("paddle");
    QTest::addColumn<int>("point");

    QTest::newRow("0") << 0 << BitePaddle::Left << 0;
    QTest::newRow("5000") << 5000 << BitePaddle::Left << 5000;
    QTest::newRow("10000") << 10000 << BitePaddle::Left << 10000;
    QTest::newRow("10001") << 10001 << BitePaddle::Right << 0;
    QTest::newRow("15001") << 15001 << BitePaddle::Right << 5000;
    QTest::newRow("20001") << 20001 << BitePaddle::Right << 10000;
    QTest::newRow("20002") << 20002 << BitePaddle::None << kDefaultBitePoint;
    QTest::newRow("0xfffe") << 0xFFFE << BitePaddle::None << kDefaultBitePoint;
    QTest::newRow("0xffff") << 0xFFFF << BitePaddle::None << kDefaultBitePoint;
}

void TestCommandReport::decodeBiteWord()
{
    QFETCH(int, word);
    QFETCH(BitePaddle, paddle);
    QFETCH(int, point);

    const BitePoint decoded = ::decodeBiteWord(static_cast<uint16_t>(word));
    QCOMPARE(decoded.paddle, paddle);
    QCOMPARE(decoded.point, point);
}

void TestCommandReport::encodeBiteWord_data()
{
    QTest::addColumn<BitePaddle>("paddle");
    QTest::addColumn<int>("point");
    QTest::addColumn<int>("word");

    QTest::newRow("left 0") << BitePaddle::Left << 0 << 0;
    QTest::newRow("left 10000") << BitePaddle::Left << 10000 << 10000;
    QTest::newRow("right 0") << BitePaddle::Right << 0 << 10001;
    QTest::newRow("right 5") << BitePaddle::Right << 5 << 10006;
    QTest::newRow("right 10000") << BitePaddle::Right << 10000 << 20001;
    QTest::newRow("none keeps no point") << BitePaddle::None << 1234 << 0xFFFF;
    QTest::newRow("left above range stays left") << BitePaddle::Left << 10001 << 10000;
    QTest::newRow("right above range stays right") << BitePaddle::Right << 12000 << 20001;
    QTest::newRow("negative point") << BitePaddle::Right << -5 << 10001;
}

void TestCommandReport::encodeBiteWord()
{
    QFETCH(BitePaddle, paddle);
    QFETCH(int, point);
    QFETCH(int, word);
    QCOMPARE(int(::encodeBiteWord(paddle, point)), word);
}

QTEST_APPLESS_MAIN(TestCommandReport)
#include "tst_command_report.moc"
