// The pulse widths, the paddles page and clearing the flash, against the
// emulated wheel: the reports on the wire, what the wheel keeps live and in
// flash, and the message boxes the user sees.
#include "settings_window.h"
#include "wheel_test_main.h"

#include <QRadioButton>

using namespace settingstest;

namespace {

const QString kSaved = QStringLiteral("Success: Setting saved.");
const QString kNotSaved = QStringLiteral("Error: Can not save setting.");
constexpr int kEncoderItem = 0x04, kShifterItem = 0x0a, kClutchItem = 0x08, kExtraShifterItem = 0x09;

wheeltest::WheelFixture::Options model(const char *code)
{
    wheeltest::WheelFixture::Options options;
    options.model = code;
    return options;
}

QString storedPaddleConfig(const wheelemu::Wheel::Settings &s, int biteWord, bool save)
{
    return paddleConfig(biteWord, save, s.rightMax, s.leftMax, s.rightMin, s.leftMin);
}

} // namespace

class TestSettingsPages : public QObject
{
    Q_OBJECT

private slots:
    void pulseWidthLoads_data();
    void pulseWidthLoads();
    void liveOnRelease_data();
    void liveOnRelease();
    void encoderSaveOnlyOnChange();
    void encoderFailedSave();
    void biteWordLoads_data();
    void biteWordLoads();
    void paddlesLiveThenSaved();
    void enableWritesKeepReplyTail_data();
    void enableWritesKeepReplyTail();
    void closeStoresBitePointSilently();
    void clearFlash_data();
    void clearFlash();
    void nothingWithoutWheel_data();
    void nothingWithoutWheel();
};

void TestSettingsPages::pulseWidthLoads_data()
{
    QTest::addColumn<int>("item");
    QTest::addColumn<QString>("slider");
    QTest::addColumn<qint64>("stored");
    QTest::addColumn<int>("shown");

    for (auto [item, slider] : {std::pair{kEncoderItem, "hsTrigger"}, std::pair{kShifterItem, "hsShifter"}}) {
        QTest::addRow("%s 10", slider) << item << slider << qint64(10) << 40;
        QTest::addRow("%s 1000", slider) << item << slider << qint64(1000) << 240;
        QTest::addRow("%s nothing stored", slider) << item << slider << qint64(0xFFFFFFFF) << 100;
    }
}

void TestSettingsPages::pulseWidthLoads()
{
    QFETCH(int, item);
    QFETCH(QString, slider);
    QFETCH(qint64, stored);
    QFETCH(int, shown);

    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    preset(wheel, setItem(item, quint32(stored), true));
    Window w;
    QVERIFY(w.settle(wheel));

    auto *s = w.widget<QAbstractSlider>(qPrintable(slider));
    QCOMPARE(s->value(), shown);
    QCOMPARE(s->statusTip(), QString::number(shown));
    const char *label = item == kEncoderItem ? "lbTrigger" : "lbShifter";
    QCOMPARE(w.widget<QLabel>(label)->text(), QStringLiteral("%1ms").arg(shown));
    if (item == kEncoderItem) {
        w.widget<QPushButton>("pbSaveEnc")->click();
        QCOMPARE(sent(wheel), QStringList());
        QCOMPARE(w.prompts.shown(), QStringList{kSaved});
    }
}

void TestSettingsPages::liveOnRelease_data()
{
    QTest::addColumn<QString>("slider");
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("item");
    QTest::newRow("encoder") << "hsTrigger"
                             << "lbTrigger" << kEncoderItem;
    QTest::newRow("shifter") << "hsShifter"
                             << "lbShifter" << kShifterItem;
}

