// The wheel's input report clock: calls tick() rate times a second, from 1 to
// 8,000, on its own thread; rate 0 stops it (the wheel then reports on change
// or on command only).
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace wheelemu {

class InputStreamer
{
public:
    static constexpr int kMaxRate = 8000;

    explicit InputStreamer(std::function<void()> tick);
    ~InputStreamer();
    InputStreamer(const InputStreamer &) = delete;
    InputStreamer &operator=(const InputStreamer &) = delete;

    // Clamped to 0..kMaxRate.
    void setRate(int perSecond);
    int rate() const;

private:
    void run();

    std::function<void()> tick_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    int rate_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace wheelemu
