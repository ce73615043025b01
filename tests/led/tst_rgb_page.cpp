// The RGB page against the emulated wheel, through the real hidapi: what the
// window reads into the LED buttons, what it sends when colours change or are
// saved, and what the user sees of it.
#include "wheel_fixture.h"
#include "wheel_test_main.h"

#include "app/mainwindow.h"
#include "device/device_handle.h"
#include "led/button_colour.h"
#include "led/led_colour_read.h"
#include "led/led_colour_write.h"
#include "led/led_levels.h"
#include "prompt_recorder.h"
#include "tests/app/private_runtime_dir.h"
#include "window_probe.h"

#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QStackedWidget>

#include <algorithm>
#include <memory>

namespace {

const QStringList kLedButtons = [] {
    QStringList names{"pbD3", "pbD4",  "pbD13", "pbD16", "pbD23", "pbD26", "pbXL",
                      "pbXR", "pbTL1", "pbTL2", "pbTL3", "pbTR1", "pbTR2", "pbTR3"};
    for (int i : {1, 2, 3, 4, 5, 6, 9, 10, 11, 12, 13, 14})
        names << QStringLiteral("pbB%1").arg(i);
    for (int i = 1; i <= 19; ++i)
        names << QStringLiteral("pbT%1").arg(i);
    return names;
}();

// Off-level values, so that every channel is rounded on its way to the wheel.
QColor paintFor(int k)
{
    return QColor((k * 37 + 11) % 256, (k * 91 + 60) % 256, (k * 53 + 140) % 256);
}
// The extra LEDs keep full 8-bit values where the wheel stores them apart.
const QColor kLeftExtra(0x80, 0x11, 0xFE);
const QColor kRightExtra(0x05, 0x80, 0x40);

int roundUp(int value)
{
    return *std::lower_bound(LedLevels.begin(), LedLevels.end(), value);
}
QColor rounded(const QColor &c)
{
    return QColor(roundUp(c.red()), roundUp(c.green()), roundUp(c.blue()));
}
// "GRB": the frame takes green, red, blue. The orders that reading uses
// (RGB, RBG, GRB) are their own inverses, so this also turns frame slots into
// the colour shown.
QColor permuted(const QColor &c, const QString &order)
{
    auto channel = [&c](QChar name) {
        return name == QLatin1Char('R') ? c.red() : name == QLatin1Char('G') ? c.green() : c.blue();
    };
    return QColor(channel(order[0]), channel(order[1]), channel(order[2]));
}
bool near(const QColor &a, const QColor &b)
{
    return qAbs(a.red() - b.red()) <= 6 && qAbs(a.green() - b.green()) <= 6 && qAbs(a.blue() - b.blue()) <= 6;
}
int nibble(const QByteArray &frame, int slot)
{
    const auto byte = static_cast<quint8>(frame.at(slot / 2));
    return LedLevels[slot % 2 ? byte >> 4 : byte & 0x0F];
}
QColor frameLed(const QByteArray &frame, int led)
{
    return QColor(nibble(frame, 3 * led), nibble(frame, 3 * led + 1), nibble(frame, 3 * led + 2));
}

// Feature reports without their zero tail.
QString chopZeros(QString line)
{
    while (line.startsWith(QLatin1String("set-feature")) && line.endsWith(QLatin1String(" 00")))
        line.chop(3);
    return line;
}
QStringList lines(const wheeltest::WheelFixture &wheel, const std::vector<std::string> &kinds)
{
    QStringList out;
    for (const std::string &l : wheel.exchanges(kinds))
        out << chopZeros(QString::fromStdString(l));
    return out;
}
// The pages as they went out, in order, and the frame they make up.
QList<int> sentPages(const wheeltest::WheelFixture &wheel, QByteArray *frame = nullptr)
{
    QList<int> pages;
    for (const QString &line : lines(wheel, {"output"})) {
        const QByteArray bytes = QByteArray::fromHex(line.mid(7).remove(QLatin1Char(' ')).toLatin1());
        pages << bytes.at(1);
        if (frame) {
            frame->resize(std::max<qsizetype>(frame->size(), 18 * (bytes.at(1) + 1)));
            frame->replace(18 * bytes.at(1), 18, bytes.mid(2, 18));
        }
    }
    return pages;
}
QString hexTriple(const QColor &c)
{
    const char bytes[] = {char(c.red()), char(c.green()), char(c.blue())};
    return QString::fromLatin1(QByteArray(bytes, 3).toHex(' '));
}

struct Session
{
    wheeltest::WheelFixture wheel;
    PrivateRuntimeDir runtimeDir;
    std::unique_ptr<MainWindow> window;

