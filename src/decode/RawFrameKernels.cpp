#include "decode/RawFrameKernels.h"

#include <libyuv/convert_argb.h>
#include <libyuv/rotate_argb.h>

#include <algorithm>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64)
#define QR_X86 1
#include <immintrin.h>
#endif

namespace qr::kernels {

namespace {

// One 4-byte pixel moved through memcpy: the buffers are byte arrays of any alignment.
inline void copyPixel(std::uint8_t* dst, std::int64_t dstIndex, const std::uint8_t* src,
                      std::int64_t srcIndex)
{
    std::memcpy(dst + 4 * dstIndex, src + 4 * srcIndex, 4);
}

// Columns [x0, x1) of source rows [y0, y1) converted and turned pixel by pixel.
void turnedPixels(const std::uint8_t* rgb, std::uint8_t* dst, std::int64_t w, std::int64_t h, std::int64_t x0,
                  std::int64_t x1, std::int64_t y0, std::int64_t y1)
{
    for (std::int64_t y = y0; y < y1; ++y) {
        for (std::int64_t x = x0; x < x1; ++x) {
            const std::uint8_t* s = rgb + 3 * (y * w + x);
            std::uint8_t* d = dst + 4 * (x * h + (h - 1 - y));
            d[0] = s[2];
            d[1] = s[1];
            d[2] = s[0];
            d[3] = 255;
        }
    }
}

} // namespace

void rgbToBgraNaive(const std::uint8_t* rgb, std::uint8_t* bgra, std::int64_t pixels)
{
    for (std::int64_t i = 0; i < pixels; ++i) {
        bgra[4 * i + 0] = rgb[3 * i + 2];
        bgra[4 * i + 1] = rgb[3 * i + 1];
        bgra[4 * i + 2] = rgb[3 * i + 0];
        bgra[4 * i + 3] = 255;
    }
}

void rgbToBgraLibyuv(const std::uint8_t* rgb, std::uint8_t* bgra, int width, int height)
{
    // libyuv's "RAW" is memory R, G, B; its "ARGB" is memory B, G, R, A.
    libyuv::RAWToARGB(rgb, width * 3, bgra, width * 4, width, height);
}

#if QR_X86 && (defined(__GNUC__) || defined(__clang__))
__attribute__((target("ssse3"))) static void shuffleSsse3(const std::uint8_t* rgb, std::uint8_t* bgra,
                                                          std::int64_t pixels)
{
    // 16 pixels per step: 48 source bytes in three loads, four 16-byte stores.
    const __m128i shuffle = _mm_setr_epi8(2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1);
    const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    std::int64_t i = 0;
    // Streaming stores need 16-byte aligned destinations: do single pixels until aligned.
    while (i < pixels && (reinterpret_cast<std::uintptr_t>(bgra + 4 * i) & 15) != 0) {
        bgra[4 * i + 0] = rgb[3 * i + 2];
        bgra[4 * i + 1] = rgb[3 * i + 1];
        bgra[4 * i + 2] = rgb[3 * i + 0];
        bgra[4 * i + 3] = 255;
        ++i;
    }
    for (; i + 16 <= pixels; i += 16) {
        const std::uint8_t* s = rgb + 3 * i;
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 32));
        const __m128i p0 = a;                         // pixels 0-3 in bytes 0-11
        const __m128i p1 = _mm_alignr_epi8(b, a, 12); // pixels 4-7
        const __m128i p2 = _mm_alignr_epi8(c, b, 8);  // pixels 8-11
        const __m128i p3 = _mm_srli_si128(c, 4);      // pixels 12-15
        auto* d = reinterpret_cast<__m128i*>(bgra + 4 * i);
        _mm_stream_si128(d + 0, _mm_or_si128(_mm_shuffle_epi8(p0, shuffle), alpha));
        _mm_stream_si128(d + 1, _mm_or_si128(_mm_shuffle_epi8(p1, shuffle), alpha));
        _mm_stream_si128(d + 2, _mm_or_si128(_mm_shuffle_epi8(p2, shuffle), alpha));
        _mm_stream_si128(d + 3, _mm_or_si128(_mm_shuffle_epi8(p3, shuffle), alpha));
    }
    _mm_sfence();
    rgbToBgraNaive(rgb + 3 * i, bgra + 4 * i, pixels - i);
}

