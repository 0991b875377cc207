#include "decode/FrameBufferPool.h"
#include "decode/RawFrame.h"
#include "decode/RawFrameKernels.h"

#include <QColorSpace>
#include <QFile>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

using qr::BgraFrame;
using qr::CaptureSizes;
using qr::FrameSize;
using qr::RawFrame;

namespace {

std::vector<std::uint8_t> bytes(std::size_t n, std::uint32_t seed)
{
    std::vector<std::uint8_t> v(n);
    std::uint32_t x = seed;
    for (auto& b : v) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(x >> 24);
    }
    return v;
}

// The quarter turn by its definition: source (x, y) lands at column h - 1 - y, row x.
std::vector<std::uint8_t> turnedByDefinition(const std::vector<std::uint8_t>& src, int w, int h)
{
    std::vector<std::uint8_t> dst(src.size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 4; ++c)
                dst[(std::size_t(x) * h + (h - 1 - y)) * 4 + c] = src[(std::size_t(y) * w + x) * 4 + c];
    return dst;
}

std::vector<std::uint8_t> contents(const BgraFrame& f)
{
    return {f.buffer.data(), f.buffer.data() + f.buffer.size()};
}

} // namespace

class TestRawFrame : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void recognisedSizes_data();
    void recognisedSizes();
    void onePixel();
    void conversionMatchesDefinition_data();
    void conversionMatchesDefinition();
    void landscapeAndPortraitFrames();
    void selectors_data();
    void selectors();
    void quarterTurnFourByTwo();
    void quarterTurnKernels_data();
    void quarterTurnKernels();
    void fusedConversionMatchesTwoSteps_data();
    void fusedConversionMatchesTwoSteps();
    void bufferPoolReusesWithinBudget_data();
    void bufferPoolReusesWithinBudget();
    void bufferPoolAcrossThreads();
    void largeImages_data();
    void largeImages();
    void shortOrBadInputsYieldNothing_data();
    void shortOrBadInputsYieldNothing();
    void imageWrapsWithoutCopy();
};

void TestRawFrame::recognisedSizes_data()
{
    QTest::addColumn<qint64>("byteCount");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("4032x3024") << qint64{36'578'304} << 4032 << 3024;
    QTest::newRow("3840x2160") << qint64{24'883'200} << 3840 << 2160;
    QTest::newRow("3264x2448") << qint64{23'970'816} << 3264 << 2448;
    QTest::newRow("3088x2320") << qint64{21'492'480} << 3088 << 2320;
    QTest::newRow("other keeps previous") << qint64{24'883'201} << 11 << 7;
    QTest::newRow("empty keeps previous") << qint64{0} << 11 << 7;
}

void TestRawFrame::recognisedSizes()
{
    QFETCH(qint64, byteCount);
    QFETCH(int, width);
    QFETCH(int, height);
    QCOMPARE(RawFrame::recognise(byteCount, FrameSize{11, 7}), (FrameSize{width, height}));
}

void TestRawFrame::onePixel()
{
    const std::vector<std::uint8_t> rgb{10, 20, 30};
    const auto frame = RawFrame::rgbToBgra(rgb, FrameSize{1, 1});
    QVERIFY(frame);
    QCOMPARE(contents(*frame), (std::vector<std::uint8_t>{30, 20, 10, 255}));
    QCOMPARE(frame->width, 1);
    QCOMPARE(frame->height, 1);
}

void TestRawFrame::conversionMatchesDefinition_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("extra"); // input bytes beyond the frame, ignored
    QTest::newRow("17x3, unaligned tail") << 17 << 3 << 0;
    QTest::newRow("64x64") << 64 << 64 << 0;
    QTest::newRow("1x33") << 1 << 33 << 5;
    QTest::newRow("333x7 with extra bytes") << 333 << 7 << 100;
}

