// The controller bar: buttons, command numbers, the play/pause swap and the weak delegate.
#include "ui/PbCtlrView.h"
#include "ui/PbCtlrViewPlaybackDelegate.h"

#include <QPushButton>
#include <QTest>

#include <vector>

using namespace qr;

namespace {

// Records each command with the icon state the bar showed when it arrived.
class RecordingDelegate : public QObject, public PbCtlrViewPlaybackDelegate {
public:
    struct Call {
        int32_t num;
        bool pauseShownAtSend;
    };
    std::vector<Call> calls;
    void toContainerVCFromPbCtlrView(PbCtlrView* sender, TransportCommand command) override
    {
        calls.push_back({static_cast<int32_t>(command), sender->iconIsAtPause()});
    }
};

std::unique_ptr<PbCtlrView> makeBar(float width, float shift)
{
    auto bar = std::make_unique<PbCtlrView>();
    bar->resize(static_cast<int>(width), 50);
    bar->_shiftAdjust = shift;
    bar->configTheCtlr(588.0f, 1.0f);
    bar->show();
    return bar;
}

QList<PbCtlrView::Button> visibleButtons(const PbCtlrView& bar)
{
    QList<PbCtlrView::Button> out;
    for (int i = 0; i < PbCtlrView::ButtonCount; ++i)
        if (bar.button(static_cast<PbCtlrView::Button>(i))->isVisible())
            out << static_cast<PbCtlrView::Button>(i);
    return out;
}

} // namespace

class TstPbCtlrView : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void newBarShowsPause();
    void titlesAndNames();
    void commands_data();
    void commands();
    void withoutDelegateOnlyTheIconChanges();
    void delegateIsWeak();
    void placement_data();
    void placement();
};

void TstPbCtlrView::newBarShowsPause()
{
    const auto bar = makeBar(450, 63);
    QVERIFY(bar->iconIsAtPause());
    const QList<PbCtlrView::Button> expected{
        PbCtlrView::Pause,         PbCtlrView::FwdOne,  PbCtlrView::BackOne, PbCtlrView::GoToEnd,
        PbCtlrView::GoToBeginning, PbCtlrView::NextSet, PbCtlrView::PrevSet};
    QCOMPARE(visibleButtons(*bar), expected);
}

void TstPbCtlrView::titlesAndNames()
{
    const auto bar = makeBar(450, 63);
    const QStringList titles{QString::fromUtf8("\u25B6\uFE0E"), QString::fromUtf8("\u2016\uFE0E"),
                             QString::fromUtf8("\u27A1\uFE0E"), QString::fromUtf8("\u2B05\uFE0E"),
                             QString::fromUtf8("\u252B\uFE0E"), QString::fromUtf8("\u2523\uFE0E"),
                             QString::fromUtf8("\u2B06\uFE0E"), QString::fromUtf8("\u2B07\uFE0E")};
    const QStringList names{"Play",       "Pause",       "Next photo", "Previous photo",
                            "Last photo", "First photo", "Next set",   "Previous set"};
    for (int i = 0; i < PbCtlrView::ButtonCount; ++i) {
        const QPushButton* b = bar->button(static_cast<PbCtlrView::Button>(i));
        QCOMPARE(b->text(), titles[i]);
        QCOMPARE(b->text().size(), 2);
        QCOMPARE(b->accessibleName(), names[i]);
        QVERIFY(b->toolTip().startsWith(names[i]));
    }
}

void TstPbCtlrView::commands_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<bool>("startPaused"); // play shown before the press
    QTest::addColumn<int>("num");
    QTest::addColumn<bool>("pauseShownAfter");
    QTest::newRow("pause") << int(PbCtlrView::Pause) << false << 1 << false;
    QTest::newRow("play") << int(PbCtlrView::Play) << true << 1 << true;
    QTest::newRow("forward") << int(PbCtlrView::FwdOne) << false << 2 << false;
    QTest::newRow("back") << int(PbCtlrView::BackOne) << false << 3 << false;
    QTest::newRow("end") << int(PbCtlrView::GoToEnd) << false << 4 << false;
    QTest::newRow("beginning") << int(PbCtlrView::GoToBeginning) << false << 5 << false;
    QTest::newRow("next set") << int(PbCtlrView::NextSet) << false << 6 << false;
    QTest::newRow("previous set") << int(PbCtlrView::PrevSet) << false << 7 << false;
    QTest::newRow("forward while paused") << int(PbCtlrView::FwdOne) << true << 2 << false;
}

