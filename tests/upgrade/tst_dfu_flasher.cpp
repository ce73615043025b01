// dfuFlash against the emulated boot loader, through the real libusb and a
// umockdev testbed: what goes over the wire, what lands in the flash, what
// the caller gets back and what the trace says.
#include "loader_on_bus.h"
#include "preload.h"
#include "testbed.h"

#include "upgrade/dfu_flasher.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace wheelemu;

Q_DECLARE_METATYPE(QList<QByteArray>)

namespace {

constexpr uint32_t kBase = 0x08000000;
constexpr int kLibusbPipe = -9;

// A firmware image for `base` that passes the vector-table check, with
// contents that differ from block to block so that a block written to the
// wrong address shows.
QByteArray firmware(int size, uint32_t base = kBase)
{
    QByteArray image(size, '\0');
    for (int i = 0; i < size; ++i)
        image[i] = char((i * 131 + (i >> 8) * 7 + 0x11) & 0xFF);
    const uint32_t stackPointer = 0x20020000;
    const uint32_t reset = base + (size > 0x102 ? 0x101 : 1);
    for (int i = 0; i < 4 && i + 4 < size; ++i) {
        image[i] = char(stackPointer >> (8 * i));
        image[4 + i] = char(reset >> (8 * i));
    }
    return image;
}

QByteArray bytes(const std::vector<uint8_t> &v)
{
    return QByteArray(reinterpret_cast<const char *>(v.data()), qsizetype(v.size()));
}

// What this process holds open: device nodes, files, libusb's event and
// timer descriptors. Sockets are left out: the testbed's own thread accepts
// and closes the ioctl connections of the emulated nodes in its own time.
QStringList openFiles()
{
    QStringList targets;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &fd : fds.entryList(QDir::AllEntries | QDir::NoDotAndDotDot)) {
        const QString target = QFile::symLinkTarget(fds.filePath(fd));
        if (!target.contains(QLatin1String("socket:")))
            targets << target;
    }
    targets.sort();
    return targets;
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

FlashRun runFlash(const DfuFlashOptions &options, const QString &path)
{
    FlashRun run;
    capturedLog = &run.log;
    const QtMessageHandler previous = qInstallMessageHandler(captureDebug);
    run.filesBefore = openFiles();
    run.result = dfuFlash(options, path, [&run](int p) { run.progress << p; });
    qInstallMessageHandler(previous);
    capturedLog = nullptr;
    return run;
}

// Faults the loader does not offer itself, played in its place.
enum Fault
{
    NoFault,
    DescriptorShort,         // the functional descriptor comes back with 6 bytes
    DescriptorSizeZero,      // it states a wTransferSize of 0
    StateDownloadIdle,       // GETSTATE reads dfuDNLOAD-IDLE
    StateRefused,            // GETSTATE stalls
    StatusRefusedAfterBlock, // GETSTATUS stalls once a data block was sent
    StatusIdleAfterBlock,    // GETSTATUS reads dfuIDLE once a data block was sent
    ThirdBlockRefused,       // the download of block 3 stalls
    FirstSetAddressRefused,
    SecondSetAddressRefused,
    VerifySetAddressRefused, // the third Set Address, the verify's, once the loader took it
    FirstEraseRefused,
    UploadCorrupted,     // one byte of the first read-back block differs
    UploadEndsEarly,     // the second read-back block is empty
    SecondUploadRefused, // the second read-back block stalls
};

constexpr uint8_t kDnload = 1;
constexpr uint8_t kUpload = 2;
constexpr uint8_t kGetStatus = 3;
constexpr uint8_t kClrStatus = 4;
constexpr uint8_t kGetState = 5;

bool isClassRequest(const UsbSetup &s, uint8_t request)
{
    return (s.bmRequestType & 0x7f) == 0x21 && s.bRequest == request;
}

void installFault(LoaderOnBus &loader, Fault fault)
{
    struct Seen
    {
        bool dataSent = false;
        int setAddress = 0;
        int erase = 0;
        bool refuseAnswer = false;
    };
    // Only the USB handler thread touches it, one request at a time.
    auto seen = std::make_shared<Seen>();
    loader.setHook(
        [fault, seen](const UsbSetup &s, const std::vector<uint8_t> &out) -> std::optional<UsbControlResult> {
            const bool download = isClassRequest(s, kDnload) && !s.deviceToHost();
            const bool command = download && s.wValue == 0 && !out.empty();
            if (download && s.wValue >= 2 && !out.empty())
                seen->dataSent = true;
            const int setAddress = command && out[0] == 0x21 ? ++seen->setAddress : 0;
            const int erase = command && out[0] == 0x41 ? ++seen->erase : 0;
            const bool stall =
                (fault == StateRefused && isClassRequest(s, kGetState)) ||
                (fault == StatusRefusedAfterBlock && seen->dataSent && isClassRequest(s, kGetStatus)) ||
                (fault == ThirdBlockRefused && download && s.wValue == 3) ||
                (fault == FirstSetAddressRefused && setAddress == 1) ||
                (fault == SecondSetAddressRefused && setAddress == 2) ||
                (fault == FirstEraseRefused && erase == 1) ||
                (fault == SecondUploadRefused && isClassRequest(s, kUpload) && s.wValue == 3);
            if (stall)
                return UsbControlResult::stall();
            // The loader takes this one and waits for its GETSTATUS; only
            // the host is told that it failed.
            seen->refuseAnswer = fault == VerifySetAddressRefused && setAddress == 3;
            if (fault == StateDownloadIdle && isClassRequest(s, kGetState))
                return UsbControlResult::ok({5});
            if (fault == StatusIdleAfterBlock && seen->dataSent && isClassRequest(s, kGetStatus))
                return UsbControlResult::ok({0, 0, 0, 0, 2, 0});
            return std::nullopt;
        });
    loader.setRewrite([fault, seen](const UsbSetup &s, UsbControlResult &answer) {
        if (seen->refuseAnswer)
            answer = UsbControlResult::stall();
        const bool descriptor = s.bmRequestType == 0x81 && s.bRequest == 6 && s.wValue == 0x2100;
        const bool upload = isClassRequest(s, kUpload);
        if (fault == DescriptorShort && descriptor)
            answer.data.resize(std::min<size_t>(answer.data.size(), 6));
        if (fault == DescriptorSizeZero && descriptor && answer.data.size() >= 7)
            answer.data[5] = answer.data[6] = 0;
        if (fault == UploadCorrupted && upload && s.wValue == 2 && answer.data.size() > 100)
            answer.data[100] ^= 0x01;
        if (fault == UploadEndsEarly && upload && s.wValue == 3) {
            answer.data.clear();
            // The transport copies from data() even for zero bytes; keep a
            // buffer behind it so that this is no null pointer.
            answer.data.reserve(1);
        }
    });
}

struct Block
{
    int number;
    int length;
    bool operator==(const Block &o) const { return number == o.number && length == o.length; }
};

// The data blocks the loader took, in order.
QList<Block> acceptedBlocks(const std::vector<ControlTransfer> &transfers)
{
    QList<Block> blocks;
    for (const ControlTransfer &t : transfers)
        if (t.isDataBlock() && !t.stalled)
            blocks << Block{t.setup.wValue, t.setup.wLength};
    return blocks;
}

QList<int> blockLengths(const QList<Block> &blocks)
{
    QList<int> lengths;
    for (const Block &b : blocks)
        lengths << b.length;
    return lengths;
}

QList<QByteArray> commandPayloads(const std::vector<ControlTransfer> &transfers)
{
    QList<QByteArray> payloads;
    for (const ControlTransfer &t : transfers)
        if (t.isCommand())
            payloads << bytes(t.data);
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
    for (const ControlTransfer &t : transfers)
        if (t.isDownload() && t.setup.wLength == 0)
            return true;
    return false;
}

QList<QByteArray> hexList(std::initializer_list<const char *> hex)
{
    QList<QByteArray> list;
    for (const char *h : hex)
        list << QByteArray::fromHex(h);
    return list;
}

} // namespace

