// Laying the window's form out for the wheel that answers, through the real
// hidapi against the emulated wheel: what the name query and the extra-LED
// query put on the wire, and what every model leaves on the pages.
#include "wheel_fixture.h"
#include "wheel_test_main.h"

#include "device/command_report.h"
#include "device/device_handle.h"
#include "device/discovery.h"
#include "device/model_layout.h"
#include "ui_mainwindow.h"

#include <hidapi/hidapi.h>

#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QUrl>

#include <memory>

namespace {

const QString kBeforeRgbPicture = QStringLiteral("border-image: url(:/img/before.png)");
const QString kWaitingHeader = QStringLiteral("WAITING FOR DEVICE...");

const QString kIndicatorSheet = QStringLiteral("QPushButton {border-radius: 12px; background-color: "
                                               "rgb(0,117,190); border: 1px solid white; color: white;}");
const QString kCircleSheet = QStringLiteral("QPushButton {border-radius: 12px; background-color: "
                                            "rgb(255,255,255); border: 1px solid white; color: white;}");
const QString kSquareSheet = QStringLiteral("QPushButton {border-radius: 4px; background-color: "
                                            "rgb(255,255,255); border: 1px solid white; color: white;}");

// Widgets whose presence differs between the models.
const QStringList kWatched = {
    QStringLiteral("lbEnc"),     QStringLiteral("hsTrigger"), QStringLiteral("lbTrigger"),
    QStringLiteral("pbSaveEnc"), QStringLiteral("pgAdcL"),    QStringLiteral("pbCalL"),
    QStringLiteral("pgAdcR"),    QStringLiteral("pbCalR"),    QStringLiteral("cbClutch"),
    QStringLiteral("gpClutch"),  QStringLiteral("cbShifter"), QStringLiteral("gpShifter"),
    QStringLiteral("pbXL"),      QStringLiteral("pbXR"),      QStringLiteral("lbSht"),
    QStringLiteral("hsShifter"), QStringLiteral("lbShifter")};

const QStringList kAllControls = {QStringLiteral("lbEnc"),     QStringLiteral("hsTrigger"),
                                  QStringLiteral("lbTrigger"), QStringLiteral("pbSaveEnc"),
                                  QStringLiteral("pgAdcL"),    QStringLiteral("pbCalL"),
                                  QStringLiteral("pgAdcR"),    QStringLiteral("pbCalR")};

// The input indicators of page1, as the waiting screen finds them.
bool isIndicator(const QString &name)
{
    return name.startsWith(QLatin1String("pbI")) || name.startsWith(QLatin1String("pbJ")) ||
           name.startsWith(QLatin1String("pbSW"));
}

QStringList operator+(const QStringList &a, const char *b)
{
    return QStringList(a) << QLatin1String(b);
}

QStringList toQt(const std::vector<std::string> &lines)
{
    QStringList out;
    for (const std::string &l : lines)
        out << QString::fromStdString(l);
    return out;
}

// The request lines the host sent, without the zero padding.
QStringList requests(const wheeltest::WheelFixture &wheel)
{
    QStringList out;
    for (QString line : toQt(wheel.exchanges({"set-feature"}))) {
        while (line.endsWith(QLatin1String(" 00")))
            line.chop(3);
        out << line;
    }
    return out;
}

// The window's form as the program builds it, in the state the waiting
// screen leaves, talking to one emulated wheel.
struct LayoutBench
{
    std::unique_ptr<wheeltest::WheelFixture> wheel;
    QMainWindow window;
    Ui::MainWindow ui;
    int shifterStatusRuns = 0;
    QStringList calls;

