#include "app/pictures_ahead.h"

#include "app/stored_png_reader.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QImageReader>
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

// The first picture Qt reads makes it list the image plugins installed,
// opening each one's file for its description: a few tenths of a millisecond
// that the first style sheet with a picture would otherwise spend on the GUI
// thread. Asked for a format that no reader claims, Qt lists the plugins and
// makes none of them: a plugin's instance is made without a lock, so the GUI
// thread, which reads the pictures, must be the only one to make any.
void listImagePlugins()
{
    QBuffer nothing;
    nothing.open(QIODevice::ReadOnly);
    QImageReader reader(&nothing, "none");
    reader.setAutoDetectImageFormat(false);
    reader.canRead();
}

} // namespace

void readStored()
{
    listImagePlugins();
    const QDir folder(QStringLiteral(":/img"));
    // Names checked by hand: a name filter would have Qt compile a pattern.
    for (const QString &name : folder.entryList(QDir::Files)) {
        if (!name.endsWith(QLatin1String(".png")))
            continue;
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
