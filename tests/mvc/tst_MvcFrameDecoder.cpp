#include "PhoneSim.h"
#include "decode/Lz4FrameEncoder.h"
#include "mvc/MvcFrameDecoder.h"

#include <QTest>

using qr::MvcFrameDecoder;
using qr::MvcMsgHeader;
using qr::PhoneSim;

class TestMvcFrameDecoder : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void sizes_data();
    void sizes();
    void rejects_data();
    void rejects();
};

void TestMvcFrameDecoder::sizes_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<bool>("noisy");
    QTest::newRow("640x480 turned") << 640 << 480 << 0 << false;
    QTest::newRow("1280x960 turned") << 1280 << 960 << 0 << false;
    QTest::newRow("1280x960 as sent, noisy") << 1280 << 960 << 1 << true;
    QTest::newRow("1920x1440 turned, noisy") << 1920 << 1440 << 0 << true;
    QTest::newRow("odd 37x5 turned") << 37 << 5 << 0 << false;
}

void TestMvcFrameDecoder::sizes()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, orientation);
    QFETCH(bool, noisy);
    const QByteArray rgb = PhoneSim::testPatternRgb(width, height, 3, noisy);
    const QByteArray payload = qr::Lz4FrameEncoder::encode(rgb);
    MvcMsgHeader h;
    h.width = std::uint16_t(width);
    h.height = std::uint16_t(height);
    h.posOrient = std::uint8_t(orientation);
    MvcFrameDecoder d;
    for (int round = 0; round < 2; ++round) { // the second round reuses the scratch buffers
        const QImage img = d.decode(h, payload);
        QVERIFY(!img.isNull());
        const bool turned = orientation == 0;
        QCOMPARE(img.size(), turned ? QSize(height, width) : QSize(width, height));
        for (const QPoint& src : {QPoint(0, 0), QPoint(width - 1, 0), QPoint(width / 3, height - 1)}) {
            const QPoint dst = turned ? QPoint(height - 1 - src.y(), src.x()) : src;
            const auto* p = reinterpret_cast<const unsigned char*>(rgb.constData()) +
                            (qsizetype(src.y()) * width + src.x()) * 3;
            QCOMPARE(img.pixel(dst), qRgb(p[0], p[1], p[2]));
        }
    }
}

void TestMvcFrameDecoder::rejects_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<QByteArray>("payload");
    const QByteArray rgb = PhoneSim::testPatternRgb(16, 8, 0);
    QTest::newRow("not LZ4") << 16 << 8 << QByteArray(50, 'q');
    QTest::newRow("one byte short") << 16 << 8 << qr::Lz4FrameEncoder::encode(rgb.first(rgb.size() - 1));
    QTest::newRow("one byte long") << 16 << 8 << qr::Lz4FrameEncoder::encode(rgb + "x");
    QTest::newRow("frame larger than any camera frame") << 65535 << 65535 << qr::Lz4FrameEncoder::encode(rgb);
    QTest::newRow("empty") << 16 << 8 << QByteArray();
}

void TestMvcFrameDecoder::rejects()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(QByteArray, payload);
    MvcMsgHeader h;
    h.width = std::uint16_t(width);
    h.height = std::uint16_t(height);
    h.posOrient = 1;
    MvcFrameDecoder d;
    QVERIFY(d.decode(h, payload).isNull());
}

QTEST_GUILESS_MAIN(TestMvcFrameDecoder)
#include "tst_MvcFrameDecoder.moc"
