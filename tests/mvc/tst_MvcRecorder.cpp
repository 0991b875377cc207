// Recording the capture master's positions: clips made as phones join and leave (read back with
// libavformat and libavcodec), the bounded queue, a disk that fills up mid-recording (a small tmpfs
// in the test's private mount namespace, run-in-mountns.sh; skipped elsewhere) and the program
// ending while clips are being written.
#include "mvc/MvcRecorder.h"
#include "mvc/StreamClipWriter.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <sys/mount.h>
#include <unistd.h>

#include <functional>
#include <memory>

using namespace qr;

namespace {

struct Clip {
    bool ok = false;
    QSize size;
    QList<std::int64_t> ptsUs; // packets, in file order
    int decoded = 0;           // frames the decoder gave back
};

Clip readClip(const QString& path)
{
    Clip clip;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, QFile::encodeName(path).constData(), nullptr, nullptr) < 0)
        return clip;
    std::unique_ptr<AVFormatContext*, void (*)(AVFormatContext**)> closeFormat(&format, avformat_close_input);
    if (avformat_find_stream_info(format, nullptr) < 0)
        return clip;
    const int index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0)
        return clip;
    const AVStream* stream = format->streams[index];
    clip.size = QSize(stream->codecpar->width, stream->codecpar->height);
    const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
    AVCodecContext* context = avcodec_alloc_context3(decoder);
    std::unique_ptr<AVCodecContext*, void (*)(AVCodecContext**)> freeContext(&context, avcodec_free_context);
    if (!decoder || avcodec_parameters_to_context(context, stream->codecpar) < 0 ||
        avcodec_open2(context, decoder, nullptr) < 0)
        return clip;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    const AVRational us{1, 1000000};
    auto take = [&] {
        while (avcodec_receive_frame(context, frame) == 0)
            ++clip.decoded;
    };
    while (av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == index) {
            clip.ptsUs << av_rescale_q(packet->pts, stream->time_base, us);
            if (avcodec_send_packet(context, packet) == 0)
                take();
        }
        av_packet_unref(packet);
    }
    avcodec_send_packet(context, nullptr);
    take();
    av_frame_free(&frame);
    av_packet_free(&packet);
    clip.ok = true;
    return clip;
}

// The sample durations of a fragmented MP4 as its fragments' track runs give them (a player's
// source for how long each frame shows), in microseconds.
QList<std::int64_t> sampleDurationsUs(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray d = file.readAll();
    auto u32 = [&d](qsizetype at) {
        return at >= 0 && at + 4 <= d.size() ? qFromBigEndian<quint32>(d.constData() + at) : 0u;
    };
    std::int64_t timescale = 0;
    quint32 defaultDuration = 0;
    QList<std::int64_t> out;
    std::function<void(qsizetype, qsizetype)> walk = [&](qsizetype at, qsizetype end) {
        while (at + 8 <= end) {
            const qsizetype size = u32(at);
            const QByteArray type = d.mid(at + 4, 4);
            if (size < 8 || at + size > end)
                return;
            const quint32 flags = u32(at + 8) & 0xffffff;
            if (type == "moov" || type == "trak" || type == "mdia" || type == "moof" || type == "traf") {
                walk(at + 8, at + size);
            } else if (type == "mdhd") {
                timescale = u32(at + 20); // version 0: flags, two times, then the timescale
            } else if (type == "tfhd" && (flags & 0x08)) {
                defaultDuration = u32(at + 16 + ((flags & 0x01) ? 8 : 0) + ((flags & 0x02) ? 4 : 0));
            } else if (type == "trun") {
                const quint32 count = u32(at + 12);
                qsizetype p = at + 16 + ((flags & 0x01) ? 4 : 0) + ((flags & 0x04) ? 4 : 0);
                const int fields = ((flags & 0x100) ? 1 : 0) + ((flags & 0x200) ? 1 : 0) +
                                   ((flags & 0x400) ? 1 : 0) + ((flags & 0x800) ? 1 : 0);
                for (quint32 i = 0; i < count && timescale > 0; ++i, p += 4 * fields)
                    out << std::int64_t((flags & 0x100) ? u32(p) : defaultDuration) * 1000000 / timescale;
            }
            at += size;
        }
    };
    walk(0, d.size());
    return out;
}

QImage frameImage(QSize size, int n, bool noisy = false)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor::fromHsv((n * 37) % 360, 200, 220));
    if (noisy) {
        QRandomGenerator rng(quint32(n) + 1);
        for (int y = 0; y < image.height(); ++y) {
            auto* row = reinterpret_cast<quint32*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x)
                row[x] = rng.generate() | 0xff000000u;
        }
    }
    return image;
}

