// The window against the emulated wheel and its boot loader, through the real
// hidapi and libusb: the waiting screen and its retry scan, losing and finding
// the wheel, each model's layout, inputs and power status, and the firmware
// page's update from a file. Each model's pages go to the screenshot folder.
#include "dfu_emulator.h"
#include "live_window.h"
#include "message_log.h"
#include "table_rows.h"
#include "test_image.h"
#include "wheel_fixture.h"
#include "wheel_test_main.h"

#include "app/single_instance.h"
#include "settings/profile_backup.h"
#include "upgrade/firmware_update.h"

#include <QImage>
#include <QLineEdit>
#include <QLockFile>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <tuple>

using namespace wheelemu;

namespace {

using wheeltest::kWaitingHeader;
const QString kVersionLine = QStringLiteral("Firmware Version: 2\tMar  7 2024,15:04");
const QString kNameQuery = QStringLiteral("set-feature 02 0b 0d");
const QString kInvalid = QStringLiteral("Error: Not a valid firmware.");
const QString kDone = QStringLiteral("Notify: Firmware updated successfully. Reboot the device.");
const QString kUploading = QStringLiteral("Uploading ...");
const QString kInLoader = QStringLiteral(
    "\n\nThe wheel is still in its boot loader. Keep it plugged in and press MANUAL UPDATE again.");
const char *const kReaderDone = "joystick event thread done.";
constexpr int kScanIntervalMs = 3000;

int logged(const char *start)
{
    const QStringList logLines = wheeltest::messageLog::taken();
    return int(std::count_if(logLines.begin(), logLines.end(),
                             [start](const QString &l) { return l.startsWith(QLatin1String(start)); }));
}

int powerQueries(const wheeltest::WheelFixture &wheel)
{
    return int(wheel.sent().count(QStringLiteral("set-feature 02 0b 0f")));
}

// The emulated wheel of the given model, or the test ends.
#define OPEN_WHEEL(wheel, code)                                                                              \
    wheeltest::WheelFixture::Options wheel##Options;                                                         \
    wheel##Options.model = code;                                                                             \
    wheeltest::WheelFixture wheel(wheel##Options);                                                           \
    QVERIFY2(wheel.ok(), wheel.error().c_str())

// What a connected SRD7 is asked, in order: its name, its four LED pages
// (each query written over the reply before, whose tail goes out again), the
// extra LEDs' colours, the paddles, both pulse widths, the clutches and the
// firmware version.
const QStringList kInitialReads = [] {
    const QString white = QStringLiteral(" ff").repeated(16);
    QStringList reads;
    for (const QString &tail : QStringList{"0d", "", "01 00" + white, "02 00" + white, "03 00" + white, "11",
                                           "0a", "0c 04", "0c 0a", "0c 08", "09"})
        reads << QStringLiteral("set-feature 02 0b %1").arg(tail).trimmed();
    return reads;
}();

// One window with what the tests watch: every waiting screen clicks pbS5.
struct Window : wheeltest::LiveWindow
{
    QTemporaryDir files;
    int waitingScreens = 0;
    // Taken, as a quorctl command takes it, by tests that want one running.
    QLockFile quorctl{SingleInstance::wheelLockName()};

    // Unpainted: the window's own paint events are dropped, so that to the
    // window it is as if the desktop kept it covered and never painted it.
    explicit Window(bool painted = true)
    {
        window = std::make_unique<MainWindow>();
        if (!painted)
            window->installEventFilter(&dropPaints);
        QObject::connect(widget<QPushButton>("pbS5"), &QPushButton::clicked, [this] { ++waitingScreens; });
        show();
    }

    struct DropPaints : QObject
    {
        bool eventFilter(QObject *, QEvent *event) override { return event->type() == QEvent::Paint; }
    } dropPaints;

    QTimer *statusPoll() const { return widget<QTimer>("statusPollTimer"); }
    QString tip(const char *name) const { return widget(name)->statusTip(); }
    int bar() const { return widget<QProgressBar>("pgUpgrade")->value(); }
    // The bar and the status text are shown and hidden together.
    bool progressShown() const
    {
        const bool bar = !widget("pgUpgrade")->isHidden();
        if (bar == widget("lbUpgrade")->isHidden())
            qFatal("progress bar and status text out of step");
        return bar;
    }
    QString writeImage(const char *name, const QByteArray &image)
    {
        const QString path = files.filePath(QLatin1String(name));
        if (!wheeltest::writeFile(path, image))
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }
    void upgrade(const QString &path)
    {
        widget<QLineEdit>("lePath")->setText(path);
        click("pbUpgrade");
    }

    // The input indicators on screen.
    QStringList lit() const
    {
        QStringList names;
        for (QObject *child : widget("page1")->children())
            if (wheeltest::isIndicator(child->objectName()) && !static_cast<QWidget *>(child)->isHidden())
                names << child->objectName();
        names.sort();
        return names;
    }
};

// Unplugged (else a read error: found again at once, no waiting screen),
// button held on return, a quorctl command (a restore, say) held the wheel
// first: the window sends nothing until it lets go; the window is painted
// (else the first scan cannot wait for its first frame, and runs anyway).
constexpr std::tuple<const char *, bool, bool, bool, bool> kLosses[] = {
    {"unplugged, button let go while away", true, false, false, true},
    {"read error", false, true, false, true},
    {"started during a quorctl command", false, true, true, true},
    {"window never painted", false, true, false, false}};

// Model, LED page, status polled, buttons pressed, indicators lit (sorted),
// header when it is not the usual one.
const QString kOv410Header = QStringLiteral("Quor Controls - OV410 Edition SIM Wheel");
const std::tuple<const char *, bool, bool, const char *, QStringList, QString> kModels[] = {
    {"H-ZET", true, true, "1 7 33 19 24", {"pbIB1", "pbIB2", "pbIB9", "pbID3L", "pbSWL"}, {}},
    {"VLN6", true, false, "1 7 33 5 32", {"pbIB1", "pbIB2", "pbIB9", "pbID1L", "pbSWR"}, {}},
    {"H-MIRA", false, true, "1 7 33 17 9", {"pbIB1", "pbIB2", "pbIB9", "pbID7L", "pbJsL1"}, {}},
    {"OV410", true, true, "1 2 33 5 41", {"pbIB1", "pbIB9", "pbID1L", "pbISW1", "pbJsR1"}, kOv410Header},
    {"KLINO4", true, true, "1 2 33 3 9", {"pbIB1", "pbIB9", "pbID5L", "pbISW1", "pbJsL1"}, {}},
    {"ULMAR", true, true, "1 24 33 19 21", {"pbIB1", "pbIB3", "pbIB9", "pbID3L", "pbSWL"}, {}},
    {"SRD7", true, false, "1 7 33 20 24", {"pbIB1", "pbIB2", "pbIB9", "pbID3R", "pbSWL"}, {}},
    {"PELIX", true, false, "1 7 33 17 21", {"pbIB1", "pbIB2", "pbIB3", "pbIB9", "pbID7L"}, {}}};

// Loader fault ("+other": another board's loader on the bus too, and MANUAL
// UPDATE again with no wheel on the HID bus), image ("gone": removed once the
// loader is up, "in temp": the user's own there), the box (none: the window
// is closed while the loader is busy). Which image or loader fault fails how
// is tst_dfu_flasher's; the window shows them alike.
const std::tuple<const char *, QString, QString, QString> kBootLoaderRows[] = {
    {"flashed, the user's image in the temp dir kept", "", "in temp", kDone},
    {"stack pointer outside SRAM", "", "bad stack", kInvalid},
    {"loader never enumerates", "never-appears", "good",
     "Error: DFU device not detected. Please ensure the device is in DFU mode."},
    {"image gone once the loader is up", "", "gone", kInvalid + kInLoader},
    {"window closed while flashing", "stuck-busy:1", "good", ""},
    {"stuck busy, then again beside another loader", "stuck-busy:2+other", "good",
     "Error: The firmware update failed: cannot write block 3 at 0x08000800: the boot loader stayed busy." +
         kInLoader}};

// The new firmware's version, the backup readable, the answer to the offer.
const std::tuple<const char *, QString, bool, QMessageBox::StandardButton> kAcrossUpdate[] = {
    {"factory-reset firmware, restored", "8.1.0+factory", true, QMessageBox::Yes},
    {"settings kept, no offer", "8.1.0", true, QMessageBox::Yes},
    {"backup unreadable, not updated", "8.1.0", false, QMessageBox::No}};

} // namespace

class TestLiveWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { wheeltest::messageLog::install(); }
    void init()
    {
        wheeltest::messageLog::clear();
        FirmwareUpdate::setLoaderRecheckMs(500);
    }

