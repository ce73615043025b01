// The window finding, losing and finding again the emulated wheel, through
// the real hidapi: the waiting screen, the 3 s scan, the product id order,
// reconnection with the initial reads, and closing with a wheel attached.
#include "wheel_fixture.h"
#include "wheel_test_main.h"

#include "app/mainwindow.h"
#include "device/device_handle.h"
#include "private_runtime_dir.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QMutex>
#include <QMutexLocker>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>

#include <algorithm>
#include <memory>

namespace {

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

QStringList toQt(const std::vector<std::string> &lines)
{
    QStringList out;
    for (const std::string &l : lines)
        out << QString::fromStdString(l);
    return out;
}

QStringList commandTraffic(const wheeltest::WheelFixture &wheel)
{
    return toQt(wheel.exchanges({"set-feature", "get-feature", "output"}));
}

// The extra-LED record is asked for twice on some models: by the layout
// (whether the wheel has them) and by the LED reading (their colours, after
// the pages). Either place is in order.
constexpr int kExtraLedRank = -2;

// Position of a query in the fixed order of the initial reads, from its
// request bytes ("set-feature 02 0b <record> <item> ..."); -1 for anything
// that is not one of them.
int initialReadRank(const QString &line)
{
    static const QList<QPair<QString, int>> order{
        {QStringLiteral("set-feature 02 0b 0d"), 0},    // model name
        {QStringLiteral("set-feature 02 0b 11"), kExtraLedRank}, // extra LEDs
        {QStringLiteral("set-feature 02 0b 0c 09"), 1}, // extra shifters (model)
        {QStringLiteral("set-feature 02 0b 00"), 2},    // LED pages
        {QStringLiteral("set-feature 02 0b 01"), 2},
        {QStringLiteral("set-feature 02 0b 02"), 2},
        {QStringLiteral("set-feature 02 0b 03"), 2},
        {QStringLiteral("set-feature 02 0b 04"), 2},
        {QStringLiteral("set-feature 02 0b 05"), 2},
        {QStringLiteral("set-feature 02 0b 06"), 2},
        {QStringLiteral("set-feature 02 0b 07"), 2},
        {QStringLiteral("set-feature 02 0b 0a"), 3},    // paddle configuration
        {QStringLiteral("set-feature 02 0b 0c 04"), 4}, // encoder pulse width
        {QStringLiteral("set-feature 02 0b 0c 0a"), 5}, // shifter pulse width
        {QStringLiteral("set-feature 02 0b 0c 08"), 6}, // clutches enabled
        {QStringLiteral("set-feature 02 0b 09"), 7},    // firmware version
    };
    for (const auto &entry : order)
        if (line.startsWith(entry.first))
            return entry.second;
    return -1;
}

QStringList waitingIndicatorNames(QWidget *page1)
{
    QStringList names;
    for (QObject *child : page1->children()) {
        const QString name = child->objectName();
        if (name.startsWith(QLatin1String("pbI")) || name.startsWith(QLatin1String("pbJ")) ||
            name.startsWith(QLatin1String("pbSW")))
            names << name;
    }
    return names;
}

} // namespace

// One window with what the tests watch: every waiting screen clicks pbS5.
struct Window
{
    PrivateRuntimeDir runtimeDir;
    MainWindow window;
    QElapsedTimer clock;
    QList<qint64> waitingScreens; // ms since construction

    Window()
    {
        clock.start();
        QObject::connect(button("pbS5"), &QPushButton::clicked,
                         [this] { waitingScreens << clock.elapsed(); });
        window.show();
    }

    template<typename T = QWidget> T *widget(const char *name) const
    {
        T *w = window.findChild<T *>(QLatin1String(name));
        if (!w)
            qFatal("no widget %s", name);
        return w;
    }
    QPushButton *button(const char *name) const { return widget<QPushButton>(name); }
    int page() const { return widget<QStackedWidget>("stackedWidget")->currentIndex(); }
    void scan() { QMetaObject::invokeMethod(&window, "onInit"); }
};

class TestDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { previousHandler = qInstallMessageHandler(captureMessages); }
    void init()
    {
        QMutexLocker lock(&logMutex);
        logLines.clear();
    }

    void waitingScreen_data();
    void waitingScreen();
    void waitingScreenHidesEveryIndicator();
    void scanEveryThreeSeconds();
    void scansAreCoalesced();
    void productIdOrder_data();
    void productIdOrder();
    void unplugAndPlugBack();
    void readErrorReconnectsAtOnce();
    void closeWithWheelAttached();
};

