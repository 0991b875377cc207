// The playlist pass's raw frame stage: decompressing `.rgb2` frames of 4032 x 3024 into `.rgb` files,
// against copying the same output bytes with `cp` in the same run.
//
//   bench_pass [--benchmark_filter=...] [--frames=N] [--fixtures=DIR]
//
// BM_CpOutput copies the N decompressed frames with one `cp` (BM_CpOutputThenSync also flushes the
// copies to disk, as the pass flushes the files it writes before removing their sources);
// BM_DecompressFrames runs the pass's stage (Playlist::decompressFrames, settling included) over the
// N compressed frames; BM_DecompressOneAtATime does the same work one frame after the other (read,
// decode into a fresh buffer, write, flush, delete), as a single thread would.
// BM_InterleavedRatios runs them back to back per iteration and reports the medians of the ratios
// to cp: the figure to read on a shared machine. There the pass is timed twice: to the hand-over
// (every `.rgb` written, as the player gets its playlist: pass_over_cp) and to the end of its
// settling (every `.rgb` flushed and its `.rgb2` removed, which the player does in the background;
// run here straight after the hand-over: pass_settled_over_cp, pass_settled_over_cp_sync). The pass's
// workers keep their buffers in the shared frame-buffer pool from pass to pass; pass_cold_over_cp is
// the hand-over of a pass that finds the pool empty, as the first of a process does. The ratios of
// the separate runs follow the table, with the load average before and after.

#include "decode/FrameBufferPool.h"
#include "decode/Lz4FrameDecoder.h"
#include "decode/Lz4FrameEncoder.h"
#include "platform/ReplacingFile.h"
#include "player/Playlist.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

using namespace qr;

namespace {

constexpr int kW = 4032;
constexpr int kH = 3024;
constexpr qint64 kFrameBytes = qint64{kW} * kH * 3;

QString g_dir = QDir::tempPath() + QStringLiteral("/qr-bench-pass");
int g_frames = 12;

QString frameName(int i, const char* ext)
{
    return QStringLiteral("kro_01_%1_01.%2").arg(i, 3, 10, QLatin1Char('0')).arg(QLatin1String(ext));
}

// A camera-like frame: gradients with sensor noise, so that LZ4 finds about as little to gain as in
// a photo.
QByteArray cameraFrame(int seed)
{
    QByteArray rgb(kFrameBytes, Qt::Uninitialized);
    auto* p = reinterpret_cast<std::uint8_t*>(rgb.data());
    std::uint32_t x = 12345u + static_cast<std::uint32_t>(seed);
    for (int y = 0; y < kH; ++y) {
        for (int c = 0; c < kW; ++c) {
            x = x * 1664525u + 1013904223u;
            const int n = static_cast<int>(x >> 28) - 8;
            *p++ = static_cast<std::uint8_t>(std::clamp(c / 16 + n + seed, 0, 255));
            *p++ = static_cast<std::uint8_t>(std::clamp(y / 12 + n, 0, 255));
            *p++ = static_cast<std::uint8_t>(std::clamp((c + y) / 28 + n, 0, 255));
        }
    }
    return rgb;
}

// `<dir>/packed` holds the compressed frames, `<dir>/plain` the same frames decompressed; made once.
void makeFixtures()
{
    QDir().mkpath(g_dir + "/packed");
    QDir().mkpath(g_dir + "/plain");
    for (int i = 1; i <= g_frames; ++i) {
        const QString packed = g_dir + "/packed/" + frameName(i, "rgb2");
        const QString plain = g_dir + "/plain/" + frameName(i, "rgb");
        if (QFile::exists(packed) && QFile(plain).size() == kFrameBytes)
            continue;
        std::fprintf(stderr, "making frame %d of %d in %s ...\n", i, g_frames, qPrintable(g_dir));
        const QByteArray frame = cameraFrame(i);
        const QByteArray encoded = Lz4FrameEncoder::encode(frame);
        writeFileReplacing(plain, std::span(reinterpret_cast<const std::uint8_t*>(frame.constData()),
                                            static_cast<std::size_t>(frame.size())));
        writeFileReplacing(packed, std::span(reinterpret_cast<const std::uint8_t*>(encoded.constData()),
                                             static_cast<std::size_t>(encoded.size())));
    }
}

// An empty work folder holding hard links to the compressed frames (the pass deletes the links).
QString freshWorkFolder(bool withFrames)
{
    const QString work = g_dir + "/work";
    QDir(work).removeRecursively();
    QDir().mkpath(work);
    if (withFrames) {
        for (int i = 1; i <= g_frames; ++i) {
            const QByteArray from = QFile::encodeName(g_dir + "/packed/" + frameName(i, "rgb2"));
            const QByteArray to = QFile::encodeName(work + "/" + frameName(i, "rgb2"));
            if (::link(from.constData(), to.constData()) != 0)
                return {};
        }
    }
    return work;
}

void setBytes(benchmark::State& state)
{
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * g_frames * kFrameBytes);
}

