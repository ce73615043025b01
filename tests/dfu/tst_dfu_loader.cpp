// The boot loader's behaviour without any transport: the DFU state machine
// with the DfuSe commands, the flash, the descriptors a host reads, and the
// faults, driven with raw setup packets and a clock the test moves.
#include "dfu_flash_memory.h"
#include "dfu_loader.h"
#include "dfu_usb_function.h"

#include <QtTest>

#include <memory>

using namespace wheelemu;

namespace {

constexpr uint32_t kBase = 0x08000000;

struct Step
{
    UsbSetup setup;
    QByteArray out;    // data stage of a host-to-device request
    int advanceMs = 0; // clock moves this far before the request
    bool stall = false;
    int state = -1;  // expected afterwards, -1: not checked
    int status = -1; // expected afterwards, -1: not checked
};

UsbSetup classOut(uint8_t request, uint16_t wValue, uint16_t wLength)
{
    return {0x21, request, wValue, 0, wLength};
}

UsbSetup classIn(uint8_t request, uint16_t wValue, uint16_t wLength)
{
    return {0xA1, request, wValue, 0, wLength};
}

QByteArray bytes(std::initializer_list<int> list)
{
    QByteArray a;
    for (int b : list)
        a.append(char(b));
    return a;
}

QByteArray command(uint8_t cmd, uint32_t address)
{
    return bytes({cmd, int(address & 0xff), int((address >> 8) & 0xff), int((address >> 16) & 0xff),
                  int(address >> 24)});
}

Step dnload(uint16_t block, const QByteArray &data, bool stall, int state, int status = -1)
{
    return {classOut(dfu::Dnload, block, uint16_t(data.size())), data, 0, stall, state, status};
}

Step request(const UsbSetup &s, bool stall, int state, int status = -1, int advanceMs = 0)
{
    return {s, {}, advanceMs, stall, state, status};
}

Step getStatus(int state, int advanceMs = 0)
{
    return request(classIn(dfu::GetStatus, 0, 6), false, state, -1, advanceMs);
}

// A loader whose clock only moves when the test says so.
struct Rig
{
    uint64_t now = 1000;
    std::unique_ptr<DfuLoader> loader;

    explicit Rig(DfuLoader::Config config = {})
    {
        loader = std::make_unique<DfuLoader>(config, [this] { return now; });
    }

    UsbControlResult send(const UsbSetup &s, const QByteArray &out = {})
    {
        return loader->request(s, reinterpret_cast<const uint8_t *>(out.constData()), size_t(out.size()));
    }

    UsbControlResult send(const Step &step)
    {
        now += uint64_t(step.advanceMs);
        return send(step.setup, step.out);
    }

    // Set Address Pointer and wait it out, as a careful host does.
    void setAddress(uint32_t address)
    {
        send(classOut(dfu::Dnload, 0, 5), command(dfu::kCmdSetAddress, address));
        send(classIn(dfu::GetStatus, 0, 6));
        now += 1000;
        send(classIn(dfu::GetStatus, 0, 6));
    }

    // One data block, polled until the loader is idle again (or in error).
    void download(uint16_t block, const std::vector<uint8_t> &data)
    {
        send(classOut(dfu::Dnload, block, uint16_t(data.size())),
             QByteArray(reinterpret_cast<const char *>(data.data()), int(data.size())));
        send(classIn(dfu::GetStatus, 0, 6));
        now += 1000;
        send(classIn(dfu::GetStatus, 0, 6));
    }
};

struct StatusReply
{
    int status, pollMs, state;
};

StatusReply decode(const UsbControlResult &r)
{
    if (r.stalled || r.data.size() != 6)
        return {-1, -1, -1};
    return {r.data[0], r.data[1] | r.data[2] << 8 | r.data[3] << 16, r.data[4]};
}

std::vector<uint8_t> pattern(size_t n, uint8_t seed)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = uint8_t(seed + i * 37 + (i >> 8));
    return v;
}

} // namespace

Q_DECLARE_METATYPE(std::vector<Step>)

class TestDfuLoader : public QObject
{
    Q_OBJECT

private slots:
    void stateMachine_data();
    void stateMachine();
    void statusReplies();
    void dataBlockPlacement_data();
    void dataBlockPlacement();
    void uploadReadsBack();
    void flashOnlyClearsBits();
    void erase_data();
    void erase();
    void leave_data();
    void leave();
    void detachEnumeratesAgain();
    void faultStallFirstBlock_data();
    void faultStallFirstBlock();
    void faultErrorOnBlock();
    void faultReadProtected();
    void faultStartInError();
    void faultUnplugAtBlock();
    void faultSlowErase();
    void memoryLayout_data();
    void memoryLayout();
    void functionalDescriptor();
    void configurationDescriptor();
    void standardRequests_data();
    void standardRequests();
    void flashMemoryEdges();
};

