// How much the emulated wheel can carry through the real hidapi stack, so
// that later benchmarks know the harness's ceiling:
//   - feature report round trips (one Query: SET_REPORT 20 bytes, then
//     GET_REPORT 21 bytes) per second;
//   - input reports per second that hid_read_timeout() delivers, with the
//     wheel streaming at its top rate of 8,000 per second, and with a report
//     always waiting (the path's own limit).
// The emulator runs in this process, as in the tests (transcript on), so
// the process's CPU time covers both ends of each exchange: the CPU cost per
// exchange is printed too, as it depends far less on what else the machine
// is doing than the rates do.
#include "under_preload.h"
#include "wheel_fixture.h"

#include <hidapi.h>

#include <chrono>
#include <cstdio>
#include <sys/resource.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRun = std::chrono::seconds(2);

double seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// User and system CPU time of the whole process, in microseconds.
double cpuMicroseconds()
{
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e6 + usage.ru_utime.tv_usec +
           usage.ru_stime.tv_usec;
}

struct Figure
{
    double perSecond = -1;
    double cpuMicrosecondsEach = -1;
};

Figure featureRoundTrips(hid_device *dev)
{
    unsigned char b[21];
    long n = 0;
    const double cpu = cpuMicroseconds();
    const auto start = Clock::now();
    while (Clock::now() - start < kRun) {
        b[0] = 0x02;
        b[1] = 0x0B;
        b[2] = 0x0A;
        for (int i = 3; i < 21; ++i)
            b[i] = 0;
        if (hid_send_feature_report(dev, b, 20) != 20 || hid_get_feature_report(dev, b, 21) != 21)
            return Figure();
        ++n;
    }
    return Figure{n / seconds(start), (cpuMicroseconds() - cpu) / n};
}

double streamedReports(wheeltest::WheelFixture &wheel, hid_device *dev)
{
    unsigned char in[17];
    // Stale reports go before the stream starts: drained after it, a reader
    // slower than 8,000 reports a second would never find the queue empty.
    while (hid_read_timeout(dev, in, sizeof in, 0) > 0) {
    }
    wheel.setRate(8000);
    long n = 0;
    const auto start = Clock::now();
    while (Clock::now() - start < kRun)
        if (hid_read_timeout(dev, in, sizeof in, 100) == 17)
            ++n;
    const double rate = n / seconds(start);
    wheel.setRate(0);
    while (hid_read_timeout(dev, in, sizeof in, 50) > 0) {
    }
    return rate;
}

Figure reportCeiling(wheeltest::WheelFixture &wheel, hid_device *dev)
{
    unsigned char in[17];
    long n = 0;
    const double cpu = cpuMicroseconds();
    const auto start = Clock::now();
    while (Clock::now() - start < kRun) {
        wheel.sendReports(64);
        for (int i = 0; i < 64; ++i) {
            if (hid_read_timeout(dev, in, sizeof in, 100) != 17)
                return Figure();
            ++n;
        }
    }
    return Figure{n / seconds(start), (cpuMicroseconds() - cpu) / n};
}

} // namespace

int main(int argc, char **argv)
{
    wheeltest::runUnderPreload(argc, argv);
    wheeltest::WheelFixture wheel;
    if (!wheel.ok()) {
        fprintf(stderr, "bench-emulator: %s\n", wheel.error().c_str());
        return 1;
    }
    hid_init();
    hid_device *dev = hid_open(0xC872, 0x200D, nullptr);
    if (!dev) {
        fprintf(stderr, "bench-emulator: cannot open the emulated wheel\n");
        return 1;
    }
    const Figure roundTrips = featureRoundTrips(dev);
    const double streamed = streamedReports(wheel, dev);
    const Figure ceiling = reportCeiling(wheel, dev);
    hid_close(dev);
    hid_exit();
    if (roundTrips.perSecond < 0 || ceiling.perSecond < 0) {
        fprintf(stderr, "bench-emulator: an exchange failed\n");
        return 1;
    }
    printf("BENCH emulator_feature_roundtrips %.0f per_s\n", roundTrips.perSecond);
    printf("BENCH emulator_feature_roundtrip_cpu %.0f us\n", roundTrips.cpuMicrosecondsEach);
    printf("BENCH emulator_input_reports_streamed_8000 %.0f per_s\n", streamed);
    printf("BENCH emulator_input_reports_ceiling %.0f per_s\n", ceiling.perSecond);
    printf("BENCH emulator_input_report_cpu %.0f us\n", ceiling.cpuMicrosecondsEach);
    return 0;
}
