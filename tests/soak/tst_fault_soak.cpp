// Fault soak: the real window and its event loop against the emulated wheel,
// for QUORSET_SOAK_SECONDS (45 by default), one random fault per cycle. After
// every fault the window must be back on the waiting screen or connected in
// time, the event loop must keep turning, and every setting in the wheel's
// flash must hold its old value or the one the cycle asked for.
//
// QUORSET_SOAK_SEED replays a run; the seed is printed at the start.
#include "dfu_emulator.h"
#include "prompt_recorder.h"
#include "test_image.h"
#include "wheel_fixture.h"
#include "wheel_test_main.h"

#include "../app/private_runtime_dir.h"
#include "app/mainwindow.h"
#include "device/device_handle.h"

#include <QAbstractSlider>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QStackedWidget>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <thread>

using wheelemu::Wheel;
using Settings = Wheel::Settings;

namespace {

const QString kWaitingHeader = QStringLiteral("WAITING FOR DEVICE...");
// The scan retry is a 3 s coarse timer (up to 5 % late); the open and the
// initial reads follow it.
constexpr int kBackMs = 3500;
// No single step of the program may keep the event loop away this long.
constexpr int kHangMs = 15000;
const char *const kPresets[] = {"pbSetR", "pbSetG", "pbSetB", "pbSet3"};

quint32 seedFromEnvironment()
{
    bool ok = false;
    const quint32 seed = qEnvironmentVariable("QUORSET_SOAK_SEED").toUInt(&ok);
    return ok ? seed : std::random_device{}();
}

// Aborts the process when the GUI thread stops turning its event loop.
class Watchdog
{
public:
    explicit Watchdog(quint32 seed) : seed_(seed)
    {
        QObject::connect(&beat_, &QTimer::timeout, [this] { last_ = now(); });
        beat_.start(50);
        thread_ = std::thread([this] {
            while (!stop_) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                if (now() - last_ > kHangMs) {
                    std::fprintf(stderr, "SOAK event loop hung for %d ms; seed %u\n", kHangMs, seed_);
                    std::abort();
                }
            }
        });
    }
    ~Watchdog()
    {
        stop_ = true;
        thread_.join();
    }

private:
    static qint64 now()
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    quint32 seed_;
    QTimer beat_;
    std::atomic<qint64> last_{now()};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Every flash field the host can write, by name, for the old-or-new check.
QList<QPair<const char *, QByteArray>> fields(const Settings &s)
{
    auto raw = [](const auto &v) {
        return QByteArray(reinterpret_cast<const char *>(&v), sizeof v);
    };
    return {{"biteWord", raw(s.biteWord)},
            {"rightMax", raw(s.rightMax)},
            {"leftMax", raw(s.leftMax)},
            {"rightMin", raw(s.rightMin)},
            {"leftMin", raw(s.leftMin)},
            {"encoderPulseWidth", raw(s.encoderPulseWidth)},
            {"shifterPulseWidth", raw(s.shifterPulseWidth)},
            {"clutchesEnabled", raw(s.clutchesEnabled)},
            {"extraShiftersEnabled", raw(s.extraShiftersEnabled)},
            {"shifterThresholds", raw(s.shifterThresholds)},
            {"ledFrame",
             QByteArray(reinterpret_cast<const char *>(s.ledFrame.data()), qsizetype(s.ledFrame.size()))},
            {"extraLeds", raw(s.extraLeds)}};
}

struct Soak
{
    explicit Soak(const char *model) : wheel(options(model)), rng(seed)
    {
        static QTemporaryDir store;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, store.path());
    }
    static wheeltest::WheelFixture::Options options(const char *model)
    {
        wheeltest::WheelFixture::Options o;
        o.model = model;
        o.bootLoaderDelayMs = 300;
        return o;
    }

