// Debian's dfu-util, a DFU host nobody here wrote, against the emulated boot
// loader through the real libusb and the umockdev preload: listing,
// flashing with leave, reading back, and each fault as a real loader shows it.
#include "dfu_test_bed.h"
#include "test_image.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <libusb.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>

using namespace wheelemu;
using namespace dfutest;

namespace {

constexpr size_t kLargestImage = 229376;
constexpr size_t kFlashSize = 128 * 8192;
const QString kLayout = "@Internal Flash  /0x08000000/128*008Kg";

enum : uint8_t
{
    DnloadRequest = 1,
    UploadRequest = 2,
    GetStatusRequest = 3,
    ClrStatusRequest = 4,
};

bool isRequest(const std::vector<uint8_t> &t, uint8_t type, uint8_t request)
{
    return t.size() >= 8 && t[0] == type && t[1] == request;
}

int wLength(const std::vector<uint8_t> &t)
{
    return t[6] | t[7] << 8;
}

// Erase commands as the loader saw them: their page addresses.
std::vector<uint32_t> erasedAddresses(const std::vector<std::vector<uint8_t>> &transfers)
{
    std::vector<uint32_t> out;
    for (const auto &t : transfers)
        if (isRequest(t, 0x21, DnloadRequest) && wLength(t) == 5 && t.size() == 13 && t[8] == 0x41)
            out.push_back(uint32_t(t[9] | t[10] << 8 | t[11] << 16 | uint32_t(t[12]) << 24));
    return out;
}

std::vector<uint8_t> trimErased(std::vector<uint8_t> v)
{
    while (!v.empty() && v.back() == 0xFF)
        v.pop_back();
    return v;
}

} // namespace

class TestDfuUtil : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void listsTheLoader();
    void downloadAndLeave_data();
    void downloadAndLeave();
    void uploadReadsBack();
    void startsInError();
    void errorOnBlock();
    void readProtectedUpload();
    void firstBlockStall_data();
    void firstBlockStall();
    void slowErase();
    void unplugMidDownload();
    void hotplugAnnouncements();

private:
    std::unique_ptr<DfuBootLoader> plugLoader(DfuBootLoader::Options options);
    QString writeImage(const std::vector<uint8_t> &image);
    ProcessResult download(const QString &file, const QStringList &extra = {});

    std::unique_ptr<DfuTestBed> bed_;
    std::unique_ptr<QTemporaryDir> dir_;
};

void TestDfuUtil::initTestCase()
{
    bed_ = std::make_unique<DfuTestBed>();
    QVERIFY2(bed_->ok(), bed_->error().c_str());
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
}

void TestDfuUtil::init()
{
    bed_->transcript().clear();
}

void TestDfuUtil::cleanupTestCase()
{
    bed_.reset();
    dir_.reset();
}

std::unique_ptr<DfuBootLoader> TestDfuUtil::plugLoader(DfuBootLoader::Options options)
{
    auto loader = std::make_unique<DfuBootLoader>(bed_->host(), options);
    std::string error;
    if (!loader->loadFlash(&error) || !loader->plug(&error)) {
        qWarning("%s", error.c_str());
        return nullptr;
    }
    return loader;
}

QString TestDfuUtil::writeImage(const std::vector<uint8_t> &image)
{
    static int n = 0;
    const QString path = dir_->filePath(QString("image%1.bin").arg(++n));
    return writeFile(path, image) ? path : QString();
}

ProcessResult TestDfuUtil::download(const QString &file, const QStringList &extra)
{
    return run("dfu-util",
               QStringList{"-a", "0", "-s", "0x08000000:leave"} + extra + QStringList{"-D", file});
}