    explicit LayoutBench(const wheeltest::WheelFixture::Options &options)
        : wheel(std::make_unique<wheeltest::WheelFixture>(options))
    {
        ui.setupUi(&window);
        ui.lbHead->setText(kWaitingHeader);
        ui.lbMain->setStyleSheet(QStringLiteral("border-image:"));
        ui.lbMainRGB->setStyleSheet(kBeforeRgbPicture);
        for (QObject *child : ui.page1->children()) {
            if (isIndicator(child->objectName()))
                qobject_cast<QWidget *>(child)->hide();
        }
        for (QPushButton *button : {ui.pbS1, ui.pbS2, ui.pbS3, ui.pbS4})
            button->setEnabled(false);
        // Once every page has been on screen, a widget is hidden exactly when
        // something hid it, which is what the layout decides.
        window.show();
        for (int page = 0; page < ui.stackedWidget->count(); ++page)
            ui.stackedWidget->setCurrentIndex(page);
        ui.stackedWidget->setCurrentIndex(0);
    }

    ~LayoutBench() { deviceHandle().close(); }

    bool open() { return openFirstWheel(deviceHandle()) != 0; }

    ModelLayoutHost host()
    {
        ModelLayoutHost h;
        h.form = &window;
        h.device = &deviceHandle();
        h.shifterStatus = [this] {
            calls << QStringLiteral("shifterStatus");
        };
        h.loadExtraShiftersEnabled = [this] {
            calls << QStringLiteral("loadExtraShiftersEnabled cbShifter %1")
                         .arg(ui.cbShifter->isHidden() ? QStringLiteral("hidden") : QStringLiteral("shown"));
        };
        return h;
    }

    // The whole step onInit takes: read the name, lay the form out.
    ModelLayoutResult identify()
    {
        ModelLayoutResult result;
        if (const std::optional<QString> name = readModelName(deviceHandle()))
            result = applyModelLayout(*name, host());
        return result;
    }

    QWidget *widget(const QString &name) const { return window.findChild<QWidget *>(name); }

    QStringList shownWatched() const
    {
        QStringList shown;
        for (const QString &name : kWatched) {
            if (!widget(name)->isHidden())
                shown << name;
        }
        return shown;
    }

    QStringList shownLedButtons() const
    {
        QStringList shown;
        for (QObject *child : ui.page2->children()) {
            auto *button = qobject_cast<QPushButton *>(child);
            const QString name = child->objectName();
            if (button && !button->isHidden() &&
                QRegularExpression(QStringLiteral("^pb(B|D|T|X)")).match(name).hasMatch())
                shown << name;
        }
        return shown;
    }
};

wheeltest::WheelFixture::Options modelOptions(const QString &code)
{
    wheeltest::WheelFixture::Options options;
    options.model = code.toStdString();
    return options;
}

} // namespace

class TestModelLayout : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QCOMPARE(hid_init(), 0); }

    void everyModel_data();
    void everyModel();
    void placements_data();
    void placements();
    void extraLedsFollowTheWheel_data();
    void extraLedsFollowTheWheel();
    void namesWithTwoCodes_data();
    void namesWithTwoCodes();
    void matchingIsCaseSensitive();
    void nameWithoutTerminator();
    void refusedNameReplyChangesNothing();
    void noWheelNoName();
    void preludeUndoesTheModelBefore();
    void updateBaseIsSecure();
};

