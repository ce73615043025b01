// The PELIX update path on the emulated bus, from the host's side only:
// Reboot over hidapi, the wheel leaves the HID bus, the boot loader shows up
// on libusb after its delay, Debian's dfu-util flashes it and leaves, and the
// wheel is back on the HID bus reporting the version of the new image.
#include "dfu_emulator.h"
#include "dfu_test_bed.h"
#include "test_image.h"
#include "wheel_fixture.h"
#include "wheel_test_main.h"

#include <hidapi/hidapi.h>
#include <libusb.h>

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

using namespace wheelemu;

namespace {

constexpr uint16_t kWheelVendor = 0xC872;
constexpr int kBootLoaderDelayMs = 1200;

// Boot loaders on the bus as libusb enumerates them now; a fresh context
// each time, closed again, as a host polling for the loader does.
int bootLoadersOnBus()
{
    libusb_context *ctx = nullptr;
    if (libusb_init(&ctx) != 0)
        return -1;
    libusb_device **list = nullptr;
    const ssize_t n = libusb_get_device_list(ctx, &list);
    int found = 0;
    for (ssize_t i = 0; i < n; ++i) {
        libusb_device_descriptor d;
        if (libusb_get_device_descriptor(list[i], &d) == 0 && d.idVendor == 0x0483 && d.idProduct == 0xDF11)
            ++found;
    }
    if (n >= 0)
        libusb_free_device_list(list, 1);
    libusb_exit(ctx);
    return found;
}

int wheelsOnBus()
{
    hid_device_info *all = hid_enumerate(kWheelVendor, 0);
    int n = 0;
    for (hid_device_info *d = all; d; d = d->next)
        ++n;
    hid_free_enumeration(all);
    return n;
}

struct HidHandle
{
    hid_device *h = nullptr;
    HidHandle()
    {
        hid_device_info *all = hid_enumerate(kWheelVendor, 0);
        if (all)
            h = hid_open_path(all->path);
        hid_free_enumeration(all);
    }
    ~HidHandle()
    {
        if (h)
            hid_close(h);
    }
};

// The firmware version text, queried as the program does (02 0B 09).
QString queryVersion()
{
    HidHandle wheel;
    if (!wheel.h)
        return "(no wheel)";
    unsigned char buf[21] = {0x02, 0x0B, 0x09};
    hid_send_feature_report(wheel.h, buf, 20);
    if (hid_get_feature_report(wheel.h, buf, 21) < 0)
        return "(no reply)";
    const char *text = reinterpret_cast<const char *>(buf + 1);
    return QString::fromUtf8(text, int(strnlen(text, 20)));
}

bool sendReboot()
{
    HidHandle wheel;
    if (!wheel.h)
        return false;
    unsigned char buf[20] = {0x02, 0x10};
    return hid_send_feature_report(wheel.h, buf, 20) == 20;
}

} // namespace

class TestPelixDfu : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QCOMPARE(hid_init(), 0); }
    void cleanupTestCase() { hid_exit(); }
    void rebootFlashAndBack();
    void loaderThatNeverAppears();
    void startAsBootLoader();

private:
    QTemporaryDir dir_;
};

void TestPelixDfu::rebootFlashAndBack()
{
    wheeltest::WheelFixture::Options fo;
    fo.model = "PELIX";
    fo.bootLoaderDelayMs = kBootLoaderDelayMs;
    wheeltest::WheelFixture fixture(fo);
    QVERIFY2(fixture.ok(), fixture.error().c_str());
    DfuEmulatorOptions dfuOptions;
    const QString flashFile = dir_.filePath("pelix-flash.bin");
    dfuOptions.loader.flashFile = flashFile.toStdString();
    DfuBootLoader *loader = nullptr;
    std::string error;
    QVERIFY2(setUpBootLoader(fixture.emulator(), dfuOptions, &loader, &error), error.c_str());

    const QString before = queryVersion();
    QVERIFY(!before.isEmpty());
    QCOMPARE(bootLoadersOnBus(), 0);

    QElapsedTimer sinceReboot;
    sinceReboot.start();
    QVERIFY(sendReboot());
    QVERIFY(dfutest::waitFor([] { return wheelsOnBus() == 0; }, 2000));
    // The loader comes, but not before its delay.
    QVERIFY(dfutest::waitFor([] { return bootLoadersOnBus() == 1; }, kBootLoaderDelayMs + 5000));
    QVERIFY(sinceReboot.elapsed() >= kBootLoaderDelayMs - 50);
    QCOMPARE(wheelsOnBus(), 0);

    const std::vector<uint8_t> image = makeTestImage(229376, "4.2.0\tJan 05 2027");
    const QString imageFile = dir_.filePath("pelix.bin");
    QVERIFY(dfutest::writeFile(imageFile, image));
    const dfutest::ProcessResult r =
        dfutest::run("dfu-util", {"-a", "0", "-s", "0x08000000:leave", "-D", imageFile});
    QVERIFY2(r.finished && r.exitCode == 0, qPrintable(r.output));

    // The loader leaves and the wheel is back, running the new image.
    QVERIFY(dfutest::waitFor([] { return wheelsOnBus() == 1; }, 5000));
    QCOMPARE(bootLoadersOnBus(), 0);
    QCOMPARE(queryVersion(), QString("4.2.0\tJan 05 2027"));
    QVERIFY(before != queryVersion());
    const std::vector<uint8_t> flash = dfutest::readFile(flashFile);
    QVERIFY(flash.size() >= image.size());
    QVERIFY(std::equal(image.begin(), image.end(), flash.begin()));

    // The transcript shows the whole way: the wheel goes, the loader comes
    // and goes, the wheel comes back.
    std::vector<std::string> bus;
    for (const std::string &line : fixture.exchanges({"plug", "unplug"}))
        bus.push_back(line);
    QVERIFY(bus.size() >= 4);
    const std::vector<std::string> tail(bus.end() - 4, bus.end());
    QCOMPARE(QString::fromStdString(tail[1]), QString("plug 04 83 df 11"));
    QCOMPARE(QString::fromStdString(tail[2]), QString("unplug 04 83 df 11"));
    QVERIFY(QString::fromStdString(tail[0]).startsWith("unplug c8 72"));
    QVERIFY(QString::fromStdString(tail[3]).startsWith("plug c8 72"));
}

