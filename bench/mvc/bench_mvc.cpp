// Three simulated phones streaming to the capture master over loopback at 30 frames per second each,
// into three image views of a window on the offscreen platform. Reported per run: frames painted per
// second per display position (goal 30 each), latency from a message's last byte to its image being
// painted, and the longest stretch the main thread was busy.
// The baseline, measured in the same run, is the time one frame takes to decode on one core:
// latency and busy time are given as multiples of it, frames shown as a fraction of frames sent.
// With `record`, the three positions are recorded to clips meanwhile: the frames in the clips are
// given as a fraction of the frames received, and the time one frame takes to encode on one core
// (a live clip's encoder, measured in the same run) as a second baseline.

#include "PhoneSim.h"
#include "decode/Lz4FrameEncoder.h"
#include "mvc/MvcFrameDecoder.h"
#include "mvc/MvcMaster.h"
#include "mvc/MvcRecorder.h"
#include "player/ClipEncoder.h"
#include "ui/ImageView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <optional>
#include <vector>

using qr::MvcMaster;
using qr::PhoneSim;

namespace {

std::int64_t steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Runs the event loop until `done` holds or `ms` have passed. It blocks between events as the
// program's loop does: a loop that polls would keep the main thread busy and take a core from the
// decoding and encoding threads.
template <class Done> void runEventsUntil(Done done, qint64 ms)
{
    QElapsedTimer clock;
    clock.start();
    if (done())
        return;
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(2);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || clock.elapsed() >= ms)
            loop.quit();
    });
    poll.start();
    loop.exec();
}

// An image view that notes when the image it was handed is first painted.
class TimedImageView : public qr::ImageView {
public:
    using qr::ImageView::ImageView;
    std::int64_t pendingLastByteNs = 0;
    std::vector<double>* latencies = nullptr;
    int* painted = nullptr;

protected:
    void paintEvent(QPaintEvent* e) override
    {
        qr::ImageView::paintEvent(e);
        if (pendingLastByteNs != 0 && latencies) {
            latencies->push_back(double(steadyNs() - pendingLastByteNs) / 1e6);
            ++*painted;
        }
        pendingLastByteNs = 0;
    }
};

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, std::size_t(p * double(v.size() - 1) + 0.5))];
}