void TestDfuLoader::stateMachine_data()
{
    QTest::addColumn<std::vector<Step>>("steps");

    const Step setAddress = dnload(0, command(dfu::kCmdSetAddress, kBase), false, dfu::DnloadSync);
    const Step busy = getStatus(dfu::DnBusy);
    const Step idleAgain = getStatus(dfu::DnloadIdle, 5);

    QTest::newRow("set address: busy, then download idle") << std::vector<Step>{setAddress, busy, idleAgain};
    QTest::newRow("polled before the poll time: still busy")
        << std::vector<Step>{setAddress, busy, getStatus(dfu::DnBusy, 1), getStatus(dfu::DnloadIdle, 1)};
    QTest::newRow("GETSTATE while busy, then once done")
        << std::vector<Step>{setAddress, busy, request(classIn(dfu::GetState, 0, 1), false, dfu::DnBusy),
                             request(classIn(dfu::GetState, 0, 1), false, dfu::DnloadSync, dfu::Ok, 5)};
    QTest::newRow("other request while busy stalls") << std::vector<Step>{
        setAddress, busy,
        dnload(0, command(dfu::kCmdSetAddress, kBase), true, dfu::Error, dfu::ErrStalledPkt)};
    QTest::newRow("upload from download idle stalls")
        << std::vector<Step>{setAddress, busy, idleAgain,
                             request(classIn(dfu::Upload, 2, 64), true, dfu::Error, dfu::ErrStalledPkt)};
    QTest::newRow("abort from download idle") << std::vector<Step>{
        setAddress, busy, idleAgain, request(classOut(dfu::Abort, 0, 0), false, dfu::Idle, dfu::Ok)};
    QTest::newRow("abort of a command not yet polled") << std::vector<Step>{
        setAddress, request(classOut(dfu::Abort, 0, 0), false, dfu::Idle, dfu::Ok), getStatus(dfu::Idle)};
    QTest::newRow("clear status outside dfuERROR reports an error")
        << std::vector<Step>{request(classOut(dfu::ClrStatus, 0, 0), false, dfu::Error, dfu::ErrUnknown),
                             request(classOut(dfu::ClrStatus, 0, 0), false, dfu::Idle, dfu::Ok)};
    QTest::newRow("abort in dfuERROR stalls and stays")
        << std::vector<Step>{dnload(1, bytes({1, 2, 3}), true, dfu::Error, dfu::ErrStalledPkt),
                             request(classOut(dfu::Abort, 0, 0), true, dfu::Error, dfu::ErrStalledPkt),
                             request(classOut(dfu::ClrStatus, 0, 0), false, dfu::Idle, dfu::Ok)};
    QTest::newRow("read unprotect is refused") << std::vector<Step>{
        dnload(0, bytes({dfu::kCmdReadUnprotect}), true, dfu::Error, dfu::ErrStalledPkt)};
    QTest::newRow("set address with a short argument is refused") << std::vector<Step>{
        dnload(0, bytes({dfu::kCmdSetAddress, 0, 0}), true, dfu::Error, dfu::ErrStalledPkt)};
    QTest::newRow("download block 1 is reserved")
        << std::vector<Step>{dnload(1, bytes({0xAA}), true, dfu::Error, dfu::ErrStalledPkt)};
    QTest::newRow("download longer than wTransferSize")
        << std::vector<Step>{dnload(2, QByteArray(2049, 'x'), true, dfu::Error, dfu::ErrStalledPkt)};
    QTest::newRow("upload longer than wTransferSize")
        << std::vector<Step>{request(classIn(dfu::Upload, 2, 2049), true, dfu::Error, dfu::ErrStalledPkt)};
    QTest::newRow("upload: full blocks stay in upload idle, a short one ends it")
        << std::vector<Step>{request(classIn(dfu::Upload, 2, 2048), false, dfu::UploadIdle),
                             request(classIn(dfu::Upload, 3, 2048), false, dfu::UploadIdle),
                             request(classIn(dfu::Upload, 0, 64), false, dfu::Idle)};
    QTest::newRow("download during an upload stalls")
        << std::vector<Step>{request(classIn(dfu::Upload, 2, 2048), false, dfu::UploadIdle),
                             dnload(2, QByteArray(16, 'x'), true, dfu::Error, dfu::ErrStalledPkt)};
    QTest::newRow("zero-length download: manifest")
        << std::vector<Step>{dnload(2, {}, false, dfu::ManifestSync), getStatus(dfu::Manifest)};
    QTest::newRow("leaving: nothing but status is taken")
        << std::vector<Step>{dnload(2, {}, false, dfu::ManifestSync), getStatus(dfu::Manifest),
                             request(classOut(dfu::Abort, 0, 0), true, dfu::Manifest)};
    QTest::newRow("status request sent as host-to-device")
        << std::vector<Step>{request(classOut(dfu::GetStatus, 0, 0), true, dfu::Error, dfu::ErrStalledPkt)};
    QTest::newRow("unknown class request")
        << std::vector<Step>{request(classOut(7, 0, 0), true, dfu::Error, dfu::ErrStalledPkt)};
    QTest::newRow("erase outside the flash fails after the busy time") << std::vector<Step>{
        dnload(0, command(dfu::kCmdErase, 0x09000000), false, dfu::DnloadSync), getStatus(dfu::DnBusy),
        request(classIn(dfu::GetStatus, 0, 6), false, dfu::Error, dfu::ErrTarget, 50)};
    QTest::newRow("set address outside the flash") << std::vector<Step>{
        dnload(0, command(dfu::kCmdSetAddress, 0x20000000), false, dfu::DnloadSync), getStatus(dfu::DnBusy),
        request(classIn(dfu::GetStatus, 0, 6), false, dfu::Error, dfu::ErrTarget, 5)};
    QTest::newRow("data block beyond the flash end") << std::vector<Step>{
        dnload(0, command(dfu::kCmdSetAddress, kBase + 128 * 8192 - 8), false, dfu::DnloadSync),
        getStatus(dfu::DnBusy),
        getStatus(dfu::DnloadIdle, 5),
        dnload(2, QByteArray(16, 'x'), false, dfu::DnloadSync),
        getStatus(dfu::DnBusy),
        request(classIn(dfu::GetStatus, 0, 6), false, dfu::Error, dfu::ErrAddress, 50)};
}

