// How fast the device link is against the emulated wheel, which runs in this
// process as in the tests (see bench-emulator for the harness's own ceiling):
//   - link_connect_initial_reads_ms: from the wheel appearing on the bus to
//     the end of the window's initial reads, for a scan that runs as the
//     wheel appears (the 3 s retry adds up to 3 s in real use), for a wheel
//     that connects again to the window (after a USB drop or an update);
//     median;
//   - link_connect_gui_cpu_ms: the CPU time the window's thread spends in
//     that connection, steadier than the wall time on a busy machine;
//   - link_first_connect_initial_reads_ms, link_first_connect_gui_cpu_ms:
//     the same for the first wheel a new window lays itself out for;
//   - link_scan_no_wheel_us: the GUI-thread CPU time of the window's scan
//     when no wheel is attached, what it spends every 3 s while it waits
//     (the HID listing, the look for a boot loader, the waiting screen);
//     median;
//   - link_queries_per_s_reader_off / _on: Query round trips through the
//     device handle per second, without and with the reader thread reading
//     the wheel's 1000 input reports per second (the wheel streams in both
//     runs, so the reader is the only difference), and their ratio (the
//     median of the ratios of runs made next to each other);
//   - link_reader_reports_per_s: what the reader delivered meanwhile;
//   - link_queries_per_s_silent_reader_off / _on: the same with the wheel
//     silent (the reader then sleeps in its 100 ms reads);
//   - link_queries_per_s_bare_reader_on: a bare hidapi read loop on a handle
//     of its own in place of the reader thread, as a yardstick.
#include "private_runtime_dir.h"
#include "under_preload.h"
#include "wheel_fixture.h"

#include "app/mainwindow.h"
#include "bench/thread_cpu_clock.h"
#include "device/command_report.h"
#include "device/device_handle.h"
#include "device/discovery.h"
#include "input/quor_event.h"

#include <hidapi/hidapi.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kConnects = 15;
constexpr int kFirstConnects = 5;
constexpr int kStreamRate = 1000;
constexpr auto kQueryRun = std::chrono::milliseconds(800);
constexpr int kRounds = 8;

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

bool waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

struct ConnectTimes
{
    std::vector<double> ms, cpuMs;
};

// In a new window: plugs the wheel, runs the window's scan at once and times
// it to the end of the initial reads; unplugs again and lets the window
// settle on the waiting screen; `connects` times. The window's first
// connection goes to `first`, the others to `again`.
bool connectTimes(wheeltest::WheelFixture &wheel, int connects, ConnectTimes *first, ConnectTimes *again)
{
    MainWindow window;
    if (!waitUntil([] { return !deviceHandle().isOpen(); }, 1000))
        return false;
    QCoreApplication::processEvents(); // the construction's scan
    for (int i = 0; i < connects; ++i) {
        std::vector<double> *ms = i == 0 ? &first->ms : &again->ms;
        std::vector<double> *cpuMs = i == 0 ? &first->cpuMs : &again->cpuMs;
        if (!wheel.plug())
            return false;
        const auto appeared = Clock::now();
        const double cpuBefore = benchclock::threadCpuSeconds();
        QMetaObject::invokeMethod(&window, "onInit");
        const auto done = Clock::now();
        cpuMs->push_back((benchclock::threadCpuSeconds() - cpuBefore) * 1e3);
        if (!deviceHandle().isOpen())
            return false;
        ms->push_back(std::chrono::duration<double, std::milli>(done - appeared).count());
        if (!wheel.unplug() || !waitUntil([] { return !deviceHandle().isOpen(); }, 5000))
            return false;
        QCoreApplication::processEvents(); // the rescan after the loss
    }
    return true;
}

// The wheel must be unplugged.
double scanMicroseconds()
{
    MainWindow window;
    QCoreApplication::processEvents(); // the construction's scan
    std::vector<double> us;
    for (int i = 0; i < 100; ++i) {
        const double before = benchclock::threadCpuSeconds();
        QMetaObject::invokeMethod(&window, "onInit");
        us.push_back((benchclock::threadCpuSeconds() - before) * 1e6);
        QCoreApplication::processEvents(); // what the scan posted
    }
    return median(us);
}

// Queries per second for kQueryRun, cycling through reads the window makes.
double queriesPerSecond()
{
    const CommandReport requests[] = {makeQuery(Record::ModelNameRecord), makeQuery(Record::PaddleConfig),
                                      makeItemQuery(Item::EncoderPulseWidth),
                                      makeQuery(Record::FirmwareVersionRecord)};
    long n = 0;
    const auto start = Clock::now();
    while (Clock::now() - start < kQueryRun) {
        CommandReport b = requests[n % 4];
        if (deviceHandle().query(b.data()) != static_cast<int>(kCommandReplyLength))
            return -1;
        ++n;
    }
    return n / std::chrono::duration<double>(Clock::now() - start).count();
}

struct ReaderRun
{
    double queries = 0;
    double reports = 0;
};

ReaderRun withReader()
{
    QuorEvent reader;
    std::atomic<long> reports{0};
    QObject::connect(
        &reader, &QuorEvent::eventTrigger, &reader, [&reports](const QByteArray &) { ++reports; },
        Qt::DirectConnection);
    reader.start();
    QThread::msleep(200); // let it settle into the stream
    const long before = reports.load();
    const auto start = Clock::now();
    ReaderRun run;
    run.queries = queriesPerSecond();
    run.reports = (reports.load() - before) / std::chrono::duration<double>(Clock::now() - start).count();
    reader.requestInterruption();
    reader.wait();
    return run;
}

