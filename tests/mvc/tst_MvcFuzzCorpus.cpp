// Replays the capture master's fuzz corpus and regressions through the fuzz targets' bodies.
#include "MvcHarness.h"

#include <QDir>
#include <QFile>
#include <QTest>

class TestMvcFuzzCorpus : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void replay_data();
    void replay();
};

void TestMvcFuzzCorpus::replay_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("path");
    int rows = 0;
    for (const QString& target : {QStringLiteral("mvcframing"), QStringLiteral("mdns")}) {
        for (const QString& kind : {QStringLiteral("corpus"), QStringLiteral("regressions")}) {
            const QDir dir(QStringLiteral(QR_FUZZ_DIR "/%1/%2").arg(kind, target));
            for (const QString& name : dir.entryList(QDir::Files, QDir::Name)) {
                QTest::newRow(qPrintable(target + QLatin1Char('/') + name)) << target << dir.filePath(name);
                ++rows;
            }
        }
    }
    QVERIFY(rows >= 6);
}

void TestMvcFuzzCorpus::replay()
{
    QFETCH(QString, target);
    QFETCH(QString, path);
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    if (target == QLatin1String("mvcframing"))
        qr::fuzz::mvcFraming(data, std::size_t(bytes.size()));
    else
        qr::fuzz::mdnsPacket(data, std::size_t(bytes.size()));
}

QTEST_GUILESS_MAIN(TestMvcFuzzCorpus)
#include "tst_MvcFuzzCorpus.moc"
