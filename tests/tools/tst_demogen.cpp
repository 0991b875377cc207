// The demo generator's sets must be what the player accepts: every set gets its pair.
#include "player/Playlist.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace qr;

class TestDemoGen : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void everySetIsPlayable()
    {
        QTemporaryDir dir;
        QProcess gen;
        gen.start(QStringLiteral(DEMO_GEN), {dir.path()});
        QVERIFY(gen.waitForFinished(120000));
        QCOMPARE(gen.exitCode(), 0);
        const QString log = QString::fromLocal8Bit(gen.readAllStandardError());
        const bool heic = !log.contains(QLatin1String("no HEVC encoder"));

        PlaylistRequest request;
        request.downloadsDir = dir.path();
        request.typeFilter = 3;
        request.fifoLifo = 1;
        request.kroxDecoder.setDocumentsDir(dir.path() + QStringLiteral("/Documents"));
        const PlaylistResult r = Playlist::generatePlaylist(request);

        QCOMPARE(r.containersUnpacked, 1);
        QCOMPARE(r.framesDecompressed, 10);
        // JPEG 24 and 30, HEIC 12, raw 10, container 12; sorted by name ("kro_" before "krox_").
        const QList<int> sizes = heic ? QList<int>{24, 30, 12, 10, 12} : QList<int>{24, 30, 10, 12};
        QList<std::int32_t> expected;
        int pos = 0;
        for (int n : sizes) {
            expected << pos << pos + n - 1;
            pos += n;
        }
        QCOMPARE(r.setIndexes, expected);
        QCOMPARE(r.sortedList.size(), pos);
        QVERIFY(!QFileInfo::exists(dir.path() + QStringLiteral("/kro_04_001_01.rgb2")));
        QCOMPARE(QFileInfo(dir.path() + QStringLiteral("/kro_04_001_01.rgb")).size(),
                 qint64(3088) * 2320 * 3);
    }
};

QTEST_GUILESS_MAIN(TestDemoGen)
#include "tst_demogen.moc"
