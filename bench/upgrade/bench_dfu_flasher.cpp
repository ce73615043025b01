// Flashes the largest image the window accepts into the emulated boot loader,
// once with QuorSet's flasher and once with Debian's dfu-util, and prints the
// wall time and throughput of each.
#include "cleanup_registry.h"
#include "loader_on_bus.h"
#include "preload.h"
#include "testbed.h"

#include "upgrade/dfu_flasher.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>

using namespace wheelemu;

namespace {

constexpr int kImageSize = 229376;
constexpr uint32_t kBase = 0x08000000;

QByteArray firmware()
{
    QByteArray image(kImageSize, '\0');
    for (int i = 0; i < kImageSize; ++i)
        image[i] = char((i * 131 + (i >> 8) * 7 + 0x11) & 0xFF);
    const uint32_t words[2] = {0x20020000, kBase + 0x101};
    for (int w = 0; w < 2; ++w)
        for (int i = 0; i < 4; ++i)
            image[4 * w + i] = char(words[w] >> (8 * i));
    return image;
}

bool landed(LoaderOnBus &loader, const QByteArray &image)
{
    const std::vector<uint8_t> flash = loader.flash(kBase, size_t(image.size()));
    return QByteArray(reinterpret_cast<const char *>(flash.data()), qsizetype(flash.size())) == image;
}

// An older firmware in the flash, so that both hosts have to erase.
void fillWithOldFirmware(LoaderOnBus &loader)
{
    loader.loadFlash(std::vector<uint8_t>(kImageSize, 0x00));
}

void quietDebug(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

void report(const char *host, double seconds)
{
    std::printf("BENCH dfu_flasher_%s %.3f s\n", host, seconds);
    std::printf("BENCH dfu_flasher_%s_rate %.0f B/s\n", host, kImageSize / seconds);
}

} // namespace

int main(int argc, char **argv)
{
    std::string error;
    if (!reexecUnderPreload(argv, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    QCoreApplication app(argc, argv);
    installSignalCleanup();
    std::unique_ptr<Testbed> testbed = Testbed::create(&error);
    if (!testbed) {
        std::fprintf(stderr, "testbed: %s\n", error.c_str());
        return 1;
    }
    LoaderOnBus loader(*testbed, DfuLoader::Config());
    loader.setRecording(false);
    if (!loader.plug(&error)) {
        std::fprintf(stderr, "boot loader: %s\n", error.c_str());
        return 1;
    }

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("firmware.bin"));
    const QByteArray image = firmware();
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }
    file.close();

    // QuorSet's flasher, with the options the upgrade worker passes.
    fillWithOldFirmware(loader);
    qInstallMessageHandler(quietDebug);
    QElapsedTimer timer;
    timer.start();
    const int result = dfuFlash(DfuFlashOptions(), path, {});
    const double ours = double(timer.nsecsElapsed()) / 1e9;
    if (result != 0 || !landed(loader, image)) {
        std::fprintf(stderr, "QuorSet flasher failed: result %d\n", result);
        return 1;
    }

    // dfu-util, against a freshly started loader with the old firmware back.
    if (!loader.replug(&error)) {
        std::fprintf(stderr, "boot loader: %s\n", error.c_str());
        return 1;
    }
    fillWithOldFirmware(loader);
    QProcess dfuUtil;
    dfuUtil.setProcessChannelMode(QProcess::MergedChannels);
    timer.restart();
    dfuUtil.start(QStringLiteral("dfu-util"),
                  {QStringLiteral("-a"), QStringLiteral("0"), QStringLiteral("-s"),
                   QStringLiteral("0x08000000:leave"), QStringLiteral("-D"), path});
    const bool finished = dfuUtil.waitForFinished(120000);
    const double theirs = double(timer.nsecsElapsed()) / 1e9;
    if (!finished || dfuUtil.exitStatus() != QProcess::NormalExit || dfuUtil.exitCode() != 0 ||
        !landed(loader, image)) {
        std::fprintf(stderr, "dfu-util failed:\n%s\n", dfuUtil.readAll().constData());
        return 1;
    }

    report("quorset", ours);
    report("dfu_util", theirs);
    std::printf("BENCH dfu_flasher_time_ratio %.2f quorset/dfu_util\n", ours / theirs);
    return 0;
}
