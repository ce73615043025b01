// build/bin/wheel-emulator: one emulated wheel (or more) on a umockdev
// testbed, until "quit", SIGTERM or SIGINT. tools/with-wheel starts it for a
// command; tools/README.md documents the command line.
#include "cli_options.h"
#include "command_interpreter.h"
#include "control_server.h"
#include "emulator.h"
#include "emulator_log.h"
#include "preload.h"
#include "script_runner.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <glib.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <unistd.h>

using namespace wheelemu;

namespace {

bool readFile(const std::string &path, std::string *text, std::string *error)
{
    g_autofree gchar *contents = nullptr;
    gsize size = 0;
    g_autoptr(GError) failure = nullptr;
    if (!g_file_get_contents(path.c_str(), &contents, &size, &failure)) {
        *error = failure->message;
        return false;
    }
    text->assign(contents, size);
    return true;
}

// Written in one go (GLib renames a temporary file), so a waiting with-wheel
// never reads half of it.
bool writeReadyFile(const std::string &path, const std::string &root, std::string *error)
{
    const std::string text = "UMOCKDEV_DIR=" + root + "\n";
    g_autoptr(GError) failure = nullptr;
    if (g_file_set_contents(path.c_str(), text.data(), gssize(text.size()), &failure))
        return true;
    *error = failure->message;
    return false;
}

// Steps through the --script lines as their times come.
class ScriptClock
{
public:
    explicit ScriptClock(std::vector<ScriptLine> lines)
        : lines_(std::move(lines)), start_(DeviceLoop::Clock::now())
    {}

    // Milliseconds until the next line is due; -1 when there is none.
    int msUntilNext() const
    {
        if (next_ >= lines_.size())
            return -1;
        const auto due = start_ + lines_[next_].at;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(due - DeviceLoop::Clock::now());
        return left.count() < 0 ? 0 : static_cast<int>(left.count());
    }

    // Runs every due line; false when one of them was "quit".
    bool runDue(Emulator &emulator)
    {
        while (next_ < lines_.size() && msUntilNext() == 0) {
            const ScriptLine &line = lines_[next_++];
            if (line.command == "loop") {
                next_ = 0;
                start_ = DeviceLoop::Clock::now();
                if (lines_.front().command == "loop")
                    return true; // a script of nothing but "loop" would spin
                continue;
            }
            const CommandResult result = executeCommand(emulator, line.command);
            if (!result.ok)
                fprintf(stderr, "wheel-emulator: script line %d: %s\n", line.lineNumber,
                        result.message.c_str());
            if (result.quit)
                return false;
        }
        return true;
    }

private:
    std::vector<ScriptLine> lines_;
    size_t next_ = 0;
    DeviceLoop::Clock::time_point start_;
};

int run(const CliOptions &options)
{
    std::string error;
    std::unique_ptr<ScriptClock> script;
    if (!options.scriptPath.empty()) {
        std::string text;
        std::vector<ScriptLine> lines;
        if (!readFile(options.scriptPath, &text, &error) || !parseScript(text, &lines, &error)) {
            fprintf(stderr, "wheel-emulator: %s: %s\n", options.scriptPath.c_str(), error.c_str());
            return 2;
        }
        script = std::make_unique<ScriptClock>(std::move(lines));
    }

    // Signals arrive through a descriptor; they are blocked before any thread
    // exists so that none of them takes one.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    signal(SIGPIPE, SIG_IGN);
    const int signals = signalfd(-1, &stops, SFD_CLOEXEC | SFD_NONBLOCK);

    std::unique_ptr<Emulator> emulator = Emulator::create(options.emulator, &error);
    if (!emulator) {
        fprintf(stderr, "wheel-emulator: %s\n", error.c_str());
        return 1;
    }
    for (const WheelSetup &setup : options.moreWheels) {
        if (emulator->addWheel(setup, &error) < 0) {
            fprintf(stderr, "wheel-emulator: %s\n", error.c_str());
            return 1;
        }
    }
    DfuBootLoader *bootLoader = nullptr;
    if (!setUpBootLoader(*emulator, options.dfu, &bootLoader, &error)) {
        fprintf(stderr, "wheel-emulator: %s\n", error.c_str());
        return 1;
    }
    bool quit = false;
    std::unique_ptr<ControlServer> control;
    if (!options.controlPath.empty()) {
        control = ControlServer::open(
            options.controlPath,
            [&](const std::string &line) {
                const CommandResult r = executeCommand(*emulator, line);
                quit = quit || r.quit;
                return (r.ok ? std::string("ok") : std::string("error")) +
                       (r.message.empty() ? "" : " " + r.message);
            },
            &error);
        if (!control) {
            fprintf(stderr, "wheel-emulator: %s\n", error.c_str());
            return 1;
        }
    }
    if (!options.readyFile.empty() && !writeReadyFile(options.readyFile, emulator->root(), &error)) {
        fprintf(stderr, "wheel-emulator: %s\n", error.c_str());
        return 1;
    }
    debugLog("testbed %s", emulator->root().c_str());

    while (!quit) {
        std::vector<struct pollfd> fds;
        fds.push_back({signals, POLLIN, 0});
        if (control)
            for (int fd : control->fds())
                fds.push_back({fd, POLLIN, 0});
        const int timeout = script ? script->msUntilNext() : -1;
        const int n = poll(fds.data(), fds.size(), timeout);
        if (n < 0 && errno != EINTR)
            break;
        if (fds[0].revents & POLLIN) {
            struct signalfd_siginfo info;
            if (read(signals, &info, sizeof info) == sizeof info)
                debugLog("signal %u: stopping", info.ssi_signo);
            break;
        }
        for (size_t i = 1; i < fds.size(); ++i)
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR))
                control->service(fds[i].fd);
        if (script && !script->runDue(*emulator))
            quit = true;
    }

    int status = 0;
    if (!emulator->saveState(&error)) {
        fprintf(stderr, "wheel-emulator: %s\n", error.c_str());
        status = 1;
    }
    control.reset();
    emulator.reset();
    close(signals);
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    CliOptions options;
    std::string error;
    if (!parseCommandLine(std::vector<std::string>(argv + 1, argv + argc), &options, &error)) {
        fprintf(stderr, "wheel-emulator: %s\n%s", error.c_str(), usageText().c_str());
        return 2;
    }
    if (options.help) {
        fputs(usageText().c_str(), stdout);
        return 0;
    }
    // Under the preload the emulator sees the testbed as its clients do.
    if (!reexecUnderPreload(argv, &error)) {
        fprintf(stderr, "wheel-emulator: %s\n", error.c_str());
        return 1;
    }
    if (options.exitWithParent)
        prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (options.debug)
        setDebugLog(true);
    return run(options);
}
