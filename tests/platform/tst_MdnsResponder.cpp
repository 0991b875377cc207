#include "platform/MdnsResponder.h"

#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QUdpSocket>

using qr::MdnsResponder;

namespace {

// A deliberately separate, minimal reader of DNS responses, so that the responder is not checked
// against its own parser.
struct TestRecord {
    QString name;
    int type = 0;
    int klass = 0;
    quint32 ttl = 0;
    QByteArray rdata;
    QString target; // PTR target or SRV target, expanded
    int port = 0;   // SRV port
};

struct TestResponse {
    bool ok = false;
    int id = 0;
    int flags = 0;
    int questions = 0;
    QList<TestRecord> answers;
    QList<TestRecord> additionals;
};

int u16(const QByteArray& p, int at)
{
    return (quint8(p[at]) << 8) | quint8(p[at + 1]);
}

QString readName(const QByteArray& p, int& at)
{
    QStringList labels;
    int pos = at;
    bool jumped = false;
    for (int guard = 0; guard < 64; ++guard) {
        if (pos >= p.size())
            return {};
        const int len = quint8(p[pos]);
        if (len >= 0xC0) {
            if (!jumped)
                at = pos + 2;
            jumped = true;
            pos = ((len & 0x3F) << 8) | quint8(p[pos + 1]);
            continue;
        }
        if (len == 0) {
            if (!jumped)
                at = pos + 1;
            return labels.join(QLatin1Char('.'));
        }
        labels.append(QString::fromLatin1(p.mid(pos + 1, len)));
        pos += 1 + len;
    }
    return {};
}

TestResponse readResponse(const QByteArray& p)
{
    TestResponse r;
    if (p.size() < 12)
        return r;
    r.id = u16(p, 0);
    r.flags = u16(p, 2);
    r.questions = u16(p, 4);
    const int an = u16(p, 6), ns = u16(p, 8), ar = u16(p, 10);
    int at = 12;
    for (int i = 0; i < r.questions; ++i) {
        readName(p, at);
        at += 4;
    }
    for (int i = 0; i < an + ns + ar; ++i) {
        TestRecord rec;
        rec.name = readName(p, at);
        if (at + 10 > p.size())
            return r;
        rec.type = u16(p, at);
        rec.klass = u16(p, at + 2);
        rec.ttl = (quint32(u16(p, at + 4)) << 16) | quint32(u16(p, at + 6));
        const int len = u16(p, at + 8);
        at += 10;
        rec.rdata = p.mid(at, len);
        if (rec.type == 12) {
            int t = at;
            rec.target = readName(p, t);
        } else if (rec.type == 33) {
            rec.port = u16(p, at + 4);
            int t = at + 6;
            rec.target = readName(p, t);
        }
        at += len;
        (i < an ? r.answers : r.additionals).append(rec);
    }
    r.ok = at == p.size();
    return r;
}

QByteArray query(quint16 id, const QByteArray& dottedName, quint16 type, bool unicastBit = false)
{
    QByteArray q;
    q.append(char(id >> 8)).append(char(id & 0xFF));
    q.append(QByteArray::fromHex("0000000100000000000000").left(10));
    for (const QByteArray& label : dottedName.split('.'))
        q.append(char(label.size())).append(label);
    q.append('\0');
    q.append(char(type >> 8)).append(char(type & 0xFF));
    q.append(char(unicastBit ? 0x80 : 0)).append(char(1));
    return q;
}

const TestRecord* find(const QList<TestRecord>& list, int type)
{
    for (const auto& r : list) {
        if (r.type == type)
            return &r;
    }
    return nullptr;
}

MdnsResponder::Service service()
{
    MdnsResponder::Service s;
    s.hostName = "testhost.local";
    s.port = 40123;
    s.txt = QByteArray::fromHex("040007010903");
    return s;
}

MdnsResponder::Network loopbackOnly()
{
    MdnsResponder::Network n;
    n.useDefaultInterfaces = false;
    for (const auto& i : QNetworkInterface::allInterfaces()) {
        if (i.flags().testFlag(QNetworkInterface::IsLoopBack))
            n.interfaces.append(i);
    }
    return n;
}

} // namespace