class TestDfuFlasher : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void transferSize_data();
    void transferSize();
    void addressAndErase_data();
    void addressAndErase();
    void initialState_data();
    void initialState();
    void notInDfuIdle_data();
    void notInDfuIdle();
    void firstBlockStall_data();
    void firstBlockStall();
    void blocksProgressAndLeave();
    void verify_data();
    void verify();
    void failures_data();
    void failures();
    void deviceSelection_data();
    void deviceSelection();

private:
    LoaderOnBus &plugLoader(const DfuLoader::Config &config = {},
                            const DfuUsbFunction::Identity &identity = {});
    QString writeImage(const QByteArray &image);

    std::unique_ptr<Testbed> testbed_;
    std::unique_ptr<LoaderOnBus> loader_;
    QTemporaryDir files_;
    int fileNumber_ = 0;
};

void TestDfuFlasher::initTestCase()
{
    std::string error;
    testbed_ = Testbed::create(&error);
    QVERIFY2(testbed_, error.c_str());
    QVERIFY(files_.isValid());
}

void TestDfuFlasher::cleanupTestCase()
{
    loader_.reset();
    testbed_.reset();
}

void TestDfuFlasher::cleanup()
{
    loader_.reset();
}

LoaderOnBus &TestDfuFlasher::plugLoader(const DfuLoader::Config &config,
                                        const DfuUsbFunction::Identity &identity)
{
    loader_.reset();
    loader_ = std::make_unique<LoaderOnBus>(*testbed_, config, identity);
    std::string error;
    if (!loader_->plug(&error))
        qFatal("cannot plug the boot loader: %s", error.c_str());
    return *loader_;
}