    explicit Session(const QString &code, const std::function<void(wheelemu::Wheel &)> &seed = {})
        : wheel(options(code))
    {
        if (seed)
            wheel.withWheel(seed);
        window = std::make_unique<MainWindow>();
        window->show();
    }
    static wheeltest::WheelFixture::Options options(const QString &code)
    {
        wheeltest::WheelFixture::Options o;
        o.model = code.toStdString();
        return o;
    }
    QString wheelName()
    {
        std::string name;
        wheel.withWheel([&name](wheelemu::Wheel &w) { name = w.name(); });
        return QString::fromStdString(name);
    }
    template<typename T = QWidget> T *widget(const QString &name) const
    {
        return wheeltest::child<T>(window.get(), name);
    }
    bool connected() const
    {
        return widget<QStackedWidget>("stackedWidget")->currentIndex() == 0 &&
               !widget("pbStatus")->isVisibleTo(window.get());
    }
    // Connected, on the RGB page, with an empty transcript.
    bool openRgbPage()
    {
        if (!QTest::qWaitFor([this] { return connected(); }, 10000))
            return false;
        widget<QPushButton>("pbS2")->click();
        wheel.clearTranscript();
        return widget<QStackedWidget>("stackedWidget")->currentIndex() == 1;
    }
    QColor colour(const QString &name) const { return buttonColour(widget(name)->styleSheet(), 0); }
    void paint(const QString &name, const QColor &c) const
    {
        QString sheet = widget(name)->styleSheet();
        setButtonColour(sheet, c);
        widget(name)->setStyleSheet(sheet);
    }
    bool shown(const QString &name) const { return !widget(name)->isHidden(); }
};

} // namespace

class TestRgbPage : public QObject
{
    Q_OBJECT

private slots:
    void saveAndReadBack_data();
    void saveAndReadBack();
    void readsAColourfulFrame_data();
    void readsAColourfulFrame();
    void presetPaintsVisibleButtonsOnly_data();
    void presetPaintsVisibleButtonsOnly();
    void colourDialog_data();
    void colourDialog();
    void saveShifterOnlyWhenChanged_data();
    void saveShifterOnlyWhenChanged();
    void cleanupTestCase() { hzet.reset(); }

private:
    std::unique_ptr<Session> hzet; // shared by the preset rows
};

void TestRgbPage::saveAndReadBack_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<int>("pages");
    // "led button order": the frame slots of that LED hold the button's
    // colour in that channel order.
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<QString>("extraOrder"); // of the 02 11 report; empty: none
    QTest::addColumn<bool>("extraRead");     // pbXL/pbXR come from 02 11, unrounded
    // "button source order": read back as the source button's colour,
    // permuted.
    QTest::addColumn<QStringList>("readAs");

    QTest::newRow("H-ZET") << "H-ZET" << 4 << QStringList{"0 pbB1 RGB", "16 pbD13 RGB", "42 pbTR1 RGB"}
                           << "RGB" << true << QStringList{"pbT1 pbT1 RGB"};
    QTest::newRow("VLN6") << "VLN6" << 4 << QStringList{"23 pbD26 RGB", "36 pbT11 RGB"} << "RGB" << true
                          << QStringList();
    QTest::newRow("KLINO4") << "KLINO4" << 4 << QStringList{"24 pbD16 RBG", "25 pbD26 RBG", "4 pbB3 RGB"}
                            << "RGB" << true << QStringList();
    QTest::newRow("OV410") << "OV410" << 4 << QStringList{"4 pbB2 RGB", "24 pbB1 RBG", "26 pbD13 RBG"} << ""
                           << false << QStringList{"pbB3 pbB2 RGB",  "pbB11 pbB10 RGB", "pbT1 pbD13 RBG",
                                                   "pbT2 pbD13 RBG", "pbT10 pbD23 RBG", "pbT11 pbD23 RBG"};
    QTest::newRow("ULMAR") << "ULMAR" << 8
                           << QStringList{"0 pbT1 GRB", "26 pbXR GRB", "77 pbD13 GRB", "78 pbXL GRB",
                                          "88 pbB2 GRB"}
                           << "GRB" << false << QStringList();
    QTest::newRow("SRD7") << "SRD7" << 4 << QStringList{"24 pbD16 RBG", "25 pbD26 BRG", "46 pbTL1 RGB"}
                          << "RGB" << true << QStringList{"pbT12 pbT12 unread"};
    QTest::newRow("PELIX") << "PELIX" << 4 << QStringList{"14 pbTL1 RGB", "30 pbD26 RGB"} << "RGB" << false
                           << QStringList();
}

