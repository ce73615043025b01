// The window finding, losing and becoming the attached wheel, through the
// real hidapi against the emulated wheel: the waiting screen, the retry scan,
// the initial reads, the model it lays out, the buttons it lights while they
// are pressed, the paddle bars, the firmware version, the power status poll
// and closing with a wheel attached. What each model shows is saved into the
// build's screenshot folder.
#include "wheel_fixture.h"
#include "wheel_test_main.h"

#include "app/mainwindow.h"
#include "device/device_handle.h"
#include "private_runtime_dir.h"

#include <QDir>
#include <QImage>
#include <QLabel>
#include <QMutex>
#include <QMutexLocker>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>

namespace {

const QString kWaitingHeader = QStringLiteral("WAITING FOR DEVICE...");
const QString kDefaultVersion = QStringLiteral("Firmware Version: 2\tMar  7 2024,15:04");
constexpr int kPollMs = 10000;
constexpr int kScanIntervalMs = 3000;

QMutex logMutex;
QStringList logLines;
QtMessageHandler previousHandler = nullptr;

void captureMessages(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    {
        QMutexLocker lock(&logMutex);
        logLines << message;
    }
    if (previousHandler)
        previousHandler(type, context, message);
}

int readerEnds()
{
    QMutexLocker lock(&logMutex);
    return int(logLines.count(QStringLiteral("joystick event thread done.")));
}

// Commands sent to the wheel, without the zero padding.
QStringList requests(const wheeltest::WheelFixture &wheel)
{
    QStringList out;
    for (const std::string &l : wheel.exchanges({"set-feature", "output"})) {
        QString line = QString::fromStdString(l);
        while (line.endsWith(QLatin1String(" 00")))
            line.chop(3);
        out << line;
    }
    return out;
}

int powerQueries(const wheeltest::WheelFixture &wheel)
{
    return int(requests(wheel).count(QStringLiteral("set-feature 02 0b 0f")));
}

// What a connected SRD7 is asked, in order: its name, its four LED pages
// (each query written over the reply before, whose tail goes out again), the
// extra LEDs' colours, the paddles, both pulse widths, the clutches and the
// firmware version.
const QString kWhiteLevels = QStringLiteral(" ff").repeated(16);
const QStringList kInitialReads = {
    QStringLiteral("set-feature 02 0b 0d"),
    QStringLiteral("set-feature 02 0b"),
    QStringLiteral("set-feature 02 0b 01 00") + kWhiteLevels,
    QStringLiteral("set-feature 02 0b 02 00") + kWhiteLevels,
    QStringLiteral("set-feature 02 0b 03 00") + kWhiteLevels,
    QStringLiteral("set-feature 02 0b 11"),
    QStringLiteral("set-feature 02 0b 0a"),
    QStringLiteral("set-feature 02 0b 0c 04"),
    QStringLiteral("set-feature 02 0b 0c 0a"),
    QStringLiteral("set-feature 02 0b 0c 08"),
    QStringLiteral("set-feature 02 0b 09"),
};

// One window with what the tests watch: every waiting screen clicks pbS5.
struct Window
{
    PrivateRuntimeDir runtimeDir;
    MainWindow window;
    int waitingScreens = 0;

    Window()
    {
        QObject::connect(widget<QPushButton>("pbS5"), &QPushButton::clicked, [this] { ++waitingScreens; });
        window.setWindowFlags(Qt::FramelessWindowHint);
        window.show();
    }

    template<typename T = QWidget> T *widget(const QString &name) const
    {
        T *w = window.findChild<T *>(name);
        if (!w)
            qFatal("no widget %s", qPrintable(name));
        return w;
    }
    QString text(const char *label) const { return widget<QLabel>(label)->text(); }
    bool connected() const
    {
        return text("lbHead") != kWaitingHeader && !widget("pbStatus")->isVisibleTo(&window);
    }
    int page() const { return widget<QStackedWidget>("stackedWidget")->currentIndex(); }
    QTimer *statusPoll() const { return widget<QTimer>("statusPollTimer"); }
    QString tip(const char *name) const { return widget(name)->statusTip(); }
    void scan() { QMetaObject::invokeMethod(&window, "onInit"); }