class TestMdnsResponder : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void answersPtrWithRawTxt();
    void answers_data();
    void answers();
    void dropsMalformedPackets_data();
    void dropsMalformedPackets();
    void knownAnswerIsSuppressed();
    void liveLegacyUnicastOnLoopback();
    void liveAnnouncementAndGoodbye();
    void digSeesTheService();
    void onLink_data();
    void onLink();
    void unicastOnlyFromOnLink_data();
    void unicastOnlyFromOnLink();
    void interfaceAppearingLaterIsServed();
    void forgedQueryIsNotAmplified();
    void rateLimits_data();
    void rateLimits();

private:
    MdnsResponder m_responder;
};

void TestMdnsResponder::initTestCase()
{
    m_responder.setNetwork(loopbackOnly());
    // The answers are computed from the service alone; starting is not needed for them.
    QVERIFY(m_responder.start(service()));
    m_responder.stop();
}

void TestMdnsResponder::answersPtrWithRawTxt()
{
    MdnsResponder responder;
    responder.setNetwork(loopbackOnly());
    QVERIFY(responder.start(service()));
    const QByteArray answer = responder.answerFor(query(0xBEEF, "_quintaray-mvc._tcp.local", 12), 45000, 0);
    const TestResponse r = readResponse(answer);
    QVERIFY(r.ok);
    QCOMPARE(r.id, 0xBEEF); // legacy unicast: the query's id and question come back
    QCOMPARE(r.questions, 1);
    QVERIFY(r.flags & 0x8000);
    const TestRecord* ptr = find(r.answers, 12);
    QVERIFY(ptr);
    QCOMPARE(ptr->target, QStringLiteral("MVC-Server._quintaray-mvc._tcp.local"));
    QVERIFY(ptr->ttl <= 10);
    const TestRecord* txt = find(r.additionals, 16);
    QVERIFY(txt);
    QCOMPARE(txt->rdata, QByteArray::fromHex("040007010903")); // six raw bytes, no length prefix
    QCOMPARE(txt->name, QStringLiteral("MVC-Server._quintaray-mvc._tcp.local"));
    QCOMPARE(txt->klass, 1); // no cache-flush bit towards a legacy resolver
    const TestRecord* srv = find(r.additionals, 33);
    QVERIFY(srv);
    QCOMPARE(srv->port, 40123);
    QCOMPARE(srv->target, QStringLiteral("testhost.local"));
    QVERIFY(find(r.additionals, 1)); // 127.0.0.1 of loopback
}

void TestMdnsResponder::answers_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("port");
    QTest::addColumn<QList<int>>("answerTypes");

    QTest::newRow("services enumeration")
        << QByteArray("_services._dns-sd._udp.local") << 12 << 5353 << QList<int>{12};
    QTest::newRow("SRV of the instance")
        << QByteArray("MVC-Server._quintaray-mvc._tcp.local") << 33 << 5353 << QList<int>{33};
    QTest::newRow("TXT, any case") << QByteArray("mvc-server._QUINTARAY-MVC._tcp.local") << 16 << 5353
                                   << QList<int>{16};
    QTest::newRow("ANY of the instance")
        << QByteArray("MVC-Server._quintaray-mvc._tcp.local") << 255 << 5353 << QList<int>{33, 16};
    QTest::newRow("host address") << QByteArray("testhost.local") << 1 << 5353 << QList<int>{1};
    QTest::newRow("another service") << QByteArray("_http._tcp.local") << 12 << 5353 << QList<int>{};
    QTest::newRow("another host") << QByteArray("otherhost.local") << 1 << 5353 << QList<int>{};
}

void TestMdnsResponder::answers()
{
    QFETCH(QByteArray, name);
    QFETCH(int, type);
    QFETCH(int, port);
    QFETCH(QList<int>, answerTypes);
    MdnsResponder responder;
    responder.setNetwork(loopbackOnly());
    QVERIFY(responder.start(service()));
    const QByteArray answer = responder.answerFor(query(7, name, quint16(type)), quint16(port), 0);
    if (answerTypes.isEmpty()) {
        QVERIFY(answer.isEmpty());
        return;
    }
    const TestResponse r = readResponse(answer);
    QVERIFY(r.ok);
    QCOMPARE(r.id, 0); // multicast answers carry id 0 and no question
    QCOMPARE(r.questions, 0);
    QList<int> got;
    for (const auto& a : r.answers)
        got.append(a.type);
    QCOMPARE(got, answerTypes);
    if (const TestRecord* srv = find(r.answers, 33))
        QCOMPARE(srv->ttl, 120U);
}

