// The device handle, discovery and the input reader thread against the
// emulated wheel, through the real hidapi: what reaches the wire, what a
// failed exchange leaves behind, that exchanges from several threads never
// interleave, and what the reader emits, how it stops and what it does when
// the wheel goes.
#include "message_log.h"
#include "table_rows.h"
#include "wheel_fixture.h"
#include "wheel_test_main.h"

#include "device/command_report.h"
#include "device/device_handle.h"
#include "device/discovery.h"
#include "input/quor_event.h"

#include <hidapi/hidapi.h>

#include <QRegularExpression>
#include <QThread>

#include <array>
#include <atomic>
#include <thread>
#include <vector>

namespace {

QStringList wire(const wheeltest::WheelFixture &wheel, const std::vector<std::string> &kinds)
{
    QStringList out;
    for (const std::string &l : wheel.exchanges(kinds))
        out << QString::fromStdString(l);
    return out;
}

// umockdev reports clients coming and going on its own thread, a moment
// after the open or close: compare with QTRY_COMPARE.
int clients(wheeltest::WheelFixture &wheel, int index = 0)
{
    return wheel.emulator().wheel(static_cast<size_t>(index))->clientCount();
}

int doneLines()
{
    return int(wheeltest::messageLog::taken().count(QStringLiteral("joystick event thread done.")));
}

using Report = std::array<uint8_t, 17>;

Report currentReport(wheeltest::WheelFixture &wheel)
{
    Report r{};
    wheel.withWheel([&](wheelemu::Wheel &w) { r = w.inputReport(); });
    return r;
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

#define OPEN_WHEEL(wheel)                                                                                    \
    QVERIFY2((wheel).ok(), (wheel).error().c_str());                                                         \
    QVERIFY(openFirstWheel(deviceHandle()) != 0)

// The product ids attached, in bus order, and the one opened (0: none).
const std::tuple<const char *, QList<int>, int> kDiscoveries[] = {
    {"nothing", {}, 0},
    {"first of the list wins", {0x2010, 0x2007}, 0x2007},
    {"PELIX id last", {0x2010, 0x200C}, 0x200C},
    {"0x200E and 0x200F are passed over", {0x200E, 0x200F, 0x2010}, 0x2010},
    {"only 0x200E and 0x200F", {0x200E, 0x200F}, 0}};

constexpr std::tuple<const char *, Record, int, bool> kFailedExchanges[] = {
    {"clutches enabled, read fails", Record::ItemRecord, 0x08, false},
    {"version, send fails", Record::FirmwareVersionRecord, 0, true}};

// How the reader loses the wheel and the closing lines written: started
// without a wheel, it neither closes anything nor writes one.
const std::tuple<const char *, QString, int> kLosses[] = {{"unplugged", "unplug", 1},
                                                          {"read error", "read error", 1},
                                                          {"started without a wheel", "never opened", 0}};

constexpr std::tuple<const char *, bool, int> kShortReports[] = {
    {"short first report: zeros behind", false, 5},
    {"report id only", true, 1},
    {"last button byte missing", true, 12}};

} // namespace

class TestDeviceLink : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QCOMPARE(hid_init(), 0);
        wheeltest::messageLog::install();
    }
    void init() { wheeltest::messageLog::clear(); }
    void cleanup() { deviceHandle().close(); }

    void discoveryOrder_data() { wheeltest::addRows(kDiscoveries); }
    void discoveryOrder()
    {
        const auto &[tag, attached, opened] = wheeltest::rowOf(kDiscoveries);
        wheeltest::WheelFixture wheel;
        QVERIFY2(wheel.ok(), wheel.error().c_str());
        QVERIFY(attached.isEmpty() ? wheel.unplug(0) : wheel.changeProductId(uint16_t(attached[0]), 0));
        for (int i = 1; i < attached.size(); ++i)
            QCOMPARE(wheel.addWheel("SRD7", attached[i]), i);

        // Opening twice replaces the wheel rather than adding handles.
        for (int round = 0; round < 2; ++round) {
            QCOMPARE(int(openFirstWheel(deviceHandle())), opened);
            QCOMPARE(deviceHandle().isOpen(), opened != 0);
            // Exactly the chosen wheel holds the two handles; no other was left open.
            for (int i = 0; i < attached.size(); ++i)
                QTRY_COMPARE(clients(wheel, i), attached[i] == opened ? 2 : 0);
        }
        if (opened) {
            CommandReport name = makeQuery(Record::ModelNameRecord);
            QCOMPARE(deviceHandle().query(name.data()), 21);
            QVERIFY(parseModelName(name).has_value());
            deviceHandle().close();
            QTRY_COMPARE(clients(wheel, int(attached.indexOf(opened))), 0);
        }
    }

    void failedExchange_data() { wheeltest::addRows(kFailedExchanges); }
    void failedExchange()
    {
        const auto &[tag, record, item, sendFails] = wheeltest::rowOf(kFailedExchanges);
        wheeltest::WheelFixture wheel;
        OPEN_WHEEL(wheel);

        // The wheel's real answer, to be sure the failure changes something.
        const CommandReport request = makeQuery(record, static_cast<uint8_t>(item));
        CommandReport buffer = request;
        QCOMPARE(deviceHandle().query(buffer.data()), 21);
        QVERIFY(buffer != request);

        sendFails ? wheel.failSetFeature(1) : wheel.failGetFeature(1);
        wheel.clearTranscript();
        buffer = request;
        const int got = deviceHandle().query(buffer.data());
        if (!sendFails)
            QVERIFY(got < 0 && buffer == request);
        // A query is a send of 20 bytes followed at once by a read, whatever the
        // send did.
        const QStringList lines = wire(wheel, {"set-feature", "get-feature", "output", "input"});
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines[0].startsWith(QStringLiteral("set-feature 02 0b %1 %2")
                                         .arg(static_cast<int>(record), 2, 16, QLatin1Char('0'))
                                         .arg(item, 2, 16, QLatin1Char('0'))),
                 qPrintable(lines[0]));
        QCOMPARE(lines[0].count(QLatin1Char(' ')), 20);
        QCOMPARE(sendFails ? lines[1].left(14) : lines[1], QStringLiteral("get-feature 02"));
    }

    void queriesStayWholeBesideReaderAndStream()
    {
        wheeltest::WheelFixture::Options options;
        options.inputRate = 1000;
        wheeltest::WheelFixture wheel(options);
        OPEN_WHEEL(wheel);
        wheel.emulator().transcript().recordInputs(false);

        const Record records[] = {Record::ModelNameRecord, Record::FirmwareVersionRecord,
                                  Record::PaddleConfig, Record::ExtraLedRecord};
        // The answers given while nothing else is going on.
        std::vector<CommandReport> expected;
        for (Record r : records) {
            expected.push_back(makeQuery(r));
            QCOMPARE(deviceHandle().query(expected.back().data()), 21);
        }
        wheel.clearTranscript();

        Reader reader;
        reader.thread.start();
        constexpr int kChunks = 600, kQueries = 400;
        std::vector<uint8_t> image(kChunks * kFirmwareChunkSize);
        for (size_t i = 0; i < image.size(); ++i)
            image[i] = static_cast<uint8_t>(i * 7);
        std::atomic<int> streamFailures{0};
        std::thread upgrade([&] {
            CommandReport report{};
            for (size_t offset = 0; offset < image.size(); offset += kFirmwareChunkSize) {
                writeFirmwareDataReport(report, image.data(), image.size(), offset);
                if (deviceHandle().sendFeatureReport(report.data(), kCommandSendLength) < 0)
                    ++streamFailures;
            }
        });
        int wrong = 0;
        for (int i = 0; i < kQueries; ++i) {
            CommandReport b = makeQuery(records[i % 4]);
            wrong += deviceHandle().query(b.data()) != 21 || b != expected[size_t(i % 4)];
        }
        upgrade.join();
        QVERIFY(reader.stop());
        QCOMPARE(streamFailures.load(), 0);
        QCOMPARE(wrong, 0);

        // On the wire: every read directly follows its own query.
        const QStringList lines = wire(wheel, {"set-feature", "get-feature"});
        QCOMPARE(lines.filter(QRegularExpression("^set-feature 02 [89]")).size(), kChunks);
        QCOMPARE(lines.filter(QRegularExpression("^get-feature")).size(), kQueries);
        for (int i = 0; i < lines.size(); ++i) {
            if (lines[i].startsWith(QLatin1String("get-feature")))
                QVERIFY2(i > 0 && lines[i - 1].startsWith(QLatin1String("set-feature 02 0b")),
                         qPrintable(QStringLiteral("line %1: %2").arg(i).arg(lines[i])));
        }
    }

    void closeDuringExchangesIsSafe()
    {
        wheeltest::WheelFixture wheel;
        OPEN_WHEEL(wheel);
        std::atomic<bool> closed{false};
        std::atomic<int> afterClose{0};
        std::thread gui([&] {
            for (int i = 0; i < 2000; ++i) {
                const bool wasClosed = closed.load();
                CommandReport b = makeQuery(Record::ModelNameRecord);
                if (deviceHandle().query(b.data()) != -1 && wasClosed)
                    ++afterClose;
            }
        });
        QThread::msleep(20);
        deviceHandle().close();
        closed = true;
        gui.join();
        // Once closed, nothing more reaches hidapi; the exchange says so.
        QCOMPARE(afterClose.load(), 0);
        QTRY_COMPARE(clients(wheel), 0);
    }

    void readerLosesTheWheel_data() { wheeltest::addRows(kLosses); }
    void readerLosesTheWheel()
    {
        const auto &[tag, how, done] = wheeltest::rowOf(kLosses);
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

    void shortReportKeepsThePreviousTail_data() { wheeltest::addRows(kShortReports); }
    void shortReportKeepsThePreviousTail()
    {
        const auto &[tag, fullReportFirst, length] = wheeltest::rowOf(kShortReports);
        wheeltest::WheelFixture wheel;
        OPEN_WHEEL(wheel);
        wheel.emulator().wheel(0)->setReportOnChange(false);
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
        QVERIFY(wheel.command("release 64 9") && wheel.command("press 2 63"));
        wheel.setPaddles(0x1112, 0x1314);
        const Report now = currentReport(wheel);
        wheel.sendShortReport(length);
        QTRY_COMPARE(reader.payloads.size(), fullReportFirst ? 2 : 1);

        Report expected = before;
        std::copy(now.begin(), now.begin() + length, expected.begin());
        // The case must tell a cleared or refilled buffer from a kept one.
        QVERIFY(expected != now);
        QCOMPARE(reader.payloads.last(),
                 QByteArray(reinterpret_cast<const char *>(expected.data()) + 1, 16).toHex(' '));
    }

    // Stopping while connected closes the wheel without a disconnect signal;
    // the window then reuses the one thread object for the next connection.
    void readerRestartsAfterStop()
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
};

WHEEL_TEST_GUILESS_MAIN(TestDeviceLink)
#include "tst_device_link.moc"
