// Playback of a set of camera-size photos (12 MP, with sensor noise) at 30 photos per second, for
// JPEG, HEIC and raw RGB sets, portrait and landscape, at pixel ratio 1 and 2, through the program's
// own display (PlayerUi: its copy sizes, its zoom, its image view's paint) on the offscreen
// platform; and the per-photo preparation steps behind it.
//
//   bench_player [--benchmark_filter=...] [--passes=N] [--photos=N] [--fixtures=DIR]
//                [--kinds=jpg,heic,rgb] [--orientations=portrait,landscape] [--ratios=1,2] [--late]
//
// The Google Benchmark table reports per-photo costs with their ratio to a 48.8 MB frame copy
// measured in the same run. The playback report that follows gives, per kind, orientation and pixel
// ratio (each played in a process of its own): the share of ticks whose photo was on the display
// within 5 ms of its due time (first pass, later passes, and the first pass of a new process over the
// disk cache the first run filled), photos per second over the first pass and over later passes
// against the 30 chosen (from the pass's first photo on screen to one period after its last), the
// pre-roll (set start to first photo), ticks that showed an empty display, photos skipped, paints
// of a copy stretched more than 1.25 times, larger copies asked for, the time until every slot was
// prepared, and the peak resident memory. Portrait raw sets are 4032 x 3024 sensor frames (turned
// upright), landscape ones 3840 x 2160. HEIC photos are grids of 512 x 512 tiles.

#include "decode/FrameBufferPool.h"
#include "platform/ThreadPriority.h"
#include "player/PhotoDecoder.h"
#include "player/PhotoDiskCache.h"
#include "player/PhotoImage.h"
#include "player/PlayerDisplay.h"
#include "player/PlayerEngine.h"
#include "player/SetPreparer.h"

#include "platform/ContainerView.h"
#include "ui/ImageView.h"
#include "ui/PlayerUi.h"
#include "ui/ScreenMetrics.h"

#include "HeicGridFixture.h"
#include "PlayerFixtures.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
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
constexpr double kPeriodMs = 1000.0 / 30.0;
const QSize kDisplay(588, 784); // the main display of a 1440 x 900 screen, in points
// What the player's view 1 asks for a portrait camera photo at ratio 1 (zoomed to twice the display).
const QSize kPrepared(2 * 588, 2 * 784);

QString g_dir = QDir::tempPath() + QStringLiteral("/qr-bench-player");
int g_passes = 3;
int g_photos = 20;
QStringList g_kinds{"jpg", "heic", "rgb"};
QStringList g_orientations{"portrait", "landscape"};
QList<int> g_ratios{1, 2};
QString g_play; // --play=KIND,ORIENTATION,RATIO: this process plays one set and prints its figures
bool g_warm = false;
bool g_listLate = false; // --late: list the ticks that were late or empty