void TestDfuUtil::listsTheLoader()
{
    auto loader = plugLoader({});
    QVERIFY(loader);
    const ProcessResult r = run("dfu-util", {"-l"});
    QVERIFY2(r.finished && r.exitCode == 0, qPrintable(r.output));
    QVERIFY2(r.output.contains("Found DFU: [0483:df11]"), qPrintable(r.output));
    QVERIFY2(r.output.contains("alt=0, name=\"" + kLayout + "\""), qPrintable(r.output));
    QVERIFY2(r.output.contains("serial=\"2059326B4E31\""), qPrintable(r.output));

    // Listing reads string descriptors only: nothing reaches the DFU state machine.
    const auto transfers = bed_->controlTransfers();
    QVERIFY(!transfers.empty());
    for (const auto &t : transfers) {
        QCOMPARE(int(t[0]), 0x80);
        QCOMPARE(int(t[1]), 6);
    }
    // The transcript: the loader's arrival, then control transfers; time
    // with six decimals, kind, lower-case hex.
    const std::vector<std::string> lines = bed_->transcript().lines();
    QVERIFY(QString::fromStdString(lines.front()).endsWith(" plug 04 83 df 11"));
    const QRegularExpression line("^\\d+\\.\\d{6} control( [0-9a-f]{2}){8,}$");
    for (size_t i = 1; i < lines.size(); ++i)
        QVERIFY2(line.match(QString::fromStdString(lines[i])).hasMatch(), lines[i].c_str());
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
    const QString flashFile = dir_->filePath("flash-download.bin");
    QVERIFY(writeFile(flashFile, std::vector<uint8_t>(kLargestImage, 0x00)));
    const std::vector<uint8_t> image = makeTestImage(kLargestImage, "3.1.4");
    const QString imageFile = writeImage(image);

    DfuBootLoader::Options o;
    o.loader.transferSize = uint16_t(transferSize);
    o.flashFile = flashFile.toStdString();
    auto loader = plugLoader(o);
    QVERIFY(loader);
    std::mutex m;
    std::vector<uint8_t> left;
    std::atomic<int> leaves{0};
    loader->setOnLeave([&](const std::vector<uint8_t> &img) {
        std::lock_guard<std::mutex> g(m);
        left = img;
        ++leaves;
    });

    const ProcessResult r = download(imageFile);
    QVERIFY2(r.finished && r.exitCode == 0, qPrintable(r.output));
    QVERIFY2(r.output.contains("File downloaded successfully"), qPrintable(r.output));

    // It left the bus and handed over what it was given.
    QVERIFY(waitFor([&] { return leaves.load() == 1; }, 5000));
    QVERIFY(!loader->plugged());
    {
        std::lock_guard<std::mutex> g(m);
        QVERIFY(left == trimErased(image));
    }
    const std::vector<uint8_t> saved = readFile(flashFile);
    QCOMPARE(saved.size(), kFlashSize);
    QVERIFY(std::equal(image.begin(), image.end(), saved.begin()));
    QVERIFY(
        std::all_of(saved.begin() + long(kLargestImage), saved.end(), [](uint8_t b) { return b == 0xFF; }));

    const auto transfers = bed_->controlTransfers();
    // Every page the image covers was erased, once each.
    std::vector<uint32_t> erased = erasedAddresses(transfers);
    std::sort(erased.begin(), erased.end());
    QCOMPARE(erased.size(), kLargestImage / 8192);
    for (size_t i = 0; i < erased.size(); ++i)
        QCOMPARE(erased[i], uint32_t(0x08000000 + i * 8192));
    // Data went in blocks of the loader's transfer size.
    int largest = 0;
    for (const auto &t : transfers)
        if (isRequest(t, 0x21, DnloadRequest) && (t[2] | t[3] << 8) >= 2)
            largest = std::max(largest, wLength(t));
    QCOMPARE(largest, transferSize);
    // The leave: a zero-length download answered by dfuMANIFEST.
    const auto zlp = std::find_if(transfers.begin(), transfers.end(), [](const auto &t) {
        return isRequest(t, 0x21, DnloadRequest) && wLength(t) == 0;
    });
    QVERIFY(zlp != transfers.end());
    QVERIFY(zlp + 1 != transfers.end());
    const std::vector<uint8_t> &status = *(zlp + 1);
    QVERIFY(isRequest(status, 0xA1, GetStatusRequest));
    QCOMPARE(status.size(), size_t(14));
    QCOMPARE(int(status[8 + 4]), 7); // dfuMANIFEST
}

void TestDfuUtil::uploadReadsBack()
{
    const std::vector<uint8_t> image = makeTestImage(kLargestImage, "2.7.1");
    auto loader = plugLoader({});
    QVERIFY(loader);
    loader->loadFlashContents(image);

    const QString out = dir_->filePath("readback.bin");
    const ProcessResult r = run("dfu-util", {"-a", "0", "-s", "0x08000000:229376", "-U", out});
    QVERIFY2(r.finished && r.exitCode == 0, qPrintable(r.output));
    QVERIFY(readFile(out) == image);
    // Reading does not start the firmware.
    QVERIFY(loader->plugged());
    // From block 2 on, as DfuSe reads memory.
    const auto transfers = bed_->controlTransfers();
    const auto firstUpload = std::find_if(transfers.begin(), transfers.end(),
                                          [](const auto &t) { return isRequest(t, 0xA1, UploadRequest); });
    QVERIFY(firstUpload != transfers.end());
    QCOMPARE(int((*firstUpload)[2]), 2);
}

