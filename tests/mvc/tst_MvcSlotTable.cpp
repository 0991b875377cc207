#include "mvc/MvcSlotTable.h"

#include <QTest>

using qr::ConnectionState;
using qr::MvcIndicatorColour;
using qr::MvcSlotTable;

namespace {

constexpr std::int64_t kMs = 1'000'000;

// One step of a scenario: a new connection at time t (ms), a state change on a slot, or a header
// naming a view index on a slot.
struct Step {
    enum Kind { Connect, State, Header } kind = Connect;
    double tMs = 0;
    int slot = 0;
    int value = 0;    // the state, or the view index
    int family = 0;   // of a Connect: 4 or 6 as the master passes them, 0 unknown
    std::string host; // of a Connect
};

Step connectAt(double tMs, int family = 0, const std::string& host = {})
{
    return {Step::Connect, tMs, 0, 0, family, host};
}

Step stateOf(int slot, ConnectionState s)
{
    return {Step::State, 0, slot, int(s), 0, {}};
}

Step headerOf(int slot, int viewIndex)
{
    return {Step::Header, 0, slot, viewIndex, 0, {}};
}

constexpr int kV6 = 6;
constexpr int kV4 = 4;

} // namespace

Q_DECLARE_METATYPE(QList<Step>)

class TestMvcSlotTable : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void slotChoice_data();
    void slotChoice();
    void indicatorsBelongToTheirPosition_data();
    void indicatorsBelongToTheirPosition();
    void positionsBelongToFirstClaimant_data();
    void positionsBelongToFirstClaimant();
    void stateMachine_data();
    void stateMachine();
    void colourFollowsViewIndex_data();
    void colourFollowsViewIndex();
};

void TestMvcSlotTable::slotChoice_data()
{
    QTest::addColumn<QList<Step>>("steps");
    QTest::addColumn<QList<int>>("chosen"); // result of each Connect step, -1 = dropped
    QTest::addColumn<int>("happyEyeballs");

    QTest::newRow("four phones in a row")
        << QList<Step>{connectAt(0), connectAt(100), connectAt(200), connectAt(300)}
        << QList<int>{0, 1, 2, -1} << 0;
    QTest::newRow("cancelled slot 1 with 2 and 3 never used")
        << QList<Step>{connectAt(0), stateOf(0, ConnectionState::Cancelled), connectAt(100), connectAt(200),
                       connectAt(300)}
        << QList<int>{0, 1, 2, 0} << 0;
    QTest::newRow("slots 2 and 3 cancelled") << QList<Step>{connectAt(0),
                                                            connectAt(10),
                                                            connectAt(20),
                                                            stateOf(1, ConnectionState::Cancelled),
                                                            stateOf(2, ConnectionState::Cancelled),
                                                            connectAt(30),
                                                            connectAt(40),
                                                            connectAt(50)}
                                             << QList<int>{0, 1, 2, 1, 2, -1} << 0;
    // A failed connection is gone for good: its slot is reused like a cancelled one.
    QTest::newRow("a failed slot is freed") << QList<Step>{connectAt(0), stateOf(0, ConnectionState::Failed),
                                                           connectAt(10), connectAt(20), connectAt(30)}
                                            << QList<int>{0, 1, 2, 0} << 0;
    QTest::newRow("one IPv6 peer twice 0.5 ms apart")
        << QList<Step>{connectAt(0, kV6, "ip fe80::1"), connectAt(0.5, kV6, "ip fe80::1")}
        << QList<int>{0, -1} << 1;
    QTest::newRow("two IPv6 peers 0.5 ms apart")
        << QList<Step>{connectAt(0, kV6, "ip fe80::1"), connectAt(0.5, kV6, "ip fe80::2")} << QList<int>{0, 1}
        << 0;
    QTest::newRow("two IPv6 addresses of one phone 0.5 ms apart")
        << QList<Step>{connectAt(0, kV6, "link 02:aa"), connectAt(0.5, kV6, "link 02:aa")}
        << QList<int>{0, -1} << 1;
    QTest::newRow("host unknown: 0.5 ms apart is one race")
        << QList<Step>{connectAt(0, kV6, "ip fe80::1"), connectAt(0.5, kV6)} << QList<int>{0, -1} << 1;
    QTest::newRow("IPv4 then IPv6 0.5 ms apart: one phone's race")
        << QList<Step>{connectAt(0, kV4, "ip 10.0.0.2"), connectAt(0.5, kV6, "ip fe80::1")}
        << QList<int>{0, -1} << 1;
    QTest::newRow("IPv6 then IPv4 0.99 ms apart: one phone's race")
        << QList<Step>{connectAt(0, kV6, "ip fe80::1"), connectAt(0.99, kV4, "ip 10.0.0.2")}
        << QList<int>{0, -1} << 1;
    QTest::newRow("IPv4 phones accepted together are all kept")
        << QList<Step>{connectAt(0, kV4, "ip 10.0.0.2"), connectAt(0.01, kV4, "ip 10.0.0.3"),
                       connectAt(0.02, kV4, "ip 10.0.0.4"), connectAt(0.03, kV4, "ip 10.0.0.5")}
        << QList<int>{0, 1, 2, -1} << 0;
    QTest::newRow("the first connection is never a duplicate")
        << QList<Step>{connectAt(0)} << QList<int>{0} << 0;
    QTest::newRow("exactly 1 ms apart is not a duplicate")
        << QList<Step>{connectAt(5), connectAt(6)} << QList<int>{0, 1} << 0;
    QTest::newRow("duplicate counter kept when slot 2 is filled")
        << QList<Step>{connectAt(0), connectAt(0.2), connectAt(0.4), connectAt(10)}
        << QList<int>{0, -1, -1, 1} << 2;
    QTest::newRow("duplicate counter cleared when slot 1 is filled from empty")
        << QList<Step>{connectAt(0), connectAt(0.2), connectAt(10)} << QList<int>{0, -1, 1} << 1;
    QTest::newRow("duplicate counter not cleared by reusing slot 1")
        << QList<Step>{connectAt(0),
                       connectAt(10),
                       connectAt(20),
                       connectAt(20.5),
                       stateOf(0, ConnectionState::Cancelled),
                       connectAt(30)}
        << QList<int>{0, 1, 2, -1, 0} << 1;
}

