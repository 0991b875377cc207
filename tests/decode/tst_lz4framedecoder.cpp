#include "DecodeFixtures.h"
#include "decode/Lz4FrameDecoder.h"
#include "decode/Lz4FrameEncoder.h"

#include <QTest>

#include <QtEndian>
#include <algorithm>
#include <cstdint>
#include <vector>

using qr::Lz4FrameDecoder;
using qr::fixtures::appendLe32;
using qr::fixtures::Block;
using qr::fixtures::lz4Stream;
using qr::fixtures::pattern;

namespace {

QByteArray decode(const QByteArray& in, std::size_t capacity = Lz4FrameDecoder::kDefaultCapacity)
{
    const qr::FrameBuffer out =
        Lz4FrameDecoder::decode(in.constData(), static_cast<std::size_t>(in.size()), capacity);
    if (out.isNull())
        return QByteArray("<null>");
    return QByteArray(reinterpret_cast<const char*>(out.data()), static_cast<qsizetype>(out.size()));
}

// The same decoding over an input that arrives only as the decoder asks for it: the bytes not yet
// asked for are zeros, so a read ahead of its request gives another result. A request past
// `refuseFrom` is refused. `beyond` tells whether the decoder asked past the end of the input.
QByteArray decodeOnDemand(const QByteArray& in, std::size_t capacity = Lz4FrameDecoder::kDefaultCapacity,
                          std::size_t refuseFrom = SIZE_MAX, bool* beyond = nullptr)
{
    std::vector<std::uint8_t> arrived(static_cast<std::size_t>(in.size()), 0);
    std::vector<std::uint8_t> out(capacity);
    std::size_t present = 0;
    const std::size_t n = Lz4FrameDecoder::decodeInto(arrived, out, {}, [&](std::size_t end) {
        if (end > arrived.size() && beyond)
            *beyond = true;
        if (end > refuseFrom || end > arrived.size())
            return false;
        for (; present < end; ++present)
            arrived[present] = static_cast<std::uint8_t>(in.at(static_cast<qsizetype>(present)));
        return true;
    });
    return QByteArray(reinterpret_cast<const char*>(out.data()), static_cast<qsizetype>(n));
}

// A compressed block header with sizes of the caller's choosing (damaged streams) followed by the
// block.
QByteArray bv41(std::uint32_t decoded, std::uint32_t encoded, const QByteArray& block)
{
    QByteArray out("bv41");
    appendLe32(out, decoded);
    appendLe32(out, encoded);
    return out + block;
}

QByteArray lz4Block(const QByteArray& data)
{
    QByteArray out(LZ4_compressBound(static_cast<int>(data.size())), Qt::Uninitialized);
    out.resize(LZ4_compress_default(data.constData(), out.data(), static_cast<int>(data.size()),
                                    static_cast<int>(out.size())));
    return out;
}

} // namespace

class TestLz4FrameDecoder : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void roundTrip_data();
    void roundTrip();
    void matchReachesIntoPreviousBlock();
    void undecodable_data();
    void undecodable();
    void capacityCutsOutput();
    void decodeIntoCallerBuffer();
    void encoderRoundTrip_data();
    void encoderRoundTrip();
};

