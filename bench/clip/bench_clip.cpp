// A clip of a set of 45 JPEG photos of 4032 x 3024 at 1440 pixels high, against decoding the same
// photos at that size on the same number of threads (the baseline, measured in the same run).
//
//   bench_clip [--benchmark_filter=...] [--fixtures=DIR]
//
// After the Google Benchmark table: the export's wall time and processor time as ratios to the
// baseline's, and the peak resident memory during an export (the process's high-water mark, reset
// before it).

#include "player/ClipEncoder.h"
#include "player/ClipExporter.h"
#include "player/PhotoDecoder.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include <time.h>

using namespace qr;

namespace {

constexpr int kW = 4032;
constexpr int kH = 3024;
constexpr int kPhotos = 45;
constexpr int kClipHeight = 1440;

QString g_dir = QDir::tempPath() + QStringLiteral("/qr-bench-clip");
double g_decodeSeconds = 0;
double g_exportSeconds = 0;
double g_decodeCpu = 0;
double g_exportCpu = 0;
long g_exportPeakKb = 0;

// A burst-like photo: gradients with sensor noise, the scene shifted a little from photo to photo.
QImage burstPhoto(int index)
{
    QImage image(kW, kH, QImage::Format_RGB32);
    std::uint32_t x = 12345u + static_cast<std::uint32_t>(index) * 7919u;
    const int shift = index * 24;
    for (int y = 0; y < kH; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int c = 0; c < kW; ++c) {
            x = x * 1664525u + 1013904223u;
            const int n = static_cast<int>(x >> 28) - 8;
            const int u = c + shift;
            line[c] = qRgb(std::clamp((u / 16) % 256 + n, 0, 255), std::clamp(y / 12 + n, 0, 255),
                           std::clamp(((u + y) / 28) % 256 + n, 0, 255));
        }
    }
    return image;
}

QStringList photos()
{
    static QStringList paths;
    if (!paths.isEmpty())
        return paths;
    QDir().mkpath(g_dir);
    for (int i = 1; i <= kPhotos; ++i)
        paths << g_dir + QStringLiteral("/kro_001_%1_01.jpg").arg(i, 3, 10, QLatin1Char('0'));
    if (!QFile::exists(paths.last())) {
        std::fprintf(stderr, "making %d photos in %s ...\n", kPhotos, qPrintable(g_dir));
        for (int i = 0; i < kPhotos; ++i)
            burstPhoto(i).save(paths[i], "JPG", 92);
    }
    return paths;
}

QSize clipSize()
{
    return ClipEncoder::frameSizeFor(PhotoDecoder::naturalSize(photos().first()), kClipHeight);
}

long peakRssKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}

// Processor time of the whole process (every thread), in seconds: less sensitive than wall time to
// other work on a shared machine.
double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void resetPeakRss()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

// The baseline: every photo decoded at the clip's size on as many threads as the export decodes with.
void BM_DecodeAtClipSize(benchmark::State& state)
{
    const QStringList paths = photos();
    const QSize box = clipSize();
    QThreadPool pool;
    pool.setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
    const double cpu = processCpuSeconds();
    for (auto _ : state) {
        std::atomic<int> decoded{0};
        for (const QString& path : paths)
            pool.start([&decoded, path, box] {
                if (!PhotoDecoder::decode(path, box).isNull())
                    ++decoded;
            });
        pool.waitForDone();
        if (decoded != kPhotos)
            state.SkipWithError("a photo did not decode");
    }
    g_decodeCpu = (processCpuSeconds() - cpu) / static_cast<double>(state.iterations());
    state.counters["photos/s"] =
        benchmark::Counter(kPhotos * state.iterations(), benchmark::Counter::kIsRate);
}

void BM_ExportClip(benchmark::State& state)
{
    ClipRequest request;
    request.photos = photos();
    request.fps = 30;
    request.maxHeight = kClipHeight;
    request.output = g_dir + QStringLiteral("/clip.mp4");
    resetPeakRss();
    const double cpu = processCpuSeconds();
    for (auto _ : state) {
        const ClipResult result = ClipExporter().run(request);
        if (!result.ok())
            state.SkipWithError(qPrintable(result.message));
    }
    g_exportCpu = (processCpuSeconds() - cpu) / static_cast<double>(state.iterations());
    g_exportPeakKb = peakRssKb();
    QFile::remove(request.output);
    state.counters["photos/s"] =
        benchmark::Counter(kPhotos * state.iterations(), benchmark::Counter::kIsRate);
}

// Keeps each benchmark's mean wall time per iteration for the ratio.
class Reporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.iterations == 0)
                continue;
            const double seconds = run.real_accumulated_time / static_cast<double>(run.iterations);
            const std::string name = run.benchmark_name();
            if (name.find("BM_DecodeAtClipSize") == 0)
                g_decodeSeconds = seconds;
            else if (name.find("BM_ExportClip") == 0)
                g_exportSeconds = seconds;
        }
    }
};

} // namespace

BENCHMARK(BM_DecodeAtClipSize)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_ExportClip)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--fixtures=", 11) == 0)
            g_dir = QString::fromLocal8Bit(argv[i] + 11);
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    photos();
    std::fprintf(stderr, "clip frames of %d x %d, %d decoding threads\n", clipSize().width(),
                 clipSize().height(), std::max(1, QThread::idealThreadCount()));
    Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    if (g_decodeSeconds > 0 && g_exportSeconds > 0)
        std::printf("\nexport / decode at clip size: %.3f s / %.3f s = %.2fx (goal <= 1.5x)\n",
                    g_exportSeconds, g_decodeSeconds, g_exportSeconds / g_decodeSeconds);
    if (g_decodeCpu > 0 && g_exportCpu > 0)
        std::printf("processor time, all threads: %.3f s / %.3f s = %.2fx\n", g_exportCpu, g_decodeCpu,
                    g_exportCpu / g_decodeCpu);
    if (g_exportPeakKb > 0)
        std::printf("peak resident memory during the export: %.0f MB (goal <= 400 MB)\n",
                    g_exportPeakKb / 1024.0);
    benchmark::Shutdown();
    return 0;
}