void TestMvcSlotTable::slotChoice()
{
    QFETCH(QList<Step>, steps);
    QFETCH(QList<int>, chosen);
    QFETCH(int, happyEyeballs);
    MvcSlotTable t;
    QList<int> got;
    for (const Step& s : steps) {
        if (s.kind == Step::Connect) {
            const int k = t.assignNewConnection(std::int64_t(s.tMs * double(kMs)), {s.family, s.host});
            got.append(k);
            if (k >= 0) {
                QVERIFY(t.slot(k).filled);
                QVERIFY(!t.slot(k).waitingForRestart);
                QCOMPARE(t.slot(k).cntr, 0);
            }
        } else {
            t.connectionStateChanged(s.slot, s.value);
        }
    }
    QCOMPARE(got, chosen);
    QCOMPARE(t.happyEyeballsCntr(), happyEyeballs);
}

void TestMvcSlotTable::indicatorsBelongToTheirPosition_data()
{
    QTest::addColumn<QList<Step>>("steps");
    QTest::addColumn<QList<int>>("colours"); // of indicators 1 to 3 once every paint is applied

    using S = ConnectionState;
    const int grey = int(MvcIndicatorColour::Grey);
    const int green = int(MvcIndicatorColour::Green);
    const int orange = int(MvcIndicatorColour::Orange);
    // A phone racing two addresses: both take a slot, the loser never sends a header and is closed.
    QTest::newRow("loser closes after the winner's first message")
        << QList<Step>{connectAt(0, kV6, "ip fe80::1"),
                       connectAt(0.5, kV6, "ip 2001:db8::1"),
                       stateOf(0, S::Ready),
                       stateOf(1, S::Ready),
                       headerOf(0, 0),
                       stateOf(1, S::Cancelled)}
        << QList<int>{green, grey, grey};
    QTest::newRow("loser closes before the winner's first message")
        << QList<Step>{connectAt(0, kV6, "ip fe80::1"),
                       connectAt(0.5, kV6, "ip 2001:db8::1"),
                       stateOf(0, S::Ready),
                       stateOf(1, S::Ready),
                       stateOf(1, S::Cancelled),
                       headerOf(0, 0)}
        << QList<int>{green, grey, grey};
    QTest::newRow("loser in slot 1, winner in slot 2") << QList<Step>{connectAt(0, kV6, "ip fe80::1"),
                                                                      connectAt(0.5, kV6, "ip 2001:db8::1"),
                                                                      stateOf(1, S::Ready),
                                                                      headerOf(1, 0),
                                                                      stateOf(0, S::Ready),
                                                                      stateOf(0, S::Cancelled)}
                                                       << QList<int>{green, grey, grey};
    QTest::newRow("a phone at position 2 closing paints its own")
        << QList<Step>{connectAt(0, kV6, "ip fe80::1"),
                       connectAt(10, kV6, "ip fe80::2"),
                       stateOf(0, S::Ready),
                       headerOf(0, 0),
                       stateOf(1, S::Ready),
                       headerOf(1, 1),
                       stateOf(1, S::Cancelled)}
        << QList<int>{green, orange, grey};
}