void TestDfuLoader::stateMachine()
{
    QFETCH(std::vector<Step>, steps);
    Rig rig;
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step &step = steps[i];
        const UsbControlResult r = rig.send(step);
        const QByteArray where = "step " + QByteArray::number(int(i));
        QVERIFY2(r.stalled == step.stall, where);
        if (step.state >= 0)
            QVERIFY2(rig.loader->state() == step.state,
                     where + " state " + QByteArray::number(rig.loader->state()));
        if (step.status >= 0)
            QVERIFY2(rig.loader->status() == step.status,
                     where + " status " + QByteArray::number(rig.loader->status()));
    }
}

void TestDfuLoader::statusReplies()
{
    DfuLoader::Config c;
    c.timing.commandMs = 3;
    c.timing.eraseMs = 40;
    c.timing.programMs = 9;
    c.timing.manifestMs = 12;
    Rig rig(c);

    StatusReply s = decode(rig.send(classIn(dfu::GetStatus, 0, 6)));
    QCOMPARE(s.state, int(dfu::Idle));
    QCOMPARE(s.status, int(dfu::Ok));

    rig.send(classOut(dfu::Dnload, 0, 5), command(dfu::kCmdErase, kBase));
    s = decode(rig.send(classIn(dfu::GetStatus, 0, 6)));
    QCOMPARE(s.state, int(dfu::DnBusy));
    QCOMPARE(s.pollMs, 40);
    rig.now += 15;
    s = decode(rig.send(classIn(dfu::GetStatus, 0, 6)));
    QCOMPARE(s.state, int(dfu::DnBusy));
    QCOMPARE(s.pollMs, 25); // what is left of the 40
    rig.now += 25;
    s = decode(rig.send(classIn(dfu::GetStatus, 0, 6)));
    QCOMPARE(s.state, int(dfu::DnloadIdle));
    QCOMPARE(s.pollMs, 0);

    rig.send(classOut(dfu::Dnload, 0, 5), command(dfu::kCmdSetAddress, kBase));
    QCOMPARE(decode(rig.send(classIn(dfu::GetStatus, 0, 6))).pollMs, 3);
    rig.now += 3;
    rig.send(classIn(dfu::GetStatus, 0, 6));
    rig.send(classOut(dfu::Dnload, 2, 4), bytes({1, 2, 3, 4}));
    QCOMPARE(decode(rig.send(classIn(dfu::GetStatus, 0, 6))).pollMs, 9);
    rig.now += 9;
    rig.send(classIn(dfu::GetStatus, 0, 6));
    rig.send(classOut(dfu::Dnload, 3, 0));
    s = decode(rig.send(classIn(dfu::GetStatus, 0, 6)));
    QCOMPARE(s.state, int(dfu::Manifest));
    QCOMPARE(s.pollMs, 12);

    // A host asking for fewer bytes gets fewer.
    Rig short_;
    const UsbControlResult r = short_.send(classIn(dfu::GetStatus, 0, 1));
    QCOMPARE(r.data.size(), size_t(1));
}

