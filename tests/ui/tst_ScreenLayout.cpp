// Screen metrics, media-player and MVC panel layouts, controller bar placement, point-to-Qt mapping.
#include "ui/DisplayLayout.h"
#include "ui/PanelStyle.h"
#include "ui/PointRect.h"
#include "ui/ScreenMetrics.h"

#include <QTest>

#include "PointRectPrinter.h"

using namespace qr;

Q_DECLARE_METATYPE(qr::PointRect)

class TstScreenLayout : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void metrics_data();
    void metrics();
    void mediaPlayer();
    void mvc_data();
    void mvc();
    void controllerBar_data();
    void controllerBar();
    void qtRectFlipsAndTiles();
    void panelBackgrounds();
};

void TstScreenLayout::metrics_data()
{
    QTest::addColumn<float>("scale");
    QTest::addColumn<double>("frameW");
    QTest::addColumn<double>("frameH");
    QTest::addColumn<double>("visibleW");
    QTest::addColumn<double>("visibleH");
    QTest::addColumn<double>("menuBar");
    QTest::addColumn<int>("maxScreenHeight");
    QTest::addColumn<int>("screenHeight");
    QTest::addColumn<float>("outHeight");
    QTest::addColumn<float>("outWidth");
    QTest::addColumn<float>("verticalOffset");

    QTest::newRow("1440x900 retina, capped at 16:9")
        << 2.0f << 1440.0 << 900.0 << 1440.0 << 875.0 << 24.0 << 810 << 786 << 784.0f << 588.0f << 2.0f;
    // 1050 - 22 = 1028, already a multiple of 4.
    QTest::newRow("multiple of 4, menu bar 0 counts as 22")
        << 1.0f << 1920.0 << 1080.0 << 1920.0 << 1050.0 << 0.0 << 1080 << 1028 << 1028.0f << 771.0f << 0.0f;
    QTest::newRow("odd visible height")
        << 1.0f << 1920.0 << 1200.0 << 1920.0 << 1177.0 << 19.0 << 1080 << 1061 << 1060.0f << 795.0f << 1.0f;
}

void TstScreenLayout::metrics()
{
    QFETCH(float, scale);
    QFETCH(double, frameW);
    QFETCH(double, frameH);
    QFETCH(double, visibleW);
    QFETCH(double, visibleH);
    QFETCH(double, menuBar);
    const ScreenMetrics m = ScreenMetricsCalc::compute({scale, frameW, frameH, visibleW, visibleH, menuBar});
    QTEST(m.maxScreenHeight, "maxScreenHeight");
    QTEST(m.screenHeight, "screenHeight");
    QTEST(m.outHeight, "outHeight");
    QTEST(m.outWidth, "outWidth");
    QTEST(m.verticalOffset, "verticalOffset");
    QCOMPARE(m.screenWidth, static_cast<int32_t>(visibleW));
}

void TstScreenLayout::mediaPlayer()
{
    const PanelFrames f = DisplayLayout::mediaPlayer(588.0f, 784.0f, 2.0f, 1440);
    QCOMPARE(f.container, (PointRect{0, 0, 588, 784}));
    QCOMPARE(f.renderView[0], (PointRect{294, 1, 588, 784}));
    QCOMPARE(f.widthOfTheRightColumn, 264.0f);
    const double third = 784.0 / 3.0;
    QCOMPARE(f.renderView[1], (PointRect{1176, 2 * third + 1, 264, third}));
    QCOMPARE(f.renderView[2], (PointRect{1176, third + 1, 264, third}));
    QCOMPARE(f.renderView[3], (PointRect{1176, 1, 264, third}));
    // The right column fills the screen's width and the panels stack without gaps.
    QCOMPARE(f.renderView[1].x + f.renderView[1].width, 1440.0);
    QCOMPARE(f.renderView[3].y + f.renderView[3].height, f.renderView[2].y);
}

