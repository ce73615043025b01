// The upgrade worker against the emulated wheel (hidapi) and its emulated
// boot loader (libusb): the reports on the wire, the progress values the
// window sees, what the wheel runs afterwards, and which image files survive.
#include "dfu_emulator.h"
#include "test_image.h"
#include "wheel_fixture.h"
#include "wheel_test_main.h"

#include "device/device_handle.h"
#include "upgrade/quor_upgrade.h"

#include <hidapi/hidapi.h>

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <memory>

using namespace wheelemu;

Q_DECLARE_METATYPE(QList<QByteArray>)

namespace {

constexpr uint16_t kWheelVendor = 0xC872;
constexpr uint16_t kSrd7 = 0x200D;
constexpr uint16_t kPelix = 0x2010;
constexpr int kRunTimeoutMs = 60000;
constexpr int kLibusbNoDevice = -102;
constexpr int kVectorTableRefused = -130;

// The worker with its pauses shortened, so that a suite of runs stays quick;
// what it sends and emits is the same.
class QuickUpgrade : public QuorUpgrade
{
public:
    using QuorUpgrade::setPauses;
    QuickUpgrade() { setPauses(0, 10); }
};

QList<int> values(const QSignalSpy &spy)
{
    QList<int> out;
    for (const QList<QVariant> &args : spy)
        out << args.at(0).toInt();
    return out;
}

// Starts the worker and waits for the run to end; false when it hangs.
bool runToEnd(QuorUpgrade &worker, const QString &path, int mode)
{
    worker.setFilePath(path);
    worker.setMode(mode);
    worker.start();
    return worker.wait(QDeadlineTimer(kRunTimeoutMs));
}

QByteArray toBytes(const std::vector<uint8_t> &v)
{
    return QByteArray(reinterpret_cast<const char *>(v.data()), qsizetype(v.size()));
}

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// The feature reports the wheel received, as bytes.
QList<QByteArray> sentReports(const wheeltest::WheelFixture &wheel)
{
    QList<QByteArray> out;
    for (const std::string &line : wheel.exchanges({"set-feature"})) {
        const QString text = QString::fromStdString(line).section(' ', 1);
        out << QByteArray::fromHex(text.toLatin1());
    }
    return out;
}

QString writeImage(const QString &path, const QByteArray &image)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// The program's own handle on the wheel, closed before the fixture goes.
struct OpenWheel
{
    bool ok;
    explicit OpenWheel(uint16_t productId) : ok(deviceHandle().open(kWheelVendor, productId)) {}
    ~OpenWheel() { deviceHandle().close(); }
};

// The version text the wheel on the bus reports (02 0B 09), through a handle
// of its own: the worker's is dead once the wheel has restarted.
QString versionOnBus()
{
    hid_device_info *all = hid_enumerate(kWheelVendor, 0);
    hid_device *dev = all ? hid_open_path(all->path) : nullptr;
    hid_free_enumeration(all);
    if (!dev)
        return QStringLiteral("(no wheel)");
    unsigned char buf[21] = {0x02, 0x0B, 0x09};
    QString text = QStringLiteral("(no reply)");
    if (hid_send_feature_report(dev, buf, 20) == 20 && hid_get_feature_report(dev, buf, 21) >= 0) {
        const char *begin = reinterpret_cast<const char *>(buf + 1);
        text = QString::fromLatin1(begin, int(strnlen(begin, 20)));
    }
    hid_close(dev);
    return text;
}

// Whether the wheel has left the bus (restart, boot loader) and is back on
// it as a wheel. A fixture must not go while the emulator still has such a
// restart pending.
bool wheelBack(const wheeltest::WheelFixture &wheel)
{
    const std::vector<std::string> bus = wheel.exchanges({"plug", "unplug"});
    const auto left = std::find_if(
        bus.begin(), bus.end(), [](const std::string &line) { return line.rfind("unplug c8 72", 0) == 0; });
    return left != bus.end() && bus.back().rfind("plug c8 72", 0) == 0;
}

bool sendHidReboot()
{
    const unsigned char reboot[20] = {0x02, 0x10};
    return deviceHandle().sendFeatureReport(reboot, sizeof reboot) == 20;
}

// A PELIX whose boot loader is on the bus from the start, ready to flash.
std::unique_ptr<wheeltest::WheelFixture> pelixInBootLoader(DfuEmulatorOptions dfu = {})
{
    wheeltest::WheelFixture::Options options;
    options.model = "PELIX";
    auto fixture = std::make_unique<wheeltest::WheelFixture>(options);
    if (!fixture->ok())
        qFatal("no emulated wheel: %s", fixture->error().c_str());
    dfu.startAsBootLoader = true;
    DfuBootLoader *loader = nullptr;
    std::string error;
    if (!setUpBootLoader(fixture->emulator(), dfu, &loader, &error))
        qFatal("no boot loader: %s", error.c_str());
    return fixture;
}

QList<int> finishing()
{
    return {97, 98, 99, 100};
}

} // namespace