void TestRawFrame::conversionMatchesDefinition()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, extra);
    const std::size_t pixels = std::size_t(width) * height;
    const auto rgb = bytes(pixels * 3 + extra, 42);
    std::vector<std::uint8_t> expected(pixels * 4);
    for (std::size_t i = 0; i < pixels; ++i)
        expected[i * 4 + 0] = rgb[i * 3 + 2], expected[i * 4 + 1] = rgb[i * 3 + 1],
                         expected[i * 4 + 2] = rgb[i * 3], expected[i * 4 + 3] = 255;
    const auto frame = RawFrame::rgbToBgra(rgb, FrameSize{width, height});
    QVERIFY(frame);
    QCOMPARE(contents(*frame), expected);

    // Every kernel, including into a destination that is not 16-byte aligned.
    std::vector<std::uint8_t> out(pixels * 4 + 4);
    qr::kernels::rgbToBgraLibyuv(rgb.data(), out.data() + 4, width, height);
    QVERIFY(std::equal(expected.begin(), expected.end(), out.begin() + 4));
    std::fill(out.begin(), out.end(), 0);
    if (qr::kernels::rgbToBgraShuffle(rgb.data(), out.data() + 4, std::int64_t(pixels)))
        QVERIFY(std::equal(expected.begin(), expected.end(), out.begin() + 4));
    qr::kernels::rgbToBgraNaive(rgb.data(), out.data(), std::int64_t(pixels));
    QVERIFY(std::equal(expected.begin(), expected.end(), out.begin()));
}

void TestRawFrame::landscapeAndPortraitFrames()
{
    // The 3840 x 2160 frame is the one that stays landscape.
    const std::vector<std::uint8_t> uhd(RawFrame::kRgb3840x2160, 7);
    const FrameSize uhdSize = RawFrame::recognise(std::int64_t(uhd.size()), {});
    const auto landscape = RawFrame::rgbToBgra(uhd, uhdSize);
    QVERIFY(landscape);
    QCOMPARE(landscape->buffer.size(), std::size_t{33'177'600});
    QVERIFY(RawFrame::staysLandscape(std::int64_t(landscape->buffer.size())));

    const std::vector<std::uint8_t> big(RawFrame::kRgb4032x3024, 9);
    const FrameSize bigSize = RawFrame::recognise(std::int64_t(big.size()), uhdSize);
    const auto bgra = RawFrame::rgbToBgra(big, bigSize);
    QVERIFY(bgra);
    QCOMPARE(bgra->buffer.size(), std::size_t{48'771'072});
    QVERIFY(!RawFrame::staysLandscape(std::int64_t(bgra->buffer.size())));
    const auto portrait = RawFrame::rotateBufferToPort(bgra->buffer.span(), bigSize);
    QVERIFY(portrait);
    QCOMPARE(portrait->width, 3024);
    QCOMPARE(portrait->height, 4032);
    QCOMPARE(portrait->buffer.size(), std::size_t{48'771'072});
}

void TestRawFrame::selectors_data()
{
    QTest::addColumn<int>("selector");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("0: capture size") << 0 << 4 << 3;
    QTest::newRow("45: capture size") << 45 << 4 << 3;
    QTest::newRow("1000: capture size") << 1000 << 4 << 3;
    QTest::newRow("1001: connection 1") << 1001 << 2 << 1;
    QTest::newRow("1002: connection 2") << 1002 << 3 << 2;
    QTest::newRow("1003: connection 3") << 1003 << 1 << 5;
    QTest::newRow("1004: capture size") << 1004 << 4 << 3;
    QTest::newRow("-1: capture size") << -1 << 4 << 3;
}

