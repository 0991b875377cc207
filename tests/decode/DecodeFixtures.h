#pragma once

// Builders of decoder inputs, shared by the decoding tests and benchmarks. Well-formed containers
// and streams come from the writers in src/decode (KroxWriter, Lz4FrameEncoder); these add what a
// writer never produces: damaged containers, and streams shaped to reach the decoder's edges.

#include "decode/KroxWriter.h"

#include <lz4.h>

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <memory>
#include <vector>

namespace qr::fixtures {

inline void appendLe32(QByteArray& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.append(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// How one block of a framed LZ4 stream is stored.
enum class Block { Compressed, Stored };

// The platform's framed LZ4 stream of `data`, cut into blocks of `blockSize` bytes; block i is
// stored as `kinds[i % kinds.size()]`. Compressed blocks come from liblz4's streaming compressor
// over the whole input, so their matches may reach back into earlier blocks; with `linked` false
// each block is compressed on its own. Unlike Lz4FrameEncoder, the block kinds and the end marker
// are chosen by the caller and a compressed block stays compressed even when it did not shrink.
inline QByteArray lz4Stream(const QByteArray& data, int blockSize,
                            const QList<Block>& kinds = {Block::Compressed}, bool endMarker = true,
                            bool linked = true)
{
    QByteArray out;
    std::unique_ptr<LZ4_stream_t, int (*)(LZ4_stream_t*)> stream(LZ4_createStream(), LZ4_freeStream);
    std::vector<char> scratch(static_cast<std::size_t>(LZ4_compressBound(blockSize)));
    int index = 0;
    for (qsizetype pos = 0; pos < data.size(); pos += blockSize, ++index) {
        const int size = static_cast<int>(std::min<qsizetype>(blockSize, data.size() - pos));
        // Every block goes through the compressor so that its history stays the whole input.
        const int encoded =
            linked ? LZ4_compress_fast_continue(stream.get(), data.constData() + pos, scratch.data(), size,
                                                static_cast<int>(scratch.size()), 1)
                   : LZ4_compress_default(data.constData() + pos, scratch.data(), size,
                                          static_cast<int>(scratch.size()));
        if (kinds.at(index % kinds.size()) == Block::Compressed) {
            out.append("bv41");
            appendLe32(out, static_cast<std::uint32_t>(size));
            appendLe32(out, static_cast<std::uint32_t>(encoded));
            out.append(scratch.data(), encoded);
        } else {
            out.append("bv4-");
            appendLe32(out, static_cast<std::uint32_t>(size));
            out.append(data.constData() + pos, size);
        }
    }
    if (endMarker)
        out.append("bv4$");
    return out;
}

// Deterministic bytes: `size` bytes of a simple generator; `runs` makes them compressible.
inline QByteArray pattern(qsizetype size, std::uint32_t seed, bool runs = true)
{
    QByteArray out(size, Qt::Uninitialized);
    std::uint32_t x = seed * 2654435761u + 1;
    for (qsizetype i = 0; i < size; ++i) {
        x = x * 1664525u + 1013904223u;
        out[i] = static_cast<char>(runs ? ((x >> 28) & 0x3) * 60 + (i / 64) % 5 : (x >> 24));
    }
    return out;
}

// A `.krox` container written by KroxWriter, then damaged as asked.
using KroxEntry = KroxWriter::Entry;

struct KroxContainer {
    std::uint8_t major = 10;
    std::uint8_t minor = 16;
    int setNumber = 1;
    int firstPhoto = 1;
    QList<KroxEntry> entries;
    // Added to the payload length field computed from the entries.
    std::int64_t payloadLengthDelta = 0;
    // Bytes cut from the end of the finished container.
    int truncateBy = 0;
    // When set, the table's length field of the last entry claims this many bytes more.
    std::uint32_t lastEntryExtra = 0;
    // The entry count byte, when it should differ from the number of entries.
    int countOverride = -1;

    QByteArray bytes() const
    {
        QByteArray out = KroxWriter::build(setNumber, firstPhoto, entries, major, minor);
        if (countOverride >= 0)
            out[KroxWriter::kCountOffset] = static_cast<char>(countOverride);
        if (payloadLengthDelta != 0) {
            const qsizetype body = out.size() - KroxWriter::kTableOffset - 4 * entries.size();
            KroxWriter::putBe32(out, KroxWriter::kPayloadBytesOffset,
                                static_cast<std::uint32_t>(body + payloadLengthDelta));
        }
        if (lastEntryExtra != 0 && !entries.isEmpty()) {
            const KroxEntry& last = entries.last();
            KroxWriter::putBe32(
                out, KroxWriter::kTableOffset + 4 * (entries.size() - 1),
                KroxWriter::tableEntry(last.type,
                                       static_cast<std::uint32_t>(last.payload.size()) + lastEntryExtra));
        }
        out.chop(truncateBy);
        return out;
    }
};

} // namespace qr::fixtures
