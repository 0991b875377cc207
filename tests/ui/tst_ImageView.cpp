#include "ui/ImageView.h"

#include <QPainter>
#include <QtTest>

using namespace qr;

namespace {

// What the view paints over a white background.
QImage rendered(ImageView& view)
{
    QImage out(view.size(), QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::white);
    view.render(&out, QPoint(), QRegion(), QWidget::RenderFlags());
    return out;
}

// Black on the left half, white on the right.
QImage halves(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter(&image).fillRect(size.width() / 2, 0, size.width() - size.width() / 2, size.height(), Qt::white);
    return image;
}

} // namespace

class TestImageView : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void downscaleAveragesPixels_data();
    void downscaleAveragesPixels();
    void scaledImageFollowsImageAndSize();
    void transparentImageKeepsItsTransparency();
};

void TestImageView::downscaleAveragesPixels_data()
{
    QTest::addColumn<QImage>("image");
    QTest::addColumn<QSize>("viewSize");
    QTest::addColumn<QPoint>("probe");
    QTest::addColumn<int>("low");
    QTest::addColumn<int>("high");

    QImage checker(400, 200, QImage::Format_RGB32);
    for (int y = 0; y < checker.height(); ++y) {
        for (int x = 0; x < checker.width(); ++x)
            checker.setPixel(x, y, (x + y) % 2 ? 0xffffffffu : 0xff000000u);
    }
    // Every display pixel covers as many black as white photo pixels: grey, never one or the other.
    QTest::newRow("checker at half") << checker << QSize(200, 100) << QPoint(100, 50) << 110 << 145;
    QTest::newRow("checker at a third") << checker << QSize(133, 67) << QPoint(66, 33) << 100 << 155;
    QTest::newRow("halves, white side")
        << halves({400, 200}) << QSize(200, 100) << QPoint(150, 50) << 250 << 255;
    QTest::newRow("halves, black side") << halves({400, 200}) << QSize(200, 100) << QPoint(50, 50) << 0 << 5;
}

void TestImageView::downscaleAveragesPixels()
{
    QFETCH(QImage, image);
    QFETCH(QSize, viewSize);
    QFETCH(QPoint, probe);
    QFETCH(int, low);
    QFETCH(int, high);
    ImageView view;
    view.resize(viewSize);
    view.setImage(image);
    const QColor shown = rendered(view).pixelColor(probe);
    QVERIFY2(shown.red() >= low && shown.red() <= high && shown.green() == shown.red(),
             qPrintable(QStringLiteral("painted %1").arg(shown.name())));
}

// The downscale is kept between paints; a new image or a new size makes it again.
void TestImageView::scaledImageFollowsImageAndSize()
{
    ImageView view;
    view.resize(200, 100);
    QImage red(400, 200, QImage::Format_RGB32);
    red.fill(Qt::red);
    view.setImage(red);
    QCOMPARE(rendered(view).pixelColor(100, 50), QColor(Qt::red));

    QImage blue = red;
    blue.fill(Qt::blue);
    view.setImage(blue);
    QCOMPARE(rendered(view).pixelColor(100, 50), QColor(Qt::blue));

    view.setImage(halves({400, 200}));
    QCOMPARE(rendered(view).pixelColor(150, 50), QColor(Qt::white));
    view.resize(100, 50);
    // At the new size the white half starts at x 50; a downscale kept from before would be black there.
    QCOMPARE(rendered(view).pixelColor(60, 25), QColor(Qt::white));
    QCOMPARE(rendered(view).pixelColor(40, 25), QColor(Qt::black));
}

void TestImageView::transparentImageKeepsItsTransparency()
{
    QImage image(400, 200, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter(&image).fillRect(0, 0, 200, 200, Qt::red);
    ImageView view;
    view.resize(200, 100);
    view.setImage(image);
    const QImage out = rendered(view);
    QCOMPARE(out.pixelColor(50, 50), QColor(Qt::red));
    QCOMPARE(out.pixelColor(150, 50), QColor(Qt::white));
}

QTEST_MAIN(TestImageView)
#include "tst_ImageView.moc"
