#pragma once

#include <pthread.h>
#include <sched.h>

// Reads the font configuration on a thread of its own while the window is
// built; the destructor waits for it. Made after the application object, as
// the font database belongs to its platform.
class FontConfigurationLoader
{
public:
    FontConfigurationLoader();
    ~FontConfigurationLoader();
    FontConfigurationLoader(const FontConfigurationLoader &) = delete;
    FontConfigurationLoader &operator=(const FontConfigurationLoader &) = delete;

private:
    static void *run(void *self);

    cpu_set_t cores_;
    pthread_t thread_{};
    bool running_ = false;
};