void TestModelLayout::everyModel_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("header");
    QTest::addColumn<int>("iconX");
    QTest::addColumn<QString>("rgbPicture");
    QTest::addColumn<bool>("ledPage");
    QTest::addColumn<int>("ledButtons");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<int>("statusPoll");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QStringList>("wire");

    const QStringList controls = kAllControls;
    const QStringList clutch = {QStringLiteral("cbClutch"), QStringLiteral("gpClutch")};
    const QStringList shifterGroup = {QStringLiteral("gpShifter")};
    const QStringList extraLeds = {QStringLiteral("pbXL"), QStringLiteral("pbXR")};
    const QString nameQuery = QStringLiteral("set-feature 02 0b 0d");
    const QString extraLedQuery = QStringLiteral("set-feature 02 0b 11");
    auto header = [](const char *code) {
        return QStringLiteral("QUOR CONTROLS QUOR %1 Wheel").arg(code);
    };
    auto picture = [](const char *word) {
        return QStringLiteral("border-image: url(:/img/back.%1.png)").arg(word);
    };

    QTest::newRow("H-ZET") << "H-ZET" << header("H-ZET") << 310 << picture("hzet") << true << 20
                           << controls + clutch + shifterGroup + extraLeds << 1 << "hzet/"
                           << QStringList{nameQuery, extraLedQuery};
    QTest::newRow("VLN6") << "VLN6" << header("VLN6") << 310 << picture("vln6") << true << 37
                          << controls + clutch + "cbShifter" + shifterGroup + extraLeds << 0 << "vln6/"
                          << QStringList{nameQuery, extraLedQuery};
    QTest::newRow("H-MIRA") << "H-MIRA" << header("H-MIRA") << 310 << kBeforeRgbPicture << false << 0
                            << controls + clutch + shifterGroup << 1 << "hmira/" << QStringList{nameQuery};
    QTest::newRow("OV410") << "OV410" << QStringLiteral("Quor Controls - OV410 Edition SIM Wheel") << 150
                           << picture("ov410") << true << 18
                           << QStringList{QStringLiteral("lbEnc"), QStringLiteral("hsTrigger"),
                                          QStringLiteral("lbTrigger"), QStringLiteral("pbSaveEnc")} +
                                  shifterGroup
                           << 1 << "ov410/" << QStringList{nameQuery};
    QTest::newRow("KLINO4") << "KLINO4" << header("KLINO4") << 310 << picture("klino4") << true << 15
                            << controls + clutch + shifterGroup + extraLeds << 1 << "klino4/"
                            << QStringList{nameQuery};
    QTest::newRow("ULMAR") << "ULMAR" << header("ULMAR") << 310 << picture("ulmar") << true << 41
                           << QStringList{QStringLiteral("lbEnc"), QStringLiteral("hsTrigger"),
                                          QStringLiteral("lbTrigger"), QStringLiteral("pbSaveEnc")} +
                                  clutch + "cbShifter" + shifterGroup + extraLeds
                           << 1 << "ulmar/" << QStringList{nameQuery};
    QTest::newRow("SRD7") << "SRD7" << header("SRD7") << 310 << picture("srd7") << true << 36
                          << controls + clutch + shifterGroup + extraLeds << 0 << "srd7/"
                          << QStringList{nameQuery};
    QTest::newRow("PELIX") << "PELIX" << header("PELIX") << 310 << picture("pelix") << true << 29
                           << QStringList{QStringLiteral("lbEnc"),     QStringLiteral("hsTrigger"),
                                          QStringLiteral("lbTrigger"), QStringLiteral("pbSaveEnc"),
                                          QStringLiteral("pbCalL"),    QStringLiteral("pbCalR")} +
                                  clutch
                           << 0 << "pelix/" << QStringList{nameQuery};
}