void TestDfuLoader::dataBlockPlacement_data()
{
    QTest::addColumn<int>("transferSize");
    QTest::addColumn<uint>("pointer");
    QTest::addColumn<int>("block");
    QTest::addColumn<uint>("address");

    QTest::newRow("block 2 at the pointer") << 2048 << uint(kBase) << 2 << uint(kBase);
    QTest::newRow("block 5 three transfers on") << 2048 << uint(kBase) << 5 << uint(kBase + 3 * 2048);
    QTest::newRow("its own transfer size, not the host's")
        << 1024 << uint(kBase + 0x4000) << 4 << uint(kBase + 0x4000 + 2 * 1024);
}

void TestDfuLoader::dataBlockPlacement()
{
    QFETCH(int, transferSize);
    QFETCH(uint, pointer);
    QFETCH(int, block);
    QFETCH(uint, address);
    DfuLoader::Config c;
    c.transferSize = uint16_t(transferSize);
    Rig rig(c);
    rig.setAddress(pointer);
    QCOMPARE(rig.loader->addressPointer(), uint32_t(pointer));
    const std::vector<uint8_t> data = pattern(100, 7);
    rig.download(uint16_t(block), data);
    QCOMPARE(int(rig.loader->state()), int(dfu::DnloadIdle));

    const std::vector<uint8_t> &flash = rig.loader->flash().bytes();
    const size_t at = address - kBase;
    QVERIFY(std::equal(data.begin(), data.end(), flash.begin() + long(at)));
    // Nothing else was touched.
    const size_t programmed =
        size_t(std::count_if(flash.begin(), flash.end(), [](uint8_t b) { return b != 0xFF; }));
    QCOMPARE(programmed,
             size_t(std::count_if(data.begin(), data.end(), [](uint8_t b) { return b != 0xFF; })));
}

void TestDfuLoader::uploadReadsBack()
{
    Rig rig;
    const std::vector<uint8_t> image = pattern(5000, 3);
    rig.loader->flash().load(image);
    rig.setAddress(kBase);
    rig.send(classOut(dfu::Abort, 0, 0));

    std::vector<uint8_t> read;
    for (uint16_t block = 2; read.size() < image.size(); ++block) {
        const uint16_t n = uint16_t(std::min<size_t>(2048, image.size() - read.size()));
        const UsbControlResult r = rig.send(classIn(dfu::Upload, block, n));
        QVERIFY(!r.stalled);
        QCOMPARE(r.data.size(), size_t(n));
        read.insert(read.end(), r.data.begin(), r.data.end());
    }
    QVERIFY(read == image);

    // Block 0 lists the commands the loader takes.
    rig.send(classOut(dfu::Abort, 0, 0));
    const UsbControlResult list = rig.send(classIn(dfu::Upload, 0, 32));
    QCOMPARE(list.data, (std::vector<uint8_t>{dfu::kCmdGetCommands, dfu::kCmdSetAddress, dfu::kCmdErase}));

    // Reading past the end of the flash gives what is there, then stalls.
    rig.send(classOut(dfu::Abort, 0, 0));
    rig.setAddress(kBase + 128 * 8192 - 100);
    rig.send(classOut(dfu::Abort, 0, 0));
    QCOMPARE(rig.send(classIn(dfu::Upload, 2, 2048)).data.size(), size_t(100));
    QVERIFY(rig.send(classIn(dfu::Upload, 3, 2048)).stalled);
    QCOMPARE(int(rig.loader->status()), int(dfu::ErrAddress));
}

void TestDfuLoader::flashOnlyClearsBits()
{
    Rig rig;
    rig.loader->flash().load(std::vector<uint8_t>(16, 0x0F));
    rig.setAddress(kBase);
    rig.download(2, std::vector<uint8_t>(16, 0xF3));
    // Not erased first: the old zeros stay.
    QCOMPARE(int(rig.loader->flash().bytes()[0]), 0x03);
    QCOMPARE(int(rig.loader->flash().bytes()[15]), 0x03);

    rig.setAddress(kBase);
    rig.send(classOut(dfu::Dnload, 0, 5), command(dfu::kCmdErase, kBase + 100));
    rig.send(classIn(dfu::GetStatus, 0, 6));
    rig.now += 1000;
    rig.send(classIn(dfu::GetStatus, 0, 6));
    rig.download(2, std::vector<uint8_t>(16, 0xF3));
    QCOMPARE(int(rig.loader->flash().bytes()[0]), 0xF3);
    QCOMPARE(int(rig.loader->flash().bytes()[15]), 0xF3);
}