double decodeBaselineMs(int w, int h, bool noisy)
{
    const QByteArray payload = qr::Lz4FrameEncoder::encode(PhoneSim::testPatternRgb(w, h, 1, noisy));
    qr::MvcMsgHeader hd;
    hd.width = std::uint16_t(w);
    hd.height = std::uint16_t(h);
    hd.posOrient = 0x00; // turned, the dearer case
    hd.mvcLen = std::uint32_t(payload.size());
    qr::MvcFrameDecoder decoder;
    std::vector<double> ms;
    for (int i = 0; i < 15; ++i) {
        QElapsedTimer t;
        t.start();
        const QImage img = decoder.decode(hd, payload);
        benchmark::DoNotOptimize(img.constBits());
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    return percentile(ms, 0.5);
}

// The median time a live clip's encoder takes for one frame of that size, as the master shows it.
double encodeBaselineMs(int w, int h, bool noisy)
{
    const QByteArray payload = qr::Lz4FrameEncoder::encode(PhoneSim::testPatternRgb(w, h, 1, noisy));
    qr::MvcMsgHeader hd;
    hd.width = std::uint16_t(w);
    hd.height = std::uint16_t(h);
    hd.posOrient = 0x01;
    hd.mvcLen = std::uint32_t(payload.size());
    qr::MvcFrameDecoder decoder;
    const QImage frame = decoder.decode(hd, payload);
    QTemporaryDir dir;
    qr::ClipEncoder encoder;
    if (!encoder.openLive(dir.filePath(QStringLiteral("base.mp4")), frame.size(), 30, true))
        return 0;
    std::vector<double> ms;
    for (int i = 0; i < 30; ++i) {
        QElapsedTimer t;
        t.start();
        encoder.addFrameAt(frame, i * 33333);
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    encoder.abort();
    return percentile(ms, 0.5);
}

struct Result {
    double shownPerSecond[3] = {0, 0, 0};
    double sentPerSecond = 0;
    double latencyMedianMs = 0;
    double latencyP99Ms = 0;
    double busyMaxMs = 0;
    int received = 0; // while recording
    int inClips = 0;
    int dropped = 0;
};

Result runScenario(int w, int h, int threads, bool noisy, bool record, double seconds)
{
    MvcMaster master;
    MvcMaster::Options o;
    o.listenAddress = QHostAddress::LocalHost;
    o.advertise = false;
    o.decodeThreads = threads;
    master.setOptions(o);
    master.setupMvcMaster();

    // The phones live on a thread of their own so that they do not share the master's event loop.
    QThread phoneThread;
    QObject phoneContext;
    phoneContext.moveToThread(&phoneThread);
    phoneThread.start();
    std::vector<PhoneSim*> phones;
    QMetaObject::invokeMethod(
        &phoneContext,
        [&] {
            for (int v = 0; v < 3; ++v) {
                PhoneSim::Options po;
                po.port = master.serverPort();
                po.width = w;
                po.height = h;
                po.view = v;
                po.orientation = v == 1 ? 0 : 1;
                po.fps = 30;
                po.noisy = noisy;
                po.patternCycle = 4;
                phones.push_back(new PhoneSim(po));
            }
        },
        Qt::BlockingQueuedConnection);
    // Phones connect one after another: the next starts once the master has taken the one before.
    // Two connections the master handles within one millisecond are one phone's connection race
    // to it, and a busy main thread handles two that came 20 ms apart at once.
    for (int v = 0; v < 3; ++v) {
        QMetaObject::invokeMethod(phones[std::size_t(v)], &PhoneSim::start, Qt::QueuedConnection);
        runEventsUntil([&] { return master.liveSocketCount() >= v + 1; }, 5000);
        runEventsUntil([] { return false; }, 20);
    }

    bool measuring = false;
    int shown[3] = {0, 0, 0};
    std::vector<double> latency;
    QWidget window;
    window.resize(3 * 360, 480);
    std::array<TimedImageView*, 3> views{};
    for (int v = 0; v < 3; ++v) {
        views[std::size_t(v)] = new TimedImageView(&window);
        views[std::size_t(v)]->setGeometry(v * 360, 0, 360, 480);
        views[std::size_t(v)]->latencies = &latency;
        views[std::size_t(v)]->painted = &shown[v];
    }
    window.show();
    std::array<std::int64_t, 3> lastByte{};
    QObject::connect(&master, &MvcMaster::frameDecoded, [&](int, int view, std::int64_t lastByteNs) {
        if (view >= 0 && view < 3)
            lastByte[std::size_t(view)] = lastByteNs;
    });
    QObject::connect(&master, &MvcMaster::showImage, [&](int view, const QImage& image) {
        TimedImageView* iv = views[std::size_t(view)];
        iv->setImage(image);
        // A frame replaced before it was painted counts as not shown.
        iv->pendingLastByteNs = measuring ? lastByte[std::size_t(view)] : 0;
    });
    // A 1 ms probe: the longest gap between its ticks is the longest the main thread was busy.
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    std::int64_t lastTick = 0;
    double busyMax = 0;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const std::int64_t t = steadyNs();
        if (measuring && lastTick != 0)
            busyMax = std::max(busyMax, double(t - lastTick) / 1e6 - 1.0);
        lastTick = t;
    });
    probe.start();

    QTemporaryDir videos;
    qr::MvcRecorder::Options ro;
    ro.folder = videos.path();
    qr::MvcRecorder recorder(ro);
    QObject::connect(&master, &MvcMaster::frameShown, &recorder, &qr::MvcRecorder::frameShown);
    QObject::connect(&master, &MvcMaster::streamEnded, &recorder, &qr::MvcRecorder::streamEnded);
    int received = 0;
    QObject::connect(&master, &MvcMaster::messageProcessed, [&](int, int view, bool close) {
        if (recorder.isRecording() && !close && view >= 0 && view < 3)
            ++received;
    });
    std::optional<qr::MvcRecorder::Summary> summary;
    QObject::connect(&recorder, &qr::MvcRecorder::finished,
                     [&](const qr::MvcRecorder::Summary& s) { summary = s; });

    QElapsedTimer clock;
    clock.start();
    runEventsUntil([] { return false; }, 700); // warm-up: connections, first frames
    int sentBefore = 0;
    for (auto* p : phones)
        sentBefore += p->framesSent();
    measuring = true;
    clock.restart();
    lastTick = 0;
    if (record)
        recorder.start(master.now());
    runEventsUntil([] { return false; }, qint64(seconds * 1000));
    recorder.stop();
    measuring = false;
    const double elapsed = double(clock.nsecsElapsed()) / 1e9;
    int sentAfter = 0;
    for (auto* p : phones)
        sentAfter += p->framesSent();

    QMetaObject::invokeMethod(
        &phoneContext,
        [&] {
            for (auto* p : phones)
                delete p;
        },
        Qt::BlockingQueuedConnection);
    phoneThread.quit();
    phoneThread.wait();
    if (record)
        runEventsUntil([&] { return summary.has_value(); }, 60000);

    Result r;
    if (summary) {
        r.received = received;
        r.inClips = summary->framesInClips;
        r.dropped = summary->dropped;
    }
    for (int v = 0; v < 3; ++v)
        r.shownPerSecond[v] = shown[v] / elapsed;
    r.sentPerSecond = (sentAfter - sentBefore) / elapsed;
    r.latencyMedianMs = percentile(latency, 0.5);
    r.latencyP99Ms = percentile(latency, 0.99);
    r.busyMaxMs = busyMax;
    return r;
}