void TestMvcSlotTable::indicatorsBelongToTheirPosition()
{
    QFETCH(QList<Step>, steps);
    QFETCH(QList<int>, colours);
    MvcSlotTable t;
    QList<int> shown(3, int(MvcIndicatorColour::Grey));
    for (const Step& s : steps) {
        std::optional<MvcSlotTable::IndicatorPaint> paint;
        if (s.kind == Step::Connect)
            QVERIFY(t.assignNewConnection(std::int64_t(s.tMs * double(kMs)), {s.family, s.host}) >= 0);
        else if (s.kind == Step::State)
            paint = t.connectionStateChanged(s.slot, s.value);
        else
            paint = t.viewIndexChanged(s.slot, s.value);
        if (paint)
            shown[paint->view] = int(paint->colour);
    }
    QCOMPARE(shown, colours);
}

void TestMvcSlotTable::positionsBelongToFirstClaimant_data()
{
    QTest::addColumn<QList<Step>>("steps");
    QTest::addColumn<QList<int>>("owners");  // slot owning positions 1 to 3 at the end, -1 none
    QTest::addColumn<QList<int>>("colours"); // of indicators 1 to 3 once every paint is applied

    // States reported before a slot's first header paint indicator 1.
    using S = ConnectionState;
    const int grey = int(MvcIndicatorColour::Grey);
    const int green = int(MvcIndicatorColour::Green);
    const int red = int(MvcIndicatorColour::Red);
    const int orange = int(MvcIndicatorColour::Orange);
    const QList<Step> twoReady{connectAt(0), connectAt(10), stateOf(0, S::Ready), stateOf(1, S::Ready)};
    QTest::newRow("a later header does not take a held position")
        << twoReady + QList<Step>{headerOf(0, 0), headerOf(1, 0), stateOf(1, S::Waiting)}
        << QList<int>{0, -1, -1} << QList<int>{green, grey, grey};
    QTest::newRow("the position is free once its owner is cancelled")
        << twoReady + QList<Step>{headerOf(0, 0), headerOf(1, 0), stateOf(0, S::Cancelled), headerOf(1, 0)}
        << QList<int>{1, -1, -1} << QList<int>{green, grey, grey};
    QTest::newRow("the position is free once its owner failed")
        << twoReady + QList<Step>{headerOf(0, 1), stateOf(0, S::Failed), headerOf(1, 1)}
        << QList<int>{-1, 1, -1} << QList<int>{green, green, grey};
    QTest::newRow("an ended owner keeps its colour until another claims the position")
        << twoReady + QList<Step>{headerOf(0, 2), stateOf(0, S::Failed)} << QList<int>{-1, -1, -1}
        << QList<int>{green, grey, red};
    QTest::newRow("a new connection in the slot inherits nothing")
        << QList<Step>{connectAt(0),         connectAt(10),  connectAt(20),
                       stateOf(0, S::Ready), headerOf(0, 2), stateOf(0, S::Cancelled),
                       connectAt(30)}
        << QList<int>{-1, -1, -1} << QList<int>{green, grey, orange};
    QTest::newRow("a phone that moves keeps its first position")
        << twoReady + QList<Step>{headerOf(0, 0), headerOf(0, 1), headerOf(1, 0)} << QList<int>{0, 0, -1}
        << QList<int>{green, green, grey};
}

void TestMvcSlotTable::positionsBelongToFirstClaimant()
{
    QFETCH(QList<Step>, steps);
    QFETCH(QList<int>, owners);
    QFETCH(QList<int>, colours);
    MvcSlotTable t;
    QList<int> shown(3, int(MvcIndicatorColour::Grey));
    for (const Step& s : steps) {
        std::optional<MvcSlotTable::IndicatorPaint> paint;
        if (s.kind == Step::Connect)
            QVERIFY(t.assignNewConnection(std::int64_t(s.tMs * double(kMs))) >= 0);
        else if (s.kind == Step::State)
            paint = t.connectionStateChanged(s.slot, s.value);
        else
            paint = t.viewIndexChanged(s.slot, s.value);
        if (paint)
            shown[paint->view] = int(paint->colour);
    }
    QCOMPARE((QList<int>{t.positionOwner(0), t.positionOwner(1), t.positionOwner(2)}), owners);
    QCOMPARE(shown, colours);
}

