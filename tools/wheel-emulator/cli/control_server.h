// --control PATH: line commands from outside the emulator.
//
// An existing FIFO is read line by line (no replies: `echo press 3 > fifo`).
// Otherwise a Unix stream socket is created at PATH; every line a client
// sends is answered with one line, "ok[ TEXT]" or "error TEXT". The socket
// file is removed again when the server goes away.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <poll.h>
#include <string>
#include <vector>

namespace wheelemu {

class ControlServer
{
public:
    // Returns the reply line (without newline) for one command line.
    using Executor = std::function<std::string(const std::string &line)>;

    static std::unique_ptr<ControlServer> open(const std::string &path, Executor executor,
                                               std::string *error);
    ~ControlServer();
    ControlServer(const ControlServer &) = delete;
    ControlServer &operator=(const ControlServer &) = delete;

    // Descriptors to poll for POLLIN.
    std::vector<int> fds() const;
    // Call for a descriptor poll() reported ready.
    void service(int fd);

private:
    ControlServer(std::string path, bool fifo, int listenFd, int keepOpenFd, Executor executor);
    void readLines(int fd, bool reply);

    std::string path_;
    bool fifo_;
    int listenFd_;   // the socket, or the FIFO's read end
    int keepOpenFd_; // FIFO: a write end of our own, so the last writer leaving is no EOF
    Executor executor_;
    std::map<int, std::string> clients_; // fd -> partial line
};

} // namespace wheelemu
