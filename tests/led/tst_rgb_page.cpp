// The RGB page against the emulated wheel, through the real hidapi: what the
// window reads into the LED buttons, the exact frame pages each model is sent
// and what the user sees of it; and, without a wheel, the channel orders and
// the buttons' style sheets the colours are kept in.
#include "wheel_fixture.h"
#include "wheel_test_main.h"

#include "led/button_colour.h"
#include "led/channel_order.h"
#include "led/led_colour_read.h"
#include "led/led_colour_write.h"
#include "led/led_levels.h"
#include "live_window.h"
#include "table_rows.h"

#include <QDir>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>

#include <algorithm>
#include <utility>

Q_DECLARE_METATYPE(Rgb)

namespace {

// Every LED button with three different levels, so that a swapped channel
// shows; several sit just off a level value (100, 254, ...) and must go out
// rounded up.
const LedButtonColours kPainted = [] {
    LedButtonColours out;
    for (const QString &entry :
         QStringLiteral(
             "pbB1 100 0 200, pbB2 53 107 69, pbB3 149 199 9, pbB4 3 9 0, pbB5 39 10 86, pbB6 126 53 17, "
             "pbB9 254 106 226, pbB10 28 150 106, pbB11 106 255 28, pbB12 225 9 255, pbB13 17 29 126, "
             "pbB14 106 126 86, pbD3 198 149 0, pbD4 9 200 149, pbD13 69 4 53, pbD16 172 28 4, "
             "pbD23 9 87 255, pbD26 69 173 126, pbT1 172 255 39, pbT2 9 18 17, pbT3 53 39 149, "
             "pbT4 148 86 53, pbT5 0 127 4, pbT6 39 226 173, pbT7 125 4 69, pbT8 255 18 9, "
             "pbT9 28 69 199, pbT10 125 173 149, pbT11 226 174 17, pbT12 17 0 226, pbT13 85 17 106, "
             "pbT14 199 40 28, pbT15 17 149 9, pbT16 85 226 199, pbT17 199 1 86, pbT18 28 86 106, "
             "pbT19 85 106 4, pbTL1 173 107 106, pbTL2 4 199 28, pbTL3 52 0 255, pbTR1 149 10 126, "
             "pbTR2 0 53 39, pbTR3 38 106 0, pbXL 173 0 4, pbXR 0 4 106")
             .split(QStringLiteral(", "))) {
        const QStringList f = entry.split(QLatin1Char(' '));
        out.insert(f[0], QColor(f[1].toInt(), f[2].toInt(), f[3].toInt()));
    }
    return out;
}();
const QString kSaved = QStringLiteral("Success: LED colors and shifter value saved.");

QColor rounded(const QColor &c)
{
    const auto up = [](int v) {
        return *std::lower_bound(LedLevels.begin(), LedLevels.end(), v);
    };
    return QColor(up(c.red()), up(c.green()), up(c.blue()));
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
QColor frameLed(const QByteArray &frame, int led)
{
    const auto nibble = [&frame](int slot) {
        const auto byte = static_cast<quint8>(frame.at(slot / 2));
        return LedLevels[slot % 2 ? byte >> 4 : byte & 0x0F];
    };
    return QColor(nibble(3 * led), nibble(3 * led + 1), nibble(3 * led + 2));
}
QString hexTriple(const QColor &c)
{
    return QString::asprintf("%02x %02x %02x", c.red(), c.green(), c.blue());
}

// A feature report as WheelFixture::sent() shows it.
QString chopZeros(QString line)
{
    while (line.startsWith(QLatin1String("set-feature")) && line.endsWith(QLatin1String(" 00")))
        line.chop(3);
    return line;
}
// The pages as they went out, in order, and the frame they make up.
QList<int> sentPages(const wheeltest::WheelFixture &wheel, QByteArray *frame)
{
    QList<int> pages;
    for (const QString &line : wheel.sent({"output"})) {
        const QByteArray bytes = QByteArray::fromHex(line.mid(7).remove(QLatin1Char(' ')).toLatin1());
        pages << bytes.at(1);
        frame->resize(std::max<qsizetype>(frame->size(), 18 * (bytes.at(1) + 1)));
        frame->replace(18 * bytes.at(1), 18, bytes.mid(2, 18));
    }
    return pages;
}

struct Session : wheeltest::LiveWindow
{
    wheeltest::WheelFixture wheel;

    explicit Session(const QString &code) : wheel({code.toStdString(), {}, -1, {}}) { show(); }
    ~Session() { window.reset(); } // before the wheel goes
    // Connected, on the RGB page, with an empty transcript.
    bool openRgbPage()
    {
        if (!wheel.ok() || !QTest::qWaitFor([this] { return connected(); }, 10000))
            return false;
        click("pbS2");
        wheel.clearTranscript();
        return page() == 1;
    }
    QColor colour(const QString &name) const { return buttonColour(widget(name)->styleSheet(), 0); }
    void paint(const QString &name, const QColor &c) const
    {
        QString sheet = widget(name)->styleSheet();
        setButtonColour(sheet, c);
        widget(name)->setStyleSheet(sheet);
    }
};

#define OPEN_RGB_PAGE(s) QVERIFY2((s).openRgbPage(), (s).wheel.error().c_str())

// The frame's pages, page 0 first (past each model's last LED every slot is
// level 15); the order of the 02 11 report (none: ""); whether pbXL and pbXR
// come from it, unrounded; "button source order" for buttons read back as
// the source button's colour, permuted; the shifter's stored value (status
// tip) and slider before the save, left as loaded and so not sent when the
// tip is empty, differing when the tip is no number.
const QString kVln6Page0 = "09 fe e9 a6 47 9c db 92 4f 21 e0 f2 35 38 a5 6a 93 8a";
const QString kVln6Page1 = "17 26 f9 17 26 f9 17 26 f9 4c 71 ac 4c 71 ac 4c 71 ac";
const QStringList kVln6{kVln6Page0, kVln6Page1, "bd 20 be fc 25 34 56 bb 68 b0 51 ce 1a f7 24 74 ad bc",
                        "de 63 f0 95 10 4d 60 c5 9a 3b fa ff ff ff ff ff ff ff"};
// clang-format off
const std::tuple<const char *, QStringList, QString, bool, QStringList, QString, int> kColourfulFrames[] = {
    {"VLN6", kVln6, "RGB", true, {}, "100", 150},
    {"H-ZET", kVln6, "RGB", true, {"pbT1 pbT1 RGB"}, "", 0},
    {"KLINO4", {kVln6Page0, kVln6Page1,
                "1c 74 ca ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff",
                "ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff"}, "RGB", true, {}, "", 0},
    {"OV410", {"09 fe e9 a6 47 9c a6 47 9c 21 e0 f2 35 38 a5 6a 93 8a",
               "17 26 f9 17 26 f9 17 26 f9 4c 71 ac bd 20 be 17 26 f9",
               "e9 f0 9e 67 71 16 56 bb 68 b0 51 ce 1a f7 24 74 2d 9f",
               "f2 19 02 2e 5f 83 53 aa 36 a9 f8 ff ff ff ff ff ff ff"}, "", false,
     {"pbB3 pbB2 RGB", "pbB11 pbB10 RGB", "pbT1 pbD13 RBG", "pbT2 pbD13 RBG", "pbT10 pbD23 RBG", "pbT11 pbD23 RBG"},
     "", 0},
    {"ULMAR", {"cf 45 32 65 8b 6b 0b e1 c5 a1 47 2f 47 cd ba ed 03 e3",
               "83 69 4d 3b e2 d8 d1 88 94 89 21 fe e2 9f 05 4c c9 94",
               "9f f4 49 01 19 90 f9 9e ef 29 9f f2 29 9f f2 29 9f f2",
               "29 9f f2 29 5f a3 35 aa 89 9a 38 ab b3 ca a7 7c ca a7",
               "7c ca a7 7c ca a7 7c ca a7 c4 41 1c c4 41 1c c4 41 1c",
               "c4 41 1c c4 a1 9c ca 69 3a a6 33 85 53 18 67 71 16 67",
               "71 16 67 71 16 67 71 16 67 c0 01 1c 90 0e e9 bd d2 2b",
               "12 20 01 60 af 76 6a f7 ff ff ff ff ff ff ff ff ff ff"}, "GRB", false, {}, "", 0},
    {"SRD7", {"09 fe e9 a6 47 9c a6 47 9c 21 e0 f2 35 38 a5 6a 93 8a",
              "bd 20 be db 92 4f 17 26 f9 21 e0 f2 35 38 a5 6a 93 8a",
              "1c a4 c7 fc 25 34 56 bb 68 b0 51 ce 1a f7 24 74 ad bc",
              "de 63 f0 95 10 4d 60 95 e0 9f ce 9a 4c 71 ac ac f9 ff"}, "RGB", true, {"pbT12 pbT12 unread"}, "fast", 40},
    {"PELIX", {"09 6e 7a db 92 4f c4 f9 e9 21 50 83 2e 9f 8a 17 76 61",
               "92 2f f9 ac 19 4d 06 cf 5f 42 63 b5 8b 06 1b e5 ac 71",
               "4f 42 d7 3b 0a 56 95 c0 14 c7 fa ff ff ff ff ff ff ff",
               "ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff"}, "RGB", false, {}, "", 0},
};
// clang-format on

const std::pair<const char *, QColor> kPresets[] = {
    {"pbSetR", QColor(255, 0, 0)}, {"pbSetD", QColor(0, 0, 0)}, {"pbSet1", QColor(0, 170, 255)}};

// Without a wheel the page still follows the dialog; the save sends nothing,
// keeps the shifter's stored value and says what it could not store.
const std::tuple<const char *, QColor, bool> kDialogAnswers[] = {
    {"cancelled", QColor(), true},
    {"picked", QColor(0, 170, 255), true},
    {"picked and saved without a wheel", QColor(1, 2, 3), false}};

} // namespace

class TestRgbPage : public QObject
{
    Q_OBJECT

private slots:
    void readsAColourfulFrame_data() { wheeltest::addRows(kColourfulFrames); }
    // Every LED button painted a colour of its own, saved, and read again after
    // the wheel was unplugged and plugged back, so only what reached its flash
    // comes back. The page is then saved as a screenshot.
    void readsAColourfulFrame()
    {
        const auto &[tag, pages, extraOrder, extraRead, readAs, shifterTip, shifter] =
            wheeltest::rowOf(kColourfulFrames);
        const QString code = QString::fromLatin1(tag);
        Session s(code);
        OPEN_RGB_PAGE(s);
        for (auto it = kPainted.cbegin(); it != kPainted.cend(); ++it)
            s.paint(it.key(), it.value());
        auto *slider = s.widget<QSlider>("hsShifter");
        if (!shifterTip.isEmpty()) {
            slider->setValue(shifter);
            slider->setStatusTip(shifterTip);
        }

        s.click("pbSave");
        QCOMPARE(s.prompts.shown(), QStringList{kSaved});
        // The shifter value, the extra LEDs, the pages, then the commit.
        const auto extra = [order = extraOrder](const char *name) {
            return hexTriple(permuted(kPainted[name], order));
        };
        QStringList expected;
        if (!shifterTip.isEmpty())
            expected << QString::asprintf("set-feature 02 0c 0a %02x 00 00 00 ef", shifter);
        if (!extraOrder.isEmpty())
            expected << chopZeros(
                QStringLiteral("set-feature 02 11 ef %1 %2").arg(extra("pbXL"), extra("pbXR")));
        expected << QStringList(pages.size(), QStringLiteral("page")) << QStringLiteral("set-feature 02 0e");
        QStringList sent = s.wheel.sent({"output", "set-feature"});
        sent.replaceInStrings(QRegularExpression("^output .*"), QStringLiteral("page"));
        QCOMPARE(sent, expected);
        QByteArray frame;
        QList<int> order{0, 1};
        for (int p = 3; p < pages.size(); ++p)
            order << p;
        QCOMPARE(sentPages(s.wheel, &frame), order << 2);
        QCOMPARE(frame.toHex(' '), pages.join(' ').toLatin1());
        if (!shifterTip.isEmpty())
            QCOMPARE(slider->statusTip(), QString::number(shifter));

        QVERIFY(s.wheel.unplug());
        QTRY_VERIFY(!deviceHandle().isOpen());
        s.wheel.clearTranscript();
        QVERIFY(s.wheel.plug());
        QTRY_VERIFY_WITH_TIMEOUT(s.connected(), 10000);
        for (const QString &name : kPainted.keys()) {
            const bool exact = extraRead && (name == "pbXL" || name == "pbXR");
            if (!s.widget(name)->isHidden())
                QCOMPARE(s.colour(name), exact ? kPainted[name] : rounded(kPainted[name]));
        }
        for (const QString &spot : readAs) {
            const QStringList f = spot.split(' ');
            const QColor expected =
                f[2] == "unread" ? kPainted[f[1]] : rounded(permuted(kPainted[f[1]], f[2]));
            QVERIFY2(s.colour(f[0]) == expected, qPrintable(spot));
        }
        // One request buffer for all pages: page 1's request still carries page
        // 0's reply behind its first four bytes. The extra LEDs are asked for
        // once, after the last page.
        const QStringList asked = s.wheel.sent({"set-feature"});
        const int firstPage = int(asked.indexOf("set-feature 02 0b")); // page 0, all zero
        QCOMPARE(asked.value(firstPage + 1), chopZeros("set-feature 02 0b 01 00 " + pages[0].mid(6)));
        QVERIFY(asked.value(firstPage + pages.size() - 1)
                    .startsWith(QStringLiteral("set-feature 02 0b 0%1 00").arg(pages.size() - 1)));
        QCOMPARE(asked.value(firstPage + pages.size()) == "set-feature 02 0b 11", extraRead);
        QCOMPARE(asked.mid(firstPage).count("set-feature 02 0b 11"), extraRead ? 1 : 0);

        s.click("pbS2");
        QTest::qWait(100);
        const QImage shot = s.window->grab().toImage();
        const QString folder = code.toLower().remove(QLatin1Char('-'));
        QVERIFY(shot.save(QDir(QStringLiteral(QUORSET_SCREENSHOT_DIR))
                              .filePath(QStringLiteral("model-%1-rgb.png").arg(folder))));
        const QWidget *b1 = s.widget("pbB1");
        const QColor seen = shot.pixelColor(b1->mapTo(s.window.get(), b1->rect().center()));
        const QColor shown = s.colour("pbB1");
        QVERIFY2(qAbs(seen.red() - shown.red()) <= 6 && qAbs(seen.green() - shown.green()) <= 6 &&
                     qAbs(seen.blue() - shown.blue()) <= 6,
                 qPrintable(seen.name()));
    }

