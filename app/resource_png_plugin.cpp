#include "app/resource_png_plugin.h"

#include "app/pictures_ahead.h"
#include "app/stored_png_reader.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QStringList>
#include <QVariant>

#include <utility>

namespace {

bool startsAsPng(QIODevice *device)
{
    return device && device->peek(kPngSignature.size()) == kPngSignature;
}

// Qt's own PNG decoder over a picture's bytes. From a buffer, which is no
// file, and with the format given, Qt asks this plugin alone (which declines
// buffers) and then decodes the picture itself.
class BuiltInPngReader
{
public:
    explicit BuiltInPngReader(const QByteArray &bytes)
    {
        buffer_.setData(bytes);
        buffer_.open(QIODevice::ReadOnly);
        reader_.setDevice(&buffer_);
        reader_.setFormat("png");
        reader_.setAutoDetectImageFormat(false);
    }
    QImageReader &reader() { return reader_; }

private:
    QBuffer buffer_;
    QImageReader reader_;
};

class ResourcePngHandler : public QImageIOHandler
{
public:
    bool canRead() const override
    {
        if (!startsAsPng(device()))
            return false;
        setFormat("png");
        return true;
    }

    bool read(QImage *image) override
    {
        // One picture per file: once read, the device is at its end.
        if (!canRead())
            return false;
        // The pictures lie unpacked in the program's image, where a resource
        // file maps them: read there, not copied out first. Whatever the
        // shape, the bytes are taken once and the device left at its end.
        auto *file = qobject_cast<QFile *>(device());
        if (QImage ahead = file ? PicturesAhead::take(file->fileName()) : QImage(); !ahead.isNull()) {
            file->seek(file->size());
            *image = std::move(ahead);
            return true;
        }
        const qint64 size = device()->bytesAvailable();
        const uchar *mapped = file ? file->map(file->pos(), size) : nullptr;
        const QByteArray bytes = mapped
                                     ? QByteArray::fromRawData(reinterpret_cast<const char *>(mapped), size)
                                     : device()->readAll();
        QImage stored = readStoredPng(bytes);
        const bool read = !stored.isNull() || BuiltInPngReader(bytes).reader().read(&stored);
        if (mapped) {
            file->seek(file->size());
            file->unmap(const_cast<uchar *>(mapped));
        }
        if (read)
            *image = std::move(stored);
        return read;
    }

    bool supportsOption(ImageOption option) const override { return option == Size || option == Description; }

    QVariant option(ImageOption option) const override
    {
        if (!supportsOption(option) || !canRead())
            return {};
        BuiltInPngReader png(device()->peek(device()->bytesAvailable()));
        if (option == Size)
            return png.reader().size();
        // The text chunks, in the form QImageReader::text() reads back.
        QStringList entries;
        for (const QString &key : png.reader().textKeys())
            entries << key + QLatin1String(": ") + png.reader().text(key);
        return entries.join(QLatin1String("\n\n"));
    }
};

bool isResourceFile(const QIODevice *device)
{
    const auto *file = qobject_cast<const QFile *>(device);
    return file && file->fileName().startsWith(QLatin1String(":/"));
}

} // namespace

QImageIOPlugin::Capabilities ResourcePngPlugin::capabilities(QIODevice *device,
                                                             const QByteArray &format) const
{
    // A resource named .png that holds something else is left to Qt, which
    // tells formats apart by their content.
    if (format == "png" && isResourceFile(device) && startsAsPng(device))
        return CanRead;
    return {};
}

QImageIOHandler *ResourcePngPlugin::create(QIODevice *device, const QByteArray &format) const
{
    auto *handler = new ResourcePngHandler;
    handler->setDevice(device);
    handler->setFormat(format);
    return handler;
}