void TestLz4FrameDecoder::roundTrip_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("blockSize");
    QTest::addColumn<QList<Block>>("kinds");

    const QByteArray text = pattern(300'000, 1);
    QTest::newRow("one bv41 block") << pattern(5000, 2) << 65536 << QList<Block>{Block::Compressed};
    QTest::newRow("many bv41 blocks") << text << 16384 << QList<Block>{Block::Compressed};
    QTest::newRow("bv41 and bv4- alternating")
        << text << 10000 << QList<Block>{Block::Compressed, Block::Stored};
    QTest::newRow("bv4- only") << pattern(70'000, 3, false) << 4096 << QList<Block>{Block::Stored};
    QTest::newRow("noise in bv41 blocks")
        << pattern(200'000, 4, false) << 65536 << QList<Block>{Block::Compressed};
    QTest::newRow("end marker only") << QByteArray() << 1 << QList<Block>{Block::Compressed};
}

void TestLz4FrameDecoder::roundTrip()
{
    QFETCH(QByteArray, data);
    QFETCH(int, blockSize);
    QFETCH(QList<Block>, kinds);
    QCOMPARE(decode(lz4Stream(data, blockSize, kinds)), data);
    // Bytes after the end marker are not read.
    QCOMPARE(decode(lz4Stream(data, blockSize, kinds) + "trailing"), data);
    // Input asked for piece by piece: every byte is asked for before it is read, never past the
    // end; a refused piece makes the stream undecodable.
    const QByteArray stream = lz4Stream(data, blockSize, kinds);
    bool beyond = false;
    QCOMPARE(decodeOnDemand(stream, Lz4FrameDecoder::kDefaultCapacity, SIZE_MAX, &beyond), data);
    QVERIFY(!beyond);
    QCOMPARE(decodeOnDemand(stream, Lz4FrameDecoder::kDefaultCapacity,
                            static_cast<std::size_t>(stream.size()) - 1),
             QByteArray());
}

void TestLz4FrameDecoder::matchReachesIntoPreviousBlock()
{
    // The second block repeats the first: liblz4's streaming compressor encodes it as matches into
    // the first block, so it cannot be decoded on its own.
    const QByteArray half = pattern(4096, 9, false);
    const QByteArray data = half + half;
    const QByteArray stream = lz4Stream(data, 4096, {Block::Compressed});
    const int firstEncoded = static_cast<int>(qFromLittleEndian<std::uint32_t>(stream.constData() + 8));
    const char* second = stream.constData() + 12 + firstEncoded;
    QCOMPARE(QByteArray(second, 4), QByteArray("bv41"));
    const int secondEncoded = static_cast<int>(qFromLittleEndian<std::uint32_t>(second + 8));
    QVERIFY(secondEncoded < 100);
    char alone[4096];
    QVERIFY(LZ4_decompress_safe(second + 12, alone, secondEncoded, sizeof alone) != 4096);

    QCOMPARE(decode(stream), data);
    // With a stored block between them the match reaches back across it.
    const QByteArray three = half + pattern(1000, 10, false) + half;
    QCOMPARE(decode(lz4Stream(three, 4096, {Block::Compressed, Block::Stored})), three);
}

void TestLz4FrameDecoder::undecodable_data()
{
    QTest::addColumn<QByteArray>("input");

    const QByteArray data = pattern(20'000, 5);
    const QByteArray good = lz4Stream(data, 8192);
    const QByteArray block = lz4Block(pattern(1000, 6));
    const int blockSize = static_cast<int>(block.size());
    // A good block first: an undecodable stream gives nothing, not the part before the fault.
    const QByteArray lead = lz4Stream(pattern(3000, 11), 3000, {Block::Compressed}, false);

    QTest::newRow("empty input") << QByteArray();
    QTest::newRow("text") << QByteArray("hello, this is not a stream");
    QTest::newRow("raw LZ4 block") << block;
    QTest::newRow("LZ4 frame magic") << QByteArray("\x04\x22\x4d\x18\x64\x40\xa7", 7);
    QTest::newRow("LZFSE block") << QByteArray("bvx2") + block;
    QTest::newRow("unknown bv4 kind") << lead + QByteArray("bv4x") + block + "bv4$";
    QTest::newRow("no end marker") << good.left(good.size() - 4);
    QTest::newRow("end marker cut") << good.left(good.size() - 1);
    QTest::newRow("truncated inside a block") << good.left(good.size() / 2);
    QTest::newRow("truncated inside a header") << good.left(7);
    QTest::newRow("decoded size too large") << lead + bv41(1001, blockSize, block) + "bv4$";
    QTest::newRow("decoded size too small") << lead + bv41(999, blockSize, block) + "bv4$";
    QTest::newRow("decoded size 4 GiB") << lead + bv41(0xFFFFFFFF, blockSize, block) + "bv4$";
    QTest::newRow("decoded size past the capacity") << lead + bv41(100'000'000, blockSize, block) + "bv4$";
    QTest::newRow("decoded size zero") << lead + bv41(0, blockSize, block) + "bv4$";
    QTest::newRow("encoded size past the input") << lead + bv41(1000, blockSize + 5, block) + "bv4$";
    QTest::newRow("encoded size 4 GiB") << lead + bv41(1000, 0xFFFFFFFF, block) + "bv4$";
    QTest::newRow("encoded size short") << lead + bv41(1000, blockSize - 3, block) + "bv4$";
    QByteArray stored("bv4-");
    appendLe32(stored, 100);
    QTest::newRow("stored size past the input") << lead + stored + QByteArray(50, 'x');
    QByteArray storedHuge("bv4-");
    appendLe32(storedHuge, 0xFFFFFFF0);
    QTest::newRow("stored size 4 GiB") << lead + storedHuge + QByteArray(50, 'x') + "bv4$";
    QTest::newRow("good block then garbage") << good.left(good.size() - 4) + "bv41xx";
    // A first block whose match points before the start of the output.
    // One literal 'A', then a 4-byte match 5 bytes back: before the start of the output.
    const QByteArray badOffset("\x10"
                               "A"
                               "\x05\x00"
                               "\x00",
                               5);
    QTest::newRow("match before the output") << bv41(5, 5, badOffset) + "bv4$";
}

void TestLz4FrameDecoder::undecodable()
{
    QFETCH(QByteArray, input);
    QCOMPARE(decode(input), QByteArray());
    bool beyond = false;
    QCOMPARE(decodeOnDemand(input, Lz4FrameDecoder::kDefaultCapacity, SIZE_MAX, &beyond), QByteArray());
    QVERIFY(!beyond);
}

void TestLz4FrameDecoder::capacityCutsOutput()
{
    const QByteArray data = pattern(50'000, 7);
    for (const QList<Block>& kinds : {QList<Block>{Block::Compressed}, QList<Block>{Block::Stored}}) {
        const QByteArray stream = lz4Stream(data, 16384, kinds);
        QCOMPARE(decode(stream, 20'000), data.left(20'000)); // inside the second block
        QCOMPARE(decode(stream, 16384), data.left(16384));   // at a block boundary
        QCOMPARE(decode(stream, 50'000), data);
        QCOMPARE(decode(stream, 0), QByteArray());
    }
}

void TestLz4FrameDecoder::decodeIntoCallerBuffer()
{
    const QByteArray data = pattern(30'000, 8);
    const QByteArray stream = lz4Stream(data, 8192, {Block::Compressed, Block::Stored});
    std::vector<std::uint8_t> out(40'000, 0xAB);
    const std::size_t n =
        Lz4FrameDecoder::decodeInto(std::span(reinterpret_cast<const std::uint8_t*>(stream.constData()),
                                              static_cast<std::size_t>(stream.size())),
                                    std::span(out.data(), 35'000));
    QCOMPARE(n, std::size_t{30'000});
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(out.data()), 30'000), data);
    QCOMPARE(out[35'000], std::uint8_t{0xAB}); // nothing written past the span

    // With a reader of the pieces: the length after every block, each piece already in place.
    std::fill(out.begin(), out.end(), std::uint8_t{0xAB});
    QList<std::size_t> lengths;
    bool piecesInPlace = true;
    const std::size_t m = Lz4FrameDecoder::decodeInto(
        std::span(reinterpret_cast<const std::uint8_t*>(stream.constData()),
                  static_cast<std::size_t>(stream.size())),
        std::span(out.data(), 35'000), [&](std::size_t decoded) {
            lengths.append(decoded);
            piecesInPlace =
                piecesInPlace && std::equal(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(decoded),
                                            reinterpret_cast<const std::uint8_t*>(data.constData()));
        });
    QCOMPARE(m, std::size_t{30'000});
    QCOMPARE(lengths, (QList<std::size_t>{8192, 16384, 24576, 30'000}));
    QVERIFY(piecesInPlace);
}

// The writer of the phone's streams: what it writes decodes to its input, compressed blocks where
// LZ4 helps, stored ones where it does not.
void TestLz4FrameDecoder::encoderRoundTrip_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("blockSize");
    QTest::addColumn<QByteArray>("kinds"); // one letter per block: '1' compressed, '-' stored

    QTest::newRow("empty") << QByteArray() << 4096 << QByteArray();
    QTest::newRow("runs, last block partial") << pattern(10'000, 4) << 4096 << QByteArray("111");
    QTest::newRow("noise") << pattern(9000, 5, false) << 4096 << QByteArray("---");
    QTest::newRow("noise then runs") << pattern(4096, 6, false) + pattern(4096, 7) << 4096
                                     << QByteArray("-1");
    QTest::newRow("default block size, one byte over") // one byte does not shrink
        << pattern(qr::Lz4FrameEncoder::kBlockBytes + 1, 8) << qr::Lz4FrameEncoder::kBlockBytes
        << QByteArray("1-");
}

void TestLz4FrameDecoder::encoderRoundTrip()
{
    QFETCH(QByteArray, data);
    QFETCH(int, blockSize);
    QFETCH(QByteArray, kinds);
    const QByteArray stream = qr::Lz4FrameEncoder::encode(data, blockSize);
    QCOMPARE(decode(stream), data);
    QVERIFY(stream.endsWith("bv4$"));
    QByteArray seen;
    for (qsizetype at = 0; at + 8 <= stream.size() && stream.mid(at, 4) != "bv4$";) {
        const char kind = stream.at(at + 3);
        seen.append(kind);
        const auto size = qFromLittleEndian<std::uint32_t>(stream.constData() + at + 4);
        at += kind == '1' ? 12 + qsizetype(qFromLittleEndian<std::uint32_t>(stream.constData() + at + 8))
                          : 8 + qsizetype(size);
    }
    QCOMPARE(seen, kinds);
    QCOMPARE(qr::Lz4FrameEncoder::encode(data, 0), QByteArray());
}

QTEST_GUILESS_MAIN(TestLz4FrameDecoder)
#include "tst_lz4framedecoder.moc"
