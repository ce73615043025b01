// The emulated bus as the real hidapi (hidraw backend) sees it, driven
// through the in-process fixture: faults, bus changes, input delivery and the
// transcript. The wheel's own behaviour is tst_wheel's business; here it is
// only the thing at the other end of the wire.
#include "wheel_fixture.h"
#include "wheel_test_main.h"

#include <hidapi.h>

#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QThread>

#include <array>
#include <cstring>
#include <memory>

namespace {

constexpr unsigned short kVendor = 0xC872;
constexpr int kSent = 20;
constexpr int kRead = 21;
constexpr int kInput = 17;

using Buffer = std::array<unsigned char, kRead>;

struct HidCloser
{
    void operator()(hid_device *d) const { hid_close(d); }
};
using Handle = std::unique_ptr<hid_device, HidCloser>;

Handle openWheel(unsigned short pid)
{
    return Handle(hid_open(kVendor, pid, nullptr));
}

Buffer request(unsigned char record, unsigned char item = 0)
{
    Buffer b{};
    b[0] = 0x02;
    b[1] = 0x0B;
    b[2] = record;
    b[3] = item;
    return b;
}

// One Query as the program makes it: 20 bytes out, 21 read into the same
// buffer. Returns the GET result.
int query(hid_device *dev, Buffer &b)
{
    if (hid_send_feature_report(dev, b.data(), kSent) != kSent)
        return -2;
    return hid_get_feature_report(dev, b.data(), kRead);
}

QList<unsigned short> enumerated(unsigned short pid = 0)
{
    QList<unsigned short> pids;
    hid_device_info *devs = hid_enumerate(kVendor, pid);
    for (hid_device_info *d = devs; d; d = d->next)
        pids << d->product_id;
    hid_free_enumeration(devs);
    std::sort(pids.begin(), pids.end());
    return pids;
}

QString hexLine(const char *kind, const unsigned char *bytes, size_t n)
{
    QString line = QString::fromLatin1(kind);
    for (size_t i = 0; i < n; ++i)
        line += QStringLiteral(" %1").arg(bytes[i], 2, 16, QLatin1Char('0'));
    return line;
}

QStringList toQt(const std::vector<std::string> &lines)
{
    QStringList out;
    for (const std::string &l : lines)
        out << QString::fromStdString(l);
    return out;
}

// Reads until a time-out; returns how many input reports came.
int drain(hid_device *dev, int timeoutMs = 100)
{
    unsigned char in[kInput];
    int n = 0;
    while (hid_read_timeout(dev, in, sizeof in, timeoutMs) == kInput)
        ++n;
    return n;
}

bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QThread::msleep(5);
    }
    return true;
}

} // namespace

class TestEmulatorBus : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QCOMPARE(hid_init(), 0); }
    void cleanupTestCase() { hid_exit(); }

    void failedGetReportLeavesRequest_data();
    void failedGetReportLeavesRequest();
    void unknownReportIdsAreRefused_data();
    void unknownReportIdsAreRefused();
    void failedSetReportIsNotApplied();
    void failedOutputWrite();
    void productIdChange();
    void secondWheel();
    void inputReadError();
    void unplugAndReplug();
    void rebootRestartsTheWheel();
    void everyOpenerGetsEveryReport();
    void idleReadWaitsForTheTimeout_data();
    void idleReadWaitsForTheTimeout();
    void streamingRate();
    void transcriptFormat();
    void transcriptOfAQuery();
    void testbedRemovedWithTheFixture();
};

void TestEmulatorBus::failedGetReportLeavesRequest_data()
{
    QTest::addColumn<int>("record");
    QTest::addColumn<int>("item");
    QTest::newRow("model name") << 0x0D << 0;
    QTest::newRow("version") << 0x09 << 0;
    QTest::newRow("paddle config") << 0x0A << 0;
    QTest::newRow("clutch enable item") << 0x0C << 0x08;
    QTest::newRow("power status") << 0x0F << 0;
    QTest::newRow("LED page 3") << 0x03 << 0;
}