class TestQuorUpgrade : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void hidStream_data();
    void hidStream();
    void hidImageLandsInWheel();
    void failedSend_data();
    void failedSend();
    void unplugDuringTransfer();
    void nothingToDo_data();
    void nothingToDo();
    void loaderNeverAppears();
    void refusedImageKept();
    void pelixRebootAndFlash();
    void imageRemoval_data();
    void imageRemoval();

private:
    QString tempImage(const QByteArray &image);

    std::unique_ptr<QTemporaryDir> outside_;
    int fileNumber_ = 0;
};

void TestQuorUpgrade::initTestCase()
{
    QCOMPARE(hid_init(), 0);
    // A folder that is not under the temp directory: the build tree the test
    // runs in.
    outside_ =
        std::make_unique<QTemporaryDir>(QDir::current().filePath(QStringLiteral("upgrade-images-XXXXXX")));
    QVERIFY(outside_->isValid());
    QVERIFY2(!outside_->path().contains(QDir::tempPath()), qPrintable(outside_->path()));
}

void TestQuorUpgrade::cleanupTestCase()
{
    outside_.reset();
    hid_exit();
}

QString TestQuorUpgrade::tempImage(const QByteArray &image)
{
    return writeImage(QDir::temp().filePath(QStringLiteral("image%1.bin").arg(++fileNumber_)), image);
}

void TestQuorUpgrade::hidStream_data()
{
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<bool>("realPauses");
    QTest::addColumn<QList<QByteArray>>("reports");
    QTest::addColumn<QList<int>>("progress");

    const std::vector<uint8_t> made = makeTestImage(40, "");
    const QByteArray forty = toBytes(made);
    // The third report carries 8 bytes; the 8 after them are still the
    // second report's, and the closing command keeps all of that.
    const QByteArray tail = forty.mid(32, 8) + forty.mid(24, 8);
    QTest::newRow("40 bytes, real pauses")
        << forty << true
        << QList<QByteArray>{hex("02800010") + forty.mid(0, 16), hex("02800110") + forty.mid(16, 16),
                             hex("02800208") + tail, hex("02100208") + tail}
        << (QList<int>{0, 38, 76} + finishing());

    QTest::newRow("empty image") << QByteArray() << false
                                 << QList<QByteArray>{hex("0210") + QByteArray(18, '\0')} << finishing();

    // Block indices 0..255 all fit byte 2; byte 1 stays 0x80. With one more
    // chunk the index reaches 0x100 and byte 1 becomes 0x81.
    for (const int size : {4096, 4112}) {
        const QByteArray image = toBytes(makeTestImage(size_t(size), "1.2.3"));
        QList<QByteArray> reports;
        QList<int> progress;
        for (int offset = 0; offset < size; offset += 16) {
            const int index = offset / 16;
            reports << hex("02") + char(0x80 | (index >> 8)) + char(index & 0xFF) + char(16) +
                           image.mid(offset, 16);
            // Emitted only when the share changes.
            if (progress.isEmpty() || progress.last() != offset * 96 / size)
                progress << offset * 96 / size;
        }
        reports << hex("0210") + reports.last().mid(2);
        QTest::addRow("%d bytes", size) << image << false << reports << (progress + finishing());
    }
}

