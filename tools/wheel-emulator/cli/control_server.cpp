#include "control_server.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace wheelemu {

std::unique_ptr<ControlServer> ControlServer::open(const std::string &path, Executor executor,
                                                   std::string *error)
{
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode)) {
        const int readFd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        const int writeFd = readFd >= 0 ? ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC) : -1;
        if (readFd < 0 || writeFd < 0) {
            *error = "cannot open FIFO " + path + ": " + strerror(errno);
            if (readFd >= 0)
                close(readFd);
            return nullptr;
        }
        return std::unique_ptr<ControlServer>(
            new ControlServer(path, true, readFd, writeFd, std::move(executor)));
    }
    struct sockaddr_un addr;
    memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        *error = "control socket path too long: " + path;
        return nullptr;
    }
    memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    if (lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode))
        unlink(path.c_str()); // left over from an emulator that was killed
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0 || bind(fd, reinterpret_cast<struct sockaddr *>(&addr), sizeof addr) != 0 ||
        listen(fd, 8) != 0) {
        *error = "cannot create control socket " + path + ": " + strerror(errno);
        if (fd >= 0)
            close(fd);
        return nullptr;
    }
    return std::unique_ptr<ControlServer>(new ControlServer(path, false, fd, -1, std::move(executor)));
}

ControlServer::ControlServer(std::string path, bool fifo, int listenFd, int keepOpenFd, Executor executor)
    : path_(std::move(path)), fifo_(fifo), listenFd_(listenFd), keepOpenFd_(keepOpenFd),
      executor_(std::move(executor))
{
    if (fifo_)
        clients_[listenFd_] = std::string();
}

ControlServer::~ControlServer()
{
    for (auto &c : clients_)
        if (c.first != listenFd_)
            close(c.first);
    close(listenFd_);
    if (keepOpenFd_ >= 0)
        close(keepOpenFd_);
    if (!fifo_)
        unlink(path_.c_str());
}

std::vector<int> ControlServer::fds() const
{
    std::vector<int> out;
    if (!fifo_)
        out.push_back(listenFd_);
    for (const auto &c : clients_)
        out.push_back(c.first);
    return out;
}

void ControlServer::service(int fd)
{
    if (!fifo_ && fd == listenFd_) {
        const int client = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (client >= 0)
            clients_[client] = std::string();
        return;
    }
    if (clients_.count(fd))
        readLines(fd, !fifo_);
}

void ControlServer::readLines(int fd, bool reply)
{
    char buffer[1024];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        if (!fifo_) {
            close(fd);
            clients_.erase(fd);
        }
        return;
    }
    if (n < 0)
        return;
    std::string &pending = clients_[fd];
    pending.append(buffer, static_cast<size_t>(n));
    size_t newline;
    while ((newline = pending.find('\n')) != std::string::npos) {
        const std::string line = pending.substr(0, newline);
        pending.erase(0, newline + 1);
        std::string answer = executor_(line) + "\n";
        if (reply) {
            // Replies are short; a client that does not read them loses them.
            const ssize_t w = send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
            (void)w;
        }
    }
}

} // namespace wheelemu
