#include "device_loop.h"

#include <future>

namespace wheelemu {

DeviceLoop::DeviceLoop() : thread_([this] { run(); }) {}

DeviceLoop::~DeviceLoop()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        tasks_.clear();
    }
    wake_.notify_all();
    thread_.join();
}

uint64_t DeviceLoop::postAfter(std::chrono::milliseconds delay, Task task)
{
    uint64_t id;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_)
            return 0;
        id = nextId_++;
        tasks_.emplace(Clock::now() + delay, std::make_pair(id, std::move(task)));
    }
    wake_.notify_all();
    return id;
}

void DeviceLoop::cancel(uint64_t id)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = tasks_.begin(); it != tasks_.end(); ++it) {
        if (it->second.first == id) {
            tasks_.erase(it);
            return;
        }
    }
}

void DeviceLoop::invoke(const Task &task)
{
    if (onLoopThread()) {
        task();
        return;
    }
    std::promise<void> done;
    std::future<void> finished = done.get_future();
    const uint64_t id = postAfter(std::chrono::milliseconds(0), [&] {
        task();
        done.set_value();
    });
    if (id != 0)
        finished.wait();
}

void DeviceLoop::run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        if (tasks_.empty()) {
            wake_.wait(lock);
            continue;
        }
        auto first = tasks_.begin();
        if (first->first > Clock::now()) {
            // A copy: the task may be cancelled or cleared while we wait.
            const Clock::time_point due = first->first;
            wake_.wait_until(lock, due);
            continue;
        }
        Task task = std::move(first->second.second);
        tasks_.erase(first);
        lock.unlock();
        task();
        lock.lock();
    }
}

} // namespace wheelemu
