#include "platform/MainWindow.h"

#include <QTest>

using qr::MainWindow;

class TestMainWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void lockedToAspect_data();
    void lockedToAspect();
    void frameCoversTheRectangle_data();
    void frameCoversTheRectangle();
    void correctedPlacementIsLaidOut();
};

void TestMainWindow::lockedToAspect_data()
{
    QTest::addColumn<QSize>("before");
    QTest::addColumn<QSize>("proposed");
    QTest::addColumn<QSize>("locked");
    QTest::newRow("corner drag, width moved more")
        << QSize(1918, 1055) << QSize(1500, 1000) << QSize(1500, 844);
    QTest::newRow("bottom edge only") << QSize(1918, 1055) << QSize(1918, 900) << QSize(1600, 900);
    QTest::newRow("right edge only") << QSize(1600, 900) << QSize(1700, 900) << QSize(1700, 956);
    QTest::newRow("already 16:9") << QSize(1600, 900) << QSize(1920, 1080) << QSize(1920, 1080);
    QTest::newRow("relative change decides, not pixels")
        << QSize(1000, 400) << QSize(1100, 500) << QSize(889, 500);
    QTest::newRow("empty stays empty") << QSize(1600, 900) << QSize(0, 0) << QSize(0, 0);
}

void TestMainWindow::lockedToAspect()
{
    QFETCH(QSize, before);
    QFETCH(QSize, proposed);
    QFETCH(QSize, locked);
    QCOMPARE(MainWindow::lockedToAspect(proposed, before), locked);
}

void TestMainWindow::frameCoversTheRectangle_data()
{
    QTest::addColumn<QRect>("frame");
    QTest::addColumn<QSize>("maximumFrame"); // empty: none
    QTest::newRow("available area") << QRect(0, 0, 800, 600) << QSize();
    QTest::newRow("bottom-left corner, no larger") << QRect(0, 300, 200, 300) << QSize(200, 300);
}

// The offscreen platform decorates windows with a frame of its own: the frame, not the client area,
// lands on the rectangle, and a maximum applies to the frame too.
void TestMainWindow::frameCoversTheRectangle()
{
    QFETCH(QRect, frame);
    QFETCH(QSize, maximumFrame);
    MainWindow w(QSize(960, 540));
    if (maximumFrame.isValid())
        w.setMaximumFrameSize(maximumFrame);
    w.setResizable(true);
    w.setFrame(frame);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(w.frameGeometry() != w.geometry()); // decorations exist here
    QCOMPARE(w.frameGeometry(), frame);
    QTRY_VERIFY(!w.isPlacing());
    QCOMPARE(w.frameGeometry(), frame);
    if (maximumFrame.isValid()) {
        w.resize(w.size() * 2);
        QCOMPARE(w.frameGeometry().size(), maximumFrame);
    }
}

// Decorations learnt only once the window shows (the offscreen platform does not tell them before,
// as some window managers do not): the placement shrinks the client area to keep the frame on the
// rectangle, and the content is laid out again for the client area it got, which the window keeps.
void TestMainWindow::correctedPlacementIsLaidOut()
{
    MainWindow w(QSize(960, 540));
    QList<QSize> asked;
    w.setResizeDelegate([&asked](QSize proposed) {
        asked.append(proposed);
        return QSize(1600, 900); // a minimum larger than the rectangle: not applied here
    });
    w.setResizable(true);
    const QRect frame(0, 0, 800, 600);
    w.setFrame(frame);
    const QSize firstLayout = w.size();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTRY_VERIFY(!w.isPlacing());
    QVERIFY(w.size() != firstLayout); // the decorations took their share
    QCOMPARE(asked.size(), 1);
    QCOMPARE(asked.last(), w.size());
    QCOMPARE(w.frameGeometry(), frame);
}

QTEST_MAIN(TestMainWindow)
#include "tst_MainWindow.moc"
