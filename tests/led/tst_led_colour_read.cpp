#include "led/led_colour_read.h"

#include "led/led_colour_write.h"

#include <QtTest>

#include <algorithm>

namespace {

using Paints = QList<std::pair<const char *, std::array<int, 3>>>;

// A frame whose bytes never repeat a neighbour: byte k = (k * 0x35 + 0x1C)
// mod 256. LED 16 is then slots 48..50, bytes 24 = 0x14 and 25 = 0x49:
// red 28, green 4, blue 106.
LedFrame patternFrame()
{
    LedFrame frame{};
    for (int k = 0; k < kLedFrameBytes; ++k)
        frame[std::size_t(k)] = uint8_t((k * 0x35 + 0x1C) & 0xFF);
    return frame;
}

// What each button shows once every paint is applied in order.
QHash<QString, QColor> finalColours(const std::vector<LedPaint> &paints)
{
    QHash<QString, QColor> out;
    for (const LedPaint &p : paints)
        out.insert(p.button, p.colour);
    return out;
}

QList<int> ledsPainting(const std::vector<LedPaint> &paints, const QString &button)
{
    QList<int> leds;
    for (const LedPaint &p : paints) {
        if (p.button == button)
            leds << p.led;
    }
    return leds;
}

QColor paintOf(const std::vector<LedPaint> &paints, int led)
{
    for (const LedPaint &p : paints) {
        if (p.led == led)
            return p.colour;
    }
    return QColor();
}

} // namespace

Q_DECLARE_METATYPE(Paints)
Q_DECLARE_METATYPE(ExtraLeds)

class TestLedColourRead : public QObject
{
    Q_OBJECT

private slots:
    void everyReadButton_data();
    void everyReadButton();
    void whichLedWins_data();
    void whichLedWins();
    void extraLeds_data();
    void extraLeds();
    void noDeviceMeansBlack();
    void nameWithoutMapPaintsNothing();
    void sentAndReadBack_data();
    void sentAndReadBack();
    void srd7ReadsItsReorderedLedsAsRgb();
};

