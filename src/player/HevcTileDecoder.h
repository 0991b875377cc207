#pragma once

#include <cstdint>

struct heif_decoder_plugin;

namespace qr {

// libavcodec's HEVC decoder as a libheif decoder plugin: libheif still reads the container and hands
// over each coded image (a grid's tile, or a whole photo) as NAL units, each after a 4-byte length;
// the plugin checks that framing, decodes on the calling thread and gives libheif the planes it
// would have had from libde265 (the same samples: HEVC decoding is exact). On this kind of machine a
// textured 512-pixel tile decodes in 1.65-1.70 times less time (bench_decode, HevcTiles).
class HevcTileDecoder {
public:
    // The plugin, or null when libavcodec has no HEVC decoder.
    static const heif_decoder_plugin* plugin();
    // Coded images this process decoded through the plugin.
    static std::uint64_t decodedImages();
};

} // namespace qr
