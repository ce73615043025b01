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

struct Side
{
    int min, max;
};
Side side(const Settings &s, bool left)
{
    return left ? Side{s.leftMin, s.leftMax} : Side{s.rightMin, s.rightMax};
}

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
    QTest::addColumn<QString>("pressText");
    QTest::newRow("left") << "pbBearLCa" << 0x03 << "PRESS AND HOLD LEFT SHIFTER THEN CLICK ME";
    QTest::newRow("right") << "pbBearRCa" << 0x05 << "PRESS AND HOLD RIGHT SHIFTER THEN CLICK ME";
    QTest::newRow("extra left") << "pbBearExLCa" << 0x06 << "PRESS AND HOLD EXTRAL SHIFTER THEN CLICK ME";
    QTest::newRow("extra right") << "pbBearExRCa" << 0x07 << "PRESS AND HOLD EXTRAR SHIFTER THEN CLICK ME";
}

void TestPaddleCalibration::thresholds()
{
    QFETCH(QString, button);
    QFETCH(int, item);
    QFETCH(QString, pressText);
    const int sensor = item == 0x03 ? 0 : item - 0x04; // left, right, extra left, extra right
    Rig rig;
    CONNECT(rig);
    const QByteArray name = button.toLatin1();

    rig.click(name);
    QCOMPARE(rig.text(name), pressText);
    QCOMPARE(rig.sent(), QStringList{setItem(item, 0, false)});
    QCOMPARE(rig.live().shifterThresholds[std::size_t(sensor)], 0u);

    // The user holds the paddle, then clicks again: the wheel takes its reading.
    rig.wheel.withWheel([sensor](wheelemu::Wheel &w) { w.setShifterReading(sensor, 1500 + sensor); });
    rig.click(name);
    QCOMPARE(rig.text(name), QStringLiteral("CALIBRATE"));
    QCOMPARE(rig.sent(), (QStringList{setItem(item, 0, false), setItem(item, 0xFFFFFFFF, true)}));
    QCOMPARE(rig.flash().shifterThresholds[std::size_t(sensor)], quint32(1500 + sensor));
    QCOMPARE(rig.prompts.shown(), QStringList());
}

void TestPaddleCalibration::clutchTravel_data()
{
    QTest::addColumn<bool>("left");
    QTest::addColumn<QString>("run");
    QTest::addColumn<int>("storedMin");
    QTest::addColumn<int>("storedMax");
    for (bool left : {true, false}) {
        const char *s = left ? "left" : "right";
        QTest::addRow("%s: readings widen the range", s) << left << "readings" << 200 << 3900;
        QTest::addRow("%s: stopped within 500 ms", s) << left << "early" << 0 << 4096;
        QTest::addRow("%s: no report", s) << left << "silent" << 4096 << 0;
    }
}

void TestPaddleCalibration::clutchTravel()
{
    QFETCH(bool, left);
    QFETCH(QString, run);
    QFETCH(int, storedMin);
    QFETCH(int, storedMax);
    Rig rig;
    CONNECT(rig);
    const Settings before = rig.flash();
    const char *button = left ? "pbCalL" : "pbCalR";

    rig.click(button);
    QCOMPARE(rig.text(button), QStringLiteral("SAVE"));
    // The wheel works over the full raw range meanwhile, as a live value.
    QCOMPARE(rig.sent(), QStringList{paddleConfig(before.biteWord, false, left ? before.rightMax : 4096,
                                                  left ? 4096 : before.leftMax, left ? before.rightMin : 0,
                                                  left ? 0 : before.leftMin)});
    if (run != QLatin1String("early"))
        QTest::qWait(kPastSettleMs);
    if (run == QLatin1String("readings")) {
        // The other paddle moves too; only the calibrated side counts.
        for (quint16 value : {300, 3900, 200}) {
            const quint16 other = quint16(4000 - value);
            rig.wheel.setPaddles(left ? value : other, left ? other : value);
            QTRY_COMPARE(rig.widget<QProgressBar>(left ? "pgAdcL" : "pgAdcR")->value(), int(value));
        }
    }
    rig.click(button);
    QCOMPARE(rig.text(button), QStringLiteral("CALIBRATE"));
    QTest::qWait(run == QLatin1String("early") ? kPastSettleMs : 0);

    const Settings after = rig.flash();
    QCOMPARE(side(after, left).min, storedMin);
    QCOMPARE(side(after, left).max, storedMax);
    QCOMPARE(side(after, !left).min, side(before, !left).min);
    QCOMPARE(side(after, !left).max, side(before, !left).max);
    QCOMPARE(after.biteWord, before.biteWord);
    // A live send afterwards carries the same range: nothing emptied it late.
    rig.click("rbPadL");
    QCOMPARE(side(rig.live(), left).min, storedMin);
    QCOMPARE(side(rig.live(), left).max, storedMax);
}

void TestPaddleCalibration::secondSideEmptiesTheFirstAgain()
{
    Rig rig;
    CONNECT(rig);
    rig.click("pbCalL");
    QTest::qWait(kPastSettleMs);
    rig.wheel.setPaddles(1000, 0);
    QTRY_COMPARE(rig.widget<QProgressBar>("pgAdcL")->value(), 1000);
    // Starting the right side empties both ranges half a second later.
    rig.click("pbCalR");
    QTest::qWait(kPastSettleMs);
    rig.click("pbCalL");
    rig.click("pbCalR");
    for (bool left : {true, false}) {
        QCOMPARE(side(rig.flash(), left).min, 4096);
        QCOMPARE(side(rig.flash(), left).max, 0);
    }
}

WHEEL_TEST_MAIN(TestPaddleCalibration)
#include "tst_paddle_calibration.moc"