void TestLedColourRead::everyReadButton_data()
{
    QTest::addColumn<QString>("name");
    // Every button the model's reading paints, with its final colour from
    // patternFrame(); buttons not listed must not be painted from the frame.
    QTest::addColumn<Paints>("expected");

    QTest::newRow("VLN6")
        << QStringLiteral("QUOR VLN6 Wheel")
        << Paints{
               {"pbB1", {173, 4, 4}},     {"pbB2", {149, 149, 0}},    {"pbB3", {126, 39, 255}},
               {"pbB4", {106, 255, 226}}, {"pbB5", {86, 106, 199}},   {"pbB6", {69, 17, 173}},
               {"pbB9", {39, 53, 86}},    {"pbB10", {255, 39, 9}},    {"pbB11", {86, 28, 173}},
               {"pbB12", {9, 17, 53}},    {"pbB13", {173, 9, 0}},     {"pbB14", {53, 4, 126}},
               {"pbD3", {0, 106, 39}},    {"pbD4", {173, 126, 255}},  {"pbD13", {28, 4, 106}},
               {"pbD16", {4, 255, 53}},   {"pbD23", {28, 226, 69}},   {"pbD26", {9, 149, 39}},
               {"pbT1", {255, 9, 28}},    {"pbT2", {53, 106, 106}},   {"pbT3", {226, 173, 17}},
               {"pbT4", {0, 86, 17}},     {"pbT5", {199, 53, 9}},     {"pbT6", {126, 69, 199}},
               {"pbT7", {173, 0, 4}},     {"pbT8", {28, 53, 69}},     {"pbT9", {149, 126, 0}},
               {"pbT10", {226, 39, 4}},   {"pbT11", {126, 28, 255}},  {"pbTL1", {149, 9, 255}},
               {"pbTL2", {4, 17, 39}},    {"pbTL3", {69, 28, 149}},   {"pbTR1", {69, 9, 173}},
               {"pbTR2", {86, 86, 199}},  {"pbTR3", {106, 226, 226}},
           };
    QTest::newRow("KLINO4") << QStringLiteral("QUOR KLINO4 Wheel")
                            << Paints{
                                   {"pbB1", {173, 4, 4}},    {"pbB2", {149, 149, 0}},
                                   {"pbB3", {126, 39, 255}}, {"pbB4", {106, 255, 226}},
                                   {"pbB5", {86, 106, 199}}, {"pbB6", {69, 17, 173}},
                                   {"pbB9", {39, 53, 86}},   {"pbB10", {255, 39, 9}},
                                   {"pbB11", {86, 28, 173}}, {"pbB12", {9, 17, 53}},
                                   {"pbB13", {173, 9, 0}},   {"pbB14", {53, 4, 126}},
                                   {"pbD13", {28, 4, 106}},  {"pbD16", {0, 39, 106}},
                                   {"pbD23", {28, 226, 69}}, {"pbD26", {173, 255, 126}},
                               };
    QTest::newRow("OV410")
        << QStringLiteral("QUOR OV410 Wheel")
        << Paints{
               {"pbB1", {0, 39, 106}},     {"pbB2", {149, 149, 0}},   {"pbB3", {126, 39, 255}},
               {"pbB4", {69, 28, 149}},    {"pbB5", {4, 17, 39}},     {"pbB6", {149, 9, 255}},
               {"pbB9", {173, 255, 126}},  {"pbB10", {255, 39, 9}},   {"pbB11", {86, 28, 173}},
               {"pbB12", {106, 226, 226}}, {"pbB13", {86, 86, 199}},  {"pbB14", {69, 9, 173}},
               {"pbD3", {9, 39, 69}},      {"pbD4", {86, 173, 149}},  {"pbD13", {4, 255, 53}},
               {"pbD16", {17, 149, 86}},   {"pbD23", {9, 149, 39}},   {"pbD26", {226, 199, 4}},
               {"pbT1", {255, 9, 28}},     {"pbT2", {53, 106, 106}},  {"pbT3", {226, 173, 17}},
               {"pbT4", {0, 86, 17}},      {"pbT5", {199, 53, 9}},    {"pbT6", {126, 69, 199}},
               {"pbT7", {173, 0, 4}},      {"pbT8", {28, 53, 69}},    {"pbT9", {149, 126, 0}},
               {"pbT10", {226, 39, 4}},    {"pbT11", {126, 28, 255}},
           };
    QTest::newRow("ULMAR")
        << QStringLiteral("QUOR ULMAR Wheel")
        << Paints{
               {"pbB1", {255, 28, 106}}, {"pbB2", {149, 0, 17}},     {"pbB3", {106, 17, 86}},
               {"pbB4", {17, 9, 69}},    {"pbB5", {39, 199, 0}},     {"pbB6", {53, 17, 53}},
               {"pbB9", {173, 226, 17}}, {"pbB10", {255, 4, 53}},    {"pbB11", {106, 0, 39}},
               {"pbB12", {199, 226, 4}}, {"pbB13", {17, 4, 39}},     {"pbB14", {9, 149, 255}},
               {"pbD13", {28, 53, 126}}, {"pbD16", {226, 4, 53}},    {"pbD23", {53, 199, 9}},
               {"pbD26", {0, 255, 17}},  {"pbT1", {4, 173, 4}},      {"pbT2", {53, 39, 86}},
               {"pbT3", {149, 149, 0}},  {"pbT4", {39, 255, 9}},     {"pbT5", {39, 126, 255}},
               {"pbT6", {28, 86, 173}},  {"pbT7", {255, 106, 226}},  {"pbT8", {17, 9, 53}},
               {"pbT9", {106, 86, 199}}, {"pbT10", {9, 173, 0}},     {"pbT11", {17, 69, 173}},
               {"pbT12", {4, 53, 126}},  {"pbT13", {199, 53, 149}},  {"pbT14", {0, 0, 28}},
               {"pbT15", {69, 39, 126}}, {"pbT16", {255, 126, 199}}, {"pbT17", {4, 28, 106}},
               {"pbT18", {226, 28, 69}}, {"pbT19", {149, 17, 86}},   {"pbTL1", {69, 106, 173}},
               {"pbTL3", {199, 4, 53}},  {"pbTR1", {4, 39, 106}},    {"pbTR3", {173, 86, 149}},
               {"pbXL", {39, 39, 126}},  {"pbXR", {9, 255, 28}},
           };
    QTest::newRow("SRD7")
        << QStringLiteral("QUOR SRD7 Wheel")
        << Paints{
               {"pbB1", {149, 9, 255}},    {"pbB2", {149, 149, 0}},   {"pbB3", {39, 69, 126}},
               {"pbB4", {17, 149, 86}},    {"pbB5", {9, 39, 69}},     {"pbB6", {4, 255, 53}},
               {"pbB9", {69, 9, 173}},     {"pbB10", {255, 39, 9}},   {"pbB11", {126, 255, 199}},
               {"pbB12", {226, 199, 4}},   {"pbB13", {86, 173, 149}}, {"pbB14", {9, 149, 39}},
               {"pbD3", {53, 199, 149}},   {"pbD4", {0, 0, 28}},      {"pbD13", {28, 4, 106}},
               {"pbD16", {53, 173, 149}},  {"pbD23", {28, 226, 69}},  {"pbD26", {255, 0, 17}},
               {"pbT1", {255, 9, 28}},     {"pbT2", {53, 106, 106}},  {"pbT3", {226, 173, 17}},
               {"pbT4", {0, 86, 17}},      {"pbT5", {199, 53, 9}},    {"pbT6", {126, 69, 199}},
               {"pbT7", {173, 0, 4}},      {"pbT8", {28, 53, 69}},    {"pbT9", {149, 126, 0}},
               {"pbT10", {226, 39, 4}},    {"pbT11", {126, 28, 255}}, {"pbTL1", {39, 53, 126}},
               {"pbTL2", {4, 17, 39}},     {"pbTL3", {69, 28, 149}},  {"pbTR2", {86, 86, 199}},
               {"pbTR3", {106, 226, 226}},
           };
    QTest::newRow("PELIX")
        << QStringLiteral("QUOR PELIX Wheel")
        << Paints{
               {"pbB1", {173, 4, 4}},      {"pbB2", {39, 53, 86}},    {"pbB3", {149, 149, 0}},
               {"pbB4", {106, 255, 226}},  {"pbB5", {9, 17, 53}},     {"pbB9", {86, 28, 173}},
               {"pbB10", {126, 39, 255}},  {"pbB11", {255, 39, 9}},   {"pbB12", {86, 106, 199}},
               {"pbB14", {173, 9, 0}},     {"pbD13", {53, 4, 126}},   {"pbD16", {0, 86, 17}},
               {"pbD23", {0, 0, 28}},      {"pbD26", {199, 53, 9}},   {"pbT1", {28, 226, 69}},
               {"pbT2", {17, 149, 86}},    {"pbT3", {226, 199, 4}},   {"pbT4", {9, 39, 69}},
               {"pbT5", {86, 173, 149}},   {"pbT6", {4, 255, 53}},    {"pbT7", {9, 149, 39}},
               {"pbT8", {0, 106, 39}},     {"pbT9", {173, 126, 255}}, {"pbTL1", {39, 69, 126}},
               {"pbTL2", {126, 255, 199}}, {"pbTL3", {28, 4, 106}},   {"pbTR1", {255, 9, 28}},
               {"pbTR2", {53, 106, 106}},  {"pbTR3", {226, 173, 17}},
           };
}

