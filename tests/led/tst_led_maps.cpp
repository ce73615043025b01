#include "led/led_maps.h"

#include <QSet>
#include <QtTest>

class TestLedMaps : public QObject
{
    Q_OBJECT

private slots:
    void selection_data();
    void selection();
    void everyButtonIsAnLedButton();
};

void TestLedMaps::selection_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("map"); // empty: no map
    QTest::addColumn<int>("leds");
    QTest::newRow("VLN6") << QStringLiteral("QUOR VLN6 Wheel") << QStringLiteral("VLN6/H-ZET") << 43;
    QTest::newRow("H-ZET") << QStringLiteral("QUOR H-ZET Wheel") << QStringLiteral("VLN6/H-ZET") << 43;
    QTest::newRow("KLINO4") << QStringLiteral("QUOR KLINO4 Wheel") << QStringLiteral("KLINO4") << 26;
    QTest::newRow("OV410") << QStringLiteral("QUOR OV410 Wheel") << QStringLiteral("OV410") << 43;
    QTest::newRow("ULMAR") << QStringLiteral("QUOR ULMAR Wheel") << QStringLiteral("ULMAR") << 89;
    QTest::newRow("SRD7") << QStringLiteral("QUOR SRD7 Wheel") << QStringLiteral("SRD7") << 47;
    QTest::newRow("PELIX") << QStringLiteral("QUOR PELIX Wheel") << QStringLiteral("PELIX") << 31;
    QTest::newRow("H-MIRA has none") << QStringLiteral("QUOR H-MIRA Wheel") << QString() << 0;
    QTest::newRow("case-sensitive") << QStringLiteral("quor h-zet wheel") << QString() << 0;
    QTest::newRow("unknown") << QStringLiteral("Gamepad") << QString() << 0;
    // With two codes the earlier one in the fixed test order decides, not
    // the earlier one in the name.
    QTest::newRow("PELIX before VLN6 in the name")
        << QStringLiteral("PELIX VLN6") << QStringLiteral("VLN6/H-ZET") << 43;
    QTest::newRow("SRD7 and KLINO4") << QStringLiteral("SRD7 KLINO4") << QStringLiteral("KLINO4") << 26;
}

void TestLedMaps::selection()
{
    QFETCH(QString, name);
    QFETCH(QString, map);
    QFETCH(int, leds);
    const LedMap *found = ledMapFor(name);
    if (map.isEmpty()) {
        QVERIFY(found == nullptr);
        return;
    }
    QVERIFY(found != nullptr);
    QCOMPARE(QString::fromLatin1(found->name), map);
    QCOMPARE(int(found->leds.size()), leds);
}

void TestLedMaps::everyButtonIsAnLedButton()
{
    // The 45 LED buttons of the RGB page (numbers 7 and 8 are not used).
    QSet<QString> buttons;
    for (int n : {1, 2, 3, 4, 5, 6, 9, 10, 11, 12, 13, 14})
        buttons << QStringLiteral("pbB%1").arg(n);
    for (int n : {3, 4, 13, 16, 23, 26})
        buttons << QStringLiteral("pbD%1").arg(n);
    for (int n = 1; n <= 19; ++n)
        buttons << QStringLiteral("pbT%1").arg(n);
    buttons << QStringLiteral("pbTL1") << QStringLiteral("pbTL2") << QStringLiteral("pbTL3")
            << QStringLiteral("pbTR1") << QStringLiteral("pbTR2") << QStringLiteral("pbTR3")
            << QStringLiteral("pbXL") << QStringLiteral("pbXR");
    QCOMPARE(buttons.size(), 45);

    const char *names[] = {"VLN6", "KLINO4", "OV410", "ULMAR", "SRD7", "PELIX"};
    for (const char *code : names) {
        const LedMap *map = ledMapFor(QString::fromLatin1(code));
        QVERIFY(map);
        int led = 0;
        for (const LedMapRow &row : map->leds) {
            const QString where = QStringLiteral("%1 LED %2").arg(QLatin1String(code)).arg(led++);
            QVERIFY2(buttons.contains(QLatin1String(row.button)), qPrintable(where));
            if (row.readButton)
                QVERIFY2(buttons.contains(QLatin1String(row.readButton)), qPrintable(where));
        }
    }
}

QTEST_APPLESS_MAIN(TestLedMaps)
#include "tst_led_maps.moc"