void TestSettingsPages::liveOnRelease()
{
    QFETCH(QString, slider);
    QFETCH(QString, label);
    QFETCH(int, item);

    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Window w;
    QVERIFY(w.settle(wheel));

    // Moving without letting go only follows in the label.
    auto *s = w.widget<QAbstractSlider>(qPrintable(slider));
    s->setSliderDown(true);
    s->setValue(77);
    QCOMPARE(w.widget<QLabel>(qPrintable(label))->text(), QStringLiteral("77ms"));
    QCOMPARE(sent(wheel), QStringList());
    s->setValue(150);
    s->setSliderDown(false);
    QCOMPARE(sent(wheel), QStringList{setItem(item, 150, false)});
    const auto kept = [item](const wheelemu::Wheel::Settings &st) {
        return item == kEncoderItem ? st.encoderPulseWidth : st.shifterPulseWidth;
    };
    QCOMPARE(kept(live(wheel)), 150);
    QCOMPARE(kept(flash(wheel)), 100);
    QCOMPARE(s->statusTip(), QStringLiteral("100"));
}

void TestSettingsPages::encoderSaveOnlyOnChange()
{
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Window w;
    QVERIFY(w.settle(wheel));

    w.widget<QAbstractSlider>("hsTrigger")->setValue(180);
    w.widget<QPushButton>("pbSaveEnc")->click();
    QCOMPARE(sent(wheel), QStringList{setItem(kEncoderItem, 180, true)});
    QCOMPARE(flash(wheel).encoderPulseWidth, 180);
    QCOMPARE(w.prompts.shown(), QStringList{kSaved});

    wheel.clearTranscript();
    w.widget<QPushButton>("pbSaveEnc")->click();
    QCOMPARE(sent(wheel), QStringList());
    QCOMPARE(w.prompts.shown(), (QStringList{kSaved, kSaved}));
}

void TestSettingsPages::encoderFailedSave()
{
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Window w;
    QVERIFY(w.settle(wheel));

    w.widget<QAbstractSlider>("hsTrigger")->setValue(200);
    wheel.failSetFeature(1);
    w.widget<QPushButton>("pbSaveEnc")->click();
    QCOMPARE(w.prompts.shown(), QStringList{kNotSaved});
    QCOMPARE(w.prompts.messages.first().kind, UserPrompts::MessageKind::Critical);
    QCOMPARE(flash(wheel).encoderPulseWidth, 100);

    // The stored copy already took the value: the next save has nothing to send.
    wheel.clearTranscript();
    w.widget<QPushButton>("pbSaveEnc")->click();
    QCOMPARE(sent(wheel), QStringList());
    QCOMPARE(w.prompts.shown(), (QStringList{kNotSaved, kSaved}));
    QCOMPARE(flash(wheel).encoderPulseWidth, 100);
}

void TestSettingsPages::biteWordLoads_data()
{
    QTest::addColumn<int>("biteWord");
    QTest::addColumn<QString>("radio");
    QTest::addColumn<int>("slider");
    QTest::addColumn<QString>("label");
    QTest::addColumn<bool>("saveSendsConfig");

    QTest::newRow("0") << 0 << "rbPadL" << 0 << "0.00%" << false;
    QTest::newRow("5") << 5 << "rbPadL" << 5 << "0.05%" << false;
    QTest::newRow("10000") << 10000 << "rbPadL" << 10000 << "100.00%" << false;
    QTest::newRow("10001") << 10001 << "rbPadR" << 0 << "0.00%" << false;
    QTest::newRow("12345") << 12345 << "rbPadR" << 2344 << "23.44%" << false;
    QTest::newRow("20001") << 20001 << "rbPadR" << 10000 << "100.00%" << false;
    // Reads as no paddle, which saves as 0xFFFF: a change.
    QTest::newRow("20002") << 20002 << "rbPadNo" << 5000 << "50.00%" << true;
    QTest::newRow("0xFFFF") << 0xFFFF << "rbPadNo" << 5000 << "50.00%" << false;
}

