// The window finding, losing and finding again the emulated wheel, through
// the real hidapi: the waiting screen, the retry scan, reconnection with the
// initial reads, and closing with a wheel attached.
#include "wheel_fixture.h"
#include "wheel_test_main.h"

#include "app/mainwindow.h"
#include "device/device_handle.h"
#include "private_runtime_dir.h"

#include <QLabel>
#include <QMutex>
#include <QMutexLocker>
#include <QPushButton>
#include <QStackedWidget>

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

// Commands sent to the wheel, without the zero padding.
QStringList commandTraffic(const wheeltest::WheelFixture &wheel)
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
        QObject::connect(button("pbS5"), &QPushButton::clicked, [this] { ++waitingScreens; });
        window.show();
    }

    QWidget *widget(const QString &name) const
    {
        QWidget *w = window.findChild<QWidget *>(name);
        if (!w)
            qFatal("no widget %s", qPrintable(name));
        return w;
    }
    QPushButton *button(const char *name) const
    {
        return qobject_cast<QPushButton *>(widget(QLatin1String(name)));
    }
    int page() const
    {
        return window.findChild<QStackedWidget *>(QStringLiteral("stackedWidget"))->currentIndex();
    }
    void scan() { QMetaObject::invokeMethod(&window, "onInit"); }
};

} // namespace

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

    void waitingScreen();
    void scansAreCoalesced();
    void unplugAndPlugBack();
    void readErrorReconnectsAtOnce();
    void closeWithWheelAttached();
};

void TestDiscovery::waitingScreen()
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
        {"lbMain", "shown", true, true},
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
    w.button("pbS2")->click(); // leave the ABOUT page

    w.scan();
    for (const Row &row : rows)
        QVERIFY2(read(row) == row.waiting, qPrintable(QStringLiteral("%1 %2").arg(
                                               QString::fromLatin1(row.name), QLatin1String(row.property))));
    // Only the ABOUT page is left, and it is shown.
    QTRY_COMPARE(w.page(), 4);
    QVERIFY(w.button("pbS5")->isChecked());
    QVERIFY(!deviceHandle().isOpen());
}

void TestDiscovery::scansAreCoalesced()
{
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    QVERIFY(wheel.unplug());
    Window w;
    QTRY_COMPARE(w.waitingScreens, 2);
    // Two more scans at once, as when a retry and a lost wheel meet: still
    // one retry pending, not one per scan.
    w.scan();
    w.scan();
    QTRY_COMPARE(w.waitingScreens, 4);
    QTRY_COMPARE_WITH_TIMEOUT(w.waitingScreens, 5, kScanIntervalMs + 2000);
    QTest::qWait(kScanIntervalMs / 2);
    QCOMPARE(w.waitingScreens, 5);

    // A wheel that appears meanwhile is found by the next retry.
    QVERIFY(wheel.plug());
    QTRY_VERIFY_WITH_TIMEOUT(deviceHandle().isOpen(), kScanIntervalMs + 2000);
    QVERIFY(w.button("pbStatus")->isHidden());
}

void TestDiscovery::unplugAndPlugBack()
{
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Window w;
    QTRY_VERIFY(deviceHandle().isOpen());
    QTRY_COMPARE(wheel.emulator().wheel(0)->clientCount(), 2);
    QTRY_COMPARE(commandTraffic(wheel), kInitialReads);
    QCOMPARE(w.waitingScreens, 1); // the one of construction only
    QVERIFY(w.button("pbStatus")->isHidden());

    wheel.clearTranscript();
    QVERIFY(wheel.unplug());
    // The reader sees the loss, and its one deviceDisconnect() runs one scan.
    QTRY_COMPARE(w.waitingScreens, 2);
    QVERIFY(!deviceHandle().isOpen());
    QCOMPARE(readerEnds(), 1);
    QCOMPARE(qobject_cast<QLabel *>(w.widget(QStringLiteral("lbHead")))->text(),
             QStringLiteral("WAITING FOR DEVICE..."));
    QVERIFY(!w.button("pbStatus")->isHidden());
    QTRY_COMPARE(w.page(), 4);

    QVERIFY(wheel.plug());
    QTRY_VERIFY_WITH_TIMEOUT(deviceHandle().isOpen(), kScanIntervalMs + 2000);
    QVERIFY(w.button("pbStatus")->isHidden());
    QTRY_COMPARE(wheel.emulator().wheel(0)->clientCount(), 2);
    // The same initial reads as at the first connection, in the same order.
    QTRY_COMPARE(commandTraffic(wheel), kInitialReads);
}

void TestDiscovery::readErrorReconnectsAtOnce()
{
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Window w;
    QTRY_VERIFY(deviceHandle().isOpen());
    QTRY_COMPARE(commandTraffic(wheel), kInitialReads);
    wheel.clearTranscript();

    // The wheel stays on the bus: the scan that follows the loss finds it
    // again straight away, without a waiting screen.
    wheel.failReads(1);
    QTRY_COMPARE(readerEnds(), 1);
    QTRY_VERIFY(deviceHandle().isOpen());
    QTRY_COMPARE(wheel.emulator().wheel(0)->clientCount(), 2);
    QCOMPARE(w.waitingScreens, 1);
    QTRY_COMPARE(commandTraffic(wheel), kInitialReads);
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

    w.button("pbClose")->click();
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

WHEEL_TEST_MAIN(TestDiscovery)
#include "tst_discovery.moc"