void TestLedColourRead::everyReadButton()
{
    QFETCH(QString, name);
    QFETCH(Paints, expected);
    std::vector<LedPaint> paints = ledColoursToPaint(name, patternFrame(), ExtraLeds{});
    // The extra-LED record is checked on its own; on ULMAR pbXL and pbXR
    // come from the frame (LEDs 78 and 26) and are listed.
    paints.erase(std::remove_if(paints.begin(), paints.end(),
                                [](const LedPaint &p) { return p.led == kExtraLedRecordIndex; }),
                 paints.end());
    QHash<QString, QColor> got = finalColours(paints);
    for (const auto &[button, rgb] : expected) {
        const QString key = QLatin1String(button);
        QVERIFY2(got.contains(key), button);
        QCOMPARE(got.take(key), QColor(rgb[0], rgb[1], rgb[2]));
    }
    QVERIFY2(got.isEmpty(), qPrintable(QStringList(got.keys()).join(QLatin1Char(' '))));
}

void TestLedColourRead::whichLedWins_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QList<int>>("leds"); // LEDs painting the button, in painting order
    QTest::newRow("VLN6 pbD13: last of 12,14,16")
        << QStringLiteral("QUOR VLN6 Wheel") << QStringLiteral("pbD13") << QList<int>{12, 14, 16};
    QTest::newRow("VLN6 pbD26: last of 19,21,23")
        << QStringLiteral("QUOR VLN6 Wheel") << QStringLiteral("pbD26") << QList<int>{19, 21, 23};
    QTest::newRow("H-ZET like VLN6") << QStringLiteral("QUOR H-ZET Wheel") << QStringLiteral("pbD16")
                                     << QList<int>{18, 20, 22};
    QTest::newRow("KLINO4 pbD16 ends RBG at 24")
        << QStringLiteral("QUOR KLINO4 Wheel") << QStringLiteral("pbD16") << QList<int>{18, 20, 22, 24};
    QTest::newRow("ULMAR pbD13: first of its group only")
        << QStringLiteral("QUOR ULMAR Wheel") << QStringLiteral("pbD13") << QList<int>{69};
    QTest::newRow("ULMAR pbB2: LED 87 on page 7")
        << QStringLiteral("QUOR ULMAR Wheel") << QStringLiteral("pbB2") << QList<int>{87};
    QTest::newRow("ULMAR pbXR from the frame")
        << QStringLiteral("QUOR ULMAR Wheel") << QStringLiteral("pbXR") << QList<int>{26};
    QTest::newRow("ULMAR pbXL from the frame")
        << QStringLiteral("QUOR ULMAR Wheel") << QStringLiteral("pbXL") << QList<int>{78};
    QTest::newRow("OV410 pbB2 not from 4")
        << QStringLiteral("QUOR OV410 Wheel") << QStringLiteral("pbB2") << QList<int>{2};
    QTest::newRow("OV410 pbB3 from 4")
        << QStringLiteral("QUOR OV410 Wheel") << QStringLiteral("pbB3") << QList<int>{4};
    QTest::newRow("OV410 pbB11 from 5")
        << QStringLiteral("QUOR OV410 Wheel") << QStringLiteral("pbB11") << QList<int>{5};
    QTest::newRow("OV410 pbD13 not from 26, 27")
        << QStringLiteral("QUOR OV410 Wheel") << QStringLiteral("pbD13") << QList<int>{12, 14, 16, 22};
    QTest::newRow("OV410 pbD23 not from 35, 36")
        << QStringLiteral("QUOR OV410 Wheel") << QStringLiteral("pbD23") << QList<int>{13, 15, 17, 23};
    QTest::newRow("OV410 pbT1 from 26")
        << QStringLiteral("QUOR OV410 Wheel") << QStringLiteral("pbT1") << QList<int>{26};
    QTest::newRow("OV410 pbT2 from 27")
        << QStringLiteral("QUOR OV410 Wheel") << QStringLiteral("pbT2") << QList<int>{27};
    QTest::newRow("OV410 pbT10 from 35")
        << QStringLiteral("QUOR OV410 Wheel") << QStringLiteral("pbT10") << QList<int>{35};
    QTest::newRow("OV410 pbT11 from 36")
        << QStringLiteral("QUOR OV410 Wheel") << QStringLiteral("pbT11") << QList<int>{36};
    QTest::newRow("SRD7 pbB3: 4, overwritten by 14")
        << QStringLiteral("QUOR SRD7 Wheel") << QStringLiteral("pbB3") << QList<int>{4, 14};
    QTest::newRow("SRD7 pbB11: 5, overwritten by 15")
        << QStringLiteral("QUOR SRD7 Wheel") << QStringLiteral("pbB11") << QList<int>{5, 15};
    QTest::newRow("SRD7 pbB2 not from 4")
        << QStringLiteral("QUOR SRD7 Wheel") << QStringLiteral("pbB2") << QList<int>{2};
    QTest::newRow("SRD7 pbTL1: 43, then 46")
        << QStringLiteral("QUOR SRD7 Wheel") << QStringLiteral("pbTL1") << QList<int>{43, 46};
    QTest::newRow("PELIX pbD23: 12, 13")
        << QStringLiteral("QUOR PELIX Wheel") << QStringLiteral("pbD23") << QList<int>{12, 13};
}

