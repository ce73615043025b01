#include "stored_png.h"

#include <QtEndian>

#include <array>

namespace {

quint32 crc32(const QByteArray &bytes)
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t{};
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : bytes)
        crc = table[(crc ^ static_cast<quint8>(byte)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

void appendBigEndian(QByteArray &out, quint32 value)
{
    char bytes[4];
    qToBigEndian(value, bytes);
    out.append(bytes, 4);
}

void appendChunk(QByteArray &png, const char *type, const QByteArray &data)
{
    const QByteArray typed = QByteArray(type, 4) + data;
    appendBigEndian(png, static_cast<quint32>(data.size()));
    png.append(typed);
    appendBigEndian(png, crc32(typed));
}

bool everyPixelOpaque(const QImage &image)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y) {
        const auto *row = reinterpret_cast<const QRgb *>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x) {
            if (qAlpha(row[x]) != 255)
                return false;
        }
    }
    return true;
}

} // namespace

QByteArray storedPng(const QImage &image)
{
    // A picture without transparency is stored as RGB, whatever its format
    // held: Qt then reads it into an opaque pixmap, which it copies to the
    // screen rather than blends, and decodes a quarter fewer bytes.
    const bool alpha = image.hasAlphaChannel() && !everyPixelOpaque(image);
    const QImage pixels = image.convertToFormat(alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    QByteArray header;
    appendBigEndian(header, static_cast<quint32>(pixels.width()));
    appendBigEndian(header, static_cast<quint32>(pixels.height()));
    header.append(char(8));             // bits per channel
    header.append(char(alpha ? 6 : 2)); // RGBA or RGB
    header.append(3, char(0));          // deflate, adaptive filtering, no interlace

    QByteArray rows;
    const qsizetype rowBytes = qsizetype(pixels.width()) * (alpha ? 4 : 3);
    rows.reserve((rowBytes + 1) * pixels.height());
    for (int y = 0; y < pixels.height(); ++y) {
        rows.append(char(0)); // filter: none
        rows.append(reinterpret_cast<const char *>(pixels.constScanLine(y)), rowBytes);
    }
    // qCompress puts the uncompressed length in front of the zlib stream.
    const QByteArray stream = qCompress(rows, 0).mid(4);

    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    appendChunk(png, "IHDR", header);
    appendChunk(png, "IDAT", stream);
    appendChunk(png, "IEND", QByteArray());
    return png;
}