void TestDfuLoader::erase_data()
{
    QTest::addColumn<QByteArray>("cmd");
    QTest::addColumn<int>("firstErased"); // page index
    QTest::addColumn<int>("pagesErased");

    QTest::newRow("page at its start") << command(dfu::kCmdErase, kBase + 3 * 8192) << 3 << 1;
    QTest::newRow("page by an address inside it")
        << command(dfu::kCmdErase, kBase + 3 * 8192 + 4000) << 3 << 1;
    QTest::newRow("last page") << command(dfu::kCmdErase, kBase + 127 * 8192) << 127 << 1;
    QTest::newRow("mass erase") << bytes({dfu::kCmdErase}) << 0 << 128;
}

void TestDfuLoader::erase()
{
    QFETCH(QByteArray, cmd);
    QFETCH(int, firstErased);
    QFETCH(int, pagesErased);
    Rig rig;
    rig.loader->flash().load(std::vector<uint8_t>(128 * 8192, 0x00));
    rig.send(classOut(dfu::Dnload, 0, uint16_t(cmd.size())), cmd);
    QCOMPARE(int(decode(rig.send(classIn(dfu::GetStatus, 0, 6))).state), int(dfu::DnBusy));
    rig.now += 100000;
    QCOMPARE(int(decode(rig.send(classIn(dfu::GetStatus, 0, 6))).state), int(dfu::DnloadIdle));

    const std::vector<uint8_t> &flash = rig.loader->flash().bytes();
    for (int page = 0; page < 128; ++page) {
        const bool erased = page >= firstErased && page < firstErased + pagesErased;
        const auto begin = flash.begin() + page * 8192;
        const uint8_t expected = erased ? 0xFF : 0x00;
        QVERIFY2(std::all_of(begin, begin + 8192, [&](uint8_t b) { return b == expected; }),
                 QByteArray::number(page));
    }
    QCOMPARE(int(rig.loader->erasedPages()), pagesErased);
}

void TestDfuLoader::leave_data()
{
    QTest::addColumn<bool>("poll");
    QTest::addColumn<bool>("abort");
    QTest::addColumn<int>("dueAfterMs"); // -1: no leave

    QTest::newRow("polled: leaves after the manifest time") << true << false << 10;
    QTest::newRow("not polled: leaves on its own") << false << false << 50;
    QTest::newRow("aborted before the poll: stays") << false << true << -1;
}

void TestDfuLoader::leave()
{
    QFETCH(bool, poll);
    QFETCH(bool, abort);
    QFETCH(int, dueAfterMs);
    DfuLoader::Config c;
    c.timing.manifestMs = 10;
    c.timing.unpolledLeaveMs = 50;
    Rig rig(c);
    rig.send(classOut(dfu::Dnload, 2, 0));
    const uint64_t start = rig.now;
    if (poll)
        QCOMPARE(decode(rig.send(classIn(dfu::GetStatus, 0, 6))).state, int(dfu::Manifest));
    if (abort)
        rig.send(classOut(dfu::Abort, 0, 0));
    if (dueAfterMs < 0) {
        QVERIFY(!rig.loader->nextEventAt());
        rig.now += 10000;
        QVERIFY(rig.loader->takeDueEvent() == DfuLoader::Event::None);
        QCOMPARE(int(rig.loader->state()), int(dfu::Idle));
        return;
    }
    QCOMPARE(*rig.loader->nextEventAt(), start + uint64_t(dueAfterMs));
    rig.now = start + uint64_t(dueAfterMs) - 1;
    QVERIFY(rig.loader->takeDueEvent() == DfuLoader::Event::None);
    rig.now += 1;
    QVERIFY(rig.loader->takeDueEvent() == DfuLoader::Event::Leave);
    QVERIFY(rig.loader->takeDueEvent() == DfuLoader::Event::None);
}

void TestDfuLoader::detachEnumeratesAgain()
{
    Rig rig;
    QVERIFY(!rig.send(classOut(dfu::Detach, 1000, 0)).stalled);
    rig.now += 100;
    QVERIFY(rig.loader->takeDueEvent() == DfuLoader::Event::Reattach);

    // Detach in the middle of a command is not allowed.
    Rig busy;
    busy.send(classOut(dfu::Dnload, 0, 5), command(dfu::kCmdSetAddress, kBase));
    QVERIFY(busy.send(classOut(dfu::Detach, 1000, 0)).stalled);
    QVERIFY(!busy.loader->nextEventAt());
}

void TestDfuLoader::faultStallFirstBlock_data()
{
    QTest::addColumn<QList<int>>("sizes");
    QTest::addColumn<QList<bool>>("stalled");

    QTest::newRow("halving until it fits, then full size again")
        << QList<int>{2048, 1024, 512, 2048} << QList<bool>{true, true, false, false};
    QTest::newRow("at the limit it fits") << QList<int>{512} << QList<bool>{false};
    QTest::newRow("every size above stalls while none got through")
        << QList<int>{513, 1024, 2048, 600} << QList<bool>{true, true, true, true};
}