// Every LED button painted, saved, and read again after the wheel was
// unplugged and plugged back, so only what reached its flash comes back.
void TestRgbPage::saveAndReadBack()
{
    QFETCH(QString, code);
    QFETCH(int, pages);
    QFETCH(QStringList, sent);
    QFETCH(QString, extraOrder);
    QFETCH(bool, extraRead);
    QFETCH(QStringList, readAs);

    Session s(code);
    QVERIFY2(s.wheel.ok(), s.wheel.error().c_str());
    wheeltest::PromptRecorder prompts;
    QVERIFY(s.openRgbPage());
    QHash<QString, QColor> painted;
    for (int k = 0; k < kLedButtons.size(); ++k)
        painted[kLedButtons[k]] = paintFor(k);
    painted["pbXL"] = kLeftExtra;
    painted["pbXR"] = kRightExtra;
    for (auto it = painted.cbegin(); it != painted.cend(); ++it)
        s.paint(it.key(), it.value());

    s.widget<QPushButton>("pbSave")->click();
    QCOMPARE(prompts.shown(), QStringList{"Success: LED colors and shifter value saved."});
    QByteArray frame;
    QList<int> order{0, 1};
    for (int p = 3; p < pages; ++p)
        order << p;
    order << 2;
    QCOMPARE(sentPages(s.wheel, &frame), order);
    for (const QString &spot : sent) {
        const QStringList f = spot.split(' ');
        QCOMPARE(frameLed(frame, f[0].toInt()), rounded(permuted(painted[f[1]], f[2])));
    }
    // No model fills its last page: what lies beyond its map goes out lit.
    QCOMPARE(frame.right(1), QByteArray(1, '\xff'));
    const LedFrame packed = ledColourWrite(s.wheelName(), painted, true).frame;
    QCOMPARE(frame, QByteArray(reinterpret_cast<const char *>(packed.data()), 18 * pages));
    QStringList features = lines(s.wheel, {"set-feature"});
    QCOMPARE(features.takeLast(), QStringLiteral("set-feature 02 0e"));
    QCOMPARE(features, extraOrder.isEmpty()
                           ? QStringList()
                           : QStringList{chopZeros(QStringLiteral("set-feature 02 11 ef %1 %2")
                                                       .arg(hexTriple(permuted(kLeftExtra, extraOrder)),
                                                            hexTriple(permuted(kRightExtra, extraOrder))))});

    QVERIFY(s.wheel.unplug());
    QTRY_VERIFY(!deviceHandle().isOpen());
    QVERIFY(s.wheel.plug());
    QTRY_VERIFY_WITH_TIMEOUT(s.connected(), 10000);
    for (const QString &name : kLedButtons) {
        if (!s.shown(name))
            continue;
        const bool exact = extraRead && (name == "pbXL" || name == "pbXR");
        QCOMPARE(s.colour(name), exact ? painted[name] : rounded(painted[name]));
    }
    for (const QString &spot : readAs) {
        const QStringList f = spot.split(' ');
        const QColor expected = f[2] == "unread" ? painted[f[1]] : rounded(permuted(painted[f[1]], f[2]));
        QVERIFY2(s.colour(f[0]) == expected, qPrintable(spot));
    }
}

