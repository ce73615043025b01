#pragma once

#include <QString>

#include <cstdint>
#include <memory>

class QLockFile;

// The wheel as one quorctl command holds it: opened into the program's
// device handle, identified, and closed again when the session ends.
//
// Beside a running QuorSet window: the window exchanges command reports with
// the wheel on its own (the power status poll, the settings it sends while the
// user works), and the protocol has no way to tell whose reply is whose, so a
// request of ours and one of the window's could cross. Commands that exchange
// command reports therefore refuse to run while the window is up; `watch`
// only reads input reports, of which every open of the wheel gets its own
// copy, so it runs beside the window. The window is found through its
// single-instance socket; the probe only finds it and leaves a minimised
// window where it is. Two quorctl commands could cross in the same way, so
// those commands also hold a lock file in the user's private runtime
// directory while they run; a second one stops at once rather than wait
// behind a firmware update. A window started meanwhile sees the lock and
// waits on its waiting screen until the command has let the wheel go.
class WheelSession
{
public:
    WheelSession();
    // The handle is closed (and the lock given back) whatever happened.
    ~WheelSession();

    // 0 when the wheel is open and named; otherwise an exit code with
    // error() telling why. `exchangesCommands` is false only for commands
    // that merely read input reports.
    int open(bool exchangesCommands);

    const QString &error() const { return error_; }
    uint16_t productId() const { return productId_; }
    const QString &name() const { return name_; }
    const QString &modelCode() const { return modelCode_; }

private:
    std::unique_ptr<QLockFile> lock_;
    QString error_;
    uint16_t productId_ = 0;
    QString name_;
    QString modelCode_;
};

// Whether a QuorSet window answers on its single-instance socket.
bool quorsetWindowRunning();