void BM_ThreePhones(benchmark::State& state)
{
    const int w = int(state.range(0));
    const int h = int(state.range(1));
    const int threads = int(state.range(2));
    const bool noisy = state.range(3) != 0;
    const bool record = state.range(4) != 0;
    const double baseMs = decodeBaselineMs(w, h, noisy);
    Result r;
    for (auto _ : state)
        r = runScenario(w, h, threads, noisy, record, record ? 10.0 : 3.0);
    if (record) {
        const double encodeMs = encodeBaselineMs(w, h, noisy);
        state.counters["base_encode_ms"] = encodeMs;
        state.counters["received"] = r.received;
        state.counters["in_clips"] = r.inClips;
        state.counters["dropped"] = r.dropped;
        state.counters["in_clips_per_received"] = r.received > 0 ? double(r.inClips) / r.received : 0;
    }
    state.counters["base_decode_ms"] = baseMs;
    state.counters["shown_pos1"] = r.shownPerSecond[0];
    state.counters["shown_pos2"] = r.shownPerSecond[1];
    state.counters["shown_pos3"] = r.shownPerSecond[2];
    state.counters["shown_per_sent"] =
        r.sentPerSecond > 0
            ? (r.shownPerSecond[0] + r.shownPerSecond[1] + r.shownPerSecond[2]) / r.sentPerSecond
            : 0;
    state.counters["lat_med_ms"] = r.latencyMedianMs;
    state.counters["lat_p99_ms"] = r.latencyP99Ms;
    state.counters["busy_max_ms"] = r.busyMaxMs;
    state.counters["lat_med_x_base"] = r.latencyMedianMs / baseMs;
    state.counters["lat_p99_x_base"] = r.latencyP99Ms / baseMs;
    state.counters["busy_max_x_base"] = r.busyMaxMs / baseMs;
}

// Arguments: width, height, decoding threads (0: on the main thread), noisy frames, recording.
BENCHMARK(BM_ThreePhones)
    ->ArgNames({"w", "h", "threads", "noisy", "record"})
    ->Args({1280, 960, 0, 0, 0})
    ->Args({1280, 960, 1, 0, 0})
    ->Args({1280, 960, 2, 0, 0})
    ->Args({1920, 1440, 0, 0, 0})
    ->Args({1920, 1440, 1, 0, 0})
    ->Args({1920, 1440, 2, 0, 0})
    ->Args({1920, 1440, 0, 1, 0})
    ->Args({1920, 1440, 1, 1, 0})
    ->Args({1920, 1440, 2, 1, 0})
    ->Args({1280, 960, 1, 0, 1})
    ->Args({1920, 1440, 1, 0, 1})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
