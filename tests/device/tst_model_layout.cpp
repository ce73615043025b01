// The window's form laid out for the wheel that answers, through the real
// hidapi against the emulated wheel: what the name and extra-LED queries put
// on the wire, what every model leaves on the pages, and whether its picture
// shows the wheel under every placed widget. The pictures are read through
// the program's own resource PNG reader, as the window reads them.
#include "table_rows.h"
#include "wheel_fixture.h"
#include "wheel_test_main.h"
#include "window_probe.h"

#include "app/pictures_ahead.h"
#include "app/stored_png_reader.h"
#include "device/device_handle.h"
#include "device/device_status.h"
#include "device/discovery.h"
#include "device/model_layout.h"
#include "ui_mainwindow.h"

#include <hidapi/hidapi.h>

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QStackedWidget>
#include <QtPlugin>
#include <QUrl>

Q_IMPORT_PLUGIN(ResourcePngPlugin)

namespace {

const QString kBeforeRgbPicture = QStringLiteral("border-image: url(:/img/before.png)");
const QString kWaitingHeader = QStringLiteral("WAITING FOR DEVICE...");
const QString kNameQuery = QStringLiteral("set-feature 02 0b 0d");
const QString kExtraLedQuery = QStringLiteral("set-feature 02 0b 11");
// Where the model picture (1280 x 720) is stretched on both pages.
const QRect kPictureLabel(61, 9, 640, 365);

// Widgets whose presence differs between the models.
const QStringList kWatched = {"lbEnc",  "hsTrigger", "lbTrigger", "pbSaveEnc", "pgAdcL",    "pbCalL",
                              "pgAdcR", "pbCalR",    "cbClutch",  "gpClutch",  "cbShifter", "gpShifter",
                              "pbXL",   "pbXR",      "lbSht",     "hsShifter", "lbShifter"};

bool isLedButton(const QString &name)
{
    return !name.startsWith(QLatin1String("pbSet")) && name.size() > 2 &&
           QStringLiteral("BDTX").contains(name.at(2)) && name.startsWith(QLatin1String("pb"));
}

// The direct children of a page whose names pass the test.
QList<QWidget *> namedChildren(const QWidget *page, bool (*named)(const QString &))
{
    QList<QWidget *> out;
    for (QObject *child : page->children())
        if (named(child->objectName()) && child->isWidgetType())
            out << static_cast<QWidget *>(child);
    return out;
}

QStringList operator+(const QStringList &a, const char *b)
{
    return QStringList(a) << QLatin1String(b);
}

// The window's form as the program builds it, in the state the waiting
// screen leaves, talking to one emulated wheel.
struct LayoutBench
{
    wheeltest::WheelFixture wheel;
    QMainWindow window;
    Ui::MainWindow ui;
    QStringList calls;

    explicit LayoutBench(const char *code, const std::string &name = {}, bool extraLeds = true)
        : wheel({code, name, -1, {}, extraLeds})
    {
        host.form = &window;
        host.device = &deviceHandle();
        host.shifterStatus = [this] {
            calls << QStringLiteral("shifterStatus");
        };
        host.loadExtraShiftersEnabled = [this] {
            calls << QStringLiteral("loadExtraShiftersEnabled, cbShifter ") +
                         (ui.cbShifter->isHidden() ? "hidden" : "shown");
        };
        ui.setupUi(&window);
        ui.lbHead->setText(kWaitingHeader);
        ui.lbMain->setStyleSheet(QStringLiteral("border-image:"));
        ui.lbMainRGB->setStyleSheet(kBeforeRgbPicture);
        for (QWidget *indicator : namedChildren(ui.page1, wheeltest::isIndicator))
            indicator->hide();
        for (QPushButton *button : {ui.pbS1, ui.pbS2, ui.pbS3, ui.pbS4})
            button->setEnabled(false);
        // Once every page has been on screen, a widget is hidden exactly when
        // something hid it, which is what the layout decides.
        window.show();
        for (int page = 0; page < ui.stackedWidget->count(); ++page)
            ui.stackedWidget->setCurrentIndex(page);
        ui.stackedWidget->setCurrentIndex(0);
        if (wheel.ok() && openFirstWheel(deviceHandle()) != 0)
            wheel.clearTranscript();
    }
    ~LayoutBench() { deviceHandle().close(); }

