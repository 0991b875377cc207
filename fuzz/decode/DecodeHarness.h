#pragma once

// The bodies of the decoding fuzz targets, shared with the regression test that replays the
// corpus in every ordinary build. Each checks the decoders' promises and aborts when one breaks.

#include "decode/KroxDecoder.h"
#include "decode/Lz4FrameDecoder.h"
#include "decode/Lz4FrameEncoder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#if defined(__SANITIZE_ADDRESS__)
#define QR_FUZZ_POISON 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QR_FUZZ_POISON 1
#endif
#endif
#ifdef QR_FUZZ_POISON
#include <sanitizer/asan_interface.h>
#endif

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace qr::fuzz {

inline void require(bool condition)
{
    if (!condition)
        std::abort();
}

// A container's bytes: every payload the parser accepts lies inside the input, after the table,
// in order, without overlap, with a well-formed name; a valid container has no reason and an
// invalid one has one.
inline void kroxParse(const std::uint8_t* data, std::size_t size)
{
    const KroxLayout layout = KroxDecoder::parse(QStringLiteral("fuzz.krox"), std::span(data, size));
    require(layout.valid == layout.reason.isEmpty());
    require(layout.payloads.size() <= static_cast<std::size_t>(KroxDecoder::kMaxEntries));
    std::int64_t end = size >= 5 ? KroxDecoder::kHeaderSize + 4 * std::int64_t{data[4]} : 0;
    for (const KroxPayload& p : layout.payloads) {
        require(p.type >= 1 && p.type <= 5);
        require(p.offset >= end && p.length >= 0 && p.offset + p.length <= static_cast<std::int64_t>(size));
        require(p.fileName.startsWith(QLatin1String("krox_")));
        end = p.offset + p.length;
    }
    // Reading only the head of the file, as the unpacker does, gives the same layout.
    const std::size_t headSize = std::min<std::size_t>(size, KroxDecoder::kMaxHeadSize);
    const KroxLayout fromHead = KroxDecoder::parse(QStringLiteral("fuzz.krox"), std::span(data, headSize),
                                                   static_cast<std::int64_t>(size));
    require(fromHead.valid == layout.valid && fromHead.reason == layout.reason);
    require(fromHead.payloads.size() == layout.payloads.size());
    for (std::size_t i = 0; i < layout.payloads.size(); ++i)
        require(fromHead.payloads[i].offset == layout.payloads[i].offset &&
                fromHead.payloads[i].length == layout.payloads[i].length &&
                fromHead.payloads[i].fileName == layout.payloads[i].fileName);
}

// One scratch folder per process, emptied before each input.
inline const QString& scratchDir()
{
    static QTemporaryDir dir;
    static const QString path = dir.path();
    require(dir.isValid());
    return path;
}

// A container written to a scratch folder and unpacked there, as the player does: every payload
// the parser accepts arrives as a file holding exactly its bytes (a movie under its hashed name in
// Movies), nothing else is left in either folder (no temporary file), and the container itself is
// unchanged.
inline void kroxUnpack(const std::uint8_t* data, std::size_t size)
{
    const QString root = scratchDir();
    QDir(root + QStringLiteral("/out")).removeRecursively();
    QDir(root + QStringLiteral("/docs")).removeRecursively();
    require(QDir().mkpath(root + QStringLiteral("/out")));
    const QString input = root + QStringLiteral("/in.krox");
    {
        QFile file(input);
        require(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        require(file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size)) ==
                static_cast<qint64>(size));
    }
    const KroxLayout layout = KroxDecoder::parse(input, std::span(data, size));
    KroxDecoder decoder(root + QStringLiteral("/docs"));
    const KroxResult result = decoder.processKroxFile(input, root + QStringLiteral("/out"));
    require(result.valid == layout.valid && result.reason == layout.reason);
    require(result.failedWrites == 0 && result.filesWritten() == static_cast<int>(layout.payloads.size()));

    QStringList expected;
    for (std::size_t i = 0; i < layout.payloads.size(); ++i) {
        const KroxPayload& p = layout.payloads[i];
        const QString& written = result.written.at(static_cast<qsizetype>(i));
        if (p.type == 5)
            require(QFileInfo(written).fileName().startsWith(p.fileName + QLatin1Char('-')) &&
                    QFileInfo(written).path() == root + QStringLiteral("/docs/Movies"));
        else
            require(written == root + QStringLiteral("/out/") + p.fileName);
        // A later payload of the same name replaces an earlier one; only the last is compared.
        if (result.written.lastIndexOf(written) != static_cast<qsizetype>(i))
            continue;
        QFile out(written);
        require(out.open(QIODevice::ReadOnly));
        const QByteArray bytes = out.readAll();
        require(bytes.size() == p.length &&
                std::memcmp(bytes.constData(), data + p.offset, static_cast<std::size_t>(p.length)) == 0);
        expected.append(QFileInfo(written).fileName());
    }
    QStringList present =
        QDir(root + QStringLiteral("/out")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    present += QDir(root + QStringLiteral("/docs/Movies"))
                   .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    present.sort();
    expected.removeDuplicates();
    expected.sort();
    require(present == expected);
    QFile in(input);
    require(in.open(QIODevice::ReadOnly) &&
            in.readAll() == QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
}

// An LZ4 stream, its first byte choosing the output capacity: the result never exceeds the
// capacity; decoding into a buffer of exactly that size agrees with decoding into a fresh one; a
// smaller capacity gives a prefix of the larger result (the stream cut off, not decoded otherwise);
// and the encoder's stream of the same bytes decodes back to them.
inline void lz4Frame(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return;
    // The logic is the same for every capacity; small ones reach the cut-off paths often.
    static constexpr std::size_t kCapacities[] = {0, 1, 7, 100, 4096, 65536, 1 << 20};
    constexpr std::size_t kCount = sizeof kCapacities / sizeof kCapacities[0];
    const std::size_t capacity = kCapacities[data[0] % kCount];
    const std::span<const std::uint8_t> input(data + 1, size - 1);

    // An exactly sized heap buffer: any write past it is caught by the address sanitizer.
    FrameBuffer exact = FrameBuffer::allocate(capacity);
    require(!exact.isNull());
    const std::size_t n = Lz4FrameDecoder::decodeInto(input, exact.span());
    require(n <= capacity);

    const FrameBuffer fresh = Lz4FrameDecoder::decode(input, capacity);
    require(!fresh.isNull());
    require(fresh.size() == n);
    require(n == 0 || std::memcmp(fresh.data(), exact.data(), n) == 0);

    // Against the largest capacity: a decodable stream cut off earlier is its prefix. (An
    // undecodable one may still give bytes before the damage when cut off in front of it.)
    const FrameBuffer large = Lz4FrameDecoder::decode(input, kCapacities[kCount - 1]);
    require(!large.isNull());
    if (!large.empty()) {
        require(n == std::min(capacity, large.size()));
        require(n == 0 || std::memcmp(exact.data(), large.data(), n) == 0);
    }

    // The same bytes through the encoder, in blocks of a size the second byte picks, come back.
    static constexpr int kBlocks[] = {1, 3, 64, 4096, Lz4FrameEncoder::kBlockBytes};
    const int block = kBlocks[(size > 1 ? data[1] : 0) % (sizeof kBlocks / sizeof kBlocks[0])];
    const QByteArray encoded = Lz4FrameEncoder::encode(
        QByteArrayView(reinterpret_cast<const char*>(input.data()), static_cast<qsizetype>(input.size())),
        block);
    const auto* encodedBytes = reinterpret_cast<const std::uint8_t*>(encoded.constData());
    const FrameBuffer back = Lz4FrameDecoder::decode(
        std::span(encodedBytes, static_cast<std::size_t>(encoded.size())), input.size() + 1);
    require(!back.isNull() && back.size() == input.size());
    require(input.empty() || std::memcmp(back.data(), input.data(), input.size()) == 0);
}

// The decoder fed piece by piece, as the pass feeds it from a file: the first byte picks the piece
// size and the second where the input stops arriving. Bytes not yet made present hold a marker (and
// are poisoned under the address sanitizer), so a read ahead of `available` shows. Whatever arrives
// decodes exactly as the whole input does; input that stops early decodes to nothing; the decoded
// lengths reported rise and stay within the output.
inline void lz4Pieces(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return;
    static constexpr std::size_t kPieces[] = {1, 3, 16, 4096, 1 << 20};
    const std::size_t piece = kPieces[data[0] % (sizeof kPieces / sizeof kPieces[0])];
    const std::span<const std::uint8_t> source(data + 2, size - 2);
    if (source.empty())
        return;
    // 255: the input arrives whole; else it stops after that many 256ths of it.
    const std::size_t stopAt = data[1] == 255 ? source.size() : source.size() * data[1] / 256;
    constexpr std::size_t kCapacity = std::size_t{1} << 20;

    FrameBuffer whole = FrameBuffer::allocate(kCapacity);
    require(!whole.isNull());
    const std::size_t expected = Lz4FrameDecoder::decodeInto(source, whole.span());

    FrameBuffer input = FrameBuffer::allocate(source.size());
    FrameBuffer output = FrameBuffer::allocate(kCapacity);
    require(!input.isNull() && !output.isNull());
    std::memset(input.data(), 0xA5, source.size());
#ifdef QR_FUZZ_POISON
    __asan_poison_memory_region(input.data(), source.size());
#endif
    std::size_t present = 0;
    bool refused = false;
    const auto available = [&](std::size_t end) {
        require(end <= source.size());
        if (end <= present)
            return true;
        const std::size_t upTo = std::min(source.size(), std::max(end, present + piece));
        if (upTo > stopAt) {
            refused = true;
            return false;
        }
#ifdef QR_FUZZ_POISON
        __asan_unpoison_memory_region(input.data() + present, upTo - present);
#endif
        std::memcpy(input.data() + present, source.data() + present, upTo - present);
        present = upTo;
        return true;
    };
    std::size_t last = 0;
    const auto decoded = [&](std::size_t length) {
        require(length >= last && length <= kCapacity);
        last = length;
    };
    const std::size_t got = Lz4FrameDecoder::decodeInto(
        std::span<const std::uint8_t>(input.data(), source.size()), output.span(), decoded, available);
#ifdef QR_FUZZ_POISON
    __asan_unpoison_memory_region(input.data(), source.size());
#endif
    if (refused) {
        require(got == 0);
        return;
    }
    require(got == expected);
    require(got == 0 || std::memcmp(output.data(), whole.data(), got) == 0);
}

} // namespace qr::fuzz