// The same with a bare hidapi reader on a handle of its own instead of the
// reader thread: what reading the stream costs the exchanges in this harness
// whatever the reader is (the emulator answers every client's calls on one
// thread, and the machine has two cores).
ReaderRun withBareReader(uint16_t productId)
{
    hid_device *raw = hid_open(kWheelVendorId, productId, nullptr);
    if (!raw)
        return {-1, 0};
    std::atomic<bool> stop{false};
    std::atomic<long> reports{0};
    std::thread reader([&] {
        unsigned char in[17];
        while (!stop.load())
            if (hid_read_timeout(raw, in, sizeof in, 100) > 0)
                ++reports;
    });
    QThread::msleep(200);
    const long before = reports.load();
    const auto start = Clock::now();
    ReaderRun run;
    run.queries = queriesPerSecond();
    run.reports = (reports.load() - before) / std::chrono::duration<double>(Clock::now() - start).count();
    stop = true;
    reader.join();
    hid_close(raw);
    return run;
}

} // namespace

int main(int argc, char **argv)
{
    wheeltest::runUnderPreload(argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const PrivateRuntimeDir runtimeDir; // the window's single-instance guard lives here
    QApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});

    wheeltest::WheelFixture wheel;
    if (!wheel.ok()) {
        fprintf(stderr, "bench-link: %s\n", wheel.error().c_str());
        return 1;
    }
    wheel.emulator().transcript().recordInputs(false);
    wheel.emulator().transcript().keepInMemory(false);

    // A new window for each first connection; the last one then connects
    // kConnects times again.
    ConnectTimes first, again;
    bool connected = wheel.unplug();
    for (int w = 0; connected && w < kFirstConnects; ++w)
        connected = connectTimes(wheel, w + 1 < kFirstConnects ? 1 : kConnects + 1, &first, &again);
    if (!connected) {
        fprintf(stderr, "bench-link: connecting to the emulated wheel failed\n");
        return 1;
    }
    const double scanUs = scanMicroseconds();

    const uint16_t productId = wheel.plug() ? openFirstWheel(deviceHandle()) : 0;
    if (productId == 0) {
        fprintf(stderr, "bench-link: cannot open the emulated wheel\n");
        return 1;
    }
    // The conditions take turns in a rotating order, so that a change
    // of load on the machine falls on all of them alike; the ratio is taken
    // within each round, between runs close in time.
    enum Condition
    {
        Off,
        Bare,
        Reader,
        SilentOff,
        SilentReader,
        kConditions
    };
    std::vector<double> rates[kConditions];
    std::vector<double> ratios, reports;
    for (int round = 0; round < kRounds; ++round) {
        double rate[kConditions] = {};
        for (int k = 0; k < kConditions; ++k) {
            const int condition = (round + k) % kConditions;
            const bool silent = condition == SilentOff || condition == SilentReader;
            wheel.setRate(silent ? 0 : kStreamRate);
            if (!deviceHandle().isOpen() && openFirstWheel(deviceHandle()) == 0)
                return 1;
            if (condition == Off || condition == SilentOff) {
                rate[condition] = queriesPerSecond();
            } else if (condition == Bare) {
                rate[Bare] = withBareReader(productId).queries;
            } else {
                const ReaderRun run = withReader(); // closes the wheel when it stops
                rate[condition] = run.queries;
                if (condition == Reader)
                    reports.push_back(run.reports);
            }
            if (rate[condition] < 0) {
                fprintf(stderr, "bench-link: a query failed\n");
                return 1;
            }
            rates[condition].push_back(rate[condition]);
        }
        ratios.push_back(rate[Reader] / rate[Off]);
    }
    wheel.setRate(0);
    deviceHandle().close();

    const double offRate = median(rates[Off]);
    const double onRate = median(rates[Reader]);
    printf("BENCH link_connect_initial_reads_ms %.2f ms\n", median(again.ms));
    printf("BENCH link_connect_gui_cpu_ms %.2f ms\n", median(again.cpuMs));
    printf("BENCH link_first_connect_initial_reads_ms %.2f ms\n", median(first.ms));
    printf("BENCH link_first_connect_gui_cpu_ms %.2f ms\n", median(first.cpuMs));
    printf("BENCH link_scan_no_wheel_us %.0f us\n", scanUs);
    printf("BENCH link_queries_per_s_reader_off %.0f per_s\n", offRate);
    printf("BENCH link_queries_per_s_reader_on %.0f per_s\n", onRate);
    printf("BENCH link_reader_on_off_ratio %.3f ratio\n", median(ratios));
    printf("BENCH link_reader_reports_per_s %.0f per_s\n", median(reports));
    printf("BENCH link_queries_per_s_silent_reader_off %.0f per_s\n", median(rates[SilentOff]));
    printf("BENCH link_queries_per_s_silent_reader_on %.0f per_s\n", median(rates[SilentReader]));
    printf("BENCH link_queries_per_s_bare_reader_on %.0f per_s\n", median(rates[Bare]));
    return 0;
}
