#include "device/device_handle.h"
#include "quorctl/commands.h"
#include "quorctl/console.h"
#include "quorctl/exit_codes.h"
#include "quorctl/wheel_session.h"
#include "settings/profile_backup.h"
#include "settings/profile_transfer.h"

#include <QFile>
#include <QSaveFile>

namespace {

// Opens the wheel and reads everything it stores; 0 or an exit code.
int openAndRead(WheelSession &session, WheelProfile &profile)
{
    if (const int code = session.open(true))
        return reportError(code, session.error());
    QString error;
    if (!readWheelProfile(deviceHandle(), profile, &error))
        return reportError(ExitDeviceError, error);
    return ExitSuccess;
}

} // namespace

int writeAndCheck(const WheelProfile &wanted)
{
    QString error;
    const QStringList lost = restoreProfile(deviceHandle(), wanted, &error);
    if (!error.isEmpty())
        return reportError(ExitDeviceError, error);
    for (const QString &difference : lost)
        printNote(QStringLiteral("not kept: %1").arg(difference));
    if (!lost.isEmpty())
        return reportError(ExitDeviceError,
                           QStringLiteral("the wheel did not keep %1 value(s)").arg(lost.size()));
    return ExitSuccess;
}

int runBackup(const CommandLine &line)
{
    WheelSession session;
    WheelProfile profile;
    if (const int code = openAndRead(session, profile))
        return code;
    // Written aside and renamed, so an earlier backup under the same name
    // survives a full disk.
    QSaveFile file(line.file);
    if (!file.open(QIODevice::WriteOnly) || file.write(profileToJson(profile)) < 0 || !file.commit())
        return reportError(ExitBadFile,
                           QStringLiteral("cannot write %1: %2").arg(line.file, file.errorString()));
    printLine(QStringLiteral("saved the setup of %1 to %2").arg(profile.wheelName, line.file));
    return ExitSuccess;
}

int runRestore(const CommandLine &line)
{
    // Everything about the file is settled before the wheel is touched.
    QFile file(line.file);
    if (!file.open(QIODevice::ReadOnly))
        return reportError(ExitBadFile,
                           QStringLiteral("cannot read %1: %2").arg(line.file, file.errorString()));
    QString error;
    const std::optional<WheelProfile> profile = parseProfile(file.readAll(), &error);
    if (!profile)
        return reportError(ExitBadFile, QStringLiteral("%1: %2").arg(line.file, error));

    WheelSession session;
    WheelProfile current;
    if (const int code = openAndRead(session, current))
        return code;
    const std::optional<WheelProfile> fitted = fitProfileToWheel(*profile, current, line.force, &error);
    if (!fitted)
        return reportError(ExitBadFile, QStringLiteral("%1: %2").arg(line.file, error));

    if (const int code = writeAndCheck(roundedToLedLevels(*fitted)))
        return code;
    printLine(QStringLiteral("restored %1 to %2").arg(line.file, current.wheelName));
    return ExitSuccess;
}