void TestRawFrame::selectors()
{
    QFETCH(int, selector);
    QFETCH(int, width);
    QFETCH(int, height);
    const CaptureSizes sizes{FrameSize{4, 3}, {FrameSize{2, 1}, FrameSize{3, 2}, FrameSize{1, 5}}};
    const auto rgb = bytes(4 * 5 * 3, 3);
    const auto frame = RawFrame::getBgraImageDataFromRgbImageData(selector, rgb, sizes);
    QVERIFY(frame);
    QCOMPARE(frame->width, width);
    QCOMPARE(frame->height, height);
    QCOMPARE(frame->buffer.size(), std::size_t(width) * height * 4);
}

void TestRawFrame::quarterTurnFourByTwo()
{
    // Pixels numbered by their 32-bit little-endian value: row 0 is 1 2 3 4, row 1 is 5 6 7 8.
    std::vector<std::uint8_t> src;
    for (std::uint8_t v = 1; v <= 8; ++v)
        src.insert(src.end(), {v, 0, 0, 0});
    const auto turned = RawFrame::rotateBufferToPort(src, FrameSize{4, 2});
    QVERIFY(turned);
    QCOMPARE(turned->width, 2);
    QCOMPARE(turned->height, 4);
    // The source's top row becomes the right-hand column.
    std::vector<std::uint8_t> first;
    for (std::size_t i = 0; i < turned->buffer.size(); i += 4)
        first.push_back(turned->buffer.data()[i]);
    QCOMPARE(first, (std::vector<std::uint8_t>{5, 1, 6, 2, 7, 3, 8, 4}));
}

void TestRawFrame::quarterTurnKernels_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("1x1") << 1 << 1;
    QTest::newRow("5x1") << 5 << 1;
    QTest::newRow("1x5") << 1 << 5;
    QTest::newRow("37x23") << 37 << 23;
    QTest::newRow("64x32") << 64 << 32;
    QTest::newRow("129x67") << 129 << 67;
    QTest::newRow("7x48") << 7 << 48;
    QTest::newRow("33x64, aligned lines") << 33 << 64;
}

void TestRawFrame::quarterTurnKernels()
{
    QFETCH(int, width);
    QFETCH(int, height);
    const auto src = bytes(std::size_t(width) * height * 4, 5);
    const auto expected = turnedByDefinition(src, width, height);

    const auto turned = RawFrame::rotateBufferToPort(src, FrameSize{width, height});
    QVERIFY(turned);
    QCOMPARE(contents(*turned), expected);

    std::vector<std::uint8_t> out(src.size());
    qr::kernels::rotateNaive(src.data(), out.data(), width, height);
    QCOMPARE(out, expected);
    std::fill(out.begin(), out.end(), 0);
    qr::kernels::rotateLibyuv(src.data(), out.data(), width, height);
    QCOMPARE(out, expected);
    for (int strip : {1, 3, 8, 64}) {
        std::fill(out.begin(), out.end(), 0);
        qr::kernels::rotateLibyuvStrips(src.data(), out.data(), width, height, strip);
        QCOMPARE(out, expected);
    }
    for (int block : {4, 8, 32, 64}) {
        std::fill(out.begin(), out.end(), 0);
        if (qr::kernels::rotateBlocked(src.data(), out.data(), width, height, block))
            QCOMPARE(out, expected);
    }
    std::fill(out.begin(), out.end(), 0);
    if (qr::kernels::rotateStreaming(src.data(), out.data(), width, height))
        QCOMPARE(out, expected);
}

void TestRawFrame::fusedConversionMatchesTwoSteps_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("1x1") << 1 << 1;
    QTest::newRow("2x1") << 2 << 1;
    QTest::newRow("5x3") << 5 << 3;
    QTest::newRow("6x16, last row loads") << 6 << 16;
    QTest::newRow("7x17") << 7 << 17;
    QTest::newRow("8x32") << 8 << 32;
    QTest::newRow("37x23") << 37 << 23;
    QTest::newRow("130x48") << 130 << 48;
    QTest::newRow("129x67") << 129 << 67;
    QTest::newRow("3x64") << 3 << 64;
}