void TstPbCtlrView::commands()
{
    QFETCH(int, button);
    QFETCH(bool, startPaused);
    QFETCH(int, num);
    QFETCH(bool, pauseShownAfter);
    const auto bar = makeBar(450, 63);
    RecordingDelegate d;
    bar->setDelegate(&d);
    if (startPaused)
        bar->button(PbCtlrView::Pause)->click();
    d.calls.clear();
    const bool pauseShownBefore = bar->iconIsAtPause();
    QPushButton* b = bar->button(static_cast<PbCtlrView::Button>(button));
    QVERIFY(b->isVisible());
    QTest::mouseClick(b, Qt::LeftButton);
    QCOMPARE(d.calls.size(), size_t(1));
    QCOMPARE(d.calls[0].num, num);
    // The command went out before the icon changed.
    QCOMPARE(d.calls[0].pauseShownAtSend, pauseShownBefore);
    QCOMPARE(bar->iconIsAtPause(), pauseShownAfter);
    QCOMPARE(bar->button(PbCtlrView::Pause)->isVisible(), pauseShownAfter);
    QCOMPARE(bar->button(PbCtlrView::Play)->isVisible(), !pauseShownAfter);
    QCOMPARE(visibleButtons(*bar).size(), 7);
}

void TstPbCtlrView::withoutDelegateOnlyTheIconChanges()
{
    const auto bar = makeBar(500, 70);
    QObject notADelegate;
    bar->setDelegate(&notADelegate);
    bar->button(PbCtlrView::Pause)->click();
    QVERIFY(!bar->iconIsAtPause());
    bar->setDelegate(nullptr);
    bar->button(PbCtlrView::Play)->click();
    QVERIFY(bar->iconIsAtPause());
}

void TstPbCtlrView::delegateIsWeak()
{
    const auto bar = makeBar(450, 63);
    auto d = std::make_unique<RecordingDelegate>();
    bar->setDelegate(d.get());
    bar->button(PbCtlrView::FwdOne)->click();
    QCOMPARE(d->calls.size(), size_t(1));
    d.reset();
    QCOMPARE(bar->delegate(), nullptr);
    bar->button(PbCtlrView::BackOne)->click(); // must not reach the destroyed delegate
    QVERIFY(!bar->iconIsAtPause());
}

void TstPbCtlrView::placement_data()
{
    QTest::addColumn<float>("width");
    QTest::addColumn<float>("shift");
    QTest::addColumn<int>("margin");
    QTest::newRow("retina bar") << 450.0f << 63.0f << 6;
    QTest::newRow("other bar") << 500.0f << 70.0f << 10;
}

void TstPbCtlrView::placement()
{
    QFETCH(float, width);
    QFETCH(float, shift);
    QFETCH(int, margin);
    const auto bar = makeBar(width, shift);
    // Symmetric about the centre; the outermost buttons end `margin` points inside the bar.
    for (const auto& [left, right] : {std::pair{PbCtlrView::BackOne, PbCtlrView::FwdOne},
                                      std::pair{PbCtlrView::GoToBeginning, PbCtlrView::GoToEnd},
                                      std::pair{PbCtlrView::PrevSet, PbCtlrView::NextSet}}) {
        const QRect l = bar->button(left)->geometry();
        const QRect r = bar->button(right)->geometry();
        QCOMPARE(l.left() + r.right() + 1, static_cast<int>(width));
    }
    QCOMPARE(bar->button(PbCtlrView::PrevSet)->geometry().left(), margin);
    QCOMPARE(bar->button(PbCtlrView::NextSet)->geometry().right() + 1, static_cast<int>(width) - margin);
    for (int i = 0; i < PbCtlrView::ButtonCount; ++i) {
        const QRect g = bar->button(static_cast<PbCtlrView::Button>(i))->geometry();
        QCOMPARE(g.size(), QSize(60, 40));
        // 2.5 points above the bar's bottom edge.
        QCOMPARE(g.bottom() + 1, 48);
    }
    QCOMPARE(bar->button(PbCtlrView::Play)->geometry(), bar->button(PbCtlrView::Pause)->geometry());
}

QTEST_MAIN(TstPbCtlrView)
#include "tst_PbCtlrView.moc"
