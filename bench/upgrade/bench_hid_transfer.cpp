// Streams the largest image the window accepts into the emulated wheel with
// the upgrade worker in HidTransfer mode (the real hidapi, the umockdev
// preload and the emulator in this process, transcript on), and prints the
// wall time of the transfer and its throughput. The one-second steps after
// the closing command are left out: they are waits, not transfer.
#include "test_image.h"
#include "under_preload.h"
#include "wheel_fixture.h"

#include "device/device_handle.h"
#include "upgrade/quor_upgrade.h"

#include <hidapi/hidapi.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <cstdio>

namespace {

constexpr int kImageSize = 229376;
constexpr int kRuns = 3;

class UnpausedUpgrade : public QuorUpgrade
{
public:
    UnpausedUpgrade() { setPauses(0, 0); }
};

// The closing command restarts the wheel; the emulator must not go while
// that restart is still pending.
void waitForRestart(const wheeltest::WheelFixture &wheel)
{
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 10000) {
        const std::vector<std::string> bus = wheel.exchanges({"plug", "unplug"});
        if (bus.size() >= 3 && bus.back().rfind("plug c8 72", 0) == 0)
            return;
        QThread::msleep(20);
    }
}

// Seconds for one whole run, or a negative value when it did not finish
// with 100.
double transferOnce(const QString &path)
{
    wheeltest::WheelFixture wheel;
    if (!wheel.ok()) {
        std::fprintf(stderr, "no emulated wheel: %s\n", wheel.error().c_str());
        return -1;
    }
    if (!deviceHandle().open(0xC872, 0x200D)) {
        std::fprintf(stderr, "cannot open the emulated wheel\n");
        return -1;
    }
    UnpausedUpgrade worker;
    int last = 0;
    QObject::connect(
        &worker, &QuorUpgrade::progress, &worker, [&last](int value) { last = value; }, Qt::DirectConnection);
    worker.setFilePath(path);
    worker.setMode(QuorUpgrade::HidTransfer);
    QElapsedTimer timer;
    timer.start();
    worker.start();
    const bool ended = worker.wait(QDeadlineTimer(120000));
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    deviceHandle().close();
    waitForRestart(wheel);
    if (!ended || last != 100) {
        std::fprintf(stderr, "run ended with %d\n", last);
        return -1;
    }
    return seconds;
}

} // namespace

int main(int argc, char **argv)
{
    wheeltest::runUnderPreload(argc, argv);
    QCoreApplication app(argc, argv);
    hid_init();

    const std::vector<uint8_t> image = wheelemu::makeTestImage(kImageSize, "1.0.0");
    // Outside the temp directory, so the worker keeps it from run to run.
    const QString path = QDir::current().filePath(QStringLiteral("bench-hid-transfer.bin"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(reinterpret_cast<const char *>(image.data()),
                                                       qint64(image.size())) != qint64(image.size())) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }
    file.close();

    double best = -1;
    for (int run = 0; run < kRuns; ++run) {
        const double seconds = transferOnce(path);
        if (seconds < 0) {
            QFile::remove(path);
            return 1;
        }
        if (best < 0 || seconds < best)
            best = seconds;
    }
    QFile::remove(path);
    hid_exit();

    std::printf("BENCH hid_transfer_229376 %.3f s\n", best);
    std::printf("BENCH hid_transfer_229376_throughput %.0f bytes/s\n", kImageSize / best);
    return 0;
}