    // A scan that finds nothing brings back the waiting state from what a
    // connected wheel (or an update under way) left, and only ABOUT is left.
    void waitingScreen()
    {
        OPEN_WHEEL(wheel, "SRD7");
        QVERIFY(wheel.unplug());
        Window w;
        QTRY_COMPARE(w.waitingScreens, 2); // construction, then the first scan

        // Widget, property ("visible": not hidden), connected and waiting value.
        QList<std::tuple<QString, const char *, QVariant, QVariant>> rows{
            {"lbHead", "text", "QUOR SRD7 Wheel", kWaitingHeader},
            {"lbMain", "styleSheet", "border-image: url(:/img/back.srd7.png);", "border-image:"},
            {"pbS5", "enabled", true, true},
            {"pbStatus", "visible", false, true},
            {"pbAutoUpgrade", "enabled", false, true},
            {"pbAutoUpgrade", "text", "DOWNLOADING", "CHECK UPDATE"},
            {"pgUpgrade", "value", 40, 0},
            {"lbCurVersion", "text", "v3.1", QString()},
        };
        for (const char *name : {"pbS1", "pbS2", "pbS3", "pbS4"})
            rows.append({name, "enabled", true, false});
        QStringList hidden{"lbVersion", "pgUpgrade", "lbUpgrade", "lbCurMd5", "lbEnc",  "hsTrigger",
                           "lbTrigger", "pbSaveEnc", "pbCalL",    "pgAdcR",   "pbCalR", "pgAdcL"};
        for (QObject *child : w.widget("page1")->children())
            if (wheeltest::isIndicator(child->objectName()))
                hidden << child->objectName();
        QCOMPARE(hidden.size(), 12 + 52);
        for (const QString &name : hidden)
            rows.append({name, "visible", true, false});

        auto read = [&w](const QString &name, const char *property) {
            QWidget *target = w.widget(name);
            return qstrcmp(property, "visible") ? target->property(property) : QVariant(!target->isHidden());
        };
        for (const auto &[name, property, connected, waiting] : rows)
            QVERIFY(w.widget(name)->setProperty(property, connected));
        w.click("pbS2"); // leave the ABOUT page

        w.scan();
        for (const auto &[name, property, connected, waiting] : rows)
            QVERIFY2(read(name, property) == waiting, qPrintable(name + ' ' + property));
        QTRY_COMPARE(w.page(), 4);
        // The scan met the retry of the one before: still one retry pending.
        QTRY_COMPARE_WITH_TIMEOUT(w.waitingScreens, 4, kScanIntervalMs + 2000);
        QTest::qWait(kScanIntervalMs / 2);
        QCOMPARE(w.waitingScreens, 4);
    }

