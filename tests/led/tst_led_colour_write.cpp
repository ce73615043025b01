#include "led/led_colour_write.h"

#include <QtTest>

namespace {

// A colour for every LED button, each with three different levels so that a
// swapped channel shows; several sit just off a level value (100, 254, ...)
// to check that they go out rounded up.
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

QByteArray page(const char *hex)
{
    return QByteArray::fromHex(hex);
}

QByteArray bytesOf(const uint8_t *data, int count)
{
    return QByteArray(reinterpret_cast<const char *>(data), count);
}

// The 20 bytes a feature report sends (the 21st byte is only ever read).
QByteArray sent(const CommandReport &report)
{
    return bytesOf(report.data(), int(kCommandSendLength));
}

} // namespace

class TestLedColourWrite : public QObject
{
    Q_OBJECT

private slots:
    void framePerModel_data();
    void framePerModel();
    void extraLedReport_data();
    void extraLedReport();
    void commitOnlyWhenSaving();
    void nameWithoutMap();
    void invalidAndMissingColoursGoOutBlack();
    void coloursFromStyleSheets();
};

void TestLedColourWrite::framePerModel_data()
{
    QTest::addColumn<QString>("name");
    // Expected frame pages, page 0 first. Past each model's last LED every
    // slot is level 15.
    QTest::addColumn<QList<QByteArray>>("pages");

    QTest::newRow("VLN6") << QStringLiteral("QUOR VLN6 Wheel")
                          << QList<QByteArray>{
                                 page("09 fe e9 a6 47 9c db 92 4f 21 e0 f2 35 38 a5 6a 93 8a"), // 0
                                 page("17 26 f9 17 26 f9 17 26 f9 4c 71 ac 4c 71 ac 4c 71 ac"), // 1
                                 page("bd 20 be fc 25 34 56 bb 68 b0 51 ce 1a f7 24 74 ad bc"), // 2
                                 page("de 63 f0 95 10 4d 60 c5 9a 3b fa ff ff ff ff ff ff ff"), // 3
                             };
    QTest::newRow("H-ZET") << QStringLiteral("QUOR H-ZET Wheel")
                           << QList<QByteArray>{
                                  page("09 fe e9 a6 47 9c db 92 4f 21 e0 f2 35 38 a5 6a 93 8a"), // 0
                                  page("17 26 f9 17 26 f9 17 26 f9 4c 71 ac 4c 71 ac 4c 71 ac"), // 1
                                  page("bd 20 be fc 25 34 56 bb 68 b0 51 ce 1a f7 24 74 ad bc"), // 2
                                  page("de 63 f0 95 10 4d 60 c5 9a 3b fa ff ff ff ff ff ff ff"), // 3
                              };
    QTest::newRow("KLINO4") << QStringLiteral("QUOR KLINO4 Wheel")
                            << QList<QByteArray>{
                                   page("09 fe e9 a6 47 9c db 92 4f 21 e0 f2 35 38 a5 6a 93 8a"), // 0
                                   page("17 26 f9 17 26 f9 17 26 f9 4c 71 ac 4c 71 ac 4c 71 ac"), // 1
                                   page("1c 74 ca ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff"), // 2
                                   page("ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff"), // 3
                               };
    QTest::newRow("OV410") << QStringLiteral("QUOR OV410 Wheel")
                           << QList<QByteArray>{
                                  page("09 fe e9 a6 47 9c a6 47 9c 21 e0 f2 35 38 a5 6a 93 8a"), // 0
                                  page("17 26 f9 17 26 f9 17 26 f9 4c 71 ac bd 20 be 17 26 f9"), // 1
                                  page("e9 f0 9e 67 71 16 56 bb 68 b0 51 ce 1a f7 24 74 2d 9f"), // 2
                                  page("f2 19 02 2e 5f 83 53 aa 36 a9 f8 ff ff ff ff ff ff ff"), // 3
                              };
    QTest::newRow("ULMAR") << QStringLiteral("QUOR ULMAR Wheel")
                           << QList<QByteArray>{
                                  page("cf 45 32 65 8b 6b 0b e1 c5 a1 47 2f 47 cd ba ed 03 e3"), // 0
                                  page("83 69 4d 3b e2 d8 d1 88 94 89 21 fe e2 9f 05 4c c9 94"), // 1
                                  page("9f f4 49 01 19 90 f9 9e ef 29 9f f2 29 9f f2 29 9f f2"), // 2
                                  page("29 9f f2 29 5f a3 35 aa 89 9a 38 ab b3 ca a7 7c ca a7"), // 3
                                  page("7c ca a7 7c ca a7 7c ca a7 c4 41 1c c4 41 1c c4 41 1c"), // 4
                                  page("c4 41 1c c4 a1 9c ca 69 3a a6 33 85 53 18 67 71 16 67"), // 5
                                  page("71 16 67 71 16 67 71 16 67 c0 01 1c 90 0e e9 bd d2 2b"), // 6
                                  page("12 20 01 60 af 76 6a f7 ff ff ff ff ff ff ff ff ff ff"), // 7
                              };
    QTest::newRow("SRD7") << QStringLiteral("QUOR SRD7 Wheel")
                          << QList<QByteArray>{
                                 page("09 fe e9 a6 47 9c a6 47 9c 21 e0 f2 35 38 a5 6a 93 8a"), // 0
                                 page("bd 20 be db 92 4f 17 26 f9 21 e0 f2 35 38 a5 6a 93 8a"), // 1
                                 page("1c a4 c7 fc 25 34 56 bb 68 b0 51 ce 1a f7 24 74 ad bc"), // 2
                                 page("de 63 f0 95 10 4d 60 95 e0 9f ce 9a 4c 71 ac ac f9 ff"), // 3
                             };
    QTest::newRow("PELIX") << QStringLiteral("QUOR PELIX Wheel")
                           << QList<QByteArray>{
                                  page("09 6e 7a db 92 4f c4 f9 e9 21 50 83 2e 9f 8a 17 76 61"), // 0
                                  page("92 2f f9 ac 19 4d 06 cf 5f 42 63 b5 8b 06 1b e5 ac 71"), // 1
                                  page("4f 42 d7 3b 0a 56 95 c0 14 c7 fa ff ff ff ff ff ff ff"), // 2
                                  page("ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff"), // 3
                              };
}

