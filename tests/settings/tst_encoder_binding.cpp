// Binding a rotary encoder of the emulated wheel to the bite point: the
// binding step, the steps it sends, and the binding kept per model in the
// settings store across connections and restarts.
#include "settings_window.h"
#include "wheel_test_main.h"

#include <QSettings>

using namespace settingstest;

namespace {

const QString kWaiting = QStringLiteral("ROTATE ONE ENCODER TO BIND BITEPOINT");
const QString kBound = QStringLiteral("CLEAR BIND ENCODER");
const QString kUnbound = QStringLiteral("ASSIGN ROTARY ENCODER");
const QString kSrd7 = QStringLiteral("QUOR SRD7 Wheel");

QSettings store()
{
    return QSettings(QStringLiteral("Quor Controls"), QStringLiteral("QuorSet"));
}

void storeBinding(const QString &name, const QVariant &up, const QVariant &down)
{
    QSettings s = store();
    s.setValue(name + QStringLiteral("_ENCODER1"), up);
    s.setValue(name + QStringLiteral("_ENCODER2"), down);
}

QVariant stored(const QString &key)
{
    return store().value(key);
}

// Button numbers with the indicators that light for them; all go down in one
// input report and come up in the next.
bool turn(wheeltest::WheelFixture &wheel, const Window &w, const QList<int> &buttons,
          const QStringList &indicators)
{
    auto all = [&w, &indicators](const char *tip) {
        for (const QString &name : indicators)
            if (w.widget(qPrintable(name))->statusTip() != QLatin1String(tip))
                return false;
        return true;
    };
    auto send = [&](bool down) {
        wheel.withWheel([&buttons, down](wheelemu::Wheel &wh) {
            for (int b : buttons)
                down ? wh.press(b) : wh.release(b);
        });
        wheel.sendReports(1);
    };
    send(true);
    if (!QTest::qWaitFor([&] { return all("SHOW"); }, 3000))
        return false;
    send(false);
    return QTest::qWaitFor([&] { return all("HIDE"); }, 3000);
}

QStringList liveBiteWords(const wheelemu::Wheel::Settings &s, const QList<int> &words)
{
    QStringList lines;
    for (int word : words)
        lines << paddleConfig(word, false, s.rightMax, s.leftMax, s.rightMin, s.leftMin);
    return lines;
}

wheeltest::WheelFixture::Options model(const QString &code)
{
    wheeltest::WheelFixture::Options options;
    options.model = code.toStdString();
    return options;
}

} // namespace

class TestEncoderBinding : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void bindEitherButton_data();
    void bindEitherButton();
    void steps_data();
    void steps();
    void storedPerModel_data();
    void storedPerModel();
    void survivesRestart();
};

void TestEncoderBinding::initTestCase()
{
    usePrivateSettingsStore();
}

void TestEncoderBinding::init()
{
    store().clear();
}

void TestEncoderBinding::bindEitherButton_data()
{
    QTest::addColumn<QList<int>>("buttons");
    QTest::addColumn<QStringList>("indicators");
    QTest::addColumn<int>("up");
    QTest::addColumn<int>("down");

    QTest::newRow("lower button of a pair") << QList<int>{3} << QStringList{"pbID5L"} << 3 << 2;
    QTest::newRow("higher button of a pair") << QList<int>{4} << QStringList{"pbID5R"} << 3 << 2;
    QTest::newRow("last pair") << QList<int>{46} << QStringList{"pbJsRL"} << 46 << 45;
    QTest::newRow("not an encoder, then one") << QList<int>{1, 6} << QStringList{"pbIB1", "pbID1R"} << 5 << 4;
}

void TestEncoderBinding::bindEitherButton()
{
    QFETCH(QList<int>, buttons);
    QFETCH(QStringList, indicators);
    QFETCH(int, up);
    QFETCH(int, down);

    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Window w;
    QVERIFY(w.settle(wheel));
    auto *button = w.widget<QPushButton>("pbEncoder");
    QCOMPARE(button->text(), kUnbound);

    // A second click while waiting keeps waiting.
    for (int click = 0; click < 2; ++click) {
        button->click();
        QCOMPARE(button->text(), kWaiting);
        QVERIFY(button->isChecked());
    }
    for (int i = 0; i < buttons.size(); ++i) {
        QVERIFY(turn(wheel, w, {buttons[i]}, {indicators[i]}));
        if (i + 1 < buttons.size())
            QCOMPARE(button->text(), kWaiting);
    }
    QCOMPARE(button->text(), kBound);
    QVERIFY(!button->isChecked());
    QCOMPARE(stored(kSrd7 + QStringLiteral("_ENCODER1")).toInt(), up);
    QCOMPARE(stored(kSrd7 + QStringLiteral("_ENCODER2")).toInt(), down);
    QCOMPARE(sent(wheel), liveBiteWords(flash(wheel), {5000}));

    // Clicking a bound button forgets the binding.
    button->click();
    QCOMPARE(button->text(), kUnbound);
    QVERIFY(!button->isChecked());
    QVERIFY(!store().contains(kSrd7 + QStringLiteral("_ENCODER1")));
    QVERIFY(!store().contains(kSrd7 + QStringLiteral("_ENCODER2")));
}