void TestRawFrame::fusedConversionMatchesTwoSteps()
{
    QFETCH(int, width);
    QFETCH(int, height);
    const FrameSize size{width, height};
    const std::size_t pixels = std::size_t(width) * height;
    // Exactly the frame's bytes: a kernel reading past the input is caught under the address sanitizer.
    const auto rgb = bytes(pixels * 3, 11);
    const auto bgra = RawFrame::rgbToBgra(rgb, size);
    QVERIFY(bgra);
    const auto twoSteps = RawFrame::rotateBufferToPort(contents(*bgra), size);
    QVERIFY(twoSteps);
    const auto expected = contents(*twoSteps);

    std::vector<std::uint8_t> out(pixels * 4);
    QVERIFY(RawFrame::rgbToBgraTurnedInto(rgb, size, out));
    QCOMPARE(out, expected);
    std::fill(out.begin(), out.end(), 0);
    qr::kernels::rgbToBgraTurnedNaive(rgb.data(), out.data(), width, height);
    QCOMPARE(out, expected);

    // Destinations on a 64-byte boundary take the streaming stores; the bytes after the frame must
    // stay untouched.
    std::vector<std::uint8_t> wide(pixels * 4 + 128, 0xAB);
    const auto offset = (64 - reinterpret_cast<std::uintptr_t>(wide.data()) % 64) % 64;
    std::uint8_t* aligned = wide.data() + offset;
    for (int block : {0, 4, 8, 12, 64, 1024}) {
        std::fill(aligned, aligned + pixels * 4, 0);
        if (!qr::kernels::rgbToBgraTurned(rgb.data(), aligned, width, height, block))
            QSKIP("no SSSE3");
        QVERIFY2(std::equal(expected.begin(), expected.end(), aligned), qPrintable(QString::number(block)));
        QVERIFY(
            std::all_of(aligned + pixels * 4, wide.data() + wide.size(), [](auto b) { return b == 0xAB; }));
        std::fill(out.begin(), out.end(), 0);
        qr::kernels::rgbToBgraTurned(rgb.data(), out.data(), width, height, block);
        QCOMPARE(out, expected);
    }

    QVERIFY(!RawFrame::rgbToBgraTurnedInto(std::span(rgb).first(pixels * 3 - 1), size, out));
    QVERIFY(!RawFrame::rgbToBgraTurnedInto(rgb, size, std::span(out).first(pixels * 4 - 1)));
}

void TestRawFrame::bufferPoolReusesWithinBudget_data()
{
    QTest::addColumn<bool>("hugePages");
    QTest::newRow("huge pages") << true;
    QTest::newRow("small pages") << false;
}

void TestRawFrame::bufferPoolReusesWithinBudget()
{
    QFETCH(bool, hugePages);
    const std::size_t frame = 3 * 1000 * 1000 + 4;
    qr::FrameBufferPool pool(2 * frame + 100, hugePages);
    std::uint8_t* a = pool.take(frame);
    std::uint8_t* b = pool.take(frame);
    std::uint8_t* c = pool.take(frame);
    QVERIFY(a && b && c);
    if (hugePages)
        QCOMPARE(reinterpret_cast<std::uintptr_t>(a) % (std::uintptr_t(2) << 20), std::uintptr_t(0));
    std::memset(a, 1, frame); // the whole size is writable
    pool.give(a, frame);
    pool.give(b, frame);
    pool.give(c, frame); // over the budget: a, idle longest, goes
    QCOMPARE(pool.idleCount(), std::size_t(2));
    QCOMPARE(pool.idleBytes(), 2 * frame);
    // Another size is never served from buffers of this one.
    std::uint8_t* other = pool.take(frame / 2);
    QVERIFY(other != b && other != c);
    pool.give(other, frame / 2); // evicts b
    QCOMPARE(pool.take(frame), c);
    QCOMPARE(pool.idleCount(), std::size_t(1));

    // An image over a pooled buffer gives it back when its last copy goes.
    std::memset(c, 0x40, frame);
    {
        const QImage image = pool.wrap(c, frame, 1000, 750);
        QCOMPARE(image.size(), QSize(1000, 750));
        QCOMPARE(image.constBits(), c);
        QCOMPARE(image.pixel(999, 749), 0x40404040u | 0xFF000000u);
        QCOMPARE(pool.idleCount(), std::size_t(1));
    }
    QCOMPARE(pool.idleCount(), std::size_t(2));
    QCOMPARE(pool.take(frame), c);
    // A size the buffer cannot hold is refused and the buffer still goes back.
    QVERIFY(pool.wrap(c, frame, 1000, 751).isNull());
    QCOMPARE(pool.take(frame), c);
    pool.give(c, frame);
    pool.trim();
    QCOMPARE(pool.idleBytes(), std::size_t(0));
}

