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
constexpr int kEncoder = 0x04, kShifter = 0x0a, kClutches = 0x08, kExtraShifters = 0x09;

int32_t pulseWidth(const Settings &s, int item)
{
    return item == kEncoder ? s.encoderPulseWidth : s.shifterPulseWidth;
}

} // namespace

class TestSettingsPages : public QObject
{
    Q_OBJECT

private slots:
    void pulseWidthLoads_data();
    void pulseWidthLoads();
    void pulseWidthLiveOnRelease_data();
    void pulseWidthLiveOnRelease();
    void encoderSave_data();
    void encoderSave();
    void biteWordLoads_data();
    void biteWordLoads();
    void paddlesLiveThenSaved();
    void enableWritesKeepReplyTail_data();
    void enableWritesKeepReplyTail();
    void clutchBoxShowsAndReloads();
    void closeStoresBitePointSilently();
    void clearFlash_data();
    void clearFlash();
    void nothingWithoutWheel_data();
    void nothingWithoutWheel();
};

void TestSettingsPages::pulseWidthLoads_data()
{
    QTest::addColumn<int>("item");
    QTest::addColumn<qint64>("stored");
    QTest::addColumn<int>("shown");
    for (int item : {kEncoder, kShifter}) {
        QTest::addRow("%d: 10", item) << item << qint64(10) << 40;
        QTest::addRow("%d: 1000", item) << item << qint64(1000) << 240;
        QTest::addRow("%d: nothing stored", item) << item << qint64(0xFFFFFFFF) << 100;
    }
}

void TestSettingsPages::pulseWidthLoads()
{
    QFETCH(int, item);
    QFETCH(qint64, stored);
    QFETCH(int, shown);
    Rig rig;
    rig.preset(setItem(item, quint32(stored), true));
    CONNECT(rig);

    const bool encoder = item == kEncoder;
    QCOMPARE(rig.slider(encoder ? "hsTrigger" : "hsShifter")->value(), shown);
    QCOMPARE(rig.slider(encoder ? "hsTrigger" : "hsShifter")->statusTip(), QString::number(shown));
    QCOMPARE(rig.widget<QLabel>(encoder ? "lbTrigger" : "lbShifter")->text(),
             QStringLiteral("%1ms").arg(shown));
    if (encoder) {
        rig.click("pbSaveEnc");
        QCOMPARE(rig.sent(), QStringList());
        QCOMPARE(rig.prompts.shown(), QStringList{kSaved});
    }
}

void TestSettingsPages::pulseWidthLiveOnRelease_data()
{
    QTest::addColumn<int>("item");
    QTest::newRow("encoder") << kEncoder;
    QTest::newRow("shifter") << kShifter;
}

void TestSettingsPages::pulseWidthLiveOnRelease()
{
    QFETCH(int, item);
    Rig rig;
    CONNECT(rig);
    const char *name = item == kEncoder ? "hsTrigger" : "hsShifter";

    // Moving without letting go only follows in the label.
    rig.slider(name)->setSliderDown(true);
    rig.slider(name)->setValue(77);
    QCOMPARE(rig.widget<QLabel>(item == kEncoder ? "lbTrigger" : "lbShifter")->text(),
             QStringLiteral("77ms"));
    QCOMPARE(rig.sent(), QStringList());
    rig.slider(name)->setValue(150);
    rig.slider(name)->setSliderDown(false);
    QCOMPARE(rig.sent(), QStringList{setItem(item, 150, false)});
    QCOMPARE(pulseWidth(rig.live(), item), 150);
    QCOMPARE(pulseWidth(rig.flash(), item), 100);
}

void TestSettingsPages::encoderSave_data()
{
    QTest::addColumn<bool>("fails");
    QTest::newRow("stored") << false;
    QTest::newRow("write fails") << true;
}

void TestSettingsPages::encoderSave()
{
    QFETCH(bool, fails);
    Rig rig;
    CONNECT(rig);

    rig.slider("hsTrigger")->setValue(180);
    if (fails)
        rig.wheel.failSetFeature(1);
    rig.click("pbSaveEnc");
    QCOMPARE(rig.prompts.shown(), QStringList{fails ? kNotSaved : kSaved});
    QCOMPARE(rig.flash().encoderPulseWidth, fails ? 100 : 180);
    if (!fails)
        QCOMPARE(rig.sent(), QStringList{setItem(kEncoder, 180, true)});

    // Either way the stored copy took the value: the next save sends nothing.
    rig.wheel.clearTranscript();
    rig.click("pbSaveEnc");
    QCOMPARE(rig.sent(), QStringList());
    QCOMPARE(rig.prompts.shown().last(), kSaved);
}