QString TestDfuFlasher::writeImage(const QByteArray &image)
{
    const QString path = files_.filePath(QStringLiteral("image%1.bin").arg(++fileNumber_));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestDfuFlasher::transferSize_data()
{
    QTest::addColumn<int>("deviceSize");
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("bound");
    QTest::addColumn<int>("effective");
    QTest::addColumn<QList<int>>("lengths");

    const QList<int> by1024{1024, 1024, 1024, 1024, 904};
    const QList<int> by2048{2048, 2048, 904};
    QTest::newRow("device states 1024") << 1024 << int(NoFault) << 2048 << 1024 << by1024;
    QTest::newRow("device states 2048") << 2048 << int(NoFault) << 2048 << 2048 << by2048;
    QTest::newRow("device states 4096") << 4096 << int(NoFault) << 2048 << 2048 << by2048;
    QTest::newRow("reply shorter than 7 bytes") << 2048 << int(DescriptorShort) << 2048 << 2048 << by2048;
    QTest::newRow("short reply, smaller bound") << 2048 << int(DescriptorShort) << 1024 << 1024 << by1024;
    QTest::newRow("device states 0") << 2048 << int(DescriptorSizeZero) << 2048 << 2048 << by2048;
    QTest::newRow("bound below the device's size")
        << 2048 << int(NoFault) << 512 << 512 << QList<int>{512, 512, 512, 512, 512, 512, 512, 512, 512, 392};
}

void TestDfuFlasher::transferSize()
{
    QFETCH(int, deviceSize);
    QFETCH(int, fault);
    QFETCH(int, bound);
    QFETCH(int, effective);
    QFETCH(QList<int>, lengths);

    DfuLoader::Config config;
    config.transferSize = uint16_t(deviceSize);
    LoaderOnBus &loader = plugLoader(config);
    installFault(loader, Fault(fault));
    DfuFlashOptions options;
    options.transferSize = bound;
    // Only the wire is looked at here: a device places blocks by its own
    // size, so sizes that differ from it do not land where they belong.
    options.verify = false;

    const FlashRun run = runFlash(options, writeImage(firmware(5000)));

    QCOMPARE(run.result, 0);
    QVERIFY(run.log.contains(QStringLiteral("Effective transfer size= %1").arg(effective)));
    const QList<Block> blocks = acceptedBlocks(loader.transfers());
    QCOMPARE(blockLengths(blocks), lengths);
    for (int i = 0; i < blocks.size(); ++i)
        QCOMPARE(blocks[i].number, 2 + i);
}

void TestDfuFlasher::addressAndErase_data()
{
    QTest::addColumn<uint>("base");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("pageSize");
    QTest::addColumn<QList<QByteArray>>("commands");

    // Set Address, the erases, Set Address again before the data, and the
    // verify's Set Address.
    QTest::newRow("8193 bytes, two pages")
        << kBase << 8193 << 8192
        << hexList({"2100000008", "4100000008", "4100200008", "2100000008", "2100000008"});
    QTest::newRow("exactly one page")
        << kBase << 8192 << 8192 << hexList({"2100000008", "4100000008", "2100000008", "2100000008"});
    QTest::newRow("page size 0 counts as 8192")
        << kBase << 8193 << 0
        << hexList({"2100000008", "4100000008", "4100200008", "2100000008", "2100000008"});
    QTest::newRow("base inside a page")
        << 0x08001000u << 8192 << 8192
        << hexList({"2100100008", "4100000008", "4100200008", "2100100008", "2100100008"});
    QTest::newRow("small pages") << kBase << 3000 << 1024
                                 << hexList({"2100000008", "4100000008", "4100040008", "4100080008",
                                             "2100000008", "2100000008"});
}

void TestDfuFlasher::addressAndErase()
{
    QFETCH(uint, base);
    QFETCH(int, size);
    QFETCH(int, pageSize);
    QFETCH(QList<QByteArray>, commands);

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
    QCOMPARE(bytes(loader.flash(base, size_t(size))), image);
    QVERIFY(run.log.contains(QStringLiteral("Verify OK")));
    QVERIFY(loader.leaving());
    // The testbed thread may still be finishing with a descriptor of its own.
    QTRY_COMPARE_WITH_TIMEOUT(openFiles(), run.filesBefore, 2000);
}

void TestDfuFlasher::initialState_data()
{
    QTest::addColumn<bool>("startInError");
    QTest::addColumn<QString>("initialStatus");

    // The first CLRSTATUS is out of place in dfuIDLE: the loader reports
    // dfuERROR (errUNKNOWN), which the second one clears.
    QTest::newRow("loader in dfuIDLE") << false << QStringLiteral("Initial DFU status: state= 10 status= 14");
    QTest::newRow("loader in dfuERROR") << true << QStringLiteral("Initial DFU status: state= 2 status= 0");
}

void TestDfuFlasher::initialState()
{
    QFETCH(bool, startInError);
    QFETCH(QString, initialStatus);

    DfuLoader::Config config;
    config.faults.startInError = startInError;
    LoaderOnBus &loader = plugLoader(config);
    const QByteArray image = firmware(5000);

    const FlashRun run = runFlash(DfuFlashOptions(), writeImage(image));

    QCOMPARE(run.result, 0);
    QVERIFY(run.log.contains(initialStatus));
    QVERIFY(run.log.contains(QStringLiteral("State before upload loop: 2")));
    QCOMPARE(bytes(loader.flash(kBase, 5000)), image);
}

void TestDfuFlasher::notInDfuIdle_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("state");

    QTest::newRow("already dfuDNLOAD-IDLE") << int(StateDownloadIdle) << 5;
    QTest::newRow("GETSTATE refused") << int(StateRefused) << 0;
}