    // The input indicators on screen.
    QStringList lit() const
    {
        QStringList names;
        for (QObject *child : widget("page1")->children()) {
            auto *w = qobject_cast<QWidget *>(child);
            const QString name = child->objectName();
            if (w && !w->isHidden() &&
                (name.startsWith(QLatin1String("pbI")) || name.startsWith(QLatin1String("pbJ")) ||
                 name.startsWith(QLatin1String("pbSW"))))
                names << name;
        }
        names.sort();
        return names;
    }
};

wheeltest::WheelFixture::Options model(const char *code)
{
    wheeltest::WheelFixture::Options options;
    options.model = code;
    return options;
}

} // namespace

class TestLiveWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { previousHandler = qInstallMessageHandler(captureMessages); }
    void init()
    {
        QMutexLocker lock(&logMutex);
        logLines.clear();
    }

    void waitingScreen();
    void unplugAndPlugBack_data();
    void unplugAndPlugBack();
    void readErrorReconnectsAtOnce();
    void closeWithWheelAttached();
    void everyModel_data();
    void everyModel();
    void refusedNameReplyKeepsWaiting();
    void statusPollFollowsTheWheel();
};

void TestLiveWindow::waitingScreen()
{
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    QVERIFY(wheel.unplug());
    Window w;
    QTRY_COMPARE(w.waitingScreens, 2); // construction, then the first scan

    // Each widget in the state a connected wheel (or an update under way)
    // leaves it; a scan that finds nothing brings it to the waiting state.
    struct Row
    {
        QByteArray name;
        const char *property; // "shown": not hidden
        QVariant connected;
        QVariant waiting;
    };
    QList<Row> rows{
        {"lbHead", "text", QStringLiteral("QUOR SRD7 Wheel"), QStringLiteral("WAITING FOR DEVICE...")},
        {"lbMain", "styleSheet", QStringLiteral("border-image: url(:/img/back.srd7.png);"),
         QStringLiteral("border-image:")},
        {"pbS5", "enabled", true, true},
        {"pbStatus", "shown", false, true},
        {"lbVersion", "shown", true, false},
        {"pbAutoUpgrade", "enabled", false, true},
        {"pbAutoUpgrade", "text", QStringLiteral("DOWNLOADING"), QStringLiteral("CHECK UPDATE")},
        {"pgUpgrade", "value", 40, 0},
        {"pgUpgrade", "shown", true, false},
        {"lbUpgrade", "shown", true, false},
        {"lbCurMd5", "shown", true, false},
        {"lbCurVersion", "text", QStringLiteral("v3.1"), QString()},
    };
    for (const char *name : {"pbS1", "pbS2", "pbS3", "pbS4"})
        rows.append({name, "enabled", true, false});
    for (const char *name :
         {"lbEnc", "hsTrigger", "lbTrigger", "pbSaveEnc", "pbCalL", "pgAdcR", "pbCalR", "pgAdcL"})
        rows.append({name, "shown", true, false});
    // Every input indicator of the form.
    int indicators = 0;
    for (QObject *child : w.widget(QStringLiteral("page1"))->children()) {
        const QByteArray name = child->objectName().toLatin1();
        if (name.startsWith("pbI") || name.startsWith("pbJ") || name.startsWith("pbSW")) {
            rows.append({name, "shown", true, false});
            ++indicators;
        }
    }
    QCOMPARE(indicators, 52);

    auto read = [&w](const Row &row) -> QVariant {
        QWidget *target = w.widget(QString::fromLatin1(row.name));
        if (qstrcmp(row.property, "shown") == 0)
            return !target->isHidden();
        return target->property(row.property);
    };
    for (const Row &row : rows) {
        if (qstrcmp(row.property, "shown") == 0)
            w.widget(QString::fromLatin1(row.name))->setVisible(row.connected.toBool());
        else
            QVERIFY(w.widget(QString::fromLatin1(row.name))->setProperty(row.property, row.connected));
        QCOMPARE(read(row), row.connected);
    }
    w.widget<QPushButton>("pbS2")->click(); // leave the ABOUT page

    w.scan();
    for (const Row &row : rows)
        QVERIFY2(read(row) == row.waiting, qPrintable(QStringLiteral("%1 %2").arg(
                                               QString::fromLatin1(row.name), QLatin1String(row.property))));
    // Only the ABOUT page is left, and it is shown.
    QTRY_COMPARE(w.page(), 4);
    QVERIFY(w.widget<QPushButton>("pbS5")->isChecked());
    QVERIFY(!deviceHandle().isOpen());
    // The scan met the retry of the one before: still one retry pending.
    QTRY_COMPARE_WITH_TIMEOUT(w.waitingScreens, 4, kScanIntervalMs + 2000);
    QTest::qWait(kScanIntervalMs / 2);
    QCOMPARE(w.waitingScreens, 4);
}

