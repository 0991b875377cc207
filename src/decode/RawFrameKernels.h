#pragma once

// The pixel kernels behind RawFrame, exposed for the benchmarks that choose between them. Callers
// outside this folder use RawFrame. No kernel checks its arguments: sizes are positive, strides
// fit in `int`, and the buffers hold the frames.

#include <cstdint>

namespace qr::kernels {

// Packed R, G, B to B, G, R, 255 for `pixels` pixels.
void rgbToBgraNaive(const std::uint8_t* rgb, std::uint8_t* bgra, std::int64_t pixels);
void rgbToBgraLibyuv(const std::uint8_t* rgb, std::uint8_t* bgra, int width, int height);
// SSSE3 byte shuffle with streaming stores; false when the processor or the build lacks SSSE3.
bool rgbToBgraShuffle(const std::uint8_t* rgb, std::uint8_t* bgra, std::int64_t pixels);

// Quarter turn clockwise of a width x height BGRA frame into a height x width one.
void rotateNaive(const std::uint8_t* src, std::uint8_t* dst, int width, int height);
void rotateLibyuv(const std::uint8_t* src, std::uint8_t* dst, int width, int height);
// libyuv on horizontal strips of `stripRows` source rows each: every strip's destination is a
// narrow band of columns, which keeps the pages touched at once few.
void rotateLibyuvStrips(const std::uint8_t* src, std::uint8_t* dst, int width, int height, int stripRows);
// Blocked transpose of 4 x 4 pixel tiles in SSE2 registers, in square blocks of `block` pixels
// (a multiple of 4); false without SSE2.
bool rotateBlocked(const std::uint8_t* src, std::uint8_t* dst, int width, int height, int block = 32);
// Bands of 16 source rows turned in 4 x 4 tiles, each destination row's 64 bytes written as one
// line with streaming stores (when aligned); false without SSE2.
bool rotateStreaming(const std::uint8_t* src, std::uint8_t* dst, int width, int height);

// Packed R, G, B of a width x height frame straight to the BGRA frame turned a quarter clockwise
// (height x width): source pixel (x, y) lands at column height - 1 - y, row x as B, G, R, 255.
void rgbToBgraTurnedNaive(const std::uint8_t* rgb, std::uint8_t* dst, int width, int height);
// The same in one pass: bands of 16 source rows, each band walked in column blocks of
// `blockColumns` pixels (0: the whole row), 4 x 4 tiles shuffled and transposed in registers and
// each destination row's 64 bytes written as one line with streaming stores (when aligned).
// False without SSSE3.
bool rgbToBgraTurned(const std::uint8_t* rgb, std::uint8_t* dst, int width, int height, int blockColumns = 0);

} // namespace qr::kernels
