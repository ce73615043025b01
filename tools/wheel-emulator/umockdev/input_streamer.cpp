#include "input_streamer.h"

#include <chrono>
#include <sys/prctl.h>

namespace wheelemu {

InputStreamer::InputStreamer(std::function<void()> tick) : tick_(std::move(tick)), thread_([this] { run(); })
{}

InputStreamer::~InputStreamer()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void InputStreamer::setRate(int perSecond)
{
    if (perSecond < 0)
        perSecond = 0;
    if (perSecond > kMaxRate)
        perSecond = kMaxRate;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        rate_ = perSecond;
    }
    changed_.notify_all();
}

int InputStreamer::rate() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return rate_;
}

void InputStreamer::run()
{
    using Clock = std::chrono::steady_clock;
    // The default 50 us timer slack would cap the rate well below 8,000.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    std::unique_lock<std::mutex> lock(mutex_);
    int rate = 0;
    Clock::time_point start;
    long long ticks = 0;
    while (!stopping_) {
        if (rate_ != rate) {
            rate = rate_;
            start = Clock::now();
            ticks = 0;
        }
        if (rate == 0) {
            changed_.wait(lock);
            continue;
        }
        // Deadlines are counted from the start, so the rate holds on average
        // even when single ticks come late.
        const auto due = start + std::chrono::nanoseconds(ticks * 1000000000LL / rate);
        const auto now = Clock::now();
        if (due > now) {
            changed_.wait_until(lock, due);
            continue;
        }
        if (now - due > std::chrono::milliseconds(100)) {
            // Far behind (the machine was busy): start afresh rather than
            // sending a burst.
            start = now;
            ticks = 0;
        }
        ++ticks;
        lock.unlock();
        tick_();
        lock.lock();
    }
}

} // namespace wheelemu