void TestRawFrame::bufferPoolAcrossThreads()
{
    const std::size_t bytes = 1 << 20;
    qr::FrameBufferPool pool(3 * bytes, true);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                std::uint8_t* p = pool.take(bytes);
                if (!p) {
                    ++wrong;
                    return;
                }
                // No other thread holds this buffer while this one does.
                std::memset(p, t, bytes);
                std::this_thread::yield();
                if (p[0] != t || p[bytes / 2] != t || p[bytes - 1] != t)
                    ++wrong;
                pool.give(p, bytes);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    QCOMPARE(wrong.load(), 0);
    QVERIFY(pool.idleBytes() <= 3 * bytes);
}

namespace {

// The kernel's "THPeligible" of the mapping that holds `address` (-1 when it cannot be read): 1 once
// the mapping was marked for huge pages where they are given only on request.
int hugePageEligible(const void* address)
{
    QFile smaps(QStringLiteral("/proc/self/smaps"));
    if (!smaps.open(QIODevice::ReadOnly))
        return -1;
    const auto at = reinterpret_cast<quintptr>(address);
    bool inside = false;
    for (QByteArray line = smaps.readLine(); !line.isEmpty(); line = smaps.readLine()) {
        // A mapping's line starts with its range in lower-case hex; its fields' names are capitalised.
        const char first = line.at(0);
        if ((first >= '0' && first <= '9') || (first >= 'a' && first <= 'f')) {
            const int dash = line.indexOf('-');
            const int space = line.indexOf(' ');
            inside = dash > 0 && space > dash && at >= line.left(dash).toULongLong(nullptr, 16) &&
                     at < line.mid(dash + 1, space - dash - 1).toULongLong(nullptr, 16);
        } else if (inside && line.startsWith("THPeligible:")) {
            return line.mid(12).trimmed().toInt();
        }
    }
    return -1;
}

QByteArray hugePageMode()
{
    QFile mode(QStringLiteral("/sys/kernel/mm/transparent_hugepage/enabled"));
    return mode.open(QIODevice::ReadOnly) ? mode.readAll() : QByteArray();
}

} // namespace

void TestRawFrame::largeImages_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("ownMapping");
    QTest::newRow("preview, Qt's own") << QSize(400, 300) << false;
    QTest::newRow("just under 2 MiB") << QSize(1024, 511) << false;
    QTest::newRow("exactly 2 MiB") << QSize(1024, 512) << true;
    QTest::newRow("camera photo, portrait") << QSize(1512, 2016) << true;
    QTest::newRow("odd sides") << QSize(2017, 1513) << true;
    QTest::newRow("no width") << QSize(0, 300) << false;
}