    void loseAndFind_data() { wheeltest::addRows(kLosses); }

    // Each connection makes the same initial reads in the same order. Closing
    // the window then stops the reader and lets the wheel go, and nothing
    // reopens it.
    void loseAndFind()
    {
        const auto &[tag, unplug, heldOnReturn, quorctlFirst, painted] = wheeltest::rowOf(kLosses);
        OPEN_WHEEL(wheel, "SRD7");
        Window w(painted);
        if (quorctlFirst) {
            // Before the event loop runs the first scan.
            QVERIFY(w.quorctl.tryLock(0));
            QTRY_COMPARE(w.waitingScreens, 2); // construction, then the scan that met the lock
            QVERIFY(logged("quorctl holds the wheel") >= 1);
            QCOMPARE(wheel.sent(), QStringList());
            QVERIFY(!deviceHandle().isOpen());
            w.quorctl.unlock();
            QTRY_VERIFY_WITH_TIMEOUT(deviceHandle().isOpen(), kScanIntervalMs + 2000);
            // Counted from here on as for a window that found the wheel at once.
            w.waitingScreens = 1;
        }
        QTRY_COMPARE(wheel.emulator().wheel(0)->clientCount(), 2);
        QTRY_COMPARE(wheel.sent(), kInitialReads);
        QCOMPARE(w.waitingScreens, 1); // the one of construction only
        QTRY_VERIFY(w.connected());
        wheel.press(7);
        QTRY_COMPARE(w.lit(), QStringList{"pbIB2"});

        wheel.clearTranscript();
        if (unplug) {
            QVERIFY(wheel.unplug());
            // The reader sees the loss, and its one deviceDisconnect() runs one scan.
            QTRY_COMPARE(w.waitingScreens, 2);
            QVERIFY(!deviceHandle().isOpen() && w.waiting());
            QCOMPARE(logged(kReaderDone), 1);
            QTRY_COMPARE(w.page(), 4);
            // The waiting screen hides the lit indicator but leaves it marked as lit.
            QCOMPARE(w.lit(), QStringList());
            QCOMPARE(w.tip("pbIB2"), QStringLiteral("SHOW"));
            if (!heldOnReturn)
                wheel.release(7);
            QVERIFY(wheel.plug());
            QTRY_VERIFY_WITH_TIMEOUT(w.connected(), kScanIntervalMs + 2000);
        } else {
            wheel.failReads(1);
            QTRY_COMPARE(logged(kReaderDone), 1);
        }
        QTRY_COMPARE(wheel.emulator().wheel(0)->clientCount(), 2);
        QTRY_COMPARE(wheel.sent(), kInitialReads);
        QCOMPARE(w.waitingScreens, unplug ? 2 : 1);
        QCOMPARE(w.tip("pbIB2"), QStringLiteral("SHOW"));
        // The first report after the return decides.
        if (heldOnReturn)
            wheel.press(7);
        else
            wheel.sendReports(1);
        QTRY_COMPARE(w.tip("pbIB2"), heldOnReturn ? QStringLiteral("SHOW") : QStringLiteral("HIDE"));
        QTRY_COMPARE(w.lit(), heldOnReturn ? QStringList{"pbIB2"} : QStringList());

        w.click("pbClose");
        QVERIFY(!w.window->isVisible());
        QCOMPARE(logged(kReaderDone), 2);
        QTRY_COMPARE(wheel.emulator().wheel(0)->clientCount(), 0);
        QTest::qWait(300); // nothing reopens it
        QVERIFY(!deviceHandle().isOpen());
        QCOMPARE(wheel.emulator().wheel(0)->clientCount(), 0);
        QCOMPARE(w.waitingScreens, unplug ? 2 : 1);
    }

