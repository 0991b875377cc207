#include "PhoneSim.h"
#include "mvc/MvcMaster.h"

#include <QNetworkInterface>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <future>

using qr::MvcIndicatorColour;
using qr::MvcMaster;
using qr::PhoneSim;

namespace {

qr::MdnsResponder::Network loopbackOnly()
{
    qr::MdnsResponder::Network n;
    n.useDefaultInterfaces = false;
    for (const auto& i : QNetworkInterface::allInterfaces()) {
        if (i.flags().testFlag(QNetworkInterface::IsLoopBack))
            n.interfaces.append(i);
    }
    return n;
}

} // namespace

class TestMvcEndToEnd : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void threePhonesOverLoopback();
};

void TestMvcEndToEnd::threePhonesOverLoopback()
{
    MvcMaster master;
    MvcMaster::Options options;
    options.mdns = loopbackOnly();
    master.setOptions(options);
    QVERIFY(master.parseSecretCodeInputString(QStringLiteral("407193")));
    QSignalSpy shown(&master, &MvcMaster::showImage);
    QSignalSpy fps(&master, &MvcMaster::fpsTextChanged);
    QSignalSpy colours(&master, &MvcMaster::indicatorChanged);
    QVERIFY(master.setupMvcMaster());
    QTRY_COMPARE(master.advertisedEndpointString(), QStringLiteral("MVC-Server._quintaray-mvc._tcp.local."));
    QCOMPARE(master.listenerAdvertisedEndpointChangedCntr(), 1);

    // Found by DNS-SD, as a phone finds it (the query blocks, so it runs beside the event loop).
    auto found = std::async(std::launch::async, [] {
        return PhoneSim::discover(QHostAddress::LocalHost, 5353, 5000, QHostAddress::LocalHost);
    });
    QTRY_VERIFY_WITH_TIMEOUT(found.wait_for(std::chrono::seconds(0)) == std::future_status::ready, 6000);
    const auto service = found.get();
    QVERIFY(service.has_value());
    QCOMPARE(service->txt, QByteArray::fromHex("040007010903"));
    QCOMPARE(service->port, master.serverPort());

    auto phone = [&](int view, int orientation, int w, int h, PhoneSim::Chunking chunking) {
        PhoneSim::Options o;
        o.host = QHostAddress::LocalHost;
        o.port = service->port;
        o.width = w;
        o.height = h;
        o.view = view;
        o.orientation = orientation;
        o.chunking = chunking;
        o.expectedCode = service->txt;
        o.fps = 30;
        o.patternCycle = 3;
        auto p = std::make_unique<PhoneSim>(o);
        QSignalSpy up(p.get(), &PhoneSim::connected);
        p->start();
        up.wait(5000);
        QTest::qWait(20); // phones do not race each other within a millisecond
        return p;
    };
    auto a = phone(0, 1, 640, 480, PhoneSim::Chunking::Whole);
    auto b = phone(1, 0, 640, 480, PhoneSim::Chunking::Glue);
    auto c = phone(2, 1, 320, 240, PhoneSim::Chunking::Random);
    QVERIFY(a->isConnected() && b->isConnected() && c->isConnected());

    auto shownIn = [&shown](int view) {
        for (const auto& s : shown) {
            if (s[0].toInt() == view)
                return s[1].value<QImage>();
        }
        return QImage();
    };
    QTRY_VERIFY_WITH_TIMEOUT(!shownIn(0).isNull() && !shownIn(1).isNull() && !shownIn(2).isNull(), 10000);
    QCOMPARE(shownIn(0).size(), QSize(640, 480));
    QCOMPARE(shownIn(1).size(), QSize(480, 640)); // orientation 0: turned to portrait
    QCOMPARE(shownIn(2).size(), QSize(320, 240));
    for (int v = 0; v < 3; ++v)
        QCOMPARE(master.rxConnForView(v), v + 1);

    const QRegularExpression fpsText(QStringLiteral("^\\d+\\.\\d fps$"));
    auto labelled = [&fps] {
        QSet<int> views;
        for (const auto& f : fps)
            views.insert(f[0].toInt());
        return views;
    };
    QTRY_COMPARE_WITH_TIMEOUT(labelled(), (QSet<int>{0, 1, 2}), 5000);
    for (const auto& f : fps)
        QVERIFY2(fpsText.match(f[1].toString()).hasMatch(), qPrintable(f[1].toString()));

    // The shutter of position 2 reaches the phone with view index 1 and no other.
    QSignalSpy shutterB(b.get(), &PhoneSim::shutterReceived);
    QVERIFY(master.remoteShutterButtonAction(1));
    QVERIFY(shutterB.wait(5000));
    QCOMPARE(shutterB[0][0].toByteArray(), QByteArray::fromHex("0400070109030100"));
    QVERIFY(shutterB[0][1].toBool());
    QTest::qWait(100);
    QCOMPARE(a->shuttersReceived(), 0);
    QCOMPARE(c->shuttersReceived(), 0);
    QCOMPARE(b->badShutters(), 0);

    // A fourth phone finds no slot and is dropped.
    QTest::qWait(20);
    PhoneSim::Options o4;
    o4.port = service->port;
    o4.width = 64;
    o4.height = 48;
    PhoneSim d(o4);
    QSignalSpy dFinished(&d, &PhoneSim::finished);
    d.start();
    QVERIFY(dFinished.wait(5000));
    for (int k = 0; k < 3; ++k)
        QVERIFY(!master.slotTable().slot(k).waitingForRestart);

    // A close request turns the phone's indicator orange and frees its slot.
    colours.clear();
    a->finish();
    QTRY_VERIFY_WITH_TIMEOUT(master.slotTable().slot(0).waitingForRestart, 5000);
    QVERIFY(!colours.isEmpty());
    QCOMPARE(colours.last()[0].toInt(), 0);
    QCOMPARE(colours.last()[1].value<MvcIndicatorColour>(), MvcIndicatorColour::Orange);
    QVERIFY(master.slotTable().slot(1).ready && master.slotTable().slot(2).ready);
    QVERIFY(a->framesSent() > 0);
}

QTEST_GUILESS_MAIN(TestMvcEndToEnd)
#include "tst_MvcEndToEnd.moc"