    // H-ZET hides the light row that its frame still carries (LEDs 26..36).
    void presetPaintsVisibleButtonsOnly()
    {
        Session s("H-ZET");
        OPEN_RGB_PAGE(s);
        const QColor hidden(10, 20, 30);
        for (const auto &[preset, colour] : kPresets) {
            s.paint("pbT1", hidden);
            s.wheel.clearTranscript();
            QTest::mouseClick(s.widget<QPushButton>(preset), Qt::LeftButton);
            for (const QString &name : kPainted.keys()) {
                if (!s.widget(name)->isHidden())
                    QVERIFY2(s.colour(name) == colour, qPrintable(name + ' ' + preset));
            }
            QCOMPARE(s.colour("pbT1"), hidden);
            QByteArray frame;
            QCOMPARE(sentPages(s.wheel, &frame), (QList<int>{0, 1, 3, 2}));
            QCOMPARE(frameLed(frame, 0), rounded(colour));
            QCOMPARE(frameLed(frame, 26), rounded(hidden));
            QCOMPARE(
                s.wheel.sent({"set-feature"}),
                QStringList{chopZeros(QStringLiteral("set-feature 02 11 00 %1 %1").arg(hexTriple(colour)))});
        }
    }

    void colourDialog_data() { wheeltest::addRows(kDialogAnswers); }
    void colourDialog()
    {
        const auto &[tag, answer, plugged] = wheeltest::rowOf(kDialogAnswers);
        Session s("SRD7");
        OPEN_RGB_PAGE(s);
        auto *slider = s.widget<QSlider>("hsShifter");
        if (!plugged) {
            QVERIFY(s.wheel.unplug());
            QTRY_VERIFY(!deviceHandle().isOpen());
            slider->setStatusTip("100");
            slider->setValue(200);
        }
        s.prompts.colourAnswer = answer;
        const QColor before = s.colour("pbB1");

        QTest::mouseClick(s.widget<QPushButton>("pbB1"), Qt::LeftButton);
        QCOMPARE(s.prompts.colourInitials, QList<QColor>{before});
        QCOMPARE(s.colour("pbB1"), answer.isValid() ? answer : before);
        if (!plugged) {
            s.click("pbSave");
            QCOMPARE(slider->statusTip(), QStringLiteral("100"));
            QCOMPARE(
                s.prompts.shown(),
                QStringList{"Error: Can not save setting.\nNot stored: SHIFTER PULSE WIDTH, LED colors."});
        }
        if (!answer.isValid() || !plugged) {
            QCOMPARE(s.wheel.sent({"output", "set-feature"}), QStringList());
            return;
        }
        QByteArray frame;
        QCOMPARE(sentPages(s.wheel, &frame), (QList<int>{0, 1, 3, 2}));
        // The pick goes out at once, but is not committed to flash.
        QCOMPARE(frameLed(frame, 0), rounded(answer));
        QVERIFY(!s.wheel.sent({"set-feature"}).contains("set-feature 02 0e"));
    }