void TestDfuLoader::faultStallFirstBlock()
{
    QFETCH(QList<int>, sizes);
    QFETCH(QList<bool>, stalled);
    DfuLoader::Config c;
    c.faults.stallFirstBlockAbove = 512;
    Rig rig(c);
    rig.setAddress(kBase);
    for (int i = 0; i < sizes.size(); ++i) {
        const UsbControlResult r = rig.send(classOut(dfu::Dnload, uint16_t(2 + i), uint16_t(sizes[i])),
                                            QByteArray(sizes[i], char(0x11)));
        QCOMPARE(r.stalled, stalled[i]);
        if (r.stalled) {
            // Refused before the DFU layer saw it: the state is kept.
            QCOMPARE(int(rig.loader->state()), int(dfu::DnloadIdle));
            continue;
        }
        rig.send(classIn(dfu::GetStatus, 0, 6));
        rig.now += 100;
        QCOMPARE(decode(rig.send(classIn(dfu::GetStatus, 0, 6))).state, int(dfu::DnloadIdle));
    }
}

void TestDfuLoader::faultErrorOnBlock()
{
    DfuLoader::Config c;
    c.faults.errorOnBlock = 2;
    Rig rig(c);
    rig.setAddress(kBase);
    rig.download(2, pattern(2048, 1));
    QCOMPARE(int(rig.loader->state()), int(dfu::DnloadIdle));

    rig.send(classOut(dfu::Dnload, 3, 2048), QByteArray(2048, char(0x22)));
    QCOMPARE(decode(rig.send(classIn(dfu::GetStatus, 0, 6))).state, int(dfu::DnBusy));
    rig.now += 100;
    const StatusReply s = decode(rig.send(classIn(dfu::GetStatus, 0, 6)));
    QCOMPARE(s.state, int(dfu::Error));
    QCOMPARE(s.status, int(dfu::ErrProg));
    // The failed block is not in the flash.
    QCOMPARE(int(rig.loader->flash().bytes()[2048]), 0xFF);
    // The host clears it and can go on.
    rig.send(classOut(dfu::ClrStatus, 0, 0));
    QCOMPARE(int(rig.loader->state()), int(dfu::Idle));
}

void TestDfuLoader::faultReadProtected()
{
    DfuLoader::Config c;
    c.faults.readProtected = true;
    Rig rig(c);
    rig.loader->flash().load(pattern(4096, 9));
    // The command list is still readable; memory is not.
    QVERIFY(!rig.send(classIn(dfu::Upload, 0, 3)).stalled);
    rig.send(classOut(dfu::Abort, 0, 0));
    const UsbControlResult r = rig.send(classIn(dfu::Upload, 2, 2048));
    QVERIFY(r.stalled);
    QCOMPARE(int(rig.loader->state()), int(dfu::Error));
    QCOMPARE(int(rig.loader->status()), int(dfu::ErrVendor));
    // Writing still works.
    rig.send(classOut(dfu::ClrStatus, 0, 0));
    rig.setAddress(kBase + 8192);
    rig.download(2, pattern(16, 4));
    QCOMPARE(int(rig.loader->state()), int(dfu::DnloadIdle));
}

void TestDfuLoader::faultStartInError()
{
    DfuLoader::Config c;
    c.faults.startInError = true;
    Rig rig(c);
    StatusReply s = decode(rig.send(classIn(dfu::GetStatus, 0, 6)));
    QCOMPARE(s.state, int(dfu::Error));
    QCOMPARE(s.status, int(dfu::ErrUnknown));
    // Nothing else until it is cleared.
    QVERIFY(rig.send(classOut(dfu::Dnload, 0, 5), command(dfu::kCmdSetAddress, kBase)).stalled);
    rig.send(classOut(dfu::ClrStatus, 0, 0));
    s = decode(rig.send(classIn(dfu::GetStatus, 0, 6)));
    QCOMPARE(s.state, int(dfu::Idle));
    QCOMPARE(s.status, int(dfu::Ok));
    // Every power-on starts in error again.
    rig.loader->reset();
    QCOMPARE(int(rig.loader->state()), int(dfu::Error));
}