    void everyModel_data() { wheeltest::addRows(kModels); }
    void everyModel()
    {
        const auto &[code, ledPage, polled, press, lit, header] = wheeltest::rowOf(kModels);

        OPEN_WHEEL(wheel, code);
        Window w;
        QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
        QTRY_VERIFY(w.connected()); // which ends on the INPUTS page
        QTRY_COMPARE(w.text("lbVersion"), kVersionLine);

        const QString folder = QString::fromLatin1(code).toLower().remove(QLatin1Char('-'));
        QCOMPARE(w.text("lbHead"),
                 header.isEmpty() ? QStringLiteral("QUOR CONTROLS QUOR %1 Wheel").arg(code) : header);
        QCOMPARE(w.widget("lbMain")->styleSheet(),
                 QStringLiteral("border-image: url(:/img/back.%1.png)").arg(folder));
        QCOMPARE(w.widget("pbS2")->isEnabled(), ledPage);
        for (const char *page : {"pbS1", "pbS3", "pbS4", "pbS5"})
            QVERIFY2(w.widget(page)->isEnabled(), page);
        QVERIFY(!w.widget("lbVersion")->isHidden());
        QTRY_COMPARE(w.statusPoll()->isActive(), polled);
        QCOMPARE(powerQueries(wheel), polled ? 1 : 0);
        // The emulated battery models start at 80 %, level 3900, on Bluetooth.
        QCOMPARE(w.text("lbBatStatus"), polled ? QStringLiteral("BATTERY STATUS: 80%") : "BATTERY STATUS:");
        QVERIFY(!w.widget("lbBTStatus")->isHidden());

        QVERIFY(wheel.command(std::string("press ") + press));
        wheel.setPaddles(1200, 3300);
        QTRY_COMPARE(w.lit(), lit);
        QTRY_COMPARE(w.widget<QProgressBar>("pgAdcR")->value(), 3300);
        QCOMPARE(w.widget<QProgressBar>("pgAdcL")->value(), 1200);
        QTest::qWait(100);

        const QDir dir(QStringLiteral(QUORSET_SCREENSHOT_DIR));
        const QImage inputs = w.window->grab().toImage();
        QVERIFY(inputs.save(dir.filePath(QStringLiteral("model-%1-inputs.png").arg(folder))));
        // The held buttons' indicators are on screen, blue, where the layout put
        // them: a few pixels in from the left edge, on the fill, not the caption.
        for (const QString &name : lit) {
            const QWidget *indicator = w.widget(name);
            const QColor seen =
                inputs.pixelColor(indicator->mapTo(w.window.get(), QPoint(5, indicator->height() / 2)));
            QVERIFY2(seen.red() <= 6 && qAbs(seen.green() - 117) <= 6 && qAbs(seen.blue() - 190) <= 6,
                     qPrintable(name + ' ' + seen.name()));
        }
        for (const char *page : {"pbS4", "pbS5"}) {
            QTest::mouseClick(w.widget<QPushButton>(page), Qt::LeftButton);
            const QImage shot = w.window->grab().toImage();
            QCOMPARE(shot.size(), QSize(900, 500));
            QVERIFY(shot.save(dir.filePath(
                QStringLiteral("model-%1-%2.png").arg(folder, w.page() == 3 ? "device" : "about"))));
        }
    }

    void refusedNameReplyKeepsWaiting()
    {
        OPEN_WHEEL(wheel, "SRD7");
        // The window's first read is the name: it fails and leaves the request.
        wheel.failGetFeature(1);
        Window w;
        QTRY_VERIFY(!w.redDot());
        QTRY_VERIFY(!w.widget("lbVersion")->isHidden());

        QCOMPARE(w.text("lbHead"), kWaitingHeader);
        QCOMPARE(w.widget("lbMain")->styleSheet(), QStringLiteral("border-image:"));
        for (const char *page : {"pbS1", "pbS2", "pbS3", "pbS4"})
            QVERIFY2(!w.widget(page)->isEnabled(), page);
        // The later reads still ran.
        QCOMPARE(w.text("lbVersion"), kVersionLine);
    }