bool rgbToBgraShuffle(const std::uint8_t* rgb, std::uint8_t* bgra, std::int64_t pixels)
{
    if (!__builtin_cpu_supports("ssse3"))
        return false;
    shuffleSsse3(rgb, bgra, pixels);
    return true;
}
#else
bool rgbToBgraShuffle(const std::uint8_t*, std::uint8_t*, std::int64_t)
{
    return false;
}
#endif

void rgbToBgraTurnedNaive(const std::uint8_t* rgb, std::uint8_t* dst, int width, int height)
{
    turnedPixels(rgb, dst, width, height, 0, width, 0, height);
}

void rotateNaive(const std::uint8_t* src, std::uint8_t* dst, int width, int height)
{
    // Source (x, y) lands at destination column height - 1 - y, row x.
    for (std::int64_t y = 0; y < height; ++y)
        for (std::int64_t x = 0; x < width; ++x)
            copyPixel(dst, x * height + (height - 1 - y), src, y * width + x);
}

void rotateLibyuv(const std::uint8_t* src, std::uint8_t* dst, int width, int height)
{
    libyuv::ARGBRotate(src, width * 4, dst, height * 4, width, height, libyuv::kRotate90);
}

void rotateLibyuvStrips(const std::uint8_t* src, std::uint8_t* dst, int width, int height, int stripRows)
{
    const std::int64_t srcStride = std::int64_t{width} * 4;
    for (int y0 = 0; y0 < height; y0 += stripRows) {
        const int rows = std::min(stripRows, height - y0);
        // Source rows y0 .. y0 + rows - 1 become destination columns height - y0 - rows .. height - y0 - 1.
        libyuv::ARGBRotate(src + y0 * srcStride, width * 4, dst + std::int64_t{height - y0 - rows} * 4,
                           height * 4, width, rows, libyuv::kRotate90);
    }
}

#if QR_X86
bool rotateBlocked(const std::uint8_t* src, std::uint8_t* dst, int width, int height, int block)
{
    const std::int64_t kBlock = std::max(4, block & ~3);
    const std::uint8_t* s = src;
    std::uint8_t* d = dst;
    const std::int64_t w = width;
    const std::int64_t h = height;
    for (std::int64_t by = 0; by < h; by += kBlock) {
        const std::int64_t yEnd = std::min(by + kBlock, h);
        for (std::int64_t bx = 0; bx < w; bx += kBlock) {
            const std::int64_t xEnd = std::min(bx + kBlock, w);
            std::int64_t y = by;
            for (; y + 4 <= yEnd; y += 4) {
                std::int64_t x = bx;
                for (; x + 4 <= xEnd; x += 4) {
                    // Rows y .. y+3, columns x .. x+3. Destination row x + k gets, from left to
                    // right, source rows y+3, y+2, y+1, y at column x + k.
                    const __m128i r0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4 * (y * w + x)));
                    const __m128i r1 =
                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4 * ((y + 1) * w + x)));
                    const __m128i r2 =
                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4 * ((y + 2) * w + x)));
                    const __m128i r3 =
                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4 * ((y + 3) * w + x)));
                    const __m128i t0 = _mm_unpacklo_epi32(r3, r2); // r3x0 r2x0 r3x1 r2x1
                    const __m128i t1 = _mm_unpacklo_epi32(r1, r0); // r1x0 r0x0 r1x1 r0x1
                    const __m128i t2 = _mm_unpackhi_epi32(r3, r2); // r3x2 r2x2 r3x3 r2x3
                    const __m128i t3 = _mm_unpackhi_epi32(r1, r0);
                    const std::int64_t col = h - 4 - y;
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 4 * (x * h + col)),
                                     _mm_unpacklo_epi64(t0, t1));
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 4 * ((x + 1) * h + col)),
                                     _mm_unpackhi_epi64(t0, t1));
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 4 * ((x + 2) * h + col)),
                                     _mm_unpacklo_epi64(t2, t3));
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 4 * ((x + 3) * h + col)),
                                     _mm_unpackhi_epi64(t2, t3));
                }
                for (; x < xEnd; ++x)
                    for (std::int64_t yy = y; yy < y + 4; ++yy)
                        copyPixel(d, x * h + (h - 1 - yy), s, yy * w + x);
            }
            for (; y < yEnd; ++y)
                for (std::int64_t x = bx; x < xEnd; ++x)
                    copyPixel(d, x * h + (h - 1 - y), s, y * w + x);
        }
    }
    return true;
}