    QWidget *widget(const QString &name) const { return window.findChild<QWidget *>(name); }
    QStringList shownWatched() const
    {
        QStringList shown = kWatched;
        shown.removeIf([this](const QString &name) { return widget(name)->isHidden(); });
        return shown;
    }
    qsizetype shownLedButtons() const
    {
        const QList<QWidget *> buttons = namedChildren(ui.page2, isLedButton);
        return std::count_if(buttons.begin(), buttons.end(), [](QWidget *b) { return !b->isHidden(); });
    }

    ModelLayoutHost host;
};

// LED page, LED buttons shown, the watched widgets shown, the reports sent.
const QStringList kSlider{"lbEnc", "hsTrigger", "lbTrigger", "pbSaveEnc"};
const QStringList kControls = kSlider + QStringList{"pgAdcL", "pbCalL", "pgAdcR", "pbCalR"};
const QStringList kClutch{"cbClutch", "gpClutch"}, kExtraLeds{"pbXL", "pbXR"};
const QStringList kNameOnly{kNameQuery}, kWithExtraLeds{kNameQuery, kExtraLedQuery};
const std::tuple<const char *, bool, int, QStringList, QStringList> kModels[] = {
    {"H-ZET", true, 20, kControls + kClutch + "gpShifter" + kExtraLeds, kWithExtraLeds},
    {"VLN6", true, 37, kControls + kClutch + "cbShifter" + "gpShifter" + kExtraLeds, kWithExtraLeds},
    {"H-MIRA", false, 0, kControls + kClutch + "gpShifter", kNameOnly},
    {"OV410", true, 18, kSlider + "gpShifter", kNameOnly},
    {"KLINO4", true, 15, kControls + kClutch + "gpShifter" + kExtraLeds, kNameOnly},
    {"ULMAR", true, 41, kSlider + kClutch + "cbShifter" + "gpShifter" + kExtraLeds, kNameOnly},
    {"SRD7", true, 36, kControls + kClutch + "gpShifter" + kExtraLeds, kNameOnly},
    {"PELIX", true, 29, kSlider + QStringList{"pbCalL", "pbCalR"} + kClutch, kNameOnly}};

// The name, the extra LEDs ("fitted", "not fitted" or "failed read"), the
// table entries applied, the header, the update folder (none: ""), the
// reports sent, and "widget x y shown|hidden" probes. Table order, not the
// order in the name: VLN6 comes after H-ZET and wins where both place the
// same widget. OV410 sets the header and the icon, PELIX does not touch them
// and leaves pbD3, which only OV410 lists, where OV410 put it. Matching is
// case-sensitive: a lower-case code gets the prelude alone.
const QString kHzetHeader = QStringLiteral("QUOR CONTROLS QUOR H-ZET Wheel");
const QStringList kHzetProbes{"pbXL 191 28 hidden", "pbXR 543 28 hidden"};
// clang-format off
const std::tuple<const char *, QString, QString, int, QString, QString, QStringList, QStringList> kUnusualWheels[] = {
    {"extra LEDs not fitted", "QUOR H-ZET Wheel", "not fitted", 1, kHzetHeader, "hzet/", kWithExtraLeds, kHzetProbes},
    {"extra LEDs failed read", "QUOR H-ZET Wheel", "failed read", 1, kHzetHeader, "hzet/", kWithExtraLeds, kHzetProbes},
    {"VLN6 then H-ZET in the name", "QUOR VLN6+H-ZET", "fitted", 2, "QUOR CONTROLS QUOR VLN6+H-ZET", "vln6/",
     {kNameQuery, kExtraLedQuery, kExtraLedQuery}, {"lbEnc 290 70 shown", "pbD3 238 118 shown", "pbXL 195 50 shown"}},
    {"OV410 and PELIX", "Q OV410 PELIX", "fitted", 2, "Quor Controls - OV410 Edition SIM Wheel", "pelix/", kNameOnly,
     {"pbD3 255 75 shown", "pbT3 339 79 shown", "lbIcon 150 10 shown", "gpShifter 50 170 hidden", "pgAdcL 130 290 hidden"}},
    {"lower case code", "QUOR h-zet Wheel", "fitted", 0, "QUOR CONTROLS QUOR h-zet Wheel", "", kNameOnly,
     {"pbXL 191 28 hidden", "pgAdcL 130 290 hidden", "lbEnc 290 0 shown", "pbB1 143 27 hidden"}},
};
// clang-format on

// Damage to a stored picture after which the program's own reading of it
// must decline, leaving the file to Qt's decoder. The picture opens with its
// signature (8 bytes), IHDR (25), the IDAT's length and type (8), the zlib
// header (2) and the first block's header (5); its first row starts at 48.
// clang-format off
const std::tuple<const char *, void (*)(QByteArray &)> kNotStored[] = {
    {"cut short", [](QByteArray &png) { png.chop(20); }},
    {"16 bits a channel", [](QByteArray &png) { png[24] = 16; }},
    {"interlaced", [](QByteArray &png) { png[28] = 1; }},
    {"compressed block", [](QByteArray &png) { png[43] = char(png[43] | 0x02); }},
    {"length against its complement", [](QByteArray &png) { png[46] = char(~png[46]); }},
    {"filtered row", [](QByteArray &png) { png[48] = 1; }},
    {"text chunk", [](QByteArray &png) { png.insert(33, QByteArray("\0\0\0\0tEXtCRC!", 12)); }},
};
// clang-format on

} // namespace

