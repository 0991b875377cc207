#include "platform/DnsMessage.h"

#include <QTest>

using qr::DnsMessage;

class TestDnsMessage : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void roundTrip();
    void compressedNames();
    void malformed_data();
    void malformed();
};

void TestDnsMessage::roundTrip()
{
    DnsMessage m;
    m.id = 0x1234;
    m.flags = DnsMessage::kFlagResponse;
    m.questions.append({DnsMessage::nameFromString("_quintaray-mvc._tcp.local"), DnsMessage::PTR, 1, true});
    DnsMessage::Record txt;
    txt.name = DnsMessage::nameFromString("MVC-Server._quintaray-mvc._tcp.local");
    txt.type = DnsMessage::TXT;
    txt.ttl = 4500;
    txt.cacheFlush = true;
    txt.rdata = QByteArray::fromHex("010203040506");
    m.answers.append(txt);
    DnsMessage::Record srv = txt;
    srv.type = DnsMessage::SRV;
    srv.rdata = DnsMessage::srvRdata(0, 0, 40123, DnsMessage::nameFromString("box.local"));
    m.additionals.append(srv);

    const QByteArray wire = m.serialize();
    const auto back = DnsMessage::parse(wire);
    QVERIFY(back.has_value());
    QCOMPARE(back->id, 0x1234);
    QVERIFY(back->isResponse());
    QCOMPARE(back->questions.size(), 1);
    QVERIFY(back->questions[0].unicastResponse);
    QCOMPARE(DnsMessage::nameToString(back->questions[0].name), QByteArray("_quintaray-mvc._tcp.local"));
    QCOMPARE(back->answers.size(), 1);
    QCOMPARE(back->answers[0].rdata, txt.rdata);
    QVERIFY(back->answers[0].cacheFlush);
    QCOMPARE(back->answers[0].klass, 1);
    QCOMPARE(back->additionals[0].rdata, srv.rdata);
    QVERIFY(DnsMessage::sameName(back->answers[0].name,
                                 DnsMessage::nameFromString("mvc-server._QUINTARAY-MVC._tcp.LOCAL")));
}

void TestDnsMessage::compressedNames()
{
    // A response whose PTR target points back into the question name.
    QByteArray p = QByteArray::fromHex("000084000001000100000000");
    p += QByteArray::fromHex("045f6d7663045f746370056c6f63616c00000c0001"); // _mvc._tcp.local PTR IN
    p += QByteArray::fromHex("c00c000c0001000000780004") + QByteArray::fromHex("0178c00c"); // x._mvc...
    const auto m = DnsMessage::parse(p);
    QVERIFY(m.has_value());
    QCOMPARE(DnsMessage::nameToString(m->answers[0].name), QByteArray("_mvc._tcp.local"));
    qsizetype at = 0;
    const auto target = DnsMessage::readName(m->answers[0].rdata, at);
    QVERIFY(target.has_value());
    QCOMPARE(DnsMessage::nameToString(*target), QByteArray("x._mvc._tcp.local"));
}

void TestDnsMessage::malformed_data()
{
    QTest::addColumn<QByteArray>("packet");
    const QByteArray header1q = QByteArray::fromHex("000000000001000000000000");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("short header") << QByteArray::fromHex("0000000000010000");
    QTest::newRow("question count larger than the packet")
        << (QByteArray::fromHex("0000000000ff000000000000") + QByteArray(20, '\0'));
    QTest::newRow("record count 65535") << QByteArray::fromHex("000000000000ffff000000000000");
    QTest::newRow("truncated question") << (header1q + QByteArray::fromHex("0161000001"));
    QTest::newRow("label runs past the end") << (header1q + QByteArray::fromHex("0a61626300000c0001"));
    QTest::newRow("pointer to itself") << (header1q + QByteArray::fromHex("c00c000c0001"));
    QTest::newRow("pointer forwards") << (header1q + QByteArray::fromHex("c00e000c000100"));
    QTest::newRow("two pointers in a loop")
        << (header1q + QByteArray::fromHex("0161c00c000c0001")); // 'a' then back to its own start
    QTest::newRow("label of 64 bytes")
        << (header1q + QByteArray(1, char(0x40)) + QByteArray(64, 'a') + QByteArray::fromHex("00000c0001"));
    QByteArray longName;
    for (int i = 0; i < 5; ++i)
        longName += QByteArray(1, char(63)) + QByteArray(63, 'b');
    QTest::newRow("name over 255 bytes") << (header1q + longName + QByteArray::fromHex("00000c0001"));
    QTest::newRow("reserved label type") << (header1q + QByteArray::fromHex("4161000c0001"));
    QTest::newRow("trailing bytes") << (header1q + QByteArray::fromHex("0161000001000100ff"));
    QTest::newRow("record rdata past the end") << (QByteArray::fromHex("000084000000000100000000") +
                                                   QByteArray::fromHex("0161000010000100000078ffff00"));
    QTest::newRow("PTR rdata not a name")
        << (QByteArray::fromHex("000084000000000100000000") +
            QByteArray::fromHex("016100000c0001000000780002") + QByteArray::fromHex("0561"));
    QTest::newRow("SRV rdata too short")
        << (QByteArray::fromHex("000084000000000100000000") +
            QByteArray::fromHex("0161000021000100000078000300") + QByteArray::fromHex("0000"));
}

void TestDnsMessage::malformed()
{
    QFETCH(QByteArray, packet);
    QVERIFY(!DnsMessage::parse(packet).has_value());
}

QTEST_GUILESS_MAIN(TestDnsMessage)
#include "tst_DnsMessage.moc"
