#include "mvc/MvcControlStripLayout.h"

#include <QTest>

using qr::MvcControlStripLayout;
using qr::MvcStripRect;

Q_DECLARE_METATYPE(MvcStripRect)

class TestMvcControlStripLayout : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void geometry_data();
    void geometry();
};

void TestMvcControlStripLayout::geometry_data()
{
    QTest::addColumn<double>("w4");
    QTest::addColumn<double>("h4");
    QTest::addColumn<float>("scale");
    QTest::addColumn<MvcStripRect>("indicator2");
    QTest::addColumn<MvcStripRect>("label3");
    QTest::addColumn<MvcStripRect>("button1");
    QTest::addColumn<double>("buttonBorder");
    QTest::addColumn<double>("imageSide");

    // Render view 4 of tiling 2 on a 1440 x 786 area: 720 x 393.
    QTest::newRow("scale 2") << 720.0 << 393.0 << 2.0F << MvcStripRect{355.5, 241.125, 9, 9}
                             << MvcStripRect{510, 255.1875, 60, 30} << MvcStripRect{162, 178.5, 36, 36} << 2.5
                             << 12.0;
    QTest::newRow("scale 1") << 480.0 << 1000.0 << 1.0F << MvcStripRect{231, 616, 18, 18}
                             << MvcStripRect{330, 672.5, 60, 30} << MvcStripRect{84, 464, 72, 72} << 5.0
                             << 24.0;
    QTest::newRow("scale 1.5 counts as not 2")
        << 400.0 << 400.0 << 1.5F << MvcStripRect{191, 241, 18, 18} << MvcStripRect{270, 260, 60, 30}
        << MvcStripRect{64, 164, 72, 72} << 5.0 << 24.0;
}

void TestMvcControlStripLayout::geometry()
{
    QFETCH(double, w4);
    QFETCH(double, h4);
    QFETCH(float, scale);
    QFETCH(MvcStripRect, indicator2);
    QFETCH(MvcStripRect, label3);
    QFETCH(MvcStripRect, button1);
    QFETCH(double, buttonBorder);
    QFETCH(double, imageSide);
    const auto l = MvcControlStripLayout::compute(w4, h4, scale);
    QCOMPARE(l.indicators[1], indicator2);
    QCOMPARE(l.speedLabels[2], label3);
    QCOMPARE(l.shutterButtons[0], button1);
    QCOMPARE(l.buttonBorderWidth, buttonBorder);
    QCOMPARE(l.buttonImageSide, imageSide);
    QCOMPARE(l.indicatorCornerRadius, indicator2.width / 2);
    QCOMPARE(l.buttonCornerRadius, button1.width / 2);
    // The three items of each kind are centred at a quarter, a half and three quarters of the width.
    for (int n = 0; n < 3; ++n) {
        const double centre = (n + 1) * 0.25 * w4;
        QCOMPARE(l.indicators[std::size_t(n)].x + l.indicators[std::size_t(n)].width / 2, centre);
        QCOMPARE(l.shutterButtons[std::size_t(n)].x + l.shutterButtons[std::size_t(n)].width / 2, centre);
    }
}

QTEST_GUILESS_MAIN(TestMvcControlStripLayout)
#include "tst_MvcControlStripLayout.moc"
