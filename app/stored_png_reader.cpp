#include "app/stored_png_reader.h"

#include <QByteArray>
#include <QtEndian>
#include <QVarLengthArray>

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

using Blocks = QVarLengthArray<QByteArrayView, 8>;

// The stored blocks of a zlib stream, in order: what the stream holds is
// their bytes one after another. None for a stream with a compressed block or
// one cut short; the Adler-32 at its end is not checked.
std::optional<Blocks> storedBlocks(QByteArrayView stream)
{
    // zlib header: deflate, no preset dictionary, and its own check.
    if (stream.size() < 2)
        return std::nullopt;
    const auto cmf = quint8(stream[0]), flg = quint8(stream[1]);
    if ((cmf & 0x0F) != 8 || (flg & 0x20) || (cmf * 256 + flg) % 31 != 0)
        return std::nullopt;
    Blocks blocks;
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
        if (length > 0)
            blocks.append(stream.sliced(at, length));
        at += length;
    }
    return blocks;
}

// The rows of the blocks' bytes, each whole: in place where a row lies within
// one block, gathered into a buffer of its own where it spans more. The
// pictures come straight from the program's image, so no copy of them all is
// made on the way.
class RowCursor
{
public:
    RowCursor(const Blocks &blocks, qsizetype rowBytes) : blocks_(blocks), rowBytes_(rowBytes) {}

    // The next row; null once the bytes run out.
    const quint8 *next()
    {
        if (block_ < blocks_.size() && blocks_[block_].size() - at_ >= rowBytes_) {
            const auto *row = reinterpret_cast<const quint8 *>(blocks_[block_].data()) + at_;
            advance(rowBytes_);
            return row;
        }
        gathered_.resize(rowBytes_);
        for (qsizetype filled = 0; filled < rowBytes_;) {
            if (block_ == blocks_.size())
                return nullptr;
            const qsizetype take = std::min(rowBytes_ - filled, blocks_[block_].size() - at_);
            std::copy_n(blocks_[block_].data() + at_, take, gathered_.data() + filled);
            filled += take;
            advance(take);
        }
        return reinterpret_cast<const quint8 *>(gathered_.constData());
    }

private:
    void advance(qsizetype bytes)
    {
        at_ += bytes;
        if (at_ == blocks_[block_].size()) {
            ++block_;
            at_ = 0;
        }
    }

    const Blocks &blocks_;
    const qsizetype rowBytes_;
    qsizetype block_ = 0;
    qsizetype at_ = 0;
    QByteArray gathered_;
};

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
    const std::optional<Blocks> blocks = storedBlocks(data->data);
    if (!blocks)
        return {};
    qsizetype total = 0;
    for (QByteArrayView block : *blocks)
        total += block.size();
    if (total != rowBytes * qsizetype(height))
        return {};

    // As Qt's decoder gives them: opaque pictures as RGB32, others as ARGB32.
    QImage image(int(width), int(height), alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull())
        return {};
    RowCursor rows(*blocks, rowBytes);
    for (int y = 0; y < int(height); ++y) {
        const quint8 *row = rows.next();
        if (!row || row[0] != 0) // a filtered row
            return {};
        auto *out = reinterpret_cast<QRgb *>(image.scanLine(y));
        if (alpha)
            copyRgbaRow(row + 1, out, width);
        else
            copyRgbRow(row + 1, out, width);
    }
    return image;
}
