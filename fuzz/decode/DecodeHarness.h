#pragma once

// The bodies of the decoding fuzz targets, shared with the regression test that replays the
// corpus in every ordinary build. Each checks the decoders' promises and aborts when one breaks.

#include "decode/KroxDecoder.h"
#include "decode/Lz4FrameDecoder.h"

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

// An LZ4 stream, its first byte choosing the output capacity: the result never exceeds the
// capacity, and decoding into a buffer of exactly that size agrees with decoding into a fresh one.
inline void lz4Frame(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return;
    // The logic is the same for every capacity; small ones reach the cut-off paths often.
    static constexpr std::size_t kCapacities[] = {0, 1, 7, 100, 4096, 65536, 1 << 20};
    const std::size_t capacity = kCapacities[data[0] % (sizeof kCapacities / sizeof kCapacities[0])];
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
}

} // namespace qr::fuzz