void TestLiveWindow::unplugAndPlugBack_data()
{
    QTest::addColumn<bool>("heldOnReturn");
    QTest::newRow("button let go while away") << false;
    QTest::newRow("button still held on return") << true;
}

void TestLiveWindow::unplugAndPlugBack()
{
    QFETCH(bool, heldOnReturn);
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Window w;
    QTRY_VERIFY(deviceHandle().isOpen());
    QTRY_COMPARE(wheel.emulator().wheel(0)->clientCount(), 2);
    QTRY_COMPARE(requests(wheel), kInitialReads);
    QCOMPARE(w.waitingScreens, 1); // the one of construction only
    QVERIFY(w.connected());
    wheel.press(7);
    QTRY_COMPARE(w.lit(), QStringList{"pbIB2"});

    wheel.clearTranscript();
    QVERIFY(wheel.unplug());
    // The reader sees the loss, and its one deviceDisconnect() runs one scan.
    QTRY_COMPARE(w.waitingScreens, 2);
    QVERIFY(!deviceHandle().isOpen());
    QCOMPARE(readerEnds(), 1);
    QCOMPARE(w.text("lbHead"), kWaitingHeader);
    QVERIFY(!w.widget("pbStatus")->isHidden());
    QTRY_COMPARE(w.page(), 4);
    // The waiting screen hides the lit indicator but leaves it marked as lit.
    QCOMPARE(w.lit(), QStringList());
    QCOMPARE(w.tip("pbIB2"), QStringLiteral("SHOW"));

    if (!heldOnReturn)
        wheel.release(7);
    QVERIFY(wheel.plug());
    QTRY_VERIFY_WITH_TIMEOUT(w.connected(), kScanIntervalMs + 2000);
    QTRY_COMPARE(wheel.emulator().wheel(0)->clientCount(), 2);
    // The same initial reads as at the first connection, in the same order.
    QTRY_COMPARE(requests(wheel), kInitialReads);
    QCOMPARE(w.tip("pbIB2"), QStringLiteral("SHOW"));
    // The first report after the return decides.
    if (heldOnReturn)
        wheel.press(7);
    else
        wheel.sendReports(1);
    QTRY_COMPARE(w.tip("pbIB2"), heldOnReturn ? QStringLiteral("SHOW") : QStringLiteral("HIDE"));
    QTRY_COMPARE(w.lit(), heldOnReturn ? QStringList{"pbIB2"} : QStringList());
}

void TestLiveWindow::readErrorReconnectsAtOnce()
{
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Window w;
    QTRY_VERIFY(deviceHandle().isOpen());
    QTRY_COMPARE(requests(wheel), kInitialReads);
    wheel.clearTranscript();

    // The wheel stays on the bus: the scan that follows the loss finds it
    // again straight away, without a waiting screen.
    wheel.failReads(1);
    QTRY_COMPARE(readerEnds(), 1);
    QTRY_VERIFY(deviceHandle().isOpen());
    QTRY_COMPARE(wheel.emulator().wheel(0)->clientCount(), 2);
    QCOMPARE(w.waitingScreens, 1);
    QTRY_COMPARE(requests(wheel), kInitialReads);
    // The new reader works.
    wheel.press(3);
    QTest::qWait(200);
    QCOMPARE(readerEnds(), 1);
    QVERIFY(deviceHandle().isOpen());
}

void TestLiveWindow::closeWithWheelAttached()
{
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Window w;
    QTRY_VERIFY(deviceHandle().isOpen());

    w.widget<QPushButton>("pbClose")->click();
    // The reader stops and lets the wheel go, and nothing scans and reopens it.
    QVERIFY(!w.window.isVisible());
    QVERIFY(!deviceHandle().isOpen());
    QCOMPARE(readerEnds(), 1);
    QTRY_COMPARE(wheel.emulator().wheel(0)->clientCount(), 0);
    QTest::qWait(300);
    QVERIFY(!deviceHandle().isOpen());
    QCOMPARE(wheel.emulator().wheel(0)->clientCount(), 0);
    QCOMPARE(w.waitingScreens, 1);
}

