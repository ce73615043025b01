// The settings pages against the emulated wheel: what goes over the wire,
// what the wheel keeps live and in flash, and the message boxes the user sees.
#include "live_window.h"
#include "table_rows.h"
#include "wheel_fixture.h"
#include "wheel_test_main.h"

#include <QAbstractSlider>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QWheelEvent>

#include <algorithm>
#include <initializer_list>
#include <memory>
#include <tuple>
#include <utility>

namespace {

using Settings = wheelemu::Wheel::Settings;

// One feature report as WheelFixture::sent() shows it, without its zero tail.
QString report(std::initializer_list<int> bytes)
{
    QString line = QStringLiteral("set-feature");
    for (int b : bytes)
        line += QStringLiteral(" %1").arg(b & 0xFF, 2, 16, QLatin1Char('0'));
    while (line.endsWith(QLatin1String(" 00")))
        line.chop(3);
    return line;
}
QString setItem(int item, quint32 v, bool save)
{
    return report({2, 0x0c, item, int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF), int(v >> 24),
                   save ? 0xef : 0});
}
QString paddleConfig(int bite, bool save, int rightMax, int leftMax, int rightMin, int leftMin)
{
    return report({2, 0x0a, bite, bite >> 8, save ? 0xef : 0, rightMax, rightMax >> 8, leftMax, leftMax >> 8,
                   rightMin, rightMin >> 8, leftMin, leftMin >> 8});
}
// Live paddle reports with the calibration words the wheel holds.
QStringList liveBiteWords(const Settings &s, const QList<int> &words)
{
    QStringList lines;
    for (int word : words)
        lines << paddleConfig(word, false, s.rightMax, s.leftMax, s.rightMin, s.leftMin);
    return lines;
}

// What a slider sets, as the wheel holds it.
int held(const Settings &s, const QString &slider)
{
    return slider == "hsBite"      ? s.biteWord
           : slider == "hsShifter" ? s.shifterPulseWidth
                                   : s.encoderPulseWidth;
}

QSettings store()
{
    return QSettings(QStringLiteral("Quor Controls"), QStringLiteral("QuorSet"));
}

// The emulated wheel and, once connect() ran, a window attached to it.
struct Rig : wheeltest::LiveWindow
{
    explicit Rig(const char *model = "SRD7") : wheel({model, {}, -1, {}}) {}
    ~Rig() { window.reset(); } // before the wheel goes
    // Puts a report straight into the wheel, as an earlier session would have.
    void preset(const QString &line)
    {
        const QByteArray bytes = QByteArray::fromHex(line.section(' ', 1).toLatin1()).leftJustified(20, '\0');
        wheel.withWheel([&bytes](wheelemu::Wheel &w) {
            w.setFeature(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()));
        });
    }
    // Connected, every initial read done, transcript and prompts empty.
    bool connect()
    {
        if (!wheel.ok() || !open(5000))
            return false;
        QTest::qWait(50);
        wheel.clearTranscript();
        prompts.clear();
        return true;
    }
    QAbstractSlider *slider(const char *name) const { return widget<QAbstractSlider>(name); }
    QAbstractButton *button(const char *name) const { return widget<QAbstractButton>(name); }
    // The slider sends on release only.
    void drag(const char *name, int value) const
    {
        slider(name)->setSliderDown(true);
        slider(name)->setValue(value);
        slider(name)->setSliderDown(false);
    }
    QStringList sent() const { return wheel.sent({"set-feature"}); }
    Settings flash() { return wheel.flash(); }
    Settings live() { return wheel.live(); }

    wheeltest::WheelFixture wheel;
};

#define CONNECT(rig) QVERIFY2((rig).connect(), (rig).wheel.error().c_str())

const QString kSaved = QStringLiteral("Success: Setting saved.");
const QString kLedSaved = QStringLiteral("Success: LED colors and shifter value saved.");
const QString kNotCalibrated =
    QStringLiteral("Notify: No paddle movement seen; the calibration was not saved.");
