// Binding a rotary encoder of the emulated wheel to the bite point: the
// binding step, the steps it sends, and the binding kept per model in the
// settings store across connections and restarts.
#include "settings_window.h"
#include "wheel_test_main.h"

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

void storeBinding(const QString &name, int up, int down)
{
    QSettings s = store();
    s.setValue(name + QStringLiteral("_ENCODER1"), up);
    s.setValue(name + QStringLiteral("_ENCODER2"), down);
}

// The buttons (numbers, with the indicators that light for them) go down in
// one input report and come up in the next.
bool turn(Rig &rig, const QList<int> &buttons, const QStringList &indicators)
{
    auto all = [&rig, &indicators](const char *tip) {
        for (const QString &name : indicators)
            if (rig.widget(qPrintable(name))->statusTip() != QLatin1String(tip))
                return false;
        return true;
    };
    for (bool down : {true, false}) {
        rig.wheel.withWheel([&buttons, down](wheelemu::Wheel &w) {
            for (int b : buttons)
                down ? w.press(b) : w.release(b);
        });
        rig.wheel.sendReports(1);
        if (!QTest::qWaitFor([&] { return all(down ? "SHOW" : "HIDE"); }, 3000))
            return false;
    }
    return true;
}

QStringList liveBiteWords(const Settings &s, const QList<int> &words)
{
    QStringList lines;
    for (int word : words)
        lines << paddleConfig(s, word, false);
    return lines;
}

} // namespace

class TestEncoderBinding : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { usePrivateSettingsStore(); }
    void init() { store().clear(); }
    void bindEitherButton_data();
    void bindEitherButton();
    void steps_data();
    void steps();
    void storedPerModel_data();
    void storedPerModel();
    void survivesRestart();
};

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
    Rig rig;
    CONNECT(rig);
    QCOMPARE(rig.text("pbEncoder"), kUnbound);

    // A second click while waiting keeps waiting.
    for (int click = 0; click < 2; ++click) {
        rig.click("pbEncoder");
        QCOMPARE(rig.text("pbEncoder"), kWaiting);
        QVERIFY(rig.button("pbEncoder")->isChecked());
    }
    for (int i = 0; i < buttons.size(); ++i) {
        QCOMPARE(rig.text("pbEncoder"), kWaiting);
        QVERIFY(turn(rig, {buttons[i]}, {indicators[i]}));
    }
    QCOMPARE(rig.text("pbEncoder"), kBound);
    QVERIFY(!rig.button("pbEncoder")->isChecked());
    QCOMPARE(store().value(kSrd7 + QStringLiteral("_ENCODER1")).toInt(), up);
    QCOMPARE(store().value(kSrd7 + QStringLiteral("_ENCODER2")).toInt(), down);
    QCOMPARE(rig.sent(), liveBiteWords(rig.flash(), {5000}));

    // Clicking a bound button forgets the binding.
    rig.click("pbEncoder");
    QCOMPARE(rig.text("pbEncoder"), kUnbound);
    QVERIFY(!rig.button("pbEncoder")->isChecked());
    QVERIFY(store().allKeys().isEmpty());
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
    Rig rig;
    rig.preset(paddleConfig(start, true, 4000, 3900, 100, 200));
    CONNECT(rig);
    QCOMPARE(rig.text("pbEncoder"), kBound);

    const QStringList names{"pbID5L", "pbID5R", "pbID1L", "pbID1R"};
    QStringList indicators;
    for (int b : buttons)
        indicators << names[b - 3];
    QVERIFY(turn(rig, buttons, indicators));

    QCOMPARE(rig.sent(), liveBiteWords(rig.flash(), sentWords));
    const int end = sentWords.isEmpty() ? start : sentWords.last();
    QCOMPARE(rig.slider("hsBite")->value(), end);
    QCOMPARE(rig.live().biteWord, end);
    QCOMPARE(rig.flash().biteWord, start); // live values only
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
    Rig rig(qPrintable(code));
    CONNECT(rig);
    QCOMPARE(rig.text("pbEncoder"), kBound);
    const int start = rig.slider("hsBite")->value();

    QVERIFY(turn(rig, {button}, {indicator}));
    QCOMPARE(rig.slider("hsBite")->value(), start + step);
    QCOMPARE(rig.sent().size(), step == 0 ? 0 : 1);
}

void TestEncoderBinding::survivesRestart()
{
    Rig rig;
    CONNECT(rig);
    rig.click("pbEncoder");
    QVERIFY(turn(rig, {4}, {"pbID5R"}));
    QCOMPARE(rig.text("pbEncoder"), kBound);

    // A new window is a new run of the program.
    CONNECT(rig);
    QCOMPARE(rig.text("pbEncoder"), kBound);
    QVERIFY(turn(rig, {4}, {"pbID5R"}));
    QCOMPARE(rig.slider("hsBite")->value(), 5001);
    QCOMPARE(rig.live().biteWord, 5001);
}

WHEEL_TEST_MAIN(TestEncoderBinding)
#include "tst_encoder_binding.moc"
