// "Export Set as Video…" over the real engine state: the clip of the set in render view 1 lands in the
// videos folder under its first photo's name at the current speed and is offered by Share; Cancel in
// the progress dialog leaves nothing.
#include "player/PlayerEngine.h"
#include "ui/ClipExportUi.h"
#include "ui/PlayerControls.h"
#include "ui/RenderPanels.h"
#include "ui/ScreenMetrics.h"

#include "FakeDisplay.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace qr;

namespace {

struct Fixture {
    QTemporaryDir dir;
    QWidget window;
    fixtures::FakeDisplay display;
    PlayerEngine engine{&display, std::make_unique<fixtures::ManualTimer>()};
    ScreenMetrics metrics;
    RenderPanels panels{&window};
    PlayerControls controls{&metrics, &panels};
    ClipExportUi exporter{&engine, &controls, &window};
    QString videos = dir.filePath("Videos");

    // A set of `count` photos of `size` playing at `speed` photos per second.
    void loadSet(int count, QSize size, int speed)
    {
        const QString downloads = dir.filePath("Downloads");
        QDir().mkpath(downloads);
        QStringList names;
        for (int i = 0; i < count; ++i) {
            names << QStringLiteral("kro_007_%1_01.jpg").arg(i + 1, 3, 10, QLatin1Char('0'));
            QImage photo(size, QImage::Format_RGB32);
            photo.fill(QColor::fromHsv(i * 20 % 360, 200, 200));
            QVERIFY(photo.save(downloads + '/' + names.last(), "JPG"));
        }
        PlayerState& s = engine.state();
        s._symbolicPath = downloads;
        s._listOfFilesForView[0] = names;
        s._playbackSpeed = speed;
        exporter.setVideosDir(videos);
    }
};

QString probe(const QString& file, const QString& entry)
{
    QProcess p;
    p.start("ffprobe", {"-v", "error", "-select_streams", "v", "-count_frames", "-show_entries",
                        "stream=" + entry, "-of", "csv=p=0", file});
    return p.waitForFinished(30'000) ? QString::fromUtf8(p.readAllStandardOutput()).trimmed() : QString();
}

} // namespace

class TstClipExportUi : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void exportsTheSetPlaying();
    void cancelLeavesNothing();
};

void TstClipExportUi::exportsTheSetPlaying()
{
    Fixture f;
    f.loadSet(12, QSize(320, 240), 6);
    QSignalSpy finished(&f.exporter, &ClipExportUi::exportFinished);
    f.exporter.menuExportSetAsVideo();
    QVERIFY(f.exporter.dialog()->isVisible());
    QVERIFY(finished.wait(60'000));
    const QString clip = f.videos + "/kro_007_001_01.mp4";
    QCOMPARE(finished.first().at(1).toString(), clip);
    QCOMPARE(QDir(f.videos).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{"kro_007_001_01.mp4"});
    if (QStandardPaths::findExecutable("ffprobe").isEmpty())
        QSKIP("ffprobe is not installed");
    QCOMPARE(probe(clip, "codec_name,width,height,r_frame_rate,nb_read_frames"),
             QString("h264,320,240,6/1,12"));
    QCOMPARE(f.controls.sharedClip(), clip);
}

void TstClipExportUi::cancelLeavesNothing()
{
    Fixture f;
    f.loadSet(40, QSize(1600, 1200), 30);
    QSignalSpy finished(&f.exporter, &ClipExportUi::exportFinished);
    f.exporter.menuExportSetAsVideo();
    QTRY_VERIFY_WITH_TIMEOUT(f.exporter.dialog()->value() >= 1, 30'000);
    QPushButton* cancel = f.exporter.dialog()->findChild<QPushButton*>();
    QVERIFY(cancel);
    QCOMPARE(cancel->text(), QString("Cancel"));
    cancel->click();
    QVERIFY(finished.wait(60'000));
    QCOMPARE(finished.first().at(0).value<ClipResult>().status, ClipResult::Status::Cancelled);
    QVERIFY(!f.exporter.dialog()->isVisible());
    QVERIFY(QDir(f.videos).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    QVERIFY(f.controls.sharedClip().isEmpty());
}

QTEST_MAIN(TstClipExportUi)
#include "tst_ClipExportUi.moc"
