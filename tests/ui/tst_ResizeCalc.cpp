// The window-resize computation and the thumbnail crop.
#include "ui/ResizeCalc.h"
#include "ui/ThumbnailFit.h"

#include <QTest>

#include <cmath>

using namespace qr;

class TstResizeCalc : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void resize_data();
    void resize();
    void standardWidths_data();
    void standardWidths();
    void fit_data();
    void fit();
    void fitRejectsEmpty();
};

void TstResizeCalc::resize_data()
{
    QTest::addColumn<double>("w");
    QTest::addColumn<double>("h");
    QTest::addColumn<float>("scale");
    QTest::addColumn<double>("menuBar");
    QTest::addColumn<float>("outHeight");
    QTest::addColumn<float>("outWidth");
    QTest::addColumn<float>("verticalOffset");
    QTest::addColumn<int>("forcedScreenHeight"); // -1: unchanged
    QTest::addColumn<double>("resultW");
    QTest::addColumn<double>("resultH");

    // 2880 pixels: height forced to 810, then 808; the menu bar is left out of the answer.
    QTest::newRow("1440 at retina") << 1440.0 << 870.0 << 2.0f << 24.0 << 808.0f << 606.0f << 2.0f << 810
                                    << 1440.0 << 808.0;
    QTest::newRow("1280 at retina forces 720")
        << 1280.0 << 700.0 << 2.0f << 24.0 << 720.0f << 540.0f << 0.0f << 720 << 1280.0 << 720.0;
    QTest::newRow("too small at retina")
        << 600.0 << 300.0 << 2.0f << 24.0 << 276.0f << 207.0f << 0.0f << -1 << 1280.0 << 720.0;
    QTest::newRow("too small at scale 1")
        << 1200.0 << 800.0 << 1.0f << 24.0 << 776.0f << 582.0f << 0.0f << -1 << 1600.0 << 900.0;
    // 1920 pixels is standard: the proposed height is the display height (minus the step to 4).
    QTest::newRow("1920 at scale 1") << 1920.0 << 1061.0 << 1.0f << 19.0 << 1060.0f << 795.0f << 1.0f << -1
                                     << 1920.0 << 1060.0;
    QTest::newRow("not standard, menu bar 0 stays 0")
        << 1700.0 << 1003.0 << 1.0f << 0.0 << 1000.0f << 750.0f << 3.0f << -1 << 1700.0 << 1000.0;
    QTest::newRow("not standard keeps the menu bar")
        << 1700.0 << 1003.0 << 1.0f << 19.0 << 984.0f << 738.0f << 0.0f << -1 << 1700.0 << 1003.0;
}

void TstResizeCalc::resize()
{
    QFETCH(double, w);
    QFETCH(double, h);
    QFETCH(float, scale);
    QFETCH(double, menuBar);
    QFETCH(int, forcedScreenHeight);
    const ResizeResult r = ResizeCalc::compute(w, h, scale, menuBar);
    QTEST(r.outHeight, "outHeight");
    QTEST(r.outWidth, "outWidth");
    QTEST(r.verticalOffset, "verticalOffset");
    QTEST(r.width, "resultW");
    QTEST(r.height, "resultH");
    QCOMPARE(r.screenWidth, static_cast<int32_t>(w));
    QCOMPARE(r.screenHeight.value_or(-1), forcedScreenHeight);
    QCOMPARE(static_cast<int>(r.outHeight) % 4, 0);
}

void TstResizeCalc::standardWidths_data()
{
    QTest::addColumn<double>("pixels");
    QTest::addColumn<bool>("standard");
    for (const double p : {1920.0, 2560.0, 2880.0, 3840.0, 4096.0, 5120.0})
        QTest::newRow(qPrintable(QString::number(p))) << p << true;
    for (const double p : {1919.0, 1440.0, 3000.0, 2880.5})
        QTest::newRow(qPrintable(QString::number(p))) << p << false;
}

void TstResizeCalc::standardWidths()
{
    QFETCH(double, pixels);
    QTEST(ResizeCalc::isStandardWidth(pixels), "standard");
}

void TstResizeCalc::fit_data()
{
    QTest::addColumn<double>("sw");
    QTest::addColumn<double>("sh");
    QTest::addColumn<double>("srcX");
    QTest::addColumn<double>("srcY");
    QTest::addColumn<double>("srcW");
    QTest::addColumn<double>("srcH");
    // Target 264 x 784/3 (261.33).
    const double th = 784.0 / 3.0;
    const double squareRows = std::floor(th * 1000.0 / 264.0); // 989
    QTest::newRow("square keeps its width")
        << 1000.0 << 1000.0 << 0.0 << std::floor((1000.0 - squareRows) * 0.5) << 1000.0 << squareRows;
    // 3:4 portrait: 264/3024 > 261.33/4032, the width is kept and the height is cropped.
    const double portraitRows = std::floor(th / static_cast<float>(264.0 / 3024.0));
    QTest::newRow("3:4 portrait keeps its width")
        << 3024.0 << 4032.0 << 0.0 << std::floor((4032.0 - portraitRows) * 0.5) << 3024.0 << portraitRows;
    // 16:9: the height is kept and the central part of the width used.
    const double wideCols = std::floor(264.0 / static_cast<float>(th / 1080.0));
    QTest::newRow("16:9 keeps its height")
        << 1920.0 << 1080.0 << std::floor((1920.0 - wideCols) * 0.5) << 0.0 << wideCols << 1080.0;
}

void TstResizeCalc::fit()
{
    QFETCH(double, sw);
    QFETCH(double, sh);
    const auto p = ThumbnailFit::plan(sw, sh, 264.0, 784.0);
    QVERIFY(p.has_value());
    QCOMPARE(p->targetWidth, 264.0);
    QCOMPARE(p->targetHeight, 784.0 / 3.0);
    QTEST(p->sourceX, "srcX");
    QTEST(p->sourceY, "srcY");
    QTEST(p->sourceWidth, "srcW");
    QTEST(p->sourceHeight, "srcH");
    // The crop has the target's shape, to within a pixel.
    QVERIFY(std::abs(p->sourceWidth / p->sourceHeight - p->targetWidth / p->targetHeight) <
            2.0 / std::min(p->sourceWidth, p->sourceHeight));
}

void TstResizeCalc::fitRejectsEmpty()
{
    QVERIFY(!ThumbnailFit::plan(0, 100, 264, 784).has_value());
    QVERIFY(!ThumbnailFit::plan(100, 100, 0, 784).has_value());
    QVERIFY(!ThumbnailFit::plan(100, -5, 264, 784).has_value());
    QVERIFY(!ThumbnailFit::plan(std::nan(""), 100, 264, 784).has_value());
}

QTEST_APPLESS_MAIN(TstResizeCalc)
#include "tst_ResizeCalc.moc"
