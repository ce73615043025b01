// How much the emulated wheel can carry through the real hidapi stack, so
// that later benchmarks know the harness's ceiling:
//   - feature report round trips (one Query: SET_REPORT 20 bytes, then
//     GET_REPORT 21 bytes) per second;
//   - input reports per second that hid_read_timeout() delivers, with the
//     wheel streaming at its top rate of 8,000 per second, and with a report
//     always waiting (the path's own limit).
// The emulator runs in this process, as in the tests (transcript on).
#include "under_preload.h"
#include "wheel_fixture.h"

#include <hidapi.h>

#include <chrono>
#include <cstdio>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRun = std::chrono::seconds(2);

double seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

double featureRoundTrips(hid_device *dev)
{
    unsigned char b[21];
    long n = 0;
    const auto start = Clock::now();
    while (Clock::now() - start < kRun) {
        b[0] = 0x02;
        b[1] = 0x0B;
        b[2] = 0x0A;
        for (int i = 3; i < 21; ++i)
            b[i] = 0;
        if (hid_send_feature_report(dev, b, 20) != 20 || hid_get_feature_report(dev, b, 21) != 21)
            return -1;
        ++n;
    }
    return n / seconds(start);
}

double streamedReports(wheeltest::WheelFixture &wheel, hid_device *dev)
{
    unsigned char in[17];
    wheel.setRate(8000);
    while (hid_read_timeout(dev, in, sizeof in, 0) > 0) {
    }
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

double reportCeiling(wheeltest::WheelFixture &wheel, hid_device *dev)
{
    unsigned char in[17];
    long n = 0;
    const auto start = Clock::now();
    while (Clock::now() - start < kRun) {
        wheel.sendReports(64);
        for (int i = 0; i < 64; ++i) {
            if (hid_read_timeout(dev, in, sizeof in, 100) != 17)
                return -1;
            ++n;
        }
    }
    return n / seconds(start);
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
    const double roundTrips = featureRoundTrips(dev);
    const double streamed = streamedReports(wheel, dev);
    const double ceiling = reportCeiling(wheel, dev);
    hid_close(dev);
    hid_exit();
    if (roundTrips < 0 || ceiling < 0) {
        fprintf(stderr, "bench-emulator: an exchange failed\n");
        return 1;
    }
    printf("BENCH emulator_feature_roundtrips %.0f per_s\n", roundTrips);
    printf("BENCH emulator_input_reports_streamed_8000 %.0f per_s\n", streamed);
    printf("BENCH emulator_input_reports_ceiling %.0f per_s\n", ceiling);
    return 0;
}
