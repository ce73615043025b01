// Debian's dfu-util, a DFU host nobody here wrote, against the emulated boot
// loader through the real libusb: flashing with leave, faults as a real loader
// shows them, the PELIX way from Reboot to the loader and back, and hotplug.
#include "dfu_emulator.h"
#include "dfu_test_bed.h"
#include "test_image.h"
#include "wheel_fixture.h"
#include "wheel_test_main.h"

#include <hidapi/hidapi.h>
#include <libusb.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QTemporaryDir>

#include <cstring>
#include <sstream>

using namespace wheelemu;
using namespace dfutest;

namespace {

constexpr size_t kLargestImage = 229376;
constexpr size_t kFlashSize = 128 * 8192;

using Transfer = std::vector<uint8_t>; // setup packet, then the data stage

// The control transfers the loader saw, from the transcript.
std::vector<Transfer> controlTransfers(const wheeltest::WheelFixture &fixture)
{
    std::vector<Transfer> out;
    for (const std::string &line : fixture.exchanges({"control"})) {
        std::istringstream in(line.substr(line.find(' ')));
        out.emplace_back();
        for (unsigned byte; in >> std::hex >> byte;)
            out.back().push_back(uint8_t(byte));
    }
    return out;
}

bool isRequest(const Transfer &t, uint8_t type, uint8_t request)
{
    return t.size() >= 8 && t[0] == type && t[1] == request;
}
bool isDnload(const Transfer &t)
{
    return isRequest(t, 0x21, 1);
}
int wLength(const Transfer &t)
{
    return t[6] | t[7] << 8;
}
bool allErased(const std::vector<uint8_t> &v, size_t from, size_t to)
{
    return v.size() >= to &&
           std::all_of(v.begin() + long(from), v.begin() + long(to), [](uint8_t b) { return b == 0xFF; });
}

// Boot loaders on the bus, with a fresh libusb context each time, as a host
// polling for the loader does.
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
    hid_device_info *all = hid_enumerate(0xC872, 0);
    int n = 0;
    for (hid_device_info *d = all; d; d = d->next)
        ++n;
    hid_free_enumeration(all);
    return n;
}

// Sends a 20-byte feature report to the wheel; with `reply`, reads 21 bytes
// back and returns the text from byte 1.
QString toWheel(std::initializer_list<unsigned char> request, bool reply)
{
    hid_device_info *all = hid_enumerate(0xC872, 0);
    hid_device *h = all ? hid_open_path(all->path) : nullptr;
    hid_free_enumeration(all);
    if (!h)
        return "(no wheel)";
    unsigned char buf[21] = {};
    std::copy(request.begin(), request.end(), buf);
    QString result = hid_send_feature_report(h, buf, 20) == 20 ? "" : "(not sent)";
    if (reply && result.isEmpty())
        result = hid_get_feature_report(h, buf, 21) < 0
                     ? "(no reply)"
                     : QString::fromUtf8(reinterpret_cast<const char *>(buf + 1),
                                         int(strnlen(reinterpret_cast<const char *>(buf + 1), 20)));
    hid_close(h);
    return result;
}

wheeltest::WheelFixture::Options pelixOptions(int bootLoaderDelayMs = 2000)
{
    wheeltest::WheelFixture::Options o;
    o.model = "PELIX";
    o.bootLoaderDelayMs = bootLoaderDelayMs;
    return o;
}

QString wheelVersion()
{
    return toWheel({0x02, 0x0B, 0x09}, true);
}

} // namespace

class TestDfuUtil : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QCOMPARE(hid_init(), 0); }
    void cleanupTestCase() { hid_exit(); }
    void downloadAndLeave_data();
    void downloadAndLeave();
    void faults_data();
    void faults();
    void pelixRebootFlashAndBack();
    void hotplugAnnouncements();

private:
    // Sets up the PELIX wheel's boot loader; null (and a warning) on failure.
    DfuBootLoader *pelix(wheeltest::WheelFixture &fixture, DfuEmulatorOptions options);
    ProcessResult download(const std::vector<uint8_t> &image);

    QTemporaryDir dir_;
};

DfuBootLoader *TestDfuUtil::pelix(wheeltest::WheelFixture &fixture, DfuEmulatorOptions options)
{
    DfuBootLoader *loader = nullptr;
    std::string error = fixture.error();
    if (!fixture.ok() || !setUpBootLoader(fixture.emulator(), options, &loader, &error))
        qWarning("%s", error.c_str());
    return loader;
}

ProcessResult TestDfuUtil::download(const std::vector<uint8_t> &image)
{
    const QString file = dir_.filePath("image.bin");
    if (!writeFile(file, image))
        return {};
    return run("dfu-util", {"-a", "0", "-s", "0x08000000:leave", "-D", file});
}

void TestDfuUtil::downloadAndLeave_data()
{
    QTest::addColumn<int>("transferSize");
    QTest::newRow("2048-byte transfers") << 2048;
    QTest::newRow("1024-byte transfers") << 1024;
}

