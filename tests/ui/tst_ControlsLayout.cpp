// Control-panel geometry, zoom geometry and the speed steps.
#include "ui/ControlsLayout.h"

#include <QTest>

#include "PointRectPrinter.h"

using namespace qr;

Q_DECLARE_METATYPE(qr::PointRect)

class TstControlsLayout : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void speed_data();
    void speed();
    void panel_data();
    void panel();
    void zoomKeepsLabelsOnScreen_data();
    void zoomKeepsLabelsOnScreen();
    void fittedIsCentred();
};

void TstControlsLayout::speed_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("speed");
    QTest::addColumn<float>("interval");
    QTest::newRow("0.8751") << 0.8751 << 30 << 0.033333335f;
    QTest::newRow("0.875 exactly") << 0.875 << 15 << 0.06666667f;
    QTest::newRow("0.76") << 0.76 << 15 << 0.06666667f;
    QTest::newRow("0.75 exactly") << 0.75 << 10 << 0.1f;
    QTest::newRow("0.625 exactly") << 0.625 << 6 << 0.16666667f;
    QTest::newRow("0.6") << 0.6 << 6 << 0.16666667f;
    QTest::newRow("0.5 exactly") << 0.5 << 5 << 0.2f;
    QTest::newRow("0.375 exactly") << 0.375 << 3 << 0.33333334f;
    QTest::newRow("0.3") << 0.3 << 3 << 0.33333334f;
    QTest::newRow("0.25 exactly") << 0.25 << 2 << 0.5f;
    QTest::newRow("0.2") << 0.2 << 2 << 0.5f;
    QTest::newRow("0.125 exactly") << 0.125 << 1 << 1.0f;
    QTest::newRow("start 0.0625") << 0.0625 << 1 << 1.0f;
    QTest::newRow("1.0") << 1.0 << 30 << 0.033333335f;
    QTest::newRow("below range") << -3.0 << 1 << 1.0f;
}

void TstControlsLayout::speed()
{
    QFETCH(double, value);
    const SpeedStep s = ControlsLayout::speedFor(value);
    QTEST(s.playbackSpeed, "speed");
    QTEST(s.timerTimeInterval, "interval");
}

void TstControlsLayout::panel_data()
{
    QTest::addColumn<float>("scale");
    QTest::addColumn<PointRect>("playlist");
    QTest::addColumn<PointRect>("tools");
    QTest::addColumn<PointRect>("zoom");
    QTest::addColumn<PointRect>("reset");
    QTest::addColumn<PointRect>("copy");
    QTest::addColumn<PointRect>("share");
    QTest::addColumn<PointRect>("format");
    // Render view 4 of the 1440 x 900 retina screen: 264 x 784/3.
    const double h = 784.0 / 3.0;
    QTest::newRow("retina") << 2.0f << PointRect{67, double(0.2083333f) * h, 130, 40}
                            << PointRect{67, double(0.0416667f) * h, 130, 40}
                            << PointRect{(264 - 0.8 * 264) * 0.5, double(0.8416667f) * h, 0.8 * 264, 15}
                            << PointRect{102, double(0.2083333f) * h, 60, 30}
                            << PointRect{28.5, double(0.2083333f) * h, 60, 30}
                            << PointRect{175.5, double(0.2083333f) * h, 60, 30}
                            << PointRect{(264 - 0.95 * 264) * 0.5, double(0.6666667f) * h, 0.95 * 264, 15};
    // A 1920 x 1080 screen at scale 1: column 1920 - 2 * 771 = 378, 1028/3 high.
    const double h1 = 1028.0 / 3.0;
    QTest::newRow("scale 1") << 1.0f << PointRect{114, double(0.2083333f) * h1, 150, 50}
                             << PointRect{114, double(0.0416667f) * h1, 150, 50}
                             << PointRect{(378 - 0.8 * 378) * 0.5, double(0.8416667f) * h1, 0.8 * 378, 30}
                             << PointRect{144, double(0.2083333f) * h1, 90, 45}
                             << PointRect{34.5, double(0.2083333f) * h1, 90, 45}
                             << PointRect{253.5, double(0.2083333f) * h1, 90, 45}
                             << PointRect{(378 - 0.8 * 378) * 0.5, double(0.6666667f) * h1, 0.8 * 378, 30};
}

void TstControlsLayout::panel()
{
    QFETCH(float, scale);
    QFETCH(PointRect, zoom);
    const double w = scale == 2.0f ? 264.0 : 378.0;
    const double h = scale == 2.0f ? 784.0 / 3.0 : 1028.0 / 3.0;
    const ControlsGeometry g = ControlsLayout::compute(w, h, scale);
    QTEST(g.generatePlaylist, "playlist");
    QTEST(g.tools, "tools");
    QTEST(g.zoomSlider, "zoom");
    QTEST(g.reset, "reset");
    QTEST(g.copy, "copy");
    QTEST(g.share, "share");
    QTEST(g.formatSelector, "format");
    QCOMPARE(g.fitFormatSelector, scale != 2.0f);
    QCOMPARE(g.captionFontSize, scale == 2.0f ? 12.0 : 16.0);
    // The sliders are stacked from the top: zoom, x, y, speed, all the same size.
    QVERIFY(g.zoomSlider.y > g.xSlider.y && g.xSlider.y > g.ySlider.y && g.ySlider.y > g.speedSlider.y);
    QCOMPARE(g.speedSlider.width, zoom.width);
    QCOMPARE(g.speedSlider.x, zoom.x);
    // Copy and Share flank Reset with equal gaps.
    QCOMPARE(g.reset.x - (g.copy.x + g.copy.width), g.share.x - (g.reset.x + g.reset.width));
}

void TstControlsLayout::zoomKeepsLabelsOnScreen_data()
{
    QTest::addColumn<float>("z");
    QTest::newRow("0") << 0.0f;
    QTest::newRow("0.5") << 0.5f;
    QTest::newRow("1.0") << 1.0f;
    QTest::newRow("raw max") << 1.5714285f;
}

void TstControlsLayout::zoomKeepsLabelsOnScreen()
{
    QFETCH(float, z);
    const ZoomGeometry g = ControlsLayout::zoom(z, 588.0f, 784.0f, 2.0f, 0.0f, 0.0f);
    QCOMPARE(g.renderView1.width, double(588.0f + z * 588.0f));
    QCOMPARE(g.renderView1.height, double(784.0f + z * 784.0f));
    // Grown evenly about the natural display's centre.
    QCOMPARE(g.renderView1.x + g.renderView1.width * 0.5, 294.0 + 294.0);
    QCOMPARE(g.renderView1.y + g.renderView1.height * 0.5, 1.0 + 392.0);
    // Labels at the same container position as without zoom: (294 + 15, 1 + 15) and the right one.
    QCOMPARE(g.renderView1.x + g.photoNumLabel.x, 294.0 + 15.0);
    QCOMPARE(g.renderView1.y + g.photoNumLabel.y, 1.0 + 15.0);
    QCOMPARE(g.renderView1.x + g.playbackSpeedLabel.x, 294.0 + 588.0 - 30.0);
    QCOMPARE(g.imageView1, (PointRect{0, 0, g.renderView1.width, g.renderView1.height}));
}

void TstControlsLayout::fittedIsCentred()
{
    const PointRect r = ControlsLayout::fitted({10, 50, 200, 30}, 120, 24, 300);
    QCOMPARE(r, (PointRect{90, 50, 120, 24}));
}

QTEST_APPLESS_MAIN(TstControlsLayout)
#include "tst_ControlsLayout.moc"
