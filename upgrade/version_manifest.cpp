#include "upgrade/version_manifest.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QStringList>

std::optional<VersionManifest> parseVersionManifest(const QByteArray &json)
{
    const QJsonDocument doc = QJsonDocument::fromJson(json);
    if (!doc.isObject())
        return std::nullopt;
    const QJsonObject top = doc.object();
    return VersionManifest{top.value(QLatin1String("version")).toString(),
                           top.value(QLatin1String("name")).toString(),
                           top.value(QLatin1String("md5")).toString()};
}

QDateTime parseFirmwareDate(const QString &text)
{
    // The C locale pins the month names to English; the wheel and the server
    // write them so regardless of where the user lives. The stamps carry no
    // zone, so they are read as UTC: as local time, a build made during the
    // hour a clock change skips would not exist.
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 2)
        return {};
    const QLocale c = QLocale::c();
    const QDate date = c.toDate(parts.at(0), QStringLiteral("MMM d yyyy"));
    const QTime time = c.toTime(parts.at(1), QStringLiteral("hh:mm"));
    if (!date.isValid() || !time.isValid())
        return {};
    return QDateTime(date, time, Qt::UTC);
}

QDateTime deviceBuildDate(const QString &versionLabelText)
{
    const QStringList fields = versionLabelText.split(QLatin1Char('\t'), Qt::KeepEmptyParts);
    if (fields.size() < 2)
        return {};
    QString date = fields.at(1);
    // The wheel pads a one-digit day with a second space ("Mar  7").
    date.replace(QLatin1String("  "), QLatin1String(" "));
    return parseFirmwareDate(date);
}

UpdateVerdict compareFirmwareDates(const QString &versionLabelText, const QString &manifestVersion)
{
    const QDateTime device = deviceBuildDate(versionLabelText);
    const QDateTime offered = parseFirmwareDate(manifestVersion);
    if (!device.isValid() || !offered.isValid())
        return UpdateVerdict::NoValidDevice;
    return offered > device ? UpdateVerdict::Offer : UpdateVerdict::UpToDate;
}