void TestEmulatorBus::failedGetReportLeavesRequest()
{
    QFETCH(int, record);
    QFETCH(int, item);
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Handle dev = openWheel(0x200D);
    QVERIFY(dev);

    wheel.failGetFeature(1);
    wheel.clearTranscript();
    Buffer b = request(static_cast<unsigned char>(record), static_cast<unsigned char>(item));
    const Buffer sent = b;
    QCOMPARE(query(dev.get(), b), -1);
    QCOMPARE(b, sent); // the request bytes are what the host reads as the reply
    QVERIFY(QString::fromWCharArray(hid_error(dev.get())).contains(QLatin1String("Broken pipe")));
    // The failed GET_REPORT carried only its report id over the wire.
    QCOMPARE(toQt(wheel.exchanges({"get-feature"})), QStringList{QStringLiteral("get-feature 02")});

    // One fault, one failure: the next query is answered.
    Buffer again = request(static_cast<unsigned char>(record), static_cast<unsigned char>(item));
    QCOMPARE(query(dev.get(), again), kRead);
    QCOMPARE(again[0], 0x02);
}

void TestEmulatorBus::unknownReportIdsAreRefused_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<int>("reportId");
    QTest::addColumn<QString>("kind");
    QTest::newRow("SET_REPORT feature 5") << "set-feature" << 0x05 << "set-feature";
    QTest::newRow("GET_REPORT feature 4") << "get-feature" << 0x04 << "get-feature";
    QTest::newRow("output report 7") << "write" << 0x07 << "output";
    QTest::newRow("output report 2") << "write" << 0x02 << "output";
}

void TestEmulatorBus::unknownReportIdsAreRefused()
{
    QFETCH(QString, call);
    QFETCH(int, reportId);
    QFETCH(QString, kind);
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Handle dev = openWheel(0x200D);
    QVERIFY(dev);
    wheel.clearTranscript();

    Buffer b{};
    b[0] = static_cast<unsigned char>(reportId);
    b[1] = 0x0B;
    b[2] = 0x0D;
    const Buffer sent = b;
    int result = 0;
    if (call == QLatin1String("set-feature"))
        result = hid_send_feature_report(dev.get(), b.data(), kSent);
    else if (call == QLatin1String("get-feature"))
        result = hid_get_feature_report(dev.get(), b.data(), kRead);
    else
        result = hid_write(dev.get(), b.data(), kSent);
    QCOMPARE(result, -1);
    QCOMPARE(b, sent);
    QVERIFY(QString::fromWCharArray(hid_error(dev.get())).contains(QLatin1String("Broken pipe")));
    const QStringList lines = toQt(wheel.exchanges());
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines[0].startsWith(kind + QStringLiteral(" %1").arg(reportId, 2, 16, QLatin1Char('0'))),
             qPrintable(lines[0]));

    // The wheel is still fine afterwards.
    Buffer name = request(0x0D);
    QCOMPARE(query(dev.get(), name), kRead);
    QCOMPARE(name[1], 0x0D);
}

void TestEmulatorBus::failedSetReportIsNotApplied()
{
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Handle dev = openWheel(0x200D);
    QVERIFY(dev);
    // SetItem EncoderPulseWidth = 77, live.
    Buffer set{};
    set[0] = 0x02;
    set[1] = 0x0C;
    set[2] = 0x04;
    set[3] = 77;
    wheel.failSetFeature(1);
    QCOMPARE(hid_send_feature_report(dev.get(), set.data(), kSent), -1);
    Buffer item = request(0x0C, 0x04);
    QCOMPARE(query(dev.get(), item), kRead);
    QVERIFY(item[3] != 77);
    // Without the fault the same write arrives.
    QCOMPARE(hid_send_feature_report(dev.get(), set.data(), kSent), kSent);
    item = request(0x0C, 0x04);
    QCOMPARE(query(dev.get(), item), kRead);
    QCOMPARE(item[3], 77);
}