    void statusPollFollowsTheWheel()
    {
        OPEN_WHEEL(wheel, "H-ZET");
        wheel.withWheel([](Wheel &wh) { wh.setPowerStatus({42, 4299, 2}); });
        Window w;
        QTRY_VERIFY(w.connected());
        QTRY_COMPARE(w.text("lbBatStatus"), QStringLiteral("BATTERY STATUS: 42%"));
        QVERIFY(w.widget("lbBTStatus")->isHidden());

        // The next poll sees the wheel on external power. What the polls do
        // is checked, not how often: the pending one is brought forward.
        wheel.withWheel([](Wheel &wh) { wh.setPowerStatus({42, 4300, 2}); });
        const int interval = w.statusPoll()->interval();
        w.statusPoll()->setInterval(300);
        QTRY_COMPARE(w.text("lbBatStatus"), QStringLiteral("BATTERY STATUS: USB"));
        QCOMPARE(powerQueries(wheel), 2);
        QVERIFY(w.statusPoll()->isActive());

        // Without a wheel the pending poll runs once more and arms nothing.
        QVERIFY(wheel.unplug());
        QTRY_COMPARE(w.text("lbHead"), kWaitingHeader);
        QTRY_VERIFY(!w.statusPoll()->isActive());
        QTest::qWait(400);
        QVERIFY(!w.statusPoll()->isActive());
        QCOMPARE(powerQueries(wheel), 2);

        // The next connection starts it again.
        w.statusPoll()->setInterval(interval);
        QVERIFY(wheel.plug());
        QTRY_VERIFY_WITH_TIMEOUT(w.connected(), 6000);
        QTRY_COMPARE(powerQueries(wheel), 3);
        QVERIFY(w.statusPoll()->isActive());
    }

    // Without a wheel. Cancelled, the path dialog keeps the path; a chosen
    // file replaces it. The bar and status follow the worker's values, and
    // 100 ends in the success box (a failure's box and the page after it are
    // bootLoader's). An accepted image is refused for want of a wheel, after
    // the image's own checks. The https route is the online download's
    // (tests/online); in capitals the scheme makes a local path, not there.
    void updateWithoutWheel()
    {
        Window w;
        w.widget<QLineEdit>("lePath")->setText(QStringLiteral("/old/fw.bin"));
        for (const QString &answer : {QString(), QStringLiteral("/new/other.bin")}) {
            w.prompts.fileAnswer = answer;
            w.click("pbPath");
            QCOMPARE(w.prompts.fileRequests.last().filter, QStringLiteral("Firmware File (*.bin);;"));
            QCOMPARE(w.widget<QLineEdit>("lePath")->text(),
                     answer.isEmpty() ? QStringLiteral("/old/fw.bin") : answer);
        }
        QCOMPARE(w.prompts.fileRequests.size(), 2);

        const QList<std::tuple<int, QString, int>> steps{
            {0, kUploading, 0}, {97, "Writing ...", 97}, {40, kUploading, 40}, {96, kUploading, 96}};
        for (const auto &[value, status, bar] : steps) {
            QMetaObject::invokeMethod(w.window.get(), "onProgress", Q_ARG(int, value));
            QVERIFY(w.progressShown());
            QCOMPARE(w.text("lbUpgrade"), status);
            QCOMPARE(w.bar(), bar);
        }
        QVERIFY(w.prompts.messages.isEmpty());
        QMetaObject::invokeMethod(w.window.get(), "onProgress", Q_ARG(int, 100));
        QCOMPARE(w.prompts.shown(), QStringList{kDone});
        QVERIFY(!w.progressShown());
        QCOMPARE(w.bar(), 0);

        // Name, bytes written (-1: none), the box. The accepted image comes
        // last: its worker may still be ending when the box shows.
        const QList<std::tuple<QString, int, QString>> rows{
            {"HTTPS://127.0.0.1:9/fw.BIN", -1, kInvalid},
            {"fw.BIN", 64, kInvalid},
            {"fw", 64, kInvalid},
            {"fw.bin", 229377, kInvalid},
            {"empty.bin", 0, kInvalid},
            {"absent.bin", -1, kInvalid},
            {"fw.bin", 229376, "Error: The firmware update did not start: no wheel is connected."}};
        for (const auto &[name, size, box] : rows) {
            w.prompts.clear();
            const QString path = size >= 0 ? w.writeImage(qPrintable(name), QByteArray(size, '\x5a'))
                                 : name.contains(QLatin1String("://")) ? name
                                                                       : w.files.filePath(name);
            w.upgrade(path);
            QTRY_COMPARE(w.prompts.shown(), QStringList{box});
            QVERIFY(!w.progressShown());
            QCOMPARE(w.widget<QLineEdit>("lePath")->text(), path);
        }
    }