void TestModelLayout::everyModel()
{
    QFETCH(QString, code);
    QFETCH(QString, header);
    QFETCH(int, iconX);
    QFETCH(QString, rgbPicture);
    QFETCH(bool, ledPage);
    QFETCH(int, ledButtons);
    QFETCH(QStringList, shown);
    QFETCH(int, statusPoll);
    QFETCH(QString, folder);
    QFETCH(QStringList, wire);

    LayoutBench bench(modelOptions(code));
    QVERIFY2(bench.wheel->ok(), bench.wheel->error().c_str());
    QVERIFY(bench.open());
    bench.wheel->clearTranscript();

    const ModelLayoutResult result = bench.identify();

    QCOMPARE(requests(*bench.wheel), wire);
    QCOMPARE(result.entriesApplied, 1);
    QCOMPARE(bench.ui.lbHead->text(), header);
    QCOMPARE(bench.ui.lbIcon->x(), iconX);
    QCOMPARE(bench.ui.lbIcon->y(), 10);
    QCOMPARE(bench.ui.lbMain->styleSheet(),
             QStringLiteral("border-image: url(:/img/back.%1.png)").arg(folder.chopped(1)));
    QCOMPARE(bench.ui.lbMainRGB->styleSheet(), rgbPicture);
    QCOMPARE(bench.ui.pbS2->isEnabled(), ledPage);
    for (QPushButton *page : {bench.ui.pbS1, bench.ui.pbS3, bench.ui.pbS4, bench.ui.pbS5})
        QVERIFY2(page->isEnabled(), qPrintable(page->objectName()));
    QCOMPARE(bench.shownLedButtons().size(), ledButtons);
    QCOMPARE(bench.shownWatched(), shown);
    QVERIFY(result.statusPoll.has_value());
    QCOMPARE(int(*result.statusPoll), statusPoll);
    QVERIFY(result.updateUrl.has_value());
    QCOMPARE(*result.updateUrl, QStringLiteral(QUORSET_UPDATE_BASE_URL) + folder);

    // Every indicator waits hidden and enabled for its button.
    for (QObject *child : bench.ui.page1->children()) {
        const QString name = child->objectName();
        if (!isIndicator(name))
            continue;
        auto *indicator = qobject_cast<QWidget *>(child);
        QVERIFY2(indicator->isHidden(), qPrintable(name));
        QVERIFY2(indicator->isEnabled(), qPrintable(name));
    }
    // LED buttons a model does not have are out of reach as well as out of sight.
    for (QObject *child : bench.ui.page2->children()) {
        auto *button = qobject_cast<QPushButton *>(child);
        const QString name = child->objectName();
        if (!button || name.startsWith(QLatin1String("pbSet")) || name.startsWith(QLatin1String("pbX")) ||
            !QRegularExpression(QStringLiteral("^pb(B|D|T)")).match(name).hasMatch())
            continue;
        QCOMPARE(button->isEnabled(), !button->isHidden());
    }
    // The prelude ran the shifter sizing once; only models with extra
    // shifters read their state, after showing the check box.
    const bool extraShifters = shown.contains(QStringLiteral("cbShifter"));
    QStringList expectedCalls{QStringLiteral("shifterStatus")};
    if (extraShifters)
        expectedCalls << QStringLiteral("loadExtraShiftersEnabled cbShifter shown");
    QCOMPARE(bench.calls, expectedCalls);
}