void TstScreenLayout::mvc_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<PointRect>("rv1");
    QTest::addColumn<PointRect>("rv2");
    QTest::addColumn<PointRect>("rv3");
    QTest::addColumn<PointRect>("rv4");
    QTest::addColumn<PointRect>("frame2");
    // 1600 x 880 usable area, vertical offset 2 (panels raised by 1).
    QTest::newRow("0 four columns") << 0 << PointRect{0, 1, 400, 880} << PointRect{400, 1, 400, 880}
                                    << PointRect{800, 1, 400, 880} << PointRect{1200, 1, 400, 880}
                                    << PointRect{};
    QTest::newRow("1 four quadrants")
        << 1 << PointRect{0, 441, 800, 440} << PointRect{800, 441, 800, 440} << PointRect{0, 1, 800, 440}
        << PointRect{800, 1, 800, 440} << PointRect{};
    QTest::newRow("2 columns then quadrants")
        << 2 << PointRect{0, 1, 400, 880} << PointRect{400, 1, 400, 880} << PointRect{800, 441, 800, 440}
        << PointRect{800, 1, 800, 440} << PointRect{0, 0, 800, 440};
    QTest::newRow("3 quadrants then columns")
        << 3 << PointRect{0, 441, 800, 440} << PointRect{0, 1, 800, 440} << PointRect{800, 1, 400, 880}
        << PointRect{1200, 1, 400, 880} << PointRect{0, 0, 400, 880};
}

void TstScreenLayout::mvc()
{
    QFETCH(int, mode);
    const PanelFrames f = DisplayLayout::mvc(mode, 1600, 880, 2.0f);
    QCOMPARE(f.container, (PointRect{0, 0, 1600, 880}));
    QTEST(f.renderView[0], "rv1");
    QTEST(f.renderView[1], "rv2");
    QTEST(f.renderView[2], "rv3");
    QTEST(f.renderView[3], "rv4");
    QTEST(f.frame2, "frame2");
}

void TstScreenLayout::controllerBar_data()
{
    QTest::addColumn<float>("scale");
    QTest::addColumn<double>("rv1Width");
    QTest::addColumn<PointRect>("frame");
    QTest::addColumn<float>("shift");
    QTest::newRow("retina") << 2.0f << 588.0 << PointRect{363, 30, 450, 50} << 63.0f;
    QTest::newRow("scale 1") << 1.0f << 771.0 << PointRect{521, 30, 500, 50} << 70.0f;
    QTest::newRow("scale 3") << 3.0f << 600.0 << PointRect{350, 30, 500, 50} << 70.0f;
}

void TstScreenLayout::controllerBar()
{
    QFETCH(float, scale);
    QFETCH(double, rv1Width);
    QTEST(DisplayLayout::controllerBarFrame(scale, rv1Width), "frame");
    QTEST(DisplayLayout::controllerBarShiftAdjust(scale), "shift");
    // Centred under the main display, which starts at half its width.
    const PointRect bar = DisplayLayout::controllerBarFrame(scale, rv1Width);
    QCOMPARE(bar.x + bar.width * 0.5, rv1Width * 0.5 + rv1Width * 0.5);
}

void TstScreenLayout::qtRectFlipsAndTiles()
{
    // Bottom-left points become top-left pixels; fractional panels share their edges.
    QCOMPARE(qtRect({294, 1, 588, 784}, 786), QRect(294, 1, 588, 784));
    QCOMPARE(qtRect({0, 0, 100, 20}, 200), QRect(0, 180, 100, 20));
    const PanelFrames f = DisplayLayout::mediaPlayer(588.0f, 784.0f, 2.0f, 1440);
    const QRect top = qtRect(f.renderView[1], 786);
    const QRect mid = qtRect(f.renderView[2], 786);
    const QRect bottom = qtRect(f.renderView[3], 786);
    QCOMPARE(top.bottom() + 1, mid.top());
    QCOMPARE(mid.bottom() + 1, bottom.top());
    QCOMPARE(top.top(), 1);
    QCOMPARE(bottom.bottom() + 1, 785);
}

void TstScreenLayout::panelBackgrounds()
{
    const Rgba grey{0.250980, 0.250980, 0.250980, 1};
    const Rgba light{0.501961, 0.501961, 0.501961, 1};
    for (int panel = 1; panel <= 3; ++panel)
        QCOMPARE(PanelStyle::background(panel, false), grey);
    QCOMPARE(PanelStyle::background(4, false), light);
    QCOMPARE(PanelStyle::background(4, true), light);
    QCOMPARE(PanelStyle::background(1, true), (Rgba{1, 0, 0, 1}));
    QCOMPARE(PanelStyle::background(2, true), (Rgba{0, 1, 0, 1}));
    QCOMPARE(PanelStyle::background(3, true), (Rgba{0, 0, 1, 1}));
}

QTEST_APPLESS_MAIN(TstScreenLayout)
#include "tst_ScreenLayout.moc"
