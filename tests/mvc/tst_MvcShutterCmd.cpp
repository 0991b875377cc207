#include "mvc/MvcFpsMeter.h"
#include "mvc/MvcShutterCmd.h"

#include <QTest>

using qr::MvcFpsMeter;
using qr::MvcSecretCode;
using qr::MvcShutterCmd;

class TestMvcShutterCmd : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void codeAndCommand_data();
    void codeAndCommand();
    void shortCodeLeavesFieldsAlone();
    void parseRoundTrip();
    void fpsText_data();
    void fpsText();
    void fpsFromConnectionStart_data();
    void fpsFromConnectionStart();
};

void TestMvcShutterCmd::codeAndCommand_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QByteArray>("txt");
    QTest::addColumn<QByteArray>("command");

    QTest::newRow("six digits") << "407193" << QByteArray::fromHex("040007010903")
                                << QByteArray::fromHex("0400070109030100");
    QTest::newRow("zeros") << "000000" << QByteArray::fromHex("000000000000")
                           << QByteArray::fromHex("0000000000000100");
    // Non-digits give their code unit minus 48, truncated to 8 bits.
    QTest::newRow("letters and a space")
        << "A z/9 " << QByteArray::fromHex("11f04aff09f0") << QByteArray::fromHex("11f04aff09f00100");
    QTest::newRow("longer string uses the first six")
        << "12345678" << QByteArray::fromHex("010203040506") << QByteArray::fromHex("0102030405060100");
}

void TestMvcShutterCmd::codeAndCommand()
{
    QFETCH(QString, code);
    QFETCH(QByteArray, txt);
    QFETCH(QByteArray, command);
    MvcSecretCode c;
    QVERIFY(c.parseSecretCodeInputString(code));
    QCOMPARE(c.codeBytes(), txt);
    const QByteArray cmd = MvcShutterCmd::fromCode(c).serialize();
    QCOMPARE(cmd, command);
    // The command starts with exactly the advertised TXT bytes.
    QCOMPARE(cmd.first(6), c.codeBytes());
}

void TestMvcShutterCmd::shortCodeLeavesFieldsAlone()
{
    MvcSecretCode c;
    QVERIFY(c.parseSecretCodeInputString("987654"));
    QVERIFY(!c.parseSecretCodeInputString("12345"));
    QCOMPARE(c.fields(), (std::array<std::int32_t, 6>{9, 8, 7, 6, 5, 4}));
}

void TestMvcShutterCmd::parseRoundTrip()
{
    MvcShutterCmd out;
    QVERIFY(!MvcShutterCmd::parse(QByteArray(7, '\0'), out));
    QVERIFY(MvcShutterCmd::parse(QByteArray::fromHex("0908070605040100"), out));
    QCOMPARE(out.command, 1);
    QCOMPARE(out.code, (std::array<std::uint8_t, 6>{9, 8, 7, 6, 5, 4}));
}

void TestMvcShutterCmd::fpsText_data()
{
    QTest::addColumn<int>("messages");
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("30 in 2 s") << 30 << 2.0 << "15.0 fps";
    QTest::newRow("1 in 1/30 s") << 1 << (1.0 / 30.0) << "30.0 fps";
    QTest::newRow("7 in 3 s") << 7 << 3.0 << "2.3 fps";
    QTest::newRow("no time yet") << 1 << 0.0 << "";
}

void TestMvcShutterCmd::fpsText()
{
    QFETCH(int, messages);
    QFETCH(double, seconds);
    QFETCH(QString, text);
    MvcFpsMeter m;
    const std::int64_t t0 = 5'000'000'000;
    QVERIFY(!m.text(1, t0).has_value());
    m.chunkArrived(t0);
    m.chunkArrived(t0 + 400'000'000); // later chunks do not move the start
    const auto got = m.text(messages, t0 + std::int64_t(seconds * 1e9));
    QCOMPARE(got.value_or(QString()), text);
}

void TestMvcShutterCmd::fpsFromConnectionStart_data()
{
    QTest::addColumn<double>("acceptedAt");    // seconds
    QTest::addColumn<QList<double>>("chunks"); // seconds a chunk arrived
    QTest::addColumn<QList<double>>("ends");   // seconds message 1, 2, ... completed
    QTest::addColumn<QStringList>("texts");
    // A first message in one chunk is timed from the connection's start.
    QTest::newRow("first message whole")
        << 0.0 << QList<double>{0.1, 0.2} << QList<double>{0.1, 0.2} << QStringList{"10.0 fps", "10.0 fps"};
    QTest::newRow("two messages in the first chunk")
        << 0.0 << QList<double>{0.5, 1.0} << QList<double>{0.5, 0.5, 1.0}
        << QStringList{"2.0 fps", "4.0 fps", "3.0 fps"};
    // A first message in pieces is timed from its first piece.
    QTest::newRow("first message in pieces") << 0.0 << QList<double>{0.5, 0.75, 1.0}
                                             << QList<double>{0.75, 1.0} << QStringList{"4.0 fps", "4.0 fps"};
    // Bytes waiting when the connection was taken: no time has passed for the first message.
    QTest::newRow("bytes waiting at the start")
        << 0.5 << QList<double>{0.5, 1.0} << QList<double>{0.5, 1.0} << QStringList{"", "4.0 fps"};
}

void TestMvcShutterCmd::fpsFromConnectionStart()
{
    QFETCH(double, acceptedAt);
    QFETCH(QList<double>, chunks);
    QFETCH(QList<double>, ends);
    QFETCH(QStringList, texts);
    const auto ns = [](double s) {
        return std::int64_t(s * 1e9) + 7'000'000'000;
    };
    MvcFpsMeter m;
    m.reset(ns(acceptedAt));
    qsizetype c = 0;
    for (qsizetype i = 0; i < ends.size(); ++i) {
        while (c < chunks.size() && chunks[c] <= ends[i])
            m.chunkArrived(ns(chunks[c++]));
        QCOMPARE(m.text(std::int32_t(i + 1), ns(ends[i])).value_or(QString()), texts[i]);
    }
}

QTEST_GUILESS_MAIN(TestMvcShutterCmd)
#include "tst_MvcShutterCmd.moc"
