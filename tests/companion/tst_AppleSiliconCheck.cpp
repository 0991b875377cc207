// The processor test: the decision over the system's answers, and the seam that tests set.
#include "companion/AppleSiliconCheck.h"

#include <QtTest>

using namespace qr;

class TestAppleSiliconCheck : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { AppleSiliconCheck::setAnswerForTesting(std::nullopt); }

    void decide_data()
    {
        QTest::addColumn<bool>("unameWorked");
        QTest::addColumn<QString>("machine");
        QTest::addColumn<bool>("sysctlWorked");
        QTest::addColumn<int>("translated");
        QTest::addColumn<bool>("expected");

        QTest::newRow("uname failed") << false << "" << true << 1 << false;
        QTest::newRow("native arm64") << true << "arm64" << false << 0 << true;
        QTest::newRow("native arm64, not translated") << true << "arm64" << true << 0 << true;
        QTest::newRow("x86_64 translated") << true << "x86_64" << true << 1 << true;
        QTest::newRow("x86_64 native") << true << "x86_64" << true << 0 << false;
        QTest::newRow("x86_64, no sysctl") << true << "x86_64" << false << 1 << false;
        QTest::newRow("x86_64, unexpected value") << true << "x86_64" << true << 2 << false;
        QTest::newRow("linux aarch64") << true << "aarch64" << false << 0 << false;
        QTest::newRow("upper case") << true << "ARM64" << false << 0 << false;
        QTest::newRow("arm64 prefix only") << true << "arm64e" << false << 0 << false;
        QTest::newRow("empty machine") << true << "" << false << 0 << false;
    }
    void decide()
    {
        QFETCH(bool, unameWorked);
        QFETCH(QString, machine);
        QFETCH(bool, sysctlWorked);
        QFETCH(int, translated);
        QFETCH(bool, expected);

        AppleSiliconCheck::Probe p;
        if (unameWorked)
            p.machine = machine.toStdString();
        if (sysctlWorked)
            p.procTranslated = translated;
        QCOMPARE(AppleSiliconCheck::decide(p), expected);
    }

    void seamOverridesAndResets()
    {
        AppleSiliconCheck::setAnswerForTesting(true);
        QVERIFY(AppleSiliconCheck::areWeRunningOnAnAppleSiliconMac());
        AppleSiliconCheck::setAnswerForTesting(false);
        QVERIFY(!AppleSiliconCheck::areWeRunningOnAnAppleSiliconMac());
        AppleSiliconCheck::setAnswerForTesting(std::nullopt);
        QCOMPARE(AppleSiliconCheck::areWeRunningOnAnAppleSiliconMac(),
                 AppleSiliconCheck::decide(AppleSiliconCheck::probe()));
    }

    void probeOfThisSystem()
    {
        const AppleSiliconCheck::Probe p = AppleSiliconCheck::probe();
#if defined(Q_OS_UNIX)
        QVERIFY(p.machine.has_value());
        QVERIFY(!p.machine->empty());
#endif
#if !defined(Q_OS_MACOS)
        // Only macOS has the translation query; elsewhere "translated" is no.
        QVERIFY(!p.procTranslated.has_value());
#endif
    }
};

QTEST_GUILESS_MAIN(TestAppleSiliconCheck)
#include "tst_AppleSiliconCheck.moc"