void TestEncoderBinding::steps_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<QList<int>>("buttons");
    QTest::addColumn<QList<int>>("sentWords");

    // Bound: up is button 4 (index 3), down button 3 (index 2).
    QTest::newRow("up") << 5000 << QList<int>{4} << QList<int>{5001};
    QTest::newRow("down") << 5000 << QList<int>{3} << QList<int>{4999};
    QTest::newRow("up at 10000") << 10000 << QList<int>{4} << QList<int>{10000};
    QTest::newRow("down at 0") << 0 << QList<int>{3} << QList<int>{0};
    QTest::newRow("both in one report") << 5000 << QList<int>{3, 4} << QList<int>{5001, 5000};
    QTest::newRow("another encoder") << 5000 << QList<int>{6} << QList<int>{};
}

void TestEncoderBinding::steps()
{
    QFETCH(int, start);
    QFETCH(QList<int>, buttons);
    QFETCH(QList<int>, sentWords);

    storeBinding(kSrd7, 3, 2);
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    preset(wheel, paddleConfig(start, true, 4000, 3900, 100, 200));
    Window w;
    QVERIFY(w.settle(wheel));
    QCOMPARE(w.text("pbEncoder"), kBound);

    const QStringList names{"pbID5L", "pbID5R", "pbID1L", "pbID1R"};
    QStringList indicators;
    for (int b : buttons)
        indicators << names[b - 3];
    QVERIFY(turn(wheel, w, buttons, indicators));

    QCOMPARE(sent(wheel), liveBiteWords(flash(wheel), sentWords));
    const int end = sentWords.isEmpty() ? start : sentWords.last();
    QCOMPARE(w.widget<QAbstractSlider>("hsBite")->value(), end);
    QCOMPARE(live(wheel).biteWord, end);
    // Live values only: the flash keeps the start.
    QCOMPARE(flash(wheel).biteWord, start);
}

void TestEncoderBinding::storedPerModel_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<int>("button");
    QTest::addColumn<QString>("indicator");
    QTest::addColumn<int>("step");

    QTest::newRow("SRD7, its own encoder") << "SRD7" << 6 << "pbID1R" << 1;
    QTest::newRow("SRD7, the VLN6's encoder") << "SRD7" << 20 << "pbID3R" << 0;
    QTest::newRow("VLN6, its own encoder") << "VLN6" << 19 << "pbID3L" << -1;
    QTest::newRow("VLN6, the SRD7's encoder") << "VLN6" << 6 << "pbID1R" << 0;
    // 256 is cut to 8 bits: button index 0 raises the bite point.
    QTest::newRow("ULMAR, 256 reads as 0") << "ULMAR" << 1 << "pbIB1" << 1;
}

void TestEncoderBinding::storedPerModel()
{
    QFETCH(QString, code);
    QFETCH(int, button);
    QFETCH(QString, indicator);
    QFETCH(int, step);

    storeBinding(kSrd7, 5, 4);
    storeBinding(QStringLiteral("QUOR VLN6 Wheel"), 19, 18);
    storeBinding(QStringLiteral("QUOR ULMAR Wheel"), 256, 2);
    wheeltest::WheelFixture wheel(model(code));
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Window w;
    QVERIFY(w.settle(wheel));
    QCOMPARE(w.text("pbEncoder"), kBound);
    const int start = w.widget<QAbstractSlider>("hsBite")->value();

    QVERIFY(turn(wheel, w, {button}, {indicator}));
    QCOMPARE(w.widget<QAbstractSlider>("hsBite")->value(), start + step);
    QCOMPARE(sent(wheel).size(), step == 0 ? 0 : 1);
}

void TestEncoderBinding::survivesRestart()
{
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    {
        Window first;
        QVERIFY(first.settle(wheel));
        first.widget<QPushButton>("pbEncoder")->click();
        QVERIFY(turn(wheel, first, {4}, {"pbID5R"}));
        QCOMPARE(first.text("pbEncoder"), kBound);
    }
    QTRY_VERIFY(!deviceHandle().isOpen());

    Window second;
    QVERIFY(second.settle(wheel));
    QCOMPARE(second.text("pbEncoder"), kBound);
    QVERIFY(turn(wheel, second, {4}, {"pbID5R"}));
    QCOMPARE(second.widget<QAbstractSlider>("hsBite")->value(), 5001);
    QCOMPARE(live(wheel).biteWord, 5001);
}

WHEEL_TEST_MAIN(TestEncoderBinding)
#include "tst_encoder_binding.moc"