void TestDiscovery::waitingScreen_data()
{
    // Each widget is first put into the state a connected wheel leaves it
    // in; a scan that finds nothing must bring it to the waiting state.
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("property");
    QTest::addColumn<QVariant>("connected");
    QTest::addColumn<QVariant>("waiting");
    auto row = [](const char *name, const char *property, const QVariant &connected,
                  const QVariant &waiting) {
        QTest::newRow(qPrintable(QStringLiteral("%1 %2").arg(QLatin1String(name), QLatin1String(property))))
            << QString::fromLatin1(name) << QString::fromLatin1(property) << connected << waiting;
    };
    row("lbHead", "text", QStringLiteral("QUOR SRD7 Wheel"), QStringLiteral("WAITING FOR DEVICE..."));
    row("lbMain", "styleSheet", QStringLiteral("border-image: url(:/img/back.srd7.png);"),
        QStringLiteral("border-image:"));
    for (const char *b : {"pbS1", "pbS2", "pbS3", "pbS4"})
        row(b, "enabled", true, false);
    row("pbS5", "enabled", true, true);
    row("pbStatus", "shown", false, true);
    for (const char *w :
         {"lbEnc", "hsTrigger", "lbTrigger", "pbSaveEnc", "pbCalL", "pgAdcR", "pbCalR", "pgAdcL"})
        row(w, "shown", true, false);
    row("lbVersion", "shown", true, false);
    // The firmware page is reset as well.
    row("pbAutoUpgrade", "enabled", false, true);
    row("pbAutoUpgrade", "text", QStringLiteral("DOWNLOADING"), QStringLiteral("CHECK UPDATE"));
    row("pgUpgrade", "value", 40, 0);
    row("pgUpgrade", "shown", true, false);
    row("lbUpgrade", "shown", true, false);
    row("lbCurMd5", "shown", true, false);
    row("lbCurVersion", "text", QStringLiteral("v3.1"), QString());
}

void TestDiscovery::waitingScreen()
{
    QFETCH(QString, name);
    QFETCH(QString, property);
    QFETCH(QVariant, connected);
    QFETCH(QVariant, waiting);
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    QVERIFY(wheel.unplug());
    Window w;
    QTRY_COMPARE(w.waitingScreens.size(), 2); // construction, then the first scan

    QWidget *target = w.widget(name.toLatin1().constData());
    auto read = [&]() -> QVariant {
        if (property == QLatin1String("shown"))
            return !target->isHidden();
        return target->property(property.toLatin1().constData());
    };
    if (property == QLatin1String("shown"))
        target->setVisible(connected.toBool());
    else
        QVERIFY(target->setProperty(property.toLatin1().constData(), connected));
    QCOMPARE(read(), connected);
    w.button("pbS2")->setEnabled(true);
    w.button("pbS2")->click(); // leave the ABOUT page

    w.scan();
    QCOMPARE(read(), waiting);
    // Only the ABOUT page is left, and it is shown.
    QTRY_COMPARE(w.page(), 4);
    QVERIFY(w.button("pbS5")->isChecked());
    QVERIFY(!deviceHandle().isOpen());
}

void TestDiscovery::waitingScreenHidesEveryIndicator()
{
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    QVERIFY(wheel.unplug());
    Window w;
    QTRY_COMPARE(w.waitingScreens.size(), 2);
    QWidget *page1 = w.widget("page1");
    const QStringList indicators = waitingIndicatorNames(page1);
    QCOMPARE(indicators.size(), 52); // every input indicator of the form
    for (const QString &n : indicators)
        w.widget(n.toLatin1().constData())->show();
    w.widget("lbMain")->show();

    w.scan();
    for (const QString &n : indicators)
        QVERIFY2(w.widget(n.toLatin1().constData())->isHidden(), qPrintable(n));
    // The rest of the page stays as it was.
    QVERIFY(!w.widget("lbMain")->isHidden());
}

