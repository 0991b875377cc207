// Three simulated phones over loopback recorded by the master: each position's clip, as ffprobe and
// ffmpeg read it, holds the frames shown there, at the times they arrived.
#include "PhoneSim.h"
#include "mvc/MvcMaster.h"
#include "mvc/MvcRecorder.h"

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <map>
#include <memory>

using namespace qr;

namespace {

struct Probe {
    QSize size;
    QList<double> ptsSeconds;
};

Probe probe(const QString& path)
{
    Probe p;
    QProcess ffprobe;
    ffprobe.start(QStringLiteral("ffprobe"),
                  {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
                   QStringLiteral("v:0"), QStringLiteral("-show_entries"),
                   QStringLiteral("stream=width,height:packet=pts_time"), QStringLiteral("-of"),
                   QStringLiteral("compact"), path});
    if (!ffprobe.waitForFinished(30000) || ffprobe.exitCode() != 0)
        return p;
    const QStringList lines = QString::fromUtf8(ffprobe.readAllStandardOutput()).split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        const QStringList fields = line.split(QLatin1Char('|'));
        if (line.startsWith(QLatin1String("packet|"))) {
            p.ptsSeconds << fields.value(1).section(QLatin1Char('='), 1).toDouble();
        } else if (line.startsWith(QLatin1String("stream|"))) {
            p.size = QSize(fields.value(1).section(QLatin1Char('='), 1).toInt(),
                           fields.value(2).section(QLatin1Char('='), 1).toInt());
        }
    }
    return p;
}

// What a player sees: every frame decodes without a complaint.
QString decodeErrors(const QString& path)
{
    QProcess ffmpeg;
    // Each frame as it is, in the clip's own time base: without a fixed output rate to fit it into.
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), path,
                  QStringLiteral("-fps_mode"), QStringLiteral("passthrough"),
                  QStringLiteral("-enc_time_base"), QStringLiteral("-1"), QStringLiteral("-f"),
                  QStringLiteral("null"), QStringLiteral("-")});
    if (!ffmpeg.waitForFinished(60000))
        return QStringLiteral("ffmpeg did not finish");
    if (ffmpeg.exitCode() != 0)
        return QStringLiteral("ffmpeg exit code %1").arg(ffmpeg.exitCode());
    return QString::fromUtf8(ffmpeg.readAllStandardError()).trimmed();
}

} // namespace

class TestMvcRecordEndToEnd : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void threePhonesRecorded();
};

void TestMvcRecordEndToEnd::threePhonesRecorded()
{
    QTemporaryDir home;
    const QString folder = home.filePath(QStringLiteral("Videos"));
    MvcMaster master;
    MvcMaster::Options options;
    options.listenAddress = QHostAddress::LocalHost;
    options.advertise = false;
    master.setOptions(options);
    QVERIFY(master.parseSecretCodeInputString(QStringLiteral("407193")));
    QVERIFY(master.setupMvcMaster());

    MvcRecorder::Options ro;
    ro.folder = folder;
    ro.queueFrames = 100; // every frame shown reaches its clip, however loaded the machine
    MvcRecorder recorder(ro);
    QObject::connect(&master, &MvcMaster::frameShown, &recorder, &MvcRecorder::frameShown);
    QObject::connect(&master, &MvcMaster::streamEnded, &recorder, &MvcRecorder::streamEnded);
    // The arrival of each frame shown, per position.
    std::map<int, QList<std::int64_t>> arrivals;
    QObject::connect(&master, &MvcMaster::frameShown, this,
                     [&](int, int view, const QImage&, std::int64_t ns) { arrivals[view] << ns; });
    QSignalSpy finished(&recorder, &MvcRecorder::finished);
    recorder.start(master.now());

    // The phones join during the recording; the third leaves early, the others at their end.
    struct PhoneSetup {
        int view, orientation, frames;
        QSize size;
    };
    const PhoneSetup setups[] = {
        {0, 1, 45, QSize(320, 240)}, {1, 0, 45, QSize(320, 240)}, {2, 1, 15, QSize(256, 192)}};
    std::vector<std::unique_ptr<PhoneSim>> phones;
    for (const PhoneSetup& s : setups) {
        PhoneSim::Options o;
        o.port = master.serverPort();
        o.width = s.size.width();
        o.height = s.size.height();
        o.view = s.view;
        o.orientation = s.orientation;
        o.frames = s.frames;
        o.fps = 30;
        o.patternCycle = 3;
        phones.push_back(std::make_unique<PhoneSim>(o));
        QSignalSpy up(phones.back().get(), &PhoneSim::connected);
        phones.back()->start();
        QVERIFY(up.wait(5000));
        QTest::qWait(20); // phones do not race each other within a millisecond
    }
    // Every phone has sent its frames and closed; the master saw each connection end.
    QTRY_VERIFY_WITH_TIMEOUT(master.slotTable().slot(0).waitingForRestart &&
                                 master.slotTable().slot(1).waitingForRestart &&
                                 master.slotTable().slot(2).waitingForRestart,
                             20000);
    recorder.stop();
    QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), 20000);
    const auto summary = finished.first().first().value<MvcRecorder::Summary>();
    QCOMPARE(summary.dropped, 0);
    QCOMPARE(summary.clips.size(), 3);

    const QSize expectedSize[] = {QSize(320, 240), QSize(240, 320), QSize(256, 192)};
    for (const QString& path : summary.clips) {
        const int view = QFileInfo(path).completeBaseName().right(1).toInt() - 1;
        QVERIFY2(view >= 0 && view < 3, qPrintable(path));
        const Probe p = probe(path);
        const QList<std::int64_t>& shown = arrivals[view];
        QCOMPARE(p.size, expectedSize[view]); // as shown: turned for orientation 0
        QVERIFY(!shown.isEmpty());
        QCOMPARE(p.ptsSeconds.size(), shown.size());
        // Each frame starts when it arrived, counted from the clip's first frame (90 kHz ticks).
        for (int i = 0; i < shown.size(); ++i) {
            const double expected = double(shown[i] - shown[0]) / 1e9;
            QVERIFY2(std::abs(p.ptsSeconds[i] - expected) < 20e-6,
                     qPrintable(QStringLiteral("%1 frame %2: %3 s, arrived at %4 s")
                                    .arg(path)
                                    .arg(i)
                                    .arg(p.ptsSeconds[i])
                                    .arg(expected)));
        }
        QCOMPARE(decodeErrors(path), QString());
    }
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 3);
}

QTEST_GUILESS_MAIN(TestMvcRecordEndToEnd)
#include "tst_MvcRecordEndToEnd.moc"
