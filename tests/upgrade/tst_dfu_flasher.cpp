// dfuFlash and the look for the boot loader against the emulated loader, through
// the real libusb: the wire, the flash, the result, the trace and the handles.
#include "loader_on_bus.h"
#include "preload.h"
#include "table_rows.h"
#include "testbed.h"
#include "window_probe.h"

#include "upgrade/dfu_flasher.h"
#include "upgrade/dfu_probe.h"

#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace wheelemu;
using wheeltest::bytesOf;

namespace {

constexpr uint32_t kBase = 0x08000000;

// An image for `base` that passes the vector-table check, with contents that
// differ from block to block so that a block written to the wrong address
// shows.
QByteArray firmware(int size, uint32_t base = kBase)
{
    QByteArray image(size, '\0');
    for (int i = 0; i < size; ++i)
        image[i] = char((i * 131 + (i >> 8) * 7 + 0x11) & 0xFF);
    const uint32_t stackPointer = 0x20020000, reset = base + 0x101;
    for (int i = 0; i < 4; ++i) {
        image[i] = char(stackPointer >> (8 * i));
        image[4 + i] = char(reset >> (8 * i));
    }
    return image;
}

// Descriptors this process holds, sockets aside (the testbed's thread closes
// the emulated nodes' ioctl connections in its own time); one closed before
// its readlink has no target and is not held.
QStringList openFiles()
{
    QStringList targets;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &fd : fds.entryList(QDir::AllEntries | QDir::NoDotAndDotDot)) {
        const QString target = QFile::symLinkTarget(fds.filePath(fd));
        if (!target.isEmpty() && !target.contains(QLatin1String("socket:")))
            targets << target;
    }
    return targets;
}

// What was opened since `before` and is still open once a look finds nothing
// new or 5 s are up: another thread may hold a descriptor for a moment (GLib
// on the testbed's thread), a leak holds it for good. One verdict from one
// look, as QTRY would fail on a descriptor that came and went.
QStringList filesLeftOpen(const QStringList &before)
{
    const QDeadlineTimer deadline(5000);
    for (;;) {
        QStringList left = before, fresh;
        for (const QString &file : openFiles())
            if (!left.removeOne(file))
                fresh << file;
        if (fresh.isEmpty() || deadline.hasExpired())
            return fresh;
        QTest::qWait(50);
    }
}

QStringList *capturedLog = nullptr;

void captureDebug(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg && capturedLog)
        capturedLog->append(message);
}

struct FlashRun
{
    int result = 0;
    QList<int> progress;
    QStringList log;
    QStringList filesBefore;
};

FlashRun runFlash(const DfuFlashOptions &options, const QString &path,
                  const std::function<void(int)> &onProgress = {}, QString *failure = nullptr)
{
    FlashRun run;
    capturedLog = &run.log;
    const QtMessageHandler previous = qInstallMessageHandler(captureDebug);
    run.filesBefore = openFiles();
    const auto progress = [&](int p) {
        run.progress << p;
        if (onProgress)
            onProgress(p);
    };
    run.result = dfuFlash(options, path, progress, failure);
    qInstallMessageHandler(previous);
    capturedLog = nullptr;
    return run;
}

// Faults the loader does not offer itself, played in its place.
enum Fault
{
    NoFault,
    DescriptorShort,         // the functional descriptor comes back with 6 bytes
    StatusRefusedAfterBlock, // GETSTATUS stalls once a data block was sent
    ThirdBlockRefused,       // the download of block 3 stalls
    FirstSetAddressRefused,
    FirstEraseRefused,
    UploadCorrupted,     // one byte of the first read-back block differs
    SecondUploadRefused, // the second read-back block stalls
};

constexpr uint8_t kDnload = 1, kUpload = 2, kGetStatus = 3, kClrStatus = 4;

bool isClassRequest(const UsbSetup &s, uint8_t request)
{
    return ControlTransfer{s, {}, false}.isClass(request);
}

