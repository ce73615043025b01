// What the two display benchmarks share: the BENCH line, the thread's CPU
// clock, input report payloads, a paced stand-in for the reader thread, and
// the GUI end of the reader's reports.
#pragma once

#include "bench/thread_cpu_clock.h"
#include "input/button_display.h"
#include "input/report_batcher.h"

#include <QByteArray>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <thread>
#include <utility>
#include <vector>

namespace benchdisplay {

using benchclock::threadCpuSeconds;

inline void bench(const char *name, double value, const char *unit)
{
    std::printf("BENCH %s %.3f %s\n", name, value, unit);
    std::fflush(stdout);
}

inline QByteArray payload(uint64_t buttons, uint16_t left, uint16_t right)
{
    QByteArray bytes(16, '\0');
    bytes[0] = char(right & 0xFF);
    bytes[1] = char(right >> 8);
    bytes[2] = char(left & 0xFF);
    bytes[3] = char(left >> 8);
    for (int k = 0; k < 8; ++k)
        bytes[4 + k] = char((buttons >> (8 * k)) & 0xFF);
    return bytes;
}

// Stands in for the reader thread: emits `reports` over and over at an exact
// rate, in 1 ms bursts (what a USB poll interval delivers).
class PacedSource : public QThread
{
    Q_OBJECT

public:
    PacedSource(std::vector<QByteArray> reports, int rate, double seconds)
        : reports_(std::move(reports)), rate_(rate), seconds_(seconds)
    {}
    std::atomic<long> emitted{0};

signals:
    void eventTrigger(QByteArray payload);

protected:
    void run() override
    {
        const auto start = std::chrono::steady_clock::now();
        const long total = long(rate_ * seconds_);
        for (long n = 0; n < total; ++n) {
            const auto due = start + std::chrono::nanoseconds(long(double(n) * 1e9 / rate_));
            if (n % std::max(1, rate_ / 1000) == 0)
                std::this_thread::sleep_until(due);
            emit eventTrigger(reports_[size_t(n) % reports_.size()]);
            emitted.fetch_add(1, std::memory_order_relaxed);
        }
    }

private:
    const std::vector<QByteArray> reports_;
    const int rate_;
    const double seconds_;
};

// The GUI end of the reader's reports, as the window has it: gathered into
// runs on the emitting thread, shown once per run. Form is the benchmark's
// window (window, extremes(), released).
template<typename Form> class Receiver
{
public:
    explicit Receiver(Form &form) : form_(form), display_(&form.window)
    {
        batcher.setSink([this](const ReportRun &run) {
            display_.showRun(run, form_.extremes(), form_.released);
            handled.fetch_add(run.reports, std::memory_order_relaxed);
        });
        batcher.setBarsOnScreen([this] { return display_.barsOnScreen(); });
    }
    // Connect sources to it with Qt::DirectConnection.
    ReportBatcher batcher;
    std::atomic<long> handled{0};

private:
    Form &form_;
    ButtonDisplay display_;
};

} // namespace benchdisplay