void TestRgbPage::readsAColourfulFrame_data()
{
    QTest::addColumn<QString>("code");
    // "button led order": the button shows that frame LED read in that order.
    QTest::addColumn<QStringList>("reads");
    QTest::addColumn<bool>("extraRead");

    QTest::newRow("H-ZET") << "H-ZET" << QStringList{"pbD13 16 RGB", "pbD26 23 RGB"} << true;
    QTest::newRow("VLN6") << "VLN6" << QStringList{"pbD13 16 RGB", "pbTR1 42 RGB"} << true;
    QTest::newRow("KLINO4") << "KLINO4" << QStringList{"pbD16 24 RBG", "pbD26 25 RBG"} << true;
    QTest::newRow("OV410") << "OV410"
                           << QStringList{"pbB3 4 RGB", "pbT1 26 RGB", "pbB1 24 RBG", "pbD23 23 RGB"}
                           << false;
    QTest::newRow("ULMAR") << "ULMAR"
                           << QStringList{"pbD13 69 GRB", "pbB12 19 GRB", "pbXL 78 GRB", "pbB2 87 GRB"}
                           << false;
    QTest::newRow("SRD7") << "SRD7"
                          << QStringList{"pbB3 14 RGB", "pbB11 15 RGB", "pbD16 44 RGB", "pbTL1 46 RGB"}
                          << true;
    QTest::newRow("PELIX") << "PELIX" << QStringList{"pbD23 13 RGB", "pbD26 30 RGB"} << false;
}

// The wheel holds a different colour on every LED; the page shows the one
// each button stands for, and is saved as a screenshot.
void TestRgbPage::readsAColourfulFrame()
{
    QFETCH(QString, code);
    QFETCH(QStringList, reads);
    QFETCH(bool, extraRead);

    LedFrame levels{};
    for (int slot = 0; slot < kLedSlotCount; ++slot)
        levels[slot / 2] |= static_cast<uint8_t>(((slot * 7 + slot / 3 * 5 + 3) % 16) << (slot % 2 * 4));
    const QByteArray frame(reinterpret_cast<const char *>(levels.data()), kLedFrameBytes);
    const ExtraLeds extras{1, {0x80, 0x11, 0xFE}, {0x05, 0x80, 0x40}};
    Session s(code, [&](wheelemu::Wheel &w) {
        for (uint8_t p = 0; p < static_cast<uint8_t>(w.info().ledPages); ++p) {
            QByteArray page = QByteArray("\x03") + char(p) + frame.mid(18 * p, 18);
            w.output(reinterpret_cast<const uint8_t *>(page.constData()), 20);
        }
        const uint8_t record[20] = {0x02, 0x11, 0x00, 0x80, 0x11, 0xFE, 0x05, 0x80, 0x40};
        w.setFeature(record, sizeof record);
    });
    QVERIFY2(s.wheel.ok(), s.wheel.error().c_str());
    QTRY_VERIFY_WITH_TIMEOUT(s.connected(), 10000);

    // One request buffer for all pages: page 1's request still carries page
    // 0's reply behind its first four bytes.
    const QStringList asked = lines(s.wheel, {"set-feature"});
    const int firstPage = int(asked.indexOf("set-feature 02 0b")); // page 0, all zero
    QVERIFY(firstPage >= 0);
    const QByteArray page0Tail = frame.mid(2, 16).toHex(' ');
    QCOMPARE(asked.value(firstPage + 1), chopZeros(QStringLiteral("set-feature 02 0b 01 00 ") + page0Tail));
    const int pageCount = code == "ULMAR" ? 8 : 4;
    QVERIFY(asked.value(firstPage + pageCount - 1)
                .startsWith(QStringLiteral("set-feature 02 0b 0%1 00").arg(pageCount - 1)));
    QCOMPARE(asked.value(firstPage + pageCount) == "set-feature 02 0b 11", extraRead);
    QCOMPARE(asked.mid(firstPage).count("set-feature 02 0b 11"), extraRead ? 1 : 0);

    for (const QString &spot : reads) {
        const QStringList f = spot.split(' ');
        const QColor expected = permuted(frameLed(frame, f[1].toInt()), f[2]);
        QVERIFY2(s.colour(f[0]) == expected, qPrintable(spot + " " + s.colour(f[0]).name()));
    }
    if (extraRead) {
        QCOMPARE(s.colour("pbXL"), QColor(0x80, 0x11, 0xFE));
        QCOMPARE(s.colour("pbXR"), QColor(0x05, 0x80, 0x40));
    }
    // Every other button agrees with the reading rules as well.
    QHash<QString, QColor> last;
    for (const LedPaint &paint : ledColoursToPaint(s.wheelName(), levels, extras))
        last[paint.button] = paint.colour;
    QVERIFY(!last.isEmpty());
    for (auto it = last.cbegin(); it != last.cend(); ++it)
        QVERIFY2(s.colour(it.key()) == it.value(), qPrintable(it.key()));

    s.widget<QPushButton>("pbS2")->click();
    QTest::qWait(100);
    const QImage shot = s.window->grab().toImage();
    const QString folder = code.toLower().remove(QLatin1Char('-'));
    QVERIFY(shot.save(QDir(QStringLiteral(QUORSET_SCREENSHOT_DIR))
                          .filePath(QStringLiteral("model-%1-rgb.png").arg(folder))));
    const QWidget *b1 = s.widget("pbB1");
    const QColor seen = shot.pixelColor(b1->mapTo(s.window.get(), b1->rect().center()));
    QVERIFY2(near(seen, s.colour("pbB1")), qPrintable(seen.name()));
}

