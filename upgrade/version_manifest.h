#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

// What an update server's "version.json" offers for one model: the build date
// of its image, the image's file name in the model's folder and its MD5.
struct VersionManifest
{
    QString version;
    QString name;
    QString md5;
};

// nullopt when the top level is not a JSON object (an array, an HTML error
// page, an empty reply, a parse error). Missing keys, and values that are not
// strings, read as empty strings.
std::optional<VersionManifest> parseVersionManifest(const QByteArray &json);

// "MMM d yyyy,hh:mm" with English month names whatever the user's locale; an
// invalid QDateTime when the text does not parse.
QDateTime parseFirmwareDate(const QString &text);

// The build date inside the wheel's version label ("Firmware Version: 2\tMar  7
// 2024,15:04"): the second tab-separated field with every double space
// collapsed. Invalid when that field is absent or does not parse.
QDateTime deviceBuildDate(const QString &versionLabelText);

enum class UpdateVerdict
{
    NoValidDevice, // either date is missing or unreadable
    UpToDate,      // the offered build is not later than the wheel's
    Offer,
};

UpdateVerdict compareFirmwareDates(const QString &versionLabelText, const QString &manifestVersion);