    // Without a wheel: read from the buttons' style sheets, pbB1 sky blue,
    // pbB9 an invalid rgb(300,0,0), every other button absent. Both of the
    // latter go out black; pbB1 as levels 0, 12, 15 in LED 0. VLN6's 43 LEDs
    // end in the low nibble of byte 64, then every slot is lit. Read back from
    // an all-zero frame and record, every button turns black.
    void blackWithoutColours()
    {
        const LedButtonColours colours = ledButtonColoursFromStyleSheets(
            {{"pbB1", "QPushButton {background-color:rgb(0,170,255);  color: white;}"},
             {"pbB9", "QPushButton {background-color: rgb(300,0,0); color: white;}"}});
        const LedColourWrite write = ledColourWrite(QStringLiteral("QUOR VLN6 Wheel"), colours, false);
        const QByteArray expected = QByteArray::fromHex("c00f") + QByteArray(62, '\0') +
                                    QByteArray::fromHex("f0") + QByteArray(7, '\xFF');
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(write.frame.data()), 72), expected);
        QVERIFY(write.extraLeds.has_value());
        // The 20 bytes a feature report sends (the 21st is only ever read).
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(write.extraLeds->data()), int(kCommandSendLength)),
                 QByteArray::fromHex("0211").leftJustified(int(kCommandSendLength), '\0'));

        const std::vector<LedPaint> paints =
            ledColoursToPaint(QStringLiteral("QUOR VLN6 Wheel"), LedFrame{}, ExtraLeds{});
        QCOMPARE(int(paints.size()), 45);
        for (const LedPaint &p : paints)
            QCOMPARE(p.colour, QColor(0, 0, 0));
        // Names without a map (the match is case-sensitive) paint nothing at all.
        for (const char *name : {"QUOR H-MIRA Wheel", "quor vln6 wheel"})
            QVERIFY2(ledColoursToPaint(QLatin1String(name), LedFrame{}, ExtraLeds{}).empty(), name);
    }

    // RGB, RBG and GRB go both ways in readsAColourfulFrame's rows. GBR and
    // BRG undo each other: reading must not reuse the sending one. Each code
    // (6 and -1 unknown, so RGB) with (10, 20, 30) as sent in its order and
    // slots (1, 2, 3) as read back. Then sheets a theme or a later edit may
    // bend: no background-color, spaces, a non-number and a missing value.
    void channelOrdersAndSheets()
    {
        const std::tuple<int, Rgb, Rgb> rows[] = {{3, {20, 30, 10}, {3, 1, 2}},
                                                  {4, {30, 10, 20}, {2, 3, 1}},
                                                  {5, {30, 20, 10}, {3, 2, 1}},
                                                  {6, {10, 20, 30}, {1, 2, 3}},
                                                  {-1, {10, 20, 30}, {1, 2, 3}}};
        for (const auto &[code, frame, read] : rows) {
            const ChannelOrder order = channelOrderFromCode(code);
            QVERIFY2(toFrameOrder(Rgb{10, 20, 30}, order) == frame, qPrintable(QString::number(code)));
            QCOMPARE(buttonColour(QStringLiteral("x {background-color: rgb(10,20,30);}"), code),
                     QColor(frame.red, frame.green, frame.blue));
            QVERIFY2(fromFrameOrder(Rgb{1, 2, 3}, order) == read, qPrintable(QString::number(code)));
        }
        QCOMPARE(buttonColour("border: rgb(1,2,3);", 0), QColor(1, 2, 3));
        QCOMPARE(buttonColour("rgb( 10 , 20 ,30 )", 0), QColor(10, 20, 30));
        QCOMPARE(buttonColour("rgb(10,x)", 0), QColor(10, 0, 0));
    }
};

WHEEL_TEST_MAIN(TestRgbPage)
#include "tst_rgb_page.moc"
