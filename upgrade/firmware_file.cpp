#include "upgrade/firmware_file.h"

#include <QFileInfo>

namespace {

bool hasImageSuffix(const QString &path)
{
    return path.endsWith(QLatin1String(".bin"), Qt::CaseSensitive);
}

} // namespace

bool acceptableFirmwarePath(const QString &path)
{
    // QFileInfo reads 0 for a missing file, so only the suffix stops it here.
    return hasImageSuffix(path) && QFileInfo(path).size() <= kMaxFirmwareImageSize;
}

bool firmwareStillThere(const QString &path)
{
    return hasImageSuffix(path) && QFileInfo::exists(path);
}