void TestLedColourRead::whichLedWins()
{
    QFETCH(QString, name);
    QFETCH(QString, button);
    QFETCH(QList<int>, leds);
    const std::vector<LedPaint> paints = ledColoursToPaint(name, patternFrame(), ExtraLeds{});
    QCOMPARE(ledsPainting(paints, button), leds);
}

void TestLedColourRead::extraLeds_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("reads");
    QTest::newRow("VLN6") << QStringLiteral("QUOR VLN6 Wheel") << true;
    QTest::newRow("H-ZET") << QStringLiteral("QUOR H-ZET Wheel") << true;
    QTest::newRow("KLINO4") << QStringLiteral("QUOR KLINO4 Wheel") << true;
    QTest::newRow("SRD7") << QStringLiteral("QUOR SRD7 Wheel") << true;
    QTest::newRow("OV410") << QStringLiteral("QUOR OV410 Wheel") << false;
    QTest::newRow("ULMAR") << QStringLiteral("QUOR ULMAR Wheel") << false;
    QTest::newRow("PELIX") << QStringLiteral("QUOR PELIX Wheel") << false;
    QTest::newRow("H-MIRA") << QStringLiteral("QUOR H-MIRA Wheel") << false;
}

void TestLedColourRead::extraLeds()
{
    QFETCH(QString, name);
    QFETCH(bool, reads);
    QCOMPARE(readsExtraLeds(name), reads);

    // The record's values are shown as they are: 0x80 stays 128.
    CommandReport reply{};
    const uint8_t bytes[] = {0x02, 0x0B, 0x01, 0x80, 0x01, 0xFE, 0x11, 0x7F, 0x00};
    std::copy(std::begin(bytes), std::end(bytes), reply.begin());
    const std::vector<LedPaint> paints = ledColoursToPaint(name, patternFrame(), parseExtraLedRecord(reply));

    int fromRecord = 0;
    for (const LedPaint &p : paints)
        fromRecord += p.led == kExtraLedRecordIndex ? 1 : 0;
    if (!reads) {
        QCOMPARE(fromRecord, 0);
        return;
    }
    QCOMPARE(fromRecord, 2);
    // After all the frame LEDs.
    const std::size_t n = paints.size();
    QCOMPARE(paints[n - 2].button, QStringLiteral("pbXL"));
    QCOMPARE(paints[n - 2].colour, QColor(128, 1, 254));
    QCOMPARE(paints[n - 1].button, QStringLiteral("pbXR"));
    QCOMPARE(paints[n - 1].colour, QColor(17, 127, 0));
}