    template<typename T = QWidget> T *widget(const char *name) const
    {
        T *w = window->findChild<T *>(QLatin1String(name));
        if (!w)
            qFatal("no widget %s", name);
        return w;
    }
    void click(const char *name) { widget<QAbstractButton>(name)->click(); }
    QString header() const { return widget<QLabel>("lbHead")->text(); }
    bool waiting() const
    {
        return header() == kWaitingHeader && widget("pbStatus")->isVisibleTo(window.get());
    }
    // Open, laid out for the model and past the initial reads (they end by
    // showing the INPUTS page).
    bool connected() const
    {
        return deviceHandle().isOpen() && header() != kWaitingHeader &&
               !widget("pbStatus")->isVisibleTo(window.get()) &&
               widget<QStackedWidget>("stackedWidget")->currentIndex() == 0;
    }
    // How long the window took to reach the state, or -1 past the limit.
    int reach(const std::function<bool()> &state, int limitMs)
    {
        QElapsedTimer t;
        t.start();
        if (!QTest::qWaitFor(state, limitMs))
            return -1;
        return int(t.elapsed());
    }
    int uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); }

    Settings flash()
    {
        Settings s{};
        wheel.withWheel([&s](Wheel &w) { s = w.flash(); });
        return s;
    }
    std::vector<uint8_t> installed()
    {
        std::vector<uint8_t> image;
        wheel.withWheel([&image](Wheel &w) { image = w.installedImage(); });
        return image;
    }

    // Runs `busy` on this thread while another pulls the cable after
    // delayUs.
    void unplugDuring(int delayUs, const std::function<void()> &busy)
    {
        std::thread puller([this, delayUs] {
            std::this_thread::sleep_for(std::chrono::microseconds(delayUs));
            wheel.unplug();
        });
        busy();
        puller.join();
    }
    // The wheel is off the bus: the waiting screen must follow, then the
    // wheel comes back after a random pause and the window must find it.
    bool downAndBack(QString *why)
    {
        const int down = reach([this] { return waiting(); }, 3000);
        if (down < 0)
            return (*why = QStringLiteral("no waiting screen within 3 s of the unplug"), false);
        worstDown = qMax(worstDown, down);
        QTest::qWait(uniform(0, 800));
        return back(why);
    }
    bool back(QString *why)
    {
        if (!wheel.plug())
            return (*why = QStringLiteral("replug failed"), false);
        const int up = reach([this] { return connected(); }, kBackMs);
        if (up < 0)
            return (*why = QStringLiteral("not connected within %1 ms of the replug").arg(kBackMs), false);
        worstUp = qMax(worstUp, up);
        return true;
    }
    void scan() { QMetaObject::invokeMethod(window.get(), "onInit"); }
    // Off the bus and back without a fault: the window reads everything
    // afresh.
    bool cleanReconnect(QString *why)
    {
        wheel.unplug();
        return downAndBack(why);
    }

    const quint32 seed = seedFromEnvironment();
    PrivateRuntimeDir runtimeDir;
    wheeltest::PromptRecorder prompts;
    wheeltest::WheelFixture wheel;
    std::unique_ptr<MainWindow> window;
    QTemporaryDir files;
    std::mt19937 rng;
    int worstDown = 0, worstUp = 0;
    // Measured on a clean run: an LED save, and plug to end of initial reads.
    int ledSaveUs = 0, initialReadsUs = 0;
    std::map<QString, Settings> presetFlash;   // what a clean save of each preset stores
    wheelemu::DfuBootLoader *loader = nullptr; // PELIX only
    int noScanAfterFailedFlash = 0;
};

// One fault: does it, and says which flash values the user asked for.
struct Cycle
{
    Settings wanted; // starts as the flash before the cycle
    QString why;     // set when the window misbehaved
};

bool unplugIdle(Soak &s, Cycle &c)
{
    QTest::qWait(s.uniform(0, 1000));
    s.wheel.unplug();
    return s.downAndBack(&c.why);
}

bool unplugDuringInitialReads(Soak &s, Cycle &c)
{
    s.wheel.unplug();
    if (s.reach([&s] { return s.waiting(); }, 3000) < 0)
        return (c.why = QStringLiteral("no waiting screen"), false);
    s.wheel.plug();
    // The scan opens the wheel and reads it in one go on this thread: run it
    // now rather than when the retry timer fires, so the pull lands in it.
    s.unplugDuring(s.uniform(0, s.initialReadsUs), [&s] { s.scan(); });
    return s.downAndBack(&c.why);
}

bool unplugDuringLedSave(Soak &s, Cycle &c)
{
    const char *preset = kPresets[s.uniform(0, int(std::size(kPresets)) - 1)];
    s.click("pbS2");
    s.click(preset);
    const Settings &saved = s.presetFlash[QLatin1String(preset)];
    c.wanted.ledFrame = saved.ledFrame;
    c.wanted.extraLeds = saved.extraLeds;
    s.unplugDuring(s.uniform(0, s.ledSaveUs * 3 / 2), [&s] { s.click("pbSave"); });
    return s.downAndBack(&c.why);
}