QString notStored(const QString &values)
{
    return QStringLiteral("Error: Can not save setting.\nNot stored: %1.").arg(values);
}
const QString kWaiting = QStringLiteral("ROTATE ONE ENCODER TO BIND BITEPOINT");
const QString kBound = QStringLiteral("CLEAR BIND ENCODER");
const QString kUnbound = QStringLiteral("ASSIGN ROTARY ENCODER");
constexpr int kEncoder = 0x04, kShifter = 0x0a, kClutches = 0x08, kExtraShifters = 0x09;
// What an unchanged paddles save asks the wheel.
const QStringList kEnableQueries{report({2, 0x0b, 0x0c, kExtraShifters}), report({2, 0x0b, 0x0c, kClutches})};
// A little longer than the window's wait before it empties the range.
constexpr int kPastSettleMs = 700;

// The buttons go down in one input report and come up in the next; each
// step waits for the indicators that light for them.
bool turn(Rig &rig, const QList<int> &buttons, const QStringList &indicators)
{
    for (bool down : {true, false}) {
        rig.wheel.withWheel([&buttons, down](wheelemu::Wheel &w) {
            for (int b : buttons)
                down ? w.press(b) : w.release(b);
        });
        rig.wheel.sendReports(1);
        const auto lit = [&](const QString &name) {
            return rig.widget(name)->statusTip() == QLatin1String(down ? "SHOW" : "HIDE");
        };
        if (!QTest::qWaitFor([&] { return std::all_of(indicators.begin(), indicators.end(), lit); }, 3000))
            return false;
    }
    return true;
}

std::pair<int, int> range(const Settings &s, bool left)
{
    return left ? std::pair{s.leftMin, s.leftMax} : std::pair{s.rightMin, s.rightMax};
}

// The shifter's slider loads through the same code: one row for its item.
constexpr std::tuple<const char *, int, qint64, int> kPulseWidths[] = {
    {"encoder: 10", kEncoder, 10, 40},
    {"encoder: 1000", kEncoder, 1000, 240},
    {"encoder: nothing stored", kEncoder, 0xFFFFFFFF, 100},
    {"shifter: 1000", kShifter, 1000, 240}};

// The slider moved before the save (none: ""), the emulator's fault, what
// the box names.
const std::tuple<const char *, QString, QString, QString, QString, QString> kFailedSaves[] = {
    {"encoder pulse width", "hsTrigger", "pbSaveEnc", "fault set-feature 1", "ENCODER PULSE WIDTH", kSaved},
    {"bite point", "hsBite", "pbSaveP", "fault set-feature 1", "BITE POINT", kSaved},
    {"shifter pulse width", "hsShifter", "pbSave", "fault set-feature 1", "SHIFTER PULSE WIDTH", kLedSaved},
    {"LED colors", "", "pbSave", "fault write 1", "LED colors", kLedSaved},
    {"LED commit", "", "pbSave", "fault set-feature 2", "LED colors", kLedSaved}};

// One row per slider and per way in: the arrow keys of the second half of
// every row are the third. Item -1: the paddle configuration; key 0: one
// notch of the mouse wheel, -1: a click on the groove's right end.
constexpr std::tuple<const char *, const char *, int, int, int, int> kSliders[] = {
    {"shifter, end", "hsShifter", kShifter, Qt::Key_End, 1, 240},
    {"bite point, mouse wheel", "hsBite", -1, 0, 2, 5006},
    {"encoder, groove clicks", "hsTrigger", kEncoder, -1, 2, 120}};

constexpr std::tuple<const char *, int, const char *, int, const char *> kBiteWords[] = {
    {"10000", 10000, "rbPadL", 10000, "100.00%"},
    {"10001", 10001, "rbPadR", 0, "0.00%"},
    {"12345", 12345, "rbPadR", 2344, "23.44%"},
    {"20002", 20002, "rbPadNo", 5000, "50.00%"},
    {"0xFFFF", 0xFFFF, "rbPadNo", 5000, "50.00%"}};