void TestDfuLoader::faultUnplugAtBlock()
{
    DfuLoader::Config c;
    c.faults.unplugAtBlock = 3;
    Rig rig(c);
    rig.setAddress(kBase);
    rig.download(2, pattern(2048, 1));
    rig.download(3, pattern(2048, 2));
    QVERIFY(!rig.loader->nextEventAt());
    rig.send(classOut(dfu::Dnload, 4, 2048), QByteArray(2048, char(0x33)));
    QVERIFY(rig.loader->pendingEvent() == DfuLoader::Event::Unplug);
    QVERIFY(rig.loader->takeDueEvent() == DfuLoader::Event::Unplug);
    // The block it was pulled on never reached the flash.
    QCOMPARE(int(rig.loader->flash().bytes()[2 * 2048]), 0xFF);
    QCOMPARE(rig.loader->flash().programmedImage().size(), size_t(2 * 2048));
}

void TestDfuLoader::faultSlowErase()
{
    DfuLoader::Config c;
    c.timing.eraseMs = 400;
    c.timing.eraseBusyRepeats = 3;
    Rig rig(c);
    rig.send(classOut(dfu::Dnload, 0, 5), command(dfu::kCmdErase, kBase));
    QCOMPARE(decode(rig.send(classIn(dfu::GetStatus, 0, 6))).pollMs, 400);
    // Busy three more times even though the host waited as told.
    for (int i = 0; i < 3; ++i) {
        rig.now += 400;
        const StatusReply s = decode(rig.send(classIn(dfu::GetStatus, 0, 6)));
        QCOMPARE(s.state, int(dfu::DnBusy));
        QCOMPARE(s.pollMs, 400);
    }
    rig.now += 400;
    QCOMPARE(decode(rig.send(classIn(dfu::GetStatus, 0, 6))).state, int(dfu::DnloadIdle));
}

void TestDfuLoader::memoryLayout_data()
{
    QTest::addColumn<uint>("base");
    QTest::addColumn<uint>("pageSize");
    QTest::addColumn<uint>("pageCount");
    QTest::addColumn<QString>("layout");

    QTest::newRow("default") << uint(kBase) << 8192u << 128u << "@Internal Flash  /0x08000000/128*008Kg";
    QTest::newRow("small") << uint(kBase) << 16384u << 4u << "@Internal Flash  /0x08000000/04*016Kg";
    QTest::newRow("other base") << 0x08004000u << 2048u << 64u << "@Internal Flash  /0x08004000/64*002Kg";
}

void TestDfuLoader::memoryLayout()
{
    QFETCH(uint, base);
    QFETCH(uint, pageSize);
    QFETCH(uint, pageCount);
    QFETCH(QString, layout);
    DfuLoader::Config c;
    c.flashBase = base;
    c.pageSize = pageSize;
    c.pageCount = pageCount;
    DfuLoader loader(c);
    QCOMPARE(QString::fromStdString(loader.memoryLayout()), layout);
    QCOMPARE(loader.flash().size(), uint32_t(pageSize * pageCount));
}

void TestDfuLoader::functionalDescriptor()
{
    DfuLoader::Config c;
    QCOMPARE(DfuLoader(c).functionalDescriptor(),
             (std::vector<uint8_t>{9, 0x21, 0x0B, 0xFF, 0x00, 0x00, 0x08, 0x1A, 0x01}));
    c.transferSize = 1024;
    QCOMPARE(DfuLoader(c).functionalDescriptor(),
             (std::vector<uint8_t>{9, 0x21, 0x0B, 0xFF, 0x00, 0x00, 0x04, 0x1A, 0x01}));
}

void TestDfuLoader::configurationDescriptor()
{
    DfuLoader loader(DfuLoader::Config{});
    DfuUsbFunction f(loader, DfuUsbFunction::Identity{});
    const UsbDescriptors &d = f.descriptors();
    QCOMPARE(d.vendorId(), uint16_t(0x0483));
    QCOMPARE(d.productId(), uint16_t(0xDF11));
    QCOMPARE(d.device.size(), size_t(18));

    const std::vector<uint8_t> &c = d.configuration;
    QCOMPARE(c.size(), size_t(27));
    QCOMPARE(int(c[2] | c[3] << 8), 27); // wTotalLength
    QCOMPARE(int(c[4]), 1);              // one interface
    // Interface 0, alternate setting 0, class FE / 01 / 02 (DFU mode), its
    // name is the layout string.
    const std::vector<uint8_t> interface(c.begin() + 9, c.begin() + 18);
    QCOMPARE(interface,
             (std::vector<uint8_t>{9, 4, 0, 0, 0, 0xFE, 0x01, 0x02, DfuUsbFunction::kLayoutString}));
    const std::vector<uint8_t> functional(c.begin() + 18, c.end());
    QCOMPARE(functional, loader.functionalDescriptor());
    QCOMPARE(d.sysfsBlob().size(), size_t(18 + 27));
    // Room for the largest image the host sends.
    QVERIFY(loader.flash().size() >= 229376);
}

