#include "under_preload.h"

#include "cleanup_registry.h"
#include "preload.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace wheeltest {

namespace {
constexpr const char *kParentVariable = "WHEELEMU_TEST_PARENT";
volatile pid_t child = 0;

void forward(int signo)
{
    if (child > 0)
        kill(child, signo);
}

std::string privateTmpDir()
{
    const char *base = getenv("TMPDIR");
    std::string dir = (base && *base && strlen(base) < 40) ? base : "/tmp";
    dir += "/wheeltest.XXXXXX";
    std::string buffer = dir;
    if (!mkdtemp(&buffer[0]))
        return std::string();
    return buffer;
}
} // namespace

void runUnderPreload(int, char **argv)
{
    if (wheelemu::preloadActive() && getsid(0) != getpid()) {
        if (const char *parent = getenv(kParentVariable)) {
            // If the parent is killed outright (a ctest time-out), nobody
            // else removes the private TMPDIR: the child takes it along when
            // it goes. SIGUSR1, because QtTest puts its own handlers on the
            // usual signals.
            if (const char *tmp = getenv("TMPDIR"))
                wheelemu::registerTestbedDirectory(tmp);
            prctl(PR_SET_PDEATHSIG, SIGUSR1);
            if (getppid() != static_cast<pid_t>(atol(parent)))
                _exit(1);
        }
        wheelemu::installSignalCleanup();
        return;
    }
    const std::string tmp = privateTmpDir();
    if (tmp.empty()) {
        fprintf(stderr, "cannot create a private temporary directory: %s\n", strerror(errno));
        exit(1);
    }
    wheelemu::writeOwnerFile(tmp);
    const pid_t parent = getpid();
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = forward;
    sigemptyset(&action.sa_mask);
    for (int signo : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signo, &action, nullptr);

    const pid_t pid = fork();
    if (pid < 0) {
        fprintf(stderr, "cannot fork: %s\n", strerror(errno));
        exit(1);
    }
    if (pid == 0) {
        setenv("TMPDIR", tmp.c_str(), 1);
        setenv(kParentVariable, std::to_string(parent).c_str(), 1);
        wheelemu::addPreloadToEnvironment();
        execv("/proc/self/exe", argv);
        fprintf(stderr, "cannot run %s under the preload: %s\n", argv[0], strerror(errno));
        _exit(127);
    }
    child = pid;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    wheelemu::removeTree(tmp.c_str());
    if (WIFEXITED(status))
        exit(WEXITSTATUS(status));
    const int signo = WIFSIGNALED(status) ? WTERMSIG(status) : SIGABRT;
    fprintf(stderr, "test process died of signal %d\n", signo);
    signal(signo, SIG_DFL);
    raise(signo);
    exit(128 + signo);
}

} // namespace wheeltest