void TestModelLayout::placements_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("widget");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<QString>("sheet"); // empty: the form's own

    auto row = [](const char *code, const char *widget, QRect geometry, bool visible, const QString &sheet) {
        QTest::addRow("%s %s", code, widget) << code << widget << geometry << visible << sheet;
    };
    const QString form;
    row("H-ZET", "pbIB4", {266, 222, 24, 24}, false, kIndicatorSheet);
    row("H-ZET", "pbID1L", {299, 122, 26, 25}, false, kIndicatorSheet);
    row("H-ZET", "pbB3", {237, 140, 24, 24}, true, kCircleSheet);
    row("H-ZET", "pbXL", {192, 37, 24, 24}, true, kCircleSheet);
    row("H-ZET", "pgAdcR", {530, 290, 101, 10}, true, form);
    row("H-ZET", "lbEnc", {290, 10, 181, 21}, true, form);
    row("VLN6", "pbTL2", {260, 65, 12, 12}, true, kSquareSheet);
    row("VLN6", "pbD13", {327, 200, 24, 24}, true, kCircleSheet);
    row("VLN6", "pbJsR3", {521, 207, 25, 25}, false, kIndicatorSheet);
    row("VLN6", "lbTrigger", {330, 120, 100, 21}, true, form);
    row("VLN6", "pbXR", {543, 50, 24, 24}, true, kCircleSheet);
    row("H-MIRA", "pbIB12", {464, 164, 24, 24}, false, kIndicatorSheet);
    row("H-MIRA", "pbJsLC", {217, 166, 25, 25}, false, kIndicatorSheet);
    row("H-MIRA", "pbCalR", {550, 305, 60, 15}, true, form);
    row("H-MIRA", "pbB1", {143, 27, 24, 24}, false, form);
    row("OV410", "pbISW2", {487, 218, 24, 24}, false, kIndicatorSheet);
    row("OV410", "pbT9", {507, 100, 24, 24}, true, kCircleSheet);
    row("OV410", "pbD3", {255, 75, 24, 24}, true, kCircleSheet);
    row("OV410", "hsTrigger", {309, 40, 141, 22}, true, form);
    row("KLINO4", "pbXL", {249, 146, 24, 24}, true, kCircleSheet);
    row("KLINO4", "pbB11", {392, 65, 24, 24}, true, kCircleSheet);
    row("KLINO4", "pbID6R", {570, 70, 25, 25}, false, kIndicatorSheet);
    row("KLINO4", "pgAdcL", {60, 290, 101, 10}, true, form);
    row("ULMAR", "pbXL", {170, 25, 25, 25}, true, form);
    row("ULMAR", "pbT19", {455, 149, 12, 12}, true, form);
    row("ULMAR", "pbTL3", {240, 78, 24, 24}, true, kCircleSheet);
    row("ULMAR", "pgAdcL", {130, 290, 101, 10}, false, form);
    row("ULMAR", "pbIB2", {273, 300, 24, 24}, false, form);
    row("ULMAR", "pbSWL", {170, 25, 24, 24}, false, form);
    row("SRD7", "pbB3", {245, 116, 12, 12}, true, kSquareSheet);
    row("SRD7", "pbTL1", {367, 233, 24, 24}, true, kCircleSheet);
    row("SRD7", "pgAdcL", {100, 210, 101, 10}, true, form);
    row("SRD7", "pbCalR", {580, 225, 60, 15}, true, form);
    row("SRD7", "pbJsRL", {507, 151, 25, 25}, false, kIndicatorSheet);
    row("PELIX", "pbCalL", {150, 305, 60, 15}, true, form);
    row("PELIX", "pbD16", {368, 125, 12, 12}, true, kSquareSheet);
    row("PELIX", "pbTR3", {465, 123, 12, 12}, true, kSquareSheet);
    row("PELIX", "pbIB14", {492, 176, 24, 24}, false, kIndicatorSheet);
    row("PELIX", "lbTrigger", {330, 40, 100, 21}, true, form);
}

void TestModelLayout::placements()
{
    QFETCH(QString, code);
    QFETCH(QString, widget);
    QFETCH(QRect, geometry);
    QFETCH(bool, visible);
    QFETCH(QString, sheet);

    LayoutBench bench(modelOptions(code));
    QVERIFY2(bench.wheel->ok(), bench.wheel->error().c_str());
    QVERIFY(bench.open());
    bench.identify();

    QWidget *placed = bench.widget(widget);
    QVERIFY(placed);
    QCOMPARE(placed->geometry(), geometry);
    QCOMPARE(!placed->isHidden(), visible);
    if (sheet.isEmpty()) {
        QMainWindow fresh;
        Ui::MainWindow formUi;
        formUi.setupUi(&fresh);
        QCOMPARE(placed->styleSheet(), fresh.findChild<QWidget *>(widget)->styleSheet());
    } else {
        QCOMPARE(placed->styleSheet(), sheet);
    }
}

void TestModelLayout::extraLedsFollowTheWheel_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<bool>("fitted");
    QTest::addColumn<bool>("failReply");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<QRect>("left");
    QTest::addColumn<QRect>("right");

    const QRect formLeft(191, 28, 25, 25);
    const QRect formRight(543, 28, 25, 25);
    QTest::newRow("H-ZET fitted") << "H-ZET" << true << false << true << QRect(192, 37, 24, 24)
                                  << QRect(545, 37, 24, 24);
    QTest::newRow("H-ZET not fitted") << "H-ZET" << false << false << false << formLeft << formRight;
    QTest::newRow("H-ZET failed read") << "H-ZET" << true << true << false << formLeft << formRight;
    QTest::newRow("VLN6 fitted") << "VLN6" << true << false << true << QRect(195, 50, 24, 24)
                                 << QRect(543, 50, 24, 24);
    QTest::newRow("VLN6 not fitted") << "VLN6" << false << false << false << formLeft << formRight;
}

