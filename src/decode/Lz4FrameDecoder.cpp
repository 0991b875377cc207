#include "decode/Lz4FrameDecoder.h"

#include <lz4.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace qr {

namespace {

std::uint32_t readLe32(const std::uint8_t* p)
{
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}

// liblz4 looks back at most 64 KiB; a longer dictionary gains nothing.
constexpr std::size_t kMaxDictionary = 64 * 1024;

} // namespace

std::size_t Lz4FrameDecoder::decodeInto(std::span<const std::uint8_t> input, std::span<std::uint8_t> output)
{
    return decodeInto(input, output, {});
}

std::size_t Lz4FrameDecoder::decodeInto(std::span<const std::uint8_t> input, std::span<std::uint8_t> output,
                                        const std::function<void(std::size_t decoded)>& decoded)
{
    return decodeInto(input, output, decoded, {});
}

std::size_t Lz4FrameDecoder::decodeInto(std::span<const std::uint8_t> input, std::span<std::uint8_t> output,
                                        const std::function<void(std::size_t decoded)>& decoded,
                                        const std::function<bool(std::size_t end)>& available)
{
    const auto present = [&available](std::size_t end) {
        return !available || available(end);
    };
    const std::uint8_t* const in = input.data();
    const std::size_t inSize = input.size();
    std::uint8_t* const out = output.data();
    const std::size_t capacity = output.size();
    std::size_t inPos = 0;
    std::size_t outPos = 0;

    for (;;) {
        if (inSize - inPos < 4 || !present(inPos + 4))
            return 0; // no end marker
        const std::uint8_t* header = in + inPos;
        if (header[0] != 'b' || header[1] != 'v' || header[2] != '4')
            return 0;
        const std::size_t room = capacity - outPos;
        switch (header[3]) {
        case '$':
            return outPos;
        case '1': {
            if (inSize - inPos < 12 || !present(inPos + 12))
                return 0;
            const std::uint32_t decodedSize = readLe32(header + 4);
            const std::uint32_t encodedSize = readLe32(header + 8);
            inPos += 12;
            if (encodedSize > inSize - inPos || encodedSize > INT_MAX || decodedSize > INT_MAX ||
                !present(inPos + encodedSize))
                return 0;
            const auto* src = reinterpret_cast<const char*>(in + inPos);
            auto* dst = reinterpret_cast<char*>(out + outPos);
            const int dictSize = static_cast<int>(std::min(outPos, kMaxDictionary));
            const char* dict = dst - dictSize;
            if (decodedSize <= room) {
                const int got = LZ4_decompress_safe_usingDict(src, dst, static_cast<int>(encodedSize),
                                                              static_cast<int>(decodedSize), dict, dictSize);
                if (got < 0 || static_cast<std::uint32_t>(got) != decodedSize)
                    return 0;
                outPos += decodedSize;
                inPos += encodedSize;
                if (decoded)
                    decoded(outPos);
                break;
            }
            // The block does not fit: keep what fits, as the platform's decoder does, and stop.
            if (room == 0)
                return outPos;
            const int target = static_cast<int>(room); // room < decodedSize <= INT_MAX
            const int got = LZ4_decompress_safe_partial_usingDict(src, dst, static_cast<int>(encodedSize),
                                                                  target, target, dict, dictSize);
            if (got != target)
                return 0; // malformed, or fewer bytes than its header claims
            return capacity;
        }
        case '-': {
            if (inSize - inPos < 8 || !present(inPos + 8))
                return 0;
            const std::uint32_t size = readLe32(header + 4);
            inPos += 8;
            if (size > inSize - inPos || !present(inPos + size))
                return 0;
            const std::size_t copied = std::min<std::size_t>(size, room);
            if (copied > 0)
                std::memcpy(out + outPos, in + inPos, copied);
            outPos += copied;
            if (copied < size)
                return capacity;
            inPos += size;
            if (decoded)
                decoded(outPos);
            break;
        }
        default:
            return 0;
        }
    }
}

FrameBuffer Lz4FrameDecoder::decode(std::span<const std::uint8_t> input, std::size_t capacity)
{
    FrameBuffer buffer = FrameBuffer::allocate(capacity);
    if (buffer.isNull())
        return buffer;
    buffer.truncate(decodeInto(input, buffer.span()));
    return buffer;
}

} // namespace qr