// Writes a test image of kib KiB and starts MANUAL UPDATE with it.
bool startUpdate(Soak &s, int kib, std::vector<uint8_t> *image, QString *why)
{
    static int serial = 0;
    *image = wheelemu::makeTestImage(size_t(kib) * 1024, "9.0." + std::to_string(++serial));
    const QString path = s.files.filePath(QStringLiteral("soak.bin"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(reinterpret_cast<const char *>(image->data()),
                                                       qsizetype(image->size())) != qsizetype(image->size()))
        qFatal("cannot write %s", qPrintable(path));
    file.close();

    s.prompts.clear();
    s.widget<QLineEdit>("lePath")->setText(path);
    auto *bar = s.widget<QProgressBar>("pgUpgrade");
    // A worker that lost its wheel may still be on its way out and ignore
    // the click; the bar moves only for a new run.
    for (int tries = 0; tries < 20; ++tries) {
        bar->reset();
        s.click("pbUpgrade");
        if (QTest::qWaitFor([bar] { return bar->value() >= 0; }, 300))
            return true;
    }
    return (*why = QStringLiteral("MANUAL UPDATE never started"), false);
}

// The boot loader erases only the pages a new image needs, so behind a
// smaller image the wheel keeps the tail of the one before: there the new
// image need only lead.
bool imageOldOrNew(Soak &s, const std::vector<uint8_t> &before, const std::vector<uint8_t> &image,
                   QString *why, bool tailKept = false)
{
    const std::vector<uint8_t> now = s.installed();
    const bool leads =
        tailKept && now.size() >= image.size() && std::equal(image.begin(), image.end(), now.begin());
    if (now != before && now != image && !leads)
        return (*why =
                    QStringLiteral("installed image (%1 bytes) is neither the old (%2) nor the new one (%3)")
                        .arg(now.size())
                        .arg(before.size())
                        .arg(image.size()),
                false);
    return true;
}

// After the success box the wheel restarts and the window scans 3 s later.
bool backAfterUpdate(Soak &s, QString *why)
{
    QTest::qWait(kBackMs);
    if (s.reach([&s] { return s.connected(); }, kBackMs) < 0)
        return (*why = QStringLiteral("not back after the update"), false);
    return true;
}

bool unplugDuringStream(Soak &s, Cycle &c)
{
    const std::vector<uint8_t> before = s.installed();
    std::vector<uint8_t> image;
    if (!startUpdate(s, s.uniform(4, 48), &image, &c.why))
        return false;
    auto *bar = s.widget<QProgressBar>("pgUpgrade");
    const int at = s.uniform(0, 100); // past 95 the stream is left to finish
    if (!QTest::qWaitFor([&] { return bar->value() >= at || !s.prompts.messages.isEmpty(); }, 30000))
        return (c.why = QStringLiteral("stream stalled at %1 %").arg(bar->value()), false);
    if (at <= 95 && s.prompts.messages.isEmpty()) {
        s.wheel.unplug();
        if (!s.downAndBack(&c.why))
            return false;
    } else if (!QTest::qWaitFor([&s] { return !s.prompts.messages.isEmpty(); }, 30000) ||
               !backAfterUpdate(s, &c.why)) {
        return (c.why += QStringLiteral(" (stream left to finish)"), false);
    }
    // A worker whose wheel went away ends at its next send.
    QTest::qWait(300);
    return imageOldOrNew(s, before, image, &c.why);
}

// A PELIX update through its boot loader with these loader faults; with
// pull, the loader leaves the bus at a random point of the flash.
bool flashThroughLoader(Soak &s, Cycle &c, const wheelemu::DfuLoader::Faults &faults, bool pull)
{
    s.loader->withLoader([&faults](wheelemu::DfuLoader &l) { l.setFaults(faults); });
    const std::vector<uint8_t> before = s.installed();
    std::vector<uint8_t> image;
    if (!startUpdate(s, s.uniform(2, 16), &image, &c.why))
        return false;
    auto *bar = s.widget<QProgressBar>("pgUpgrade");
    const int at = pull ? s.uniform(1, 95) : 101;
    // A failed flash shows no box and leaves the bar where it was: the end
    // is a bar that stopped moving.
    int last = -1;
    QElapsedTimer still;
    still.start();
    const bool pulled = QTest::qWaitFor(
        [&] {
            if (bar->value() != last)
                last = bar->value(), still.restart();
            return bar->value() >= at || !s.prompts.messages.isEmpty() || still.elapsed() > 2000;
        },
        30000);
    const bool yanked = pulled && bar->value() >= at && s.prompts.messages.isEmpty();
    if (yanked)
        s.loader->unplug();
    QTest::qWait(100);
    if (!s.prompts.messages.isEmpty()) {
        // Pulled after the flash ended but before its box: the loader was
        // not there any more to start the wheel, so the cable goes back in.
        if (yanked && !s.wheel.waitForPlugged(true, 1000))
            s.wheel.plug();
        return backAfterUpdate(s, &c.why) && imageOldOrNew(s, before, image, &c.why, true);
    }

    // The flash failed: the loader goes off the bus and the wheel comes back
    // with what it had.
    QTest::qWait(300);
    s.loader->unplug();
    if (!s.wheel.plug())
        return (c.why = QStringLiteral("wheel did not come back"), false);
    if (s.reach([&s] { return s.connected() || s.waiting(); }, kBackMs) < 0) {
        // Nothing scans after a failed flash through the boot loader; the
        // soak counts it and scans in the user's place.
        ++s.noScanAfterFailedFlash;
        s.scan();
    }
    if (s.reach([&s] { return s.connected(); }, kBackMs) < 0)
        return (c.why = QStringLiteral("not connected after a failed flash"), false);
    return imageOldOrNew(s, before, image, &c.why, true);
}

bool pullLoader(Soak &s, Cycle &c)
{
    return flashThroughLoader(s, c, {}, true);
}

bool loaderErrorOnBlock(Soak &s, Cycle &c)
{
    wheelemu::DfuLoader::Faults f;
    f.errorOnBlock = uint32_t(s.uniform(1, 3));
    return flashThroughLoader(s, c, f, false);
}

bool loaderStalls(Soak &s, Cycle &c)
{
    wheelemu::DfuLoader::Faults f;
    f.stallFirstBlockAbove = uint16_t(s.uniform(16, 1024));
    return flashThroughLoader(s, c, f, false);
}

bool loaderStartsInError(Soak &s, Cycle &c)
{
    wheelemu::DfuLoader::Faults f;
    f.startInError = true;
    return flashThroughLoader(s, c, f, false);
}

bool failDuringInitialReads(Soak &s, Cycle &c)
{
    s.wheel.unplug();
    if (s.reach([&s] { return s.waiting(); }, 3000) < 0)
        return (c.why = QStringLiteral("no waiting screen"), false);
    const int count = s.uniform(1, 6);
    if (s.uniform(0, 1))
        s.wheel.failGetFeature(count);
    else
        s.wheel.failSetFeature(count);
    if (!s.wheel.plug())
        return (c.why = QStringLiteral("replug failed"), false);
    // A wheel whose name could not be read keeps the waiting header and the
    // ABOUT page; the scan still opens it and hides the red dot.
    if (s.reach(
            [&s] { return deviceHandle().isOpen() && !s.widget("pbStatus")->isVisibleTo(s.window.get()); },
            kBackMs) < 0)
        return (c.why = QStringLiteral("not opened within %1 ms of the replug").arg(kBackMs), false);
    // Pages filled from failed reads hold fallbacks; a clean reconnect puts
    // the wheel's own values back before the next cycle saves anything.
    QTest::qWait(200);
    return s.cleanReconnect(&c.why);
}

bool failDuringSettingsSave(Soak &s, Cycle &c)
{
    const int count = s.uniform(1, 2);
    if (s.uniform(0, 1)) {
        const bool right = s.uniform(0, 1);
        const int bite = s.uniform(0, 10000);
        s.click(right ? "rbPadR" : "rbPadL");
        auto *slider = s.widget<QAbstractSlider>("hsBite");
        slider->setSliderDown(true);
        slider->setValue(bite);
        slider->setSliderDown(false);
        c.wanted.biteWord = uint16_t(right ? bite + 10001 : bite);
        s.uniform(0, 1) ? s.wheel.failGetFeature(count) : s.wheel.failSetFeature(count);
        s.click("pbSaveP");
    } else {
        auto *slider = s.widget<QAbstractSlider>("hsTrigger");
        int value = slider->value();
        while (value == slider->value())
            value = s.uniform(slider->minimum(), slider->maximum());
        slider->setValue(value);
        c.wanted.encoderPulseWidth = value;
        s.wheel.failSetFeature(1); // the save sends exactly one report
        s.click("pbSaveEnc");
    }
    if (s.reach([&s] { return deviceHandle().isOpen() && !s.waiting(); }, 3000) < 0)
        return (c.why = QStringLiteral("a refused save lost the wheel"), false);
    return true;
}

struct FaultKind
{
    const char *name;
    bool (*run)(Soak &, Cycle &);
};

const FaultKind kWheelFaults[] = {
    {"unplug-idle", unplugIdle},
    {"unplug-initial-reads", unplugDuringInitialReads},
    {"unplug-led-save", unplugDuringLedSave},
    {"unplug-hid-stream", unplugDuringStream},
    {"fail-initial-reads", failDuringInitialReads},
    {"fail-settings-save", failDuringSettingsSave},
};

const FaultKind kLoaderFaults[] = {
    {"dfu-unplug", pullLoader},
    {"dfu-error-on-block", loaderErrorOnBlock},
    {"dfu-stall-first-block", loaderStalls},
    {"dfu-start-in-error", loaderStartsInError},
    {"unplug-idle-pelix", unplugIdle},
};

// The wheel run gets two thirds of the time, the boot loader run the rest.
int soakMs(int share)
{
    const int seconds = qEnvironmentVariableIntValue("QUORSET_SOAK_SECONDS");
    return (seconds > 0 ? seconds : 45) * share / 3 * 1000;
}

void openWindow(Soak &s)
{
    std::printf("SOAK seed %u (QUORSET_SOAK_SEED replays it)\n", s.seed);
    std::fflush(stdout);
    s.window = std::make_unique<MainWindow>();
    s.window->show();
    QVERIFY(QTest::qWaitFor([&s] { return s.connected(); }, 5000));
}

template<size_t N> void runCycles(Soak &s, const FaultKind (&kinds)[N], int ms)
{
    Watchdog watchdog(s.seed);
    std::map<QString, int> cycles;
    QElapsedTimer clock;
    clock.start();
    for (int cycle = 1; clock.elapsed() < ms; ++cycle) {
        const FaultKind &kind = kinds[s.uniform(0, int(N) - 1)];
        Cycle c{s.flash(), {}};
        const Settings old = c.wanted;
        const bool ok = kind.run(s, c);
        const QString where =
            QStringLiteral("cycle %1 (%2), seed %3: ").arg(cycle).arg(kind.name).arg(s.seed);
        QVERIFY2(ok, qPrintable(where + c.why));
        const auto before = fields(old), asked = fields(c.wanted), now = fields(s.flash());
        for (int i = 0; i < now.size(); ++i)
            QVERIFY2(now[i].second == before[i].second || now[i].second == asked[i].second,
                     qPrintable(where + QLatin1String(now[i].first) + " is neither old nor asked for"));
        ++cycles[QLatin1String(kind.name)];
    }
    for (const FaultKind &kind : kinds)
        std::printf("SOAK %s %d\n", kind.name, cycles[QLatin1String(kind.name)]);
    std::printf("SOAK worst waiting screen %d ms, worst reconnect %d ms\n", s.worstDown, s.worstUp);
    std::fflush(stdout);
}

} // namespace

