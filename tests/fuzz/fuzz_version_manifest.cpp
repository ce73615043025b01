// The update server's "version.json" and the two build-date texts it is
// compared by (the manifest's and the one inside the wheel's version label).
// Arbitrary bytes must parse or be refused; manifests and dates that are well
// formed must come back exactly, and the verdict must follow the dates.

#include "upgrade/version_manifest.h"

#include "fuzz_check.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

namespace {

// A build stamp from five input bytes, written as the server writes it.
QDateTime stampFrom(fuzz::Input &in)
{
    const int year = 1970 + in.u16() % 8000;
    const int month = 1 + in.byte() % 12;
    const QDate day(year, month, 1 + in.byte() % QDate(year, month, 1).daysInMonth());
    return QDateTime(day, QTime(in.byte() % 24, in.byte() % 60), Qt::UTC);
}

QString formatted(const QDateTime &stamp)
{
    return QLocale::c().toString(stamp, QStringLiteral("MMM d yyyy,hh:mm"));
}

void checkManifestRoundTrip(fuzz::Input &in)
{
    const QString version = in.text(), name = in.text(), md5 = in.text();
    QJsonObject object{{QStringLiteral("version"), version},
                       {QStringLiteral("name"), name},
                       {QStringLiteral("md5"), md5},
                       {QStringLiteral("extra"), QJsonArray{1, name}}};
    for (const auto format : {QJsonDocument::Compact, QJsonDocument::Indented}) {
        const std::optional<VersionManifest> back =
            parseVersionManifest(QJsonDocument(object).toJson(format));
        FUZZ_CHECK(back && back->version == version && back->name == name && back->md5 == md5);
    }
    // Keys that are not strings read as empty; a top level that is no
    // object is no manifest.
    object[QStringLiteral("md5")] = 5;
    object.remove(QStringLiteral("name"));
    const std::optional<VersionManifest> odd = parseVersionManifest(QJsonDocument(object).toJson());
    FUZZ_CHECK(odd && odd->md5.isEmpty() && odd->name.isEmpty() && odd->version == version);
    FUZZ_CHECK(!parseVersionManifest(QJsonDocument(QJsonArray{version, name}).toJson()));
}

void checkDates(fuzz::Input &in)
{
    const QDateTime device = stampFrom(in), offered = stampFrom(in);
    const QString offeredText = formatted(offered);
    FUZZ_CHECK(parseFirmwareDate(offeredText) == offered);

    // The wheel pads a one-digit day with a second space.
    QString deviceText = formatted(device);
    if (device.date().day() < 10)
        deviceText.insert(4, QLatin1Char(' '));
    const QString label = QStringLiteral("Firmware Version: ") + in.text().remove(QLatin1Char('\t')) +
                          QLatin1Char('\t') + deviceText;
    FUZZ_CHECK(deviceBuildDate(label) == device);

    const UpdateVerdict verdict = compareFirmwareDates(label, offeredText);
    FUZZ_CHECK(verdict == (offered > device ? UpdateVerdict::Offer : UpdateVerdict::UpToDate));
    FUZZ_CHECK(compareFirmwareDates(QStringLiteral("Firmware Version: 2"), offeredText) ==
               UpdateVerdict::NoValidDevice);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    fuzz::Input in(data, size);
    switch (in.byte() % 3) {
    case 0: {
        // Whatever the server sends.
        const QByteArray reply = in.rest();
        const std::optional<VersionManifest> manifest = parseVersionManifest(reply);
        FUZZ_CHECK(manifest.has_value() == QJsonDocument::fromJson(reply).isObject());
        if (manifest) {
            const UpdateVerdict verdict =
                compareFirmwareDates(QStringLiteral("V\tJan 1 2000,00:00"), manifest->version);
            FUZZ_CHECK((verdict == UpdateVerdict::NoValidDevice) ==
                       !parseFirmwareDate(manifest->version).isValid());
        }
        break;
    }
    case 1: {
        // Any date text, from either side: what parses is stable when
        // written back.
        const QString text = QString::fromUtf8(in.rest());
        const QDateTime stamp = parseFirmwareDate(text);
        if (stamp.isValid()) {
            FUZZ_CHECK(stamp.timeSpec() == Qt::UTC && text.count(QLatin1Char(',')) == 1);
            FUZZ_CHECK(parseFirmwareDate(formatted(stamp)) == stamp);
        }
        const QDateTime fromLabel = deviceBuildDate(text);
        FUZZ_CHECK(!fromLabel.isValid() || text.contains(QLatin1Char('\t')));
        break;
    }
    default:
        checkManifestRoundTrip(in);
        checkDates(in);
    }
    return 0;
}