void TestDfuLoader::standardRequests_data()
{
    QTest::addColumn<uint>("setup"); // bmRequestType, bRequest, wValue packed
    QTest::addColumn<int>("wIndex");
    QTest::addColumn<int>("wLength");
    QTest::addColumn<bool>("stall");
    QTest::addColumn<QByteArray>("expected"); // prefix of the answer

    auto pack = [](int type, int req, int value) {
        return uint(type << 24 | req << 16 | value);
    };
    const QByteArray layoutUtf16 = [] {
        QByteArray a;
        for (char ch : QByteArray("@Internal Flash  /0x08000000/128*008Kg")) {
            a.append(ch);
            a.append('\0');
        }
        return a;
    }();

    QTest::newRow("device descriptor, first 8 bytes")
        << pack(0x80, 6, 0x0100) << 0 << 8 << false << bytes({18, 1, 0x00, 0x02, 0, 0, 0, 64});
    QTest::newRow("configuration") << pack(0x80, 6, 0x0200) << 0 << 9 << false << bytes({9, 2, 27, 0, 1, 1});
    QTest::newRow("languages") << pack(0x80, 6, 0x0300) << 0 << 255 << false << bytes({4, 3, 0x09, 0x04});
    QTest::newRow("layout string") << pack(0x80, 6, 0x0304) << 0x0409 << 255 << false
                                   << bytes({2 + 2 * 38, 3}) + layoutUtf16;
    QTest::newRow("serial string") << pack(0x80, 6, 0x0303) << 0x0409 << 255 << false
                                   << bytes({26, 3, '2', 0, '0', 0, '5', 0});
    QTest::newRow("no such string") << pack(0x80, 6, 0x0309) << 0x0409 << 255 << true << QByteArray();
    QTest::newRow("no device qualifier (full speed)")
        << pack(0x80, 6, 0x0600) << 0 << 10 << true << QByteArray();
    QTest::newRow("functional descriptor of interface 0")
        << pack(0x81, 6, 0x2100) << 0 << 9 << false << bytes({9, 0x21, 0x0B});
    QTest::newRow("functional descriptor of interface 1")
        << pack(0x81, 6, 0x2100) << 1 << 9 << true << QByteArray();
    QTest::newRow("device status") << pack(0x80, 0, 0) << 0 << 2 << false << bytes({0, 0});
    QTest::newRow("configuration value") << pack(0x80, 8, 0) << 0 << 1 << false << bytes({1});
    QTest::newRow("class request to interface 1") << pack(0xA1, 3, 0) << 1 << 6 << true << QByteArray();
    QTest::newRow("vendor request") << pack(0xC0, 1, 0) << 0 << 4 << true << QByteArray();
}

void TestDfuLoader::standardRequests()
{
    QFETCH(uint, setup);
    QFETCH(int, wIndex);
    QFETCH(int, wLength);
    QFETCH(bool, stall);
    QFETCH(QByteArray, expected);
    DfuLoader loader(DfuLoader::Config{});
    DfuUsbFunction f(loader, DfuUsbFunction::Identity{});
    const UsbSetup s{uint8_t(setup >> 24), uint8_t(setup >> 16), uint16_t(setup), uint16_t(wIndex),
                     uint16_t(wLength)};
    const UsbControlResult r = f.control(s, nullptr, 0);
    QCOMPARE(r.stalled, stall);
    QVERIFY(r.data.size() <= size_t(wLength));
    const QByteArray got(reinterpret_cast<const char *>(r.data.data()), int(r.data.size()));
    QCOMPARE(got.left(expected.size()), expected);
}

void TestDfuLoader::flashMemoryEdges()
{
    DfuFlashMemory f(kBase, 8192, 2);
    QVERIFY(f.contains(kBase, 16384));
    QVERIFY(!f.contains(kBase, 16385));
    QVERIFY(!f.contains(kBase - 1, 1));
    QVERIFY(!f.contains(0xFFFFFFF0u, 0x20)); // wraps past 4 GiB
    const uint8_t zero[4] = {0, 0, 0, 0};
    QVERIFY(!f.program(kBase + 16382, zero, 4));
    QCOMPARE(int(f.bytes()[16382]), 0xFF); // refused as a whole
    QVERIFY(!f.load(std::vector<uint8_t>(16385, 0)));

    // The programmed image keeps 0xFF bytes inside, drops only the tail.
    QVERIFY(f.load({0x01, 0xFF, 0x02, 0xFF, 0xFF}));
    QCOMPARE(f.programmedImage(), (std::vector<uint8_t>{0x01, 0xFF, 0x02}));
    QVERIFY(f.load({}));
    QVERIFY(f.programmedImage().empty());
}

QTEST_APPLESS_MAIN(TestDfuLoader)
#include "tst_dfu_loader.moc"
