// The emulated boot loader's uevents as libusb's hotplug monitor receives
// them (it filters on subsystem and device type inside the socket), and a
// listener whose process has gone, swept instead of bringing the emulator
// down. Debian's dfu-util against the loader is check_boot_loader_cli.sh.
#include "dfu_emulator.h"
#include "wheel_fixture.h"
#include "wheel_test_main.h"

#include <libusb.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QFileInfo>

#include <cstring>
#include <memory>

class TestLoaderHotplug : public QObject
{
    Q_OBJECT

private slots:
    void hotplugAnnouncements()
    {
        wheeltest::WheelFixture::Options options;
        options.model = "PELIX";
        wheeltest::WheelFixture fixture(options);
        QVERIFY2(fixture.ok(), fixture.error().c_str());
        wheelemu::DfuBootLoader *loader = nullptr;
        std::string error;
        QVERIFY2(wheelemu::setUpBootLoader(fixture.emulator(), {}, &loader, &error), error.c_str());
        const std::string deadListener = fixture.root() + "/event9999";
        const int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, deadListener.c_str(), sizeof address.sun_path - 1);
        QCOMPARE(bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        close(fd);
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
                     LIBUSB_HOTPLUG_NO_FLAGS, 0x0483, 0xDF11, LIBUSB_HOTPLUG_MATCH_ANY, onEvent, counts,
                     &handle),
                 0);
        const auto pump = [&](int arrived, int left) {
            return QTest::qWaitFor(
                [&] {
                    timeval tv{0, 20000};
                    libusb_handle_events_timeout_completed(ctx, &tv, nullptr);
                    return counts[0] == arrived && counts[1] == left;
                },
                5000);
        };

        QVERIFY2(loader->plug(&error), error.c_str());
        QVERIFY2(pump(1, 0), qPrintable(QString::number(counts[0])));
        loader->unplug();
        QVERIFY2(pump(1, 1), qPrintable(QString::number(counts[1])));
        QVERIFY(!QFileInfo::exists(QString::fromStdString(deadListener)));
        libusb_hotplug_deregister_callback(ctx, handle);
    }
};

WHEEL_TEST_GUILESS_MAIN(TestLoaderHotplug)
#include "tst_loader_hotplug.moc"