// Display copies take a mapping of their own on huge pages when they are large, which goes with the
// image; they are plain RGB32 images with rows of 4 bytes a pixel either way.
void TestRawFrame::largeImages()
{
    QFETCH(QSize, size);
    QFETCH(bool, ownMapping);
    const void* bits = nullptr;
    {
        QImage image = qr::FrameBufferPool::largeImage(size.width(), size.height());
        if (size.isEmpty()) {
            QVERIFY(image.isNull());
            return;
        }
        QCOMPARE(image.size(), size);
        QCOMPARE(image.format(), QImage::Format_RGB32);
        QCOMPARE(image.bytesPerLine(), qsizetype(size.width()) * 4);
        QVERIFY(!image.colorSpace().isValid());
        image.fill(QColor(10, 20, 30)); // every row writable
        QCOMPARE(image.pixel(size.width() - 1, size.height() - 1), qRgb(10, 20, 30));
        bits = image.constBits();
        const auto address = reinterpret_cast<std::uintptr_t>(bits);
        QCOMPARE(address % (std::uintptr_t(2) << 20) == 0, ownMapping);
        if (ownMapping && hugePageMode().contains("[madvise]"))
            QCOMPARE(hugePageEligible(bits), 1);
        // A copy shares the buffer; the mapping stays while any copy does.
        const QImage copy = image;
        image = QImage();
        QCOMPARE(copy.constBits(), bits);
        QCOMPARE(copy.pixel(0, 0), qRgb(10, 20, 30));
    }
    if (ownMapping)
        QCOMPARE(hugePageEligible(bits), -1); // unmapped with the last copy
}

void TestRawFrame::shortOrBadInputsYieldNothing_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("rgbBytes");
    QTest::addColumn<int>("bgraBytes");
    QTest::newRow("one byte short") << 4 << 3 << 4 * 3 * 3 - 1 << 4 * 3 * 4 - 1;
    QTest::newRow("empty") << 4 << 3 << 0 << 0;
    QTest::newRow("zero width") << 0 << 3 << 100 << 100;
    QTest::newRow("negative height") << 4 << -3 << 100 << 100;
    QTest::newRow("no 32-bit overflow") << 65536 << 65536 << 1000 << 1000;
    QTest::newRow("largest int") << 2'147'483'647 << 2'147'483'647 << 1000 << 1000;
}

void TestRawFrame::shortOrBadInputsYieldNothing()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, rgbBytes);
    QFETCH(int, bgraBytes);
    const std::vector<std::uint8_t> rgb(static_cast<std::size_t>(rgbBytes), 1);
    const std::vector<std::uint8_t> bgra(static_cast<std::size_t>(bgraBytes), 1);
    QVERIFY(!RawFrame::rgbToBgra(rgb, FrameSize{width, height}));
    QVERIFY(!RawFrame::rotateBufferToPort(bgra, FrameSize{width, height}));
    std::vector<std::uint8_t> out(4096);
    QVERIFY(!RawFrame::rgbToBgraInto(rgb, FrameSize{width, height}, out));
    QVERIFY(!RawFrame::rotateBufferToPortInto(bgra, FrameSize{width, height}, out));
}

void TestRawFrame::imageWrapsWithoutCopy()
{
    const std::vector<std::uint8_t> rgb{10, 20, 30, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    auto frame = RawFrame::rgbToBgra(rgb, FrameSize{2, 2});
    QVERIFY(frame);
    const std::uint8_t* pixels = frame->buffer.data();
    const QImage image = RawFrame::toImage(std::move(*frame));
    QVERIFY(!image.isNull());
    QCOMPARE(image.constBits(), pixels);
    QCOMPARE(image.format(), QImage::Format_RGB32);
    QCOMPARE(image.size(), QSize(2, 2));
    QCOMPARE(image.colorSpace(), QColorSpace(QColorSpace::DisplayP3));
    QCOMPARE(image.pixel(0, 0), qRgb(10, 20, 30));
    QCOMPARE(image.pixel(1, 1), qRgb(7, 8, 9));
    QVERIFY(RawFrame::toImage(BgraFrame{}).isNull());
}

QTEST_GUILESS_MAIN(TestRawFrame)
#include "tst_rawframe.moc"