bool runCp(const QString& work)
{
    QStringList args;
    for (int i = 1; i <= g_frames; ++i)
        args.append(g_dir + "/plain/" + frameName(i, "rgb"));
    return QProcess::execute(QStringLiteral("cp"), args + QStringList{work}) == 0;
}

// cp, then the copies flushed to disk, as the pass's writer flushes each file before renaming it.
bool runCpSync(const QString& work)
{
    if (!runCp(work))
        return false;
    QStringList copies;
    for (int i = 1; i <= g_frames; ++i)
        copies.append(work + "/" + frameName(i, "rgb"));
    return QProcess::execute(QStringLiteral("sync"), copies) == 0;
}

bool runPass(const QString& work)
{
    return Playlist::decompressFrames(work) == g_frames;
}

bool runOneAtATime(const QString& work)
{
    for (int i = 1; i <= g_frames; ++i) {
        const QString source = work + "/" + frameName(i, "rgb2");
        QFile in(source);
        if (!in.open(QIODevice::ReadOnly))
            return false;
        const QByteArray bytes = in.readAll();
        in.close();
        const FrameBuffer frame = Lz4FrameDecoder::decode(
            std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()), bytes.size()));
        if (!writeFileReplacing(work + "/" + frameName(i, "rgb"), frame.span()))
            return false;
        QFile::remove(source);
    }
    return true;
}

template <bool (*Run)(const QString&), bool WithFrames> void timed(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        const QString work = freshWorkFolder(WithFrames);
        state.ResumeTiming();
        if (!Run(work))
            state.SkipWithError("failed");
    }
    setBytes(state);
}

