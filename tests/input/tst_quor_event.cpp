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

int logCount(const QString &line)
{
    QMutexLocker lock(&logMutex);
    return int(logLines.count(line));
}

const QString kDoneLine = QStringLiteral("joystick event thread done.");

using Report = std::array<uint8_t, 17>;

Report currentReport(wheeltest::WheelFixture &wheel)
{
    Report r{};
    wheel.withWheel([&](wheelemu::Wheel &w) { r = w.inputReport(); });
    return r;
}

QByteArray payloadOf(const Report &r)
{
    return QByteArray(reinterpret_cast<const char *>(r.data()) + 1, 16);
}

int clients(wheeltest::WheelFixture &wheel)
{
    return wheel.emulator().wheel(0)->clientCount();
}

// The reader thread, stopped when the test leaves, also after a failed check.
class StoppingReader : public QuorEvent
{
public:
    ~StoppingReader() override
    {
        requestInterruption();
        wait();
    }
};

} // namespace

// Receives the reader's signals on this thread, queued, as the window does.
class Receiver : public QObject
{
    Q_OBJECT

public:
    QList<QByteArray> payloads;
    int disconnects = 0;

public slots:
    void onEvent(QByteArray payload) { payloads << payload; }
    void onDisconnect() { ++disconnects; }
};

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

private:
    void connectReceiver(QuorEvent &reader, Receiver &receiver)
    {
        connect(&reader, &QuorEvent::eventTrigger, &receiver, &Receiver::onEvent);
        connect(&reader, &QuorEvent::deviceDisconnect, &receiver, &Receiver::onDisconnect);
    }
};

void TestQuorEvent::lossOfTheWheel_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("doneLines");
    QTest::newRow("unplugged") << "unplug" << 1;
    QTest::newRow("read error") << "read error" << 1;
    // That way out neither closes anything nor writes the closing line.
    QTest::newRow("started without a wheel") << "never opened" << 0;
}

void TestQuorEvent::lossOfTheWheel()
{
    QFETCH(QString, how);
    QFETCH(int, doneLines);
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    if (how != QLatin1String("never opened"))
        QVERIFY(openFirstWheel(deviceHandle()) != 0);
    StoppingReader reader;
    Receiver receiver;
    connectReceiver(reader, receiver);
    reader.start();

    if (how == QLatin1String("unplug"))
        QVERIFY(wheel.unplug());
    else if (how == QLatin1String("read error"))
        wheel.failReads(1);
    QVERIFY(reader.wait(10000));
    QVERIFY(!deviceHandle().isOpen());
    QTRY_COMPARE(receiver.disconnects, 1);
    QCOMPARE(logCount(kDoneLine), doneLines);
    // Both handles were let go.
    if (how != QLatin1String("unplug"))
        QTRY_COMPARE(clients(wheel), 0);
    // Nothing more comes after the end.
    QTest::qWait(50);
    QCOMPARE(receiver.disconnects, 1);
    QCOMPARE(receiver.payloads.size(), 0);
}

void TestQuorEvent::identicalReportsAreAllForwarded()
{
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    QVERIFY(openFirstWheel(deviceHandle()) != 0);
    StoppingReader reader;
    Receiver receiver;
    connectReceiver(reader, receiver);
    reader.start();
    wheel.setPaddles(0x0123, 0x0456);
    wheel.sendReports(2); // the same state twice more
    QTRY_COMPARE(receiver.payloads.size(), 3);
    const QByteArray expected = payloadOf(currentReport(wheel));
    QCOMPARE(expected.size(), 16);
    for (const QByteArray &p : receiver.payloads)
        QCOMPARE(p.toHex(' '), expected.toHex(' '));
    reader.requestInterruption();
    QVERIFY(reader.wait(10000));
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
    StoppingReader reader;
    Receiver receiver;
    connectReceiver(reader, receiver);
    reader.start();

    Report before{}; // the reader's buffer starts zeroed
    if (fullReportFirst) {
        wheel.setPaddles(0x0A0B, 0x0C0D);
        wheel.press(64);
        wheel.press(9);
        wheel.sendReports(1);
        QTRY_COMPARE(receiver.payloads.size(), 1);
        before = currentReport(wheel);
    }
    wheel.release(64);
    wheel.release(9);
    wheel.press(2);
    wheel.press(63);
    wheel.setPaddles(0x1112, 0x1314);
    const Report now = currentReport(wheel);
    wheel.sendShortReport(length);
    QTRY_COMPARE(receiver.payloads.size(), fullReportFirst ? 2 : 1);

    Report expected = before;
    std::copy(now.begin(), now.begin() + length, expected.begin());
    // The case must tell a cleared or refilled buffer from a kept one.
    QVERIFY(expected != now);
    QCOMPARE(receiver.payloads.last().toHex(' '), payloadOf(expected).toHex(' '));
    reader.requestInterruption();
    QVERIFY(reader.wait(10000));
}

// Stopping while connected closes the wheel without a disconnect signal;
// the window then reuses the one thread object for the next connection.
void TestQuorEvent::restartAfterStop()
{
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    StoppingReader reader;
    Receiver receiver;
    connectReceiver(reader, receiver);
    for (int round = 0; round < 2; ++round) {
        QVERIFY(openFirstWheel(deviceHandle()) != 0);
        reader.start();
        wheel.press(10 + round);
        QTRY_COMPARE(receiver.payloads.size(), round + 1); // the reader is in its loop
        reader.requestInterruption();
        QVERIFY(reader.wait(10000));
        QVERIFY(!deviceHandle().isOpen());
        QTRY_COMPARE(clients(wheel), 0);
    }
    QCoreApplication::processEvents();
    QCOMPARE(logCount(kDoneLine), 2);
    QCOMPARE(receiver.disconnects, 0);
}

WHEEL_TEST_GUILESS_MAIN(TestQuorEvent)
#include "tst_quor_event.moc"