class TestFaultSoak : public QObject
{
    Q_OBJECT

private slots:
    void wheel();
    void bootLoader();
};

void TestFaultSoak::wheel()
{
    Soak s("SRD7");
    QVERIFY2(s.wheel.ok(), s.wheel.error().c_str());
    openWindow(s);
    if (QTest::currentTestFailed())
        return;

    // Clean runs first: what each preset stores, and how long a save and the
    // initial reads take, so faults land inside them.
    s.click("pbS2");
    for (const char *preset : kPresets) {
        s.click(preset);
        QElapsedTimer t;
        t.start();
        s.click("pbSave");
        s.ledSaveUs = qMax(s.ledSaveUs, int(t.nsecsElapsed() / 1000));
        s.presetFlash[QLatin1String(preset)] = s.flash();
    }
    QVERIFY(s.presetFlash["pbSetR"].ledFrame != s.presetFlash["pbSetG"].ledFrame);
    QElapsedTimer reads;
    reads.start();
    s.scan();
    s.initialReadsUs = int(reads.nsecsElapsed() / 1000);
    QVERIFY(QTest::qWaitFor([&s] { return s.connected(); }, 3000));
    std::printf("SOAK clean LED save %d us, scan with initial reads %d us\n", s.ledSaveUs, s.initialReadsUs);

    runCycles(s, kWheelFaults, soakMs(2));
}

void TestFaultSoak::bootLoader()
{
    Soak s("PELIX");
    QVERIFY2(s.wheel.ok(), s.wheel.error().c_str());
    std::string error;
    QVERIFY2(wheelemu::setUpBootLoader(s.wheel.emulator(), {}, &s.loader, &error), error.c_str());
    openWindow(s);
    if (QTest::currentTestFailed())
        return;
    runCycles(s, kLoaderFaults, soakMs(1));
    std::printf("SOAK dfu-failures-without-scan %d\n", s.noScanAfterFailedFlash);
}

WHEEL_TEST_MAIN(TestFaultSoak)
#include "tst_fault_soak.moc"
