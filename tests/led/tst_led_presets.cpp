#include "led/led_presets.h"

#include <QtTest>

// The names a script may use, and the window's key characters, for the same
// nine colours (the window's own buttons are covered by the RGB page test).
class TestLedPresets : public QObject
{
    Q_OBJECT

private slots:
    void byName_data();
    void byName();
};

void TestLedPresets::byName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QColor>("colour");

    QTest::newRow("sky") << "sky" << true << QColor(0, 170, 255);
    QTest::newRow("upper case") << "ORANGE" << true << QColor(255, 85, 0);
    QTest::newRow("mixed case") << "MaGenta" << true << QColor(255, 0, 255);
    QTest::newRow("off is black") << "off" << true << QColor(0, 0, 0);
    QTest::newRow("window key W") << "W" << true << QColor(255, 255, 255);
    QTest::newRow("window key 4") << "4" << true << QColor(255, 255, 0);
    QTest::newRow("key in lower case") << "d" << false << QColor();
    QTest::newRow("key with more") << "RR" << false << QColor();
    QTest::newRow("name with space") << "red " << false << QColor();
    QTest::newRow("empty") << "" << false << QColor();
    QTest::newRow("button name") << "pbSetR" << false << QColor();
}

void TestLedPresets::byName()
{
    QFETCH(QString, name);
    QFETCH(bool, found);
    QFETCH(QColor, colour);

    const LedPreset *preset = ledPresetByName(name);
    QCOMPARE(preset != nullptr, found);
    if (!preset)
        return;
    QCOMPARE(QColor(preset->colour.red, preset->colour.green, preset->colour.blue), colour);
    // The window's button for it paints the same colour.
    QCOMPARE(ledPresetByKey(QLatin1Char(preset->key)), preset);
}

QTEST_GUILESS_MAIN(TestLedPresets)
#include "tst_led_presets.moc"