class TestModelLayout : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QCOMPARE(hid_init(), 0); }

    void everyModel_data() { wheeltest::addRows(kModels); }
    void everyModel()
    {
        const auto &[code, ledPage, ledButtons, shown, wire] = wheeltest::rowOf(kModels);
        const ModelEntry *entry = ModelTable::byCode(code);
        QVERIFY(entry);
        LayoutBench bench(code);
        QVERIFY2(bench.wheel.ok(), bench.wheel.error().c_str());
        // The whole step the window takes: read the name, lay the form out.
        const std::optional<QString> name = readModelName(deviceHandle());
        QVERIFY(name);
        const ModelLayoutResult result = applyModelLayout(*name, bench.host);

        QCOMPARE(bench.wheel.sent({"set-feature"}), wire);
        // The window tests check the header, the pictures, the sidebar and the
        // status poll of each model.
        QCOMPARE(result.entriesApplied, 1);
        QCOMPARE(bench.ui.lbMainRGB->styleSheet(),
                 ledPage ? QLatin1String(entry->background) : kBeforeRgbPicture);
        QCOMPARE(bench.shownLedButtons(), ledButtons);
        QCOMPARE(bench.shownWatched(), shown);
        // Updates come over https only.
        QCOMPARE(result.updateUrl.value_or(QString()),
                 QStringLiteral(QUORSET_UPDATE_BASE_URL) + QLatin1String(entry->updateFolder));
        QCOMPARE(QUrl(*result.updateUrl).scheme(), QStringLiteral("https"));
        // The prelude sized the shifter group once; only models with extra
        // shifters read their state, after showing the check box.
        QStringList expectedCalls{QStringLiteral("shifterStatus")};
        if (shown.contains(QStringLiteral("cbShifter")))
            expectedCalls << QStringLiteral("loadExtraShiftersEnabled, cbShifter shown");
        QCOMPARE(bench.calls, expectedCalls);

        // Every indicator waits hidden and enabled for its button; LED buttons a
        // model does not have are out of reach as well as out of sight.
        for (QWidget *indicator : namedChildren(bench.ui.page1, wheeltest::isIndicator))
            QVERIFY2(indicator->isHidden() && indicator->isEnabled(), qPrintable(indicator->objectName()));
        for (QWidget *button : namedChildren(bench.ui.page2, isLedButton))
            QVERIFY2(button->objectName().startsWith(QLatin1String("pbX")) ||
                         button->isEnabled() == !button->isHidden(),
                     qPrintable(button->objectName()));

        // The picture was drawn for the layout the table holds now, and under the
        // middle of every placed widget it shows the wheel, not the transparent
        // background round it.
        // It is stored at the size the label shows it, so it is drawn 1:1.
        QImageReader reader(QLatin1String(entry->picture));
        QCOMPARE(reader.size(), kPictureLabel.size());
        QCOMPARE(reader.text(QStringLiteral("QuorSet-Layout")),
                 QString::number(placementFingerprint(*entry), 16));
        const QImage picture = reader.read();
        for (TableView<Placement> list : {entry->indicators, entry->ledButtons, entry->extraLedButtons}) {
            for (const Placement &placement : list) {
                QWidget *placed = bench.widget(QLatin1String(placement.name));
                QVERIFY2(placed, placement.name);
                QCOMPARE(placed->pos(), QPoint(placement.x, placement.y));
                const double half = placement.style == PlacementStyle::SquareLed ? 6 : 12;
                const QPoint pixel(qRound(placement.x + half - kPictureLabel.x()),
                                   qRound(placement.y + half - kPictureLabel.y()));
                QVERIFY2(picture.valid(pixel) && qAlpha(picture.pixel(pixel)) == 255, placement.name);
            }
        }
    }

    // Every picture of the program reads through its reader (which, unlike
    // Qt's, offers no gamma option) as Qt's own decoder reads it: the stored
    // ones by the reader's copy of their rows, the packed model pictures by Qt.
    // Read ahead as at the program's start, a stored picture's first reading
    // takes the copy read ahead, and the next reads the file again.
    void everyPictureAsQtReadsIt()
    {
        PicturesAhead::readStored();
        // Reading ahead has Qt list its image plugins, but load none.
        QFile maps(QStringLiteral("/proc/self/maps"));
        QVERIFY(maps.open(QIODevice::ReadOnly));
        QVERIFY(!maps.readAll().contains("/imageformats/"));
        const QStringList pictures = QDir(QStringLiteral(":/img")).entryList({QStringLiteral("*.png")});
        QVERIFY(pictures.contains(QStringLiteral("head.png")) && pictures.size() > 8);
        int stored = 0;
        for (const QString &name : pictures) {
            QFile file(QStringLiteral(":/img/") + name);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray bytes = file.readAll();
            const QImage byQt = QImage::fromData(bytes, "png");
            for (int reading = 0; reading < 2; ++reading) {
                QImageReader reader(file.fileName());
                const QImage read = reader.read();
                QVERIFY2(!reader.supportsOption(QImageIOHandler::Gamma), qPrintable(name));
                QCOMPARE(read.format(), byQt.format());
                QVERIFY2(read == byQt, qPrintable(name));
            }
            if (const QImage copied = readStoredPng(bytes); !copied.isNull()) {
                QCOMPARE(copied, byQt);
                ++stored;
            }
        }
        // The header, logo, about picture and the four window buttons.
        QCOMPARE(stored, 7);
    }

    void damagedStoredPicture_data() { wheeltest::addRows(kNotStored); }
    void damagedStoredPicture()
    {
        const auto &[tag, damage] = wheeltest::rowOf(kNotStored);
        QFile file(QStringLiteral(":/img/logo.png"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QByteArray png = file.readAll();
        QVERIFY(!readStoredPng(png).isNull());
        damage(png);
        QVERIFY(readStoredPng(png).isNull());
    }

    void unusualWheels_data() { wheeltest::addRows(kUnusualWheels); }
    void unusualWheels()
    {
        const auto &[tag, name, extraLeds, entries, header, folder, wire, probes] =
            wheeltest::rowOf(kUnusualWheels);

        LayoutBench bench("H-ZET", name.toStdString(), extraLeds != QLatin1String("not fitted"));
        QVERIFY2(bench.wheel.ok(), bench.wheel.error().c_str());

        const std::optional<QString> read = readModelName(deviceHandle());
        QCOMPARE(read.value_or(QString()), name);
        if (extraLeds == QLatin1String("failed read"))
            bench.wheel.failGetFeature(1);
        const ModelLayoutResult result = applyModelLayout(*read, bench.host);

        QCOMPARE(bench.wheel.sent({"set-feature"}), wire);
        QCOMPARE(result.entriesApplied, entries);
        QCOMPARE(bench.ui.lbHead->text(), header);
        QCOMPARE(result.statusPoll.has_value(), entries > 0);
        QCOMPARE(result.updateUrl.value_or(QString()),
                 folder.isEmpty() ? QString() : QStringLiteral(QUORSET_UPDATE_BASE_URL) + folder);
        for (const QString &probe : probes) {
            const QStringList p = probe.split(QLatin1Char(' '));
            QWidget *widget = bench.widget(p[0]);
            QVERIFY2(widget, qPrintable(probe));
            QCOMPARE(widget->pos(), QPoint(p[1].toInt(), p[2].toInt()));
            QCOMPARE(widget->isHidden(), p[3] == QLatin1String("hidden"));
        }
    }

    // Each layout starts from the prelude, whatever the model before left;
    // then, the wheel gone, neither the layout nor the version read sends.
    void preludeUndoesTheModelBeforeThenNoWheel()
    {
        LayoutBench bench("SRD7");
        QVERIFY2(bench.wheel.ok(), bench.wheel.error().c_str());

        applyModelLayout(QStringLiteral("QUOR ULMAR Wheel"), bench.host);
        QVERIFY(!bench.ui.pbT19->isHidden() && !bench.ui.cbShifter->isHidden());
        applyModelLayout(QStringLiteral("QUOR OV410 Wheel"), bench.host);
        QCOMPARE(bench.ui.lbIcon->x(), 150);
        for (const char *name : {"lbSht", "hsShifter", "pbIExL"})
            bench.widget(name)->show();

        applyModelLayout(QStringLiteral("QUOR SRD7 Wheel"), bench.host);

        QCOMPARE(bench.ui.lbIcon->x(), 310);
        QCOMPARE(bench.ui.lbHead->text(), QStringLiteral("QUOR CONTROLS QUOR SRD7 Wheel"));
        QVERIFY(bench.ui.pbT19->isHidden() && !bench.ui.pbT19->isEnabled());
        for (const char *gone : {"cbShifter", "lbSht", "hsShifter", "pbIExL"})
            QVERIFY2(bench.widget(gone)->isHidden(), gone);
        QCOMPARE(bench.shownLedButtons(), 36);
        QVERIFY(!bench.ui.pbXL->isHidden());

        deviceHandle().close();
        bench.wheel.clearTranscript();

        QVERIFY(!readModelName(deviceHandle()).has_value());
        // Without a wheel the extra-LED question is not asked and reads as "not fitted".
        applyModelLayout(QStringLiteral("QUOR H-ZET Wheel"), bench.host);
        QVERIFY(bench.ui.pbXL->isHidden());
        // The version label shows, empty.
        bench.ui.lbVersion->setText(QStringLiteral("Firmware Version: 9.9"));
        bench.ui.lbVersion->hide();
        loadFirmwareVersion(deviceHandle(), bench.ui.lbVersion);
        QCOMPARE(bench.ui.lbVersion->text(), QStringLiteral("Firmware Version: "));
        QVERIFY(!bench.ui.lbVersion->isHidden());
        QCOMPARE(bench.wheel.sent({"set-feature"}), QStringList());
    }
};

WHEEL_TEST_MAIN(TestModelLayout)
#include "tst_model_layout.moc"
