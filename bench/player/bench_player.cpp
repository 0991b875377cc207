// Playback of a set of 45 photos of 4032 x 3024 at 30 photos per second, for JPEG, HEIC and raw RGB
// sets, on the offscreen platform; and the per-photo preparation steps behind it.
//
//   bench_player [--benchmark_filter=...] [--passes=N] [--fixtures=DIR] [--kinds=jpg,heic,rgb] [--late]
//
// The Google Benchmark table reports per-photo costs with their ratio to a 48.8 MB frame copy
// measured in the same run. The playback report that follows gives, per kind: the share of ticks
// whose photo was on the display within 5 ms of its due time (first pass, later passes, and the first
// pass of a new process over the disk cache the first run filled), ticks that showed an empty
// display, photos skipped, the time from set start to the first frame, the time until every slot of
// the set was prepared, the photos per second of the first pass (for HEIC also against one photo's
// decode on one thread), and the peak resident memory. HEIC photos are grids of 512 x 512 tiles.

#include "decode/FrameBufferPool.h"
#include "platform/ThreadPriority.h"
#include "player/PhotoDecoder.h"
#include "player/PhotoDiskCache.h"
#include "player/PhotoImage.h"
#include "player/PlayerDisplay.h"
#include "player/PlayerEngine.h"
#include "player/SetPreparer.h"

#include "HeicGridFixture.h"
#include "PlayerFixtures.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

using namespace qr;

namespace {

constexpr int kW = 4032;
constexpr int kH = 3024;
constexpr int kPhotos = 45;
constexpr double kPeriodMs = 1000.0 / 30.0;
const QSize kDisplay(588, 784); // the main display of a 1920 x 1080 screen at scale 1, in pixels
// The player widgets ask for copies at twice the display's size (the zoom range at 1.0).
const QSize kPrepared(2 * 588, 2 * 784);

QString g_dir = QDir::tempPath() + QStringLiteral("/qr-bench-player");
int g_passes = 3;
QStringList g_kinds{"jpg", "heic", "rgb"};
bool g_warmChild = false;
bool g_listLate = false; // --late: list the ticks that were late or empty

// A camera-like picture: gradients with sensor noise.
QImage cameraImage(int seed)
{
    QImage image(kW, kH, QImage::Format_RGB32);
    std::uint32_t x = 12345u + static_cast<std::uint32_t>(seed);
    for (int y = 0; y < kH; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int c = 0; c < kW; ++c) {
            x = x * 1664525u + 1013904223u;
            const int n = static_cast<int>(x >> 28) - 8;
            line[c] = qRgb(std::clamp(c / 16 + n + seed, 0, 255), std::clamp(y / 12 + n, 0, 255),
                           std::clamp((c + y) / 28 + n, 0, 255));
        }
    }
    return image;
}

QString photoName(int i, const QString& ext)
{
    return QStringLiteral("kro_01_%1_01.%2").arg(i, 3, 10, QLatin1Char('0')).arg(ext);
}

// Makes the 45 photos of a kind once; later runs reuse them.
QStringList fixturesFor(const QString& ext)
{
    const QString dir = g_dir + QLatin1Char('/') + ext;
    QDir().mkpath(dir);
    QStringList names;
    for (int i = 1; i <= kPhotos; ++i)
        names.append(photoName(i, ext));
    if (QFile::exists(dir + QLatin1Char('/') + names.last()))
        return names;
    std::fprintf(stderr, "making %s fixtures in %s ...\n", qPrintable(ext), qPrintable(dir));
    const QString first = dir + QLatin1Char('/') + names.first();
    if (ext == QLatin1String("rgb")) {
        const QImage image = cameraImage(0);
        QByteArray rgb(qsizetype{kW} * kH * 3, Qt::Uninitialized);
        for (int i = 0; i < kPhotos; ++i) {
            char* p = rgb.data();
            for (int y = 0; y < kH; ++y) {
                const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
                for (int c = 0; c < kW; ++c) {
                    *p++ = static_cast<char>(qRed(line[c]) + i);
                    *p++ = static_cast<char>(qGreen(line[c]));
                    *p++ = static_cast<char>(qBlue(line[c]));
                }
            }
            fixtures::writeFile(dir + QLatin1Char('/') + names.at(i), rgb);
        }
        return names;
    }
    if (ext == QLatin1String("jpg"))
        cameraImage(0).save(first, "JPG", 92);
    else // as phones store them: a grid of 512 x 512 tiles
        fixtures::makeHeicGrid(first, cameraImage(0), 512, 80);
    for (int i = 1; i < kPhotos; ++i)
        QFile::copy(first, dir + QLatin1Char('/') + names.at(i));
    return names;
}