void TestLiveWindow::everyModel_data()
{
    QTest::addColumn<QString>("header");
    QTest::addColumn<bool>("ledPage");
    QTest::addColumn<bool>("polled");
    QTest::addColumn<QString>("press"); // button numbers
    QTest::addColumn<QStringList>("lit");

    auto row = [](const char *code, bool ledPage, bool polled, const char *press, const QStringList &lit) {
        QTest::newRow(code) << QStringLiteral("QUOR CONTROLS QUOR %1 Wheel").arg(QLatin1String(code))
                            << ledPage << polled << press << lit;
    };
    row("H-ZET", true, true, "1 7 33 19 24", {"pbIB1", "pbIB2", "pbIB9", "pbID3L", "pbSWL"});
    row("VLN6", true, false, "1 7 33 5 32", {"pbIB1", "pbIB2", "pbIB9", "pbID1L", "pbSWR"});
    row("H-MIRA", false, true, "1 7 33 17 9", {"pbIB1", "pbIB2", "pbIB9", "pbID7L", "pbJsL1"});
    QTest::newRow("OV410") << QStringLiteral("Quor Controls - OV410 Edition SIM Wheel") << true << true
                           << "1 2 33 5 41" << QStringList{"pbIB1", "pbISW1", "pbIB9", "pbID1L", "pbJsR1"};
    row("KLINO4", true, true, "1 2 33 3 9", {"pbIB1", "pbISW1", "pbIB9", "pbID5L", "pbJsL1"});
    row("ULMAR", true, true, "1 24 33 19 21", {"pbIB1", "pbSWL", "pbIB9", "pbID3L", "pbIB3"});
    row("SRD7", true, false, "1 7 33 20 24", {"pbIB1", "pbIB2", "pbIB9", "pbID3R", "pbSWL"});
    row("PELIX", true, false, "1 7 33 17 21", {"pbIB1", "pbIB2", "pbIB9", "pbID7L", "pbIB3"});
}

void TestLiveWindow::everyModel()
{
    QFETCH(QString, header);
    QFETCH(bool, ledPage);
    QFETCH(bool, polled);
    QFETCH(QString, press);
    QFETCH(QStringList, lit);

    const QString code = QString::fromLatin1(QTest::currentDataTag());
    wheeltest::WheelFixture wheel(model(QTest::currentDataTag()));
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Window w;
    QVERIFY(QTest::qWaitForWindowExposed(&w.window));
    QTRY_VERIFY(w.connected());
    // The INPUTS page comes up, and the status poll starts, after the reads.
    auto *pages = w.widget<QStackedWidget>("stackedWidget");
    QTRY_COMPARE(pages->currentIndex(), 0);
    QTRY_COMPARE(w.text("lbVersion"), kDefaultVersion);

    const QString folder = code.toLower().remove(QLatin1Char('-'));
    QCOMPARE(w.text("lbHead"), header);
    QCOMPARE(w.widget("lbMain")->styleSheet(),
             QStringLiteral("border-image: url(:/img/back.%1.png)").arg(folder));
    QCOMPARE(w.widget("pbS2")->isEnabled(), ledPage);
    for (const char *page : {"pbS1", "pbS3", "pbS4", "pbS5"})
        QVERIFY2(w.widget(page)->isEnabled(), page);
    QVERIFY(!w.widget("lbVersion")->isHidden());
    // The name is the first question the window asks.
    QCOMPARE(requests(wheel).value(0), QStringLiteral("set-feature 02 0b 0d"));
    QTRY_COMPARE(w.statusPoll()->isActive(), polled);
    QCOMPARE(powerQueries(wheel), polled ? 1 : 0);
    // The emulated battery models start at 80 %, level 3900, on Bluetooth.
    QCOMPARE(w.text("lbBatStatus"), polled ? QStringLiteral("BATTERY STATUS: 80%") : "BATTERY STATUS:");
    QVERIFY(!w.widget("lbBTStatus")->isHidden());

    QVERIFY(wheel.command(("press " + press).toStdString()));
    wheel.setPaddles(1200, 3300);
    lit.sort();
    QTRY_COMPARE(w.lit(), lit);
    QTRY_COMPARE(w.widget<QProgressBar>("pgAdcR")->value(), 3300);
    QCOMPARE(w.widget<QProgressBar>("pgAdcL")->value(), 1200);
    QTest::qWait(100);

    const QDir dir(QStringLiteral(QUORSET_SCREENSHOT_DIR));
    const QImage inputs = w.window.grab().toImage();
    QVERIFY(inputs.save(dir.filePath(QStringLiteral("model-%1-inputs.png").arg(folder))));
    // The held buttons' indicators are on screen, blue, where the layout put
    // them: a few pixels in from the left edge, on the fill, not the caption.
    for (const QString &name : lit) {
        const QWidget *indicator = w.widget(qPrintable(name));
        const QColor seen =
            inputs.pixelColor(indicator->mapTo(&w.window, QPoint(5, indicator->height() / 2)));
        QVERIFY2(qAbs(seen.red() - 0) <= 6 && qAbs(seen.green() - 117) <= 6 && qAbs(seen.blue() - 190) <= 6,
                 qPrintable(name + QLatin1Char(' ') + seen.name()));
    }
    for (const char *page : {"pbS4", "pbS5"}) {
        QTest::mouseClick(w.widget<QPushButton>(page), Qt::LeftButton);
        const QImage shot = w.window.grab().toImage();
        QCOMPARE(shot.size(), QSize(900, 500));
        const char *file = pages->currentIndex() == 3 ? "device" : "about";
        QVERIFY(shot.save(dir.filePath(QStringLiteral("model-%1-%2.png").arg(folder, QLatin1String(file)))));
    }
}