constexpr std::tuple<const char *, const char *, int> kEnables[] = {
    {"clutches", "cbClutch", kClutches}, {"extra shifters", "cbShifter", kExtraShifters}};

// The buttons turned, the indicators they light, the binding stored.
const std::tuple<const char *, QList<int>, QStringList, int, int> kBindings[] = {
    {"lower button of a pair", {3}, {"pbID5L"}, 3, 2},
    {"higher button of a pair", {4}, {"pbID5R"}, 3, 2},
    {"last pair", {46}, {"pbJsRL"}, 46, 45},
    {"not an encoder, then one", {1, 6}, {"pbIB1", "pbID1R"}, 5, 4}};

// Bound per model: SRD7 up button 4 (index 3), down button 3; VLN6 19 and
// 18; ULMAR 256, cut to 8 bits: button index 0 raises it. One report with
// both turns up, then down. Model, bite word, buttons, indicators, words sent.
const std::tuple<const char *, const char *, int, QList<int>, QStringList, QList<int>> kSteps[] = {
    {"up at 10000", "SRD7", 10000, {4}, {"pbID5R"}, {10000}},
    {"down at 0", "SRD7", 0, {3}, {"pbID5L"}, {0}},
    {"both in one report", "SRD7", 5000, {3, 4}, {"pbID5L", "pbID5R"}, {5001, 5000}},
    {"another encoder", "SRD7", 5000, {6}, {"pbID1R"}, {}},
    {"the VLN6's encoder on the SRD7", "SRD7", 5000, {20}, {"pbID3R"}, {}},
    {"VLN6, its own encoder", "VLN6", 5000, {19}, {"pbID3L"}, {4999}},
    {"ULMAR, 256 reads as 0", "ULMAR", 5000, {1}, {"pbIB1"}, {5001}}};

constexpr std::tuple<const char *, const char *, int, const char *> kThresholds[] = {
    {"left", "pbBearLCa", 0x03, "LEFT"},
    {"right", "pbBearRCa", 0x05, "RIGHT"},
    {"extra left", "pbBearExLCa", 0x06, "EXTRAL"},
    {"extra right", "pbBearExRCa", 0x07, "EXTRAR"}};

