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
    const uint32_t stackPointer = 0x20020000;
    const uint32_t reset = base + 0x101;
    for (int i = 0; i < 4; ++i) {
        image[i] = char(stackPointer >> (8 * i));
        image[4 + i] = char(reset >> (8 * i));
    }
    return image;
}

// Descriptors this process holds, sockets aside: the testbed's own thread
// accepts and closes the ioctl connections of the emulated nodes in its own
// time. A descriptor closed between the listing and its readlink has no
// target left and is not held.
QStringList openFiles()
{
    QStringList targets;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &fd : fds.entryList(QDir::AllEntries | QDir::NoDotAndDotDot)) {
        const QString target = QFile::symLinkTarget(fds.filePath(fd));
        if (!target.isEmpty() && !target.contains(QLatin1String("socket:")))
            targets << target;
    }
    targets.sort();
    return targets;
}

// What is open now and was not before. Other threads of the test (the
// testbed's, a previous row's libusb context winding down) may close
// descriptors of their own meanwhile; only a new one is a leak.
QStringList filesOpenedSince(QStringList before)
{
    QStringList opened;
    for (const QString &file : openFiles()) {
        if (!before.removeOne(file))
            opened << file;
    }
    return opened;
}

// What is still open of what was opened since, once a look finds nothing new
// or the time is up. Another thread may hold a descriptor of its own for a
// moment (GLib reading its charset tables on the testbed's thread, for one);
// a leak holds it for good. One verdict from one look: QTRY would look again
// after it saw a clean list and fail on a descriptor that came and went.
QStringList filesLeftOpen(const QStringList &before)
{
    QDeadlineTimer deadline(5000);
    QStringList opened = filesOpenedSince(before);
    while (!opened.isEmpty() && !deadline.hasExpired()) {
        QTest::qWait(50);
        opened = filesOpenedSince(before);
    }
    return opened;
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
    run.result = dfuFlash(
        options, path,
        [&](int p) {
            run.progress << p;
            if (onProgress)
                onProgress(p);
        },
        failure);
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

// The data blocks the loader took, in order.
QList<Block> acceptedBlocks(const std::vector<ControlTransfer> &transfers)
{
    QList<Block> blocks;
    for (const ControlTransfer &t : transfers)
        if (t.isDataBlock() && !t.stalled)
            blocks << Block{t.setup.wValue, t.setup.wLength};
    return blocks;
}

QList<QByteArray> commandPayloads(const std::vector<ControlTransfer> &transfers)
{
    QList<QByteArray> payloads;
    for (const ControlTransfer &t : transfers)
        if (t.isCommand())
            payloads << bytesOf(t.data);
    return payloads;
}

QList<int> uploadBlocks(const std::vector<ControlTransfer> &transfers)
{
    QList<int> blocks;
    for (const ControlTransfer &t : transfers)
        if (t.isUpload())
            blocks << t.setup.wValue;
    return blocks;
}

bool sentLeaveRequest(const std::vector<ControlTransfer> &transfers)
{
    return std::any_of(transfers.begin(), transfers.end(),
                       [](const ControlTransfer &t) { return t.isDownload() && t.setup.wLength == 0; });
}

// Hex strings separated by spaces.
QList<QByteArray> hexList(const char *hex)
{
    QList<QByteArray> list;
    for (const QByteArray &h : QByteArray(hex).split(' '))
        list << QByteArray::fromHex(h);
    return list;
}

// The size the device states, the fault played, the flasher's bound, the
// lengths of the blocks sent.
const std::tuple<const char *, int, Fault, int, QList<int>> kTransferSizes[] = {
    {"device states 1024", 1024, NoFault, 2048, {1024, 1024, 1024, 1024, 904}},
    {"device states 4096", 4096, NoFault, 2048, {2048, 2048, 904}},
    {"short descriptor, smaller bound", 2048, DescriptorShort, 1024, {1024, 1024, 1024, 1024, 904}},
    {"bound below the device's size",
     2048,
     NoFault,
     512,
     {512, 512, 512, 512, 512, 512, 512, 512, 512, 392}}};

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
    {"stalls above 1024", 1024, 0, {2048, 1024}, "2100040008"},
    {"stalls above 40", 40, 0, kHalvings, "2120000008"},
    {"stalls at every length", 1, DfuBlockDownloadFailed, kHalvings, ""}};

