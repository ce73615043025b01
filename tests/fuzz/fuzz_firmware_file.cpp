// The checks a firmware file passes before anything reaches the wheel: the
// name and size of a file the user picked, and the length announcements and
// MD5 of a download. Names and sizes come from the input; the files are
// sparse, so sizes around the limit cost nothing.

#include "upgrade/firmware_download.h"
#include "upgrade/firmware_file.h"

#include "fuzz_check.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

void checkLocalFile(fuzz::Input &in)
{
    // Named so that one left behind by a crashed run is recognisable.
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/quorset-fuzz-XXXXXX"));
    FUZZ_CHECK(dir.isValid());
    // Sizes cluster around the limit, sometimes far from it.
    const uint32_t pick = in.u32();
    const qint64 size = pick & 1 ? kMaxFirmwareImageSize - 64 + qint64(pick >> 1 & 0x7F) : qint64(pick >> 8);
    QString name = in.text();
    name.remove(QLatin1Char('/')).remove(QChar(0));
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return;
    const QString path = dir.filePath(name);
    if (path.isEmpty())
        return; // a name Qt takes for an absolute path (":..." is a resource)
    const bool bin = name.endsWith(QLatin1String(".bin"));

    // A missing file is refused on every route.
    FUZZ_CHECK(!firmwareImageRefusal(path, UpdateRoute::HidStream, false).isEmpty());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !file.resize(size))
        return; // a name the file system refuses
    file.close();
    const bool accepted = firmwareImageRefusal(path, UpdateRoute::HidStream, false).isEmpty();
    FUZZ_CHECK(accepted == (bin && size > 0 && size <= kMaxFirmwareImageSize));
    // Zeros are no vector table, whatever the size.
    FUZZ_CHECK(!firmwareImageRefusal(path, UpdateRoute::BootLoader, true).isEmpty());
    FUZZ_CHECK(file.remove());
}

void checkDownload(fuzz::Input &in)
{
    // What a server may announce and deliver; the window stops a download
    // once it is too large and only then asks for the bar's value.
    const qint64 received = qint64(in.u32()) << (in.byte() % 32);
    const qint64 total = qint64(int32_t(in.u32())) * (qint64(1) << (in.byte() % 32));
    const bool tooLarge = downloadTooLarge(received, total);
    FUZZ_CHECK(tooLarge == (received > kMaxDownloadBytes || total > kMaxDownloadBytes));
    if (!tooLarge) {
        const std::optional<int> percent = downloadPercent(received, total);
        FUZZ_CHECK(percent.has_value() == (total > 0));
        if (percent && received <= total)
            FUZZ_CHECK(*percent >= 0 && *percent <= 100 && *percent == received * 100 / total);
    }

    const QByteArray data = in.bytes(in.u16());
    const QString md5 = md5Hex(data);
    FUZZ_CHECK(md5.size() == 32 && md5 == md5.toLower());
    const QString offer = in.text();
    FUZZ_CHECK(matchesOfferedMd5(data, QStringLiteral("MD5: ") + md5.toUpper()));
    FUZZ_CHECK(matchesOfferedMd5(data, offer + md5 + offer));
    FUZZ_CHECK(!matchesOfferedMd5(data, QString()));
    QString altered = md5;
    altered[int(in.byte() % 32)] = altered[0] == QLatin1Char('0') ? QLatin1Char('1') : QLatin1Char('0');
    if (altered != md5 && !offer.toCaseFolded().contains(md5))
        FUZZ_CHECK(!matchesOfferedMd5(data, altered + offer));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    fuzz::Input in(data, size);
    checkLocalFile(in);
    checkDownload(in);
    return 0;
}
