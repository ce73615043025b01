// The boot loader alone on an emulated bus, and the helpers
// for running Debian's dfu-util against it.
#pragma once

#include "device_loop.h"
#include "dfu_boot_loader.h"
#include "testbed.h"
#include "transcript.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <string>
#include <vector>

namespace dfutest {

// Puts the process under the umockdev preload and installs the testbed
// clean-up on fatal signals; false (message on stderr) when that fails.
bool start(char **argv);

struct ProcessResult
{
    bool finished = false;
    int exitCode = -1;
    QString output; // stdout and stderr together
};

// Runs a program in the testbed's environment; waits at most timeoutMs.
ProcessResult run(const QString &program, const QStringList &args, int timeoutMs = 60000);

// A testbed, device loop and in-memory transcript without any wheel.
class DfuTestBed
{
public:
    DfuTestBed();
    // Destroy every loader made here first.
    ~DfuTestBed();

    bool ok() const { return testbed_ != nullptr; }
    const std::string &error() const { return error_; }
    wheelemu::DeviceHost host() { return {*testbed_, transcript_, *loop_}; }

private:
    std::string error_;
    std::unique_ptr<wheelemu::Testbed> testbed_;
    std::shared_ptr<wheelemu::Transcript> transcript_;
    std::unique_ptr<wheelemu::DeviceLoop> loop_;
};

bool writeFile(const QString &path, const std::vector<uint8_t> &bytes);

} // namespace dfutest
