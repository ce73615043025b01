// CHECK UPDATE: the update server's manifest, the offer, the download and
// the hand-over to the update flow.
#include "app/mainwindow.h"

#include "app/user_prompts.h"
#include "ui_mainwindow.h"
#include "upgrade/firmware_download.h"
#include "upgrade/version_manifest.h"

#include <QDebug>
#include <QDir>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

namespace {

// Marks a download reply stopped for its size. Kept on the reply, not the
// window: a MANUAL UPDATE may start a second download beside the first.
constexpr char kAbandoned[] = "quorAbandoned";

// A server that stops sending (or never answers) ends the request after
// this long without progress, instead of leaving the page waiting for good.
QNetworkRequest plainGet(const QString &url)
{
    QNetworkRequest request(QUrl(url, QUrl::TolerantMode));
    request.setTransferTimeout(networkTimeoutMs());
    return request;
}

bool timedOut(const QNetworkReply *reply)
{
    return reply->error() == QNetworkReply::OperationCanceledError ||
           reply->error() == QNetworkReply::TimeoutError;
}

} // namespace

void MainWindow::onAutoUpgrade()
{
    QNetworkReply *reply = networkManager.get(plainGet(updateUrl + QLatin1String("version.json")));
    connect(reply, SIGNAL(finished()), this, SLOT(onUpgradeReady()));
    // Stays so until the widgets are reset: one check at a time.
    ui->pbAutoUpgrade->setEnabled(false);
    ui->pbAutoUpgrade->setText(tr("Checking ..."));
}

void MainWindow::onUpgradeReady()
{
    auto *reply = qobject_cast<QNetworkReply *>(sender());
    if (!reply)
        return;
    reply->deleteLater();
    // A server error page, no network, or a certificate that does not
    // verify all end here as a reply that is no manifest.
    const std::optional<VersionManifest> manifest = parseVersionManifest(reply->readAll());
    if (!manifest) {
        qDebug() << "Update check: no manifest from" << reply->url().toString() << reply->errorString();
        resetUpgradeUi();
        if (timedOut(reply))
            UserPrompts::critical(this, tr("Error"), tr("The update server did not answer in time."));
        return;
    }
    const QString versionText = ui->lbVersion->text();
    const UpdateVerdict verdict = versionText.isEmpty()
                                      ? UpdateVerdict::NoValidDevice
                                      : compareFirmwareDates(versionText, manifest->version);
    qDebug() << "Update check: wheel" << versionText << "offer" << manifest->version << manifest->name;
    if (verdict == UpdateVerdict::NoValidDevice) {
        UserPrompts::information(this, tr("Update"), tr("No valid device."));
        resetUpgradeUi();
        return;
    }
    if (verdict == UpdateVerdict::UpToDate) {
        UserPrompts::information(this, tr("Update"), tr("Your firmware is already up to date."));
        resetUpgradeUi();
        return;
    }
    if (UserPrompts::question(this, tr("Update"), tr("A new firmware is available, update now?"),
                              QMessageBox::Yes | QMessageBox::No,
                              QMessageBox::NoButton) != QMessageBox::Yes) {
        resetUpgradeUi();
        return;
    }
    ui->lePath->setText(updateUrl + manifest->name);
    ui->lbCurVersion->setText(tr("Version: ") + manifest->version);
    // The label stays hidden; its text is what the download must match.
    ui->lbCurMd5->setText(tr("MD5: ") + manifest->md5);
    QTimer::singleShot(0, this, SLOT(onNetUpgrade()));
}

void MainWindow::onNetUpgrade()
{
    const QString url = ui->lePath->text();
    if (!url.startsWith(QLatin1String("https://"), Qt::CaseSensitive)) {
        resetUpgradeUi();
        return;
    }
    qDebug() << "Downloading" << url;
    QNetworkReply *reply = networkManager.get(plainGet(url));
    connect(reply, SIGNAL(downloadProgress(qint64, qint64)), this, SLOT(onNetProgress(qint64, qint64)));
    connect(reply, SIGNAL(finished()), this, SLOT(onNetUpgradeReady()));
    ui->pgUpgrade->show();
    ui->lbUpgrade->setText(tr("Downloading ..."));
    ui->lbUpgrade->show();
}

void MainWindow::onNetProgress(qint64 received, qint64 total)
{
    auto *reply = qobject_cast<QNetworkReply *>(sender());
    // Without a length from the server, Qt still reports the received size
    // as the total once the transfer ends; the length was never known, so
    // the bar stays where it is.
    if (reply && !reply->header(QNetworkRequest::ContentLengthHeader).isValid())
        total = -1;
    if (downloadTooLarge(received, total)) {
        // Far beyond any wheel's flash: stop before it piles up in memory.
        // The reply then finishes, and that slot turns it down.
        if (reply && !reply->property(kAbandoned).toBool()) {
            qDebug() << "Download abandoned at" << received << "of" << total << "bytes";
            reply->setProperty(kAbandoned, true);
            reply->abort();
        }
        return;
    }
    if (const std::optional<int> percent = downloadPercent(received, total))
        ui->pgUpgrade->setValue(*percent);
}

void MainWindow::onNetUpgradeReady()
{
    auto *reply = qobject_cast<QNetworkReply *>(sender());
    if (!reply)
        return;
    reply->deleteLater();
    // A broken or cut-off transfer, or one from a server that could not be
    // verified, shows up as data that does not match the offer's MD5.
    const bool abandoned = reply->property(kAbandoned).toBool();
    const QByteArray data = abandoned ? QByteArray() : reply->readAll();
    qDebug() << "Download finished:" << data.size() << "bytes," << reply->errorString();
    if (abandoned || !matchesOfferedMd5(data, ui->lbCurMd5->text())) {
        resetUpgradeUi();
        UserPrompts::critical(this, tr("Error"),
                              !abandoned && timedOut(reply)
                                  ? tr("The update server stopped sending the firmware.")
                                  : tr("Download file fail."));
        return;
    }
    // A directory of this run's own, made anew (mode 0700, by mkdtemp): no
    // other account can have put or kept anything in it.
    if (!downloadDir || !downloadDir->isValid())
        downloadDir = std::make_unique<QTemporaryDir>(QDir::tempPath() + QLatin1String("/quorset-XXXXXX"));
    const QString path =
        downloadDir->isValid() ? downloadDir->filePath(QStringLiteral("quor.firmware.bin")) : QString();
    if (path.isEmpty() || !storeFirmwareImage(path, data)) {
        resetUpgradeUi();
        UserPrompts::critical(this, tr("Error"), tr("Can not write to temp."));
        return;
    }
    downloadedImage = path;
    ui->lePath->setText(path);
    startFirmwareUpdate(path, tr("Waiting for DFU device ..."));
}
