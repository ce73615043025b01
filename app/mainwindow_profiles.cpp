// Whole-wheel profiles on the DEVICE page: BACKUP SETTINGS..., RESTORE
// SETTINGS..., and the look at the settings after a firmware update.
#include "app/mainwindow.h"

#include "app/user_prompts.h"
#include "device/device_handle.h"
#include "settings/profile_backup.h"
#include "settings/profile_transfer.h"
#include "ui_mainwindow.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QTimer>

namespace {

const char *const kProfileFilter = "Settings Profile (*.json)";

} // namespace

void MainWindow::connectProfileWidgets()
{
    connect(ui->pbBackupSettings, SIGNAL(clicked(bool)), this, SLOT(onBackupSettings()));
    connect(ui->pbRestoreSettings, SIGNAL(clicked(bool)), this, SLOT(onRestoreSettings()));
}

void MainWindow::onBackupSettings()
{
    WheelProfile profile;
    QString error;
    if (!readWheelProfile(deviceHandle(), profile, &error)) {
        UserPrompts::critical(this, tr("Error"), tr("The settings could not be read: %1.").arg(error));
        return;
    }
    QDir().mkpath(backupFolder());
    const QString suggested =
        QDir(backupFolder())
            .filePath(profile.modelCode +
                      QDateTime::currentDateTime().toString(QStringLiteral("-yyyyMMdd-HHmmss")) +
                      QLatin1String(".json"));
    const QString path =
        UserPrompts::saveFileName(this, tr("Back up settings"), suggested, tr(kProfileFilter));
    if (path.isEmpty())
        return;
    // Written aside and renamed: an earlier file of that name survives a
    // write that fails half way.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(profileToJson(profile)) < 0 || !file.commit()) {
        UserPrompts::critical(this, tr("Error"), tr("Cannot write %1: %2.").arg(path, file.errorString()));
        return;
    }
    UserPrompts::information(this, tr("Success"), tr("Settings saved to %1.").arg(path));
}

void MainWindow::onRestoreSettings()
{
    const QString path =
        UserPrompts::openFileName(this, tr("Restore settings"), backupFolder(), tr(kProfileFilter));
    if (path.isEmpty())
        return;
    // The whole file is checked before anything is written.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        UserPrompts::critical(this, tr("Error"), tr("Cannot read %1: %2.").arg(path, file.errorString()));
        return;
    }
    QString error;
    const std::optional<WheelProfile> profile = parseProfile(file.readAll(), &error);
    if (!profile) {
        UserPrompts::critical(this, tr("Error"), tr("%1: %2.").arg(path, error));
        return;
    }
    WheelProfile current;
    if (!readWheelProfile(deviceHandle(), current, &error)) {
        UserPrompts::critical(this, tr("Error"), tr("The settings could not be read: %1.").arg(error));
        return;
    }
    const bool otherModel = profile->modelCode != current.modelCode;
    if (otherModel &&
        UserPrompts::question(this, tr("Notify"),
                              tr("This profile was taken from a %1, this wheel is a %2. Restore it anyway?")
                                  .arg(profile->modelCode, current.modelCode),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
        return;
    const std::optional<WheelProfile> fitted = fitProfileToWheel(*profile, current, otherModel, &error);
    if (fitted)
        writeProfileAndReport(roundedToLedLevels(*fitted));
}

// A new firmware may have come up with other settings than the backup the
// update took: say which, and offer the backup back.
void MainWindow::onCompareSettingsAfterUpdate()
{
    if (!settingsBeforeUpdate || !deviceHandle().isOpen())
        return;
    const WheelProfile before = *settingsBeforeUpdate;
    settingsBeforeUpdate.reset();
    WheelProfile now;
    QString error;
    if (!readWheelProfile(deviceHandle(), now, &error) || now.modelCode != before.modelCode) {
        qDebug() << "No settings comparison after the update:" << error;
        return;
    }
    const QStringList changed = changedSettings(before, now);
    qDebug() << "Settings changed by the update:" << changed;
    if (changed.isEmpty())
        return;
    if (UserPrompts::question(this, tr("Update"),
                              describeChangedSettings(changed) +
                                  tr(". Restore them from the backup taken before the update?"),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) == QMessageBox::Yes)
        writeProfileAndReport(roundedToLedLevels(before));
}

void MainWindow::writeProfileAndReport(const WheelProfile &wanted)
{
    QString error;
    const QStringList lost = restoreProfile(deviceHandle(), wanted, &error);
    if (!error.isEmpty())
        UserPrompts::critical(this, tr("Error"), tr("The settings were not restored: %1.").arg(error));
    else if (!lost.isEmpty())
        UserPrompts::critical(
            this, tr("Error"),
            tr("The wheel did not keep these values:\n%1").arg(lost.join(QLatin1Char('\n'))));
    else
        UserPrompts::information(this, tr("Success"), tr("Settings restored."));
    // The pages show what the wheel holds now.
    QTimer::singleShot(0, this, SLOT(onInit()));
}