namespace {

// 4 x 4 pixel transpose for the clockwise turn: given source rows r0..r3 (top to bottom) over
// columns x..x+3, out[k] is destination row x + k over the four columns of these rows, which hold
// the source rows bottom to top.
inline void turnTile(__m128i r0, __m128i r1, __m128i r2, __m128i r3, __m128i out[4])
{
    const __m128i t0 = _mm_unpacklo_epi32(r3, r2);
    const __m128i t1 = _mm_unpacklo_epi32(r1, r0);
    const __m128i t2 = _mm_unpackhi_epi32(r3, r2);
    const __m128i t3 = _mm_unpackhi_epi32(r1, r0);
    out[0] = _mm_unpacklo_epi64(t0, t1);
    out[1] = _mm_unpackhi_epi64(t0, t1);
    out[2] = _mm_unpacklo_epi64(t2, t3);
    out[3] = _mm_unpackhi_epi64(t2, t3);
}

inline __m128i loadPixels(const std::uint8_t* s, std::int64_t index)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4 * index));
}

// Writes 16 turned pixels, one 64-byte destination line: the band's four tiles of destination row
// x + k, the lowest source rows first. Whole aligned lines bypass the cache, since the turned frame
// is not read back soon.
inline void storeTurnedLine(std::uint8_t* row, const __m128i (&tiles)[4][4], int k)
{
    auto* line = reinterpret_cast<__m128i*>(row);
    if ((reinterpret_cast<std::uintptr_t>(row) & 63) == 0) {
        _mm_stream_si128(line + 0, tiles[3][k]);
        _mm_stream_si128(line + 1, tiles[2][k]);
        _mm_stream_si128(line + 2, tiles[1][k]);
        _mm_stream_si128(line + 3, tiles[0][k]);
    } else {
        _mm_storeu_si128(line + 0, tiles[3][k]);
        _mm_storeu_si128(line + 1, tiles[2][k]);
        _mm_storeu_si128(line + 2, tiles[1][k]);
        _mm_storeu_si128(line + 3, tiles[0][k]);
    }
}

} // namespace

bool rotateStreaming(const std::uint8_t* src, std::uint8_t* dst, int width, int height)
{
    const std::int64_t w = width;
    const std::int64_t h = height;
    std::int64_t y0 = 0;
    for (; y0 + 16 <= h; y0 += 16) {
        // These 16 source rows fill 64 bytes of every destination row, from column h - 16 - y0.
        const std::int64_t col = h - 16 - y0;
        std::int64_t x = 0;
        for (; x + 4 <= w; x += 4) {
            __m128i tiles[4][4];
            for (int g = 0; g < 4; ++g) {
                const std::int64_t y = y0 + 4 * g;
                turnTile(loadPixels(src, y * w + x), loadPixels(src, (y + 1) * w + x),
                         loadPixels(src, (y + 2) * w + x), loadPixels(src, (y + 3) * w + x), tiles[g]);
            }
            for (int k = 0; k < 4; ++k)
                storeTurnedLine(dst + 4 * ((x + k) * h + col), tiles, k);
        }
        for (; x < w; ++x)
            for (std::int64_t y = y0; y < y0 + 16; ++y)
                copyPixel(dst, x * h + (h - 1 - y), src, y * w + x);
    }
    _mm_sfence();
    for (; y0 < h; ++y0)
        for (std::int64_t x = 0; x < w; ++x)
            copyPixel(dst, x * h + (h - 1 - y0), src, y0 * w + x);
    return true;
}
#endif

