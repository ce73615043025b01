#include "app/pictures_ahead.h"

#include "app/stored_png_reader.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QMutex>
#include <QSet>

namespace PicturesAhead {

namespace {

struct Table
{
    QMutex mutex;
    QHash<QString, QImage> read;
    // Asked for: read by the asker, not to be kept here.
    QSet<QString> asked;
};

Table &table()
{
    static Table instance;
    return instance;
}

bool asked(const QString &path)
{
    Table &t = table();
    const QMutexLocker lock(&t.mutex);
    return t.asked.contains(path);
}

// readStoredPng copies the rows out, so the image outlives the mapping.
QImage readIfStored(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const uchar *mapped = file.map(0, file.size());
    return mapped ? readStoredPng(QByteArrayView(mapped, file.size())) : QImage();
}

} // namespace

void readStored()
{
    const QDir folder(QStringLiteral(":/img"));
    for (const QString &name : folder.entryList({QStringLiteral("*.png")}, QDir::Files)) {
        const QString path = folder.filePath(name);
        if (asked(path))
            continue;
        const QImage image = readIfStored(path);
        if (image.isNull())
            continue;
        Table &t = table();
        const QMutexLocker lock(&t.mutex);
        if (!t.asked.contains(path))
            t.read.insert(path, image);
    }
}

QImage take(const QString &path)
{
    Table &t = table();
    const QMutexLocker lock(&t.mutex);
    t.asked.insert(path);
    return t.read.take(path);
}

} // namespace PicturesAhead
