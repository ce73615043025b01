#include "upgrade/firmware_file.h"

#include "upgrade/boot_loader.h"
#include "upgrade/vector_table.h"

#include <QFile>

namespace {

qint64 sizeLimit(UpdateRoute route, bool downloaded)
{
    return route == UpdateRoute::BootLoader && downloaded ? kMaxBootLoaderImageSize : kMaxFirmwareImageSize;
}

} // namespace

UpdateRoute updateRouteFor(const QString &deviceName)
{
    const ModelEntry *model = ModelTable::forName(deviceName);
    return model ? model->updateRoute : UpdateRoute::HidStream;
}

QString firmwareImageRefusal(const QString &path, UpdateRoute route, bool downloaded)
{
    if (!path.endsWith(QLatin1String(".bin"), Qt::CaseSensitive))
        return QStringLiteral("the file name does not end in .bin");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot read the file: %1").arg(file.errorString());
    const qint64 limit = sizeLimit(route, downloaded);
    if (file.size() > limit)
        return QStringLiteral("the image has %1 bytes, more than the %2 the wheel takes")
            .arg(file.size())
            .arg(limit);
    const QByteArray image = file.read(limit + 1);
    if (image.isEmpty())
        return QStringLiteral("the file is empty");
    // A file that grew since its size was read is no image to trust either.
    if (image.size() > limit || image.size() != file.size())
        return QStringLiteral("the file changed while it was read");
    QString reason;
    if (route == UpdateRoute::BootLoader && !checkVectorTable(image, kBootLoaderFlashBase, reason))
        return reason;
    return QString();
}
