#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// No wheel's flash comes near this; a download that grows past it is
// abandoned rather than held in memory.
constexpr qint64 kMaxDownloadBytes = 4 * 1024 * 1024;

// True once a download has passed kMaxDownloadBytes, or announces that it
// will (total is -1 or 0 when the server gives no length).
bool downloadTooLarge(qint64 received, qint64 total);

// The progress bar's value for a download, or nothing while its length is
// unknown.
std::optional<int> downloadPercent(qint64 received, qint64 total);

// The MD5 of data as 32 lower-case hex digits.
QString md5Hex(const QByteArray &data);

// True when the offer's MD5 text (any case, any surrounding text such as
// "MD5: ") holds the MD5 of data. An offer without an MD5 matches nothing.
bool matchesOfferedMd5(const QByteArray &data, const QString &offeredMd5Text);

// How long the online check and download wait for the server to send
// anything more before they give up (15 s). Tests shorten it.
int networkTimeoutMs();
void setNetworkTimeoutMs(int ms);

// Replaces whatever is at path (file or link, never what a link points to)
// by a new file holding data. False, with nothing left at path, when the old
// entry cannot be removed or the new file cannot be created or written whole.
bool storeFirmwareImage(const QString &path, const QByteArray &data);