void TestLedColourRead::noDeviceMeansBlack()
{
    // Without a wheel the frame and the record stay zero: every button the
    // reading paints, pbXL and pbXR too, turns black.
    const std::vector<LedPaint> paints =
        ledColoursToPaint(QStringLiteral("QUOR VLN6 Wheel"), LedFrame{}, ExtraLeds{});
    QCOMPARE(int(paints.size()), 45);
    for (const LedPaint &p : paints)
        QCOMPARE(p.colour, QColor(0, 0, 0));
}

void TestLedColourRead::nameWithoutMapPaintsNothing()
{
    QVERIFY(ledColoursToPaint(QStringLiteral("QUOR H-MIRA Wheel"), patternFrame(), ExtraLeds{}).empty());
    QVERIFY(ledColoursToPaint(QStringLiteral("vln6"), patternFrame(), ExtraLeds{}).empty());
}

void TestLedColourRead::sentAndReadBack_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QColor>("sent");
    QTest::addColumn<QColor>("shown");
    QTest::newRow("0,170,255 comes back 0,173,255")
        << QStringLiteral("QUOR VLN6 Wheel") << QStringLiteral("pbB1") << QColor(0, 170, 255)
        << QColor(0, 173, 255);
    QTest::newRow("100 comes back 106") << QStringLiteral("QUOR PELIX Wheel") << QStringLiteral("pbT9")
                                        << QColor(100, 100, 100) << QColor(106, 106, 106);
    QTest::newRow("ULMAR through GRB") << QStringLiteral("QUOR ULMAR Wheel") << QStringLiteral("pbD26")
                                       << QColor(10, 20, 30) << QColor(17, 28, 39);
    QTest::newRow("KLINO4 through RBG") << QStringLiteral("QUOR KLINO4 Wheel") << QStringLiteral("pbD26")
                                        << QColor(200, 5, 60) << QColor(226, 9, 69);
    // OV410 sends LED 4 from pbB2 and reads it into pbB3.
    QTest::newRow("OV410 pbB2 shows in pbB3") << QStringLiteral("QUOR OV410 Wheel") << QStringLiteral("pbB2")
                                              << QColor(50, 60, 70) << QColor(53, 69, 86);
}