// Setup (the loader's own faults, "unplug/cancel at P" after that progress,
// options, its place on the bus, its serial against 2059326B4E31), the fault
// played in the loader's place, the image (empty: no file), result, a line
// logged (empty: none), progress, blocks read back, erases, what the user is
// told. In dfuIDLE the first CLRSTATUS leaves dfuERROR, the second clears it.
const QByteArray kGood = firmware(5000);
const QByteArray kBadStack = QByteArray(kGood).replace(3, 1, "\x10"); // 0x10020000
const QList<int> kAll{39, 78, 96, 100}, kNone, kReadBack{2, 3, 4}, kUptoVerify{39, 78, 96}, kFirstBlock{39},
    kFirstRead{2}, kTwoReads{2, 3};
const QString kExited = QStringLiteral("Exiting flash function with code: -%1");
const QString kRefused = QStringLiteral("Refusing to flash: vector table sanity failed: ");
const std::tuple<const char *, QString, Fault, QByteArray, int, QString, QList<int>, QList<int>, int, QString>
    kFaults[] = {
        {"loader in dfuIDLE", "", NoFault, kGood, 0, "Initial DFU status: state= 10 status= 14", kAll,
         kReadBack, 1, ""},
        {"loader in dfuERROR", "start in error", NoFault, kGood, 0, "Initial DFU status: state= 2 status= 0",
         kAll, kReadBack, 1, ""},
        {"strict leave", "strict leave", NoFault, kGood, 0, "Verify OK", kAll, kReadBack, 1, ""},
        {"read-protected", "read-protected", NoFault, kGood, 0,
         "DFU_UPLOAD blocked (RDP?), bypassing verification and proceeding to manifest", kAll, kFirstRead, 1,
         ""},
        {"verify off", "no verify", NoFault, kGood, 0, "Submitting leave request (ZLP)", kAll, kNone, 1, ""},
        {"serial matches once trimmed", "serial padded", NoFault, kGood, 0, "Verify OK", kAll, kReadBack, 1,
         ""},
        {"at its place on the bus", "its place", NoFault, kGood, 0, "Verify OK", kAll, kReadBack, 1, ""},
        {"read back differs", "", UploadCorrupted, kGood, DfuVerifyMismatch,
         "Verify read complete: got= 5000 expected= 5000", kUptoVerify, kReadBack, 1,
         "the flash differs from the image at 0x08000064"},
        {"second read refused", "", SecondUploadRefused, kGood, DfuVerifyLength,
         "DFU_UPLOAD failed with rc= -9 , got= 2048 / 5000", kUptoVerify, kTwoReads, 1,
         "cannot read the image back: 2048 of 5000 bytes came"},
        {"dfuERROR on the second block", "error on 2", NoFault, kGood, DfuBlockWriteError, kExited.arg(108),
         kFirstBlock, kNone, 1, "cannot write block 3 at 0x08000800: the boot loader reported errPROG"},
        {"block stays busy", "stuck on 2", NoFault, kGood, DfuBlockTimeout, kExited.arg(109), kFirstBlock,
         kNone, 1, "cannot write block 3 at 0x08000800: the boot loader stayed busy"},
        {"status refused after a block", "", StatusRefusedAfterBlock, kGood, DfuBlockStatusFailed,
         kExited.arg(106), kNone, kNone, 1,
         "no status after writing block 2 at 0x08000000: the boot loader stalled"},
        {"block 3 stalls", "", ThirdBlockRefused, kGood, DfuBlockDownloadFailed,
         "DFU_DNLOAD failed with code: -9", kFirstBlock, kNone, 1,
         "cannot send block 3 at 0x08000800: the boot loader stalled"},
        {"unplugged after the first block", "unplug at 39", NoFault, kGood, DfuBlockDownloadFailed,
         kExited.arg(105), kFirstBlock, kNone, 1, ""},
        {"cancelled after the first block", "cancel at 39", NoFault, kGood, DfuCancelled, kExited.arg(113),
         kFirstBlock, kNone, 1, "the update was stopped"},
        {"Set Address refused", "", FirstSetAddressRefused, kGood, DfuSetAddressFailed,
         "Set Address command failed with rc= -9", kNone, kNone, 0,
         "cannot set the write address 0x08000000: the boot loader stalled"},
        {"Erase refused", "", FirstEraseRefused, kGood, DfuEraseFailed,
         "Erase command failed with rc= -9  at 0x8000000", kNone, kNone, 1,
         "cannot erase page 0x08000000: the boot loader stalled"},
        {"7-byte image", "", NoFault, kGood.left(7), DfuVectorTableRefused,
         kRefused + "file too small for vector table", kNone, kNone, 0,
         "not a valid firmware: file too small for vector table"},
        {"stack pointer outside SRAM", "", NoFault, kBadStack, DfuVectorTableRefused,
         kRefused + "invalid initial SP 0x10020000 (SRAM 20000000..200c0000)", kNone, kNone, 0, ""},
        {"image for another base", "", NoFault, firmware(5000, 0x08010000), DfuVectorTableRefused,
         kRefused + "reset vector 0x8010101 outside programmed range [8000000..8001388)", kNone, kNone, 0,
         ""},
        {"missing file", "", NoFault, QByteArray(), DfuFileOpenFailed, "", kNone, kNone, 0, ""},
        {"no loader on the bus", "off the bus", NoFault, kGood, DfuNoDevice, "", kNone, kNone, 0,
         "the boot loader is not on the bus"},
        {"another product id", "product DF12", NoFault, kGood, DfuNoDevice, "", kNone, kNone, 0, ""},
        {"another place on the bus", "another place", NoFault, kGood, DfuNoDevice, "", kNone, kNone, 0, ""},
        {"serial differs in case", "serial lower case", NoFault, kGood, DfuNoDevice, "", kNone, kNone, 0,
         ""}};

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
    void cleanupTestCase()
    {
        loader_.reset();
        testbed_.reset();
    }

    void transferSize_data() { wheeltest::addRows(kTransferSizes); }
    void transferSize()
    {
        const auto &[tag, deviceSize, fault, bound, lengths] = wheeltest::rowOf(kTransferSizes);
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
        QVERIFY(run.log.contains(QStringLiteral("Effective transfer size= %1").arg(lengths.first())));
        QList<Block> expected;
        for (int i = 0; i < lengths.size(); ++i)
            expected << Block{2 + i, lengths[i]};
        QCOMPARE(acceptedBlocks(loader.transfers()), expected);
    }

    void addressAndErase_data() { wheeltest::addRows(kErasePlans); }
    void addressAndErase()
    {
        const auto &[tag, base, size, pageSize, commandHex] = wheeltest::rowOf(kErasePlans);
        const QList<QByteArray> commands = hexList(commandHex);
        LoaderOnBus &loader = plugLoader();
        // An older firmware fills the flash: programming only clears bits, so
        // every page the image touches must have been erased for it to land.
        loader.loadFlash(std::vector<uint8_t>(4 * 8192, 0x00));
        DfuFlashOptions options;
        options.baseAddress = base;
        options.pageSize = pageSize;
        const QByteArray image = firmware(size, base);

        const FlashRun run = runFlash(options, writeImage(image));

        QCOMPARE(run.result, 0);
        QCOMPARE(commandPayloads(loader.transfers()), commands);
        QCOMPARE(bytesOf(loader.flash(base, size_t(size))), image);
        QVERIFY(run.log.contains(QStringLiteral("Verify OK")));
        QVERIFY(loader.leaving());
    }

    void firstBlockStall_data() { wheeltest::addRows(kFirstBlockStalls); }
    void firstBlockStall()
    {
        const auto &[tag, stallAbove, result, tries, pointerHex] = wheeltest::rowOf(kFirstBlockStalls);
        const QByteArray pointerAfter = QByteArray::fromHex(pointerHex);
        DfuLoader::Config config;
        config.faults.stallFirstBlockAbove = uint16_t(stallAbove);
        LoaderOnBus &loader = plugLoader(config);
        const QByteArray image = firmware(5000);

        const FlashRun run = runFlash(DfuFlashOptions(), writeImage(image));

        QCOMPARE(run.result, result);
        const std::vector<ControlTransfer> transfers = loader.transfers();
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
            QVERIFY(run.log.contains(QStringLiteral("Exiting flash function with code: -105")));
            QVERIFY(run.progress.isEmpty());
            QVERIFY(!sentLeaveRequest(transfers));
            return;
        }
        // After the halved block the pointer moves behind it and the numbering
        // starts over at block 2 with full blocks.
        const auto next =
            std::find_if(t, transfers.end(), [](const ControlTransfer &c) { return c.isDownload(); });
        QVERIFY(next != transfers.end() && next->isCommand());
        QCOMPARE(bytesOf(next->data), pointerAfter);
        QList<Block> expected;
        for (int offset = tries.last(), number = 2; offset < 5000; offset += 2048, ++number)
            expected << Block{number, std::min(2048, 5000 - offset)};
        QCOMPARE(acceptedBlocks(std::vector<ControlTransfer>(next, transfers.end())), expected);
        QCOMPARE(bytesOf(loader.flash(kBase, 5000)), image);
        QVERIFY(loader.leaving());
    }

    void faults_data() { wheeltest::addRows(kFaults); }
    void faults()
    {
        const auto &[tag, setup, fault, image, result, logLine, progress, uploads, erases, failure] =
            wheeltest::rowOf(kFaults);

        DfuLoader::Config config;
        config.faults.startInError = setup == QLatin1String("start in error");
        config.faults.readProtected = setup == QLatin1String("read-protected");
        config.faults.strictLeave = setup == QLatin1String("strict leave");
        if (setup.startsWith(QLatin1String("error on ")))
            config.faults.errorOnBlock = setup.mid(9).toUInt();
        if (setup.startsWith(QLatin1String("stuck on ")))
            config.faults.stuckOnBlock = setup.mid(9).toUInt();
        const int unplugAt = setup.startsWith(QLatin1String("unplug at ")) ? setup.mid(10).toInt() : 0;
        const int cancelAt = setup.startsWith(QLatin1String("cancel at ")) ? setup.mid(10).toInt() : 0;
        std::atomic<bool> cancel{false};
        const bool offBus = setup == QLatin1String("off the bus");
        DfuFlashOptions options;
        options.verify = setup != QLatin1String("no verify");
        if (setup == QLatin1String("product DF12"))
            options.productId = 0xDF12;
        DfuUsbFunction::Identity identity;
        if (setup.startsWith(QLatin1String("serial"))) {
            options.serialFilter = QStringLiteral("2059326B4E31");
            identity.serial = (setup.endsWith(QLatin1String("case")) ? options.serialFilter.toLower()
                                                                     : " " + options.serialFilter + " ")
                                  .toStdString();
        }
        LoaderOnBus &loader = plugLoader(config, identity);
        installFault(loader, fault);
        if (offBus)
            loader.unplug();
        if (setup.endsWith(QLatin1String(" place"))) {
            const std::vector<UsbLocation> loaders = bootLoadersOnBus();
            QCOMPARE(int(loaders.size()), 1);
            options.location = loaders.front();
            if (setup == QLatin1String("another place"))
                ++options.location.address;
        }
        options.cancel = &cancel;
        const QString path =
            image.isEmpty() ? files_.filePath(QStringLiteral("absent.bin")) : writeImage(image);

        QString told;
        const FlashRun run = runFlash(
            options, path,
            [&](int p) {
                if (p == unplugAt)
                    loader.unplug();
                if (p == cancelAt)
                    cancel = true;
            },
            &told);

        QCOMPARE(run.result, result);
        QCOMPARE(told.isEmpty(), result == 0);
        if (!failure.isEmpty())
            QCOMPARE(told, failure);
        QVERIFY2(logLine.isEmpty() ? run.log.isEmpty() : run.log.contains(logLine),
                 qPrintable(run.log.join('\n')));
        QCOMPARE(run.progress, progress);
        const std::vector<ControlTransfer> transfers = loader.transfers();
        QCOMPARE(uploadBlocks(transfers), uploads);
        const QList<QByteArray> commands = commandPayloads(transfers);
        QCOMPARE(int(std::count_if(commands.begin(), commands.end(),
                                   [](const QByteArray &c) { return c.startsWith('\x41'); })),
                 erases);
        // Every exit gives back the interface, the handle and every descriptor.
        QCOMPARE(filesLeftOpen(run.filesBefore), QStringList());
        if (result == 0) {
            QCOMPARE(acceptedBlocks(transfers), (QList<Block>{{2, 2048}, {3, 2048}, {4, 904}}));
            QVERIFY(run.log.contains(QStringLiteral("Block 3 sent= 4096 / 5000 ( 78 %)")));
            QCOMPARE(bytesOf(loader.flash(kBase, 5000)), image);
            // Whatever the read-back left behind, the leave is a Set Address to
            // the base, the request itself (block 5 without data), then
            // GETSTATUS until the loader leaves; the loader took it.
            const auto last = std::find_if(transfers.rbegin(), transfers.rend(),
                                           [](const ControlTransfer &t) { return t.isDownload(); });
            QVERIFY(last != transfers.rend());
            QCOMPARE(int(last->setup.wValue), 5);
            QCOMPARE(int(last->setup.wLength), 0);
            QVERIFY(!last->stalled);
            QVERIFY(last != transfers.rbegin() && std::prev(last)->isClass(kGetStatus));
            const auto pointer = std::find_if(std::next(last), transfers.rend(),
                                              [](const ControlTransfer &t) { return t.isDownload(); });
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
        loader_.reset();
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