void TestQuorUpgrade::hidStream()
{
    QFETCH(QByteArray, image);
    QFETCH(bool, realPauses);
    QFETCH(QList<QByteArray>, reports);
    QFETCH(QList<int>, progress);

    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    OpenWheel open(kSrd7);
    QVERIFY(open.ok);
    wheel.clearTranscript();

    QuickUpgrade worker;
    if (realPauses)
        worker.setPauses(1000, 500);
    QSignalSpy spy(&worker, &QuorUpgrade::progress);
    QVERIFY(runToEnd(worker, tempImage(image), QuorUpgrade::HidTransfer));

    QCOMPARE(sentReports(wheel), reports);
    QCOMPARE(values(spy), progress);
    // The closing command restarts the wheel.
    QTRY_VERIFY_WITH_TIMEOUT(wheelBack(wheel), 10000);
}

void TestQuorUpgrade::hidImageLandsInWheel()
{
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    OpenWheel open(kSrd7);
    QVERIFY(open.ok);
    const QString version = QStringLiteral("7.1.0\tJun 01 2027");
    QVERIFY(versionOnBus() != version);
    wheel.clearTranscript();

    const std::vector<uint8_t> image = makeTestImage(229376, version.toStdString());
    QuickUpgrade worker;
    QSignalSpy spy(&worker, &QuorUpgrade::progress);
    QVERIFY(runToEnd(worker, tempImage(toBytes(image)), QuorUpgrade::HidTransfer));

    // 14,336 chunks: every share from 0 to 95 once, in order.
    QList<int> expected;
    for (int p = 0; p < 96; ++p)
        expected << p;
    QCOMPARE(values(spy), expected + finishing());
    QCOMPARE(int(sentReports(wheel).size()), 229376 / 16 + 1);
    // The wheel installs the stream, restarts and reports the image's version.
    QTRY_COMPARE_WITH_TIMEOUT(versionOnBus(), version, 10000);
    QVERIFY(wheelBack(wheel));
}

void TestQuorUpgrade::failedSend_data()
{
    QTest::addColumn<int>("failingReport");
    QTest::addColumn<QList<int>>("progress");

    QTest::newRow("first report") << 1 << QList<int>{-1};
    QTest::newRow("second report") << 2 << QList<int>{0, -1};
}

void TestQuorUpgrade::failedSend()
{
    QFETCH(int, failingReport);
    QFETCH(QList<int>, progress);

    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    OpenWheel open(kSrd7);
    QVERIFY(open.ok);
    const QString before = versionOnBus();
    wheel.clearTranscript();

    QuickUpgrade worker;
    QSignalSpy spy(&worker, &QuorUpgrade::progress);
    if (failingReport == 1) {
        wheel.failSetFeature(1);
    } else {
        // Arm the fault between the first and the second send, on the
        // worker's thread.
        connect(
            &worker, &QuorUpgrade::progress, &worker,
            [&wheel](int value) {
                if (value == 0)
                    wheel.failSetFeature(1);
            },
            Qt::DirectConnection);
    }
    const QString path = tempImage(toBytes(makeTestImage(40, "9.9.9")));
    QVERIFY(runToEnd(worker, path, QuorUpgrade::HidTransfer));

    QCOMPARE(values(spy), progress);
    // The wire ends at the refused report: no closing command, so the wheel
    // was not restarted into a half-sent image.
    const QList<QByteArray> reports = sentReports(wheel);
    QCOMPARE(int(reports.size()), failingReport);
    QCOMPARE(uint8_t(reports.last().at(1)), uint8_t(0x80));
    QVERIFY(wheel.exchanges({"unplug"}).empty());
    QVERIFY(QFile::exists(path));
    QCOMPARE(versionOnBus(), before);
}

