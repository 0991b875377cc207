// Replays the player fuzz targets' seed corpus and every input they ever crashed on through the same
// checks, in the ordinary (non-fuzzing) build.
#include "PlayerHarness.h"

#include <QDirIterator>
#include <QFile>
#include <QTest>

class TestPlayerFuzzCorpus : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void replay_data();
    void replay();
};

void TestPlayerFuzzCorpus::replay_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("path");
    int rows = 0;
    for (const char* kind : {"corpus", "regressions"}) {
        for (const char* target : {"photo", "diskcache"}) {
            const QString dir =
                QStringLiteral(FUZZ_DIR "/%1/%2").arg(QLatin1String(kind), QLatin1String(target));
            QDirIterator it(dir, QDir::Files);
            while (it.hasNext()) {
                const QString path = it.next();
                QTest::newRow(qPrintable(QStringLiteral("%1/%2").arg(QLatin1String(target), it.fileName())))
                    << QString::fromLatin1(target) << path;
                ++rows;
            }
        }
    }
    QVERIFY2(rows >= 6, "the seed corpus is missing");
}

void TestPlayerFuzzCorpus::replay()
{
    QFETCH(QString, target);
    QFETCH(QString, path);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    // The harness aborts the test when a promise breaks.
    if (target == QLatin1String("photo"))
        qr::fuzz::photo(data, static_cast<std::size_t>(bytes.size()));
    else
        qr::fuzz::diskCacheEntry(data, static_cast<std::size_t>(bytes.size()));
    QVERIFY(true);
}

QTEST_GUILESS_MAIN(TestPlayerFuzzCorpus)
#include "tst_PlayerFuzzCorpus.moc"