    // The cable pulled half way through a HID transfer: the failure is
    // reported, never a success, and the worker ends. With the wheel back an
    // update goes through, and the scan after it waits for the success box to
    // be closed.
    void unplugDuringTransfer()
    {
        OPEN_WHEEL(wheel, "SRD7");
        Window w;
        QTRY_VERIFY(w.connected());

        w.upgrade(w.writeImage("big.bin", wheeltest::bytesOf(makeTestImage(229376, "8.0.0"))));
        QTRY_VERIFY(w.bar() >= 10);
        QVERIFY(wheel.unplug());
        QTRY_COMPARE(w.text("lbHead"), kWaitingHeader);
        QVERIFY(wheel.plug());
        QTRY_VERIFY_WITH_TIMEOUT(w.connected(), 6000);
        // Past the time the closing steps would have taken.
        QTest::qWait(4500);
        QCOMPARE(
            w.prompts.shown().join('|').replace(QRegularExpression(" byte \\d+ of "), " byte N of "),
            QStringLiteral("Error: The firmware update failed: the wheel did not take the firmware data at "
                           "byte N of 229376.\n\nThe wheel keeps the firmware it had. Check the cable and "
                           "press MANUAL UPDATE again."));
        w.prompts.clear();

        // The user reads the success box for longer than the scan delay.
        bool scannedWhileOpen = true;
        UserPrompts::Hooks hooks;
        hooks.message = [&](const UserPrompts::Message &message) {
            w.prompts.messages << message;
            wheel.clearTranscript();
            QTest::qWait(3500);
            scannedWhileOpen = wheel.sent().contains(kNameQuery);
            return QMessageBox::Ok;
        };
        UserPrompts::setHooks(hooks);
        const std::vector<uint8_t> image = makeTestImage(4096, "8.0.1\tJun 01 2027");
        w.upgrade(w.writeImage("small.bin", wheeltest::bytesOf(image)));
        QTRY_COMPARE_WITH_TIMEOUT(w.prompts.shown(), QStringList{kDone}, 15000);
        QVERIFY(!scannedWhileOpen);
        QVERIFY(!w.progressShown());
        QTRY_VERIFY_WITH_TIMEOUT(wheel.sent().contains(kNameQuery), 6000);
        QVERIFY(wheel.installedImage() == image);
        QTRY_VERIFY(w.text("lbVersion").contains(QLatin1String("8.0.1")));
    }

    void bootLoader_data() { wheeltest::addRows(kBootLoaderRows); }