void TestQuorUpgrade::unplugDuringTransfer()
{
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    OpenWheel open(kSrd7);
    QVERIFY(open.ok);

    QuickUpgrade worker;
    QSignalSpy spy(&worker, &QuorUpgrade::progress);
    // Pull the cable half way through, from the worker's own thread so that
    // it happens between two sends whatever the machine's speed.
    connect(
        &worker, &QuorUpgrade::progress, &worker,
        [&wheel](int value) {
            if (value == 48)
                wheel.unplug();
        },
        Qt::DirectConnection);
    const QString path = tempImage(toBytes(makeTestImage(229376, "8.0.0")));
    QVERIFY2(runToEnd(worker, path, QuorUpgrade::HidTransfer), "the worker hangs after the unplug");

    // 0..48, then the failed send's value and nothing after it.
    const QList<int> seen = values(spy);
    QList<int> before;
    for (int p = 0; p <= 48; ++p)
        before << p;
    QCOMPARE(int(seen.size()), 50);
    QCOMPARE(seen.mid(0, 49), before);
    QVERIFY2(seen.last() < 0, qPrintable(QString::number(seen.last())));
    QVERIFY(QFile::exists(path));
}

void TestQuorUpgrade::nothingToDo_data()
{
    QTest::addColumn<bool>("wheelOpen");
    QTest::addColumn<bool>("fileThere");

    QTest::newRow("no wheel open") << false << true;
    QTest::newRow("image missing") << true << false;
}

void TestQuorUpgrade::nothingToDo()
{
    QFETCH(bool, wheelOpen);
    QFETCH(bool, fileThere);

    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    OpenWheel open(kSrd7);
    QVERIFY(open.ok);
    if (!wheelOpen)
        deviceHandle().close();
    wheel.clearTranscript();
    QString path = tempImage(toBytes(makeTestImage(64, "")));
    if (!fileThere)
        QVERIFY(QFile::remove(path));

    QuickUpgrade worker;
    QSignalSpy spy(&worker, &QuorUpgrade::progress);
    QVERIFY(runToEnd(worker, path, QuorUpgrade::HidTransfer));

    QCOMPARE(values(spy), QList<int>());
    QVERIFY(wheel.exchanges({"set-feature"}).empty());
    QCOMPARE(QFile::exists(path), fileThere);
}

void TestQuorUpgrade::loaderNeverAppears()
{
    wheeltest::WheelFixture::Options options;
    options.model = "PELIX";
    wheeltest::WheelFixture wheel(options);
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    DfuEmulatorOptions dfu;
    std::string error;
    QVERIFY(applyDfuFault("never-appears", &dfu, &error));
    DfuBootLoader *loader = nullptr;
    QVERIFY2(setUpBootLoader(wheel.emulator(), dfu, &loader, &error), error.c_str());

    QuickUpgrade worker;
    QSignalSpy spy(&worker, &QuorUpgrade::progress);
    const QString path = tempImage(toBytes(makeTestImage(16384, "3.0.0")));
    QVERIFY(runToEnd(worker, path, QuorUpgrade::Dfu));

    QList<int> expected;
    for (int step = 1; step <= 5; ++step)
        for (int i = 0; i < 6; ++i)
            expected << step;
    expected << kLibusbNoDevice;
    QCOMPARE(values(spy), expected);
    QVERIFY(QFile::exists(path));
}

void TestQuorUpgrade::refusedImageKept()
{
    const auto wheel = pelixInBootLoader();
    // A stack pointer of 0 is outside the SRAM window.
    const QString path = tempImage(QByteArray(64, '\0'));

    QuickUpgrade worker;
    QSignalSpy spy(&worker, &QuorUpgrade::progress);
    QVERIFY(runToEnd(worker, path, QuorUpgrade::Dfu));

    QCOMPARE(values(spy), QList<int>{kVectorTableRefused});
    QVERIFY(QFile::exists(path));
}