void TestDiscovery::scanEveryThreeSeconds()
{
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    QVERIFY(wheel.unplug());
    Window w;
    QTRY_COMPARE_WITH_TIMEOUT(w.waitingScreens.size(), 4, 3 * kScanIntervalMs + 2000);
    // Scans 1 to 3: the first at once, then one every 3 s (a coarse timer
    // may fire up to 5 % early; a missed scan would double the gap).
    QVERIFY2(w.waitingScreens[1] < kScanIntervalMs / 2, qPrintable(QString::number(w.waitingScreens[1])));
    for (int i = 2; i < 4; ++i) {
        const qint64 gap = w.waitingScreens[i] - w.waitingScreens[i - 1];
        QVERIFY2(gap >= kScanIntervalMs * 9 / 10 && gap < 2 * kScanIntervalMs,
                 qPrintable(QString::number(gap)));
    }

    // A wheel that appears between two scans waits for the next one.
    QVERIFY(wheel.plug());
    const qint64 plugged = w.clock.elapsed();
    const qint64 lastScan = w.waitingScreens.last();
    QTRY_VERIFY_WITH_TIMEOUT(deviceHandle().isOpen(), kScanIntervalMs + 2000);
    const qint64 found = w.clock.elapsed();
    QVERIFY2(
        found - lastScan >= kScanIntervalMs * 9 / 10,
        qPrintable(
            QStringLiteral("scan at %1, plugged at %2, found at %3").arg(lastScan).arg(plugged).arg(found)));
    QVERIFY(w.button("pbStatus")->isHidden());
    QCOMPARE(w.waitingScreens.size(), 4);
}

void TestDiscovery::scansAreCoalesced()
{
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    QVERIFY(wheel.unplug());
    Window w;
    QTRY_COMPARE(w.waitingScreens.size(), 2);
    // Two more scans at once, as when a retry and a lost wheel meet.
    w.scan();
    w.scan();
    QCOMPARE(w.waitingScreens.size(), 2); // the pbS5 clicks are still queued
    QTRY_COMPARE(w.waitingScreens.size(), 4);
    const qint64 lastDirect = w.waitingScreens.last();
    // Still one retry pending, not one per scan.
    QTRY_COMPARE_WITH_TIMEOUT(w.waitingScreens.size(), 5, kScanIntervalMs + 2000);
    QTest::qWait(kScanIntervalMs / 2);
    QCOMPARE(w.waitingScreens.size(), 5);
    QVERIFY(w.waitingScreens[4] - lastDirect >= kScanIntervalMs * 9 / 10);
}

void TestDiscovery::productIdOrder_data()
{
    QTest::addColumn<QList<int>>("attached");
    QTest::addColumn<int>("opened");
    QTest::newRow("two wheels: the first of the order") << QList<int>{0x200D, 0x2008} << 0x2008;
    QTest::newRow("three wheels") << QList<int>{0x2010, 0x200A, 0x2007} << 0x2007;
    QTest::newRow("PELIX id comes last") << QList<int>{0x2010, 0x200C} << 0x200C;
    QTest::newRow("0x200E and 0x200F are passed over") << QList<int>{0x200E, 0x200F, 0x2010} << 0x2010;
    QTest::newRow("only 0x200E and 0x200F") << QList<int>{0x200E, 0x200F} << 0;
}

void TestDiscovery::productIdOrder()
{
    QFETCH(QList<int>, attached);
    QFETCH(int, opened);
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    QVERIFY(wheel.changeProductId(static_cast<uint16_t>(attached[0])));
    for (int i = 1; i < attached.size(); ++i)
        QCOMPARE(wheel.addWheel("SRD7", attached[i]), i);

    Window w;
    QTRY_VERIFY(w.waitingScreens.size() == 2 || deviceHandle().isOpen());
    QCOMPARE(deviceHandle().isOpen(), opened != 0);
    for (int i = 0; i < attached.size(); ++i)
        QTRY_COMPARE(wheel.emulator().wheel(static_cast<size_t>(i))->clientCount(),
                     attached[i] == opened ? 2 : 0);
    QCOMPARE(w.button("pbStatus")->isHidden(), opened != 0);
}

