#pragma once

#include "decode/FrameBuffer.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

namespace qr {

// Decoder of the phone platform's framed LZ4 stream, the payload of `.rgb2` files and of capture
// phone messages. The stream is a sequence of blocks, each introduced by a 4-byte magic; sizes are
// unaligned 32-bit little-endian numbers:
//   "bv41" decodedSize encodedSize <encodedSize bytes of one LZ4 block>
//   "bv4-" size <size bytes stored as they are>
//   "bv4$" end of stream
// Blocks decode into one contiguous output; a block may refer back into the output of earlier
// blocks. Output beyond the capacity is cut off (the result then holds exactly `capacity` bytes);
// an unknown magic, a block whose decoded size differs from its header, a block that runs past the
// input, or a stream without its end marker is undecodable and gives an empty result.
// Never reads outside `input` or writes outside the output, whatever the headers claim.
class Lz4FrameDecoder {
public:
    // The largest raw frame, 4032 x 3024 x 3 bytes.
    static constexpr std::size_t kDefaultCapacity = 36'578'304;

    // Decodes into a new buffer of at most `capacity` bytes. An undecodable stream gives an empty
    // buffer; a failed allocation gives a null one (FrameBuffer::isNull()).
    static FrameBuffer decode(std::span<const std::uint8_t> input, std::size_t capacity = kDefaultCapacity);
    static FrameBuffer decode(const void* data, std::size_t size, std::size_t capacity = kDefaultCapacity)
    {
        return decode(std::span(static_cast<const std::uint8_t*>(data), size), capacity);
    }

    // Decodes into a caller's buffer (for example one reused from a pool); `output.size()` is the
    // capacity. Returns the number of bytes written, 0 when the stream is undecodable. Bytes of
    // `output` beyond the returned count are unspecified.
    static std::size_t decodeInto(std::span<const std::uint8_t> input, std::span<std::uint8_t> output);
    // The same, calling `decoded` with the length of the output so far after every block (at most
    // 1 MiB each from the phone), so that a caller can write each piece while it is still in the
    // cache. A stream found undecodable later still gives 0: pieces already handed on are not valid
    // until the end.
    static std::size_t decodeInto(std::span<const std::uint8_t> input, std::span<std::uint8_t> output,
                                  const std::function<void(std::size_t decoded)>& decoded);
    // The same over an input that arrives piece by piece (read from a file while it is decoded, so
    // that each piece is still in the cache when it is decoded): before it reads input bytes below
    // `end`, the decoder calls `available(end)`, which must make them present in `input` or return
    // false (the stream then counts as undecodable). `end` never exceeds `input.size()`.
    static std::size_t decodeInto(std::span<const std::uint8_t> input, std::span<std::uint8_t> output,
                                  const std::function<void(std::size_t decoded)>& decoded,
                                  const std::function<bool(std::size_t end)>& available);
};

} // namespace qr