    // A PELIX: the checks, the reboot, the wait for the boot loader, and how it
    // ends; after a failure the wheel waits in its loader and MANUAL UPDATE
    // brings it back.
    void bootLoader()
    {
        const auto &[tag, fault, image, box] = wheeltest::rowOf(kBootLoaderRows);
        const bool neverAppears = fault == QLatin1String("never-appears");
        if (neverAppears)
            FirmwareUpdate::setLoaderRecheckMs(100); // the looks are counted; 31 still outlast the 1 s below

        OPEN_WHEEL(wheel, "PELIX");
        DfuEmulatorOptions dfu;
        std::string error;
        const QString loaderFault = fault.section('+', 0, 0);
        if (!loaderFault.isEmpty())
            QVERIFY(applyDfuFault(loaderFault.toStdString(), &dfu, &error));
        DfuBootLoader *loader = nullptr;
        QVERIFY2(setUpBootLoader(wheel.emulator(), dfu, &loader, &error), error.c_str());
        DfuBootLoader *other = nullptr;
        if (fault.endsWith(QLatin1String("+other"))) {
            DfuBootLoader::Options options;
            options.port = "1-7";
            options.identity.product = "Another Board";
            other = static_cast<DfuBootLoader *>(wheel.emulator().addDevice(
                std::make_unique<DfuBootLoader>(wheel.emulator().host(), options)));
            QVERIFY2(other->plug(&error), error.c_str());
        }
        Window w;
        QTRY_VERIFY(w.connected());
        const QString header = w.text("lbHead");
        const std::vector<uint8_t> firmware = makeTestImage(4096, "6.0.1\tFeb 02 2027");
        QByteArray bytes = wheeltest::bytesOf(firmware);
        if (image == QLatin1String("bad stack"))
            bytes[3] = 0x10; // 0x10...
        // QTemporaryDir's default place is the temp directory itself.
        QTemporaryDir inTemp;
        QString path = inTemp.filePath("fw.bin");
        if (image == QLatin1String("in temp"))
            QVERIFY(wheeltest::writeFile(path, bytes));
        else
            path = w.writeImage("pelix.bin", bytes);
        wheel.clearTranscript();

        w.upgrade(path);
        if (box == kInvalid) {
            // Nothing reached the wheel, which stays connected as it was.
            QTRY_COMPARE(w.prompts.shown(), QStringList{box});
            QCOMPARE(wheel.sent(), QStringList());
            QTest::qWait(500);
            QVERIFY(w.connected());
            QCOMPARE(w.text("lbHead"), header);
            QVERIFY(w.widget("pbAutoUpgrade")->isEnabled());
            return;
        }
        // A second click while the first update runs changes nothing.
        w.click("pbUpgrade");
        if (image == QLatin1String("gone"))
            QVERIFY(QFile::remove(path));
        // The settings are read for the backup, then the wheel is told to reboot.
        const QString reboot = QStringLiteral("set-feature 02 10");
        QCOMPARE(wheel.writes(), QStringList{reboot});
        QCOMPARE(w.text("lbUpgrade"), QStringLiteral("Waiting for DFU..."));
        QVERIFY(w.progressShown());
        QCOMPARE(w.bar(), 0);
        // The wheel leaving the HID bus starts no device search, nor does a
        // scan of any other origin.
        QTest::qWait(1000);
        w.scan();
        QCOMPARE(w.text("lbHead"), header);
        if (box.isEmpty()) {
            // Closing asks first; confirmed, the update is stopped before the
            // window goes, and the wheel waits in its boot loader.
            QTRY_VERIFY_WITH_TIMEOUT(logged("Boot loader on the bus") == 1, 10000);
            QTest::qWait(300);
            for (const QMessageBox::StandardButton answer : {QMessageBox::No, QMessageBox::Yes}) {
                w.prompts.questionAnswer = answer;
                w.click("pbClose");
                QCOMPARE(w.prompts.messages.last().kind, UserPrompts::MessageKind::Question);
                QCOMPARE(w.window->isVisible(), answer == QMessageBox::No);
            }
            QCOMPARE(w.prompts.messages.size(), 2);
            QCOMPARE(logged("Flash cancelled"), 1);
            w.window.reset();
            QVERIFY(loader->plugged());
            return;
        }

        QTRY_COMPARE_WITH_TIMEOUT(w.prompts.shown(), QStringList{box}, 30000);
        QVERIFY(!w.progressShown());
        QVERIFY(w.widget("pbAutoUpgrade")->isEnabled());
        QCOMPARE(logged("Boot loader on the bus"), neverAppears ? 0 : 1);
        if (neverAppears)
            QCOMPARE(logged("No boot loader yet"), 31);
        if (neverAppears) {
            // The device search works again: the wheel is not on the HID bus.
            QTRY_VERIFY_WITH_TIMEOUT((w.scan(), w.text("lbHead") == kWaitingHeader), 10000);
            return;
        }
        if (box != kDone) {
            // The scan after the failure finds the wheel waiting in its loader:
            // the DEVICE page stays reachable to bring it back.
            QTRY_COMPARE(w.text("lbHead"), QStringLiteral("WHEEL WAITING FOR FIRMWARE"));
            QVERIFY(!w.connected());
            QVERIFY(w.widget("pbS4")->isEnabled());
            QTRY_COMPARE(w.page(), 3);
            if (!other)
                return;
            // Two loaders and no wheel: nothing tells which is the wheel's. The
            // other board is never touched, in this try or the first.
            w.prompts.questionAnswer = QMessageBox::Yes;
            wheel.clearTranscript();
            const QString twoLoaders = QStringLiteral(
                "Error: The firmware update did not start: 2 USB DFU devices (0483:df11) are connected and "
                "the wheel's cannot be told apart from the others; unplug every other board in DFU mode.");
            for (const QString &retried : {twoLoaders, kDone}) {
                w.prompts.clear();
                w.upgrade(path);
                QTRY_COMPARE_WITH_TIMEOUT(w.prompts.shown().size(), 2, 30000);
                QCOMPARE(w.prompts.messages[0].kind, UserPrompts::MessageKind::Question);
                QCOMPARE(w.prompts.shown()[1], retried);
                QCOMPARE(other->controlTransfers(), uint64_t(0));
                other->unplug();
            }
            // No wheel on the HID bus to reboot: nothing went there.
            QCOMPARE(wheel.sent(), QStringList());
        }
        QTRY_VERIFY_WITH_TIMEOUT(wheel.installedImage() == firmware, 10000);
        // Nothing but the scan after the box finds the wheel again.
        QTRY_VERIFY_WITH_TIMEOUT(w.text("lbVersion").contains(QLatin1String("6.0.1")), 10000);
        QTRY_VERIFY(w.connected());
        QVERIFY(QFile::exists(path));
    }

    void settingsAcrossUpdate_data() { wheeltest::addRows(kAcrossUpdate); }