void TestDfuUtil::startsInError()
{
    DfuBootLoader::Options o;
    o.loader.faults.startInError = true;
    auto loader = plugLoader(o);
    QVERIFY(loader);
    int state = -1;
    loader->withLoader([&](DfuLoader &l) { state = l.state(); });
    QCOMPARE(state, 10);

    const std::vector<uint8_t> image = makeTestImage(16384, "1.0.0");
    const ProcessResult r = download(writeImage(image));
    QVERIFY2(r.finished && r.exitCode == 0, qPrintable(r.output));
    QVERIFY(waitFor([&] { return !loader->plugged(); }, 5000));
    const std::vector<uint8_t> flash = loader->flashContents();
    QVERIFY(std::equal(image.begin(), image.end(), flash.begin()));

    // The host had to clear the error before anything else.
    const auto transfers = bed_->controlTransfers();
    const auto clear = std::find_if(transfers.begin(), transfers.end(),
                                    [](const auto &t) { return isRequest(t, 0x21, ClrStatusRequest); });
    const auto firstDnload = std::find_if(transfers.begin(), transfers.end(),
                                          [](const auto &t) { return isRequest(t, 0x21, DnloadRequest); });
    QVERIFY(clear != transfers.end());
    QVERIFY(clear < firstDnload);
}

void TestDfuUtil::errorOnBlock()
{
    DfuBootLoader::Options o;
    o.loader.faults.errorOnBlock = 3;
    auto loader = plugLoader(o);
    QVERIFY(loader);
    const std::vector<uint8_t> image = makeTestImage(16384, "1.0.1");
    const ProcessResult r = download(writeImage(image));
    QVERIFY2(r.finished && r.exitCode != 0, qPrintable(r.output));
    QVERIFY2(r.output.contains("dfuERROR"), qPrintable(r.output));

    // Still the loader, in dfuERROR with a programming error; the first two
    // blocks are in, the third is not.
    QVERIFY(loader->plugged());
    int state = -1, status = -1;
    loader->withLoader([&](DfuLoader &l) {
        state = l.state();
        status = l.status();
    });
    QCOMPARE(state, int(dfu::Error));
    QCOMPARE(status, int(dfu::ErrProg));
    const std::vector<uint8_t> flash = loader->flashContents();
    QVERIFY(std::equal(image.begin(), image.begin() + 4096, flash.begin()));
    QVERIFY(std::all_of(flash.begin() + 4096, flash.begin() + 6144, [](uint8_t b) { return b == 0xFF; }));
}

void TestDfuUtil::readProtectedUpload()
{
    DfuBootLoader::Options o;
    o.loader.faults.readProtected = true;
    auto loader = plugLoader(o);
    QVERIFY(loader);
    loader->loadFlashContents(makeTestImage(16384, "1.0.2"));
    const QString out = dir_->filePath("protected.bin");
    const ProcessResult r = run("dfu-util", {"-a", "0", "-s", "0x08000000:16384", "-U", out});
    QVERIFY2(r.finished && r.exitCode != 0, qPrintable(r.output));
    QVERIFY(readFile(out).empty());
    int status = -1;
    loader->withLoader([&](DfuLoader &l) { status = l.status(); });
    QCOMPARE(status, int(dfu::ErrVendor));
    // The memory upload was stalled: no data stage in the transcript.
    const auto transfers = bed_->controlTransfers();
    const auto upload = std::find_if(transfers.begin(), transfers.end(),
                                     [](const auto &t) { return isRequest(t, 0xA1, UploadRequest); });
    QVERIFY(upload != transfers.end());
    QCOMPARE(upload->size(), size_t(8));
}

void TestDfuUtil::firstBlockStall_data()
{
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<bool>("succeeds");
    // dfu-util does not retry a stalled block at a smaller size; asked for
    // smaller transfers from the start, it gets through.
    QTest::newRow("2048-byte first block stalls") << QStringList{} << false;
    QTest::newRow("1024-byte transfers pass") << QStringList{"-t", "1024"} << true;
}

void TestDfuUtil::firstBlockStall()
{
    QFETCH(QStringList, extra);
    QFETCH(bool, succeeds);
    DfuBootLoader::Options o;
    o.loader.faults.stallFirstBlockAbove = 1024;
    auto loader = plugLoader(o);
    QVERIFY(loader);
    const std::vector<uint8_t> image = makeTestImage(16384, "1.0.3");
    const ProcessResult r = download(writeImage(image), extra);
    QVERIFY2(r.finished && (r.exitCode == 0) == succeeds, qPrintable(r.output));
    const std::vector<uint8_t> flash = loader->flashContents();
    QCOMPARE(std::equal(image.begin(), image.end(), flash.begin()), succeeds);
    if (!succeeds) {
        QVERIFY2(r.output.contains("LIBUSB_ERROR_PIPE") || r.output.contains("-9"), qPrintable(r.output));
        QVERIFY(loader->plugged());
    }
}

