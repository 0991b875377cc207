#include "mvc/MvcMessageAssembler.h"

#include <QTest>

#include <vector>

using qr::MvcMessageAssembler;
using qr::MvcMsgHeader;

namespace {

QByteArray message(std::uint8_t ver, std::uint8_t posOrient, std::uint16_t cntr, const QByteArray& payload,
                   std::uint16_t width = 4, std::uint16_t height = 2)
{
    MvcMsgHeader h;
    h.ver = ver;
    h.posOrient = posOrient;
    h.cntr = cntr;
    h.mvcLen = std::uint32_t(payload.size());
    h.width = width;
    h.height = height;
    h.imageCaptureWidth = std::uint16_t(width * 2);
    h.imageCaptureHeight = std::uint16_t(height * 2);
    const auto bytes = h.serialize();
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())) + payload;
}

QByteArray payloadOf(int n, char seed)
{
    QByteArray p(n, '\0');
    for (int i = 0; i < n; ++i)
        p[i] = char(seed + i * 7);
    return p;
}

// Feeds `stream` cut at `cuts` and records, after each chunk, the counters of the messages drained.
struct Run {
    std::vector<std::vector<int>> perChunk;
    std::vector<MvcMessageAssembler::Message> messages;
    bool cancelled = false;
};

Run feed(const QByteArray& stream, const QList<int>& cuts)
{
    MvcMessageAssembler a;
    Run r;
    qsizetype from = 0;
    QList<int> ends = cuts;
    ends.append(int(stream.size()));
    for (int end : ends) {
        a.append(QByteArrayView(stream).sliced(from, end - from));
        from = end;
        std::vector<int> got;
        MvcMessageAssembler::Message m;
        for (;;) {
            const auto res = a.next(m);
            if (res == MvcMessageAssembler::Result::Cancel) {
                r.cancelled = true;
                break;
            }
            if (res == MvcMessageAssembler::Result::NeedMore)
                break;
            got.push_back(m.header.cntr);
            r.messages.push_back(m);
        }
        r.perChunk.push_back(got);
        if (r.cancelled)
            break;
    }
    return r;
}

} // namespace

class TestMvcMessageAssembler : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void headerFieldsAreBigEndian();
    void framing_data();
    void framing();
    void hostileHeaders_data();
    void hostileHeaders();
    void resetDropsLeftoverBytes();
    void memoryStaysBoundedUnderTrickle();
};

void TestMvcMessageAssembler::headerFieldsAreBigEndian()
{
    const QByteArray raw = QByteArray::fromHex("0121abcd0001e240028001e00fc00bd0");
    const auto h = MvcMsgHeader::parse(
        std::span<const std::uint8_t, 16>(reinterpret_cast<const std::uint8_t*>(raw.constData()), 16));
    QCOMPARE(h.ver, 0x01);
    QCOMPARE(h.viewIndex(), 2);
    QCOMPARE(h.deviceOrientation(), 1);
    QCOMPARE(h.cntr, 0xabcd);
    QCOMPARE(h.mvcLen, 0x0001e240U);
    QCOMPARE(h.width, 640);
    QCOMPARE(h.height, 480);
    QCOMPARE(h.imageCaptureWidth, 4032);
    QCOMPARE(h.imageCaptureHeight, 3024);
    QVERIFY(!h.isCloseRequest());
    const auto back = h.serialize();
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(back.data()), 16), raw);
}

void TestMvcMessageAssembler::framing_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QList<int>>("cuts");
    QTest::addColumn<QList<QList<int>>>("expected"); // message counters drained after each chunk

    const QByteArray m1 = message(1, 0x00, 11, payloadOf(300, 'a'));
    const QByteArray m2 = message(1, 0x21, 12, payloadOf(50, 'b'));
    const QByteArray m3 = message(1, 0x10, 13, payloadOf(0, 'c'));

    QList<int> many;
    for (int i = 7; i < m1.size(); i += 13)
        many.append(i);
    QList<QList<int>> manyExpected(many.size() + 1);
    manyExpected.back() = {11};
    QTest::newRow("one message over many chunks") << m1 << many << manyExpected;

    QTest::newRow("two messages in one chunk") << (m1 + m2) << QList<int>{} << QList<QList<int>>{{11, 12}};
    QTest::newRow("header split before byte 16")
        << (m1 + m2) << QList<int>{5, 15, int(m1.size()) + 9} << QList<QList<int>>{{}, {}, {11}, {12}};
    QTest::newRow("second header split across chunks")
        << (m1 + m2) << QList<int>{int(m1.size()) + 3} << QList<QList<int>>{{11}, {12}};
    QTest::newRow("chunk ends exactly at a message end")
        << (m1 + m2 + m3) << QList<int>{int(m1.size()), int(m1.size() + m2.size())}
        << QList<QList<int>>{{11}, {12}, {13}};
    QTest::newRow("three messages and a partial fourth in one chunk")
        << (m1 + m2 + m2 + m1.first(20)) << QList<int>{} << QList<QList<int>>{{11, 12, 12}};
    QTest::newRow("empty payload") << message(1, 0, 7, QByteArray()) << QList<int>{3}
                                   << QList<QList<int>>{{}, {7}};
}