void TestMdnsResponder::dropsMalformedPackets_data()
{
    QTest::addColumn<QByteArray>("packet");
    const QByteArray good = query(1, "_quintaray-mvc._tcp.local", 12);
    QTest::newRow("truncated") << good.left(good.size() - 3);
    QTest::newRow("compression loop") << (good.left(12) + QByteArray::fromHex("c00c000c0001"));
    QByteArray counts = good;
    counts[5] = char(0xFF);
    QTest::newRow("question count too large") << counts;
    QByteArray response = good;
    response[2] = char(0x84);
    QTest::newRow("a response, not a query") << response;
    QByteArray opcode = good;
    opcode[2] = char(0x28);
    QTest::newRow("non-zero opcode") << opcode;
    QTest::newRow("garbage") << QByteArray(40, char(0xC0));
}

void TestMdnsResponder::dropsMalformedPackets()
{
    QFETCH(QByteArray, packet);
    MdnsResponder responder;
    responder.setNetwork(loopbackOnly());
    QVERIFY(responder.start(service()));
    QVERIFY(responder.answerFor(packet, 45000, 0).isEmpty());
}

void TestMdnsResponder::knownAnswerIsSuppressed()
{
    MdnsResponder responder;
    responder.setNetwork(loopbackOnly());
    QVERIFY(responder.start(service()));
    QByteArray q = query(0, "_quintaray-mvc._tcp.local", 12);
    q[7] = 1; // one known answer follows
    QByteArray known;
    for (const QByteArray& l : QByteArray("_quintaray-mvc._tcp.local").split('.'))
        known.append(char(l.size())).append(l);
    known.append('\0');
    known += QByteArray::fromHex("000c0001") + QByteArray::fromHex("00001194"); // PTR IN, TTL 4500
    QByteArray target;
    for (const QByteArray& l : QByteArray("MVC-Server._quintaray-mvc._tcp.local").split('.'))
        target.append(char(l.size())).append(l);
    target.append('\0');
    known.append(char(0)).append(char(target.size())).append(target);
    QVERIFY(responder.answerFor(q + known, 5353, 0).isEmpty());
}

void TestMdnsResponder::liveLegacyUnicastOnLoopback()
{
    MdnsResponder responder;
    responder.setNetwork(loopbackOnly());
    QVERIFY(responder.start(service()));

    QUdpSocket client;
    QVERIFY(client.bind(QHostAddress::LocalHost, 0));
    // A malformed packet first: dropped without an answer, and the responder keeps serving.
    client.writeDatagram(QByteArray::fromHex("0000000000ff0000"), QHostAddress::LocalHost, 5353);
    client.writeDatagram(query(0x4242, "_quintaray-mvc._tcp.local", 12), QHostAddress::LocalHost, 5353);
    QTRY_VERIFY_WITH_TIMEOUT(client.hasPendingDatagrams(), 5000);
    const QNetworkDatagram d = client.receiveDatagram();
    const TestResponse r = readResponse(d.data());
    QVERIFY(r.ok);
    QCOMPARE(r.id, 0x4242);
    const TestRecord* txt = find(r.additionals, 16);
    QVERIFY(txt);
    QCOMPARE(txt->rdata, QByteArray::fromHex("040007010903"));
    QTest::qWait(200);
    QVERIFY(!client.hasPendingDatagrams()); // one answer, none for the malformed packet
}