void TestRgbPage::presetPaintsVisibleButtonsOnly_data()
{
    QTest::addColumn<QString>("preset");
    QTest::addColumn<QColor>("colour");
    QTest::newRow("red") << "pbSetR" << QColor(255, 0, 0);
    QTest::newRow("dark") << "pbSetD" << QColor(0, 0, 0);
    QTest::newRow("sky") << "pbSet1" << QColor(0, 170, 255);
}

// H-ZET hides the light row that its frame still carries (LEDs 26..36).
void TestRgbPage::presetPaintsVisibleButtonsOnly()
{
    QFETCH(QString, preset);
    QFETCH(QColor, colour);
    if (!hzet) {
        hzet = std::make_unique<Session>("H-ZET");
        QVERIFY2(hzet->wheel.ok(), hzet->wheel.error().c_str());
        QVERIFY(hzet->openRgbPage());
    }
    Session &s = *hzet;
    const QColor hidden(10, 20, 30);
    s.paint("pbT1", hidden);
    s.wheel.clearTranscript();

    QTest::mouseClick(s.widget<QPushButton>(preset), Qt::LeftButton);
    for (const QString &name : kLedButtons) {
        if (s.shown(name))
            QCOMPARE(s.colour(name), colour);
    }
    QCOMPARE(s.colour("pbT1"), hidden);
    QByteArray frame;
    QCOMPARE(sentPages(s.wheel, &frame), (QList<int>{0, 1, 3, 2}));
    QCOMPARE(frameLed(frame, 0), rounded(colour));
    QCOMPARE(frameLed(frame, 26), rounded(hidden));
    QCOMPARE(lines(s.wheel, {"set-feature"}),
             QStringList{chopZeros(QStringLiteral("set-feature 02 11 00 %1 %1").arg(hexTriple(colour)))});
}

void TestRgbPage::colourDialog_data()
{
    QTest::addColumn<QColor>("answer");
    QTest::addColumn<bool>("plugged");
    QTest::newRow("cancelled") << QColor() << true;
    QTest::newRow("picked") << QColor(0, 170, 255) << true;
    // The page still follows the dialog and the save still reports success,
    // but nothing is sent and the shifter's stored value stays.
    QTest::newRow("picked and saved without a wheel") << QColor(1, 2, 3) << false;
}

