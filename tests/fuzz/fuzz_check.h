#pragma once

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// A broken invariant is a finding like a crash: say which one and abort, so
// libFuzzer stores the input that caused it.
#define FUZZ_CHECK(condition)                                                                                \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "invariant failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__);          \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (0)

namespace fuzz {

// Hands out the fuzz input piece by piece; past the end everything reads as 0
// or empty, so every input length is a valid input.
class Input
{
public:
    Input(const uint8_t *data, std::size_t size) : m_data(data), m_size(size) {}

    uint8_t byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    uint16_t u16()
    {
        const uint16_t low = byte();
        return static_cast<uint16_t>(low | byte() << 8);
    }
    uint32_t u32()
    {
        const uint32_t low = u16();
        return low | uint32_t(u16()) << 16;
    }
    // The next n bytes (fewer at the end of the input).
    QByteArray bytes(std::size_t n)
    {
        n = std::min(n, m_size - m_pos);
        QByteArray out(reinterpret_cast<const char *>(m_data + m_pos), static_cast<qsizetype>(n));
        m_pos += n;
        return out;
    }
    QByteArray rest() { return bytes(m_size - m_pos); }
    // Text of a length given by the next byte, decoded as UTF-8 (invalid
    // sequences included: they are what a wheel or a server may send).
    QString text() { return QString::fromUtf8(bytes(byte())); }

private:
    const uint8_t *m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

} // namespace fuzz