void TestSettingsPages::biteWordLoads_data()
{
    QTest::addColumn<int>("biteWord");
    QTest::addColumn<QString>("radio");
    QTest::addColumn<int>("slider");
    QTest::addColumn<QString>("label");

    QTest::newRow("0") << 0 << "rbPadL" << 0 << "0.00%";
    QTest::newRow("5") << 5 << "rbPadL" << 5 << "0.05%";
    QTest::newRow("10000") << 10000 << "rbPadL" << 10000 << "100.00%";
    QTest::newRow("10001") << 10001 << "rbPadR" << 0 << "0.00%";
    QTest::newRow("12345") << 12345 << "rbPadR" << 2344 << "23.44%";
    QTest::newRow("20001") << 20001 << "rbPadR" << 10000 << "100.00%";
    QTest::newRow("20002") << 20002 << "rbPadNo" << 5000 << "50.00%";
    QTest::newRow("0xFFFF") << 0xFFFF << "rbPadNo" << 5000 << "50.00%";
}

void TestSettingsPages::biteWordLoads()
{
    QFETCH(int, biteWord);
    QFETCH(QString, radio);
    QFETCH(int, slider);
    QFETCH(QString, label);
    Rig rig;
    rig.preset(paddleConfig(biteWord, true, 4000, 3900, 100, 200));
    CONNECT(rig);

    QVERIFY(rig.button(qPrintable(radio))->isChecked());
    QCOMPARE(rig.slider("hsBite")->value(), slider);
    QCOMPARE(rig.widget<QLabel>("lbBite")->text(), label);

    // Unchanged, the save only asks for the two enables. 20002 reads as no
    // paddle, stored as 0xFFFF: a change, sent with the words as loaded.
    QStringList expected{itemQuery(kExtraShifters), itemQuery(kClutches)};
    if (biteWord == 20002)
        expected.prepend(paddleConfig(0xFFFF, true, 4000, 3900, 100, 200));
    rig.click("pbSaveP");
    QCOMPARE(rig.sent(), expected);
    QCOMPARE(rig.prompts.shown(), QStringList{kSaved});
}

void TestSettingsPages::paddlesLiveThenSaved()
{
    Rig rig;
    CONNECT(rig);
    const Settings stored = rig.flash();
    QCOMPARE(stored.biteWord, 5000);

    rig.click("rbPadR");
    rig.drag("hsBite", 7000);
    QCOMPARE(rig.widget<QLabel>("lbBite")->text(), QStringLiteral("70.00%"));
    rig.click("rbPadNo"); // the slider stays where it was
    QCOMPARE(rig.slider("hsBite")->value(), 7000);
    rig.click("rbPadL");
    QCOMPARE(rig.sent(),
             (QStringList{paddleConfig(stored, 15001, false), paddleConfig(stored, 17001, false),
                          paddleConfig(stored, 0xFFFF, false), paddleConfig(stored, 7000, false)}));
    QCOMPARE(rig.live().biteWord, 7000);
    QCOMPARE(rig.flash().biteWord, 5000);

    rig.wheel.clearTranscript();
    rig.click("pbSaveP");
    QCOMPARE(rig.sent(), (QStringList{paddleConfig(stored, 7000, true), itemQuery(kExtraShifters),
                                      itemQuery(kClutches)}));
    QCOMPARE(rig.flash().biteWord, 7000);
    QCOMPARE(rig.prompts.shown(), QStringList{kSaved});
}

void TestSettingsPages::enableWritesKeepReplyTail_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<int>("item");
    QTest::newRow("clutches") << "cbClutch" << kClutches;
    QTest::newRow("extra shifters") << "cbShifter" << kExtraShifters;
}

void TestSettingsPages::enableWritesKeepReplyTail()
{
    QFETCH(QString, box);
    QFETCH(int, item);
    Rig rig("ULMAR"); // has both, enabled
    CONNECT(rig);
    QVERIFY(rig.button("cbClutch")->isChecked() && rig.button("cbShifter")->isChecked());
    rig.wheel.withWheel([](wheelemu::Wheel &w) { w.setItemReplyTail(0xA5); });

    rig.button(qPrintable(box))->setChecked(false);
    rig.click("pbSaveP");
    const QString write = report({0x02, 0x0c, item, 0xff, 0,    0,    0,    0xef, 0xa5, 0xa5,
                                  0xa5, 0xa5, 0xa5, 0xa5, 0xa5, 0xa5, 0xa5, 0xa5, 0xa5, 0xa5});
    QStringList expected{itemQuery(kExtraShifters), itemQuery(kClutches)};
    expected.insert(item == kExtraShifters ? 1 : 2, write);
    QCOMPARE(rig.sent(), expected);
    const Settings s = rig.flash();
    QCOMPARE(s.clutchesEnabled, item == kClutches ? 0xFFu : 1u);
    QCOMPARE(s.extraShiftersEnabled, item == kExtraShifters ? 0xFFu : 1u);
    QCOMPARE(rig.prompts.shown(), QStringList{kSaved});
}

