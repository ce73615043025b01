#include "led/led_frame.h"

#include <QtTest>

namespace {

QByteArray bytesOf(const LedFrame &frame, int from, int count)
{
    return QByteArray(reinterpret_cast<const char *>(frame.data()) + from, count);
}

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

std::vector<Rgb> blackLeds(int count)
{
    return std::vector<Rgb>(std::size_t(count), Rgb{0, 0, 0});
}

} // namespace

class TestLedFrame : public QObject
{
    Q_OBJECT

private slots:
    void unpackByte_data();
    void unpackByte();
    void unpackReadsOnlyTheModelsPages_data();
    void unpackReadsOnlyTheModelsPages();
    void packTwoLeds();
    void unusedPositionsAreLit_data();
    void unusedPositionsAreLit();
    void pageCount_data();
    void pageCount();
    void sendOrder_data();
    void sendOrder();
    void pagesInAndOut();
};

void TestLedFrame::unpackByte_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("byte");
    QTest::addColumn<int>("low");
    QTest::addColumn<int>("high");
    QTest::newRow("0x5A first") << 0 << 0x5A << 126 << 39;
    QTest::newRow("0x5A last of page 3") << 71 << 0x5A << 126 << 39;
    QTest::newRow("0x00") << 5 << 0x00 << 0 << 0;
    QTest::newRow("0xFF") << 17 << 0xFF << 255 << 255;
    QTest::newRow("0x0F low lit") << 18 << 0x0F << 255 << 0;
    QTest::newRow("0xF0 high lit") << 40 << 0xF0 << 0 << 255;
    QTest::newRow("0x91") << 3 << 0x91 << 4 << 106;
}

void TestLedFrame::unpackByte()
{
    QFETCH(int, position);
    QFETCH(int, byte);
    QFETCH(int, low);
    QFETCH(int, high);
    LedFrame frame{};
    frame[std::size_t(position)] = uint8_t(byte);
    const LedSlots values = unpackLedFrame(frame, 4);
    QCOMPARE(int(values[std::size_t(2 * position)]), low);
    QCOMPARE(int(values[std::size_t(2 * position + 1)]), high);
}

void TestLedFrame::unpackReadsOnlyTheModelsPages_data()
{
    QTest::addColumn<int>("pages");
    QTest::addColumn<int>("filledSlots");
    QTest::newRow("4 pages") << 4 << 144;
    QTest::newRow("8 pages") << 8 << 288;
}

void TestLedFrame::unpackReadsOnlyTheModelsPages()
{
    QFETCH(int, pages);
    QFETCH(int, filledSlots);
    LedFrame frame;
    frame.fill(0xFF);
    const LedSlots values = unpackLedFrame(frame, pages);
    for (int s = 0; s < 288; ++s)
        QCOMPARE(int(values[std::size_t(s)]), s < filledSlots ? 255 : 0);
}

void TestLedFrame::packTwoLeds()
{
    // LED 0 (100, 0, 200) is levels 9, 0, 14; LED 1 (255, 9, 106) is 15, 2, 9.
    // Slots 9 0 | 14 15 | 2 9, low nibble first.
    const LedFrame frame = packLedFrame(ledSlotsForSending({Rgb{100, 0, 200}, Rgb{255, 9, 106}}));
    QCOMPARE(bytesOf(frame, 0, 4), hex("09fe92ff"));
}

void TestLedFrame::unusedPositionsAreLit_data()
{
    QTest::addColumn<int>("leds");
    QTest::addColumn<QByteArray>("start");
    // Black LEDs, then level 15 in every slot no LED owns: an LED that ends
    // in a low nibble leaves the high nibble of its last byte lit.
    QTest::newRow("none") << 0 << hex("ffffff");
    QTest::newRow("1 LED") << 1 << hex("00f0ffff");
    QTest::newRow("2 LEDs") << 2 << hex("000000ff");
    QTest::newRow("3 LEDs") << 3 << hex("00000000f0ff");
}

void TestLedFrame::unusedPositionsAreLit()
{
    QFETCH(int, leds);
    QFETCH(QByteArray, start);
    const LedFrame frame = packLedFrame(ledSlotsForSending(blackLeds(leds)));
    QCOMPARE(bytesOf(frame, 0, int(start.size())), start);
    for (int k = int(start.size()); k < kLedFrameBytes; ++k)
        QCOMPARE(int(frame[std::size_t(k)]), 0xFF);
}

void TestLedFrame::pageCount_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("pages");
    QTest::newRow("ULMAR") << QStringLiteral("QUOR ULMAR Wheel") << 8;
    QTest::newRow("bare code") << QStringLiteral("ULMAR") << 8;
    QTest::newRow("lower case") << QStringLiteral("quor ulmar wheel") << 4;
    QTest::newRow("VLN6") << QStringLiteral("QUOR VLN6 Wheel") << 4;
    QTest::newRow("SRD7") << QStringLiteral("QUOR SRD7 Wheel") << 4;
    QTest::newRow("empty") << QString() << 4;
}

void TestLedFrame::pageCount()
{
    QFETCH(QString, name);
    QFETCH(int, pages);
    QCOMPARE(ledPageCount(name), pages);
}

void TestLedFrame::sendOrder_data()
{
    QTest::addColumn<int>("pages");
    QTest::addColumn<QList<int>>("order");
    QTest::newRow("4 pages") << 4 << QList<int>{0, 1, 3, 2};
    QTest::newRow("8 pages") << 8 << QList<int>{0, 1, 3, 4, 5, 6, 7, 2};
}

void TestLedFrame::sendOrder()
{
    QFETCH(int, pages);
    QFETCH(QList<int>, order);
    const std::vector<int> got = ledPageSendOrder(pages);
    QCOMPARE(QList<int>(got.begin(), got.end()), order);
}

void TestLedFrame::pagesInAndOut()
{
    LedFrame frame{};
    LedPageLevels page{};
    for (int i = 0; i < 18; ++i)
        page[std::size_t(i)] = uint8_t(0xA0 + i);
    setLedFramePage(frame, 3, page);
    // Page 3 is frame bytes 54..71.
    for (int k = 0; k < kLedFrameBytes; ++k)
        QCOMPARE(int(frame[std::size_t(k)]), k >= 54 && k < 72 ? 0xA0 + k - 54 : 0);
    QVERIFY(ledFramePage(frame, 3) == page);
    QVERIFY(ledFramePage(frame, 2) == LedPageLevels{});

    // LED 18 owns slots 54, 55 and 56: both nibbles of byte 27 and the low
    // nibble of byte 28.
    frame.fill(0);
    frame[27] = 0x5A;
    frame[28] = 0x3F;
    const Rgb led18 = ledSlotTriple(unpackLedFrame(frame, 4), 18);
    QCOMPARE(int(led18.red), 126);
    QCOMPARE(int(led18.green), 39);
    QCOMPARE(int(led18.blue), 255);
}

QTEST_APPLESS_MAIN(TestLedFrame)
#include "tst_led_frame.moc"