void TestPelixDfu::loaderThatNeverAppears()
{
    wheeltest::WheelFixture::Options fo;
    fo.model = "PELIX";
    fo.bootLoaderDelayMs = 200;
    wheeltest::WheelFixture fixture(fo);
    QVERIFY2(fixture.ok(), fixture.error().c_str());
    DfuEmulatorOptions dfuOptions;
    std::string error;
    QVERIFY(applyDfuFault("never-appears", &dfuOptions, &error));
    DfuBootLoader *loader = nullptr;
    QVERIFY2(setUpBootLoader(fixture.emulator(), dfuOptions, &loader, &error), error.c_str());
    QVERIFY(!loader);

    QVERIFY(sendReboot());
    QVERIFY(dfutest::waitFor([] { return wheelsOnBus() == 0; }, 2000));
    // Well past the delay: still nothing, neither loader nor wheel.
    QThread::msleep(1000);
    QCOMPARE(bootLoadersOnBus(), 0);
    QCOMPARE(wheelsOnBus(), 0);
}

void TestPelixDfu::startAsBootLoader()
{
    wheeltest::WheelFixture::Options fo;
    fo.model = "PELIX";
    wheeltest::WheelFixture fixture(fo);
    QVERIFY2(fixture.ok(), fixture.error().c_str());
    // A flash file from an earlier run: the loader starts with it.
    const std::vector<uint8_t> old = makeTestImage(16384, "1.0.0");
    const QString flashFile = dir_.filePath("start-flash.bin");
    QVERIFY(dfutest::writeFile(flashFile, old));
    DfuEmulatorOptions dfuOptions;
    dfuOptions.startAsBootLoader = true;
    dfuOptions.loader.flashFile = flashFile.toStdString();
    DfuBootLoader *loader = nullptr;
    std::string error;
    QVERIFY2(setUpBootLoader(fixture.emulator(), dfuOptions, &loader, &error), error.c_str());

    QCOMPARE(wheelsOnBus(), 0);
    QCOMPARE(bootLoadersOnBus(), 1);
    const QString readBack = dir_.filePath("start-readback.bin");
    const dfutest::ProcessResult r =
        dfutest::run("dfu-util", {"-a", "0", "-s", "0x08000000:16384", "-U", readBack});
    QVERIFY2(r.finished && r.exitCode == 0, qPrintable(r.output));
    QVERIFY(dfutest::readFile(readBack) == old);

    const std::vector<uint8_t> next = makeTestImage(16384, "5.0.0");
    const QString nextFile = dir_.filePath("start-next.bin");
    QVERIFY(dfutest::writeFile(nextFile, next));
    const dfutest::ProcessResult flash =
        dfutest::run("dfu-util", {"-a", "0", "-s", "0x08000000:leave", "-D", nextFile});
    QVERIFY2(flash.finished && flash.exitCode == 0, qPrintable(flash.output));
    QVERIFY(dfutest::waitFor([] { return wheelsOnBus() == 1; }, 5000));
    QCOMPARE(bootLoadersOnBus(), 0);
    QCOMPARE(queryVersion(), QString("5.0.0"));
}

WHEEL_TEST_GUILESS_MAIN(TestPelixDfu)
#include "tst_pelix_dfu.moc"
