// The LED colour model without a wheel: the exact frame pages a model is
// sent for given colours, the channel orders both ways, and the buttons'
// style sheets the colours are kept in. What reaches and comes back from an
// emulated wheel, per model, is tst_rgb_page's.
#include "led/button_colour.h"
#include "led/channel_order.h"
#include "led/led_colour_read.h"
#include "led/led_colour_write.h"

#include <QTest>

Q_DECLARE_METATYPE(Rgb)

namespace {

// Every LED button with three different levels, so that a swapped channel
// shows; several sit just off a level value (100, 254, ...) and must go out
// rounded up.
const LedButtonColours &paintedButtons()
{
    static const LedButtonColours colours = [] {
        const std::pair<const char *, std::array<int, 3>> table[] = {
            {"pbB1", {100, 0, 200}},    {"pbB2", {53, 107, 69}},    {"pbB3", {149, 199, 9}},
            {"pbB4", {3, 9, 0}},        {"pbB5", {39, 10, 86}},     {"pbB6", {126, 53, 17}},
            {"pbB9", {254, 106, 226}},  {"pbB10", {28, 150, 106}},  {"pbB11", {106, 255, 28}},
            {"pbB12", {225, 9, 255}},   {"pbB13", {17, 29, 126}},   {"pbB14", {106, 126, 86}},
            {"pbD3", {198, 149, 0}},    {"pbD4", {9, 200, 149}},    {"pbD13", {69, 4, 53}},
            {"pbD16", {172, 28, 4}},    {"pbD23", {9, 87, 255}},    {"pbD26", {69, 173, 126}},
            {"pbT1", {172, 255, 39}},   {"pbT2", {9, 18, 17}},      {"pbT3", {53, 39, 149}},
            {"pbT4", {148, 86, 53}},    {"pbT5", {0, 127, 4}},      {"pbT6", {39, 226, 173}},
            {"pbT7", {125, 4, 69}},     {"pbT8", {255, 18, 9}},     {"pbT9", {28, 69, 199}},
            {"pbT10", {125, 173, 149}}, {"pbT11", {226, 174, 17}},  {"pbT12", {17, 0, 226}},
            {"pbT13", {85, 17, 106}},   {"pbT14", {199, 40, 28}},   {"pbT15", {17, 149, 9}},
            {"pbT16", {85, 226, 199}},  {"pbT17", {199, 1, 86}},    {"pbT18", {28, 86, 106}},
            {"pbT19", {85, 106, 4}},    {"pbTL1", {173, 107, 106}}, {"pbTL2", {4, 199, 28}},
            {"pbTL3", {52, 0, 255}},    {"pbTR1", {149, 10, 126}},  {"pbTR2", {0, 53, 39}},
            {"pbTR3", {38, 106, 0}},    {"pbXL", {173, 0, 4}},      {"pbXR", {0, 4, 106}},
        };
        LedButtonColours out;
        for (const auto &[name, rgb] : table)
            out.insert(QLatin1String(name), QColor(rgb[0], rgb[1], rgb[2]));
        return out;
    }();
    return colours;
}

QByteArray hex(const uint8_t *data, int count)
{
    return QByteArray(reinterpret_cast<const char *>(data), count).toHex(' ');
}

// The 20 bytes a feature report sends (the 21st is only ever read).
QByteArray sent(const CommandReport &report)
{
    return hex(report.data(), int(kCommandSendLength));
}

QByteArray padded(const char *start)
{
    const QByteArray bytes = QByteArray::fromHex(start);
    return (bytes + QByteArray(int(kCommandSendLength) - bytes.size(), '\0')).toHex(' ');
}

} // namespace

class TestLedColours : public QObject
{
    Q_OBJECT

private slots:
    void framePerModel_data();
    void framePerModel();
    void missingColoursGoOutBlack();
    void channelOrders_data();
    void channelOrders();
    void styleSheets_data();
    void styleSheets();
    void nothingReadIsBlack();
};

