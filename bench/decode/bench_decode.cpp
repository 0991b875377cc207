// Decoding hot paths on a 4032 x 3024 frame, each reported with its ratio to a baseline measured
// in the same run (printed after the benchmark table).
//
//   bench_decode [--benchmark_filter=...]     ratio = baseline time / candidate time (higher is faster)

#include "DecodeFixtures.h"
#include "HeicGridFixture.h"
#include "decode/FrameBufferPool.h"
#include "decode/KroxDecoder.h"
#include "decode/Lz4FrameDecoder.h"
#include "decode/RawFrame.h"
#include "decode/RawFrameKernels.h"
#include "player/PhotoDecoder.h"
#include "player/PhotoDiskCache.h"

#include <benchmark/benchmark.h>
#include <lz4.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/mman.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kWidth = 4032;
constexpr int kHeight = 3024;
constexpr std::size_t kRgbBytes = std::size_t{kWidth} * kHeight * 3;
constexpr std::size_t kBgraBytes = std::size_t{kWidth} * kHeight * 4;

// Frame contents: 0 smooth gradients (LZ4 ratio about 26), 1 camera-like (sensor noise with a
// flat, clipped third: ratio about 1.2), 2 pure noise (incompressible).
std::vector<std::uint8_t> cameraFrame(int content)
{
    std::vector<std::uint8_t> rgb(kRgbBytes);
    std::uint32_t x = 12345;
    std::size_t i = 0;
    for (int y = 0; y < kHeight; ++y) {
        const bool clipped = content == 1 && y < kHeight / 3;
        const int noise = content == 0 || clipped ? 0 : content == 1 ? 6 : 40;
        for (int col = 0; col < kWidth; ++col) {
            for (int c = 0; c < 3; ++c) {
                x = x * 1664525u + 1013904223u;
                const int base = clipped ? 255 : (col * (c + 1) / 24 + y / 16) & 0xFF;
                const int n = noise == 0 ? 0 : static_cast<int>(x >> 24) % (noise * 2 + 1) - noise;
                rgb[i++] = static_cast<std::uint8_t>(std::clamp(base + n, 0, 255));
            }
        }
    }
    return rgb;
}

std::vector<std::uint8_t> toVector(const QByteArray& a)
{
    return {a.begin(), a.end()};
}

struct Lz4Data {
    std::vector<std::uint8_t> framed;                // the platform's stream, 64 KiB linked blocks
    std::vector<std::uint8_t> independent;           // the same with every block compressed on its own
    std::vector<std::pair<std::size_t, int>> blocks; // offset and size of each independent block
    std::vector<char> plain;                         // one LZ4 block of the whole frame
};

const Lz4Data& lz4Data(int noise)
{
    static std::map<int, Lz4Data> cache;
    auto it = cache.find(noise);
    if (it != cache.end())
        return it->second;
    const std::vector<std::uint8_t> rgb = cameraFrame(noise);
    const QByteArray raw =
        QByteArray::fromRawData(reinterpret_cast<const char*>(rgb.data()), qsizetype(rgb.size()));
    Lz4Data d;
    d.framed = toVector(qr::fixtures::lz4Stream(raw, 65536));
    d.independent =
        toVector(qr::fixtures::lz4Stream(raw, 65536, {qr::fixtures::Block::Compressed}, true, false));
    for (std::size_t pos = 0; pos + 12 <= d.independent.size();) {
        std::uint32_t encoded = 0;
        std::memcpy(&encoded, d.independent.data() + pos + 8, 4);
        d.blocks.emplace_back(pos + 12, int(encoded));
        pos += 12 + encoded;
    }
    d.plain.resize(std::size_t(LZ4_compressBound(int(kRgbBytes))));
    d.plain.resize(std::size_t(LZ4_compress_default(reinterpret_cast<const char*>(rgb.data()), d.plain.data(),
                                                    int(kRgbBytes), int(d.plain.size()))));
    return cache.emplace(noise, std::move(d)).first->second;
}

// Output buffers are allocated and touched once, outside the timed loop, as a frame pool would, and
// like the pool's they start on a page: the turn writes whole 64-byte lines past the cache only where
// its destination lines are aligned (a heap block 16 bytes into a page made it 2.7 x slower).
std::span<std::uint8_t> outputBuffer(std::size_t size)
{
    static std::uint8_t* buffer = [] {
        std::uint8_t* b = qr::FrameBufferPool::map(kBgraBytes, false);
        if (!b)
            std::abort();
        std::memset(b, 1, kBgraBytes);
        return b;
    }();
    return {buffer, std::min(size, kBgraBytes)};
}

const std::vector<std::uint8_t>& rgbFrame()
{
    static const std::vector<std::uint8_t> rgb = cameraFrame(1);
    return rgb;
}

const std::vector<std::uint8_t>& bgraFrame()
{
    static const std::vector<std::uint8_t> bgra = [] {
        std::vector<std::uint8_t> out(kBgraBytes);
        qr::kernels::rgbToBgraLibyuv(rgbFrame().data(), out.data(), kWidth, kHeight);
        return out;
    }();
    return bgra;
}