void TestLiveWindow::refusedNameReplyKeepsWaiting()
{
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    // The window's first read is the name: it fails and leaves the request.
    wheel.failGetFeature(1);
    Window w;
    QTRY_VERIFY(!w.widget("pbStatus")->isVisibleTo(&w.window));
    QTRY_VERIFY(!w.widget("lbVersion")->isHidden());

    QCOMPARE(w.text("lbHead"), kWaitingHeader);
    QCOMPARE(w.widget("lbMain")->styleSheet(), QStringLiteral("border-image:"));
    for (const char *page : {"pbS1", "pbS2", "pbS3", "pbS4"})
        QVERIFY2(!w.widget(page)->isEnabled(), page);
    // The later reads still ran.
    QCOMPARE(w.text("lbVersion"), kDefaultVersion);
}

void TestLiveWindow::statusPollFollowsTheWheel()
{
    wheeltest::WheelFixture wheel(model("H-ZET"));
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    wheel.withWheel([](wheelemu::Wheel &wh) { wh.setPowerStatus({42, 4299, 2}); });
    Window w;
    QTRY_VERIFY(w.connected());
    QTRY_COMPARE(w.text("lbBatStatus"), QStringLiteral("BATTERY STATUS: 42%"));
    QVERIFY(w.widget("lbBTStatus")->isHidden());

    // The next poll sees the wheel on external power.
    wheel.withWheel([](wheelemu::Wheel &wh) { wh.setPowerStatus({42, 4300, 2}); });
    QTRY_COMPARE_WITH_TIMEOUT(w.text("lbBatStatus"), QStringLiteral("BATTERY STATUS: USB"), kPollMs + 2000);
    QCOMPARE(powerQueries(wheel), 2);
    QVERIFY(w.statusPoll()->isActive());

    // Without a wheel the pending poll runs once more and arms nothing.
    QVERIFY(wheel.unplug());
    QTRY_COMPARE(w.text("lbHead"), kWaitingHeader);
    QTRY_VERIFY_WITH_TIMEOUT(!w.statusPoll()->isActive(), kPollMs + 2000);
    QTest::qWait(200);
    QVERIFY(!w.statusPoll()->isActive());
    QCOMPARE(powerQueries(wheel), 2);

    // The next connection starts it again.
    QVERIFY(wheel.plug());
    QTRY_VERIFY_WITH_TIMEOUT(w.connected(), 6000);
    QTRY_COMPARE(powerQueries(wheel), 3);
    QVERIFY(w.statusPoll()->isActive());
}

WHEEL_TEST_MAIN(TestLiveWindow)
#include "tst_live_window.moc"