void TestSettingsPages::biteWordLoads()
{
    QFETCH(int, biteWord);
    QFETCH(QString, radio);
    QFETCH(int, slider);
    QFETCH(QString, label);
    QFETCH(bool, saveSendsConfig);

    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    preset(wheel, paddleConfig(biteWord, true, 4000, 3900, 100, 200));
    Window w;
    QVERIFY(w.settle(wheel));

    QVERIFY(w.widget<QRadioButton>(qPrintable(radio))->isChecked());
    QCOMPARE(w.widget<QAbstractSlider>("hsBite")->value(), slider);
    QCOMPARE(w.widget<QLabel>("lbBite")->text(), label);
    QCOMPARE(w.widget("hsBite")->statusTip(), QString::number(biteWord));

    // An unchanged page only asks for the two enables; a save also carries
    // the calibration words as loaded.
    QStringList expected{itemQuery(kExtraShifterItem), itemQuery(kClutchItem)};
    if (saveSendsConfig)
        expected.prepend(paddleConfig(0xFFFF, true, 4000, 3900, 100, 200));
    w.widget<QPushButton>("pbSaveP")->click();
    QCOMPARE(sent(wheel), expected);
    QCOMPARE(w.prompts.shown(), QStringList{kSaved});
}

void TestSettingsPages::paddlesLiveThenSaved()
{
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Window w;
    QVERIFY(w.settle(wheel));
    const wheelemu::Wheel::Settings stored = flash(wheel);
    QCOMPARE(stored.biteWord, 5000);

    w.widget<QRadioButton>("rbPadR")->click();
    w.drag("hsBite", 7000);
    QCOMPARE(w.widget<QLabel>("lbBite")->text(), QStringLiteral("70.00%"));
    // No paddle: the slider stays where it was.
    w.widget<QRadioButton>("rbPadNo")->click();
    QCOMPARE(w.widget<QAbstractSlider>("hsBite")->value(), 7000);
    QCOMPARE(sent(wheel),
             (QStringList{storedPaddleConfig(stored, 15001, false), storedPaddleConfig(stored, 17001, false),
                          storedPaddleConfig(stored, 0xFFFF, false)}));
    QCOMPARE(live(wheel).biteWord, 0xFFFF);
    QCOMPARE(flash(wheel).biteWord, 5000);

    wheel.clearTranscript();
    w.widget<QRadioButton>("rbPadL")->click();
    w.widget<QPushButton>("pbSaveP")->click();
    QCOMPARE(sent(wheel),
             (QStringList{storedPaddleConfig(stored, 7000, false), storedPaddleConfig(stored, 7000, true),
                          itemQuery(kExtraShifterItem), itemQuery(kClutchItem)}));
    QCOMPARE(flash(wheel).biteWord, 7000);
    QCOMPARE(w.widget("hsBite")->statusTip(), QStringLiteral("7000"));
    QCOMPARE(w.prompts.shown(), QStringList{kSaved});
}

void TestSettingsPages::enableWritesKeepReplyTail_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<int>("item");
    QTest::newRow("clutches") << "cbClutch" << kClutchItem;
    QTest::newRow("extra shifters") << "cbShifter" << kExtraShifterItem;
}

void TestSettingsPages::enableWritesKeepReplyTail()
{
    QFETCH(QString, box);
    QFETCH(int, item);

    // ULMAR has both, enabled.
    wheeltest::WheelFixture wheel(model("ULMAR"));
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Window w;
    QVERIFY(w.settle(wheel));
    QVERIFY(w.widget<QAbstractButton>("cbClutch")->isChecked());
    QVERIFY(w.widget<QAbstractButton>("cbShifter")->isChecked());
    wheel.withWheel([](wheelemu::Wheel &wh) { wh.setItemReplyTail(0xA5); });

    w.widget<QAbstractButton>(qPrintable(box))->setChecked(false);
    w.widget<QPushButton>("pbSaveP")->click();

    const QString write = report({0x02, 0x0c, item, 0xff, 0x00, 0x00, 0x00, 0xef, 0xa5, 0xa5,
                                  0xa5, 0xa5, 0xa5, 0xa5, 0xa5, 0xa5, 0xa5, 0xa5, 0xa5, 0xa5});
    QStringList expected{itemQuery(kExtraShifterItem), itemQuery(kClutchItem)};
    expected.insert(item == kExtraShifterItem ? 1 : 2, write);
    QCOMPARE(sent(wheel), expected);
    const wheelemu::Wheel::Settings stored = flash(wheel);
    QCOMPARE(item == kClutchItem ? stored.clutchesEnabled : stored.extraShiftersEnabled, 0xFFu);
    QCOMPARE(item == kClutchItem ? stored.extraShiftersEnabled : stored.clutchesEnabled, 1u);
    QCOMPARE(w.prompts.shown(), QStringList{kSaved});
}