void TestModelLayout::extraLedsFollowTheWheel()
{
    QFETCH(QString, code);
    QFETCH(bool, fitted);
    QFETCH(bool, failReply);
    QFETCH(bool, shown);
    QFETCH(QRect, left);
    QFETCH(QRect, right);

    wheeltest::WheelFixture::Options options = modelOptions(code);
    options.extraLeds = fitted;
    LayoutBench bench(options);
    QVERIFY2(bench.wheel->ok(), bench.wheel->error().c_str());
    QVERIFY(bench.open());
    const std::optional<QString> name = readModelName(deviceHandle());
    QVERIFY(name);
    if (failReply)
        bench.wheel->failGetFeature(1);
    bench.wheel->clearTranscript();
    applyModelLayout(*name, bench.host());

    QCOMPARE(requests(*bench.wheel), QStringList{QStringLiteral("set-feature 02 0b 11")});
    QCOMPARE(!bench.ui.pbXL->isHidden(), shown);
    QCOMPARE(!bench.ui.pbXR->isHidden(), shown);
    QCOMPARE(bench.ui.pbXL->geometry(), left);
    QCOMPARE(bench.ui.pbXR->geometry(), right);
}

void TestModelLayout::namesWithTwoCodes_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("entries");
    QTest::addColumn<QString>("header");
    QTest::addColumn<int>("statusPoll");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QStringList>("wire");
    QTest::addColumn<QStringList>("probeWidgets");
    QTest::addColumn<QList<QRect>>("probeGeometry");
    QTest::addColumn<QList<bool>>("probeShown");

    const QString nameQuery = QStringLiteral("set-feature 02 0b 0d");
    const QString extraLedQuery = QStringLiteral("set-feature 02 0b 11");
    // Table order, not the order in the name: VLN6 comes after H-ZET and wins
    // where both place the same widget. Both ask for the extra LEDs.
    QTest::newRow("VLN6 then H-ZET in the name")
        << "QUOR VLN6+H-ZET" << 2 << "QUOR CONTROLS QUOR VLN6+H-ZET" << 0 << "vln6/"
        << QStringList{nameQuery, extraLedQuery, extraLedQuery}
        << QStringList{QStringLiteral("lbEnc"), QStringLiteral("pbD3"), QStringLiteral("pbT1"),
                       QStringLiteral("pbXL")}
        << QList<QRect>{{290, 70, 181, 21}, {238, 118, 24, 24}, {310, 33, 12, 12}, {195, 50, 24, 24}}
        << QList<bool>{true, true, true, true};
    // OV410 sets the header and the icon; PELIX does not touch them. PELIX
    // places its own LED buttons over OV410's but leaves pbD3, which only
    // OV410 lists, where OV410 put it: the rows do not undo each other.
    QTest::newRow("OV410 and PELIX") << "Q OV410 PELIX" << 2 << "Quor Controls - OV410 Edition SIM Wheel" << 0
                                     << "pelix/" << QStringList{nameQuery}
                                     << QStringList{QStringLiteral("pbD3"),     QStringLiteral("pbT3"),
                                                    QStringLiteral("pbB3"),     QStringLiteral("lbIcon"),
                                                    QStringLiteral("cbClutch"), QStringLiteral("gpShifter"),
                                                    QStringLiteral("pbCalL"),   QStringLiteral("pgAdcL")}
                                     << QList<QRect>{{255, 75, 24, 24},  {339, 79, 12, 12},
                                                     {233, 73, 24, 24},  {150, 10, 31, 31},
                                                     {50, 10, 251, 23},  {50, 170, 661, 191},
                                                     {150, 305, 60, 15}, {130, 290, 101, 10}}
                                     << QList<bool>{true, true, true, true, true, false, true, false};
}