void TestLedColourRead::sentAndReadBack()
{
    QFETCH(QString, name);
    QFETCH(QString, button);
    QFETCH(QColor, sent);
    QFETCH(QColor, shown);
    LedButtonColours colours;
    colours.insert(button, sent);
    const LedColourWrite write = ledColourWrite(name, colours, false);
    const QHash<QString, QColor> got = finalColours(ledColoursToPaint(name, write.frame, ExtraLeds{}));
    QCOMPARE(got.value(button), shown);
    if (button == QLatin1String("pbB2"))
        QCOMPARE(got.value(QStringLiteral("pbB3")), shown);
}

void TestLedColourRead::srd7ReadsItsReorderedLedsAsRgb()
{
    // pbD16 at (10,20,30) goes out RBG as levels 3,5,4; pbD26 BRG as 5,3,4.
    // Both are read as RGB, so LEDs 24 and 25 paint the swapped channels;
    // LEDs 44 and 45, sent and read RGB, then paint the buttons last.
    LedButtonColours colours;
    colours.insert(QStringLiteral("pbD16"), QColor(10, 20, 30));
    colours.insert(QStringLiteral("pbD26"), QColor(10, 20, 30));
    const QString name = QStringLiteral("QUOR SRD7 Wheel");
    const LedColourWrite write = ledColourWrite(name, colours, false);
    // LED 24 is slots 72..74, LED 25 slots 75..77: bytes 36..38.
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(write.frame.data()) + 36, 3).toHex(' '),
             QByteArray("53 54 43"));

    const std::vector<LedPaint> paints = ledColoursToPaint(name, write.frame, ExtraLeds{});
    QCOMPARE(paintOf(paints, 24), QColor(17, 39, 28));
    QCOMPARE(paintOf(paints, 25), QColor(39, 17, 28));
    QCOMPARE(paintOf(paints, 44), QColor(17, 28, 39));
    QCOMPARE(paintOf(paints, 45), QColor(17, 28, 39));
    const QHash<QString, QColor> shown = finalColours(paints);
    QCOMPARE(shown.value(QStringLiteral("pbD16")), QColor(17, 28, 39));
    QCOMPARE(shown.value(QStringLiteral("pbD26")), QColor(17, 28, 39));
}

QTEST_APPLESS_MAIN(TestLedColourRead)
#include "tst_led_colour_read.moc"
