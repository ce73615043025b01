#include "app/worker_thread.h"

#include <sys/resource.h>
#include <unistd.h>

#include <utility>

WorkerThread::WorkerThread(std::function<void()> work) : work_(std::move(work))
{
    if (sched_getaffinity(0, sizeof cores_, &cores_) != 0)
        CPU_ZERO(&cores_);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    cpu_set_t elsewhere = cores_;
    const int here = sched_getcpu();
    if (here >= 0 && CPU_ISSET(here, &elsewhere) && CPU_COUNT(&elsewhere) > 1) {
        CPU_CLR(here, &elsewhere);
        pthread_attr_setaffinity_np(&attributes, sizeof elsewhere, &elsewhere);
    }
    running_ = pthread_create(&handle_, &attributes, &WorkerThread::run, this) == 0;
    pthread_attr_destroy(&attributes);
    if (!running_)
        running_ = pthread_create(&handle_, nullptr, &WorkerThread::run, this) == 0;
    if (!running_)
        work_();
}

WorkerThread::~WorkerThread()
{
    join();
}

void WorkerThread::join()
{
    if (running_)
        pthread_join(handle_, nullptr);
    running_ = false;
}

void *WorkerThread::run(void *self)
{
    const WorkerThread &thread = *static_cast<WorkerThread *>(self);
    if (CPU_COUNT(&thread.cores_) > 0)
        pthread_setaffinity_np(pthread_self(), sizeof thread.cores_, &thread.cores_);
    thread.work_();
    return nullptr;
}

void WorkerThread::lowerPriority()
{
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
}