void TestModelLayout::namesWithTwoCodes()
{
    QFETCH(QString, name);
    QFETCH(int, entries);
    QFETCH(QString, header);
    QFETCH(int, statusPoll);
    QFETCH(QString, folder);
    QFETCH(QStringList, wire);
    QFETCH(QStringList, probeWidgets);
    QFETCH(QList<QRect>, probeGeometry);
    QFETCH(QList<bool>, probeShown);

    wheeltest::WheelFixture::Options options;
    options.model = "H-ZET";
    options.name = name.toStdString();
    LayoutBench bench(options);
    QVERIFY2(bench.wheel->ok(), bench.wheel->error().c_str());
    QVERIFY(bench.open());
    bench.wheel->clearTranscript();

    const ModelLayoutResult result = bench.identify();

    QCOMPARE(requests(*bench.wheel), wire);
    QCOMPARE(result.entriesApplied, entries);
    QCOMPARE(bench.ui.lbHead->text(), header);
    QCOMPARE(int(result.statusPoll.value_or(0xFF)), statusPoll);
    QCOMPARE(result.updateUrl.value_or(QString()), QStringLiteral(QUORSET_UPDATE_BASE_URL) + folder);
    for (int i = 0; i < probeWidgets.size(); ++i) {
        QWidget *probe = bench.widget(probeWidgets[i]);
        QVERIFY(probe);
        QCOMPARE(probe->geometry(), probeGeometry[i]);
        QCOMPARE(!probe->isHidden(), probeShown[i]);
    }
}

void TestModelLayout::matchingIsCaseSensitive()
{
    wheeltest::WheelFixture::Options options;
    options.model = "H-ZET";
    options.name = "QUOR h-zet Wheel";
    LayoutBench bench(options);
    QVERIFY2(bench.wheel->ok(), bench.wheel->error().c_str());
    QVERIFY(bench.open());
    bench.wheel->clearTranscript();

    const ModelLayoutResult result = bench.identify();

    // The prelude alone: the name in the header, no picture, no LED buttons,
    // no paddle bars, and nothing for the window to keep.
    QCOMPARE(requests(*bench.wheel), QStringList{QStringLiteral("set-feature 02 0b 0d")});
    QCOMPARE(result.entriesApplied, 0);
    QVERIFY(!result.statusPoll.has_value());
    QVERIFY(!result.updateUrl.has_value());
    QCOMPARE(bench.ui.lbHead->text(), QStringLiteral("QUOR CONTROLS QUOR h-zet Wheel"));
    QCOMPARE(bench.ui.lbMain->styleSheet(), QStringLiteral("border-image:"));
    QCOMPARE(bench.ui.lbMainRGB->styleSheet(), kBeforeRgbPicture);
    QCOMPARE(bench.shownLedButtons(), QStringList());
    QCOMPARE(bench.shownWatched(),
             (QStringList{QStringLiteral("lbEnc"), QStringLiteral("hsTrigger"), QStringLiteral("lbTrigger"),
                          QStringLiteral("pbSaveEnc"), QStringLiteral("gpShifter")}));
    QVERIFY(bench.ui.pbS2->isEnabled());
}

void TestModelLayout::nameWithoutTerminator()
{
    // 19 bytes fill the reply from byte 2 to its end: no zero follows.
    const std::string name = "QUOR-SRD7-WHEEL-XYZ";
    QCOMPARE(name.size(), size_t(19));
    wheeltest::WheelFixture::Options options;
    options.model = "SRD7";
    options.name = name;
    LayoutBench bench(options);
    QVERIFY2(bench.wheel->ok(), bench.wheel->error().c_str());
    QVERIFY(bench.open());
    bench.wheel->clearTranscript();

    const std::optional<QString> read = readModelName(deviceHandle());

    const QStringList replies = toQt(bench.wheel->exchanges({"get-feature"}));
    QCOMPARE(replies.size(), 1);
    QVERIFY2(!replies[0].endsWith(QLatin1String(" 00")), qPrintable(replies[0]));
    QVERIFY(read.has_value());
    QCOMPARE(*read, QString::fromStdString(name));
    const ModelLayoutResult result = applyModelLayout(*read, bench.host());
    QCOMPARE(bench.ui.lbHead->text(), QStringLiteral("QUOR CONTROLS QUOR-SRD7-WHEEL-XYZ"));
    QCOMPARE(result.updateUrl.value_or(QString()), QStringLiteral(QUORSET_UPDATE_BASE_URL "srd7/"));
}

