#include "app/stored_png_reader.h"

#include <QByteArray>
#include <QtEndian>

#include <algorithm>
#include <optional>

namespace {

// Larger pictures than any window holds are left to Qt, which has its own
// limits for them.
constexpr quint32 kMaxSide = 4096;

struct Chunk
{
    QByteArrayView type;
    QByteArrayView data;
};

// The next chunk of `rest`, which it then leaves behind; none where the rest
// is too short for a whole chunk.
std::optional<Chunk> takeChunk(QByteArrayView &rest)
{
    if (rest.size() < 12)
        return std::nullopt;
    const quint32 length = qFromBigEndian<quint32>(rest.data());
    if (length > quint32(rest.size() - 12))
        return std::nullopt;
    const Chunk chunk{rest.sliced(4, 4), rest.sliced(8, length)};
    rest = rest.sliced(12 + qsizetype(length));
    return chunk;
}

// The bytes a zlib stream of stored blocks holds; none for a stream with a
// compressed block or one cut short. The Adler-32 at its end is not checked.
std::optional<QByteArray> storedBytes(QByteArrayView stream, qsizetype expected)
{
    // zlib header: deflate, no preset dictionary, and its own check.
    if (stream.size() < 2)
        return std::nullopt;
    const auto cmf = quint8(stream[0]), flg = quint8(stream[1]);
    if ((cmf & 0x0F) != 8 || (flg & 0x20) || (cmf * 256 + flg) % 31 != 0)
        return std::nullopt;
    QByteArray bytes;
    // No more than the stream can hold, whatever its header promises.
    bytes.reserve(std::min(expected, stream.size()));
    qsizetype at = 2;
    for (bool last = false; !last;) {
        // A stored block: its type bits, then its length and the length's
        // complement, byte-aligned, then the bytes themselves.
        if (stream.size() - at < 5)
            return std::nullopt;
        const auto header = quint8(stream[at]);
        last = header & 1;
        if ((header >> 1) & 3)
            return std::nullopt;
        const quint16 length = qFromLittleEndian<quint16>(stream.data() + at + 1);
        const quint16 complement = qFromLittleEndian<quint16>(stream.data() + at + 3);
        at += 5;
        if (quint16(~length) != complement || stream.size() - at < length)
            return std::nullopt;
        bytes.append(stream.sliced(at, length));
        at += length;
    }
    return bytes;
}

// A row's pixels into Qt's 0xAARRGGBB, a word at a time: a pixel's bytes
// read as a big-endian word are R, G, B (and A) from the top down.
void copyRgbRow(const quint8 *in, QRgb *out, quint32 width)
{
    // The last pixel's word would reach past the row, so it goes byte by byte.
    for (quint32 x = 0; x + 1 < width; ++x, in += 3)
        out[x] = 0xFF000000u | (qFromBigEndian<quint32>(in) >> 8);
    out[width - 1] = qRgb(in[0], in[1], in[2]);
}

void copyRgbaRow(const quint8 *in, QRgb *out, quint32 width)
{
    // RGBA turned right by a byte is ARGB.
    for (quint32 x = 0; x < width; ++x, in += 4) {
        const quint32 rgba = qFromBigEndian<quint32>(in);
        out[x] = (rgba >> 8) | (rgba << 24);
    }
}

} // namespace

QImage readStoredPng(QByteArrayView png)
{
    if (!png.startsWith(kPngSignature))
        return {};
    QByteArrayView rest = png.sliced(kPngSignature.size());

    const std::optional<Chunk> header = takeChunk(rest);
    if (!header || header->type != "IHDR" || header->data.size() != 13)
        return {};
    const quint32 width = qFromBigEndian<quint32>(header->data.data());
    const quint32 height = qFromBigEndian<quint32>(header->data.data() + 4);
    const auto depth = quint8(header->data[8]), colourType = quint8(header->data[9]);
    const bool alpha = colourType == 6;
    // Depth 8, RGB or RGBA, deflate, adaptive filtering, no interlace.
    if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide || depth != 8 ||
        (colourType != 2 && !alpha) || header->data.sliced(10) != QByteArrayView("\0\0\0", 3))
        return {};

    const std::optional<Chunk> data = takeChunk(rest);
    const std::optional<Chunk> end = takeChunk(rest);
    if (!data || data->type != "IDAT" || !end || end->type != "IEND")
        return {};

    const qsizetype channels = alpha ? 4 : 3;
    const qsizetype rowBytes = 1 + qsizetype(width) * channels;
    const std::optional<QByteArray> rows = storedBytes(data->data, rowBytes * height);
    if (!rows || rows->size() != rowBytes * qsizetype(height))
        return {};

    // As Qt's decoder gives them: opaque pictures as RGB32, others as ARGB32.
    QImage image(int(width), int(height), alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull())
        return {};
    for (int y = 0; y < int(height); ++y) {
        const auto *row = reinterpret_cast<const quint8 *>(rows->constData()) + y * rowBytes;
        if (row[0] != 0) // a filtered row
            return {};
        auto *out = reinterpret_cast<QRgb *>(image.scanLine(y));
        if (alpha)
            copyRgbaRow(row + 1, out, width);
        else
            copyRgbRow(row + 1, out, width);
    }
    return image;
}