void TestEmulatorBus::failedOutputWrite()
{
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Handle dev = openWheel(0x200D);
    QVERIFY(dev);
    std::array<unsigned char, kSent> page{};
    page[0] = 0x03;
    page[1] = 0x02;
    page[2] = 0xAB;
    wheel.failWrites(1);
    QCOMPARE(hid_write(dev.get(), page.data(), page.size()), -1);
    Buffer b = request(0x02);
    QCOMPARE(query(dev.get(), b), kRead);
    QVERIFY(b[2] != 0xAB);
    QCOMPARE(hid_write(dev.get(), page.data(), page.size()), kSent);
    b = request(0x02);
    QCOMPARE(query(dev.get(), b), kRead);
    QCOMPARE(b[2], 0xAB);
}

void TestEmulatorBus::productIdChange()
{
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Handle old = openWheel(0x200D);
    QVERIFY(old);
    wheel.clearTranscript();

    QVERIFY(wheel.changeProductId(0x2008));
    QCOMPARE(enumerated(), QList<unsigned short>{0x2008});
    QCOMPARE(enumerated(0x200D), QList<unsigned short>{});
    unsigned char in[kInput];
    QCOMPARE(hid_read_timeout(old.get(), in, sizeof in, 100), -1);

    Handle now = openWheel(0x2008);
    QVERIFY(now);
    Buffer name = request(0x0D);
    QCOMPARE(query(now.get(), name), kRead);
    QCOMPARE(name[1], 0x0D);
    QCOMPARE(toQt(wheel.exchanges({"plug", "unplug"})),
             (QStringList{QStringLiteral("unplug c8 72 20 0d"), QStringLiteral("plug c8 72 20 08")}));
}

void TestEmulatorBus::secondWheel()
{
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    const int second = wheel.addWheel("ULMAR");
    QCOMPARE(second, 1);
    QCOMPARE(enumerated(), (QList<unsigned short>{0x200C, 0x200D}));
    QVERIFY(wheel.devnode(0) != wheel.devnode(1));

    Handle srd7 = openWheel(0x200D);
    Handle ulmar = openWheel(0x200C);
    QVERIFY(srd7 && ulmar);
    Buffer a = request(0x0D), b = request(0x0D);
    QCOMPARE(query(srd7.get(), a), kRead);
    QCOMPARE(query(ulmar.get(), b), kRead);
    QVERIFY(QByteArray(reinterpret_cast<const char *>(a.data()) + 2).contains("SRD7"));
    QVERIFY(QByteArray(reinterpret_cast<const char *>(b.data()) + 2).contains("ULMAR"));

    // Input goes to the wheel that was touched, only.
    QVERIFY(hid_set_nonblocking(srd7.get(), 1) == 0 && hid_set_nonblocking(ulmar.get(), 1) == 0);
    unsigned char in[kInput];
    wheel.press(9, second);
    QCOMPARE(hid_read_timeout(ulmar.get(), in, sizeof in, 1000), kInput);
    QCOMPARE(in[6], 0x01); // button 9: payload byte 5, bit 0
    QCOMPARE(hid_read_timeout(srd7.get(), in, sizeof in, 100), 0);

    QVERIFY(wheel.removeWheel(second));
    QCOMPARE(enumerated(), QList<unsigned short>{0x200D});
    QCOMPARE(hid_read_timeout(ulmar.get(), in, sizeof in, 100), -1);
}

void TestEmulatorBus::inputReadError()
{
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Handle dev = openWheel(0x200D);
    QVERIFY(dev);
    unsigned char in[kInput];
    wheel.failReads(1);
    // The pending error must wake the waiting reader: without a doorbell
    // for it, poll() would time out and the read return 0.
    QCOMPARE(hid_read_timeout(dev.get(), in, sizeof in, 5000), -1);
    // The wheel is still there: the next read times out normally, and a
    // report gets through.
    QCOMPARE(hid_read_timeout(dev.get(), in, sizeof in, 100), 0);
    wheel.press(1);
    QCOMPARE(hid_read_timeout(dev.get(), in, sizeof in, 1000), kInput);
    QCOMPARE(in[5], 0x01);
    QCOMPARE(enumerated(), QList<unsigned short>{0x200D});
}