void TestModelLayout::refusedNameReplyChangesNothing()
{
    LayoutBench bench(modelOptions(QStringLiteral("SRD7")));
    QVERIFY2(bench.wheel->ok(), bench.wheel->error().c_str());
    QVERIFY(bench.open());
    bench.wheel->failGetFeature(1);
    bench.wheel->clearTranscript();

    // The failed read leaves the request in the buffer: byte 1 is 0x0B.
    const ModelLayoutResult result = bench.identify();

    QCOMPARE(requests(*bench.wheel), QStringList{QStringLiteral("set-feature 02 0b 0d")});
    QCOMPARE(result.entriesApplied, 0);
    QVERIFY(!result.updateUrl.has_value());
    QCOMPARE(bench.ui.lbHead->text(), kWaitingHeader);
    QCOMPARE(bench.ui.lbMain->styleSheet(), QStringLiteral("border-image:"));
    QVERIFY(!bench.ui.pbS1->isEnabled());
    QVERIFY(!bench.ui.pbS2->isEnabled());
    QVERIFY(bench.calls.isEmpty());
}

void TestModelLayout::noWheelNoName()
{
    LayoutBench bench(modelOptions(QStringLiteral("SRD7")));
    QVERIFY2(bench.wheel->ok(), bench.wheel->error().c_str());
    deviceHandle().close();
    bench.wheel->clearTranscript();

    QVERIFY(!readModelName(deviceHandle()).has_value());
    // Without a wheel the extra-LED question is not asked and reads as "not fitted".
    applyModelLayout(QStringLiteral("QUOR H-ZET Wheel"), bench.host());
    QVERIFY(bench.ui.pbXL->isHidden());
    QCOMPARE(requests(*bench.wheel), QStringList());
}

void TestModelLayout::preludeUndoesTheModelBefore()
{
    LayoutBench bench(modelOptions(QStringLiteral("SRD7")));
    QVERIFY2(bench.wheel->ok(), bench.wheel->error().c_str());
    QVERIFY(bench.open());

    applyModelLayout(QStringLiteral("QUOR ULMAR Wheel"), bench.host());
    QVERIFY(!bench.ui.pbT19->isHidden());
    QVERIFY(!bench.ui.cbShifter->isHidden());
    applyModelLayout(QStringLiteral("QUOR OV410 Wheel"), bench.host());
    QCOMPARE(bench.ui.lbIcon->x(), 150);
    bench.ui.lbSht->show();
    bench.ui.hsShifter->show();
    bench.ui.pbIExL->show();

    applyModelLayout(QStringLiteral("QUOR SRD7 Wheel"), bench.host());

    QCOMPARE(bench.ui.lbIcon->x(), 310);
    QCOMPARE(bench.ui.lbHead->text(), QStringLiteral("QUOR CONTROLS QUOR SRD7 Wheel"));
    QVERIFY(bench.ui.pbT19->isHidden());
    QVERIFY(!bench.ui.pbT19->isEnabled());
    QVERIFY(bench.ui.cbShifter->isHidden());
    QVERIFY(bench.ui.lbSht->isHidden());
    QVERIFY(bench.ui.hsShifter->isHidden());
    QVERIFY(bench.ui.pbIExL->isHidden());
    QCOMPARE(bench.shownLedButtons().size(), 36);
}

void TestModelLayout::updateBaseIsSecure()
{
    const QString base = updateBaseUrl();
    QCOMPARE(base, QStringLiteral(QUORSET_UPDATE_BASE_URL));
    const QUrl url(base);
    QVERIFY2(url.isValid(), qPrintable(base));
    QCOMPARE(url.scheme(), QStringLiteral("https"));
    QVERIFY(!url.host().isEmpty());
    QCOMPARE(url.path(), QStringLiteral("/upgrade/"));
}

WHEEL_TEST_MAIN(TestModelLayout)
#include "tst_model_layout.moc"