// ---- Per-photo costs ------------------------------------------------------------------------

void BM_BaselineFrameCopy(benchmark::State& state)
{
    std::vector<std::uint8_t> a(std::size_t{kW} * kH * 4, 1), b(a.size(), 2);
    for (auto _ : state) {
        std::memcpy(b.data(), a.data(), a.size());
        benchmark::DoNotOptimize(b.data());
        benchmark::ClobberMemory();
    }
}

void BM_PrepareRawSlot(benchmark::State& state)
{
    const QString path = g_dir + "/rgb/" + photoName(1, "rgb");
    for (auto _ : state)
        benchmark::DoNotOptimize(SetPreparer::prepareRawFrame(path, FrameSize{kW, kH}, kDisplay));
}

// A set's first play: every frame is kept, so each conversion writes into memory not touched before.
void BM_PrepareRawSetFirstPlay(benchmark::State& state)
{
    const QString path = g_dir + "/rgb/" + photoName(1, "rgb");
    for (auto _ : state) {
        std::vector<PhotoImage> set;
        for (int i = 0; i < 15; ++i)
            set.push_back(SetPreparer::prepareRawFrame(path, FrameSize{kW, kH}, kDisplay));
        benchmark::DoNotOptimize(set.data());
        state.PauseTiming();
        set.clear();
        FrameBufferPool::shared().trim();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * 15);
}

void BM_PrepareRawDisplayCopy(benchmark::State& state)
{
    const QString path = g_dir + "/rgb/" + photoName(1, "rgb");
    for (auto _ : state)
        benchmark::DoNotOptimize(SetPreparer::prepareRawDisplay(path, FrameSize{kW, kH}, kDisplay));
}

void BM_PrepareJpegDisplayCopy(benchmark::State& state)
{
    const QString path = g_dir + "/jpg/" + photoName(1, "jpg");
    for (auto _ : state)
        benchmark::DoNotOptimize(SetPreparer::preparePhoto(path, kPrepared));
}

void BM_PrepareHeicDisplayCopy(benchmark::State& state)
{
    const QString path = g_dir + "/heic/" + photoName(1, "heic");
    for (auto _ : state)
        benchmark::DoNotOptimize(SetPreparer::preparePhoto(path, kPrepared));
}

// One HEIC photo's display copy decoded on the calling thread alone: the pace a single core sets.
void BM_PrepareSingleThreadHeic(benchmark::State& state)
{
    const QString path = g_dir + "/heic/" + photoName(1, "heic");
    const int threads = PhotoDecoder::heicDecodingThreads();
    PhotoDecoder::setHeicDecodingThreads(0);
    for (auto _ : state)
        benchmark::DoNotOptimize(SetPreparer::preparePhoto(path, kPrepared));
    PhotoDecoder::setHeicDecodingThreads(threads);
}

// What a tick costs the main thread: painting the prepared copy, against painting the full photo.
void BM_PaintDisplayCopy(benchmark::State& state)
{
    const QImage copy =
        PhotoDecoder::scaledToFit(cameraImage(1).transformed(QTransform().rotate(90)), kDisplay);
    QImage canvas(kDisplay, QImage::Format_RGB32);
    for (auto _ : state) {
        QPainter p(&canvas);
        p.drawImage(QRect(QPoint(0, 0), copy.size()), copy);
    }
}