void TestMvcSlotTable::stateMachine_data()
{
    QTest::addColumn<int>("viewIndex");
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("ready");
    QTest::addColumn<bool>("waiting");
    QTest::addColumn<int>("paintedView"); // -1 = nothing painted
    QTest::addColumn<int>("colour");

    QTest::newRow("waiting") << 0 << 1 << false << false << 0 << int(MvcIndicatorColour::Yellow);
    QTest::newRow("preparing leaves the indicator") << 0 << 2 << false << false << -1 << 0;
    QTest::newRow("ready") << 1 << 3 << true << false << 1 << int(MvcIndicatorColour::Green);
    QTest::newRow("failed") << 2 << 4 << false << true << 2 << int(MvcIndicatorColour::Red);
    QTest::newRow("cancelled") << 0 << 5 << false << true << 0 << int(MvcIndicatorColour::Orange);
    QTest::newRow("unknown state") << 0 << 9 << false << false << -1 << 0;
    QTest::newRow("view index 3 paints nothing") << 3 << 3 << true << false << -1 << 0;
}

void TestMvcSlotTable::stateMachine()
{
    QFETCH(int, viewIndex);
    QFETCH(int, state);
    QFETCH(bool, ready);
    QFETCH(bool, waiting);
    QFETCH(int, paintedView);
    QFETCH(int, colour);
    MvcSlotTable t;
    QCOMPARE(t.assignNewConnection(0), 0);
    t.slot(0).viewIndex = viewIndex;
    t.connectionStateChanged(0, int(ConnectionState::Ready)); // every state clears ready first
    const auto paint = t.connectionStateChanged(0, state);
    QCOMPARE(t.slot(0).ready, ready);
    QCOMPARE(t.slot(0).waitingForRestart, waiting);
    QCOMPARE(paint.has_value(), paintedView >= 0);
    if (paint) {
        QCOMPARE(paint->view, paintedView);
        QCOMPARE(int(paint->colour), colour);
    }
    QCOMPARE(MvcSlotTable::rgb(MvcIndicatorColour::Orange), (std::array<float, 3>{1.0F, 0.5F, 0.0F}));
}

void TestMvcSlotTable::colourFollowsViewIndex_data()
{
    QTest::addColumn<QList<int>>("states");  // reported before the headers
    QTest::addColumn<QList<int>>("headers"); // view indexes; the paint of the last one is checked
    QTest::addColumn<int>("paintedView");    // -1: nothing painted
    QTest::addColumn<int>("colour");
    QTest::newRow("ready phone asks for position 3")
        << QList<int>{2, 3} << QList<int>{2} << 2 << int(MvcIndicatorColour::Green);
    QTest::newRow("preparing keeps the last colour")
        << QList<int>{1, 2} << QList<int>{1} << 1 << int(MvcIndicatorColour::Yellow);
    QTest::newRow("no colour yet") << QList<int>{2} << QList<int>{1} << -1 << 0;
    QTest::newRow("first header at position 1 claims it")
        << QList<int>{3} << QList<int>{0} << 0 << int(MvcIndicatorColour::Green);
    QTest::newRow("same position again: nothing to move") << QList<int>{3} << QList<int>{0, 0} << -1 << 0;
    QTest::newRow("view index 3 is nowhere") << QList<int>{3} << QList<int>{3} << -1 << 0;
}

void TestMvcSlotTable::colourFollowsViewIndex()
{
    QFETCH(QList<int>, states);
    QFETCH(QList<int>, headers);
    QFETCH(int, paintedView);
    QFETCH(int, colour);
    MvcSlotTable t;
    QCOMPARE(t.assignNewConnection(0), 0);
    for (int s : states)
        t.connectionStateChanged(0, s);
    std::optional<MvcSlotTable::IndicatorPaint> paint;
    for (int v : headers)
        paint = t.viewIndexChanged(0, v);
    QCOMPARE(t.slot(0).viewIndex, headers.last());
    QCOMPARE(paint.has_value(), paintedView >= 0);
    if (paint) {
        QCOMPARE(paint->view, paintedView);
        QCOMPARE(int(paint->colour), colour);
    }
}

QTEST_GUILESS_MAIN(TestMvcSlotTable)
#include "tst_MvcSlotTable.moc"