// A camera-like picture: gradients with sensor noise, in brightness as a camera's.
QImage cameraImage(int seed, QSize size = QSize(kW, kH))
{
    QImage image(size, QImage::Format_RGB32);
    std::uint32_t x = 12345u + static_cast<std::uint32_t>(seed);
    for (int y = 0; y < size.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int c = 0; c < size.width(); ++c) {
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

QString fixtureDir(const QString& ext, bool portrait)
{
    return g_dir + QLatin1Char('/') + ext +
           (portrait ? QStringLiteral("-portrait") : QStringLiteral("-landscape"));
}

// Makes the photos of a kind and orientation once; later runs reuse them. A raw portrait photo is a
// 4032 x 3024 sensor frame, which the player turns upright; a landscape one is 3840 x 2160.
QStringList fixturesFor(const QString& ext, bool portrait)
{
    const QString dir = fixtureDir(ext, portrait);
    QDir().mkpath(dir);
    QStringList names;
    for (int i = 1; i <= g_photos; ++i)
        names.append(photoName(i, ext));
    if (QFile::exists(dir + QLatin1Char('/') + names.last()))
        return names;
    std::fprintf(stderr, "making %s fixtures in %s ...\n", qPrintable(ext), qPrintable(dir));
    if (ext == QLatin1String("rgb")) {
        const QSize size = portrait ? QSize(kW, kH) : QSize(3840, 2160);
        const QImage image = cameraImage(0, size);
        QByteArray rgb(qsizetype{size.width()} * size.height() * 3, Qt::Uninitialized);
        for (int i = 0; i < g_photos; ++i) {
            char* p = rgb.data();
            for (int y = 0; y < size.height(); ++y) {
                const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
                for (int c = 0; c < size.width(); ++c) {
                    *p++ = static_cast<char>(qRed(line[c]) + i);
                    *p++ = static_cast<char>(qGreen(line[c]));
                    *p++ = static_cast<char>(qBlue(line[c]));
                }
            }
            fixtures::writeFile(dir + QLatin1Char('/') + names.at(i), rgb);
        }
        return names;
    }
    // Every photo of its own content, as a burst is: a decoded photo is never another's copy.
    for (int i = 0; i < g_photos; ++i) {
        const QImage image = cameraImage(i, portrait ? QSize(kH, kW) : QSize(kW, kH));
        const QString path = dir + QLatin1Char('/') + names.at(i);
        if (ext == QLatin1String("jpg"))
            image.save(path, "JPG", 92);
        else // as phones store them: a grid of 512 x 512 tiles
            fixtures::makeHeicGrid(path, image, 512, 80);
    }
    return names;
}

// The first portrait photo of a kind, made when missing.
QString fixtureFile(const QString& ext)
{
    return fixtureDir(ext, true) + QLatin1Char('/') + fixturesFor(ext, true).first();
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
    const QString path = fixtureFile("rgb");
    for (auto _ : state)
        benchmark::DoNotOptimize(SetPreparer::prepareRawFrame(path, FrameSize{kW, kH}, kDisplay));
}

// A set's first play: every frame is kept, so each conversion writes into memory not touched before.
void BM_PrepareRawSetFirstPlay(benchmark::State& state)
{
    const QString path = fixtureFile("rgb");
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
    const QString path = fixtureFile("rgb");
    for (auto _ : state)
        benchmark::DoNotOptimize(SetPreparer::prepareRawDisplay(path, FrameSize{kW, kH}, kDisplay));
}

// A portrait JPEG's copy for the default view at pixel ratio 1 (argument 1) or 2 (argument 2):
// 1176 x 1568 decoded at 1/2, 2352 x 3136 at 7/8 of the photo.
void BM_PrepareJpegDisplayCopy(benchmark::State& state)
{
    const QString path = fixtureFile("jpg");
    const QSize box =
        PlayerUi::defaultViewPixelSize(QSize(kH, kW), kDisplay, static_cast<double>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(SetPreparer::preparePhoto(path, box));
}

void BM_PrepareHeicDisplayCopy(benchmark::State& state)
{
    const QString path = fixtureFile("heic");
    for (auto _ : state)
        benchmark::DoNotOptimize(SetPreparer::preparePhoto(path, kPrepared));
}

// One HEIC photo's display copy decoded on the calling thread alone: the pace a single core sets.
void BM_PrepareSingleThreadHeic(benchmark::State& state)
{
    const QString path = fixtureFile("heic");
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
BENCHMARK(BM_PrepareJpegDisplayCopy)->Arg(1)->Arg(2)->ArgName("ratio")->Unit(benchmark::kMillisecond);
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

// The player's own display, watched: every photo handed to view 1 is painted at once (as the event
// loop would paint it next), and every tick is recorded with how late its photo was on screen.
class BenchUi : public PlayerUi {
public:
    using PlayerUi::PlayerUi;
    PlayerEngine* engine = nullptr;
    QElapsedTimer sinceStart;
    bool lastShown = false;
    int pass = 0;
    double firstFrameMs = -1;
    int stretchedPaints = 0;
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
        PlayerUi::showImage(view, image);
        if (view != 1)
            return;
        ImageView* iv = panels().imageView(1);
        lastShown = iv && !iv->image().isNull();
        if (!lastShown)
            return;
        iv->repaint();
        // How many device pixels the view paints per pixel of the copy it holds (a photo's own
        // pixels may be shown larger: a raw frame at 1:1 on a high-density screen).
        const double stretch = iv->imageRect().width() * iv->devicePixelRatioF() / iv->image().width();
        stretchedPaints +=
            stretch > PlayerUi::kMaxStretch + 1e-6 && iv->image().width() < image.width() ? 1 : 0;
        if (firstFrameMs < 0)
            firstFrameMs = static_cast<double>(sinceStart.nsecsElapsed()) / 1e6;
    }
    // Called by every tick right after the photo was handed over.
    void setPhotoNumText(const QString& text) override
    {
        PlayerUi::setPhotoNumText(text);
        if (text.isEmpty())
            return;
        const double late = static_cast<double>(engine->nowNs() - engine->tickDueNs()) / 1e6;
        ticks.push_back({pass, lastShown, late, text.toInt(),
                         static_cast<double>(sinceStart.nsecsElapsed()) / 1e6, threadCpuMs()});
    }
    // The sliders go back to their start at every set start (with the new bar, and when the set
    // changes); the speed chosen stays 30 photos per second, as the program restores it at the move to
    // the next set.
    void recreateControllerBar() override
    {
        PlayerUi::recreateControllerBar();
        keepSpeed();
        ++pass;
    }
    void resetSliders() override
    {
        PlayerUi::resetSliders();
        keepSpeed();
    }
    void keepSpeed()
    {
        engine->state()._timerTimeInterval = 1.0f / 30.0f;
        engine->state()._playbackSpeed = 30;
    }
    double speedSliderValue() const override { return 1.0; }
};

struct PlaybackFigures {
    double firstPass = 0, laterPasses = 0;
    double firstPassPhotosPerSecond = 0, laterPhotosPerSecond = 0;
    int emptyTicks = 0, skipped = 0, stretchedPaints = 0, largerAsked = 0;
    double firstFrameMs = 0, preparedMs = -1;
    long peakMb = 0;
    // Main-thread CPU time from one tick to the next on later passes (what a tick costs, whatever
    // the machine's load): mean and largest.
    double tickCpuMeanMs = 0, tickCpuMaxMs = 0;
};

// Plays a set of the kind for g_passes passes (one when `warm`) through PlayerUi on a screen of
// pixel ratio `ratio` (the process runs with QT_SCALE_FACTOR set to it), with the disk cache in its
// folder: emptied first unless `warm`.
PlaybackFigures playback(const QString& ext, bool portrait, int ratio, bool warm)
{
    const QStringList names = fixturesFor(ext, portrait);
    const QString disk = fixtureDir(ext, portrait) + QStringLiteral("-disk-cache-%1").arg(ratio);
    if (!warm)
        QDir(disk).removeRecursively();
    // A 1920 x 1080 screen at ratio 1, a 2880 x 1800 one at ratio 2 (its menu bar 24 points high).
    ScreenMetrics metrics = ratio == 2 ? ScreenMetricsCalc::compute({2.0f, 1440, 900, 1440, 875, 24})
                                       : ScreenMetricsCalc::compute({1.0f, 1920, 1080, 1920, 1080, 22});
    QWidget window;
    auto* container = new ContainerView(&window);
    window.resize(metrics.screenWidth, static_cast<int>(metrics.outHeight));
    container->setGeometry(0, 0, metrics.screenWidth, static_cast<int>(metrics.outHeight));
    BenchUi ui(container, &metrics);
    PlayerEngine engine(&ui);
    ui.engine = &engine;
    ui.setEngine(&engine);
    ui.setLayoutModeSource([] { return LayoutMode{true, false, 2, false}; });
    ui.configRenderView1();
    ui.configRenderView2();
    ui.configRenderView3();
    ui.configRenderView4();
    PlayerControls& c = ui.controls();
    c._toolsEn = true;
    c.configSliders();
    c.configView1Labels();
    window.show();
    QCoreApplication::processEvents();

    engine.setDiskCache(std::make_shared<PhotoDiskCache>(disk));
    engine.state()._timerTimeInterval = 1.0f / 30.0f;
    engine.state()._playbackSpeed = 30;
    PlaybackFigures f;
    QObject::connect(&engine.pipeline(), &PreparationPipeline::largerReady, [&] { ++f.largerAsked; });
    // The first moment every slot of the set holds its prepared photo (slots found in the cache count).
    auto checkPrepared = [&] {
        if (f.preparedMs >= 0)
            return;
        for (int i = 0; i < g_photos; ++i) {
            const PhotoImage& slot = engine.state()._image[static_cast<std::size_t>(i)];
            if (slot.isNull() || slot.displayImage().isNull())
                return;
        }
        f.preparedMs = static_cast<double>(ui.sinceStart.nsecsElapsed()) / 1e6;
    };
    QObject::connect(&engine, &PlayerEngine::slotPrepared, checkPrepared);
    PlaylistResult result;
    result.symbolicPath = fixtureDir(ext, portrait);
    result.sortedList = names;
    result.setIndexes = {0, g_photos - 1};

    ui.sinceStart.start();
    engine.takePlaylist(result);
    const int passes = warm ? 1 : g_passes;
    while (ui.pass <= passes) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        checkPrepared();
    }
    engine.stopRenderTimer();
    // The peak with everything the set keeps: raw slots get their full frames after their copies.
    engine.waitForPool();
    QCoreApplication::processEvents();
    f.peakMb = residentPeakKb() / 1024;
    f.stretchedPaints = ui.stretchedPaints;

    const auto& ticks = ui.ticks;
    auto share = [&](bool firstPass) {
        int all = 0;
        int onTime = 0;
        for (const auto& t : ticks) {
            if ((t.pass == 1) != firstPass)
                continue;
            ++all;
            onTime += t.shown && t.lateMs <= 5.0 ? 1 : 0;
        }
        return all == 0 ? 0.0 : 100.0 * onTime / all;
    };
    if (g_listLate) {
        for (const auto& t : ticks) {
            if (!t.shown || t.lateMs > 5.0)
                std::fprintf(stderr, "late tick: %s pass %d photo %d at %.1f ms, %s, late %.1f ms\n",
                             qPrintable(ext), t.pass, t.photo, t.atMs, t.shown ? "shown" : "empty", t.lateMs);
        }
    }
    f.firstPass = share(true);
    f.laterPasses = share(false);
    // Photos per second over a pass: its photos over the time from its first photo on screen to one
    // period after its last (the last photo stays up for a period).
    std::vector<double> firstAt(static_cast<std::size_t>(passes) + 2, -1), lastAt(firstAt.size(), -1);
    int previous = 0;
    int previousPass = 0;
    for (const auto& t : ticks) {
        f.emptyTicks += t.shown ? 0 : 1;
        // Within a pass the photo number goes up by one at each tick; the set change repeats photo 1.
        if (t.pass != previousPass)
            previous = 0;
        if (t.photo > previous + 1)
            f.skipped += t.photo - previous - 1;
        previous = t.photo;
        previousPass = t.pass;
        const auto p = static_cast<std::size_t>(std::clamp(t.pass, 0, passes + 1));
        if (firstAt[p] < 0)
            firstAt[p] = t.atMs;
        lastAt[p] = t.atMs;
    }
    auto rate = [&](std::size_t p) {
        return firstAt[p] < 0 ? 0.0 : g_photos / ((lastAt[p] - firstAt[p] + kPeriodMs) / 1000.0);
    };
    f.firstPassPhotosPerSecond = rate(1);
    int later = 0;
    for (std::size_t p = 2; p <= static_cast<std::size_t>(passes); ++p) {
        if (firstAt[p] >= 0) {
            f.laterPhotosPerSecond += rate(p);
            ++later;
        }
    }
    if (later > 0)
        f.laterPhotosPerSecond /= later;
    int laterTicks = 0;
    for (std::size_t i = 1; i < ticks.size(); ++i) {
        if (ticks[i].pass < 2 || ticks[i - 1].pass < 2)
            continue;
        const double cpu = ticks[i].cpuMs - ticks[i - 1].cpuMs;
        f.tickCpuMeanMs += cpu;
        f.tickCpuMaxMs = std::max(f.tickCpuMaxMs, cpu);
        ++laterTicks;
    }
    if (laterTicks > 0)
        f.tickCpuMeanMs /= laterTicks;
    f.firstFrameMs = ui.firstFrameMs;
    return f;
}

double loadAverage()
{
    QFile loadavg("/proc/loadavg");
    return loadavg.open(QIODevice::ReadOnly) ? loadavg.readAll().split(' ').first().toDouble() : 0.0;
}

QString figuresLine(const PlaybackFigures& f)
{
    return QStringLiteral("figures %1 %2 %3 %4 %5 %6 %7 %8 %9 %10 %11 %12 %13")
        .arg(f.firstPass)
        .arg(f.laterPasses)
        .arg(f.firstPassPhotosPerSecond)
        .arg(f.laterPhotosPerSecond)
        .arg(f.emptyTicks)
        .arg(f.skipped)
        .arg(f.stretchedPaints)
        .arg(f.largerAsked)
        .arg(f.firstFrameMs)
        .arg(f.preparedMs)
        .arg(f.peakMb)
        .arg(f.tickCpuMeanMs)
        .arg(f.tickCpuMaxMs);
}

PlaybackFigures parseFigures(const QByteArray& output)
{
    PlaybackFigures f;
    for (const QByteArray& line : output.split('\n')) {
        if (!line.startsWith("figures "))
            continue;
        const QList<QByteArray> v = line.split(' ');
        f.firstPass = v.value(1).toDouble();
        f.laterPasses = v.value(2).toDouble();
        f.firstPassPhotosPerSecond = v.value(3).toDouble();
        f.laterPhotosPerSecond = v.value(4).toDouble();
        f.emptyTicks = v.value(5).toInt();
        f.skipped = v.value(6).toInt();
        f.stretchedPaints = v.value(7).toInt();
        f.largerAsked = v.value(8).toInt();
        f.firstFrameMs = v.value(9).toDouble();
        f.preparedMs = v.value(10).toDouble();
        f.peakMb = v.value(11).toLong();
        f.tickCpuMeanMs = v.value(12).toDouble();
        f.tickCpuMaxMs = v.value(13).toDouble();
    }
    return f;
}

// One playback in a process of its own, at its pixel ratio.
PlaybackFigures playInChild(const QString& kind, const QString& orientation, int ratio, bool warm)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_SCALE_FACTOR"), QString::number(ratio));
    child.setProcessEnvironment(env);
    QStringList args{QStringLiteral("--play=%1,%2,%3").arg(kind, orientation).arg(ratio),
                     QStringLiteral("--fixtures=") + g_dir, QStringLiteral("--benchmark_filter=^$"),
                     QStringLiteral("--passes=%1").arg(g_passes),
                     QStringLiteral("--photos=%1").arg(g_photos)};
    if (warm)
        args << QStringLiteral("--warm");
    if (g_listLate)
        args << QStringLiteral("--late");
    child.start(QCoreApplication::applicationFilePath(), args);
    child.waitForFinished(600000);
    return parseFigures(child.readAllStandardOutput());
}

void report(const QString& kind, const QString& orientation, int ratio, const PlaybackFigures& cold,
            const PlaybackFigures& warm)
{
    std::printf("%-4s %-9s ratio %d [load %.1f] on time: first pass %5.1f%%, later %5.1f%%, warm disk cache "
                "(new process) %5.1f%% | photos/s of 30: first pass %.1f (%.0f%%), later %.1f (%.0f%%), warm "
                "%.1f | pre-roll %.0f ms | empty ticks %d (warm %d) | skipped %d | stretched paints %d | "
                "larger copies %d | set prepared %.0f ms | tick CPU mean %.2f ms, max %.2f ms | peak RSS %ld "
                "MB (warm %ld MB)\n",
                qPrintable(kind), qPrintable(orientation), ratio, loadAverage(), cold.firstPass,
                cold.laterPasses, warm.firstPass, cold.firstPassPhotosPerSecond,
                100.0 * cold.firstPassPhotosPerSecond / 30.0, cold.laterPhotosPerSecond,
                100.0 * cold.laterPhotosPerSecond / 30.0, warm.firstPassPhotosPerSecond, cold.firstFrameMs,
                cold.emptyTicks, warm.emptyTicks, cold.skipped + warm.skipped,
                cold.stretchedPaints + warm.stretchedPaints, cold.largerAsked + warm.largerAsked,
                cold.preparedMs, cold.tickCpuMeanMs, cold.tickCpuMaxMs, cold.peakMb, warm.peakMb);
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
        else if (a.rfind("--photos=", 0) == 0)
            g_photos = std::clamp(std::stoi(a.substr(9)), 10, PlayerState::kShownSlots);
        else if (a.rfind("--fixtures=", 0) == 0)
            g_dir = QString::fromStdString(a.substr(11));
        else if (a == "--late")
            g_listLate = true;
        else if (a == "--warm")
            g_warm = true;
        else if (a.rfind("--play=", 0) == 0)
            g_play = QString::fromStdString(a.substr(7));
        else if (a.rfind("--kinds=", 0) == 0)
            g_kinds = QString::fromStdString(a.substr(8)).split(QLatin1Char(','), Qt::SkipEmptyParts);
        else if (a.rfind("--orientations=", 0) == 0)
            g_orientations = QString::fromStdString(a.substr(15)).split(QLatin1Char(','), Qt::SkipEmptyParts);
        else if (a.rfind("--ratios=", 0) == 0) {
            g_ratios.clear();
            for (const QString& r :
                 QString::fromStdString(a.substr(9)).split(QLatin1Char(','), Qt::SkipEmptyParts))
                g_ratios << r.toInt();
        } else
            args.push_back(argv[i]);
    }
    int qtArgc = 1;
    QApplication app(qtArgc, argv);

    if (!g_play.isEmpty()) {
        const QStringList p = g_play.split(QLatin1Char(','));
        const PlaybackFigures f =
            playback(p.value(0), p.value(1) == QLatin1String("portrait"), p.value(2).toInt(), g_warm);
        std::printf("%s\n", qPrintable(figuresLine(f)));
        return 0;
    }
    for (const QString& kind : g_kinds)
        for (const QString& orientation : g_orientations)
            fixturesFor(kind, orientation == QLatin1String("portrait"));

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

    std::printf("\nplayback at 30 photos per second, sets of %d camera-size photos, %d passes, tick period "
                "%.1f ms, each in a process of its own:\n",
                g_photos, g_passes, kPeriodMs);
    for (const QString& kind : g_kinds) {
        for (const QString& orientation : g_orientations) {
            for (const int ratio : g_ratios) {
                const PlaybackFigures cold = playInChild(kind, orientation, ratio, false);
                const PlaybackFigures warm = playInChild(kind, orientation, ratio, true);
                report(kind, orientation, ratio, cold, warm);
            }
        }
    }
    benchmark::Shutdown();
    return 0;
}
