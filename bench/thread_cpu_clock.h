// The calling thread's CPU time: what a benchmark charges to the GUI thread
// alone, which a busy machine disturbs less than the wall time.
#pragma once

#include <ctime>

namespace benchclock {

inline double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

} // namespace benchclock