// Two threads lowered as the preparation pool's are, copying frames while a benchmark runs: the
// cores are as busy as during a first pass.
class BusyPool {
public:
    explicit BusyPool(bool on)
    {
        for (int i = 0; on && i < 2; ++i) {
            threads_.emplace_back([this] {
                ThreadPriority::lowerForBackgroundWork();
                std::vector<std::uint8_t> a(std::size_t{16} << 20, 1), b(a.size());
                while (!stop_.load(std::memory_order_relaxed)) {
                    std::memcpy(b.data(), a.data(), a.size());
                    benchmark::DoNotOptimize(b.data());
                }
            });
        }
    }
    ~BusyPool()
    {
        stop_ = true;
        for (auto& t : threads_)
            t.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
};

// A tick's paint of a JPEG or HEIC copy (twice the display's size) into the display. Argument 0:
// 0 the painter's smooth scaling, which hands its rows to the global pool; 1 the box filter on the
// painting thread that the main display's view uses. Argument 1: 1 with the cores busy.
void BM_PaintCopy(benchmark::State& state)
{
    const QImage copy =
        PhotoDecoder::scaledToFit(cameraImage(1).transformed(QTransform().rotate(90)), kPrepared);
    const bool boxFilter = state.range(0) != 0;
    QImage canvas(kDisplay, QImage::Format_RGB32);
    BusyPool busy(state.range(1) != 0);
    for (auto _ : state) {
        QPainter p(&canvas);
        if (boxFilter) {
            p.drawImage(QPoint(0, 0), PhotoDecoder::scaledToFit(copy, kDisplay));
        } else {
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            p.drawImage(QRect(QPoint(0, 0), PhotoDecoder::fittedSize(copy.size(), kDisplay)), copy);
        }
    }
}

void BM_PaintFullPhotoScaled(benchmark::State& state)
{
    const QImage full = cameraImage(1).transformed(QTransform().rotate(90));
    QImage canvas(kDisplay, QImage::Format_RGB32);
    for (auto _ : state) {
        QPainter p(&canvas);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(QRect(QPoint(0, 0), PhotoDecoder::fittedSize(full.size(), kDisplay)), full);
    }
}

BENCHMARK(BM_BaselineFrameCopy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PrepareRawSlot)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PrepareRawSetFirstPlay)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PrepareRawDisplayCopy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PrepareJpegDisplayCopy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PrepareHeicDisplayCopy)->Unit(benchmark::kMillisecond)->Iterations(4);
BENCHMARK(BM_PrepareSingleThreadHeic)->Unit(benchmark::kMillisecond)->Iterations(4);
BENCHMARK(BM_PaintDisplayCopy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PaintFullPhotoScaled)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PaintCopy)
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->ArgNames({"box", "busy"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Collects the per-benchmark times for the ratio lines.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::vector<std::pair<std::string, double>> times;
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            times.emplace_back(run.benchmark_name(), run.GetAdjustedRealTime());
    }
};

// ---- Playback -------------------------------------------------------------------------------

