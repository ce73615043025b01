#include "upgrade/firmware_download.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

bool downloadTooLarge(qint64 received, qint64 total)
{
    return received > kMaxDownloadBytes || total > kMaxDownloadBytes;
}

std::optional<int> downloadPercent(qint64 received, qint64 total)
{
    if (total <= 0)
        return std::nullopt;
    return int(received * 100 / total);
}

QString md5Hex(const QByteArray &data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex());
}

bool matchesOfferedMd5(const QByteArray &data, const QString &offeredMd5Text)
{
    return offeredMd5Text.toCaseFolded().contains(md5Hex(data), Qt::CaseSensitive);
}

namespace {
int networkTimeout = 15000;
} // namespace

int networkTimeoutMs()
{
    return networkTimeout;
}

void setNetworkTimeoutMs(int ms)
{
    networkTimeout = ms;
}

bool storeFirmwareImage(const QString &path, const QByteArray &data)
{
    // The temp directory is shared with every other user: whatever sits at
    // the path may be a link planted to make us overwrite another file.
    // Removing the entry itself and then creating the file exclusively
    // (O_CREAT | O_EXCL, which also refuses a link put back in between)
    // means no link is ever followed.
    const QFileInfo old(path);
    if ((old.exists() || old.isSymLink()) && !QFile::remove(path))
        return false;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return false;
    const bool written = file.write(data) == data.size() && file.flush();
    file.close();
    if (!written || file.error() != QFileDevice::NoError) {
        file.remove();
        return false;
    }
    return true;
}