void TestEmulatorBus::unplugAndReplug()
{
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Handle dev = openWheel(0x200D);
    QVERIFY(dev);
    QVERIFY(wheel.unplug());
    unsigned char in[kInput];
    QCOMPARE(hid_read_timeout(dev.get(), in, sizeof in, 1000), -1);
    Buffer b = request(0x0D);
    QVERIFY(query(dev.get(), b) < 0);
    QCOMPARE(enumerated(), QList<unsigned short>{});
    QVERIFY(!openWheel(0x200D));

    QVERIFY(wheel.plug());
    QCOMPARE(enumerated(), QList<unsigned short>{0x200D});
    // A descriptor of the unplugged device stays dead after the re-plug.
    QCOMPARE(hid_read_timeout(dev.get(), in, sizeof in, 100), -1);
    Handle again = openWheel(0x200D);
    QVERIFY(again);
    b = request(0x0D);
    QCOMPARE(query(again.get(), b), kRead);
    QCOMPARE(hid_read_timeout(again.get(), in, sizeof in, 100), 0);
}

void TestEmulatorBus::rebootRestartsTheWheel()
{
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Handle dev = openWheel(0x200D);
    QVERIFY(dev);
    wheel.clearTranscript();
    Buffer reboot{};
    reboot[0] = 0x02;
    reboot[1] = 0x10;
    QCOMPARE(hid_send_feature_report(dev.get(), reboot.data(), kSent), kSent);
    // The wheel leaves after the write completed, then comes back.
    const QStringList expected{QStringLiteral("unplug c8 72 20 0d"), QStringLiteral("plug c8 72 20 0d")};
    QVERIFY(waitFor([&] { return toQt(wheel.exchanges({"plug", "unplug"})) == expected; }, 5000));
    unsigned char in[kInput];
    QCOMPARE(hid_read_timeout(dev.get(), in, sizeof in, 100), -1);
    QCOMPARE(enumerated(), QList<unsigned short>{0x200D});
}

void TestEmulatorBus::everyOpenerGetsEveryReport()
{
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Handle first = openWheel(0x200D);
    Handle second = openWheel(0x200D);
    QVERIFY(first && second);
    wheel.sendReports(3);
    QCOMPARE(drain(first.get()), 3);
    QCOMPARE(drain(second.get()), 3);
    // Like hidraw, an opener's queue holds 64 reports; later ones are dropped.
    wheel.sendReports(64);
    wheel.sendReports(10);
    QCOMPARE(drain(first.get()), 64);
}

void TestEmulatorBus::idleReadWaitsForTheTimeout_data()
{
    // What came before the idle read; each must leave no stale wake-up behind.
    QTest::addColumn<int>("reportsBefore");
    QTest::addColumn<bool>("secondOpener");
    QTest::newRow("fresh") << 0 << false;
    QTest::newRow("after one report") << 1 << false;
    QTest::newRow("after a full queue") << 64 << false;
    QTest::newRow("after a second opener read its copies") << 5 << true;
}

void TestEmulatorBus::idleReadWaitsForTheTimeout()
{
    QFETCH(int, reportsBefore);
    QFETCH(bool, secondOpener);
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Handle dev = openWheel(0x200D);
    QVERIFY(dev);
    Handle second = secondOpener ? openWheel(0x200D) : Handle();
    unsigned char in[kInput];
    if (reportsBefore > 0) {
        wheel.sendReports(reportsBefore);
        QCOMPARE(drain(dev.get(), 200), reportsBefore);
        if (second)
            QCOMPARE(drain(second.get(), 200), reportsBefore);
    }
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(hid_read_timeout(dev.get(), in, sizeof in, 100), 0);
    // poll() really waited: no doorbell byte was left over.
    QVERIFY2(timer.elapsed() >= 90, qPrintable(QString::number(timer.elapsed())));
}