void installFault(LoaderOnBus &loader, Fault fault)
{
    // Only the USB handler thread touches it, one request at a time.
    auto seen = std::make_shared<std::pair<bool, int>>(false, 0); // a data block sent; commands seen
    loader.setHook(
        [fault, seen](const UsbSetup &s, const std::vector<uint8_t> &out) -> std::optional<UsbControlResult> {
            const bool download = isClassRequest(s, kDnload) && !s.deviceToHost();
            const bool command = download && s.wValue == 0 && !out.empty();
            seen->first = seen->first || (download && s.wValue >= 2 && !out.empty());
            seen->second += command ? 1 : 0;
            const bool stall =
                (fault == StatusRefusedAfterBlock && seen->first && isClassRequest(s, kGetStatus)) ||
                (fault == ThirdBlockRefused && download && s.wValue == 3) ||
                (fault == FirstSetAddressRefused && command && seen->second == 1) ||
                (fault == FirstEraseRefused && command && out[0] == 0x41) ||
                (fault == SecondUploadRefused && isClassRequest(s, kUpload) && s.wValue == 3);
            return stall ? std::optional<UsbControlResult>(UsbControlResult::stall()) : std::nullopt;
        });
    loader.setRewrite([fault](const UsbSetup &s, UsbControlResult &answer) {
        if (fault == DescriptorShort && s.bmRequestType == 0x81 && s.bRequest == 6 && s.wValue == 0x2100)
            answer.data.resize(std::min<size_t>(answer.data.size(), 6));
        if (fault == UploadCorrupted && isClassRequest(s, kUpload) && s.wValue == 2 &&
            answer.data.size() > 100)
            answer.data[100] ^= 0x01;
    });
}

using Block = QPair<int, int>; // number, length
using Transfers = std::vector<ControlTransfer>;

// What `of` makes of each transfer `keep` takes, in order.
template<typename Keep, typename Of> auto collect(const Transfers &transfers, Keep keep, Of of)
{
    QList<std::invoke_result_t<Of, const ControlTransfer &>> out;
    for (const ControlTransfer &t : transfers)
        if (keep(t))
            out << of(t);
    return out;
}

// The data blocks the loader took, in order.
QList<Block> acceptedBlocks(const Transfers &transfers)
{
    return collect(
        transfers, [](const ControlTransfer &t) { return t.isDataBlock() && !t.stalled; },
        [](const ControlTransfer &t) {
            return Block{t.setup.wValue, t.setup.wLength};
        });
}

// `size` bytes from `offset` on, in blocks of `length` numbered from 2.
QList<Block> blocksOf(int offset, int size, int length)
{
    QList<Block> blocks;
    for (int number = 2; offset < size; offset += length, ++number)
        blocks << Block{number, std::min(length, size - offset)};
    return blocks;
}

QList<QByteArray> commandPayloads(const Transfers &transfers)
{
    return collect(transfers, std::mem_fn(&ControlTransfer::isCommand),
                   [](const ControlTransfer &t) { return bytesOf(t.data); });
}

bool sentLeaveRequest(const Transfers &transfers)
{
    return std::any_of(transfers.begin(), transfers.end(),
                       [](const ControlTransfer &t) { return t.isDownload() && t.setup.wLength == 0; });
}

// The size the device states, the fault played, the flasher's bound, the
// length of the blocks sent.
constexpr std::tuple<const char *, int, Fault, int, int> kTransferSizes[] = {
    {"device states 1024", 1024, NoFault, 2048, 1024},
    {"short descriptor, smaller bound", 2048, DescriptorShort, 1024, 1024},
    {"bound below the device's size", 2048, NoFault, 512, 512}};

// Base, image size, page size, then the DfuSe commands: Set Address, the
// erases, Set Address again before the data, the verify's and the leave's.
constexpr std::tuple<const char *, uint32_t, int, int, const char *> kErasePlans[] = {
    {"8193 bytes, two pages", kBase, 8193, 8192,
     "2100000008 4100000008 4100200008 2100000008 2100000008 2100000008"},
    {"page size 0 counts as 8192", kBase, 8192, 0, "2100000008 4100000008 2100000008 2100000008 2100000008"},
    {"base inside a page", 0x08001000u, 8192, 8192,
     "2100100008 4100000008 4100200008 2100100008 2100100008 2100100008"},
    {"small pages", kBase, 3000, 1024,
     "2100000008 4100000008 4100040008 4100080008 2100000008 2100000008 2100000008"}};

// The first block stalls above a length: the lengths tried, and where the
// pointer goes after the halved block.
const QList<int> kHalvings{2048, 1024, 512, 256, 128, 64, 32};
const std::tuple<const char *, int, int, QList<int>, const char *> kFirstBlockStalls[] = {
    {"stalls above 40", 40, 0, kHalvings, "2120000008"},
    {"stalls at every length", 1, DfuBlockDownloadFailed, kHalvings, ""}};