void TestLedColours::framePerModel_data()
{
    QTest::addColumn<QString>("name");
    // Page 0 first. Past each model's last LED every slot is level 15.
    QTest::addColumn<QStringList>("pages");
    const QStringList vln6{"09 fe e9 a6 47 9c db 92 4f 21 e0 f2 35 38 a5 6a 93 8a",
                           "17 26 f9 17 26 f9 17 26 f9 4c 71 ac 4c 71 ac 4c 71 ac",
                           "bd 20 be fc 25 34 56 bb 68 b0 51 ce 1a f7 24 74 ad bc",
                           "de 63 f0 95 10 4d 60 c5 9a 3b fa ff ff ff ff ff ff ff"};
    QTest::newRow("VLN6") << "QUOR VLN6 Wheel" << vln6;
    QTest::newRow("H-ZET") << "QUOR H-ZET Wheel" << vln6;
    QTest::newRow("KLINO4") << "QUOR KLINO4 Wheel"
                            << QStringList{vln6[0], vln6[1],
                                           "1c 74 ca ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff",
                                           "ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff"};
    QTest::newRow("OV410") << "QUOR OV410 Wheel"
                           << QStringList{"09 fe e9 a6 47 9c a6 47 9c 21 e0 f2 35 38 a5 6a 93 8a",
                                          "17 26 f9 17 26 f9 17 26 f9 4c 71 ac bd 20 be 17 26 f9",
                                          "e9 f0 9e 67 71 16 56 bb 68 b0 51 ce 1a f7 24 74 2d 9f",
                                          "f2 19 02 2e 5f 83 53 aa 36 a9 f8 ff ff ff ff ff ff ff"};
    QTest::newRow("ULMAR") << "QUOR ULMAR Wheel"
                           << QStringList{"cf 45 32 65 8b 6b 0b e1 c5 a1 47 2f 47 cd ba ed 03 e3",
                                          "83 69 4d 3b e2 d8 d1 88 94 89 21 fe e2 9f 05 4c c9 94",
                                          "9f f4 49 01 19 90 f9 9e ef 29 9f f2 29 9f f2 29 9f f2",
                                          "29 9f f2 29 5f a3 35 aa 89 9a 38 ab b3 ca a7 7c ca a7",
                                          "7c ca a7 7c ca a7 7c ca a7 c4 41 1c c4 41 1c c4 41 1c",
                                          "c4 41 1c c4 a1 9c ca 69 3a a6 33 85 53 18 67 71 16 67",
                                          "71 16 67 71 16 67 71 16 67 c0 01 1c 90 0e e9 bd d2 2b",
                                          "12 20 01 60 af 76 6a f7 ff ff ff ff ff ff ff ff ff ff"};
    QTest::newRow("SRD7") << "QUOR SRD7 Wheel"
                          << QStringList{"09 fe e9 a6 47 9c a6 47 9c 21 e0 f2 35 38 a5 6a 93 8a",
                                         "bd 20 be db 92 4f 17 26 f9 21 e0 f2 35 38 a5 6a 93 8a",
                                         "1c a4 c7 fc 25 34 56 bb 68 b0 51 ce 1a f7 24 74 ad bc",
                                         "de 63 f0 95 10 4d 60 95 e0 9f ce 9a 4c 71 ac ac f9 ff"};
    QTest::newRow("PELIX") << "QUOR PELIX Wheel"
                           << QStringList{"09 6e 7a db 92 4f c4 f9 e9 21 50 83 2e 9f 8a 17 76 61",
                                          "92 2f f9 ac 19 4d 06 cf 5f 42 63 b5 8b 06 1b e5 ac 71",
                                          "4f 42 d7 3b 0a 56 95 c0 14 c7 fa ff ff ff ff ff ff ff",
                                          "ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff"};
    // No map: four fully lit pages all the same.
    const QString lit = "ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff";
    QTest::newRow("H-MIRA, no map") << "QUOR H-MIRA Wheel" << QStringList{lit, lit, lit, lit};
}

void TestLedColours::framePerModel()
{
    QFETCH(QString, name);
    QFETCH(QStringList, pages);
    const LedColourWrite live = ledColourWrite(name, paintedButtons(), false);
    const QList<int> order = pages.size() == 8 ? QList<int>{0, 1, 3, 4, 5, 6, 7, 2} : QList<int>{0, 1, 3, 2};
    QCOMPARE(int(live.pages.size()), order.size());
    for (int i = 0; i < order.size(); ++i) {
        const LedPageReport &report = live.pages[std::size_t(i)];
        QCOMPARE(int(report[0]), 0x03);
        QCOMPARE(int(report[1]), order[i]);
        QCOMPARE(hex(report.data() + 2, 18), pages[order[i]].toLatin1());
    }
    QVERIFY(!live.commit.has_value());
    // Saving sends the same pages, then the commit.
    const LedColourWrite saved = ledColourWrite(name, paintedButtons(), true);
    QVERIFY(saved.pages == live.pages);
    QVERIFY(saved.commit.has_value());
    QCOMPARE(sent(*saved.commit), padded("020e"));
}

void TestLedColours::missingColoursGoOutBlack()
{
    // Read from the buttons' style sheets: pbB1 sky blue, pbB9 an invalid
    // rgb(300,0,0), every other button absent. Both of the latter go out
    // black; pbB1 as levels 0, 12, 15 in LED 0. VLN6's 43 LEDs end in the
    // low nibble of byte 64, then every slot is lit.
    const LedButtonColours colours = ledButtonColoursFromStyleSheets(
        {{"pbB1", "QPushButton {background-color:rgb(0,170,255);  color: white;}"},
         {"pbB9", "QPushButton {background-color: rgb(300,0,0); color: white;}"}});
    QCOMPARE(colours.size(), 2);
    QVERIFY(!colours.value(QStringLiteral("pbB9")).isValid());
    const LedColourWrite write = ledColourWrite(QStringLiteral("QUOR VLN6 Wheel"), colours, false);
    const QByteArray expected = QByteArray::fromHex("c00f") + QByteArray(62, '\0') +
                                QByteArray::fromHex("f0") + QByteArray(7, '\xFF');
    QCOMPARE(hex(write.frame.data(), 72), expected.toHex(' '));
    QVERIFY(write.extraLeds.has_value());
    QCOMPARE(sent(*write.extraLeds), padded("0211"));
}