void TestMdnsResponder::liveAnnouncementAndGoodbye()
{
    const auto lo = loopbackOnly();
    if (lo.interfaces.isEmpty())
        QSKIP("no loopback interface");
    QUdpSocket listener;
    QVERIFY(
        listener.bind(QHostAddress::AnyIPv4, 5353, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint));
    if (!listener.joinMulticastGroup(QHostAddress(QStringLiteral("224.0.0.251")), lo.interfaces.first()))
        QSKIP("multicast on loopback is not available here");

    auto responder = std::make_unique<MdnsResponder>();
    responder->setNetwork(lo);
    QSignalSpy advertised(responder.get(), &MdnsResponder::advertised);
    QVERIFY(responder->start(service()));
    QCOMPARE(advertised.size(), 1);
    QCOMPARE(advertised[0][0].toString() + QLatin1Char('.') + advertised[0][1].toString() + QLatin1Char('.') +
                 advertised[0][2].toString(),
             QStringLiteral("MVC-Server._quintaray-mvc._tcp.local."));

    auto nextResponse = [&listener]() {
        for (int i = 0; i < 50; ++i) {
            if (!listener.hasPendingDatagrams() && !listener.waitForReadyRead(100))
                continue;
            const TestResponse r = readResponse(listener.receiveDatagram().data());
            if (r.ok && (r.flags & 0x8000) && !r.answers.isEmpty())
                return r;
        }
        return TestResponse{};
    };
    const TestResponse hello = nextResponse();
    QVERIFY(hello.ok);
    const TestRecord* txt = find(hello.answers, 16);
    QVERIFY(txt);
    QCOMPARE(txt->rdata, QByteArray::fromHex("040007010903"));
    QCOMPARE(txt->klass, 0x8001); // cache-flush on the unique records
    QCOMPARE(txt->ttl, 4500U);

    responder.reset(); // goodbye
    TestResponse bye;
    for (int i = 0; i < 5 && (!bye.ok || find(bye.answers, 16)->ttl != 0); ++i)
        bye = nextResponse();
    QVERIFY(bye.ok);
    for (const auto& rec : bye.answers)
        QCOMPARE(rec.ttl, 0U);
}

void TestMdnsResponder::digSeesTheService()
{
    const QString dig = QStandardPaths::findExecutable(QStringLiteral("dig"));
    if (dig.isEmpty())
        QSKIP("dig is not installed");
    // The TXT data is six raw bytes, not DNS character-strings; for most codes a standard resolver
    // cannot parse it (the phones read it raw). Code 1 5 2 0 0 0 happens to read as the strings
    // "\005", "\000\000" and "", so dig can show it.
    auto s = service();
    s.txt = QByteArray::fromHex("010502000000");
    MdnsResponder responder;
    responder.setNetwork(loopbackOnly());
    QVERIFY(responder.start(s));
    QProcess p;
    p.start(dig, {QStringLiteral("-p"), QStringLiteral("5353"), QStringLiteral("@127.0.0.1"),
                  QStringLiteral("_quintaray-mvc._tcp.local"), QStringLiteral("PTR"),
                  QStringLiteral("+tries=1"), QStringLiteral("+time=3")});
    QTRY_VERIFY_WITH_TIMEOUT(p.state() == QProcess::NotRunning, 10000);
    const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
    QVERIFY2(out.contains(QLatin1String("status: NOERROR")), qPrintable(out));
    QVERIFY2(!out.contains(QLatin1String("malformed")), qPrintable(out));
    QVERIFY2(out.contains(QLatin1String("PTR\tMVC-Server._quintaray-mvc._tcp.local.")), qPrintable(out));
    QVERIFY2(out.contains(QLatin1String("SRV\t0 0 40123 testhost.local.")), qPrintable(out));
    QVERIFY2(out.contains(QLatin1String("TXT\t\"\\005\" \"\\000\\000\" \"\"")), qPrintable(out));
}

void TestMdnsResponder::onLink_data()
{
    QTest::addColumn<QString>("sender");
    QTest::addColumn<bool>("onLink");
    QTest::newRow("IPv4 loopback") << QStringLiteral("127.0.0.1") << true;
    QTest::newRow("IPv6 loopback") << QStringLiteral("::1") << true;
    QTest::newRow("same /24") << QStringLiteral("192.168.1.77") << true;
    QTest::newRow("IPv4-mapped, same /24") << QStringLiteral("::ffff:192.168.1.77") << true;
    QTest::newRow("next /24") << QStringLiteral("192.168.2.77") << false;
    QTest::newRow("routed from afar") << QStringLiteral("203.0.113.9") << false;
    QTest::newRow("IPv6 link-local") << QStringLiteral("fe80::1234") << true;
    QTest::newRow("IPv6 same /64") << QStringLiteral("2001:db8:1::99") << true;
    QTest::newRow("IPv6 other /64") << QStringLiteral("2001:db8:2::99") << false;
}

