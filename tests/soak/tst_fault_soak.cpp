// Fault soak: the real window and its event loop against the emulated SRD7,
// for QUORSET_SOAK_SECONDS (30 by default), one random fault per cycle: the
// cable pulled or a report refused at a random moment inside the initial
// reads or an LED save, where a fixed-point test meets only one timing. After
// every fault the window must be back on the waiting screen or connected in
// time, the event loop must keep turning, and every setting in the wheel's
// flash must hold its old value or the one the cycle asked for. Pulls at
// rest, during a firmware stream or a flash, and refused saves are tested at
// fixed points (tst_live_window, tst_quor_upgrade, tst_dfu_flasher,
// tst_settings_pages). QUORSET_SOAK_SEED replays a run; the seed is printed.
#include "live_window.h"
#include "wheel_fixture.h"
#include "wheel_test_main.h"

#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <functional>
#include <map>
#include <random>
#include <thread>

#include <unistd.h>

using Settings = wheelemu::Wheel::Settings;

namespace {

// The scan retry is a 3 s coarse timer (up to 5 % late); the open and the
// initial reads follow it.
constexpr int kBackMs = 3500;
// No single step of the program may keep the event loop away this long.
constexpr unsigned kHangSeconds = 15;
const char *const kPresets[] = {"pbSetR", "pbSetG", "pbSetB", "pbSet3"};

// Aborts the process when the GUI thread stops turning its event loop: every
// beat pushes the alarm back.
struct Watchdog
{
    Watchdog()
    {
        std::signal(SIGALRM, [](int) {
            static const char message[] = "SOAK event loop hung (the seed is printed above)\n";
            (void)!write(STDERR_FILENO, message, sizeof message - 1); // stdio is not signal-safe
            std::abort();
        });
        QObject::connect(&beat, &QTimer::timeout, [] { alarm(kHangSeconds); });
        beat.start(50);
    }
    ~Watchdog() { alarm(0); }
    QTimer beat;
};

// Every flash field the host can write, by name, for the old-or-new check.
template<typename T> QPair<const char *, QByteArray> field(const char *name, const T &v)
{
    return {name, QByteArray(reinterpret_cast<const char *>(&v), sizeof v)};
}
#define FIELD(f) field(#f, s.f)
QList<QPair<const char *, QByteArray>> fields(const Settings &s)
{
    return {FIELD(biteWord),          FIELD(rightMax),        FIELD(leftMax),
            FIELD(rightMin),          FIELD(leftMin),         FIELD(encoderPulseWidth),
            FIELD(shifterPulseWidth), FIELD(clutchesEnabled), FIELD(extraShiftersEnabled),
            FIELD(shifterThresholds), FIELD(extraLeds),       {"ledFrame", wheeltest::bytesOf(s.ledFrame)}};
}
#undef FIELD

// Ends a cycle that went wrong, saying what the window did not do.
void need(bool ok, const QString &why)
{
    if (!ok)
        throw why;
}

struct Soak : wheeltest::LiveWindow
{
    Soak() : rng(seed)
    {
        static QTemporaryDir store;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, store.path());
    }
    ~Soak() { window.reset(); } // before the wheel goes

    void await(const std::function<bool()> &state, int limitMs, const QString &why)
    {
        need(QTest::qWaitFor(state, limitMs), why);
    }
    int uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); }

    // Runs `busy` on this thread while another pulls the cable after delayUs.
    void unplugDuring(int delayUs, const std::function<void()> &busy)
    {
        std::thread puller([this, delayUs] {
            std::this_thread::sleep_for(std::chrono::microseconds(delayUs));
            wheel.unplug();
        });
        busy();
        puller.join();
    }
    // Off the bus (pulled already, or now) until the waiting screen shows.
    void down(bool pull)
    {
        if (pull)
            wheel.unplug();
        await([this] { return waiting(); }, 3000, "no waiting screen within 3 s of the unplug");
    }
    // Back after a random pause: the window must find the wheel.
    void back()
    {
        QTest::qWait(uniform(0, 800));
        need(wheel.plug(), "replug failed");
        await([this] { return connected(); }, kBackMs,
              QStringLiteral("not connected within %1 ms of the replug").arg(kBackMs));
    }

    const quint32 seed = [] {
        bool ok = false;
        const quint32 fixed = qEnvironmentVariable("QUORSET_SOAK_SEED").toUInt(&ok);
        return ok ? fixed : std::random_device{}();
    }();
    wheeltest::WheelFixture wheel;
    std::mt19937 rng;
    // Measured on a clean run: an LED save, and plug to end of initial reads.
    int ledSaveUs = 0, initialReadsUs = 0;
    std::map<QString, Settings> presetFlash; // what a clean save of each preset stores
};