void TestDfuFlasher::notInDfuIdle()
{
    QFETCH(int, fault);
    QFETCH(int, state);

    LoaderOnBus &loader = plugLoader();
    installFault(loader, Fault(fault));
    const QByteArray image = firmware(5000);

    const FlashRun run = runFlash(DfuFlashOptions(), writeImage(image));

    QCOMPARE(run.result, 0);
    QVERIFY(run.log.contains(QStringLiteral("State before upload loop: %1").arg(state)));
    const std::vector<ControlTransfer> transfers = loader.transfers();
    const auto firstDownload = std::find_if(transfers.begin(), transfers.end(),
                                            [](const ControlTransfer &t) { return t.isDownload(); });
    QVERIFY(firstDownload != transfers.end());
    QVERIFY(firstDownload->isDataBlock());
    QCOMPARE(int(firstDownload->setup.wValue), 2);
    QCOMPARE(int(firstDownload->setup.wLength), 2048);
    // Only the verify's Set Address; no erase at all.
    QCOMPARE(commandPayloads(transfers), hexList({"2100000008"}));
    QCOMPARE(bytes(loader.flash(kBase, 5000)), image);
}

void TestDfuFlasher::firstBlockStall_data()
{
    QTest::addColumn<int>("stallAbove");
    QTest::addColumn<int>("result");
    QTest::addColumn<QList<int>>("tries");
    QTest::addColumn<QByteArray>("pointerAfter");

    const QList<int> halvings{2048, 1024, 512, 256, 128, 64, 32};
    QTest::newRow("stalls above 1024")
        << 1024 << 0 << QList<int>{2048, 1024} << QByteArray::fromHex("2100040008");
    QTest::newRow("stalls above 40") << 40 << 0 << halvings << QByteArray::fromHex("2120000008");
    QTest::newRow("stalls at every length") << 1 << int(DfuBlockDownloadFailed) << halvings << QByteArray();
}

