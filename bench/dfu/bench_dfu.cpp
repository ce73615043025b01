// How much the emulated boot loader carries through the real libusb stack,
// so that the flasher's benchmark has its ceiling and its peer:
//   - control transfers per second (DFU_GETSTATUS, synchronous, one open
//     handle), the path's own limit;
//   - how long Debian's dfu-util takes to flash a 229,376-byte image with
//     leave, with the loader's default poll times and with none at all (the
//     transport alone), and to read it back.
// The loader runs in this process, transcript on, as in the tests.
#include "dfu_test_bed.h"
#include "test_image.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <libusb.h>

#include <chrono>
#include <cstdio>

using namespace wheelemu;

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRun = std::chrono::seconds(2);
constexpr size_t kImageSize = 229376;

double seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

double controlTransfersPerSecond()
{
    libusb_context *ctx = nullptr;
    if (libusb_init(&ctx) != 0)
        return -1;
    double rate = -1;
    libusb_device_handle *h = libusb_open_device_with_vid_pid(ctx, 0x0483, 0xDF11);
    if (h && libusb_claim_interface(h, 0) == 0) {
        unsigned char status[6];
        long n = 0;
        const auto start = Clock::now();
        while (Clock::now() - start < kRun) {
            if (libusb_control_transfer(h, 0xA1, 3, 0, 0, status, sizeof status, 1000) != int(sizeof status))
                break;
            ++n;
        }
        rate = n / seconds(start);
        libusb_release_interface(h, 0);
    }
    if (h)
        libusb_close(h);
    libusb_exit(ctx);
    return rate;
}

// Seconds dfu-util needed, or -1 when it failed.
double timed(const QStringList &args)
{
    const auto start = Clock::now();
    const dfutest::ProcessResult r = dfutest::run("dfu-util", args, 120000);
    const double s = seconds(start);
    if (!r.finished || r.exitCode != 0) {
        std::fprintf(stderr, "dfu-util %s failed:\n%s\n", qPrintable(args.join(' ')), qPrintable(r.output));
        return -1;
    }
    return s;
}

double flash(dfutest::DfuTestBed &bed, const DfuLoader::Timing &timing, const QString &image)
{
    DfuBootLoader::Options o;
    o.loader.timing = timing;
    DfuBootLoader loader(bed.host(), o);
    std::string error;
    if (!loader.plug(&error))
        return -1;
    return timed({"-a", "0", "-s", "0x08000000:leave", "-D", image});
}

} // namespace

int main(int argc, char **argv)
{
    if (!dfutest::start(argv))
        return 1;
    QCoreApplication app(argc, argv);
    dfutest::DfuTestBed bed;
    if (!bed.ok()) {
        std::fprintf(stderr, "%s\n", bed.error().c_str());
        return 1;
    }
    QTemporaryDir dir;
    const QString image = dir.filePath("image.bin");
    const std::vector<uint8_t> bytes = makeTestImage(kImageSize, "9.9.9");
    if (!dfutest::writeFile(image, bytes))
        return 1;

    int status = 0;
    {
        DfuBootLoader loader(bed.host(), {});
        std::string error;
        if (!loader.plug(&error))
            return 1;
        const double rate = controlTransfersPerSecond();
        status |= rate < 0;
        std::printf("BENCH dfu_control_transfers %.0f per_s\n", rate);

        loader.loadFlashContents(bytes);
        const double up = timed({"-a", "0", "-s", "0x08000000:229376", "-U", dir.filePath("readback.bin")});
        status |= up < 0;
        std::printf("BENCH dfu_util_upload_229376 %.3f s\n", up);
    }

    const double realistic = flash(bed, DfuLoader::Timing{}, image);
    status |= realistic < 0;
    std::printf("BENCH dfu_util_flash_229376 %.3f s\n", realistic);

    DfuLoader::Timing none;
    none.commandMs = none.eraseMs = none.programMs = none.manifestMs = 0;
    const double transport = flash(bed, none, image);
    status |= transport < 0;
    std::printf("BENCH dfu_util_flash_229376_no_poll_wait %.3f s\n", transport);
    return status;
}
