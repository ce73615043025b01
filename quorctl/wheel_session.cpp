#include "quorctl/wheel_session.h"

#include "app/single_instance.h"
#include "device/device_handle.h"
#include "device/discovery.h"
#include "device/model_layout.h"
#include "quorctl/exit_codes.h"
#include "settings/wheel_profile.h"

#include <QCoreApplication>
#include <QLockFile>

namespace {

// The window's guard socket carries the window program's name.
const QString kWindowProgramName = QStringLiteral("quorset");

} // namespace

bool quorsetWindowRunning()
{
    const QString ownName = QCoreApplication::applicationName();
    QCoreApplication::setApplicationName(kWindowProgramName);
    const bool running = isInstanceRunning();
    QCoreApplication::setApplicationName(ownName);
    return running;
}

WheelSession::WheelSession() = default;

WheelSession::~WheelSession()
{
    deviceHandle().close();
}

int WheelSession::open(bool exchangesCommands)
{
    if (exchangesCommands && quorsetWindowRunning()) {
        error_ = QStringLiteral("the QuorSet window is running; close it first");
        return ExitDeviceError;
    }
    // In the private place the window's guard also uses, where the window
    // looks for it too; without such a place there is no lock, as there is
    // no guard.
    const QString lockName = SingleInstance::wheelLockName();
    if (exchangesCommands && !lockName.isEmpty()) {
        lock_ = std::make_unique<QLockFile>(lockName);
        if (!lock_->tryLock(0)) {
            error_ =
                QStringLiteral("another quorctl command is using the wheel; try again when it has finished");
            return ExitDeviceError;
        }
    }
    productId_ = openFirstWheel(deviceHandle());
    if (productId_ == 0) {
        error_ = QStringLiteral("no wheel found");
        return ExitNoWheel;
    }
    if (!exchangesCommands)
        return ExitSuccess;
    const std::optional<QString> name = readModelName(deviceHandle());
    if (!name) {
        error_ = QStringLiteral("the wheel did not tell its name");
        return ExitDeviceError;
    }
    name_ = *name;
    modelCode_ = modelCodeOf(name_);
    return ExitSuccess;
}