QStringList entries(const QString& dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

constexpr std::int64_t kMs = 1000000; // nanoseconds
const QDateTime kWhen(QDate(2026, 1, 2), QTime(3, 4, 5));

MvcRecorder::Options options(const QString& folder)
{
    MvcRecorder::Options o;
    o.folder = folder;
    o.queueFrames = 1000; // nothing dropped: these tests look at what reaches the clips
    o.wallClock = [] {
        return kWhen;
    };
    return o;
}

// One phone during a recording: it sends `frames` frames at position `view` from slot `slot`, the
// first at `joinMs` after the recording started, then one every `stepsMs` in turn; `leaves` ends its
// connection after its last frame.
struct Phone {
    int slot = 0;
    int view = 0;
    int joinMs = 0;
    int frames = 0;
    QList<int> stepsMs{33};
    bool leaves = false;
};

struct Expected {
    QString name;
    int frames = 0;
    std::int64_t durationUs = 0;
};

bool hasFeathers(const QStringList& names)
{
    for (const QString& n : names) {
        if (n.startsWith(QLatin1Char('.')) || n.endsWith(QLatin1String(".part")))
            return true;
    }
    return false;
}

} // namespace

Q_DECLARE_METATYPE(QList<Phone>)
Q_DECLARE_METATYPE(QList<Expected>)

class TestMvcRecorder : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void joinAndLeave_data();
    void joinAndLeave();
    void fullQueueDropsFromTheClip();
    void fullDiskKeepsWhatWasWritten();
    void endingWhileRecordingFinishesTheClips();
};

void TestMvcRecorder::joinAndLeave_data()
{
    QTest::addColumn<QList<Phone>>("phones");
    QTest::addColumn<int>("stopMs");
    QTest::addColumn<QList<Expected>>("expected");
    const QString p1 = QStringLiteral("MVC 2026-01-02 03.04.05 position 1");
    const QString p2 = QStringLiteral("MVC 2026-01-02 03.04.05 position 2");
    const QString p3 = QStringLiteral("MVC 2026-01-02 03.04.05 position 3");
    // The last frame of a clip lasts one nominal period, 1/30 s.
    constexpr std::int64_t last = 33333;

    QTest::newRow("three phones throughout")
        << QList<Phone>{{0, 0, 0, 30}, {1, 1, 5, 30}, {2, 2, 10, 30}} << 1100
        << QList<Expected>{{p1 + ".mp4", 30, 29 * 33000 + last},
                           {p2 + ".mp4", 30, 29 * 33000 + last},
                           {p3 + ".mp4", 30, 29 * 33000 + last}};
    QTest::newRow("one joins later: its clip starts with its first frame")
        << QList<Phone>{{0, 0, 0, 20}, {1, 2, 400, 8}} << 700
        << QList<Expected>{{p1 + ".mp4", 20, 19 * 33000 + last}, {p3 + ".mp4", 8, 7 * 33000 + last}};
    QTest::newRow("one leaves: its clip ends there, the others go on")
        << QList<Phone>{{0, 0, 0, 25}, {1, 1, 0, 6, {33}, true}} << 900
        << QList<Expected>{{p2 + ".mp4", 6, 5 * 33000 + last}, {p1 + ".mp4", 25, 24 * 33000 + last}};
    QTest::newRow("leaves and comes back on another slot: a second clip of that position")
        << QList<Phone>{{0, 1, 0, 5, {33}, true}, {2, 1, 400, 7}} << 800
        << QList<Expected>{{p2 + ".mp4", 5, 4 * 33000 + last}, {p2 + " (2).mp4", 7, 6 * 33000 + last}};
    QTest::newRow("uneven frame times are kept") << QList<Phone>{{0, 0, 0, 9, {20, 60, 45}}} << 500
                                                 << QList<Expected>{{p1 + ".mp4", 9, 330000 + last}};
    QTest::newRow("a position beyond the three is not recorded")
        << QList<Phone>{{0, 0, 0, 4}, {1, 3, 0, 4}} << 300
        << QList<Expected>{{p1 + ".mp4", 4, 3 * 33000 + last}};
}

