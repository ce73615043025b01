#include "led/led_levels.h"

#include <QtTest>

class TestLedLevels : public QObject
{
    Q_OBJECT

private slots:
    void levelValue_data();
    void levelValue();
    void quantisationBoundaries_data();
    void quantisationBoundaries();
    void everyValueRoundsUpToTheNearestLevel();
    void roundTrip_data();
    void roundTrip();
};

// The sixteen 8-bit values the wheel shows for levels 0..15.
static const int kShown[16] = {0, 4, 9, 17, 28, 39, 53, 69, 86, 106, 126, 149, 173, 199, 226, 255};

void TestLedLevels::levelValue_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<int>("value");
    for (int level = 0; level < 16; ++level)
        QTest::addRow("level %d", level) << level << kShown[level];
}

void TestLedLevels::levelValue()
{
    QFETCH(int, level);
    QFETCH(int, value);
    QCOMPARE(int(ledLevelValue(level)), value);
    QCOMPARE(int(LedLevels[std::size_t(level)]), value);
    // Only the nibble counts: a high nibble handed in unmasked is ignored.
    QCOMPARE(int(ledLevelValue(level | 0x50)), value);
    // A level read from the wheel and sent again stays the same level.
    QCOMPARE(int(quantiseToLedLevel(uint8_t(value))), level);
}

void TestLedLevels::quantisationBoundaries_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<int>("lowest");
    QTest::addColumn<int>("highest");
    QTest::newRow("0") << 0 << 0 << 0;
    QTest::newRow("1") << 1 << 1 << 4;
    QTest::newRow("2") << 2 << 5 << 9;
    QTest::newRow("3") << 3 << 10 << 17;
    QTest::newRow("4") << 4 << 18 << 28;
    QTest::newRow("5") << 5 << 29 << 39;
    QTest::newRow("6") << 6 << 40 << 53;
    QTest::newRow("7") << 7 << 54 << 69;
    QTest::newRow("8") << 8 << 70 << 86;
    QTest::newRow("9") << 9 << 87 << 106;
    QTest::newRow("10") << 10 << 107 << 126;
    QTest::newRow("11") << 11 << 127 << 149;
    QTest::newRow("12") << 12 << 150 << 173;
    QTest::newRow("13") << 13 << 174 << 199;
    QTest::newRow("14") << 14 << 200 << 226;
    QTest::newRow("15") << 15 << 227 << 255;
}

void TestLedLevels::quantisationBoundaries()
{
    QFETCH(int, level);
    QFETCH(int, lowest);
    QFETCH(int, highest);
    QCOMPARE(int(quantiseToLedLevel(uint8_t(lowest))), level);
    QCOMPARE(int(quantiseToLedLevel(uint8_t(highest))), level);
    QCOMPARE(int(kLedQuantisation[std::size_t(lowest)]), level);
    QCOMPARE(int(kLedQuantisation[std::size_t(highest)]), level);
    if (lowest > 0)
        QCOMPARE(int(quantiseToLedLevel(uint8_t(lowest - 1))), level - 1);
    if (highest < 255)
        QCOMPARE(int(quantiseToLedLevel(uint8_t(highest + 1))), level + 1);
}

void TestLedLevels::everyValueRoundsUpToTheNearestLevel()
{
    for (int v = 0; v < 256; ++v) {
        const int level = quantiseToLedLevel(uint8_t(v));
        QVERIFY2(kShown[level] >= v, qPrintable(QString::number(v)));
        QVERIFY2(level == 0 || kShown[level - 1] < v, qPrintable(QString::number(v)));
        QCOMPARE(int(roundToLedLevel(uint8_t(v))), kShown[level]);
    }
}

void TestLedLevels::roundTrip_data()
{
    QTest::addColumn<int>("sent");
    QTest::addColumn<int>("level");
    QTest::addColumn<int>("readBack");
    QTest::newRow("100") << 100 << 9 << 106;
    QTest::newRow("170") << 170 << 12 << 173;
    QTest::newRow("1") << 1 << 1 << 4;
    QTest::newRow("0") << 0 << 0 << 0;
    QTest::newRow("128") << 128 << 11 << 149;
    QTest::newRow("227") << 227 << 15 << 255;
    QTest::newRow("255") << 255 << 15 << 255;
}

void TestLedLevels::roundTrip()
{
    QFETCH(int, sent);
    QFETCH(int, level);
    QFETCH(int, readBack);
    QCOMPARE(int(quantiseToLedLevel(uint8_t(sent))), level);
    QCOMPARE(int(ledLevelValue(level)), readBack);
    QCOMPARE(int(roundToLedLevel(uint8_t(sent))), readBack);
}

QTEST_APPLESS_MAIN(TestLedLevels)
#include "tst_led_levels.moc"