void TestLedColours::channelOrders_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<Rgb>("frame"); // (10, 20, 30) as sent in that order
    QTest::addColumn<Rgb>("read");  // slots (1, 2, 3) read back in that order
    // GBR and BRG undo each other: reading must not reuse the sending one.
    QTest::newRow("0 RGB") << 0 << Rgb{10, 20, 30} << Rgb{1, 2, 3};
    QTest::newRow("1 RBG") << 1 << Rgb{10, 30, 20} << Rgb{1, 3, 2};
    QTest::newRow("2 GRB") << 2 << Rgb{20, 10, 30} << Rgb{2, 1, 3};
    QTest::newRow("3 GBR") << 3 << Rgb{20, 30, 10} << Rgb{3, 1, 2};
    QTest::newRow("4 BRG") << 4 << Rgb{30, 10, 20} << Rgb{2, 3, 1};
    QTest::newRow("5 BGR") << 5 << Rgb{30, 20, 10} << Rgb{3, 2, 1};
    QTest::newRow("unknown 6 is RGB") << 6 << Rgb{10, 20, 30} << Rgb{1, 2, 3};
    QTest::newRow("unknown -1 is RGB") << -1 << Rgb{10, 20, 30} << Rgb{1, 2, 3};
}

void TestLedColours::channelOrders()
{
    QFETCH(int, code);
    QFETCH(Rgb, frame);
    QFETCH(Rgb, read);
    const ChannelOrder order = channelOrderFromCode(code);
    QVERIFY(toFrameOrder(Rgb{10, 20, 30}, order) == frame);
    QCOMPARE(toFrameOrder(QColor(10, 20, 30), order), QColor(frame.red, frame.green, frame.blue));
    QCOMPARE(buttonColour(QStringLiteral("x {background-color: rgb(10,20,30);}"), code),
             QColor(frame.red, frame.green, frame.blue));
    QVERIFY(fromFrameOrder(Rgb{1, 2, 3}, order) == read);
    QVERIFY(toFrameOrder(read, order) == (Rgb{1, 2, 3}));
}

void TestLedColours::styleSheets_data()
{
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<QColor>("paint"); // invalid: only read
    QTest::addColumn<QString>("painted");
    QTest::addColumn<QColor>("read"); // invalid: reads as invalid

    // The clause moves right behind "background-color:"; a later "color:"
    // stays as it is.
    QTest::newRow("white button") << "QPushButton {border-radius: 4px; background-color: rgb(255,255,255); "
                                     "border: 1px solid white; color: white;}"
                                  << QColor(0, 170, 255)
                                  << "QPushButton {border-radius: 4px; background-color:rgb(0,170,255);  "
                                     "border: 1px solid white; color: white;}"
                                  << QColor(0, 170, 255);
    QTest::newRow("repaint") << "a{background-color:rgb(1,2,3);  color: rgb(4,5,6);}" << QColor(255, 0, 10)
                             << "a{background-color:rgb(255,0,10);  color: rgb(4,5,6);}"
                             << QColor(255, 0, 10);
    QTest::newRow("no color: left alone")
        << "border: rgb(1,2,3);" << QColor(4, 5, 6) << "border: rgb(1,2,3);" << QColor(1, 2, 3);
    QTest::newRow("300 is invalid") << "a{background-color: rgb(300,0,0);}" << QColor() << QString()
                                    << QColor();
    QTest::newRow("spaces") << "rgb( 10 , 20 ,30 )" << QColor() << QString() << QColor(10, 20, 30);
    QTest::newRow("non-number and missing are 0") << "rgb(10,x)" << QColor() << QString() << QColor(10, 0, 0);
}

void TestLedColours::styleSheets()
{
    QFETCH(QString, sheet);
    QFETCH(QColor, paint);
    QFETCH(QString, painted);
    QFETCH(QColor, read);
    if (paint.isValid()) {
        setButtonColour(sheet, paint);
        QCOMPARE(sheet, painted);
    }
    const QColor got = buttonColour(sheet, 0);
    QCOMPARE(got.isValid(), read.isValid());
    if (read.isValid())
        QCOMPARE(got, read);
}

void TestLedColours::nothingReadIsBlack()
{
    // Without a wheel the frame and the record stay zero: every button the
    // reading paints, pbXL and pbXR too, turns black.
    const std::vector<LedPaint> paints =
        ledColoursToPaint(QStringLiteral("QUOR VLN6 Wheel"), LedFrame{}, ExtraLeds{});
    QCOMPARE(int(paints.size()), 45);
    for (const LedPaint &p : paints)
        QCOMPARE(p.colour, QColor(0, 0, 0));
    // Names without a map (the match is case-sensitive) paint nothing at all.
    QVERIFY(ledColoursToPaint(QStringLiteral("QUOR H-MIRA Wheel"), LedFrame{}, ExtraLeds{}).empty());
    QVERIFY(ledColoursToPaint(QStringLiteral("quor vln6 wheel"), LedFrame{}, ExtraLeds{}).empty());
}

QTEST_APPLESS_MAIN(TestLedColours)
#include "tst_led_colours.moc"