void TestMvcRecorder::joinAndLeave()
{
    QFETCH(QList<Phone>, phones);
    QFETCH(int, stopMs);
    QFETCH(QList<Expected>, expected);
    QTemporaryDir home;
    const QString folder = home.filePath(QStringLiteral("Videos"));
    MvcRecorder recorder(options(folder));
    QSignalSpy finished(&recorder, &MvcRecorder::finished);

    // Every event on the master's clock, in time order; frames before the start and after the stop
    // are shown but not recorded.
    struct Event {
        std::int64_t ns;
        int phone;
        int frame; // -1: the phone's connection ends
    };
    constexpr std::int64_t start = 5000 * kMs;
    QList<Event> events;
    for (int i = 0; i < phones.size(); ++i) {
        const Phone& ph = phones[i];
        std::int64_t t = start + ph.joinMs * kMs;
        for (int f = 0; f < ph.frames; ++f) {
            events << Event{t, i, f};
            t += ph.stepsMs[f % ph.stepsMs.size()] * kMs;
        }
        if (ph.leaves)
            events << Event{t - kMs, i, -1};
    }
    std::stable_sort(events.begin(), events.end(),
                     [](const Event& a, const Event& b) { return a.ns < b.ns; });
    recorder.frameShown(0, 0, frameImage(QSize(64, 48), 99), start - 10 * kMs);
    recorder.start(start);
    for (const Event& e : events) {
        const Phone& ph = phones[e.phone];
        if (e.frame < 0)
            recorder.streamEnded(ph.slot);
        else
            recorder.frameShown(ph.slot, ph.view, frameImage(QSize(64, 48), e.frame), e.ns);
    }
    recorder.stop();
    recorder.frameShown(0, 0, frameImage(QSize(64, 48), 98), start + stopMs * kMs);
    QVERIFY(finished.wait(10000));

    const auto summary = finished.first().first().value<MvcRecorder::Summary>();
    QCOMPARE(summary.dropped, 0);
    QVERIFY(summary.error.isEmpty());
    QStringList names;
    for (const QString& path : summary.clips)
        names << QFileInfo(path).fileName();
    QStringList expectedNames;
    int expectedFrames = 0;
    for (const Expected& e : expected) {
        expectedNames << e.name;
        expectedFrames += e.frames;
    }
    // Clips finish on threads of their own, in any order.
    names.sort();
    expectedNames.sort();
    QCOMPARE(names, expectedNames);
    QCOMPARE(summary.framesInClips, expectedFrames);
    QCOMPARE(entries(folder), expectedNames); // nothing else: no temporary file left

    for (const Expected& e : expected) {
        const Clip clip = readClip(QDir(folder).filePath(e.name));
        QVERIFY2(clip.ok, qPrintable(e.name));
        QCOMPARE(clip.size, QSize(64, 48));
        QCOMPARE(clip.ptsUs.size(), e.frames);
        QCOMPARE(clip.decoded, e.frames);
        QCOMPARE(clip.ptsUs.first(), 0);
        // Each frame lasts until the next one's time; the last one a nominal period.
        const QList<std::int64_t> durations = sampleDurationsUs(QDir(folder).filePath(e.name));
        QCOMPARE(durations.size(), e.frames);
        for (int i = 0; i + 1 < e.frames; ++i)
            QVERIFY(std::abs(durations[i] - (clip.ptsUs[i + 1] - clip.ptsUs[i])) <= 1);
        const std::int64_t durationUs = clip.ptsUs.last() + durations.last();
        // 90 kHz ticks: a microsecond's rounding per figure.
        QVERIFY2(std::abs(durationUs - e.durationUs) <= 2,
                 qPrintable(
                     QStringLiteral("%1: %2 us, expected %3").arg(e.name).arg(durationUs).arg(e.durationUs)));
    }
}

void TestMvcRecorder::fullQueueDropsFromTheClip()
{
    // Frames handed over before the encoder takes any: three fit the queue, the rest are dropped and
    // counted, and the clip holds the three.
    QTemporaryDir home;
    const QString path = home.filePath(QStringLiteral("clip.mp4"));
    StreamClipWriter writer(path, 30, 3);
    StreamClipWriter::Result result;
    writer.setFinishedHandler([&result](const StreamClipWriter::Result& r) { result = r; });
    int accepted = 0;
    for (int i = 0; i < 10; ++i)
        accepted += writer.push(frameImage(QSize(32, 32), i), i * 40000) ? 1 : 0;
    QCOMPARE(accepted, 3);
    QCOMPARE(writer.dropped(), 7);
    writer.start();
    writer.close(false);
    writer.wait();
    QCOMPARE(result.framesInClip, 3);
    QCOMPARE(result.dropped, 7);
    QVERIFY(result.error.isEmpty());
    const Clip clip = readClip(path);
    QVERIFY(clip.ok);
    QCOMPARE(clip.decoded, 3);
    QCOMPARE(clip.ptsUs, (QList<std::int64_t>{0, 40000, 80000}));
}