// Processor time (user and system) of this process and of its finished children, in seconds.
double cpuSeconds(int who)
{
    rusage u{};
    getrusage(who, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Cost {
    double wall = 0;
    double cpu = 0;
};

Cost seconds(bool (*run)(const QString&), bool withFrames, bool& ok)
{
    const QString work = freshWorkFolder(withFrames);
    const double cpu0 = cpuSeconds(RUSAGE_SELF) + cpuSeconds(RUSAGE_CHILDREN);
    QElapsedTimer clock;
    clock.start();
    ok = run(work) && ok;
    const double wall = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    return {wall, cpuSeconds(RUSAGE_SELF) + cpuSeconds(RUSAGE_CHILDREN) - cpu0};
}

// The pass to its hand-over, and on to the end of its settling. `cold`: as the first pass of a
// process, with no idle frame buffers to take (their pages are faulted in anew).
std::pair<Cost, Cost> passSeconds(bool& ok, bool cold = false)
{
    const QString work = freshWorkFolder(true);
    if (cold)
        FrameBufferPool::shared().trim();
    const double cpu0 = cpuSeconds(RUSAGE_SELF);
    QElapsedTimer clock;
    clock.start();
    QList<DecompressedFrame> unsettled;
    ok = Playlist::decompressFrames(work, {}, {}, &unsettled) == g_frames && ok;
    const Cost handOver{static_cast<double>(clock.nsecsElapsed()) / 1e9, cpuSeconds(RUSAGE_SELF) - cpu0};
    ok = Playlist::settleDecompressed(work, unsettled) == g_frames && ok;
    return {handOver, {static_cast<double>(clock.nsecsElapsed()) / 1e9, cpuSeconds(RUSAGE_SELF) - cpu0}};
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : (v.size() % 2 ? v[v.size() / 2] : 0.5 * (v[v.size() / 2 - 1] + v[v.size() / 2]));
}

// The three measured back to back in every iteration, in turn, so that a change of load on a shared
// machine touches all of them alike; the counters are the medians of the per-iteration ratios.
void BM_InterleavedRatios(benchmark::State& state)
{
    std::vector<double> pass, oneAtATime, passCpu, oneCpu, settled, settledSync, cold;
    bool ok = true;
    for (auto _ : state) {
        const Cost cp = seconds(runCp, false, ok);
        const auto [p, e] = passSeconds(ok);
        const Cost s = seconds(runCpSync, false, ok);
        const Cost o = seconds(runOneAtATime, true, ok);
        const Cost c = passSeconds(ok, true).first;
        const Cost cp2 = seconds(runCp, false, ok);
        state.SetIterationTime(cp.wall + e.wall + s.wall + o.wall + c.wall + cp2.wall);
        cold.push_back(2 * c.wall / (cp.wall + cp2.wall));
        settled.push_back(2 * e.wall / (cp.wall + cp2.wall));
        settledSync.push_back(e.wall / s.wall);
        pass.push_back(2 * p.wall / (cp.wall + cp2.wall));
        oneAtATime.push_back(2 * o.wall / (cp.wall + cp2.wall));
        passCpu.push_back(2 * p.cpu / (cp.cpu + cp2.cpu));
        oneCpu.push_back(2 * o.cpu / (cp.cpu + cp2.cpu));
    }
    if (!ok)
        state.SkipWithError("failed");
    // Elapsed time, the figure that counts; and processor time, which a busy machine disturbs less.
    state.counters["pass_over_cp"] = median(pass);
    state.counters["one_at_a_time_over_cp"] = median(oneAtATime);
    state.counters["pass_cpu_over_cp"] = median(passCpu);
    state.counters["pass_cold_over_cp"] = median(cold);
    state.counters["pass_settled_over_cp"] = median(settled);
    state.counters["pass_settled_over_cp_sync"] = median(settledSync);
    state.counters["one_at_a_time_cpu_over_cp"] = median(oneCpu);
}

BENCHMARK_TEMPLATE(timed, runCp, false)->Name("BM_CpOutput")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_TEMPLATE(timed, runCpSync, false)
    ->Name("BM_CpOutputThenSync")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_TEMPLATE(timed, runPass, true)
    ->Name("BM_DecompressFrames")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_TEMPLATE(timed, runOneAtATime, true)
    ->Name("BM_DecompressOneAtATime")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_InterleavedRatios)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(7);

class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> times; // real time per iteration
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && run.iterations > 0)
                times[run.benchmark_name()] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

std::string loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    return f.open(QIODevice::ReadOnly) ? f.readLine().trimmed().toStdString() : std::string("unknown");
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        const std::string a = argv[i];
        if (a.rfind("--frames=", 0) == 0)
            g_frames = std::max(1, std::stoi(a.substr(9)));
        else if (a.rfind("--fixtures=", 0) == 0)
            g_dir = QString::fromStdString(a.substr(11));
        else
            args.push_back(argv[i]);
    }
    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);
    makeFixtures();

    std::printf("%d frames of %d x %d (%.1f MB each); load average before: %s\n", g_frames, kW, kH,
                kFrameBytes / 1e6, loadAverage().c_str());
    int benchArgc = static_cast<int>(args.size());
    benchmark::Initialize(&benchArgc, args.data());
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nload average after: %s\n", loadAverage().c_str());
    const auto base = reporter.times.find("BM_CpOutput/real_time");
    if (base != reporter.times.end() && base->second > 0) {
        std::printf("ratios to BM_CpOutput (time / cp time; lower is faster):\n");
        for (const auto& [name, t] : reporter.times)
            std::printf("  %-50s %6.2f\n", name.c_str(), t / base->second);
    }
    QDir(g_dir + "/work").removeRecursively();
    benchmark::Shutdown();
    return 0;
}