void TestLedColourWrite::framePerModel()
{
    QFETCH(QString, name);
    QFETCH(QList<QByteArray>, pages);
    const LedColourWrite write = ledColourWrite(name, paintedButtons(), false);

    const QList<int> order = pages.size() == 8 ? QList<int>{0, 1, 3, 4, 5, 6, 7, 2} : QList<int>{0, 1, 3, 2};
    QCOMPARE(int(write.pages.size()), order.size());
    for (int i = 0; i < order.size(); ++i) {
        const LedPageReport &report = write.pages[std::size_t(i)];
        const int p = order[i];
        QCOMPARE(int(report[0]), 0x03);
        QCOMPARE(int(report[1]), p);
        QCOMPARE(bytesOf(report.data() + 2, 18).toHex(' '), pages[p].toHex(' '));
    }
    QVERIFY(!write.commit.has_value());
}

void TestLedColourWrite::extraLedReport_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("commit");
    QTest::addColumn<QColor>("left");
    QTest::addColumn<QColor>("right");
    QTest::addColumn<QByteArray>("report"); // empty: none sent

    const QColor left(173, 0, 4);
    const QColor right(0, 4, 106);
    const QColor full(0x80, 0x01, 0xFE); // not reduced to levels
    const QByteArray zeros(11, '\0');
    QTest::newRow("VLN6 live") << QStringLiteral("QUOR VLN6 Wheel") << false << left << right
                               << QByteArray::fromHex("021100ad000400046a") + zeros;
    QTest::newRow("VLN6 saved") << QStringLiteral("QUOR VLN6 Wheel") << true << left << right
                                << QByteArray::fromHex("0211efad000400046a") + zeros;
    QTest::newRow("H-ZET") << QStringLiteral("QUOR H-ZET Wheel") << false << left << right
                           << QByteArray::fromHex("021100ad000400046a") + zeros;
    QTest::newRow("KLINO4 8-bit") << QStringLiteral("QUOR KLINO4 Wheel") << false << full << left
                                  << QByteArray::fromHex("0211008001fead0004") + zeros;
    QTest::newRow("SRD7 saved") << QStringLiteral("QUOR SRD7 Wheel") << true << left << full
                                << QByteArray::fromHex("0211efad00048001fe") + zeros;
    QTest::newRow("ULMAR in GRB") << QStringLiteral("QUOR ULMAR Wheel") << false << QColor(10, 20, 30)
                                  << right
                                  << QByteArray::fromHex("02110014"
                                                         "0a1e"
                                                         "04006a") +
                                         zeros;
    QTest::newRow("PELIX still sends") << QStringLiteral("QUOR PELIX Wheel") << false << left << right
                                       << QByteArray::fromHex("021100ad000400046a") + zeros;
    QTest::newRow("OV410 sends none")
        << QStringLiteral("QUOR OV410 Wheel") << true << left << right << QByteArray();
}