void TestMvcRecorder::fullDiskKeepsWhatWasWritten()
{
    if (::geteuid() != 0 || qEnvironmentVariableIntValue("QR_IN_MOUNTNS") != 1)
        QSKIP("needs root in a private mount namespace (run-in-mountns.sh)");
    QTemporaryDir home;
    const QString folder = home.filePath(QStringLiteral("Videos"));
    QVERIFY(QDir().mkpath(folder));
    QCOMPARE(
        ::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=1m"), 0);
    auto unmount = qScopeGuard([&] { ::umount2(QFile::encodeName(folder).constData(), MNT_DETACH); });

    MvcRecorder::Options o = options(folder);
    o.nominalFps = 5; // a fragment every 5 frames, so that several fit on the small disk
    MvcRecorder recorder(o);
    QSignalSpy failed(&recorder, &MvcRecorder::failed);
    QSignalSpy finished(&recorder, &MvcRecorder::finished);
    recorder.start(0);
    // Noise barely compresses: about 50 KiB a frame, far more than the megabyte holds.
    int sent = 0;
    while (failed.isEmpty() && sent < 400) {
        recorder.frameShown(0, 0, frameImage(QSize(160, 120), sent, true), sent * 40 * kMs);
        ++sent;
        QTest::qWait(5);
    }
    QTRY_VERIFY_WITH_TIMEOUT(!failed.isEmpty(), 10000);
    QVERIFY2(failed.first().first().toString().contains(QStringLiteral("No space left")),
             qPrintable(failed.first().first().toString()));
    QVERIFY(!recorder.isRecording());
    QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), 10000);

    const auto summary = finished.first().first().value<MvcRecorder::Summary>();
    QCOMPARE(summary.clips.size(), 1);
    const QString name = QStringLiteral("MVC 2026-01-02 03.04.05 position 1.mp4");
    QCOMPARE(entries(folder), QStringList{name}); // the temporary name is gone
    const Clip clip = readClip(QDir(folder).filePath(name));
    QVERIFY(clip.ok);
    QVERIFY2(summary.framesInClips >= 5, qPrintable(QString::number(summary.framesInClips)));
    QCOMPARE(clip.ptsUs.size(), summary.framesInClips);
    QCOMPARE(clip.decoded, summary.framesInClips);
    // Whole fragments only: each begins with a key frame every 5 frames.
    QCOMPARE(summary.framesInClips % 5, 0);
    for (int i = 0; i < clip.ptsUs.size(); ++i)
        QCOMPARE(clip.ptsUs[i], std::int64_t(i) * 40000);
    QVERIFY(!hasFeathers(entries(folder)));
}

void TestMvcRecorder::endingWhileRecordingFinishesTheClips()
{
    // Quit while three positions record: the destruction drops what waits in the queues and
    // finishes each clip with what it has, under its own name.
    QTemporaryDir home;
    const QString folder = home.filePath(QStringLiteral("Videos"));
    {
        MvcRecorder recorder(options(folder));
        recorder.start(0);
        for (int view = 0; view < 3; ++view)
            recorder.frameShown(view, view, frameImage(QSize(640, 480), 0), 0);
        // Each clip's temporary file exists once its writer took its first frame.
        QTRY_COMPARE_WITH_TIMEOUT(entries(folder).size(), 3, 10000);
        for (int f = 1; f < 200; ++f) {
            for (int view = 0; view < 3; ++view)
                recorder.frameShown(view, view, frameImage(QSize(640, 480), f), f * 33 * kMs);
        }
    }
    const QStringList names = entries(folder);
    QCOMPARE(names.size(), 3);
    QVERIFY2(!hasFeathers(names), qPrintable(names.join(QLatin1Char(','))));
    for (const QString& name : names) {
        const Clip clip = readClip(QDir(folder).filePath(name));
        QVERIFY2(clip.ok, qPrintable(name));
        QVERIFY(!clip.ptsUs.isEmpty());
        QCOMPARE(clip.decoded, clip.ptsUs.size());
        QCOMPARE(clip.ptsUs.first(), 0);
    }
}

QTEST_GUILESS_MAIN(TestMvcRecorder)
#include "tst_MvcRecorder.moc"