void TestDfuFlasher::firstBlockStall()
{
    QFETCH(int, stallAbove);
    QFETCH(int, result);
    QFETCH(QList<int>, tries);
    QFETCH(QByteArray, pointerAfter);

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
        QCOMPARE(bytes(t->data), image.left(t->setup.wLength));
        firstTries << t->setup.wLength;
    }
    QCOMPARE(firstTries, tries);
    for (int i = 1; i < tries.size(); ++i)
        QVERIFY(
            run.log.contains(QStringLiteral("First block failed PIPE, retry with %1 bytes").arg(tries[i])));

    if (result != 0) {
        QVERIFY(run.log.contains(QStringLiteral("Exiting flash function with code: -105")));
        QVERIFY(!run.log.join('\n').contains(QStringLiteral("DFU_DNLOAD failed")));
        QVERIFY(run.progress.isEmpty());
        QVERIFY(!sentLeaveRequest(transfers));
        return;
    }
    // After the halved block: the pointer moves behind it and the numbering
    // starts over at block 2 with full blocks.
    const auto next =
        std::find_if(t, transfers.end(), [](const ControlTransfer &c) { return c.isDownload(); });
    QVERIFY(next != transfers.end());
    QVERIFY(next->isCommand());
    QCOMPARE(bytes(next->data), pointerAfter);
    const QList<Block> rest = acceptedBlocks(std::vector<ControlTransfer>(next, transfers.end()));
    QList<Block> expected;
    for (int offset = tries.last(), number = 2; offset < 5000; offset += 2048, ++number)
        expected << Block{number, std::min(2048, 5000 - offset)};
    QCOMPARE(rest, expected);
    QCOMPARE(bytes(loader.flash(kBase, 5000)), image);
    QVERIFY(run.log.contains(QStringLiteral("Verify OK")));
    QVERIFY(loader.leaving());
}