void TestMvcMessageAssembler::framing()
{
    QFETCH(QByteArray, stream);
    QFETCH(QList<int>, cuts);
    QFETCH(QList<QList<int>>, expected);
    const Run r = feed(stream, cuts);
    QVERIFY(!r.cancelled);
    QCOMPARE(int(r.perChunk.size()), int(expected.size()));
    for (std::size_t i = 0; i < r.perChunk.size(); ++i)
        QCOMPARE(QList<int>(r.perChunk[i].begin(), r.perChunk[i].end()), expected[qsizetype(i)]);
    // Payloads come out byte for byte, whatever the chunking.
    qsizetype offset = 0;
    for (const auto& m : r.messages) {
        if (m.header.isCloseRequest()) {
            QVERIFY(m.payload.isEmpty());
            offset += 16;
            continue;
        }
        QCOMPARE(m.payload, stream.mid(offset + 16, m.header.mvcLen));
        offset += 16 + m.header.mvcLen;
    }
}

void TestMvcMessageAssembler::hostileHeaders_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<bool>("cancelled");
    QTest::addColumn<int>("messages");

    MvcMsgHeader h;
    h.width = 640;
    h.height = 480;
    auto bytes = [](const MvcMsgHeader& hh) {
        const auto b = hh.serialize();
        return QByteArray(reinterpret_cast<const char*>(b.data()), 16);
    };
    MvcMsgHeader big = h;
    big.mvcLen = 0xFFFFFFFFU;
    QTest::newRow("4 GB declared length") << bytes(big) << true << 0;
    big.mvcLen = MvcMessageAssembler::kMaxPayload + 1;
    QTest::newRow("just above the bound") << bytes(big) << true << 0;
    big.mvcLen = 0;
    MvcMsgHeader zeroW = h;
    zeroW.width = 0;
    QTest::newRow("zero width") << bytes(zeroW) << true << 0;
    MvcMsgHeader zeroH = h;
    zeroH.height = 0;
    QTest::newRow("zero height after a good message") << (bytes(h) + bytes(zeroH)) << true << 1;
    MvcMsgHeader close;
    close.ver = 0x10;
    close.mvcLen = 0xFFFFFFFFU; // the rest of a close request means nothing
    QTest::newRow("close request with garbage fields") << bytes(close) << false << 1;
    QTest::newRow("garbage shorter than a header") << QByteArray("\xff\xff\xff", 3) << false << 0;
}

void TestMvcMessageAssembler::hostileHeaders()
{
    QFETCH(QByteArray, stream);
    QFETCH(bool, cancelled);
    QFETCH(int, messages);
    const Run r = feed(stream, {});
    QCOMPARE(r.cancelled, cancelled);
    QCOMPARE(int(r.messages.size()), messages);
}

void TestMvcMessageAssembler::resetDropsLeftoverBytes()
{
    MvcMessageAssembler a;
    const QByteArray m1 = message(1, 0, 1, payloadOf(40, 'x'));
    const QByteArray m2 = message(1, 0, 2, payloadOf(40, 'y'));
    a.append(m1.first(30)); // an old connection left half a message behind
    MvcMessageAssembler::Message m;
    QCOMPARE(a.next(m), MvcMessageAssembler::Result::NeedMore);
    QVERIFY(a.midMessage());
    a.reset();
    QCOMPARE(a.bufferedBytes(), 0);
    QVERIFY(!a.midMessage());
    a.append(m2);
    QCOMPARE(a.next(m), MvcMessageAssembler::Result::Message);
    QCOMPARE(m.header.cntr, 2);
    QCOMPARE(m.payload, m2.mid(16));
    QCOMPARE(a.next(m), MvcMessageAssembler::Result::NeedMore);

    // A cancelled stream comes back to life only through reset().
    MvcMsgHeader bad;
    bad.width = 1;
    bad.height = 0;
    const auto b = bad.serialize();
    a.append(QByteArray(reinterpret_cast<const char*>(b.data()), 16));
    QCOMPARE(a.next(m), MvcMessageAssembler::Result::Cancel);
    a.append(m2);
    QCOMPARE(a.next(m), MvcMessageAssembler::Result::Cancel);
    QCOMPARE(a.bufferedBytes(), 0);
    a.reset();
    a.append(m2);
    QCOMPARE(a.next(m), MvcMessageAssembler::Result::Message);
}

void TestMvcMessageAssembler::memoryStaysBoundedUnderTrickle()
{
    // A peer that trickles many small messages one byte at a time never makes the buffer grow.
    MvcMessageAssembler a;
    const QByteArray m1 = message(1, 0, 1, payloadOf(10, 'q'));
    qsizetype most = 0;
    int count = 0;
    for (int round = 0; round < 200; ++round) {
        for (char c : m1) {
            a.append(QByteArrayView(&c, 1));
            MvcMessageAssembler::Message m;
            while (a.next(m) == MvcMessageAssembler::Result::Message)
                ++count;
            most = std::max(most, a.bufferedBytes());
        }
    }
    QCOMPARE(count, 200);
    QVERIFY(most < m1.size());
}

QTEST_GUILESS_MAIN(TestMvcMessageAssembler)
#include "tst_MvcMessageAssembler.moc"