void TestDiscovery::unplugAndPlugBack()
{
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Window w;
    QTRY_VERIFY(deviceHandle().isOpen());
    QCOMPARE(w.waitingScreens.size(), 1); // the one of construction only
    QVERIFY(w.button("pbStatus")->isHidden());
    const QStringList firstReads = commandTraffic(wheel);
    // The sequence opens with the model name query.
    QVERIFY(!firstReads.isEmpty());
    QVERIFY2(firstReads.first().startsWith(QLatin1String("set-feature 02 0b 0d")),
             qPrintable(firstReads.first()));
    int previousRank = -1;
    for (const QString &line : firstReads) {
        const int rank = initialReadRank(line);
        if (rank == kExtraLedRank) {
            QVERIFY2(previousRank <= 2, qPrintable(line));
            previousRank = std::max(previousRank, 1);
            continue;
        }
        if (rank < 0)
            continue;
        QVERIFY2(rank >= previousRank, qPrintable(line));
        previousRank = rank;
    }

    wheel.clearTranscript();
    QVERIFY(wheel.unplug());
    // The reader sees the loss, and its one deviceDisconnect() runs one scan.
    QTRY_COMPARE(w.waitingScreens.size(), 2);
    QVERIFY(!deviceHandle().isOpen());
    QCOMPARE(readerEnds(), 1);
    QCOMPARE(w.widget<QLabel>("lbHead")->text(), QStringLiteral("WAITING FOR DEVICE..."));
    QVERIFY(!w.button("pbStatus")->isHidden());
    QTRY_COMPARE(w.page(), 4);
    QTest::qWait(kScanIntervalMs / 3);
    QCOMPARE(w.waitingScreens.size(), 2);

    QVERIFY(wheel.plug());
    QElapsedTimer sincePlug;
    sincePlug.start();
    QTRY_VERIFY_WITH_TIMEOUT(deviceHandle().isOpen(), kScanIntervalMs + 2000);
    QVERIFY2(sincePlug.elapsed() < kScanIntervalMs + 1000, qPrintable(QString::number(sincePlug.elapsed())));
    QVERIFY(w.button("pbStatus")->isHidden());
    QTRY_COMPARE(wheel.emulator().wheel(0)->clientCount(), 2);
    // The same initial reads as at the first connection, in the same order.
    QStringList again = commandTraffic(wheel);
    QCOMPARE(again, firstReads);
}

void TestDiscovery::readErrorReconnectsAtOnce()
{
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Window w;
    QTRY_VERIFY(deviceHandle().isOpen());
    const QStringList firstReads = commandTraffic(wheel);
    wheel.clearTranscript();

    // The wheel stays on the bus: the scan that follows the loss finds it
    // again straight away, without a waiting screen.
    wheel.failReads(1);
    QTRY_COMPARE(readerEnds(), 1);
    QTRY_VERIFY(deviceHandle().isOpen());
    QTRY_COMPARE(wheel.emulator().wheel(0)->clientCount(), 2);
    QCOMPARE(w.waitingScreens.size(), 1);
    QCOMPARE(commandTraffic(wheel), firstReads);
    // The new reader works.
    wheel.press(3);
    QTest::qWait(200);
    QCOMPARE(readerEnds(), 1);
    QVERIFY(deviceHandle().isOpen());
}

void TestDiscovery::closeWithWheelAttached()
{
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Window w;
    QTRY_VERIFY(deviceHandle().isOpen());

    // What the window's close sees of the link.
    struct CloseWatch : QObject
    {
        bool closed = false;
        bool openAtClose = true;
        bool eventFilter(QObject *, QEvent *event) override
        {
            if (event->type() == QEvent::Close) {
                closed = true;
                openAtClose = deviceHandle().isOpen();
            }
            return false;
        }
    } watch;
    w.window.installEventFilter(&watch);

    w.button("pbClose")->click();
    QVERIFY(watch.closed);
    QVERIFY(!watch.openAtClose);
    QVERIFY(!w.window.isVisible());
    QCOMPARE(readerEnds(), 1);
    QTRY_COMPARE(wheel.emulator().wheel(0)->clientCount(), 0);
    // No deviceDisconnect(): nothing scans and reopens the wheel.
    QTest::qWait(300);
    QVERIFY(!deviceHandle().isOpen());
    QCOMPARE(wheel.emulator().wheel(0)->clientCount(), 0);
    QCOMPARE(w.waitingScreens.size(), 1);
}

WHEEL_TEST_MAIN(TestDiscovery)
#include "tst_discovery.moc"