void TestDfuFlasher::blocksProgressAndLeave()
{
    LoaderOnBus &loader = plugLoader();
    const QByteArray image = firmware(5000);

    const FlashRun run = runFlash(DfuFlashOptions(), writeImage(image));

    QCOMPARE(run.result, 0);
    const std::vector<ControlTransfer> transfers = loader.transfers();
    QCOMPARE(acceptedBlocks(transfers), (QList<Block>{{2, 2048}, {3, 2048}, {4, 904}}));
    QCOMPARE(run.progress, (QList<int>{39, 78, 96, 100}));
    for (const char *line : {"Block 2 sent= 2048 / 5000 ( 39 %)", "Block 3 sent= 4096 / 5000 ( 78 %)",
                             "Block 4 sent= 5000 / 5000 ( 96 %)"})
        QVERIFY2(run.log.contains(QString::fromLatin1(line)), line);
    // The leave request is the last download: block 5, no data.
    const auto last = std::find_if(transfers.rbegin(), transfers.rend(),
                                   [](const ControlTransfer &t) { return t.isDownload(); });
    QVERIFY(last != transfers.rend());
    QCOMPARE(int(last->setup.wValue), 5);
    QCOMPARE(int(last->setup.wLength), 0);
    QVERIFY(!last->stalled);
    QVERIFY(loader.leaving());
    QCOMPARE(run.log.last(), QStringLiteral("Submitting leave request (ZLP)"));
    // The read-back is numbered from block 2, as the memory is on a DfuSe device.
    QCOMPARE(uploadBlocks(transfers), (QList<int>{2, 3, 4}));
    QCOMPARE(bytes(loader.flash(kBase, 5000)), image);
}

void TestDfuFlasher::verify_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<bool>("readProtected");
    QTest::addColumn<bool>("verify");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("logLine");
    QTest::addColumn<QList<int>>("uploads");

    QTest::newRow("read back equal") << int(NoFault) << false << true << 0 << QStringLiteral("Verify OK")
                                     << QList<int>{2, 3, 4};
    QTest::newRow("read-protected")
        << int(NoFault) << true << true << 0
        << QStringLiteral("DFU_UPLOAD blocked (RDP?), bypassing verification and proceeding to manifest")
        << QList<int>{2};
    QTest::newRow("one byte differs")
        << int(UploadCorrupted) << false << true << int(DfuVerifyMismatch)
        << QStringLiteral("Verify read complete: got= 5000 expected= 5000") << QList<int>{2, 3, 4};
    QTest::newRow("read-back ends early")
        << int(UploadEndsEarly) << false << true << int(DfuVerifyLength)
        << QStringLiteral("Verify read complete: got= 2048 expected= 5000") << QList<int>{2, 3};
    QTest::newRow("second read refused")
        << int(SecondUploadRefused) << false << true << int(DfuVerifyLength)
        << QStringLiteral("DFU_UPLOAD failed with rc= -9 , got= 2048 / 5000") << QList<int>{2, 3};
    QTest::newRow("verify off") << int(NoFault) << false << false << 0
                                << QStringLiteral("Submitting leave request (ZLP)") << QList<int>{};
    QTest::newRow("verify's Set Address refused")
        << int(VerifySetAddressRefused) << false << true << 0
        << QStringLiteral("Set Address for verify failed with rc= -9") << QList<int>{};
}

void TestDfuFlasher::verify()
{
    QFETCH(int, fault);
    QFETCH(bool, readProtected);
    QFETCH(bool, verify);
    QFETCH(int, result);
    QFETCH(QString, logLine);
    QFETCH(QList<int>, uploads);

    DfuLoader::Config config;
    config.faults.readProtected = readProtected;
    LoaderOnBus &loader = plugLoader(config);
    installFault(loader, Fault(fault));
    DfuFlashOptions options;
    options.verify = verify;
    const QByteArray image = firmware(5000);

    const FlashRun run = runFlash(options, writeImage(image));

    QCOMPARE(run.result, result);
    QVERIFY2(run.log.contains(logLine), qPrintable(run.log.join('\n')));
    const std::vector<ControlTransfer> transfers = loader.transfers();
    QCOMPARE(uploadBlocks(transfers), uploads);
    QCOMPARE(bytes(loader.flash(kBase, 5000)), image);
    if (result == 0) {
        QCOMPARE(run.progress.value(run.progress.size() - 1), 100);
        // Whatever the read-back left behind, the loader took the leave request.
        QVERIFY(loader.leaving());
    } else {
        QVERIFY(!run.progress.contains(100));
        QVERIFY(!sentLeaveRequest(transfers));
        QVERIFY(!loader.leaving());
    }
    // The testbed thread may still be finishing with a descriptor of its own.
    QTRY_COMPARE_WITH_TIMEOUT(openFiles(), run.filesBefore, 2000);
}