void TestDfuUtil::downloadAndLeave()
{
    QFETCH(int, transferSize);
    // The flash starts programmed to zeros where the image goes: a host
    // that skipped the erase would leave zeros behind.
    const QString flashFile = dir_.filePath("flash-download.bin");
    QVERIFY(writeFile(flashFile, std::vector<uint8_t>(kLargestImage, 0x00)));
    wheeltest::WheelFixture fixture(pelixOptions());
    DfuEmulatorOptions o;
    o.startAsBootLoader = true;
    o.loader.loader.transferSize = uint16_t(transferSize);
    o.loader.flashFile = flashFile.toStdString();
    DfuBootLoader *loader = pelix(fixture, o);
    QVERIFY(loader);
    QCOMPARE(wheelsOnBus(), 0);

    const std::vector<uint8_t> image = makeTestImage(kLargestImage, "3.1.4");
    const ProcessResult r = download(image);
    QVERIFY2(r.finished && r.exitCode == 0, qPrintable(r.output));
    // It left the bus, and the wheel came back running the image.
    QVERIFY(waitFor([] { return wheelsOnBus() == 1; }, 5000));
    QVERIFY(!loader->plugged());
    QCOMPARE(wheelVersion(), QString("3.1.4"));
    const std::vector<uint8_t> saved = readFile(flashFile);
    QCOMPARE(saved.size(), kFlashSize);
    QVERIFY(std::equal(image.begin(), image.end(), saved.begin()));
    QVERIFY(allErased(saved, kLargestImage, kFlashSize));

    const auto transfers = controlTransfers(fixture);
    // Every page the image covers was erased once, in order, and data went
    // in blocks of the loader's transfer size.
    std::vector<uint32_t> erased;
    int largest = 0;
    for (const Transfer &t : transfers) {
        if (isDnload(t) && wLength(t) == 5 && t.size() == 13 && t[8] == 0x41)
            erased.push_back(uint32_t(t[9] | t[10] << 8 | t[11] << 16 | uint32_t(t[12]) << 24));
        if (isDnload(t) && (t[2] | t[3] << 8) >= 2)
            largest = std::max(largest, wLength(t));
    }
    QCOMPARE(erased.size(), kLargestImage / 8192);
    for (size_t i = 0; i < erased.size(); ++i)
        QCOMPARE(erased[i], uint32_t(0x08000000 + i * 8192));
    QCOMPARE(largest, transferSize);
    // The leave: a zero-length download, answered by dfuMANIFEST.
    const auto zlp = std::find_if(transfers.begin(), transfers.end(),
                                  [](const Transfer &t) { return isDnload(t) && !wLength(t); });
    QVERIFY(zlp != transfers.end() && zlp + 1 != transfers.end());
    QVERIFY(isRequest(*(zlp + 1), 0xA1, 3));
    QCOMPARE((zlp + 1)->size(), size_t(14));
    QCOMPARE(int((*(zlp + 1))[12]), 7);
}

void TestDfuUtil::faults_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("succeeds");
    QTest::addColumn<int>("programmed"); // bytes of the image in flash
    QTest::addColumn<int>("erasedTo");   // then erased up to here
    // The host has to clear the error first, then all goes through.
    QTest::newRow("starts in dfuERROR") << "start-in-error" << true << 16384 << 16384;
    // Still the loader, in dfuERROR with errPROG; two blocks in, the third not.
    QTest::newRow("third block fails") << "error-on-block:3" << false << 4096 << 6144;
    // The flash as it was when the cable went: four blocks written.
    QTest::newRow("unplugged at block 5") << "unplug-at-block:5" << false << 8192 << 16384;
}

void TestDfuUtil::faults()
{
    QFETCH(QString, fault);
    QFETCH(bool, succeeds);
    QFETCH(int, programmed);
    QFETCH(int, erasedTo);
    wheeltest::WheelFixture fixture(pelixOptions());
    DfuEmulatorOptions o;
    o.startAsBootLoader = true;
    std::string error;
    QVERIFY2(applyDfuFault(fault.toStdString(), &o, &error), error.c_str());
    DfuBootLoader *loader = pelix(fixture, o);
    QVERIFY(loader);

    const std::vector<uint8_t> image = makeTestImage(16384, "1.0.1");
    const ProcessResult r = download(image);
    QVERIFY2(r.finished && (r.exitCode == 0) == succeeds, qPrintable(r.output));
    const bool staysLoader = fault.startsWith("error-on-block");
    QVERIFY(waitFor([&] { return loader->plugged() == staysLoader; }, 5000));
    const std::vector<uint8_t> flash = loader->flashContents();
    QVERIFY(std::equal(image.begin(), image.begin() + programmed, flash.begin()));
    QVERIFY(allErased(flash, size_t(programmed), size_t(erasedTo)));

    const auto transfers = controlTransfers(fixture);
    if (fault == "start-in-error") {
        const auto clear = std::find_if(transfers.begin(), transfers.end(),
                                        [](const Transfer &t) { return isRequest(t, 0x21, 4); });
        QVERIFY(clear < std::find_if(transfers.begin(), transfers.end(), isDnload));
    } else if (staysLoader) {
        QVERIFY2(r.output.contains("dfuERROR"), qPrintable(r.output));
        int state = -1, status = -1;
        loader->withLoader([&](DfuLoader &l) {
            state = l.state();
            status = l.status();
        });
        QCOMPARE(state, int(dfu::Error));
        QCOMPARE(status, int(dfu::ErrProg));
    } else { // nothing answered after the pulled block
        QVERIFY(isDnload(transfers.back()));
        QCOMPARE(wLength(transfers.back()), 2048);
    }
}

