// Replays the decoding fuzz targets' seed corpus and every input they ever crashed on through the
// same checks, in the ordinary (non-fuzzing) build.
#include "DecodeHarness.h"

#include <QDirIterator>
#include <QFile>
#include <QTest>

class TestFuzzCorpus : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void replay_data();
    void replay();
};

void TestFuzzCorpus::replay_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("path");
    int rows = 0;
    for (const char* kind : {"corpus", "regressions"}) {
        for (const char* target : {"krox", "lz4frame", "lz4pieces"}) {
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
    QVERIFY2(rows >= 10, "the seed corpus is missing");
}

void TestFuzzCorpus::replay()
{
    QFETCH(QString, target);
    QFETCH(QString, path);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    // The harness aborts the test when a promise breaks.
    if (target == QLatin1String("krox")) {
        qr::fuzz::kroxParse(data, static_cast<std::size_t>(bytes.size()));
        qr::fuzz::kroxUnpack(data, static_cast<std::size_t>(bytes.size()));
    } else if (target == QLatin1String("lz4pieces")) {
        qr::fuzz::lz4Pieces(data, static_cast<std::size_t>(bytes.size()));
    } else {
        qr::fuzz::lz4Frame(data, static_cast<std::size_t>(bytes.size()));
    }
    QVERIFY(true);
}

QTEST_GUILESS_MAIN(TestFuzzCorpus)
#include "tst_fuzzcorpus.moc"