void TestMdnsResponder::onLink()
{
    QFETCH(QString, sender);
    QFETCH(bool, onLink);
    auto entry = [](const char* ip, int prefix) {
        QNetworkAddressEntry e;
        e.setIp(QHostAddress(QString::fromLatin1(ip)));
        e.setPrefixLength(prefix);
        return e;
    };
    const QList<QNetworkAddressEntry> entries{entry("192.168.1.10", 24), entry("fe80::abcd", 64),
                                              entry("2001:db8:1::10", 64)};
    QCOMPARE(MdnsResponder::isOnLink(QHostAddress(sender), entries), onLink);
}

void TestMdnsResponder::unicastOnlyFromOnLink_data()
{
    QTest::addColumn<QString>("sender");
    QTest::addColumn<QString>("destination");
    QTest::addColumn<bool>("answered");
    QTest::newRow("unicast from loopback")
        << QStringLiteral("127.0.0.1") << QStringLiteral("127.0.0.1") << true;
    QTest::newRow("unicast from ::1") << QStringLiteral("::1") << QStringLiteral("::1") << true;
    QTest::newRow("unicast from off-link")
        << QStringLiteral("203.0.113.9") << QStringLiteral("127.0.0.1") << false;
    QTest::newRow("destination unknown, off-link") << QStringLiteral("203.0.113.9") << QString() << false;
    // A legacy query's answer goes to its source address: off-link, that address may be a forged
    // victim's.
    QTest::newRow("legacy, to the group, off-link")
        << QStringLiteral("203.0.113.9") << QStringLiteral("224.0.0.251") << false;
    QTest::newRow("legacy, to the group, on-link")
        << QStringLiteral("127.0.0.9") << QStringLiteral("224.0.0.251") << true;
}

void TestMdnsResponder::unicastOnlyFromOnLink()
{
    QFETCH(QString, sender);
    QFETCH(QString, destination);
    QFETCH(bool, answered);
    const auto lo = loopbackOnly();
    if (lo.interfaces.isEmpty())
        QSKIP("no loopback interface");
    MdnsResponder responder;
    responder.setNetwork(lo);
    QVERIFY(responder.start(service()));
    MdnsResponder::Origin origin;
    origin.sender = QHostAddress(sender);
    origin.senderPort = 45000;
    origin.destination = destination.isEmpty() ? QHostAddress() : QHostAddress(destination);
    origin.interfaceIndex = lo.interfaces.first().index();
    const QByteArray answer = responder.answerFor(query(9, "_quintaray-mvc._tcp.local", 12), origin);
    QCOMPARE(!answer.isEmpty(), answered);
}

void TestMdnsResponder::interfaceAppearingLaterIsServed()
{
    const auto lo = loopbackOnly();
    if (lo.interfaces.isEmpty())
        QSKIP("no loopback interface");
    QUdpSocket listener;
    QVERIFY(
        listener.bind(QHostAddress::AnyIPv4, 5353, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint));
    if (!listener.joinMulticastGroup(QHostAddress(QStringLiteral("224.0.0.251")), lo.interfaces.first()))
        QSKIP("multicast on loopback is not available here");
    listener.setMulticastInterface(lo.interfaces.first());

    // No interface at start (a laptop whose network comes up later); loopback appears after it.
    bool up = false;
    MdnsResponder::Network n;
    n.rescanIntervalMs = 200;
    n.ipv6 = false;
    n.listInterfaces = [&up, &lo] {
        return up ? lo.interfaces : QList<QNetworkInterface>{};
    };
    MdnsResponder responder;
    responder.setNetwork(n);
    QVERIFY(responder.start(service()));
    auto txtOf = [&listener](int waitMs) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < waitMs) {
            if (!listener.hasPendingDatagrams()) {
                QTest::qWait(20); // the responder's timers run meanwhile
                continue;
            }
            const TestResponse r = readResponse(listener.receiveDatagram().data());
            const auto records = r.answers + r.additionals; // outlives the record found in it
            if (const TestRecord* txt = r.ok && (r.flags & 0x8000) ? find(records, 16) : nullptr)
                return txt->rdata;
        }
        return QByteArray();
    };
    QVERIFY(txtOf(600).isEmpty()); // nothing announced anywhere

    up = true;
    QCOMPARE(txtOf(3000), QByteArray::fromHex("040007010903")); // announced once the check finds it
    QTest::qWait(1500);                                         // past the second announcement
    while (listener.hasPendingDatagrams())
        listener.receiveDatagram();
    // A multicast query on the new interface is answered by multicast.
    listener.writeDatagram(query(0, "_quintaray-mvc._tcp.local", 12),
                           QHostAddress(QStringLiteral("224.0.0.251")), 5353);
    QCOMPARE(txtOf(3000), QByteArray::fromHex("040007010903"));
}