void TestDfuUtil::slowErase()
{
    DfuBootLoader::Options o;
    o.loader.timing.eraseMs = 200;
    o.loader.timing.eraseBusyRepeats = 2;
    auto loader = plugLoader(o);
    QVERIFY(loader);
    const std::vector<uint8_t> image = makeTestImage(16384, "1.0.4");
    const ProcessResult r = download(writeImage(image));
    QVERIFY2(r.finished && r.exitCode == 0, qPrintable(r.output));
    const std::vector<uint8_t> flash = loader->flashContents();
    QVERIFY(std::equal(image.begin(), image.end(), flash.begin()));

    // After each erase the host was told dfuDNBUSY three times in a row,
    // each time with the erase's poll time.
    const auto transfers = bed_->controlTransfers();
    int erases = 0;
    for (size_t i = 0; i < transfers.size(); ++i) {
        const auto &t = transfers[i];
        if (!(isRequest(t, 0x21, DnloadRequest) && t.size() == 13 && t[8] == 0x41))
            continue;
        ++erases;
        int busy = 0;
        for (size_t j = i + 1; j < transfers.size() && isRequest(transfers[j], 0xA1, GetStatusRequest); ++j) {
            const auto &s = transfers[j];
            if (s[8 + 4] != 4)
                break;
            QCOMPARE(int(s[9] | s[10] << 8 | s[11] << 16), 200);
            ++busy;
        }
        QCOMPARE(busy, 3);
    }
    QCOMPARE(erases, 2);
}

void TestDfuUtil::unplugMidDownload()
{
    const QString flashFile = dir_->filePath("flash-unplug.bin");
    DfuBootLoader::Options o;
    o.loader.faults.unplugAtBlock = 5;
    o.flashFile = flashFile.toStdString();
    auto loader = plugLoader(o);
    QVERIFY(loader);
    const std::vector<uint8_t> image = makeTestImage(kLargestImage, "1.0.5");
    const ProcessResult r = download(writeImage(image));
    QVERIFY2(r.finished && r.exitCode != 0, qPrintable(r.output));
    QVERIFY(waitFor([&] { return !loader->plugged(); }, 5000));

    // The flash as it was when the cable went: four blocks written, the
    // rest erased by the host beforehand and never programmed.
    const std::vector<uint8_t> saved = readFile(flashFile);
    QCOMPARE(saved.size(), kFlashSize);
    QVERIFY(std::equal(image.begin(), image.begin() + 4 * 2048, saved.begin()));
    QVERIFY(std::all_of(saved.begin() + 4 * 2048, saved.begin() + long(kLargestImage),
                        [](uint8_t b) { return b == 0xFF; }));
    // Nothing answered after the pulled block.
    const auto transfers = bed_->controlTransfers();
    QVERIFY(isRequest(transfers.back(), 0x21, DnloadRequest));
    QCOMPARE(wLength(transfers.back()), 2048);
}

// The emulator's uevents as libusb's hotplug monitor receives them (it filters
// on subsystem and device type inside the socket), and a listener whose
// process has gone is swept instead of bringing the emulator down.
void TestDfuUtil::hotplugAnnouncements()
{
    const std::string deadListener = bed_->host().testbed.root() + "/event9999";
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
    struct Counts
    {
        int arrived = 0;
        int left = 0;
    } counts;
    const auto onEvent = [](libusb_context *, libusb_device *, libusb_hotplug_event event, void *data) {
        auto *c = static_cast<Counts *>(data);
        (event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED ? c->arrived : c->left)++;
        return 0;
    };
    libusb_hotplug_callback_handle handle;
    QCOMPARE(libusb_hotplug_register_callback(
                 ctx, LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT,
                 LIBUSB_HOTPLUG_NO_FLAGS, 0x0483, 0xDF11, LIBUSB_HOTPLUG_MATCH_ANY, onEvent, &counts,
                 &handle),
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

    auto loader = plugLoader({});
    QVERIFY(loader);
    QVERIFY2(pump([&] { return counts.arrived == 1; }), qPrintable(QString::number(counts.arrived)));
    loader.reset();
    QVERIFY2(pump([&] { return counts.left == 1; }), qPrintable(QString::number(counts.left)));
    QCOMPARE(counts.arrived, 1);
    QVERIFY(!QFileInfo::exists(QString::fromStdString(deadListener)));
    libusb_hotplug_deregister_callback(ctx, handle);
}

int main(int argc, char **argv)
{
    if (!start(argv))
        return 1;
    QCoreApplication app(argc, argv);
    TestDfuUtil t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_dfu_util.moc"