    // The backup before the update, the comparison after it and the restore,
    // checked against what the wheel stores.
    void settingsAcrossUpdate()
    {
        const auto &[tag, version, backupReadable, answer] = wheeltest::rowOf(kAcrossUpdate);
        OPEN_WHEEL(wheel, "SRD7");
        // A calibrated wheel: bite point and all four clutch words stored.
        wheel.withWheel([](Wheel &wh) {
            const uint8_t paddles[20] = {0x02, 0x0A, 0x39, 0x30, 0xEF, 0xA0,
                                         0x0F, 0x3C, 0x0F, 0x64, 0x00, 0xC8};
            wh.setFeature(paddles, sizeof paddles);
        });
        const Wheel::Settings before = wheel.flash();
        Window w;
        QTRY_VERIFY(w.connected());
        w.prompts.questionAnswer = answer;
        const std::vector<uint8_t> image = makeTestImage(4096, qPrintable(version));
        wheel.clearTranscript();
        if (!backupReadable)
            wheel.failGetFeature(1);
        w.upgrade(w.writeImage("new.bin", wheeltest::bytesOf(image)));

        if (!backupReadable) {
            QTRY_COMPARE(w.prompts.messages.size(), 1);
            QVERIFY(w.prompts.shown()[0].startsWith("Update: The wheel's settings could not be backed up ("));
            QTest::qWait(500);
            // Nothing but the reads went to the wheel.
            QCOMPARE(wheel.writes(), QStringList());
            QVERIFY(wheel.installedImage().empty());
            QVERIFY(w.connected());
            QVERIFY(w.widget("pbUpgrade")->isEnabled() && !w.progressShown());
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(w.prompts.shown().contains(kDone), 15000);
        QTRY_VERIFY_WITH_TIMEOUT(w.text("lbVersion").contains(QLatin1String("8.1.0")), 10000);
        QStringList boxes{kDone};
        if (version.endsWith(QLatin1String("+factory")))
            boxes << "Update: Bite point and clutch calibration differ from before the update. Restore them "
                     "from the backup taken before the update?"
                  << "Success: Settings restored.";
        else
            QTest::qWait(1000); // no offer comes late
        QTRY_COMPARE_WITH_TIMEOUT(w.prompts.shown(), boxes, 5000);
        // Every stored value as it was before the update.
        QVERIFY(wheeltest::settable(wheel.flash()) == wheeltest::settable(before));
        QTRY_VERIFY(w.connected());
    }

    // BACKUP SETTINGS... and RESTORE SETTINGS...: a profile of another model
    // needs the user's yes; a bad file is refused before anything is written;
    // the backup folder keeps the last 20 of a model.
    void profileButtons()
    {
        QTemporaryDir files;
        const QString pelixProfile = files.filePath("pelix.json");
        {
            OPEN_WHEEL(pelix, "PELIX");
            Window w;
            QTRY_VERIFY(w.connected());
            w.prompts.fileAnswer = pelixProfile;
            w.click("pbBackupSettings");
            QCOMPARE(w.prompts.fileRequests.last().filter, QStringLiteral("Settings Profile (*.json)"));
            QVERIFY(w.prompts.fileRequests.last().save);
            QCOMPARE(w.prompts.shown(), QStringList{"Success: Settings saved to " + pelixProfile + "."});
        }
        const QString truncated = files.filePath("truncated.json");
        QVERIFY(wheeltest::writeFile(truncated, wheeltest::readFile(pelixProfile).left(40)));

        OPEN_WHEEL(wheel, "SRD7");
        Window w;
        QTRY_VERIFY(w.connected());
        for (const QMessageBox::StandardButton answer : {QMessageBox::No, QMessageBox::Yes}) {
            w.prompts.clear();
            wheel.clearTranscript();
            w.prompts.questionAnswer = answer;
            w.prompts.fileAnswer = pelixProfile;
            w.click("pbRestoreSettings");
            QCOMPARE(w.prompts.messages[0].kind, UserPrompts::MessageKind::Question);
            QCOMPARE(
                w.prompts.shown()[0],
                QStringLiteral("Notify: This profile was taken from a PELIX, this wheel is a SRD7. Restore "
                               "it anyway?"));
            QCOMPARE(wheel.writes().isEmpty(), answer == QMessageBox::No);
        }
        QTRY_COMPARE(w.prompts.shown().value(1), QStringLiteral("Success: Settings restored."));

        w.prompts.clear();
        wheel.clearTranscript();
        w.prompts.fileAnswer = truncated;
        w.click("pbRestoreSettings");
        QCOMPARE(w.prompts.messages.size(), 1);
        QVERIFY2(w.prompts.shown()[0].startsWith("Error: " + truncated + ": "),
                 qPrintable(w.prompts.shown()[0]));
        QCOMPARE(wheel.sent(), QStringList());

        WheelProfile profile;
        profile.modelCode = QStringLiteral("SRD7");
        QString error, last;
        for (int i = 0; i < kBackupsKept + 2; ++i)
            last = storeBackup(profile, &error);
        const QStringList kept = QDir(backupFolder()).entryList({"SRD7-*.json"}, QDir::Files);
        QCOMPARE(int(kept.size()), kBackupsKept);
        QVERIFY(kept.contains(QFileInfo(last).fileName()));
    }
};

WHEEL_TEST_MAIN(TestLiveWindow)
#include "tst_live_window.moc"