// Setup (the loader's own faults, "unplug/cancel at P" after that progress,
// options, its place on the bus, its serial against 2059326B4E31, the image),
// the fault played in the loader's place, result, progress, blocks read back,
// erases, a line logged (empty: none), what the user is told. In dfuIDLE the
// first CLRSTATUS leaves dfuERROR, the second clears it.
const QList<int> kAll{39, 78, 96, 100}, kNone, kReadBack{2, 3, 4}, kToVerify{39, 78, 96}, kFirst{39};
const QString kExited = QStringLiteral("Exiting flash function with code: -%1");
const QString kRefused = QStringLiteral("Refusing to flash: vector table sanity failed: ");
using FaultRow = std::tuple<const char *, QString, Fault, int, QList<int>, QList<int>, int, QString, QString>;
// clang-format off
const FaultRow kFaults[] = {
    {"loader in dfuIDLE", "", NoFault, 0, kAll, kReadBack, 1, "Initial DFU status: state= 10 status= 14", ""},
    {"loader in dfuERROR", "start in error", NoFault, 0, kAll, kReadBack, 1,
     "Initial DFU status: state= 2 status= 0", ""},
    {"strict leave", "strict leave", NoFault, 0, kAll, kReadBack, 1, "Verify OK", ""},
    {"read-protected", "read-protected", NoFault, 0, kAll, {2}, 1,
     "DFU_UPLOAD blocked (RDP?), bypassing verification and proceeding to manifest", ""},
    {"verify off", "no verify", NoFault, 0, kAll, kNone, 1, "Submitting leave request (ZLP)", ""},
    {"serial matches once trimmed", "serial padded", NoFault, 0, kAll, kReadBack, 1, "Verify OK", ""},
    {"at its place on the bus", "its place", NoFault, 0, kAll, kReadBack, 1, "Verify OK", ""},
    {"read back differs", "", UploadCorrupted, DfuVerifyMismatch, kToVerify, kReadBack, 1,
     "Verify read complete: got= 5000 expected= 5000", "the flash differs from the image at 0x08000064"},
    {"second read refused", "", SecondUploadRefused, DfuVerifyLength, kToVerify, {2, 3}, 1,
     "DFU_UPLOAD failed with rc= -9 , got= 2048 / 5000",
     "cannot read the image back: 2048 of 5000 bytes came"},
    {"dfuERROR on the second block", "error on 2", NoFault, DfuBlockWriteError, kFirst, kNone, 1,
     kExited.arg(108), "cannot write block 3 at 0x08000800: the boot loader reported errPROG"},
    {"block stays busy", "stuck on 2", NoFault, DfuBlockTimeout, kFirst, kNone, 1, kExited.arg(109),
     "cannot write block 3 at 0x08000800: the boot loader stayed busy"},
    {"status refused after a block", "", StatusRefusedAfterBlock, DfuBlockStatusFailed, kNone, kNone, 1,
     kExited.arg(106), "no status after writing block 2 at 0x08000000: the boot loader stalled"},
    {"block 3 stalls", "", ThirdBlockRefused, DfuBlockDownloadFailed, kFirst, kNone, 1,
     "DFU_DNLOAD failed with code: -9", "cannot send block 3 at 0x08000800: the boot loader stalled"},
    {"unplugged after the first block", "unplug at 39", NoFault, DfuBlockDownloadFailed, kFirst, kNone, 1,
     kExited.arg(105), ""},
    {"cancelled after the first block", "cancel at 39", NoFault, DfuCancelled, kFirst, kNone, 1,
     kExited.arg(113), "the update was stopped"},
    {"Set Address refused", "", FirstSetAddressRefused, DfuSetAddressFailed, kNone, kNone, 0,
     "Set Address command failed with rc= -9",
     "cannot set the write address 0x08000000: the boot loader stalled"},
    {"Erase refused", "", FirstEraseRefused, DfuEraseFailed, kNone, kNone, 1,
     "Erase command failed with rc= -9  at 0x8000000",
     "cannot erase page 0x08000000: the boot loader stalled"},
    {"7-byte image", "7 bytes", NoFault, DfuVectorTableRefused, kNone, kNone, 0,
     kRefused + "file too small for vector table", "not a valid firmware: file too small for vector table"},
    {"stack pointer outside SRAM", "bad stack", NoFault, DfuVectorTableRefused, kNone, kNone, 0,
     kRefused + "invalid initial SP 0x10020000 (SRAM 20000000..200c0000)", ""},
    {"image for another base", "other base", NoFault, DfuVectorTableRefused, kNone, kNone, 0,
     kRefused + "reset vector 0x8010101 outside programmed range [8000000..8001388)", ""},
    {"missing file", "no file", NoFault, DfuFileOpenFailed, kNone, kNone, 0, "", ""},
    {"no loader on the bus", "off the bus", NoFault, DfuNoDevice, kNone, kNone, 0, "",
     "the boot loader is not on the bus"},
    {"another product id", "product DF12", NoFault, DfuNoDevice, kNone, kNone, 0, "", ""},
    {"another place on the bus", "another place", NoFault, DfuNoDevice, kNone, kNone, 0, "", ""},
    {"serial differs in case", "serial lower case", NoFault, DfuNoDevice, kNone, kNone, 0, "", ""}};