void TestRgbPage::colourDialog()
{
    QFETCH(QColor, answer);
    QFETCH(bool, plugged);
    Session s("SRD7");
    QVERIFY2(s.wheel.ok(), s.wheel.error().c_str());
    QVERIFY(s.openRgbPage());
    auto *slider = s.widget<QSlider>("hsShifter");
    if (!plugged) {
        QVERIFY(s.wheel.unplug());
        QTRY_VERIFY(!deviceHandle().isOpen());
        slider->setStatusTip("100");
        slider->setValue(200);
    }
    wheeltest::PromptRecorder prompts;
    prompts.colourAnswer = answer;
    const QColor before = s.colour("pbB1");

    QTest::mouseClick(s.widget<QPushButton>("pbB1"), Qt::LeftButton);
    QCOMPARE(prompts.colourInitials, QList<QColor>{before});
    QCOMPARE(s.colour("pbB1"), answer.isValid() ? answer : before);
    if (!plugged) {
        s.widget<QPushButton>("pbSave")->click();
        QCOMPARE(slider->statusTip(), QStringLiteral("100"));
        QCOMPARE(prompts.shown(), QStringList{"Success: LED colors and shifter value saved."});
    }
    if (!answer.isValid() || !plugged) {
        QCOMPARE(lines(s.wheel, {"output", "set-feature"}), QStringList());
        return;
    }
    QByteArray frame;
    QCOMPARE(sentPages(s.wheel, &frame), (QList<int>{0, 1, 3, 2}));
    // Levels 0, 12, 15 in LED 0's slots; no commit.
    QCOMPARE(static_cast<quint8>(frame.at(0)), quint8(0xC0));
    QCOMPARE(static_cast<quint8>(frame.at(1)) & 0x0F, 0x0F);
    QVERIFY(!lines(s.wheel, {"set-feature"}).contains("set-feature 02 0e"));
}

void TestRgbPage::saveShifterOnlyWhenChanged_data()
{
    QTest::addColumn<QString>("storedTip");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("shifterReport"); // empty: none
    QTest::newRow("unchanged") << "150" << 150 << "";
    QTest::newRow("changed") << "100" << 150 << "set-feature 02 0c 0a 96 00 00 00 ef";
    QTest::newRow("tip not a number") << "fast" << 40 << "set-feature 02 0c 0a 28 00 00 00 ef";
}

void TestRgbPage::saveShifterOnlyWhenChanged()
{
    QFETCH(QString, storedTip);
    QFETCH(int, value);
    QFETCH(QString, shifterReport);
    Session s("SRD7");
    QVERIFY2(s.wheel.ok(), s.wheel.error().c_str());
    QVERIFY(s.openRgbPage());
    wheeltest::PromptRecorder prompts;
    auto *slider = s.widget<QSlider>("hsShifter");
    slider->setValue(value);
    slider->setStatusTip(storedTip);
    s.wheel.clearTranscript();

    s.widget<QPushButton>("pbSave")->click();
    QStringList kinds;
    for (const QString &line : lines(s.wheel, {"output", "set-feature"}))
        kinds << (line.startsWith(QLatin1String("output")) ? QStringLiteral("page") : line.left(20));
    QStringList expected;
    if (!shifterReport.isEmpty())
        expected << "set-feature 02 0c 0a";
    expected += QStringList{"set-feature 02 11 ef", "page", "page", "page", "page", "set-feature 02 0e"};
    QCOMPARE(kinds, expected);
    if (!shifterReport.isEmpty())
        QCOMPARE(lines(s.wheel, {"set-feature"}).first(), shifterReport);
    QCOMPARE(slider->statusTip(), shifterReport.isEmpty() ? storedTip : QString::number(value));
    QCOMPARE(prompts.shown(), QStringList{"Success: LED colors and shifter value saved."});
}

WHEEL_TEST_MAIN(TestRgbPage)
#include "tst_rgb_page.moc"