// The faults. Each may change `wanted`, which starts as the flash before the
// cycle, to the values the user asked for.
const std::pair<const char *, void (*)(Soak &, Settings &)> kFaults[] = {
    {"unplug-initial-reads",
     [](Soak &s, Settings &) {
         s.down(true);
         s.wheel.plug();
         // The scan opens the wheel and reads it in one go on this thread: run
         // it now rather than when the retry timer fires, so the pull lands in it.
         s.unplugDuring(s.uniform(0, s.initialReadsUs), [&s] { s.scan(); });
         s.down(false);
         s.back();
     }},
    {"unplug-led-save",
     [](Soak &s, Settings &wanted) {
         const char *preset = kPresets[s.uniform(0, int(std::size(kPresets)) - 1)];
         s.click("pbS2");
         s.click(preset);
         const Settings &saved = s.presetFlash[QLatin1String(preset)];
         wanted.ledFrame = saved.ledFrame;
         wanted.extraLeds = saved.extraLeds;
         s.unplugDuring(s.uniform(0, s.ledSaveUs * 3 / 2), [&s] { s.click("pbSave"); });
         s.down(false);
         s.back();
     }},
    {"fail-initial-reads",
     [](Soak &s, Settings &) {
         s.down(true);
         const int count = s.uniform(1, 6);
         s.uniform(0, 1) ? s.wheel.failGetFeature(count) : s.wheel.failSetFeature(count);
         need(s.wheel.plug(), "replug failed");
         // A wheel whose name could not be read keeps the waiting header and
         // the ABOUT page; the scan still opens it and hides the red dot.
         s.await([&s] { return deviceHandle().isOpen() && !s.redDot(); }, kBackMs,
                 QStringLiteral("not opened within %1 ms of the replug").arg(kBackMs));
         // Pages filled from failed reads hold fallbacks; a clean reconnect
         // puts the wheel's own values back before the next cycle saves.
         QTest::qWait(200);
         s.down(true);
         s.back();
     }},
};

void runCycles(Soak &s)
{
    const int seconds = qEnvironmentVariableIntValue("QUORSET_SOAK_SECONDS");
    const int ms = (seconds > 0 ? seconds : 30) * 1000;
    Watchdog watchdog;
    std::map<QString, int> cycles;
    QElapsedTimer clock;
    clock.start();
    // Kinds come in shuffled rounds, so a short run still meets each of them.
    std::vector<std::size_t> round;
    for (int cycle = 1; clock.elapsed() < ms; ++cycle) {
        if (round.empty()) {
            for (std::size_t k = 0; k < std::size(kFaults); ++k)
                round.push_back(k);
            std::shuffle(round.begin(), round.end(), s.rng);
        }
        const auto &[name, run] = kFaults[round.back()];
        round.pop_back();
        const Settings old = s.wheel.flash();
        Settings wanted = old;
        const QString where = QStringLiteral("cycle %1 (%2), seed %3: ").arg(cycle).arg(name).arg(s.seed);
        try {
            run(s, wanted);
        } catch (const QString &why) {
            QFAIL(qPrintable(where + why));
        }
        const auto before = fields(old), asked = fields(wanted), now = fields(s.wheel.flash());
        for (int i = 0; i < now.size(); ++i)
            QVERIFY2(now[i].second == before[i].second || now[i].second == asked[i].second,
                     qPrintable(where + QLatin1String(now[i].first) + " is neither old nor asked for"));
        ++cycles[QLatin1String(name)];
    }
    for (const auto &fault : kFaults)
        std::printf("SOAK %s %d\n", fault.first, cycles[QLatin1String(fault.first)]);
    std::fflush(stdout);
}

} // namespace

class TestFaultSoak : public QObject
{
    Q_OBJECT

private slots:
    void wheel()
    {
        Soak s;
        QVERIFY2(s.wheel.ok(), s.wheel.error().c_str());
        std::printf("SOAK seed %u (QUORSET_SOAK_SEED replays it)\n", s.seed);
        std::fflush(stdout);
        QVERIFY(s.open(5000));
        // Clean runs first: what each preset stores, and how long a save and
        // the initial reads take, so faults land inside them.
        s.click("pbS2");
        for (const char *preset : kPresets) {
            s.click(preset);
            QElapsedTimer t;
            t.start();
            s.click("pbSave");
            s.ledSaveUs = qMax(s.ledSaveUs, int(t.nsecsElapsed() / 1000));
            s.presetFlash[QLatin1String(preset)] = s.wheel.flash();
        }
        QVERIFY(s.presetFlash["pbSetR"].ledFrame != s.presetFlash["pbSetG"].ledFrame);
        QElapsedTimer reads;
        reads.start();
        s.scan();
        s.initialReadsUs = int(reads.nsecsElapsed() / 1000);
        QVERIFY(QTest::qWaitFor([&s] { return s.connected(); }, 3000));
        std::printf("SOAK clean LED save %d us, scan with initial reads %d us\n", s.ledSaveUs,
                    s.initialReadsUs);
        runCycles(s);
    }
};

WHEEL_TEST_MAIN(TestFaultSoak)
#include "tst_fault_soak.moc"