void TestLedColourWrite::extraLedReport()
{
    QFETCH(QString, name);
    QFETCH(bool, commit);
    QFETCH(QColor, left);
    QFETCH(QColor, right);
    QFETCH(QByteArray, report);
    LedButtonColours colours = paintedButtons();
    colours.insert(QStringLiteral("pbXL"), left);
    colours.insert(QStringLiteral("pbXR"), right);
    const LedColourWrite write = ledColourWrite(name, colours, commit);
    if (report.isEmpty()) {
        QVERIFY(!write.extraLeds.has_value());
        return;
    }
    QVERIFY(write.extraLeds.has_value());
    QCOMPARE(sent(*write.extraLeds).toHex(' '), report.toHex(' '));
}

void TestLedColourWrite::commitOnlyWhenSaving()
{
    const LedColourWrite saved = ledColourWrite(QStringLiteral("QUOR SRD7 Wheel"), paintedButtons(), true);
    QVERIFY(saved.commit.has_value());
    QCOMPARE(sent(*saved.commit).toHex(' '), (QByteArray::fromHex("020e") + QByteArray(18, '\0')).toHex(' '));
    // Saving sends the same pages as a live change.
    const LedColourWrite live = ledColourWrite(QStringLiteral("QUOR SRD7 Wheel"), paintedButtons(), false);
    QVERIFY(saved.pages == live.pages);
    QVERIFY(!live.commit.has_value());
}

void TestLedColourWrite::nameWithoutMap()
{
    // Still four fully lit pages and the commit, but no extra LED report.
    const LedColourWrite write = ledColourWrite(QStringLiteral("QUOR H-MIRA Wheel"), paintedButtons(), true);
    QCOMPARE(int(write.pages.size()), 4);
    const QList<int> order{0, 1, 3, 2};
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(int(write.pages[std::size_t(i)][1]), order[i]);
        QCOMPARE(bytesOf(write.pages[std::size_t(i)].data() + 2, 18), QByteArray(18, '\xFF'));
    }
    QVERIFY(!write.extraLeds.has_value());
    QVERIFY(write.commit.has_value());
}

void TestLedColourWrite::invalidAndMissingColoursGoOutBlack()
{
    // pbB1 holds an invalid colour (a sheet with rgb(300,0,0)); no other
    // button is given at all. VLN6's 43 LEDs fill slots 0..128: bytes 0..63
    // black, byte 64 black low nibble and a lit high one, then all lit.
    LedButtonColours colours;
    colours.insert(QStringLiteral("pbB1"), QColor());
    const LedColourWrite write = ledColourWrite(QStringLiteral("QUOR VLN6 Wheel"), colours, false);
    const QByteArray expected = QByteArray(64, '\0') + QByteArray::fromHex("f0") + QByteArray(7, '\xFF');
    QCOMPARE(bytesOf(write.frame.data(), 72).toHex(' '), expected.toHex(' '));
    QVERIFY(write.extraLeds.has_value());
    QCOMPARE(bytesOf(write.extraLeds->data() + 3, 6), QByteArray(6, '\0'));
}

void TestLedColourWrite::coloursFromStyleSheets()
{
    const QHash<QString, QString> sheets{
        {QStringLiteral("pbB1"),
         QStringLiteral("QPushButton {background-color:rgb(0,170,255);  color: white;}")},
        {QStringLiteral("pbB9"),
         QStringLiteral("QPushButton {background-color: rgb(300,0,0); color: white;}")},
    };
    const LedButtonColours colours = ledButtonColoursFromStyleSheets(sheets);
    QCOMPARE(colours.size(), 2);
    QCOMPARE(colours.value(QStringLiteral("pbB1")), QColor(0, 170, 255));
    QVERIFY(!colours.value(QStringLiteral("pbB9")).isValid());

    // rgb(0,170,255) goes out as levels 0, 12, 15; the invalid one as black.
    // LED 0 is slots 0..2, LED 1 slots 3..5: bytes c0 0f 00.
    const LedColourWrite write = ledColourWrite(QStringLiteral("QUOR VLN6 Wheel"), colours, false);
    QCOMPARE(bytesOf(write.frame.data(), 3).toHex(' '), QByteArray("c0 0f 00"));
}

QTEST_APPLESS_MAIN(TestLedColourWrite)
#include "tst_led_colour_write.moc"