void TestDfuFlasher::failures_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("errorOnBlock");
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("logLine");
    QTest::addColumn<QList<int>>("progress");

    const QByteArray good = firmware(5000);
    QByteArray badStack = good;
    badStack[3] = 0x10; // 0x10020000
    QTest::newRow("dfuERROR on the second block")
        << int(NoFault) << 2 << good << int(DfuBlockWriteError)
        << QStringLiteral("Exiting flash function with code: -108") << QList<int>{39};
    QTest::newRow("dfuERROR on the first block")
        << int(NoFault) << 1 << good << int(DfuBlockWriteError)
        << QStringLiteral("Exiting flash function with code: -108") << QList<int>{};
    QTest::newRow("status refused after a block")
        << int(StatusRefusedAfterBlock) << 0 << good << int(DfuBlockStatusFailed)
        << QStringLiteral("Exiting flash function with code: -106") << QList<int>{};
    QTest::newRow("dfuIDLE after a block")
        << int(StatusIdleAfterBlock) << 0 << good << int(DfuBlockStateUnexpected)
        << QStringLiteral("Exiting flash function with code: -107") << QList<int>{};
    QTest::newRow("block 3 refused") << int(ThirdBlockRefused) << 0 << good << int(DfuBlockDownloadFailed)
                                     << QStringLiteral("DFU_DNLOAD failed with code: -9") << QList<int>{39};
    QTest::newRow("Set Address refused")
        << int(FirstSetAddressRefused) << 0 << good << int(DfuSetAddressFailed)
        << QStringLiteral("Set Address command failed with rc= -9") << QList<int>{};
    QTest::newRow("Erase refused") << int(FirstEraseRefused) << 0 << good << int(DfuEraseFailed)
                                   << QStringLiteral("Erase command failed with rc= -9  at 0x8000000")
                                   << QList<int>{};
    QTest::newRow("Set Address after the erase refused")
        << int(SecondSetAddressRefused) << 0 << good << int(DfuSetAddressFailed)
        << QStringLiteral("Re-Set Address command failed with rc= -9") << QList<int>{};
    QTest::newRow("7-byte image")
        << int(NoFault) << 0 << good.left(7) << int(DfuVectorTableRefused)
        << QStringLiteral("Refusing to flash: vector table sanity failed: file too small for vector table")
        << QList<int>{};
    QTest::newRow("stack pointer outside SRAM")
        << int(NoFault) << 0 << badStack << int(DfuVectorTableRefused)
        << QStringLiteral(
               "Refusing to flash: vector table sanity failed: invalid initial SP 0x10020000 (SRAM "
               "20000000..200c0000)")
        << QList<int>{};
    QTest::newRow("missing file") << int(NoFault) << 0 << QByteArray() << int(DfuFileOpenFailed) << QString()
                                  << QList<int>{};
}

void TestDfuFlasher::failures()
{
    QFETCH(int, fault);
    QFETCH(int, errorOnBlock);
    QFETCH(QByteArray, image);
    QFETCH(int, result);
    QFETCH(QString, logLine);
    QFETCH(QList<int>, progress);

    DfuLoader::Config config;
    config.faults.errorOnBlock = uint32_t(errorOnBlock);
    LoaderOnBus &loader = plugLoader(config);
    installFault(loader, Fault(fault));
    const QString path = image.isEmpty() ? files_.filePath(QStringLiteral("absent.bin")) : writeImage(image);

    const FlashRun run = runFlash(DfuFlashOptions(), path);

    QCOMPARE(run.result, result);
    if (logLine.isEmpty())
        QVERIFY2(run.log.isEmpty(), qPrintable(run.log.join('\n')));
    else
        QVERIFY2(run.log.contains(logLine), qPrintable(run.log.join('\n')));
    QCOMPARE(run.progress, progress);
    const std::vector<ControlTransfer> transfers = loader.transfers();
    QVERIFY(!sentLeaveRequest(transfers));
    QVERIFY(!loader.leaving());
    // The testbed thread may still be finishing with a descriptor of its own.
    QTRY_COMPARE_WITH_TIMEOUT(openFiles(), run.filesBefore, 2000);
    if (result == DfuVectorTableRefused || result == DfuFileOpenFailed) {
        // The device was opened, but nothing reached its memory.
        QVERIFY(std::none_of(transfers.begin(), transfers.end(),
                             [](const ControlTransfer &t) { return t.isDownload(); }));
        QCOMPARE(bytes(loader.flash(kBase, 16)), QByteArray(16, char(0xFF)));
    }
    if (result == DfuBlockWriteError) {
        QVERIFY(transfers.back().isClass(kClrStatus));
    }

    // Every exit gave the interface and the handle back: a new flash of the
    // same loader claims it again and succeeds.
    installFault(loader, NoFault);
    loader.clearTransfers();
    const QByteArray next = firmware(3000);
    const FlashRun again = runFlash(DfuFlashOptions(), writeImage(next));
    QCOMPARE(again.result, 0);
    QCOMPARE(bytes(loader.flash(kBase, 3000)), next);
}