// clang-format on

} // namespace

class TestDfuFlasher : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        std::string error;
        testbed_ = Testbed::create(&error);
        QVERIFY2(testbed_, error.c_str());
        QVERIFY(files_.isValid());
    }
    void cleanup() { loader_.reset(); }
    void cleanupTestCase() { testbed_.reset(); }

    void transferSize_data() { wheeltest::addRows(kTransferSizes); }
    void transferSize()
    {
        const auto &[tag, deviceSize, fault, bound, length] = wheeltest::rowOf(kTransferSizes);
        DfuLoader::Config config;
        config.transferSize = uint16_t(deviceSize);
        LoaderOnBus &loader = plugLoader(config);
        installFault(loader, fault);
        DfuFlashOptions options;
        options.transferSize = bound;
        // Only the wire is looked at: a device places blocks by its own size.
        options.verify = false;

        const FlashRun run = runFlash(options, writeImage(firmware(5000)));

        QCOMPARE(run.result, 0);
        QVERIFY(run.log.contains(QStringLiteral("Effective transfer size= %1").arg(length)));
        QCOMPARE(acceptedBlocks(loader.transfers()), blocksOf(0, 5000, length));
    }

    void addressAndErase_data() { wheeltest::addRows(kErasePlans); }
    void addressAndErase()
    {
        const auto &[tag, base, size, pageSize, commandHex] = wheeltest::rowOf(kErasePlans);
        QList<QByteArray> commands;
        for (const QByteArray &hex : QByteArray(commandHex).split(' '))
            commands << QByteArray::fromHex(hex);
        LoaderOnBus &loader = plugLoader();
        // An older firmware fills the flash: programming only clears bits, so
        // every page the image touches must have been erased for it to land.
        loader.loadFlash(std::vector<uint8_t>(4 * 8192, 0x00));
        DfuFlashOptions options;
        options.baseAddress = base;
        options.pageSize = pageSize;
        const QByteArray image = firmware(size, base);

        QCOMPARE(runFlash(options, writeImage(image)).result, 0);
        QCOMPARE(commandPayloads(loader.transfers()), commands);
        QCOMPARE(bytesOf(loader.flash(base, size_t(size))), image);
    }

    void firstBlockStall_data() { wheeltest::addRows(kFirstBlockStalls); }
    void firstBlockStall()
    {
        const auto &[tag, stallAbove, result, tries, pointerHex] = wheeltest::rowOf(kFirstBlockStalls);
        DfuLoader::Config config;
        config.faults.stallFirstBlockAbove = uint16_t(stallAbove);
        LoaderOnBus &loader = plugLoader(config);
        const QByteArray image = firmware(5000);

        const FlashRun run = runFlash(DfuFlashOptions(), writeImage(image));

        QCOMPARE(run.result, result);
        const Transfers transfers = loader.transfers();
        QList<int> firstTries;
        auto t = transfers.begin();
        for (; t != transfers.end() && firstTries.size() < tries.size(); ++t) {
            if (!t->isDataBlock())
                continue;
            QCOMPARE(int(t->setup.wValue), 2);
            QCOMPARE(bytesOf(t->data), image.left(t->setup.wLength));
            firstTries << t->setup.wLength;
        }
        QCOMPARE(firstTries, tries);
        for (int i = 1; i < tries.size(); ++i)
            QVERIFY(run.log.contains(
                QStringLiteral("First block failed PIPE, retry with %1 bytes").arg(tries[i])));
        if (result != 0) {
            QVERIFY(run.log.contains(kExited.arg(105)));
            QVERIFY(run.progress.isEmpty());
            QVERIFY(!sentLeaveRequest(transfers));
            return;
        }
        // After the halved block the pointer moves behind it and the numbering
        // starts over at block 2 with full blocks.
        const auto next =
            std::find_if(t, transfers.end(), [](const ControlTransfer &c) { return c.isDownload(); });
        QVERIFY(next != transfers.end() && next->isCommand());
        QCOMPARE(bytesOf(next->data), QByteArray::fromHex(pointerHex));
        QCOMPARE(acceptedBlocks(Transfers(next, transfers.end())), blocksOf(tries.last(), 5000, 2048));
        QCOMPARE(bytesOf(loader.flash(kBase, 5000)), image);
        QVERIFY(loader.leaving());
    }

    void faults_data() { wheeltest::addRows(kFaults); }
    void faults()
    {
        const auto &[tag, setup, fault, result, progress, uploads, erases, logLine, failure] =
            wheeltest::rowOf(kFaults);
        const QString s = setup;
        const int at = s.section(' ', -1).toInt(); // the number a setup ends in
        DfuLoader::Config config;
        config.faults.startInError = s == QLatin1String("start in error");
        config.faults.readProtected = s == QLatin1String("read-protected");
        config.faults.strictLeave = s == QLatin1String("strict leave");
        config.faults.errorOnBlock = s.startsWith(QLatin1String("error on ")) ? at : 0;
        config.faults.stuckOnBlock = s.startsWith(QLatin1String("stuck on ")) ? at : 0;
        const int unplugAt = s.startsWith(QLatin1String("unplug at ")) ? at : 0;
        const int cancelAt = s.startsWith(QLatin1String("cancel at ")) ? at : 0;
        std::atomic<bool> cancel{false};
        const bool offBus = s == QLatin1String("off the bus");
        DfuFlashOptions options;
        options.verify = s != QLatin1String("no verify");
        options.productId = s == QLatin1String("product DF12") ? 0xDF12 : options.productId;
        options.cancel = &cancel;
        DfuUsbFunction::Identity identity;
        if (s.startsWith(QLatin1String("serial"))) {
            options.serialFilter = QStringLiteral("2059326B4E31");
            identity.serial = (s.endsWith(QLatin1String("case")) ? options.serialFilter.toLower()
                                                                 : " " + options.serialFilter + " ")
                                  .toStdString();
        }
        LoaderOnBus &loader = plugLoader(config, identity);
        installFault(loader, fault);
        if (offBus)
            loader.unplug();
        if (s.endsWith(QLatin1String(" place"))) {
            const std::vector<UsbLocation> loaders = bootLoadersOnBus();
            QCOMPARE(int(loaders.size()), 1);
            options.location = loaders.front();
            options.location.address += s == QLatin1String("another place") ? 1 : 0;
        }
        const QByteArray good = firmware(5000);
        const QByteArray image = s == QLatin1String("7 bytes")      ? good.left(7)
                                 : s == QLatin1String("bad stack")  ? QByteArray(good).replace(3, 1, "\x10")
                                 : s == QLatin1String("other base") ? firmware(5000, 0x08010000)
                                                                    : good;
        const QString path =
            s == QLatin1String("no file") ? files_.filePath(QStringLiteral("absent.bin")) : writeImage(image);

        QString told;
        const auto onProgress = [&](int p) {
            if (p == unplugAt)
                loader.unplug();
            cancel = cancel || p == cancelAt;
        };
        const FlashRun run = runFlash(options, path, onProgress, &told);

        QCOMPARE(run.result, result);
        QCOMPARE(told.isEmpty(), result == 0);
        if (!failure.isEmpty())
            QCOMPARE(told, failure);
        QVERIFY2(logLine.isEmpty() ? run.log.isEmpty() : run.log.contains(logLine),
                 qPrintable(run.log.join('\n')));
        QCOMPARE(run.progress, progress);
        const Transfers transfers = loader.transfers();
        QCOMPARE(collect(transfers, std::mem_fn(&ControlTransfer::isUpload),
                         [](const ControlTransfer &t) { return int(t.setup.wValue); }),
                 uploads);
        const QList<QByteArray> commands = commandPayloads(transfers);
        QCOMPARE(int(std::count_if(commands.begin(), commands.end(),
                                   [](const QByteArray &c) { return c.startsWith('\x41'); })),
                 erases);
        // Every exit gives back the interface, the handle and every descriptor.
        QCOMPARE(filesLeftOpen(run.filesBefore), QStringList());
        if (result == 0) {
            QCOMPARE(acceptedBlocks(transfers), blocksOf(0, 5000, 2048));
            QVERIFY(run.log.contains(QStringLiteral("Block 3 sent= 4096 / 5000 ( 78 %)")));
            QCOMPARE(bytesOf(loader.flash(kBase, 5000)), image);
            // Whatever the read-back left behind, the leave is a Set Address to
            // the base, the request itself (block 5 without data), then
            // GETSTATUS until the loader leaves; the loader took it.
            const auto isDownload = std::mem_fn(&ControlTransfer::isDownload);
            const auto last = std::find_if(transfers.rbegin(), transfers.rend(), isDownload);
            QVERIFY(last != transfers.rend() && last != transfers.rbegin() && !last->stalled);
            QCOMPARE(Block(last->setup.wValue, last->setup.wLength), Block(5, 0));
            QVERIFY(std::prev(last)->isClass(kGetStatus));
            const auto pointer = std::find_if(std::next(last), transfers.rend(), isDownload);
            QVERIFY(pointer != transfers.rend() && pointer->isCommand());
            QCOMPARE(bytesOf(pointer->data), QByteArray::fromHex("2100000008"));
            QVERIFY(loader.leaving());
            QCOMPARE(run.log.last(), QStringLiteral("Submitting leave request (ZLP)"));
            return;
        }
        QVERIFY(!sentLeaveRequest(transfers));
        QVERIFY(!loader.leaving());
        if (result == DfuVectorTableRefused || result == DfuFileOpenFailed || result == DfuNoDevice) {
            // No DFU request went out (at most the serial number was read), and
            // nothing reached the memory.
            QVERIFY(std::none_of(transfers.begin(), transfers.end(), [](const ControlTransfer &t) {
                return (t.setup.bmRequestType & 0x60) == 0x20;
            }));
            QCOMPARE(bytesOf(loader.flash(kBase, 16)), QByteArray(16, char(0xFF)));
        }
        if (result == DfuBlockWriteError)
            QVERIFY(transfers.back().isClass(kClrStatus));

        // The same loader, back on the bus if it was pulled, takes a new flash.
        installFault(loader, NoFault);
        std::string error;
        if (unplugAt || offBus)
            QVERIFY2(loader.replug(&error), error.c_str());
        const QByteArray next = firmware(3000);
        QCOMPARE(runFlash(DfuFlashOptions(), writeImage(next)).result, 0);
        QCOMPARE(bytesOf(loader.flash(kBase, 3000)), next);
    }

    // The window's look for the boot loader never talks to the device, and
    // gives back all it opened.
    void probeFollowsTheBus()
    {
        LoaderOnBus &loader = plugLoader();
        std::string error;
        for (const bool on : {false, true, false, true}) {
            if (on)
                QVERIFY2(loader.plug(&error), error.c_str());
            else
                loader.unplug();
            const QStringList before = openFiles();
            QCOMPARE(bootLoaderPresent(), on);
            QVERIFY(loader.transfers().empty());
            QCOMPARE(filesLeftOpen(before), QStringList());
        }
    }

private:
    LoaderOnBus &plugLoader(const DfuLoader::Config &config = {},
                            const DfuUsbFunction::Identity &identity = {})
    {
        loader_ = std::make_unique<LoaderOnBus>(*testbed_, config, identity);
        std::string error;
        if (!loader_->plug(&error))
            qFatal("cannot plug the boot loader: %s", error.c_str());
        return *loader_;
    }
    QString writeImage(const QByteArray &image)
    {
        const QString path = files_.filePath(QStringLiteral("image%1.bin").arg(++fileNumber_));
        if (!wheeltest::writeFile(path, image))
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    std::unique_ptr<Testbed> testbed_;
    std::unique_ptr<LoaderOnBus> loader_;
    QTemporaryDir files_;
    int fileNumber_ = 0;
};

int main(int argc, char **argv)
{
    std::string error;
    if (!reexecUnderPreload(argv, &error)) {
        fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    TestDfuFlasher test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_dfu_flasher.moc"
