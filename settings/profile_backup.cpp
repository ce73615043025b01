#include "settings/profile_backup.h"

#include "settings/profile_transfer.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QThread>

#include <functional>

namespace {

// Each setting a user knows by name, and whether it changed. Calibration is
// one setting to the user, four words to the wheel.
struct SettingCheck
{
    const char *name;
    std::function<bool(const WheelProfile &, const WheelProfile &)> differs;
};

const SettingCheck kSettingChecks[] = {
    {"Bite point",
     [](const WheelProfile &a, const WheelProfile &b) {
         return a.paddles.biteWord != b.paddles.biteWord;
     }},
    {"LED colours",
     [](const WheelProfile &a, const WheelProfile &b) {
         return !(a.leds == b.leds);
     }},
    {"Clutch calibration",
     [](const WheelProfile &a, const WheelProfile &b) {
         const PaddleConfig &x = a.paddles, &y = b.paddles;
         return x.leftMin != y.leftMin || x.leftMax != y.leftMax || x.rightMin != y.rightMin ||
                x.rightMax != y.rightMax;
     }},
    {"Encoder pulse width",
     [](const WheelProfile &a, const WheelProfile &b) {
         return a.encoderPulseWidth != b.encoderPulseWidth;
     }},
    {"Shifter pulse width",
     [](const WheelProfile &a, const WheelProfile &b) {
         return a.shifterPulseWidth != b.shifterPulseWidth;
     }},
    {"Clutches",
     [](const WheelProfile &a, const WheelProfile &b) {
         return a.clutchesEnabled != b.clutchesEnabled;
     }},
    {"Extra shifters",
     [](const WheelProfile &a, const WheelProfile &b) {
         return a.extraShiftersEnabled != b.extraShiftersEnabled;
     }},
    {"Extra LED colours",
     [](const WheelProfile &a, const WheelProfile &b) {
         return !(a.extraLeft == b.extraLeft) || !(a.extraRight == b.extraRight);
     }},
};

QString modelPrefix(const QString &modelCode)
{
    return (modelCode.isEmpty() ? QStringLiteral("wheel") : modelCode) + QLatin1Char('-');
}

} // namespace

// The window's AppLocalDataLocation, named outright so that quorctl, a
// program of another name, keeps its backups in the same place.
QString backupFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QLatin1String("/quorset/backups");
}

QString storeBackup(const WheelProfile &profile, QString *error)
{
    const QDir folder(backupFolder());
    if (!folder.mkpath(QStringLiteral("."))) {
        *error = QStringLiteral("cannot create %1").arg(folder.path());
        return QString();
    }
    const QString prefix = modelPrefix(profile.modelCode);
    // Names sort in time order; a second backup within the same millisecond
    // waits for the next one rather than replace the first.
    QString path;
    for (;;) {
        path = folder.filePath(prefix +
                               QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")) +
                               QLatin1String(".json"));
        if (!QFileInfo::exists(path))
            break;
        QThread::msleep(1);
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(profileToJson(profile)) < 0 || !file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return QString();
    }
    const QStringList newestFirst =
        folder.entryList({prefix + QLatin1String("*.json")}, QDir::Files, QDir::Name | QDir::Reversed);
    for (int i = kBackupsKept; i < newestFirst.size(); ++i)
        QFile::remove(folder.filePath(newestFirst[i]));
    return path;
}

QStringList changedSettings(const WheelProfile &before, const WheelProfile &after)
{
    QStringList changed;
    for (const SettingCheck &check : kSettingChecks)
        if (check.differs(before, after))
            changed << QLatin1String(check.name);
    return changed;
}

QString describeChangedSettings(const QStringList &changed)
{
    if (changed.isEmpty())
        return QString();
    const QString tail = QStringLiteral(" from before the update");
    if (changed.size() == 1)
        return changed[0] + QStringLiteral(" differs") + tail;
    if (changed.size() == 2)
        return changed[0] + QStringLiteral(" and ") + changed[1].toLower() + QStringLiteral(" differ") + tail;
    const int others = int(changed.size()) - 2;
    return changed[0] + QStringLiteral(", ") + changed[1].toLower() +
           QStringLiteral(" and %1 other setting%2 differ").arg(others).arg(others == 1 ? "" : "s") + tail;
}

QStringList restoreProfile(DeviceHandle &device, const WheelProfile &wanted, QString *error)
{
    error->clear();
    const int sent = writeWheelProfile(device, wanted);
    if (sent < 0) {
        *error = QStringLiteral("writing to the wheel failed (%1)").arg(sent);
        return {};
    }
    WheelProfile kept;
    if (!readWheelProfile(device, kept, error)) {
        *error = QStringLiteral("restored, but reading it back failed: %1").arg(*error);
        return {};
    }
    return profileDifferences(wanted, kept);
}
