// The pollable half of an emulated hidraw node.
//
// The preload library forwards read(), write() and ioctl() on the emulated
// node to our handlers, but not poll(): the client polls the real file the
// node points to. That file is the slave side of a pseudo terminal in raw
// mode. Keeping exactly as many "doorbell" bytes in it as the fullest
// client's input queue holds makes poll() report POLLIN when, and only when,
// a report is waiting, so hid_read_timeout() wakes up and times out as with
// a real device.
#pragma once

#include <memory>
#include <string>

namespace wheelemu {

class PtyDoorbell
{
public:
    // nullptr and *error when no pty can be had.
    static std::unique_ptr<PtyDoorbell> create(std::string *error);
    ~PtyDoorbell();
    PtyDoorbell(const PtyDoorbell &) = delete;
    PtyDoorbell &operator=(const PtyDoorbell &) = delete;

    const std::string &slavePath() const { return slavePath_; }
    // "major:minor" of the slave, for the hidraw node's dev attribute, so
    // that fstat() on a client's descriptor leads back to the sysfs device.
    const std::string &deviceNumber() const { return deviceNumber_; }

    // Makes the number of bytes waiting in the slave equal to count.
    void setPending(int count);
    int pending() const { return pending_; }

private:
    PtyDoorbell(int master, int slave, std::string slavePath, std::string deviceNumber);
    void discardAll();

    int master_;
    int slave_;
    std::string slavePath_;
    std::string deviceNumber_;
    int pending_ = 0;
};

} // namespace wheelemu
