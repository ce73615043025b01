#pragma once

#include <functional>

#include <pthread.h>
#include <sched.h>

// A thread for start-up work beside the GUI thread, started on another core
// than the one of the thread that makes it. It touches nothing of Qt's
// itself, so it may be made before the application object.
//
// Linux queues a new thread on the core of the thread that makes it, and the
// maker goes straight on: on a two-core machine the new thread waited 1 to
// 5 ms for its first turn, about as long as its work. So it starts on any
// other core, and once running may move anywhere again (a core the system has
// set aside since can refuse that; anywhere then). Should no thread start at
// all, the work runs at once on the maker's thread.
class WorkerThread
{
public:
    explicit WorkerThread(std::function<void()> work);
    // Joins.
    ~WorkerThread();
    WorkerThread(const WorkerThread &) = delete;
    WorkerThread &operator=(const WorkerThread &) = delete;

    // Waits for the work to end. One thread at a time: whoever joins first
    // waits, any later call (the destructor's among them) returns at once.
    void join();

    // From here on the calling thread takes only what the rest of the machine
    // leaves: the GUI thread and the display server go first. For a worker's
    // work to call: it changes that thread alone, which ends with the work.
    static void lowerPriority();

private:
    static void *run(void *self);

    const std::function<void()> work_;
    cpu_set_t cores_;
    pthread_t handle_{};
    bool running_ = false;
};
