// The shifter threshold calibrations and the clutch travel calibration,
// against the emulated wheel: the reports sent when a calibration starts and
// ends, and the range the wheel stores.
#include "settings_window.h"
#include "wheel_test_main.h"

#include <QProgressBar>

using namespace settingstest;

namespace {

// A little longer than the window's wait before it empties the range.
constexpr int kPastSettleMs = 700;

} // namespace

class TestPaddleCalibration : public QObject
{
    Q_OBJECT

private slots:
    void thresholds_data();
    void thresholds();
    void clutchTravel_data();
    void clutchTravel();
    void secondSideEmptiesTheFirstAgain();
};

void TestPaddleCalibration::thresholds_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("item");
    QTest::addColumn<int>("sensor");
    QTest::addColumn<QString>("pressText");

    QTest::newRow("left") << "pbBearLCa" << 0x03 << 0 << "PRESS AND HOLD LEFT SHIFTER THEN CLICK ME";
    QTest::newRow("right") << "pbBearRCa" << 0x05 << 1 << "PRESS AND HOLD RIGHT SHIFTER THEN CLICK ME";
    QTest::newRow("extra left") << "pbBearExLCa" << 0x06 << 2
                                << "PRESS AND HOLD EXTRAL SHIFTER THEN CLICK ME";
    QTest::newRow("extra right") << "pbBearExRCa" << 0x07 << 3
                                 << "PRESS AND HOLD EXTRAR SHIFTER THEN CLICK ME";
}

void TestPaddleCalibration::thresholds()
{
    QFETCH(QString, button);
    QFETCH(int, item);
    QFETCH(int, sensor);
    QFETCH(QString, pressText);

    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Window w;
    QVERIFY(w.settle(wheel));
    auto *b = w.widget<QPushButton>(qPrintable(button));

    b->click();
    QVERIFY(b->isChecked());
    QCOMPARE(b->text(), pressText);
    QCOMPARE(sent(wheel), QStringList{setItem(item, 0, false)});
    QCOMPARE(live(wheel).shifterThresholds[std::size_t(sensor)], 0u);

    // The user holds the paddle, then clicks again: the wheel takes its reading.
    wheel.withWheel([sensor](wheelemu::Wheel &wh) { wh.setShifterReading(sensor, 1500 + sensor); });
    b->click();
    QVERIFY(!b->isChecked());
    QCOMPARE(b->text(), QStringLiteral("CALIBRATE"));
    QCOMPARE(sent(wheel), (QStringList{setItem(item, 0, false), setItem(item, 0xFFFFFFFF, true)}));
    QCOMPARE(flash(wheel).shifterThresholds[std::size_t(sensor)], quint32(1500 + sensor));
    QCOMPARE(w.prompts.shown(), QStringList());
}

void TestPaddleCalibration::clutchTravel_data()
{
    QTest::addColumn<bool>("left");
    QTest::addColumn<QString>("run");
    QTest::addColumn<int>("storedMin");
    QTest::addColumn<int>("storedMax");

    for (bool left : {true, false}) {
        const char *side = left ? "left" : "right";
        QTest::addRow("%s: readings widen the range", side) << left << "readings" << 200 << 3900;
        QTest::addRow("%s: stopped within 500 ms", side) << left << "early" << 0 << 4096;
        QTest::addRow("%s: no report", side) << left << "silent" << 4096 << 0;
    }
}

void TestPaddleCalibration::clutchTravel()
{
    QFETCH(bool, left);
    QFETCH(QString, run);
    QFETCH(int, storedMin);
    QFETCH(int, storedMax);

    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Window w;
    QVERIFY(w.settle(wheel));
    const wheelemu::Wheel::Settings before = flash(wheel);
    auto *button = w.widget<QPushButton>(left ? "pbCalL" : "pbCalR");
    auto *bar = w.widget<QProgressBar>(left ? "pgAdcL" : "pgAdcR");

    button->click();
    QCOMPARE(button->text(), QStringLiteral("SAVE"));
    // The wheel works over the full raw range meanwhile, as a live value.
    QCOMPARE(sent(wheel), QStringList{paddleConfig(before.biteWord, false, left ? before.rightMax : 4096,
                                                   left ? 4096 : before.leftMax, left ? before.rightMin : 0,
                                                   left ? 0 : before.leftMin)});

    if (run != QLatin1String("early"))
        QTest::qWait(kPastSettleMs);
    if (run == QLatin1String("readings")) {
        // The other paddle moves too; only the calibrated side counts.
        for (quint16 value : {300, 3900, 200}) {
            const quint16 other = quint16(4000 - value);
            wheel.setPaddles(left ? value : other, left ? other : value);
            QTRY_COMPARE(bar->value(), int(value));
        }
    }
    button->click();
    QCOMPARE(button->text(), QStringLiteral("CALIBRATE"));
    QTest::qWait(run == QLatin1String("early") ? kPastSettleMs : 0);

    const wheelemu::Wheel::Settings after = flash(wheel);
    QCOMPARE(int(left ? after.leftMin : after.rightMin), storedMin);
    QCOMPARE(int(left ? after.leftMax : after.rightMax), storedMax);
    QCOMPARE(left ? after.rightMin : after.leftMin, left ? before.rightMin : before.leftMin);
    QCOMPARE(left ? after.rightMax : after.leftMax, left ? before.rightMax : before.leftMax);
    QCOMPARE(after.biteWord, before.biteWord);
    // A live send afterwards carries the same range: nothing emptied it late.
    w.widget<QAbstractButton>("rbPadL")->click();
    const wheelemu::Wheel::Settings now = live(wheel);
    QCOMPARE(int(left ? now.leftMin : now.rightMin), storedMin);
    QCOMPARE(int(left ? now.leftMax : now.rightMax), storedMax);
    QCOMPARE(w.prompts.shown(), QStringList());
}

void TestPaddleCalibration::secondSideEmptiesTheFirstAgain()
{
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Window w;
    QVERIFY(w.settle(wheel));

    w.widget<QPushButton>("pbCalL")->click();
    QTest::qWait(kPastSettleMs);
    wheel.setPaddles(1000, 0);
    QTRY_COMPARE(w.widget<QProgressBar>("pgAdcL")->value(), 1000);
    // Starting the right side empties both ranges half a second later.
    w.widget<QPushButton>("pbCalR")->click();
    QTest::qWait(kPastSettleMs);
    w.widget<QPushButton>("pbCalL")->click();
    w.widget<QPushButton>("pbCalR")->click();

    const wheelemu::Wheel::Settings after = flash(wheel);
    QCOMPARE(int(after.leftMin), 4096);
    QCOMPARE(int(after.leftMax), 0);
    QCOMPARE(int(after.rightMin), 4096);
    QCOMPARE(int(after.rightMax), 0);
}

WHEEL_TEST_MAIN(TestPaddleCalibration)
#include "tst_paddle_calibration.moc"
