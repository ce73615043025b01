// The input reader thread against the emulated wheel, through the real
// hidapi: what it emits, how it stops, and what it does when the wheel goes.
#include "wheel_fixture.h"
#include "wheel_test_main.h"

#include "device/device_handle.h"
#include "device/discovery.h"
#include "input/quor_event.h"

#include <hidapi/hidapi.h>

#include <QMutex>
#include <QMutexLocker>

#include <array>

namespace {

// Debug output of every thread, for the reader's closing line.
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

int doneLines()
{
    QMutexLocker lock(&logMutex);
    return int(logLines.count(QStringLiteral("joystick event thread done.")));
}

using Report = std::array<uint8_t, 17>;

Report currentReport(wheeltest::WheelFixture &wheel)
{
    Report r{};
    wheel.withWheel([&](wheelemu::Wheel &w) { r = w.inputReport(); });
    return r;
}

QByteArray payloadOf(const Report &r)
{
    return QByteArray(reinterpret_cast<const char *>(r.data()) + 1, 16).toHex(' ');
}

int clients(wheeltest::WheelFixture &wheel)
{
    return wheel.emulator().wheel(0)->clientCount();
}

// The reader thread and what reaches this thread of its signals, queued, as
// the window receives them. Stopped when the test leaves, also after a
// failed check.
struct Reader : QObject
{
    QuorEvent thread;
    QList<QByteArray> payloads;
    int disconnects = 0;

    Reader()
    {
        connect(&thread, &QuorEvent::eventTrigger, this,
                [this](const QByteArray &p) { payloads << p.toHex(' '); });
        connect(&thread, &QuorEvent::deviceDisconnect, this, [this] { ++disconnects; });
    }
    ~Reader() override { stop(); }
    bool stop()
    {
        thread.requestInterruption();
        return thread.wait(10000);
    }
};

} // namespace

class TestQuorEvent : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QCOMPARE(hid_init(), 0);
        previousHandler = qInstallMessageHandler(captureMessages);
    }
    void init()
    {
        QMutexLocker lock(&logMutex);
        logLines.clear();
    }
    void cleanup() { deviceHandle().close(); }

    void lossOfTheWheel_data();
    void lossOfTheWheel();
    void identicalReportsAreAllForwarded();
    void shortReportKeepsThePreviousTail_data();
    void shortReportKeepsThePreviousTail();
    void restartAfterStop();
};

void TestQuorEvent::lossOfTheWheel_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("done");
    QTest::newRow("unplugged") << "unplug" << 1;
    QTest::newRow("read error") << "read error" << 1;
    // That way out neither closes anything nor writes the closing line.
    QTest::newRow("started without a wheel") << "never opened" << 0;
}

void TestQuorEvent::lossOfTheWheel()
{
    QFETCH(QString, how);
    QFETCH(int, done);
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    if (how != QLatin1String("never opened"))
        QVERIFY(openFirstWheel(deviceHandle()) != 0);
    Reader reader;
    reader.thread.start();

    if (how == QLatin1String("unplug"))
        QVERIFY(wheel.unplug());
    else if (how == QLatin1String("read error"))
        wheel.failReads(1);
    QVERIFY(reader.thread.wait(10000));
    QVERIFY(!deviceHandle().isOpen());
    QTRY_COMPARE(reader.disconnects, 1);
    QCOMPARE(doneLines(), done);
    // Both handles were let go.
    if (how != QLatin1String("unplug"))
        QTRY_COMPARE(clients(wheel), 0);
    // Nothing more comes after the end.
    QTest::qWait(50);
    QCOMPARE(reader.disconnects, 1);
    QCOMPARE(reader.payloads.size(), 0);
}

void TestQuorEvent::identicalReportsAreAllForwarded()
{
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    QVERIFY(openFirstWheel(deviceHandle()) != 0);
    Reader reader;
    reader.thread.start();
    wheel.setPaddles(0x0123, 0x0456);
    wheel.sendReports(2); // the same state twice more
    QTRY_COMPARE(reader.payloads.size(), 3);
    for (const QByteArray &p : reader.payloads)
        QCOMPARE(p, payloadOf(currentReport(wheel)));
}

void TestQuorEvent::shortReportKeepsThePreviousTail_data()
{
    QTest::addColumn<bool>("fullReportFirst");
    QTest::addColumn<int>("length");
    QTest::newRow("short first report: zeros behind") << false << 5;
    QTest::newRow("paddles only") << true << 5;
    QTest::newRow("report id only") << true << 1;
    QTest::newRow("last button byte missing") << true << 12;
}

void TestQuorEvent::shortReportKeepsThePreviousTail()
{
    QFETCH(bool, fullReportFirst);
    QFETCH(int, length);
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    wheel.emulator().wheel(0)->setReportOnChange(false);
    QVERIFY(openFirstWheel(deviceHandle()) != 0);
    Reader reader;
    reader.thread.start();

    Report before{}; // the reader's buffer starts zeroed
    if (fullReportFirst) {
        QVERIFY(wheel.command("press 64 9"));
        wheel.setPaddles(0x0A0B, 0x0C0D);
        wheel.sendReports(1);
        QTRY_COMPARE(reader.payloads.size(), 1);
        before = currentReport(wheel);
    }
    QVERIFY(wheel.command("release 64 9"));
    QVERIFY(wheel.command("press 2 63"));
    wheel.setPaddles(0x1112, 0x1314);
    const Report now = currentReport(wheel);
    wheel.sendShortReport(length);
    QTRY_COMPARE(reader.payloads.size(), fullReportFirst ? 2 : 1);

    Report expected = before;
    std::copy(now.begin(), now.begin() + length, expected.begin());
    // The case must tell a cleared or refilled buffer from a kept one.
    QVERIFY(expected != now);
    QCOMPARE(reader.payloads.last(), payloadOf(expected));
}

// Stopping while connected closes the wheel without a disconnect signal;
// the window then reuses the one thread object for the next connection.
void TestQuorEvent::restartAfterStop()
{
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Reader reader;
    for (int round = 0; round < 2; ++round) {
        QVERIFY(openFirstWheel(deviceHandle()) != 0);
        reader.thread.start();
        wheel.press(10 + round);
        QTRY_COMPARE(reader.payloads.size(), round + 1); // the reader is in its loop
        QVERIFY(reader.stop());
        QVERIFY(!deviceHandle().isOpen());
        QTRY_COMPARE(clients(wheel), 0);
    }
    QCoreApplication::processEvents();
    QCOMPARE(doneLines(), 2);
    QCOMPARE(reader.disconnects, 0);
}

WHEEL_TEST_GUILESS_MAIN(TestQuorEvent)
#include "tst_quor_event.moc"