void TestSettingsPages::clutchBoxShowsAndReloads()
{
    Rig rig;
    CONNECT(rig);
    QVERIFY(!rig.widget("gpClutch")->isHidden());
    for (int round = 0; round < 2; ++round) {
        rig.wheel.clearTranscript();
        rig.button("cbClutch")->setChecked(false);
        QVERIFY(rig.widget("gpClutch")->isHidden() && rig.widget("pbCalL")->isHidden());
        QCOMPARE(rig.sent(), QStringList());
        // Enabling again reads the paddles back from the wheel, every time.
        rig.button("cbClutch")->setChecked(true);
        QVERIFY(!rig.widget("gpClutch")->isHidden() && !rig.widget("pbCalL")->isHidden());
        QCOMPARE(rig.sent(), QStringList{report({0x02, 0x0b, 0x0a})});
    }
}

void TestSettingsPages::closeStoresBitePointSilently()
{
    Rig rig;
    CONNECT(rig);
    rig.drag("hsBite", 1234);
    QCOMPARE(rig.flash().biteWord, 5000);
    rig.click("pbClose");
    QCOMPARE(rig.flash().biteWord, 1234);
    QCOMPARE(rig.prompts.shown(), QStringList());
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
    Rig rig;
    rig.preset(setItem(kEncoder, 150, true));
    CONNECT(rig);

    rig.prompts.questionAnswer = yes ? QMessageBox::Yes : QMessageBox::No;
    rig.click("pbClearFlash");
    QVERIFY(!rig.prompts.messages.isEmpty());
    const UserPrompts::Message &question = rig.prompts.messages.first();
    QCOMPARE(question.kind, UserPrompts::MessageKind::Question);
    QCOMPARE(rig.prompts.shown().first(),
             QStringLiteral("Notify: Do you want to continue?\nThis operation will "
                            "delete all the settings stored in the device flash memory."));
    QCOMPARE(question.buttons, QMessageBox::StandardButtons(QMessageBox::Yes));
    QCOMPARE(question.defaultButton, QMessageBox::No);
    if (!yes) {
        QCOMPARE(rig.prompts.messages.size(), 1);
        QCOMPARE(rig.sent(), QStringList());
        QCOMPARE(rig.flash().encoderPulseWidth, 150);
        return;
    }
    QCOMPARE(rig.sent(), QStringList{report({0x02, 0x0c, 0x10})});
    QCOMPARE(rig.prompts.shown().mid(1), QStringList{QStringLiteral("Notify: Flash data has been cleared.")});
    QCOMPARE(rig.flash().encoderPulseWidth, 100);

    // The page still holds the old copy: an unchanged save sends nothing.
    rig.wheel.clearTranscript();
    rig.click("pbSaveEnc");
    QCOMPARE(rig.sent(), QStringList());

    // The next connection shows the wheel's defaults.
    QVERIFY(rig.wheel.unplug());
    QTRY_VERIFY(!deviceHandle().isOpen());
    QVERIFY(rig.wheel.plug());
    QVERIFY(rig.settle());
    QCOMPARE(rig.slider("hsTrigger")->value(), 100);
}

void TestSettingsPages::nothingWithoutWheel_data()
{
    QTest::addColumn<QString>("slot");
    for (const char *slot : {"onSavePageE", "onSavePageP", "onClearFlash"})
        QTest::newRow(slot) << slot;
}

void TestSettingsPages::nothingWithoutWheel()
{
    QFETCH(QString, slot);
    Rig rig;
    QVERIFY(rig.wheel.unplug());
    rig.window = std::make_unique<MainWindow>();
    QTest::qWait(100); // the first scan finds nothing
    QVERIFY(!deviceHandle().isOpen());
    rig.prompts.questionAnswer = QMessageBox::Yes;
    rig.slider("hsTrigger")->setValue(200);
    QVERIFY(QMetaObject::invokeMethod(rig.window.get(), qPrintable(slot)));
    QCOMPARE(rig.prompts.shown(), QStringList());
}

WHEEL_TEST_MAIN(TestSettingsPages)
#include "tst_settings_pages.moc"