namespace {} // namespace

#if QR_X86 && (defined(__GNUC__) || defined(__clang__))
__attribute__((target("ssse3"))) static inline __m128i loadRgb4(const std::uint8_t* p, __m128i shuffle,
                                                                __m128i alpha)
{
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    return _mm_or_si128(_mm_shuffle_epi8(v, shuffle), alpha);
}

__attribute__((target("ssse3"))) static void turnedSsse3(const std::uint8_t* rgb, std::uint8_t* dst,
                                                         std::int64_t w, std::int64_t h, std::int64_t block)
{
    const __m128i shuffle = _mm_setr_epi8(2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1);
    const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    const std::int64_t bandsEnd = h - h % 16;
    // The last row's loads must end inside the frame: its final 2 pixels are left to the tail.
    const std::int64_t tilesEnd = w & ~std::int64_t{3};
    const std::int64_t lastTilesEnd = std::max<std::int64_t>(0, (w - 2) & ~std::int64_t{3});
    for (std::int64_t bx = 0; bx < tilesEnd; bx += block) {
        for (std::int64_t y0 = 0; y0 < bandsEnd; y0 += 16) {
            const std::int64_t xEnd = std::min(bx + block, y0 + 16 == h ? lastTilesEnd : tilesEnd);
            const std::int64_t col = h - 16 - y0;
            for (std::int64_t x = bx; x + 4 <= xEnd; x += 4) {
                __m128i tiles[4][4];
                for (int g = 0; g < 4; ++g) {
                    // 16 bytes for 4 pixels: the 4 bytes past them belong to the next pixel or row.
                    const std::uint8_t* p = rgb + 3 * ((y0 + 4 * g) * w + x);
                    turnTile(loadRgb4(p, shuffle, alpha), loadRgb4(p + 3 * w, shuffle, alpha),
                             loadRgb4(p + 6 * w, shuffle, alpha), loadRgb4(p + 9 * w, shuffle, alpha),
                             tiles[g]);
                }
                for (int k = 0; k < 4; ++k)
                    storeTurnedLine(dst + 4 * ((x + k) * h + col), tiles, k);
            }
        }
    }
    _mm_sfence();
    for (std::int64_t y0 = 0; y0 < bandsEnd; y0 += 16)
        turnedPixels(rgb, dst, w, h, y0 + 16 == h ? lastTilesEnd : tilesEnd, w, y0, y0 + 16);
    turnedPixels(rgb, dst, w, h, 0, w, bandsEnd, h);
}

bool rgbToBgraTurned(const std::uint8_t* rgb, std::uint8_t* dst, int width, int height, int blockColumns)
{
    if (!__builtin_cpu_supports("ssse3"))
        return false;
    const std::int64_t w = width;
    const std::int64_t block =
        blockColumns <= 0 ? std::max<std::int64_t>(4, w) : std::max(4, blockColumns & ~3);
    turnedSsse3(rgb, dst, w, height, block);
    return true;
}
#else
bool rgbToBgraTurned(const std::uint8_t*, std::uint8_t*, int, int, int)
{
    return false;
}
#endif

#if !QR_X86
bool rotateBlocked(const std::uint8_t*, std::uint8_t*, int, int, int)
{
    return false;
}
bool rotateStreaming(const std::uint8_t*, std::uint8_t*, int, int)
{
    return false;
}
#endif

} // namespace qr::kernels