void TestMdnsResponder::forgedQueryIsNotAmplified()
{
    // One question for the service, then one long name that many more questions point at: 1.7 KB
    // that an on-link host sends to the group with another host's address as its source.
    QByteArray q = query(0x5151, "_quintaray-mvc._tcp.local", 12);
    const int longAt = int(q.size());
    for (int i = 0; i < 4; ++i)
        q.append(char(61)).append(QByteArray(61, char('a' + i)));
    q.append('\0').append(QByteArray::fromHex("000c0001"));
    int questions = 2;
    while (q.size() + 6 <= 1700) {
        q.append(char(0xC0 | (longAt >> 8)))
            .append(char(longAt & 0xFF))
            .append(QByteArray::fromHex("000c0001"));
        ++questions;
    }
    q[4] = char(questions >> 8);
    q[5] = char(questions & 0xFF);
    QVERIFY(q.size() > 1600);
    MdnsResponder responder;
    responder.setNetwork(loopbackOnly());
    MdnsResponder::Origin origin;
    origin.sender = QHostAddress(QStringLiteral("127.0.0.9"));
    origin.senderPort = 45000;
    origin.destination = QHostAddress(QStringLiteral("224.0.0.251"));
    const QByteArray answer = responder.answerFor(q, origin);
    const TestResponse r = readResponse(answer);
    QVERIFY2(answer.size() <= 512,
             qPrintable(QStringLiteral("%1 bytes in, %2 out").arg(q.size()).arg(answer.size())));
    QVERIFY(r.ok);
    QCOMPARE(r.questions, 1); // only the question it answers comes back
    QCOMPARE(r.answers.size(), 1);
    QVERIFY(find(r.additionals, 16));
}

void TestMdnsResponder::rateLimits_data()
{
    // Queries in order: at a time (ms), from a source address and port, to the group or to this host,
    // a probe or not, and the number of answer records each reply must carry (0: no reply).
    QTest::addColumn<QList<int>>("atMs");
    QTest::addColumn<QStringList>("sources"); // "address port", optionally " probe" or " unicast"
    QTest::addColumn<QList<int>>("answered");
    QTest::addColumn<QList<bool>>("multicast");

    QTest::newRow("multicast: once a second per record")
        << QList<int>{0, 400, 999, 1000, 1500} << QStringList(5, QStringLiteral("127.0.0.5 5353"))
        << QList<int>{1, 0, 0, 1, 0} << QList<bool>(5, true);
    QTest::newRow("multicast: a probe's answer after 250 ms")
        << QList<int>{0, 100, 250, 400} << QStringList(4, QStringLiteral("127.0.0.5 5353 probe"))
        << QList<int>{1, 0, 1, 0} << QList<bool>(4, true);
    QTest::newRow("multicast: IPv4 and IPv6 count apart")
        << QList<int>{0, 10, 20}
        << QStringList{QStringLiteral("127.0.0.5 5353"), QStringLiteral("::1 5353"),
                       QStringLiteral("127.0.0.5 5353")}
        << QList<int>{1, 1, 0} << QList<bool>(3, true);
    QTest::newRow("multicast from off-link is answered to the group")
        << QList<int>{0} << QStringList{QStringLiteral("203.0.113.9 5353")} << QList<int>{1}
        << QList<bool>{true};
    QTest::newRow("unicast to port 5353 from off-link is not answered")
        << QList<int>{0} << QStringList{QStringLiteral("203.0.113.9 5353 unicast")} << QList<int>{0}
        << QList<bool>{true};
    QTest::newRow("legacy: once a second per record and port")
        << QList<int>{0, 10, 20, 1000}
        << QStringList{QStringLiteral("127.0.0.5 40000"), QStringLiteral("127.0.0.5 40000"),
                       QStringLiteral("127.0.0.5 40001"), QStringLiteral("127.0.0.5 40000")}
        << QList<int>{1, 0, 1, 1} << QList<bool>(4, false);
    QTest::newRow("legacy: unicast and multicast limits are apart")
        << QList<int>{0, 10}
        << QStringList{QStringLiteral("127.0.0.5 5353"), QStringLiteral("127.0.0.5 40000")}
        << QList<int>{1, 1} << QList<bool>{true, false};
    QTest::newRow("legacy from off-link is never answered")
        << QList<int>{0, 2000} << QStringList(2, QStringLiteral("203.0.113.9 40000")) << QList<int>{0, 0}
        << QList<bool>(2, false);
    QStringList ports;
    QList<int> times;
    QList<int> counts;
    for (int i = 0; i < 10; ++i) {
        ports << QStringLiteral("127.0.0.6 %1").arg(41000 + i);
        times << i;
        counts << (i < MdnsResponder::kUnicastRepliesPerAddress ? 1 : 0);
    }
    ports << QStringLiteral("127.0.0.7 41000") << QStringLiteral("127.0.0.6 41100");
    times << 20 << 1000;
    counts << 1 << 1;
    QTest::newRow("legacy: at most a few answers a second per address")
        << times << ports << counts << QList<bool>(12, false);
}

