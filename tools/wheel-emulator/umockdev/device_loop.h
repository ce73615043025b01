// The thread on which devices are plugged and unplugged. Every change of the
// emulated bus (a wheel leaving after Reboot, the boot loader appearing two
// seconds later, a control command) runs here, one after the other, so that
// the sysfs tree is never changed from two threads at once.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace wheelemu {

class DeviceLoop
{
public:
    using Task = std::function<void()>;
    using Clock = std::chrono::steady_clock;

    DeviceLoop();
    // Drops the tasks still waiting and joins the thread.
    ~DeviceLoop();
    DeviceLoop(const DeviceLoop &) = delete;
    DeviceLoop &operator=(const DeviceLoop &) = delete;

    void post(Task task) { postAfter(std::chrono::milliseconds(0), std::move(task)); }
    // Returns an id for cancel().
    uint64_t postAfter(std::chrono::milliseconds delay, Task task);
    void cancel(uint64_t id);
    // Runs the task on the loop thread and waits for it; runs it at once when
    // called from the loop thread itself.
    void invoke(const Task &task);
    bool onLoopThread() const { return std::this_thread::get_id() == thread_.get_id(); }

private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    // Ordered by due time, then by posting order.
    std::multimap<Clock::time_point, std::pair<uint64_t, Task>> tasks_;
    uint64_t nextId_ = 1;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace wheelemu