// The PELIX way as the window drives it: Reboot over HID, then the worker
// in Dfu mode at once, with the real pause between attempts, while the boot
// loader takes its time to appear.
void TestQuorUpgrade::pelixRebootAndFlash()
{
    wheeltest::WheelFixture::Options options;
    options.model = "PELIX";
    options.bootLoaderDelayMs = 1200;
    wheeltest::WheelFixture wheel(options);
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    DfuBootLoader *loader = nullptr;
    std::string error;
    QVERIFY2(setUpBootLoader(wheel.emulator(), {}, &loader, &error), error.c_str());
    const QString version = QStringLiteral("6.0.1\tFeb 02 2027");
    {
        OpenWheel open(kPelix);
        QVERIFY(open.ok);
        QVERIFY(versionOnBus() != version);
        QVERIFY(sendHidReboot());
    }

    QuorUpgrade worker;
    QSignalSpy spy(&worker, &QuorUpgrade::progress);
    const QString path = tempImage(toBytes(makeTestImage(32768, version.toStdString())));
    QVERIFY(runToEnd(worker, path, QuorUpgrade::Dfu));

    // First "not there yet" (attempt 0..5 read 1), then one value per
    // 2048-byte block, then done.
    const QList<int> seen = values(spy);
    int waiting = 0;
    while (waiting < seen.size() && seen[waiting] == 1)
        ++waiting;
    QVERIFY2(waiting >= 1, qPrintable(QString::number(waiting)));
    QList<int> blocks;
    for (int i = 1; i <= 16; ++i)
        blocks << 6 * i;
    QCOMPARE(seen.mid(waiting), blocks + QList<int>{100});
    QVERIFY(!QFile::exists(path));
    QTRY_COMPARE_WITH_TIMEOUT(versionOnBus(), version, 10000);
    QVERIFY(wheelBack(wheel));
}

void TestQuorUpgrade::imageRemoval_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("inTemp");
    QTest::addColumn<bool>("kept");

    QTest::newRow("hid, temp dir") << int(QuorUpgrade::HidTransfer) << true << false;
    QTest::newRow("hid, elsewhere") << int(QuorUpgrade::HidTransfer) << false << true;
    QTest::newRow("dfu, temp dir") << int(QuorUpgrade::Dfu) << true << false;
    QTest::newRow("dfu, elsewhere") << int(QuorUpgrade::Dfu) << false << true;
}

void TestQuorUpgrade::imageRemoval()
{
    QFETCH(int, mode);
    QFETCH(bool, inTemp);
    QFETCH(bool, kept);

    std::unique_ptr<wheeltest::WheelFixture> wheel;
    std::unique_ptr<OpenWheel> open;
    if (mode == QuorUpgrade::Dfu) {
        wheel = pelixInBootLoader();
    } else {
        wheel = std::make_unique<wheeltest::WheelFixture>();
        QVERIFY2(wheel->ok(), wheel->error().c_str());
        open = std::make_unique<OpenWheel>(kSrd7);
        QVERIFY(open->ok);
    }
    const QByteArray image = toBytes(makeTestImage(16384, "2.2.2"));
    const QString path =
        inTemp ? tempImage(image)
               : writeImage(outside_->filePath(QStringLiteral("image%1.bin").arg(++fileNumber_)), image);

    QuickUpgrade worker;
    QSignalSpy spy(&worker, &QuorUpgrade::progress);
    QVERIFY(runToEnd(worker, path, mode));

    QVERIFY(!values(spy).isEmpty());
    QCOMPARE(values(spy).last(), 100);
    QCOMPARE(QFile::exists(path), kept);
    QTRY_VERIFY_WITH_TIMEOUT(wheelBack(*wheel), 10000);
}

WHEEL_TEST_GUILESS_MAIN(TestQuorUpgrade)
#include "tst_quor_upgrade.moc"
