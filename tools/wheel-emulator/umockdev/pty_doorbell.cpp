#include "pty_doorbell.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace wheelemu {

std::unique_ptr<PtyDoorbell> PtyDoorbell::create(std::string *error)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    char name[128];
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, name, sizeof name) != 0) {
        if (error)
            *error = std::string("cannot open a pseudo terminal: ") + strerror(errno);
        if (master >= 0)
            close(master);
        return nullptr;
    }
    // Our own slave descriptor keeps the terminal set up while no client has
    // it open, and lets us take doorbell bytes back out.
    const int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    struct stat st;
    if (slave < 0 || fstat(slave, &st) != 0) {
        if (error)
            *error = std::string("cannot open ") + name + ": " + strerror(errno);
        if (slave >= 0)
            close(slave);
        close(master);
        return nullptr;
    }
    struct termios raw;
    if (tcgetattr(slave, &raw) == 0) {
        cfmakeraw(&raw);
        tcsetattr(slave, TCSANOW, &raw);
    }
    const std::string number = std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
    return std::unique_ptr<PtyDoorbell>(new PtyDoorbell(master, slave, name, number));
}

PtyDoorbell::PtyDoorbell(int master, int slave, std::string slavePath, std::string deviceNumber)
    : master_(master), slave_(slave), slavePath_(std::move(slavePath)), deviceNumber_(std::move(deviceNumber))
{}

PtyDoorbell::~PtyDoorbell()
{
    close(slave_);
    close(master_);
}

void PtyDoorbell::discardAll()
{
    // Also drops bytes still on their way from the master to the slave.
    tcflush(slave_, TCIFLUSH);
    pending_ = 0;
}

void PtyDoorbell::setPending(int count)
{
    if (count < 0)
        count = 0;
    if (count == pending_)
        return;
    if (count < pending_) {
        char sink[64];
        int surplus = pending_ - count;
        while (surplus > 0) {
            const ssize_t n = read(slave_, sink, surplus < 64 ? static_cast<size_t>(surplus) : sizeof sink);
            if (n <= 0)
                break;
            surplus -= static_cast<int>(n);
            pending_ -= static_cast<int>(n);
        }
        if (surplus == 0)
            return;
        // Some bytes had not reached the slave yet: start again from empty.
        discardAll();
    }
    static const char kBells[64] = {};
    while (pending_ < count) {
        const int want = count - pending_ < 64 ? count - pending_ : 64;
        const ssize_t n = write(master_, kBells, static_cast<size_t>(want));
        if (n <= 0)
            break;
        pending_ += static_cast<int>(n);
    }
}

} // namespace wheelemu