// Each side's range is its own; what is kept or refused is the same code for
// both. Stored empty: the range from before is kept, and said so. 511 counts
// is one short of the narrowest range kept; starting the other side empties
// both ranges half a second later; closing the window drops the calibration
// and stores the bite point.
const std::tuple<const char *, bool, QString, QList<int>, QList<int>> kClutchTravels[] = {
    {"left: readings widen the range", true, "", {300, 3900, 200}, {200, 3900}},
    {"right: readings widen the range", false, "", {300, 3900, 200}, {200, 3900}},
    {"stopped within 500 ms", true, "early", {}, {}},
    {"no report", false, "", {}, {}},
    {"too narrow", true, "", {2000, 2511, 2100}, {}},
    {"just wide enough", true, "", {2000, 2512}, {2000, 2512}},
    {"second side empties the first again", true, "both", {300, 3900, 200}, {}},
    {"closed mid-way", true, "close", {300, 3900, 200}, {}}};

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    // Never the user's own encoder bindings: the binding tests clear the store.
    void initTestCase()
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, storeDir.path());
    }
    void init() { store().clear(); }

    void pulseWidth_data() { wheeltest::addRows(kPulseWidths); }
    // Loaded, shown, sent live once the slider is let go, and the encoder's
    // saved; an unchanged save sends nothing, before and after.
    void pulseWidth()
    {
        const auto &[tag, item, stored, shown] = wheeltest::rowOf(kPulseWidths);
        Rig rig;
        rig.preset(setItem(item, quint32(stored), true));
        CONNECT(rig);
        const bool encoder = item == kEncoder;
        auto *slider = rig.slider(encoder ? "hsTrigger" : "hsShifter");
        auto *label = rig.widget<QLabel>(encoder ? "lbTrigger" : "lbShifter");
        QCOMPARE(slider->value(), shown);
        QCOMPARE(label->text(), QStringLiteral("%1ms").arg(shown));
        if (encoder)
            rig.click("pbSaveEnc"); // unchanged: nothing sent
        slider->setSliderDown(true);
        slider->setValue(77);
        QCOMPARE(label->text(), QStringLiteral("77ms"));
        QCOMPARE(rig.sent(), QStringList());
        slider->setValue(150);
        slider->setSliderDown(false);
        QCOMPARE(rig.sent(), QStringList{setItem(item, 150, false)});
        if (!encoder)
            return;
        for (const QStringList &sent : {QStringList{setItem(kEncoder, 150, true)}, QStringList()}) {
            rig.wheel.clearTranscript();
            rig.click("pbSaveEnc");
            QCOMPARE(rig.sent(), sent);
        }
        QCOMPARE(rig.prompts.shown(), QStringList(3, kSaved));
    }

    void failedSaveIsRetried_data() { wheeltest::addRows(kFailedSaves); }
    // Every "saved" means every write behind it went through; a save that
    // failed says what it left unstored and goes out again on the next press.
    void failedSaveIsRetried()
    {
        const auto &[tag, slider, save, fault, unsaved, saved] = wheeltest::rowOf(kFailedSaves);
        Rig rig;
        CONNECT(rig);
        if (!slider.isEmpty())
            rig.drag(qPrintable(slider), 150);
        const Settings before = rig.flash();
        rig.wheel.clearTranscript();
        QVERIFY(rig.wheel.command(fault.toStdString()));
        rig.click(qPrintable(save));
        QCOMPARE(rig.prompts.shown(), QStringList{notStored(unsaved)});
        const QStringList firstTry = rig.sent();
        QVERIFY(!firstTry.isEmpty());
        for (const char *moved : {"hsBite", "hsShifter", "hsTrigger"})
            QCOMPARE(held(rig.flash(), moved), held(before, moved));

        rig.wheel.clearTranscript();
        rig.prompts.clear();
        rig.click(qPrintable(save));
        QCOMPARE(rig.prompts.shown(), QStringList{saved});
        QCOMPARE(rig.sent(), firstTry);
        const Settings after = rig.flash();
        for (const char *moved : {"hsBite", "hsShifter", "hsTrigger"})
            QCOMPARE(held(after, moved), slider == moved ? 150 : held(before, moved));
        QCOMPARE(after.ledFrame, rig.live().ledFrame);
    }

    void slidersSendLive_data() { wheeltest::addRows(kSliders); }
    // Keys, the mouse wheel and clicks beside the handle move a slider without
    // a release; the wheel still gets the value at once, one report for a
    // burst of steps, and steps spread out never closer than one per 100 ms.
    void slidersSendLive()
    {
        const auto &[tag, slider, item, key, presses, end] = wheeltest::rowOf(kSliders);
        Rig rig;
        CONNECT(rig);
        auto *target = rig.slider(slider);
        const QPointF mid(target->width() / 2.0, target->height() / 2.0);
        QWheelEvent notch(mid, target->mapToGlobal(mid), QPoint(), QPoint(0, 120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        for (int i = 0; i < presses; ++i) {
            if (key > 0)
                QTest::keyClick(target, Qt::Key(key));
            else if (key < 0)
                QTest::mouseClick(target, Qt::LeftButton, {}, QPoint(target->width() - 3, mid.y()));
            else
                QCoreApplication::sendEvent(target, &notch);
        }
        const auto reportOf = [&rig, item = item](int value) {
            return item < 0 ? liveBiteWords(rig.flash(), {value}).first()
                            : setItem(item, quint32(value), false);
        };
        QCOMPARE(target->value(), end);
        QTRY_COMPARE(held(rig.live(), slider), end);
        QCOMPARE(rig.sent(), QStringList{reportOf(end)});

        // Twenty steps down, each handled before the next: at most one report
        // more than the tenths of a second they and the last send took.
        rig.wheel.clearTranscript();
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 20; ++i) {
            QTest::keyClick(target, Qt::Key_Down);
            QCoreApplication::processEvents();
        }
        QCOMPARE(target->value(), end - 20);
        QTRY_COMPARE(held(rig.live(), slider), end - 20);
        QTest::qWait(150); // a late extra report would show now
        const qint64 took = clock.elapsed();
        const QStringList sent = rig.sent();
        QVERIFY2(sent.size() <= 1 + took / 100,
                 qPrintable(QStringLiteral("%1 reports in %2 ms").arg(sent.size()).arg(took)));
        QCOMPARE(sent.value(sent.size() - 1), reportOf(end - 20));
    }

    void biteWordLoads_data() { wheeltest::addRows(kBiteWords); }
    void biteWordLoads()
    {
        const auto &[tag, biteWord, radio, slider, label] = wheeltest::rowOf(kBiteWords);
        Rig rig;
        rig.preset(paddleConfig(biteWord, true, 4000, 3900, 100, 200));
        CONNECT(rig);
        QVERIFY(rig.button(radio)->isChecked());
        QCOMPARE(rig.slider("hsBite")->value(), slider);
        QCOMPARE(rig.widget<QLabel>("lbBite")->text(), QString::fromLatin1(label));
        // Unchanged, the save only asks for the two enables. 20002 reads as no
        // paddle, stored as 0xFFFF: a change, sent with the words as loaded.
        QStringList expected = kEnableQueries;
        if (biteWord == 20002)
            expected.prepend(paddleConfig(0xFFFF, true, 4000, 3900, 100, 200));
        rig.click("pbSaveP");
        QCOMPARE(rig.sent(), expected);
        QCOMPARE(rig.prompts.shown(), QStringList{kSaved});
    }

    // The bite point and the clutch box go to the wheel live, not to flash.
    void paddlesLive()
    {
        Rig rig;
        CONNECT(rig);
        const Settings stored = rig.flash();
        rig.click("rbPadR");
        rig.drag("hsBite", 7000);
        QCOMPARE(rig.widget<QLabel>("lbBite")->text(), QStringLiteral("70.00%"));
        rig.click("rbPadNo"); // the slider stays where it was
        rig.click("rbPadL");
        QCOMPARE(rig.sent(), liveBiteWords(stored, {15001, 17001, 0xFFFF, 7000}));
        QCOMPARE(rig.flash().biteWord, stored.biteWord);

        QVERIFY(!rig.widget("gpClutch")->isHidden());
        // Enabling again reads the paddles back from the wheel, every time.
        for (const bool on : {false, true, false, true}) {
            rig.wheel.clearTranscript();
            rig.button("cbClutch")->setChecked(on);
            QVERIFY(rig.widget("gpClutch")->isHidden() != on && rig.widget("pbCalL")->isHidden() != on);
            QCOMPARE(rig.sent(), on ? QStringList{report({2, 0x0b, 0x0a})} : QStringList());
        }
    }

    void enableWritesKeepReplyTail_data() { wheeltest::addRows(kEnables); }
    void enableWritesKeepReplyTail()
    {
        const auto &[tag, box, item] = wheeltest::rowOf(kEnables);
        Rig rig("ULMAR"); // has both, enabled
        CONNECT(rig);
        rig.wheel.withWheel([](wheelemu::Wheel &w) { w.setItemReplyTail(0xA5); });
        rig.button(box)->setChecked(false);
        rig.click("pbSaveP");
        QStringList expected = kEnableQueries;
        // The write goes out in the buffer the query's reply came back in.
        expected.insert(item == kExtraShifters ? 1 : 2,
                        report({2, 0x0c, item, 0xff, 0, 0, 0, 0xef}) + QStringLiteral(" a5").repeated(12));
        QCOMPARE(rig.sent(), expected);
        QCOMPARE(rig.prompts.shown(), QStringList{kSaved});
    }

    // No leaves the flash as it was, Yes clears it.
    void clearFlash()
    {
        Rig rig;
        CONNECT(rig);
        for (const bool yes : {false, true}) {
            rig.wheel.clearTranscript();
            rig.prompts.clear();
            rig.prompts.questionAnswer = yes ? QMessageBox::Yes : QMessageBox::No;
            rig.click("pbClearFlash");
            QStringList shown{QStringLiteral("Notify: Do you want to continue?\nThis operation will "
                                             "delete all the settings stored in the device flash memory.")};
            if (yes)
                shown << QStringLiteral("Notify: Flash data has been cleared.");
            QCOMPARE(rig.prompts.shown(), shown);
            const UserPrompts::Message &question = rig.prompts.messages.first();
            QVERIFY(question.kind == UserPrompts::MessageKind::Question &&
                    question.buttons == QMessageBox::StandardButtons(QMessageBox::Yes) &&
                    question.defaultButton == QMessageBox::No);
            QCOMPARE(rig.sent(), yes ? QStringList{report({2, 0x0c, 0x10})} : QStringList());
        }
    }

    // Neither save nor the flash clearing says anything without a wheel.
    void nothingWithoutWheel()
    {
        Rig rig;
        QVERIFY(rig.wheel.unplug());
        rig.window = std::make_unique<MainWindow>();
        QTest::qWait(100); // the first scan finds nothing
        rig.prompts.questionAnswer = QMessageBox::Yes;
        rig.slider("hsTrigger")->setValue(200);
        for (const char *slot : {"onSavePageE", "onSavePageP", "onClearFlash"})
            QVERIFY2(QMetaObject::invokeMethod(rig.window.get(), slot), slot);
        QCOMPARE(rig.prompts.shown(), QStringList());
    }

    void bindEitherButton_data() { wheeltest::addRows(kBindings); }
    void bindEitherButton()
    {
        const auto &[tag, buttons, indicators, up, down] = wheeltest::rowOf(kBindings);
        Rig rig;
        CONNECT(rig);
        QCOMPARE(rig.text("pbEncoder"), kUnbound);
        rig.click("pbEncoder");
        QCOMPARE(rig.text("pbEncoder"), kWaiting);
        rig.click("pbEncoder"); // a second click while waiting keeps waiting
        for (int i = 0; i < buttons.size(); ++i) {
            QVERIFY(rig.text("pbEncoder") == kWaiting && rig.button("pbEncoder")->isChecked());
            QVERIFY(turn(rig, {buttons[i]}, {indicators[i]}));
        }
        QCOMPARE(rig.text("pbEncoder"), kBound);
        QVERIFY(!rig.button("pbEncoder")->isChecked());
        QCOMPARE(store().value(QStringLiteral("QUOR SRD7 Wheel_ENCODER1")).toInt(), up);
        QCOMPARE(store().value(QStringLiteral("QUOR SRD7 Wheel_ENCODER2")).toInt(), down);
        QCOMPARE(rig.sent(), liveBiteWords(rig.flash(), {5000}));
        // Clicking a bound button forgets the binding.
        rig.click("pbEncoder");
        QCOMPARE(rig.text("pbEncoder"), kUnbound);
        QVERIFY(!rig.button("pbEncoder")->isChecked());
        QVERIFY(store().allKeys().isEmpty());
    }

    void steps_data() { wheeltest::addRows(kSteps); }
    void steps()
    {
        const auto &[tag, code, start, buttons, indicators, sentWords] = wheeltest::rowOf(kSteps);
        const std::tuple<const char *, int, int> bindings[] = {
            {"SRD7", 3, 2}, {"VLN6", 19, 18}, {"ULMAR", 256, 2}};
        for (const auto &[model, up, down] : bindings) {
            store().setValue(QStringLiteral("QUOR %1 Wheel_ENCODER1").arg(QLatin1String(model)), up);
            store().setValue(QStringLiteral("QUOR %1 Wheel_ENCODER2").arg(QLatin1String(model)), down);
        }
        Rig rig(code);
        rig.preset(paddleConfig(start, true, 4000, 3900, 100, 200));
        CONNECT(rig);
        QCOMPARE(rig.text("pbEncoder"), kBound);
        QVERIFY(turn(rig, buttons, indicators));
        QCOMPARE(rig.sent(), liveBiteWords(rig.flash(), sentWords));
        const int end = sentWords.isEmpty() ? start : sentWords.last();
        QCOMPARE(rig.slider("hsBite")->value(), end);
    }

    void thresholds_data() { wheeltest::addRows(kThresholds); }
    void thresholds()
    {
        const auto &[tag, button, item, side] = wheeltest::rowOf(kThresholds);
        Rig rig;
        CONNECT(rig);
        rig.click(button);
        QCOMPARE(rig.text(button),
                 QStringLiteral("PRESS AND HOLD %1 SHIFTER THEN CLICK ME").arg(QLatin1String(side)));
        QCOMPARE(rig.sent(), QStringList{setItem(item, 0, false)});
        // The user holds the paddle and clicks again: the wheel stores its reading.
        rig.click(button);
        QCOMPARE(rig.text(button), QStringLiteral("CALIBRATE"));
        QCOMPARE(rig.sent(), (QStringList{setItem(item, 0, false), setItem(item, 0xFFFFFFFF, true)}));
        QCOMPARE(rig.prompts.shown(), QStringList());
    }

    void clutchTravel_data() { wheeltest::addRows(kClutchTravels); }
    void clutchTravel()
    {
        const auto &[tag, left, run, readings, stored] = wheeltest::rowOf(kClutchTravels);
        Rig rig;
        rig.preset(paddleConfig(5000, true, 3800, 3700, 300, 250));
        CONNECT(rig);
        const Settings before = rig.flash();
        const char *button = left ? "pbCalL" : "pbCalR";
        rig.click(button);
        QCOMPARE(rig.text(button), QStringLiteral("SAVE"));
        // The wheel works over the full raw range meanwhile, as a live value.
        QCOMPARE(rig.sent(),
                 QStringList{paddleConfig(before.biteWord, false, left ? before.rightMax : 4096,
                                          left ? 4096 : before.leftMax, left ? before.rightMin : 0,
                                          left ? 0 : before.leftMin)});
        if (run != QLatin1String("early"))
            QTest::qWait(kPastSettleMs);
        // The other paddle moves too; only the calibrated side counts.
        for (int value : readings) {
            const quint16 other = quint16(4000 - value);
            rig.wheel.setPaddles(left ? quint16(value) : other, left ? other : quint16(value));
            QTRY_COMPARE(rig.widget<QProgressBar>(left ? "pgAdcL" : "pgAdcR")->value(), value);
        }
        const bool both = run == QLatin1String("both"), close = run == QLatin1String("close");
        if (both) {
            rig.click("pbCalR");
            QTest::qWait(kPastSettleMs);
        }
        if (close) {
            rig.click("rbPadR");
            rig.click("pbClose");
            QVERIFY(!deviceHandle().isOpen());
        } else {
            rig.click(button);
            if (both)
                rig.click("pbCalR");
            QCOMPARE(rig.text(button), QStringLiteral("CALIBRATE"));
            QTest::qWait(run == QLatin1String("early") ? kPastSettleMs : 0);
        }
        const std::pair<int, int> expected =
            stored.isEmpty() ? range(before, left) : std::pair(stored[0], stored[1]);
        const Settings after = rig.flash();
        QCOMPARE(range(after, left), expected);
        QCOMPARE(range(after, !left), range(before, !left));
        QCOMPARE(after.biteWord, close ? 15001 : before.biteWord);
        QCOMPARE(rig.prompts.shown(),
                 stored.isEmpty() && !close ? QStringList(both ? 2 : 1, kNotCalibrated) : QStringList());
        if (close)
            return;
        // A live send afterwards carries the same range: nothing emptied it
        // late, and a calibration not kept gave the wheel its old range back.
        rig.click("rbPadL");
        QCOMPARE(range(rig.live(), left), expected);
        QCOMPARE(range(rig.live(), !left), range(before, !left));
    }

private:
    QTemporaryDir storeDir;
};

WHEEL_TEST_MAIN(TestSettings)
#include "tst_settings_pages.moc"