void TestSettingsPages::closeStoresBitePointSilently()
{
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Window w;
    QVERIFY(w.settle(wheel));

    w.drag("hsBite", 1234);
    QCOMPARE(flash(wheel).biteWord, 5000);
    w.widget<QPushButton>("pbClose")->click();
    QCOMPARE(flash(wheel).biteWord, 1234);
    QCOMPARE(w.prompts.shown(), QStringList());
    QVERIFY(!deviceHandle().isOpen());
}

void TestSettingsPages::clearFlash_data()
{
    QTest::addColumn<bool>("yes");
    QTest::newRow("No") << false;
    QTest::newRow("Yes") << true;
}

void TestSettingsPages::clearFlash()
{
    QFETCH(bool, yes);

    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    preset(wheel, setItem(kEncoderItem, 150, true));
    Window w;
    QVERIFY(w.settle(wheel));
    QCOMPARE(w.widget<QAbstractSlider>("hsTrigger")->value(), 150);

    w.prompts.questionAnswer = yes ? QMessageBox::Yes : QMessageBox::No;
    w.widget<QPushButton>("pbClearFlash")->click();
    QVERIFY(!w.prompts.messages.isEmpty());
    const UserPrompts::Message &question = w.prompts.messages.first();
    QCOMPARE(question.kind, UserPrompts::MessageKind::Question);
    QCOMPARE(question.title, QStringLiteral("Notify"));
    QCOMPARE(question.text,
             QStringLiteral("Do you want to continue?\nThis operation will delete all the settings "
                            "stored in the device flash memory."));
    QCOMPARE(question.buttons, QMessageBox::StandardButtons(QMessageBox::Yes));
    QCOMPARE(question.defaultButton, QMessageBox::No);
    if (!yes) {
        QCOMPARE(w.prompts.messages.size(), 1);
        QCOMPARE(sent(wheel), QStringList());
        QCOMPARE(flash(wheel).encoderPulseWidth, 150);
        return;
    }
    QCOMPARE(sent(wheel), QStringList{report({0x02, 0x0c, 0x10})});
    QCOMPARE(w.prompts.shown().mid(1), QStringList{QStringLiteral("Notify: Flash data has been cleared.")});
    QCOMPARE(flash(wheel).encoderPulseWidth, 100);

    // The page still holds the old copy: an unchanged save sends nothing.
    wheel.clearTranscript();
    w.widget<QPushButton>("pbSaveEnc")->click();
    QCOMPARE(sent(wheel), QStringList());
    QCOMPARE(flash(wheel).encoderPulseWidth, 100);

    // The next connection shows the wheel's defaults.
    QVERIFY(wheel.unplug());
    QTRY_VERIFY(!deviceHandle().isOpen());
    QVERIFY(wheel.plug());
    QVERIFY(w.settle(wheel));
    QCOMPARE(w.widget<QAbstractSlider>("hsTrigger")->value(), 100);
}

void TestSettingsPages::nothingWithoutWheel_data()
{
    QTest::addColumn<QString>("slot");
    for (const char *slot : {"onSavePageE", "onSavePageP", "onClearFlash", "onTriggerUpdate",
                             "onShifterUpdate", "onPaddleUpdate", "onBearLCalibrate"})
        QTest::newRow(slot) << slot;
}

void TestSettingsPages::nothingWithoutWheel()
{
    QFETCH(QString, slot);
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    QVERIFY(wheel.unplug());
    Window w;
    QTRY_VERIFY(w.widget("pbStatus")->isVisibleTo(w.window.get()));
    QVERIFY(!deviceHandle().isOpen());
    w.prompts.questionAnswer = QMessageBox::Yes;
    w.widget<QAbstractSlider>("hsTrigger")->setValue(200);
    QVERIFY(QMetaObject::invokeMethod(w.window.get(), qPrintable(slot)));
    QCOMPARE(w.prompts.shown(), QStringList());
}

WHEEL_TEST_MAIN(TestSettingsPages)
#include "tst_settings_pages.moc"