// Reboot over hidapi: the wheel leaves the HID bus, the loader shows up on
// libusb after its delay, dfu-util flashes it and leaves, and the wheel is
// back reporting the version of the new image.
void TestDfuUtil::pelixRebootFlashAndBack()
{
    wheeltest::WheelFixture fixture(pelixOptions(1200));
    DfuEmulatorOptions o;
    QVERIFY(pelix(fixture, o));
    const QString before = wheelVersion();
    QVERIFY2(!before.startsWith('(') && before != "4.2.0\tJan 05 2027", qPrintable(before));
    QCOMPARE(bootLoadersOnBus(), 0);
    QCOMPARE(toWheel({0x02, 0x10}, false), QString());
    QVERIFY(waitFor([] { return wheelsOnBus() == 0; }, 2000));
    QVERIFY(waitFor([] { return bootLoadersOnBus() == 1; }, 8000));
    QCOMPARE(wheelsOnBus(), 0);

    const ProcessResult r = download(makeTestImage(kLargestImage, "4.2.0\tJan 05 2027"));
    QVERIFY2(r.finished && r.exitCode == 0, qPrintable(r.output));
    QVERIFY(waitFor([] { return wheelsOnBus() == 1; }, 5000));
    QCOMPARE(bootLoadersOnBus(), 0);
    QCOMPARE(wheelVersion(), QString("4.2.0\tJan 05 2027"));
    // The whole way on the bus: the wheel goes, the loader comes and goes,
    // the wheel comes back.
    const std::vector<std::string> bus = fixture.exchanges({"plug", "unplug"});
    QVERIFY(bus.size() >= 4);
    QVERIFY(QString::fromStdString(bus[bus.size() - 4]).startsWith("unplug c8 72"));
    QCOMPARE(QString::fromStdString(bus[bus.size() - 3]), QString("plug 04 83 df 11"));
    QCOMPARE(QString::fromStdString(bus[bus.size() - 2]), QString("unplug 04 83 df 11"));
    QVERIFY(QString::fromStdString(bus.back()).startsWith("plug c8 72"));
}

// The emulator's uevents as libusb's hotplug monitor receives them (it filters
// on subsystem and device type inside the socket), and a listener whose
// process has gone is swept instead of bringing the emulator down.
void TestDfuUtil::hotplugAnnouncements()
{
    wheeltest::WheelFixture fixture(pelixOptions());
    DfuBootLoader *loader = pelix(fixture, {});
    QVERIFY(loader);
    const std::string deadListener = fixture.root() + "/event9999";
    {
        const int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
        QVERIFY(fd >= 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, deadListener.c_str(), sizeof address.sun_path - 1);
        QCOMPARE(bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        close(fd);
    }
    QVERIFY(QFileInfo::exists(QString::fromStdString(deadListener)));

    libusb_context *ctx = nullptr;
    QCOMPARE(libusb_init(&ctx), 0);
    std::unique_ptr<libusb_context, void (*)(libusb_context *)> context(ctx, libusb_exit);
    int counts[2] = {0, 0}; // arrived, left
    const auto onEvent = [](libusb_context *, libusb_device *, libusb_hotplug_event event, void *data) {
        static_cast<int *>(data)[event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED ? 0 : 1]++;
        return 0;
    };
    libusb_hotplug_callback_handle handle;
    QCOMPARE(libusb_hotplug_register_callback(
                 ctx, LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT,
                 LIBUSB_HOTPLUG_NO_FLAGS, 0x0483, 0xDF11, LIBUSB_HOTPLUG_MATCH_ANY, onEvent, counts, &handle),
             0);
    const auto pump = [&](const std::function<bool()> &done) {
        return waitFor(
            [&] {
                timeval tv{0, 20000};
                libusb_handle_events_timeout_completed(ctx, &tv, nullptr);
                return done();
            },
            5000);
    };

    std::string error;
    QVERIFY2(loader->plug(&error), error.c_str());
    QVERIFY2(pump([&] { return counts[0] == 1; }), qPrintable(QString::number(counts[0])));
    loader->unplug();
    QVERIFY2(pump([&] { return counts[1] == 1; }), qPrintable(QString::number(counts[1])));
    QCOMPARE(counts[0], 1);
    QVERIFY(!QFileInfo::exists(QString::fromStdString(deadListener)));
    libusb_hotplug_deregister_callback(ctx, handle);
}

WHEEL_TEST_GUILESS_MAIN(TestDfuUtil)
#include "tst_dfu_util.moc"