void TestMdnsResponder::rateLimits()
{
    QFETCH(QList<int>, atMs);
    QFETCH(QStringList, sources);
    QFETCH(QList<int>, answered);
    QFETCH(QList<bool>, multicast);
    const auto lo = loopbackOnly();
    if (lo.interfaces.isEmpty())
        QSKIP("no loopback interface");
    MdnsResponder responder;
    responder.setNetwork(lo);
    responder.setService(service());
    responder.refreshInterfaces(); // not started: nothing is sent, the interfaces are known
    std::int64_t nowNs = 5'000'000'000;
    responder.setClock([&nowNs] { return nowNs; });
    const std::int64_t origin0 = nowNs;
    QByteArray probeAuthority;
    for (const QByteArray& l : QByteArray("MVC-Server._quintaray-mvc._tcp.local").split('.'))
        probeAuthority.append(char(l.size())).append(l);
    probeAuthority.append('\0').append(QByteArray::fromHex("0021000100000078000700000000000100"));
    for (qsizetype i = 0; i < atMs.size(); ++i) {
        nowNs = origin0 + std::int64_t(atMs[i]) * 1'000'000;
        const QStringList parts = sources[i].split(QLatin1Char(' '));
        MdnsResponder::Origin o;
        o.sender = QHostAddress(parts[0]);
        o.senderPort = quint16(parts[1].toUInt());
        o.destination =
            QHostAddress(parts.contains(QStringLiteral("unicast")) ? QStringLiteral("127.0.0.1")
                                                                   : QStringLiteral("224.0.0.251"));
        o.interfaceIndex = lo.interfaces.first().index();
        QByteArray q = query(quint16(i), "MVC-Server._quintaray-mvc._tcp.local", 16);
        if (parts.contains(QStringLiteral("probe"))) {
            q[9] = 1; // one authority record: the record the prober proposes
            q += probeAuthority;
        }
        const auto reply = responder.respond(q, o);
        QVERIFY2(bool(reply) == (answered[i] > 0), qPrintable(QStringLiteral("query %1").arg(i)));
        if (!reply)
            continue;
        const TestResponse r = readResponse(reply->packet);
        QVERIFY(r.ok);
        QCOMPARE(r.answers.size(), answered[i]);
        QCOMPARE(reply->multicast, multicast[i]);
        if (!reply->multicast) {
            QCOMPARE(reply->to, o.sender);
            QCOMPARE(reply->port, o.senderPort);
            QCOMPARE(r.id, i);
        }
    }
}

QTEST_GUILESS_MAIN(TestMdnsResponder)
#include "tst_MdnsResponder.moc"