long residentPeakKb()
{
    QFile f("/proc/self/status");
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

void resetResidentPeak()
{
    QFile f("/proc/self/clear_refs");
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

// A display that paints the way the player widgets do: the prepared copy when there is one, else
// the full photo fitted (decoded on the spot for a file photo).
class BenchDisplay : public PlayerDisplay {
public:
    PlayerEngine* engine = nullptr;
    QImage canvas{kDisplay, QImage::Format_RGB32};
    QElapsedTimer sinceStart;
    bool lastShown = false;
    int pass = 0;
    double firstFrameMs = -1;
    struct Tick {
        int pass;
        bool shown;
        double lateMs;
        int photo;
        double atMs;
        double cpuMs; // the main thread's CPU time so far
    };
    std::vector<Tick> ticks;

    void showImage(int view, const PhotoImage& image) override
    {
        if (view != 1)
            return;
        lastShown = !image.isNull();
        if (image.isNull())
            return;
        const QImage picture = image.bestImage();
        // As the main display's view does: a downscale on this thread, then a plain copy.
        QPainter p(&canvas);
        p.drawImage(QPoint(0, 0), PhotoDecoder::scaledToFit(picture, kDisplay));
        if (firstFrameMs < 0 && !picture.isNull())
            firstFrameMs = static_cast<double>(sinceStart.nsecsElapsed()) / 1e6;
        lastShown = !picture.isNull();
    }
    // Called by every tick right after the photo was handed over.
    void setPhotoNumText(const QString& text) override
    {
        if (text.isEmpty())
            return;
        const double late = static_cast<double>(engine->nowNs() - engine->tickDueNs()) / 1e6;
        ticks.push_back({pass, lastShown, late, text.toInt(),
                         static_cast<double>(sinceStart.nsecsElapsed()) / 1e6, threadCpuMs()});
    }
    void setPlaybackSpeedText(const QString&) override {}
    void setRepeatLabelColour(bool) override {}
    void recreateControllerBar() override { ++pass; }
    void resetSliders() override {}
    void maxOutTheSliderAndImage(const PhotoImage&) override
    {
        engine->state()._transactionToTheNextSetWillOccur = false;
    }
    void setZoomSliderMaximum(float) override {}
    double speedSliderValue() const override { return 1.0; }
    bool toolsPanelShown() const override { return false; }
    void hideFavouriteButtons() override {}
    void showFavouriteButtons() override {}
    float outWidth() const override { return static_cast<float>(kDisplay.width()); }
    QSize preparedPixelSize(int view) const override { return view == 1 ? kPrepared : QSize(294, 392); }
    QSize rawCopyPixelSize() const override { return kDisplay; }
    void playlistPassFinished(const PhotoImage&) override {}
};

QString diskFolder(const QString& ext)
{
    return g_dir + QStringLiteral("/disk-cache-") + ext;
}

struct PlaybackFigures {
    double firstPass = 0, laterPasses = 0;
    int emptyTicks = 0, skipped = 0;
    double firstFrameMs = 0, firstPassPhotosPerSecond = 0, preparedMs = -1;
    long peakMb = 0;
    // Main-thread CPU time from one tick to the next on later passes (what a tick costs, whatever
    // the machine's load): mean and largest.
    double tickCpuMeanMs = 0, tickCpuMaxMs = 0;
    double startBlockedMs = 0;
};

// Plays a set of the kind for g_passes passes (plus the first) with the disk cache in its folder:
// emptied first unless `warm`.
PlaybackFigures playback(const QString& ext, bool warm)
{
    const QStringList names = fixturesFor(ext);
    if (!warm)
        QDir(diskFolder(ext)).removeRecursively();
    // Each kind's peak on its own: the frame buffers an earlier kind left idle go first.
    FrameBufferPool::shared().trim();
    resetResidentPeak();
    BenchDisplay display;
    PlayerEngine engine(&display);
    display.engine = &engine;
    engine.setDiskCache(std::make_shared<PhotoDiskCache>(diskFolder(ext)));
    engine.state()._timerTimeInterval = 1.0f / 30.0f;
    engine.state()._playbackSpeed = 30;
    // The first moment every slot of the set holds its prepared photo (slots found in the cache count).
    PlaybackFigures f;
    auto checkPrepared = [&] {
        if (f.preparedMs >= 0)
            return;
        for (int i = 0; i < kPhotos; ++i) {
            const PhotoImage& slot = engine.state()._image[static_cast<std::size_t>(i)];
            if (slot.isNull() || slot.displayImage().isNull())
                return;
        }
        f.preparedMs = static_cast<double>(display.sinceStart.nsecsElapsed()) / 1e6;
    };
    QObject::connect(&engine, &PlayerEngine::slotPrepared, checkPrepared);
    PlaylistResult result;
    result.symbolicPath = g_dir + QLatin1Char('/') + ext;
    result.sortedList = names;
    result.setIndexes = {0, kPhotos - 1};

    display.sinceStart.start();
    const double cpuBefore = threadCpuMs();
    engine.takePlaylist(result);
    f.startBlockedMs = threadCpuMs() - cpuBefore;
    const int passes = warm ? 1 : g_passes;
    while (display.pass <= passes) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        checkPrepared();
    }
    engine.stopRenderTimer();
    // The peak with everything the set keeps: raw slots get their full frames after their copies.
    engine.waitForPool();
    QCoreApplication::processEvents();
    f.peakMb = residentPeakKb() / 1024;

    auto share = [&](bool firstPass) {
        int all = 0;
        int onTime = 0;
        for (const auto& t : display.ticks) {
            if ((t.pass == 1) != firstPass)
                continue;
            ++all;
            onTime += t.shown && t.lateMs <= 5.0 ? 1 : 0;
        }
        return all == 0 ? 0.0 : 100.0 * onTime / all;
    };
    if (g_listLate) {
        for (const auto& t : display.ticks) {
            if (!t.shown || t.lateMs > 5.0)
                std::fprintf(stderr, "late tick: %s pass %d photo %d at %.1f ms, %s, late %.1f ms\n",
                             qPrintable(ext), t.pass, t.photo, t.atMs, t.shown ? "shown" : "empty", t.lateMs);
        }
    }
    f.firstPass = share(true);
    f.laterPasses = share(false);
    double firstMs = -1, lastMs = -1;
    int previous = 0;
    int previousPass = 0;
    for (const auto& t : display.ticks) {
        f.emptyTicks += t.shown ? 0 : 1;
        // Within a pass the photo number goes up by one at each tick; the set change repeats photo 1.
        if (t.pass != previousPass)
            previous = 0;
        if (t.photo > previous + 1)
            f.skipped += t.photo - previous - 1;
        previous = t.photo;
        previousPass = t.pass;
        if (t.pass == 1) {
            if (firstMs < 0)
                firstMs = t.atMs;
            lastMs = t.atMs;
        }
    }
    int laterTicks = 0;
    for (std::size_t i = 1; i < display.ticks.size(); ++i) {
        if (display.ticks[i].pass < 2 || display.ticks[i - 1].pass < 2)
            continue;
        const double cpu = display.ticks[i].cpuMs - display.ticks[i - 1].cpuMs;
        f.tickCpuMeanMs += cpu;
        f.tickCpuMaxMs = std::max(f.tickCpuMaxMs, cpu);
        ++laterTicks;
    }
    if (laterTicks > 0)
        f.tickCpuMeanMs /= laterTicks;
    f.firstFrameMs = display.firstFrameMs;
    if (lastMs > firstMs)
        f.firstPassPhotosPerSecond = (kPhotos - 1) / ((lastMs - firstMs) / 1000.0);
    return f;
}

double loadAverage()
{
    QFile loadavg("/proc/loadavg");
    return loadavg.open(QIODevice::ReadOnly) ? loadavg.readAll().split(' ').first().toDouble() : 0.0;
}

void report(const QString& ext, const PlaybackFigures& cold, const PlaybackFigures& warm, double decodeMs)
{
    std::printf(
        "%-5s [load %.1f] on time: first pass %5.1f%%, later passes %5.1f%%, warm disk cache (new "
        "process) %5.1f%% | empty ticks %d (warm %d) | skipped %d | first frame %7.1f ms (%.2f ticks; "
        "warm %.1f ms) | set prepared %7.1f ms | first pass %.1f photos/s",
        qPrintable(ext), loadAverage(), cold.firstPass, cold.laterPasses, warm.firstPass, cold.emptyTicks,
        warm.emptyTicks, cold.skipped + warm.skipped, cold.firstFrameMs, cold.firstFrameMs / kPeriodMs,
        warm.firstFrameMs, cold.preparedMs, cold.firstPassPhotosPerSecond);
    if (decodeMs > 0)
        std::printf(" = %.2f x one photo's decode (%.1f ms)",
                    cold.firstPassPhotosPerSecond * decodeMs / 1000.0, decodeMs);
    std::printf(
        " | set start on the main thread %.2f ms CPU | later passes: main-thread CPU per tick mean %.2f ms, "
        "max %.2f ms | peak RSS %ld MB (warm %ld MB)\n",
        cold.startBlockedMs, cold.tickCpuMeanMs, cold.tickCpuMaxMs, cold.peakMb, warm.peakMb);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        const std::string a = argv[i];
        if (a.rfind("--passes=", 0) == 0)
            g_passes = std::stoi(a.substr(9));
        else if (a.rfind("--fixtures=", 0) == 0)
            g_dir = QString::fromStdString(a.substr(11));
        else if (a == "--late")
            g_listLate = true;
        else if (a == "--warm-child")
            g_warmChild = true;
        else if (a.rfind("--kinds=", 0) == 0)
            g_kinds = QString::fromStdString(a.substr(8)).split(QLatin1Char(','), Qt::SkipEmptyParts);
        else
            args.push_back(argv[i]);
    }
    int qtArgc = 1;
    QGuiApplication app(qtArgc, argv);
    for (const QString& kind : {QStringLiteral("jpg"), QStringLiteral("heic"), QStringLiteral("rgb")})
        fixturesFor(kind);

    int benchArgc = static_cast<int>(args.size());
    benchmark::Initialize(&benchArgc, args.data());
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    double baseline = 0;
    for (const auto& [name, t] : reporter.times) {
        if (name.find("Baseline") != std::string::npos)
            baseline = t;
    }
    if (baseline > 0) {
        std::printf("\nratios to BM_BaselineFrameCopy (time / baseline time; lower is faster):\n");
        for (const auto& [name, t] : reporter.times)
            std::printf("  %-28s %7.2f\n", name.c_str(), t / baseline);
    }

    // The warm run: a new process over the disk cache the cold run left.
    if (g_warmChild) {
        const PlaybackFigures f = playback(g_kinds.first(), true);
        std::printf("warm %f %d %d %f %ld\n", f.firstPass, f.emptyTicks, f.skipped, f.firstFrameMs, f.peakMb);
        return 0;
    }
    std::printf("\nplayback at 30 photos per second, %d photos of %d x %d, %d passes, tick period %.1f ms:\n",
                kPhotos, kW, kH, g_passes, kPeriodMs);
    for (const QString& kind : g_kinds) {
        const PlaybackFigures cold = playback(kind, false);
        PlaybackFigures warm;
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--warm-child"), QStringLiteral("--kinds=") + kind,
                     QStringLiteral("--fixtures=") + g_dir, QStringLiteral("--benchmark_filter=^$"),
                     g_listLate ? QStringLiteral("--late") : QStringLiteral("--passes=1")});
        child.waitForFinished(300000);
        for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
            if (line.startsWith("warm ")) {
                const QList<QByteArray> v = line.split(' ');
                warm.firstPass = v.value(1).toDouble();
                warm.emptyTicks = v.value(2).toInt();
                warm.skipped = v.value(3).toInt();
                warm.firstFrameMs = v.value(4).toDouble();
                warm.peakMb = v.value(5).toLong();
            }
        }
        double decodeMs = 0;
        for (const auto& [name, t] : reporter.times) {
            if (kind == QLatin1String("heic") && name.find("SingleThreadHeic") != std::string::npos)
                decodeMs = t;
        }
        report(kind, cold, warm, decodeMs);
    }
    benchmark::Shutdown();
    return 0;
}