void TestEmulatorBus::streamingRate()
{
    wheeltest::WheelFixture::Options options;
    options.inputRate = 200;
    wheeltest::WheelFixture wheel(options);
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Handle dev = openWheel(0x200D);
    QVERIFY(dev);
    unsigned char in[kInput];
    // A streaming wheel keeps sending without any change.
    int got = 0;
    for (int i = 0; i < 50 && got < 5; ++i)
        if (hid_read_timeout(dev.get(), in, sizeof in, 100) == kInput)
            ++got;
    QCOMPARE(got, 5);
    // Rate 0: silence until something changes.
    wheel.setRate(0);
    drain(dev.get(), 50);
    QCOMPARE(hid_read_timeout(dev.get(), in, sizeof in, 100), 0);
    wheel.setPaddles(10, 20);
    QCOMPARE(hid_read_timeout(dev.get(), in, sizeof in, 1000), kInput);
    QCOMPARE(in[1] | in[2] << 8, 20); // right paddle first
    QCOMPARE(in[3] | in[4] << 8, 10);
}

void TestEmulatorBus::transcriptFormat()
{
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Handle dev = openWheel(0x200D);
    QVERIFY(dev);
    Buffer b = request(0x09);
    QCOMPARE(query(dev.get(), b), kRead);
    std::array<unsigned char, kSent> page{0x03, 0x00, 0xFF};
    QCOMPARE(hid_write(dev.get(), page.data(), page.size()), kSent);
    wheel.press(2);
    unsigned char in[kInput];
    QCOMPARE(hid_read_timeout(dev.get(), in, sizeof in, 1000), kInput);
    wheel.unplug();

    const QRegularExpression format(QStringLiteral(
        "^(\\d+)\\.(\\d{6}) (set-feature|get-feature|output|input|plug|unplug)( [0-9a-f]{2})+$"));
    const QStringList lines = toQt(wheel.transcript());
    double previous = 0;
    QStringList kinds;
    for (const QString &line : lines) {
        const QRegularExpressionMatch m = format.match(line);
        QVERIFY2(m.hasMatch(), qPrintable(line));
        const double t = line.section(QLatin1Char(' '), 0, 0).toDouble();
        QVERIFY2(t >= previous, qPrintable(line));
        previous = t;
        kinds << m.captured(3);
    }
    QCOMPARE(kinds, (QStringList{"plug", "set-feature", "get-feature", "output", "input", "unplug"}));
}

void TestEmulatorBus::transcriptOfAQuery()
{
    wheeltest::WheelFixture::Options options;
    options.name = "Test SRD7 Rim";
    wheeltest::WheelFixture wheel(options);
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Handle dev = openWheel(0x200D);
    QVERIFY(dev);
    wheel.clearTranscript();
    Buffer b = request(0x0D);
    QCOMPARE(query(dev.get(), b), kRead);

    // Both directions byte for byte: 20 bytes out, 21 back with the name.
    const Buffer sent = request(0x0D);
    Buffer reply{};
    reply[0] = 0x02;
    reply[1] = 0x0D;
    memcpy(reply.data() + 2, "Test SRD7 Rim", 13);
    QCOMPARE(toQt(wheel.exchanges()), (QStringList{hexLine("set-feature", sent.data(), kSent),
                                                   hexLine("get-feature", reply.data(), kRead)}));
    QCOMPARE(b, reply);
}

void TestEmulatorBus::testbedRemovedWithTheFixture()
{
    QString root;
    {
        wheeltest::WheelFixture wheel;
        QVERIFY2(wheel.ok(), wheel.error().c_str());
        root = QString::fromStdString(wheel.root());
        QVERIFY(QDir(root).exists());
        Handle dev = openWheel(0x200D); // closed before the fixture goes
        QVERIFY(dev);
    }
    QVERIFY(!QDir(root).exists());
    QCOMPARE(enumerated(), QList<unsigned short>{});
}

WHEEL_TEST_GUILESS_MAIN(TestEmulatorBus)
#include "tst_emulator_bus.moc"
