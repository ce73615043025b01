#pragma once

#include <pthread.h>
#include <sched.h>

// Reads the font configuration while the program starts, so that the form
// finds it read when it lays out its first text.
//
// Two steps, on two threads. Made on the first line of main, a thread reads
// fontconfig's own configuration (the system's XML files, nine tenths of the
// work) while the application object connects to the display; once that
// object exists, fillDatabase() has a second thread wait for the first and
// fill Qt's font database from the configuration, which needs the platform.
// The destructor waits for both.
class FontConfigurationLoader
{
public:
    FontConfigurationLoader();
    ~FontConfigurationLoader();
    FontConfigurationLoader(const FontConfigurationLoader &) = delete;
    FontConfigurationLoader &operator=(const FontConfigurationLoader &) = delete;

    // Call once, after the application object is made.
    void fillDatabase();

private:
    struct Thread
    {
        pthread_t handle{};
        bool running = false;
    };

    bool startElsewhere(Thread &thread, void *(*run)(void *));
    void restoreCores() const;
    static void *readConfiguration(void *self);
    static void *fillQtDatabase(void *self);

    cpu_set_t cores_;
    Thread configurationReader_;
    Thread databaseFiller_;
};