void setBytes(benchmark::State& state, std::size_t bytes)
{
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

// ---- framed LZ4 --------------------------------------------------------------------------------

void Lz4Framed(benchmark::State& state)
{
    const Lz4Data& d = lz4Data(int(state.range(0)));
    const auto out = outputBuffer(kRgbBytes);
    for (auto _ : state) {
        const std::size_t n = qr::Lz4FrameDecoder::decodeInto(d.framed, std::span(out.data(), kRgbBytes));
        if (n != kRgbBytes)
            state.SkipWithError("framed decode failed");
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["ratio_in"] = double(kRgbBytes) / double(d.framed.size());
    setBytes(state, kRgbBytes);
}

void Lz4FramedIndependent(benchmark::State& state)
{
    const Lz4Data& d = lz4Data(int(state.range(0)));
    const auto out = outputBuffer(kRgbBytes);
    for (auto _ : state) {
        if (qr::Lz4FrameDecoder::decodeInto(d.independent, std::span(out.data(), kRgbBytes)) != kRgbBytes)
            state.SkipWithError("framed decode failed");
        benchmark::DoNotOptimize(out.data());
    }
    setBytes(state, kRgbBytes);
}

// liblz4 alone over exactly the blocks of the stream above: the framing's own cost is the difference.
void Lz4PlainSafeBlocks(benchmark::State& state)
{
    const Lz4Data& d = lz4Data(int(state.range(0)));
    const auto out = outputBuffer(kRgbBytes);
    for (auto _ : state) {
        std::size_t pos = 0;
        for (const auto& [offset, size] : d.blocks) {
            const int capacity = int(std::min<std::size_t>(65536, kRgbBytes - pos));
            pos +=
                std::size_t(LZ4_decompress_safe(reinterpret_cast<const char*>(d.independent.data() + offset),
                                                reinterpret_cast<char*>(out.data() + pos), size, capacity));
        }
        if (pos != kRgbBytes)
            state.SkipWithError("plain decode failed");
        benchmark::DoNotOptimize(out.data());
    }
    setBytes(state, kRgbBytes);
}

void Lz4FramedFreshBuffer(benchmark::State& state)
{
    const Lz4Data& d = lz4Data(int(state.range(0)));
    for (auto _ : state) {
        const qr::FrameBuffer out = qr::Lz4FrameDecoder::decode(d.framed);
        if (out.size() != kRgbBytes)
            state.SkipWithError("framed decode failed");
    }
    setBytes(state, kRgbBytes);
}

void Lz4PlainSafe(benchmark::State& state)
{
    const Lz4Data& d = lz4Data(int(state.range(0)));
    const auto out = outputBuffer(kRgbBytes);
    for (auto _ : state) {
        const int n = LZ4_decompress_safe(d.plain.data(), reinterpret_cast<char*>(out.data()),
                                          int(d.plain.size()), int(kRgbBytes));
        if (n != int(kRgbBytes))
            state.SkipWithError("plain decode failed");
        benchmark::DoNotOptimize(out.data());
    }
    setBytes(state, kRgbBytes);
}

// ---- RGB to BGRA -------------------------------------------------------------------------------

void MemcpyBgraSize(benchmark::State& state)
{
    static const std::vector<std::uint8_t> src(kBgraBytes, 3);
    const auto out = outputBuffer(kBgraBytes);
    for (auto _ : state) {
        std::memcpy(out.data(), src.data(), kBgraBytes);
        benchmark::DoNotOptimize(out.data());
    }
    setBytes(state, kBgraBytes);
}

template <typename Kernel> void runConvert(benchmark::State& state, Kernel kernel)
{
    const auto& rgb = rgbFrame();
    const auto out = outputBuffer(kBgraBytes);
    for (auto _ : state) {
        kernel(rgb.data(), out.data());
        benchmark::DoNotOptimize(out.data());
    }
    setBytes(state, kBgraBytes);
}

void ConvertNaive(benchmark::State& state)
{
    runConvert(state, [](const std::uint8_t* s, std::uint8_t* d) {
        qr::kernels::rgbToBgraNaive(s, d, std::int64_t{kWidth} * kHeight);
    });
}

void ConvertLibyuv(benchmark::State& state)
{
    runConvert(state, [](const std::uint8_t* s, std::uint8_t* d) {
        qr::kernels::rgbToBgraLibyuv(s, d, kWidth, kHeight);
    });
}

void ConvertShuffle(benchmark::State& state)
{
    runConvert(state, [&state](const std::uint8_t* s, std::uint8_t* d) {
        if (!qr::kernels::rgbToBgraShuffle(s, d, std::int64_t{kWidth} * kHeight))
            state.SkipWithError("no SSSE3");
    });
}

void ConvertChosen(benchmark::State& state)
{
    runConvert(state, [](const std::uint8_t* s, std::uint8_t* d) {
        qr::RawFrame::rgbToBgraInto(std::span(s, kRgbBytes), {kWidth, kHeight}, std::span(d, kBgraBytes));
    });
}

// ---- quarter turn ------------------------------------------------------------------------------

template <typename Kernel> void runTurn(benchmark::State& state, Kernel kernel)
{
    const auto& bgra = bgraFrame();
    const auto out = outputBuffer(kBgraBytes);
    for (auto _ : state) {
        kernel(bgra.data(), out.data());
        benchmark::DoNotOptimize(out.data());
    }
    setBytes(state, kBgraBytes);
}

void TurnNaive(benchmark::State& state)
{
    runTurn(state,
            [](const std::uint8_t* s, std::uint8_t* d) { qr::kernels::rotateNaive(s, d, kWidth, kHeight); });
}

void TurnLibyuvWhole(benchmark::State& state)
{
    runTurn(state,
            [](const std::uint8_t* s, std::uint8_t* d) { qr::kernels::rotateLibyuv(s, d, kWidth, kHeight); });
}

void TurnLibyuvStrips(benchmark::State& state)
{
    const int rows = int(state.range(0));
    runTurn(state, [rows](const std::uint8_t* s, std::uint8_t* d) {
        qr::kernels::rotateLibyuvStrips(s, d, kWidth, kHeight, rows);
    });
}

void TurnBlocked(benchmark::State& state)
{
    const int block = int(state.range(0));
    runTurn(state, [&state, block](const std::uint8_t* s, std::uint8_t* d) {
        if (!qr::kernels::rotateBlocked(s, d, kWidth, kHeight, block))
            state.SkipWithError("no SSE2");
    });
}

void TurnStreaming(benchmark::State& state)
{
    runTurn(state, [&state](const std::uint8_t* s, std::uint8_t* d) {
        if (!qr::kernels::rotateStreaming(s, d, kWidth, kHeight))
            state.SkipWithError("no SSE2");
    });
}

void TurnChosen(benchmark::State& state)
{
    runTurn(state, [](const std::uint8_t* s, std::uint8_t* d) {
        qr::RawFrame::rotateBufferToPortInto(std::span(s, kBgraBytes), {kWidth, kHeight},
                                             std::span(d, kBgraBytes));
    });
}

// ---- conversion and turn in one pass -----------------------------------------------------------

// A mapped buffer on transparent huge pages, touched once outside the timed loop.
std::uint8_t* hugeOutputBuffer()
{
    static std::uint8_t* buffer = [] {
        std::uint8_t* b = qr::FrameBufferPool::map(kBgraBytes, true);
        if (b)
            std::memset(b, 1, kBgraBytes);
        return b;
    }();
    return buffer;
}

void MemcpyBgraSizeHuge(benchmark::State& state)
{
    static const std::vector<std::uint8_t> src(kBgraBytes, 3);
    std::uint8_t* out = hugeOutputBuffer();
    for (auto _ : state) {
        std::memcpy(out, src.data(), kBgraBytes);
        benchmark::DoNotOptimize(out);
    }
    setBytes(state, kBgraBytes);
}

void FusedTurn(benchmark::State& state)
{
    const int block = int(state.range(0));
    runConvert(state, [&state, block](const std::uint8_t* s, std::uint8_t* d) {
        if (!qr::kernels::rgbToBgraTurned(s, d, kWidth, kHeight, block))
            state.SkipWithError("no SSSE3");
    });
}

void FusedTurnHuge(benchmark::State& state)
{
    const int block = int(state.range(0));
    const auto& rgb = rgbFrame();
    std::uint8_t* out = hugeOutputBuffer();
    for (auto _ : state) {
        qr::kernels::rgbToBgraTurned(rgb.data(), out, kWidth, kHeight, block);
        benchmark::DoNotOptimize(out);
    }
    setBytes(state, kBgraBytes);
}

void FusedChosen(benchmark::State& state)
{
    runConvert(state, [](const std::uint8_t* s, std::uint8_t* d) {
        qr::RawFrame::rgbToBgraTurnedInto(std::span(s, kRgbBytes), {kWidth, kHeight},
                                          std::span(d, kBgraBytes));
    });
}

// The two passes the fused kernel replaces: conversion into a scratch frame, then the turn.
void TwoStepTurn(benchmark::State& state)
{
    static std::vector<std::uint8_t> scratch(kBgraBytes, 1);
    runConvert(state, [](const std::uint8_t* s, std::uint8_t* d) {
        qr::RawFrame::rgbToBgraInto(std::span(s, kRgbBytes), {kWidth, kHeight}, scratch);
        qr::RawFrame::rotateBufferToPortInto(scratch, {kWidth, kHeight}, std::span(d, kBgraBytes));
    });
}

// A frame converted into a buffer that each iteration obtains and gives up: 0 new[] / delete[],
// 1 fresh small-page mapping, 2 fresh huge-page mapping, 3 fresh small-page mapping pre-faulted
// with MAP_POPULATE, 4 the pool on huge pages, 5 the pool on small pages.
void FreshOrPooledBuffer(benchmark::State& state)
{
    const int mode = int(state.range(0));
    const auto& rgb = rgbFrame();
    qr::FrameBufferPool hugePool(kBgraBytes * 2, true);
    qr::FrameBufferPool smallPool(kBgraBytes * 2, false);
    for (auto _ : state) {
        std::uint8_t* out = nullptr;
        switch (mode) {
        case 0:
            out = new std::uint8_t[kBgraBytes];
            break;
        case 1:
            out = qr::FrameBufferPool::map(kBgraBytes, false);
            break;
        case 2:
            out = qr::FrameBufferPool::map(kBgraBytes, true);
            break;
        case 3: {
            void* p = mmap(nullptr, kBgraBytes, PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
            out = p == MAP_FAILED ? nullptr : static_cast<std::uint8_t*>(p);
            break;
        }
        case 4:
            out = hugePool.take(kBgraBytes);
            break;
        default:
            out = smallPool.take(kBgraBytes);
            break;
        }
        if (!out) {
            state.SkipWithError("allocation failed");
            break;
        }
        qr::RawFrame::rgbToBgraTurnedInto(std::span(rgb.data(), kRgbBytes), {kWidth, kHeight},
                                          std::span(out, kBgraBytes));
        benchmark::DoNotOptimize(out);
        switch (mode) {
        case 0:
            delete[] out;
            break;
        case 1:
        case 3:
            qr::FrameBufferPool::unmap(out, kBgraBytes, false);
            break;
        case 2:
            qr::FrameBufferPool::unmap(out, kBgraBytes, true);
            break;
        case 4:
            hugePool.give(out, kBgraBytes);
            break;
        default:
            smallPool.give(out, kBgraBytes);
            break;
        }
    }
    setBytes(state, kBgraBytes);
}

// ---- photos: JPEG, HEIC, the disk cache of display copies ---------------------------------------

struct PhotoFixture {
    QTemporaryDir dir{QDir::currentPath() + QStringLiteral("/bench-photos-XXXXXX")};
    QString jpeg;
    QString heicGrid;
    QString heicWhole;
    QString heicTile;
    PhotoFixture()
    {
        const auto& rgb = rgbFrame();
        const QImage frame = QImage(rgb.data(), kWidth, kHeight, kWidth * 3, QImage::Format_RGB888)
                                 .convertToFormat(QImage::Format_RGB32);
        jpeg = dir.filePath(QStringLiteral("photo.jpg"));
        frame.save(jpeg, "JPG", 90);
        heicGrid = dir.filePath(QStringLiteral("grid.heic"));
        if (!qr::fixtures::makeHeicGrid(heicGrid, frame, 512, 60))
            heicGrid.clear();
        heicWhole = dir.filePath(QStringLiteral("whole.heic"));
        const QByteArray whole = qr::fixtures::heicgrid::encode(frame, 60);
        QFile w(heicWhole);
        if (whole.isEmpty() || !w.open(QIODevice::WriteOnly) || w.write(whole) != whole.size())
            heicWhole.clear();
        heicTile = dir.filePath(QStringLiteral("tile.heic"));
        const QByteArray tile = qr::fixtures::heicgrid::encode(frame.copy(0, 0, 512, 512), 60);
        QFile t(heicTile);
        if (tile.isEmpty() || !t.open(QIODevice::WriteOnly) || t.write(tile) != tile.size())
            heicTile.clear();
    }
};

PhotoFixture& photos()
{
    static PhotoFixture f;
    return f;
}

// A 4032 x 3024 JPEG decoded to fit a box of 1/denom of its size: path 0 Qt's reader, 1 libjpeg-turbo
// called directly.
void JpegDecode(benchmark::State& state)
{
    const int path = int(state.range(0));
    const int denom = int(state.range(1));
    const QSize box = denom == 1 ? QSize() : QSize(kWidth / denom, kHeight / denom);
    const QString file = photos().jpeg;
    for (auto _ : state) {
        const QImage image = path == 0 ? qr::PhotoDecoder::decodeJpegWithQt(file, box)
                                       : qr::PhotoDecoder::decodeJpegDirect(file, box);
        if (image.isNull())
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(image.constBits());
    }
}

// A 4032 x 3024 HEIC photo: a grid of 512-pixel tiles decoded with `threads` libheif threads, by
// libavcodec (libavcodec:1) or libde265 (0).
void HeicGrid(benchmark::State& state)
{
    const QString file = photos().heicGrid;
    const int before = qr::PhotoDecoder::heicDecodingThreads();
    qr::PhotoDecoder::setHeicDecodingThreads(int(state.range(0)));
    qr::PhotoDecoder::setHevcDecoder(state.range(1) == 1 ? qr::PhotoDecoder::HevcDecoder::Libavcodec
                                                         : qr::PhotoDecoder::HevcDecoder::Libde265);
    for (auto _ : state) {
        const QImage image = qr::PhotoDecoder::decode(file);
        if (image.size() != QSize(kWidth, kHeight))
            state.SkipWithError("grid decode failed");
        benchmark::DoNotOptimize(image.constBits());
    }
    qr::PhotoDecoder::setHeicDecodingThreads(before);
    qr::PhotoDecoder::setHevcDecoder(qr::PhotoDecoder::HevcDecoder::Libavcodec);
}

// The same photo as one coded image, and one 512-pixel tile alone.
void HeicWhole(benchmark::State& state)
{
    const QString file = photos().heicWhole;
    for (auto _ : state) {
        const QImage image = qr::PhotoDecoder::decode(file);
        if (image.isNull())
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(image.constBits());
    }
}

void HeicTile(benchmark::State& state)
{
    const QString file = photos().heicTile;
    for (auto _ : state) {
        const QImage image = qr::PhotoDecoder::decode(file);
        if (image.isNull())
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(image.constBits());
    }
}

// ---- HEVC tiles: libheif's decoder against libavcodec's -----------------------------------------

// The first row of 512-pixel tiles of the textured photo, each coded as a grid's tile is: its HEIC
// file as libheif reads it, and its decoder configuration and coded data as a decoder takes them.
struct TileFixture {
    std::vector<QByteArray> files;
    std::vector<qr::fixtures::heicgrid::Coded> coded;
    TileFixture()
    {
        const auto& rgb = rgbFrame();
        const QImage frame = QImage(rgb.data(), kWidth, kHeight, kWidth * 3, QImage::Format_RGB888)
                                 .convertToFormat(QImage::Format_RGB32);
        for (int x = 0; x + 512 <= kWidth; x += 512) {
            QByteArray file = qr::fixtures::heicgrid::encode(frame.copy(x, 1024, 512, 512), 60);
            auto c = qr::fixtures::heicgrid::extract(file);
            if (file.isEmpty() || !c) {
                files.clear();
                return;
            }
            files.push_back(std::move(file));
            coded.push_back(*c);
        }
    }
};

TileFixture& tiles()
{
    static TileFixture f;
    return f;
}

// One tile by libheif (libde265), to the coded planes: no colour conversion.
bool decodeTileLibheif(const QByteArray& file)
{
    std::unique_ptr<heif_context, void (*)(heif_context*)> ctx(heif_context_alloc(), heif_context_free);
    if (heif_context_read_from_memory_without_copy(ctx.get(), file.constData(), std::size_t(file.size()),
                                                   nullptr)
            .code != heif_error_Ok)
        return false;
    heif_image_handle* handle = nullptr;
    if (heif_context_get_primary_image_handle(ctx.get(), &handle).code != heif_error_Ok)
        return false;
    heif_image* image = nullptr;
    const bool ok =
        heif_decode_image(handle, &image, heif_colorspace_undefined, heif_chroma_undefined, nullptr).code ==
        heif_error_Ok;
    heif_image_release(image);
    heif_image_handle_release(handle);
    return ok;
}

// libavcodec's HEVC decoder over one tile configuration, kept open from tile to tile as a grid's
// tiles share theirs.
class AvHevcDecoder {
public:
    explicit AvHevcDecoder(const QByteArray& hvcCBox)
    {
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_HEVC);
        c_ = codec ? avcodec_alloc_context3(codec) : nullptr;
        frame_ = av_frame_alloc();
        packet_ = av_packet_alloc();
        if (!c_ || !frame_ || !packet_ || hvcCBox.size() <= 8)
            return;
        const QByteArray config = hvcCBox.mid(8); // the box's payload: the configuration record
        c_->extradata =
            static_cast<std::uint8_t*>(av_mallocz(std::size_t(config.size()) + AV_INPUT_BUFFER_PADDING_SIZE));
        std::memcpy(c_->extradata, config.constData(), std::size_t(config.size()));
        c_->extradata_size = int(config.size());
        c_->thread_count = 1;
        open_ = avcodec_open2(c_, codec, nullptr) == 0;
    }
    ~AvHevcDecoder()
    {
        av_packet_free(&packet_);
        av_frame_free(&frame_);
        avcodec_free_context(&c_);
    }
    AvHevcDecoder(const AvHevcDecoder&) = delete;
    AvHevcDecoder& operator=(const AvHevcDecoder&) = delete;

    bool decode(const QByteArray& data)
    {
        if (!open_ || av_new_packet(packet_, int(data.size())) != 0)
            return false;
        std::memcpy(packet_->data, data.constData(), std::size_t(data.size()));
        int rc = avcodec_send_packet(c_, packet_);
        av_packet_unref(packet_);
        if (rc == 0)
            rc = avcodec_receive_frame(c_, frame_);
        if (rc == AVERROR(EAGAIN) && avcodec_send_packet(c_, nullptr) == 0)
            rc = avcodec_receive_frame(c_, frame_);
        const bool ok = rc == 0 && frame_->width == 512 && frame_->height == 512;
        av_frame_unref(frame_);
        avcodec_flush_buffers(c_);
        return ok;
    }

private:
    AVCodecContext* c_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    bool open_ = false;
};

// The row of tiles decoded on `threads` threads (each its own decoder, the tiles dealt out in turn);
// decoder 0 libheif, 1 libavcodec. The time is that of the row: divide by `tiles`.
void HevcTiles(benchmark::State& state)
{
    const bool av = state.range(0) == 1;
    const int threads = int(state.range(1));
    const TileFixture& f = tiles();
    if (f.files.empty()) {
        state.SkipWithError("no HEVC encoder for the tiles");
        return;
    }
    const int n = int(f.files.size());
    std::vector<std::unique_ptr<AvHevcDecoder>> decoders;
    for (int t = 0; t < threads; ++t)
        decoders.push_back(std::make_unique<AvHevcDecoder>(f.coded.front().hvcC));
    std::atomic<int> failed{0};
    for (auto _ : state) {
        const auto work = [&](int t) {
            for (int i = t; i < n; i += threads) {
                const bool ok = av ? decoders[std::size_t(t)]->decode(f.coded[std::size_t(i)].data)
                                   : decodeTileLibheif(f.files[std::size_t(i)]);
                if (!ok)
                    ++failed;
            }
        };
        std::vector<std::thread> pool;
        for (int t = 1; t < threads; ++t)
            pool.emplace_back(work, t);
        work(0);
        for (auto& thread : pool)
            thread.join();
    }
    if (failed.load() != 0)
        state.SkipWithError("a tile did not decode");
    state.SetItemsProcessed(state.iterations() * n);
    state.counters["tiles"] = n;
}

QSize displayCopySize(benchmark::State& state)
{
    const int height = int(state.range(0));
    return {height * 4 / 3, height};
}

// A display copy loaded from the disk cache (its file in the page cache, as on a set's next play).
void DiskCacheLoad(benchmark::State& state)
{
    const QSize size = displayCopySize(state);
    static QTemporaryDir dir(QDir::currentPath() + QStringLiteral("/bench-cache-XXXXXX"));
    qr::PhotoDiskCache cache(dir.path());
    const qr::PhotoDiskCache::Key key{QStringLiteral("/photos/a.heic"), 1, 2, size, {}};
    QImage copy(size, QImage::Format_RGB32);
    copy.fill(Qt::darkCyan);
    if (!cache.store(key, copy)) {
        state.SkipWithError("store failed");
        return;
    }
    for (auto _ : state) {
        const QImage image = cache.load(key);
        if (image.isNull())
            state.SkipWithError("load failed");
        benchmark::DoNotOptimize(image.constBits());
    }
    setBytes(state, std::size_t(size.width()) * size.height() * 4);
}

// The baseline: a copy of the same bytes into a new image.
void DisplayCopyMemcpy(benchmark::State& state)
{
    const QSize size = displayCopySize(state);
    QImage copy(size, QImage::Format_RGB32);
    copy.fill(Qt::darkCyan);
    for (auto _ : state) {
        QImage image(size, QImage::Format_RGB32);
        std::memcpy(image.bits(), copy.constBits(), std::size_t(copy.sizeInBytes()));
        benchmark::DoNotOptimize(image.constBits());
    }
    setBytes(state, std::size_t(size.width()) * size.height() * 4);
}

// ---- container unpacking ----------------------------------------------------------------------

struct ContainerFixture {
    QTemporaryDir dir{QDir::currentPath() + QStringLiteral("/bench-decode-XXXXXX")};
    QString container;
    qint64 size = 0;
    ContainerFixture()
    {
        // Nine 4 MB photos and one EXIF block: about 36 MB, like a burst set.
        qr::fixtures::KroxContainer c;
        for (int i = 0; i < 9; ++i)
            c.entries.append({1, qr::fixtures::pattern(4'000'003 + i, std::uint32_t(i), false)});
        c.entries.append({4, qr::fixtures::pattern(1000, 99, false)});
        const QByteArray bytes = c.bytes();
        size = bytes.size();
        container = dir.filePath(QStringLiteral("set.krox"));
        QFile f(container);
        if (f.open(QIODevice::WriteOnly))
            f.write(bytes);
        QDir(dir.path()).mkdir(QStringLiteral("out"));
    }
};

ContainerFixture& containerFixture()
{
    static ContainerFixture f;
    return f;
}

void UnpackContainer(benchmark::State& state)
{
    auto& f = containerFixture();
    qr::KroxDecoder decoder(f.dir.filePath(QStringLiteral("docs")));
    const QString out = f.dir.filePath(QStringLiteral("out"));
    for (auto _ : state) {
        if (decoder.processKroxFile(f.container, out).filesWritten() != 10)
            state.SkipWithError("unpack failed");
    }
    setBytes(state, std::size_t(f.size));
}

void CopyFileCp(benchmark::State& state)
{
    auto& f = containerFixture();
    const QString target = f.dir.filePath(QStringLiteral("out/copy.krox"));
    for (auto _ : state) {
        if (QProcess::execute(QStringLiteral("cp"), {f.container, target}) != 0)
            state.SkipWithError("cp failed");
    }
    setBytes(state, std::size_t(f.size));
}

void CopyFileReadWrite(benchmark::State& state)
{
    // The user-space equivalent of cp: read the whole file, write it whole.
    auto& f = containerFixture();
    const QString target = f.dir.filePath(QStringLiteral("out/copy2.krox"));
    for (auto _ : state) {
        QFile in(f.container);
        QFile out(target);
        if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            out.write(in.readAll()) != f.size)
            state.SkipWithError("copy failed");
    }
    setBytes(state, std::size_t(f.size));
}

BENCHMARK(Lz4Framed)->Arg(0)->Arg(1)->Arg(2)->ArgName("content")->Unit(benchmark::kMillisecond);
BENCHMARK(Lz4PlainSafe)->Arg(0)->Arg(1)->Arg(2)->ArgName("content")->Unit(benchmark::kMillisecond);
BENCHMARK(Lz4FramedIndependent)->Arg(0)->Arg(1)->Arg(2)->ArgName("content")->Unit(benchmark::kMillisecond);
BENCHMARK(Lz4PlainSafeBlocks)->Arg(0)->Arg(1)->Arg(2)->ArgName("content")->Unit(benchmark::kMillisecond);
BENCHMARK(Lz4FramedFreshBuffer)->Arg(1)->ArgName("content")->Unit(benchmark::kMillisecond);
BENCHMARK(MemcpyBgraSize)->Unit(benchmark::kMillisecond);
BENCHMARK(ConvertNaive)->Unit(benchmark::kMillisecond);
BENCHMARK(ConvertLibyuv)->Unit(benchmark::kMillisecond);
BENCHMARK(ConvertShuffle)->Unit(benchmark::kMillisecond);
BENCHMARK(ConvertChosen)->Unit(benchmark::kMillisecond);
BENCHMARK(TurnNaive)->Unit(benchmark::kMillisecond);
BENCHMARK(TurnLibyuvWhole)->Unit(benchmark::kMillisecond);
BENCHMARK(TurnLibyuvStrips)
    ->Arg(8)
    ->Arg(16)
    ->Arg(32)
    ->Arg(64)
    ->Arg(128)
    ->Arg(378)
    ->ArgName("rows")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(TurnBlocked)
    ->Arg(16)
    ->Arg(32)
    ->Arg(64)
    ->Arg(128)
    ->Arg(256)
    ->Arg(512)
    ->Arg(1024)
    ->ArgName("block")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(TurnStreaming)->Unit(benchmark::kMillisecond);
BENCHMARK(TurnChosen)->Unit(benchmark::kMillisecond);
BENCHMARK(MemcpyBgraSizeHuge)->Unit(benchmark::kMillisecond);
BENCHMARK(FusedTurn)->Arg(0)->Arg(64)->Arg(256)->Arg(1024)->ArgName("block")->Unit(benchmark::kMillisecond);
BENCHMARK(FusedTurnHuge)->Arg(0)->Arg(256)->Arg(1024)->ArgName("block")->Unit(benchmark::kMillisecond);
BENCHMARK(FusedChosen)->Unit(benchmark::kMillisecond);
BENCHMARK(TwoStepTurn)->Unit(benchmark::kMillisecond);
BENCHMARK(FreshOrPooledBuffer)
    ->DenseRange(0, 5)
    ->ArgName("mode")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(JpegDecode)
    ->ArgsProduct({{0, 1}, {1, 2, 4, 8}})
    ->ArgNames({"path", "denom"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(HeicGrid)
    ->ArgsProduct({{0, 1, 2, 4}, {0, 1}})
    ->ArgNames({"threads", "libavcodec"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(HeicWhole)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(HeicTile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(HevcTiles)
    ->ArgsProduct({{0, 1}, {1, 2}})
    ->ArgNames({"libavcodec", "threads"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(DiskCacheLoad)->Arg(1080)->Arg(2160)->ArgName("height")->Unit(benchmark::kMillisecond);
BENCHMARK(DisplayCopyMemcpy)->Arg(1080)->Arg(2160)->ArgName("height")->Unit(benchmark::kMillisecond);
BENCHMARK(UnpackContainer)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(CopyFileCp)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(CopyFileReadWrite)->Unit(benchmark::kMillisecond)->UseRealTime();

// Records every run's real and CPU time (the median when repeated) so that ratios can be printed
// once all have run.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    struct Times {
        double real = 0;
        double cpu = 0;
    };
    std::map<std::string, Times> times;
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs) {
            if (r.error_occurred)
                continue;
            if (r.run_type == Run::RT_Iteration || r.aggregate_name == "median")
                times[r.run_name.str()] = {r.GetAdjustedRealTime(), r.GetAdjustedCPUTime()};
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    // ratio = baseline time / candidate time: 1.0 is as fast as the baseline, above is faster. The
    // CPU-time ratio is the steadier one on a shared machine; `cp` runs in another process, so only
    // wall time compares with it.
    const std::vector<std::pair<std::string, std::string>> pairs = {
        {"Lz4FramedIndependent/content:0", "Lz4PlainSafeBlocks/content:0"},
        {"Lz4FramedIndependent/content:1", "Lz4PlainSafeBlocks/content:1"},
        {"Lz4FramedIndependent/content:2", "Lz4PlainSafeBlocks/content:2"},
        {"Lz4Framed/content:0", "Lz4PlainSafe/content:0"},
        {"Lz4Framed/content:1", "Lz4PlainSafe/content:1"},
        {"Lz4Framed/content:2", "Lz4PlainSafe/content:2"},
        {"Lz4FramedFreshBuffer/content:1", "Lz4PlainSafe/content:1"},
        {"ConvertNaive", "MemcpyBgraSize"},
        {"ConvertLibyuv", "MemcpyBgraSize"},
        {"ConvertShuffle", "MemcpyBgraSize"},
        {"ConvertChosen", "MemcpyBgraSize"},
        {"ConvertChosen", "ConvertNaive"},
        {"ConvertChosen", "ConvertLibyuv"},
        {"TurnNaive", "MemcpyBgraSize"},
        {"TurnLibyuvWhole", "MemcpyBgraSize"},
        {"TurnLibyuvStrips/rows:8", "MemcpyBgraSize"},
        {"TurnLibyuvStrips/rows:32", "MemcpyBgraSize"},
        {"TurnLibyuvStrips/rows:128", "MemcpyBgraSize"},
        {"TurnLibyuvStrips/rows:378", "MemcpyBgraSize"},
        {"TurnBlocked/block:32", "MemcpyBgraSize"},
        {"TurnBlocked/block:128", "MemcpyBgraSize"},
        {"TurnBlocked/block:256", "MemcpyBgraSize"},
        {"TurnBlocked/block:1024", "MemcpyBgraSize"},
        {"TurnStreaming", "MemcpyBgraSize"},
        {"TurnChosen", "MemcpyBgraSize"},
        {"TurnChosen", "TurnNaive"},
        {"TurnChosen", "TurnLibyuvStrips/rows:128"},
        {"TurnBlocked/block:512", "MemcpyBgraSize"},
        {"FusedTurn/block:0", "MemcpyBgraSize"},
        {"FusedTurn/block:64", "MemcpyBgraSize"},
        {"FusedTurn/block:256", "MemcpyBgraSize"},
        {"FusedTurn/block:1024", "MemcpyBgraSize"},
        {"FusedTurnHuge/block:0", "MemcpyBgraSizeHuge"},
        {"FusedTurnHuge/block:256", "MemcpyBgraSizeHuge"},
        {"FusedTurnHuge/block:1024", "MemcpyBgraSizeHuge"},
        {"FusedChosen", "MemcpyBgraSize"},
        {"TwoStepTurn", "MemcpyBgraSize"},
        {"FusedChosen", "TwoStepTurn"},
        {"FreshOrPooledBuffer/mode:0/real_time", "FreshOrPooledBuffer/mode:4/real_time"},
        {"FreshOrPooledBuffer/mode:1/real_time", "FreshOrPooledBuffer/mode:4/real_time"},
        {"FreshOrPooledBuffer/mode:2/real_time", "FreshOrPooledBuffer/mode:4/real_time"},
        {"FreshOrPooledBuffer/mode:3/real_time", "FreshOrPooledBuffer/mode:4/real_time"},
        {"FreshOrPooledBuffer/mode:5/real_time", "FreshOrPooledBuffer/mode:4/real_time"},
        {"HevcTiles/libavcodec:1/threads:1/real_time", "HevcTiles/libavcodec:0/threads:1/real_time"},
        {"HevcTiles/libavcodec:1/threads:2/real_time", "HevcTiles/libavcodec:0/threads:2/real_time"},
        {"JpegDecode/path:1/denom:1", "JpegDecode/path:0/denom:1"},
        {"JpegDecode/path:1/denom:2", "JpegDecode/path:0/denom:2"},
        {"JpegDecode/path:1/denom:4", "JpegDecode/path:0/denom:4"},
        {"JpegDecode/path:1/denom:8", "JpegDecode/path:0/denom:8"},
        {"JpegDecode/path:1/denom:2", "JpegDecode/path:1/denom:1"},
        {"JpegDecode/path:1/denom:4", "JpegDecode/path:1/denom:1"},
        {"JpegDecode/path:1/denom:8", "JpegDecode/path:1/denom:1"},
        {"JpegDecode/path:0/denom:4", "JpegDecode/path:0/denom:1"},
        {"HeicGrid/threads:1/libavcodec:1/real_time", "HeicGrid/threads:0/libavcodec:1/real_time"},
        {"HeicGrid/threads:2/libavcodec:1/real_time", "HeicGrid/threads:0/libavcodec:1/real_time"},
        {"HeicGrid/threads:4/libavcodec:1/real_time", "HeicGrid/threads:0/libavcodec:1/real_time"},
        {"HeicGrid/threads:0/libavcodec:1/real_time", "HeicGrid/threads:0/libavcodec:0/real_time"},
        {"HeicGrid/threads:2/libavcodec:1/real_time", "HeicGrid/threads:2/libavcodec:0/real_time"},
        {"HeicGrid/threads:2/libavcodec:1/real_time", "HeicWhole/real_time"},
        {"HeicGrid/threads:0/libavcodec:1/real_time", "HeicTile/real_time"},
        {"DiskCacheLoad/height:1080", "DisplayCopyMemcpy/height:1080"},
        {"DiskCacheLoad/height:2160", "DisplayCopyMemcpy/height:2160"},
        {"UnpackContainer/real_time", "CopyFileCp/real_time"},
        {"UnpackContainer/real_time", "CopyFileReadWrite/real_time"},
    };
    // "cost" is the inverse: the candidate's time in multiples of the baseline's (lower is faster).
    std::printf("\n%-38s %-38s %11s %10s %9s\n", "candidate", "baseline", "ratio(real)", "ratio(cpu)",
                "cost(cpu)");
    for (const auto& [candidate, baseline] : pairs) {
        const auto c = reporter.times.find(candidate);
        const auto b = reporter.times.find(baseline);
        if (c == reporter.times.end() || b == reporter.times.end())
            continue;
        const bool cpuComparable = baseline.rfind("CopyFileCp", 0) != 0;
        std::printf("%-38s %-38s %11.2f", candidate.c_str(), baseline.c_str(),
                    b->second.real / c->second.real);
        if (cpuComparable)
            std::printf(" %10.2f %9.2f\n", b->second.cpu / c->second.cpu, c->second.cpu / b->second.cpu);
        else
            std::printf(" %10s %9s\n", "-", "-");
    }
    benchmark::Shutdown();
    return 0;
}