void TestDfuFlasher::deviceSelection_data()
{
    QTest::addColumn<bool>("plugged");
    QTest::addColumn<QString>("serialOnDevice");
    QTest::addColumn<uint>("vendorId");
    QTest::addColumn<uint>("productId");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<int>("result");

    const QString serial = QStringLiteral("2059326B4E31");
    QTest::newRow("no loader on the bus")
        << false << serial << 0x0483u << 0xDF11u << QString() << int(DfuNoDevice);
    QTest::newRow("another product id")
        << true << serial << 0x0483u << 0xDF12u << QString() << int(DfuNoDevice);
    QTest::newRow("another vendor id")
        << true << serial << 0x0484u << 0xDF11u << QString() << int(DfuNoDevice);
    QTest::newRow("serial differs") << true << serial << 0x0483u << 0xDF11u << QStringLiteral("2059326B4E30")
                                    << int(DfuNoDevice);
    QTest::newRow("serial differs in case")
        << true << QStringLiteral("2059326b4e31") << 0x0483u << 0xDF11u << serial << int(DfuNoDevice);
    QTest::newRow("serial matches once trimmed")
        << true << QStringLiteral("  2059326B4E31 ") << 0x0483u << 0xDF11u << serial << 0;
    QTest::newRow("no filter") << true << serial << 0x0483u << 0xDF11u << QString() << 0;
}

void TestDfuFlasher::deviceSelection()
{
    QFETCH(bool, plugged);
    QFETCH(QString, serialOnDevice);
    QFETCH(uint, vendorId);
    QFETCH(uint, productId);
    QFETCH(QString, filter);
    QFETCH(int, result);

    DfuUsbFunction::Identity identity;
    identity.serial = serialOnDevice.toStdString();
    LoaderOnBus &loader = plugLoader({}, identity);
    if (!plugged)
        loader.unplug();
    DfuFlashOptions options;
    options.vendorId = uint16_t(vendorId);
    options.productId = uint16_t(productId);
    options.serialFilter = filter;
    const QByteArray image = firmware(3000);

    const FlashRun run = runFlash(options, writeImage(image));

    QCOMPARE(run.result, result);
    // The testbed thread may still be finishing with a descriptor of its own.
    QTRY_COMPARE_WITH_TIMEOUT(openFiles(), run.filesBefore, 2000);
    const std::vector<ControlTransfer> transfers = loader.transfers();
    if (result == DfuNoDevice) {
        QVERIFY2(run.log.isEmpty(), qPrintable(run.log.join('\n')));
        QVERIFY(run.progress.isEmpty());
        // At most the serial number was read; no DFU request was sent.
        QVERIFY(std::none_of(transfers.begin(), transfers.end(), [](const ControlTransfer &t) {
            return (t.setup.bmRequestType & 0x60) == 0x20;
        }));
    } else {
        QCOMPARE(bytes(loader.flash(kBase, 3000)), image);
    }
}

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
