// The upgrade worker against the emulated wheel and its boot loader: the
// reports on the wire, the progress values, what the wheel runs afterwards,
// and which image files survive.
#include "dfu_emulator.h"
#include "table_rows.h"
#include "test_image.h"
#include "wheel_fixture.h"
#include "wheel_test_main.h"
#include "window_probe.h"

#include "device/device_handle.h"
#include "upgrade/quor_upgrade.h"

#include <hidapi/hidapi.h>

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

using namespace wheelemu;
using wheeltest::bytesOf;

Q_DECLARE_METATYPE(QList<QByteArray>)

namespace {

constexpr uint16_t kWheelVendor = 0xC872;
constexpr uint16_t kSrd7 = 0x200D;
constexpr int kVectorTableRefused = -130;

// The worker with its pauses shortened; what it sends and emits is the same.
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

// Starts the worker on a downloaded image (removed once it is in the wheel)
// and waits for the run to end; false when it hangs. The wait goes through
// the worker's own lock, so that the spies' lists its thread filled are
// handed over where the thread sanitizer can see it.
bool runToEnd(QuorUpgrade &worker, const QString &path, int mode)
{
    worker.setFilePath(path);
    worker.setMode(mode);
    worker.setRemoveAfterSuccess(true);
    worker.start();
    return worker.waitForFinished(60000);
}

QByteArray testImage(int size, const char *version)
{
    return bytesOf(makeTestImage(size_t(size), version));
}

QList<QByteArray> sentReports(const wheeltest::WheelFixture &wheel)
{
    QList<QByteArray> out;
    for (const std::string &line : wheel.exchanges({"set-feature"}))
        out << QByteArray::fromHex(QString::fromStdString(line).section(' ', 1).toLatin1());
    return out;
}

// An emulated SRD7 the program holds open, its transcript cleared; the
// program's handle is closed before the fixture goes.
struct OpenWheel : wheeltest::WheelFixture
{
    bool opened = ok() && deviceHandle().open(kWheelVendor, kSrd7);
    OpenWheel() { clearTranscript(); }
    ~OpenWheel() { deviceHandle().close(); }
};

// A file in the temp directory, as a download lands.
QString tempImage(const QByteArray &image)
{
    static int number = 0;
    const QString path = QDir::temp().filePath(QStringLiteral("image%1.bin").arg(++number));
    if (!wheeltest::writeFile(path, image))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// Whether the wheel has left the bus (restart, boot loader) and is back on
// it. A fixture must not go while the emulator still has a restart pending.
bool wheelBack(const wheeltest::WheelFixture &wheel)
{
    const std::vector<std::string> bus = wheel.exchanges({"plug", "unplug"});
    const auto left = std::find_if(
        bus.begin(), bus.end(), [](const std::string &line) { return line.rfind("unplug c8 72", 0) == 0; });
    return left != bus.end() && bus.back().rfind("plug c8 72", 0) == 0;
}

// The fault: "refused", "unplugged", "closed" (no wheel open) or "missing";
// the progress value it follows (-1: before the first send); the image size;
// the code failed() carries (0: any negative one); what it says.
const QString kNotTaken = QStringLiteral("the wheel did not take the firmware data at byte %1 of %2");
const std::tuple<const char *, QString, int, int, int, QString> kFailedSends[] = {
    {"first report refused", "refused", -1, 40, -1, kNotTaken.arg(0).arg(40)},
    {"second report refused", "refused", 0, 40, -1, kNotTaken.arg(16).arg(40)},
    {"unplugged half way", "unplugged", 48, 229376, 0, ""},
    {"no wheel open", "closed", -1, 64, QuorUpgrade::NoWheelOpen, "no wheel is connected"},
    {"image missing", "missing", -1, 64, QuorUpgrade::ImageUnreadable, ""}};

} // namespace

class TestQuorUpgrade : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QCOMPARE(hid_init(), 0); }
    void cleanupTestCase() { hid_exit(); }

    // Each report: 0x02, 0x80 | the block index's high bits, its low byte, the
    // data length, 16 bytes of data. A short last block leaves the rest of the
    // previous report's data in place, and the closing command 0x02 0x10
    // repeats the last report. Indices 0..255 fit byte 2 (4096 bytes), one
    // more makes byte 1 0x81; the largest image emits every share 0..95 once.
    void hidStream_data()
    {
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<bool>("realPauses");
        QTest::addColumn<QList<QByteArray>>("reports");
        QTest::addColumn<QList<int>>("progress");
        for (const auto &[size, realPauses] :
             {std::pair{40, true}, {0, false}, {4096, false}, {4112, false}, {229376, false}}) {
            const QByteArray image = testImage(size, "7.1.0\tJun 01 2027");
            QByteArray report(20, '\0');
            QList<QByteArray> reports;
            QList<int> progress;
            for (int offset = 0; offset < size; offset += 16) {
                const int index = offset / 16, length = std::min(16, size - offset);
                report.replace(
                    0, 4, QByteArray("\x02") + char(0x80 | (index >> 8)) + char(index & 0xFF) + char(length));
                reports << report.replace(4, length, image.mid(offset, length));
                if (progress.isEmpty() || progress.last() != offset * 96 / size)
                    progress << offset * 96 / size;
            }
            reports << QByteArray("\x02\x10") + report.mid(2);
            QTest::addRow("%d bytes", size)
                << image << realPauses << reports << (progress + QList{97, 98, 99, 100});
        }
    }

    void hidStream()
    {
        QFETCH(QByteArray, image);
        QFETCH(bool, realPauses);
        QFETCH(QList<QByteArray>, reports);
        QFETCH(QList<int>, progress);
        OpenWheel wheel;
        QVERIFY2(wheel.opened, wheel.error().c_str());

        QuickUpgrade worker;
        if (realPauses)
            worker.setPauses(1000, 500);
        QSignalSpy spy(&worker, &QuorUpgrade::progress);
        const QString path = tempImage(image);
        QVERIFY(runToEnd(worker, path, QuorUpgrade::HidTransfer));
        // A download goes once it is sent.
        QVERIFY(!QFile::exists(path));

        QCOMPARE(sentReports(wheel), reports);
        QCOMPARE(values(spy), progress);
        // The closing command makes the wheel install the stream and restart.
        QTRY_VERIFY_WITH_TIMEOUT(wheelBack(wheel), 10000);
        QCOMPARE(bytesOf(wheel.installedImage()), image);
    }

    void failedSend_data() { wheeltest::addRows(kFailedSends); }
    // The wire ends at the failed report: no closing command, so the wheel is
    // not restarted into a half-sent image, and the worker ends on failed()
    // with its code. With no wheel open or no file, nothing is sent and the
    // failure says why.
    void failedSend()
    {
        const auto &[tag, fault, after, size, failure, what] = wheeltest::rowOf(kFailedSends);
        OpenWheel wheel;
        QVERIFY2(wheel.opened, wheel.error().c_str());
        const bool unplug = fault == QLatin1String("unplugged");
        const bool idle = fault == QLatin1String("closed") || fault == QLatin1String("missing");
        const QString path = tempImage(testImage(size, "9.9.9"));
        if (fault == QLatin1String("closed"))
            deviceHandle().close();
        if (fault == QLatin1String("missing"))
            QVERIFY(QFile::remove(path));

        QuickUpgrade worker;
        QSignalSpy spy(&worker, &QuorUpgrade::progress);
        QSignalSpy failures(&worker, &QuorUpgrade::failed);
        if (after < 0 && !idle)
            wheel.failSetFeature(1);
        // On the worker's own thread, so that it falls between two sends.
        connect(
            &worker, &QuorUpgrade::progress, &worker,
            [&wheel, after = after, unplug](int value) {
                if (value == after)
                    unplug ? void(wheel.unplug()) : wheel.failSetFeature(1);
            },
            Qt::DirectConnection);
        QVERIFY2(runToEnd(worker, path, QuorUpgrade::HidTransfer), "the worker hangs");

        const QList<int> seen = values(spy);
        const QList<QByteArray> reports = sentReports(wheel);
        QCOMPARE(QFile::exists(path), fault != QLatin1String("missing"));
        QCOMPARE(failures.size(), 1);
        const int code = failures.first().at(0).toInt();
        QVERIFY2(failure ? code == failure : code < 0, qPrintable(QString::number(code)));
        if (!what.isEmpty())
            QCOMPARE(failures.first().at(1).toString(), what);
        if (idle) {
            QCOMPARE(seen, QList<int>());
            QCOMPARE(reports, QList<QByteArray>());
            return;
        }
        for (int i = 0; i < seen.size(); ++i)
            QCOMPARE(seen[i], i);
        QCOMPARE(seen.size() - 1, after);
        QVERIFY(!reports.isEmpty());
        QCOMPARE(uint8_t(reports.last().at(1)) & 0x80, 0x80);
        QCOMPARE(int(wheel.exchanges({"unplug"}).size()), unplug ? 1 : 0);
        QVERIFY(bytesOf(wheel.installedImage()).isEmpty());
    }

    // A downloaded image goes once it is in the wheel; a refused one (a stack
    // pointer of 0 is outside the SRAM window) stays.
    void imageRemoval_data()
    {
        QTest::addColumn<bool>("valid");
        QTest::newRow("download") << true;
        QTest::newRow("refused download") << false;
    }
    void imageRemoval()
    {
        QFETCH(bool, valid);
        // A PELIX whose boot loader is on the bus from the start.
        wheeltest::WheelFixture::Options options;
        options.model = "PELIX";
        wheeltest::WheelFixture wheel(options);
        QVERIFY2(wheel.ok(), wheel.error().c_str());
        DfuEmulatorOptions dfu;
        dfu.startAsBootLoader = true;
        DfuBootLoader *loader = nullptr;
        std::string error;
        QVERIFY2(setUpBootLoader(wheel.emulator(), dfu, &loader, &error), error.c_str());
        const QByteArray image = valid ? testImage(16384, "2.2.2") : QByteArray(64, '\0');
        const QString path = tempImage(image);

        QuickUpgrade worker;
        QSignalSpy spy(&worker, &QuorUpgrade::progress);
        QSignalSpy failures(&worker, &QuorUpgrade::failed);
        QVERIFY(runToEnd(worker, path, QuorUpgrade::Dfu));

        QCOMPARE(QFile::exists(path), !valid);
        if (!valid) {
            QCOMPARE(values(spy), QList<int>());
            QCOMPARE(failures.size(), 1);
            QCOMPARE(failures.first().at(0).toInt(), kVectorTableRefused);
            return;
        }
        QCOMPARE(values(spy).constLast(), 100);
        QTRY_VERIFY_WITH_TIMEOUT(wheelBack(wheel), 10000);
        QCOMPARE(bytesOf(wheel.installedImage()).left(image.size()), image);
    }
};

WHEEL_TEST_GUILESS_MAIN(TestQuorUpgrade)
#include "tst_quor_upgrade.moc"
